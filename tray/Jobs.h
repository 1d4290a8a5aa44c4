// The configurator's and the loader's jobs without a window: the same link and load procedure,
// driven by a 20 ms tick of our own that stands in for the window's timer, with the posted
// messages delivered after each tick as the window's message loop delivers them.
#pragma once

#include <cstdint>
#include <cstdio>
#include <deque>
#include <functional>
#include <string>

#include "adapter/AdapterLink.h"
#include "configurator/ParameterTable.h"
#include "loader/LoadProcedure.h"
#include "loader/ProgramImage.h"
#include "portselect/Selection.h"
#include "serial/ComDriver.h"
#include "tray/Exit.h"
#include "tray/Stop.h"

namespace tray {

constexpr int TICK_MS = 20;

// Paces the jobs: one tick every 20 ms of the monotonic clock, late ticks catching up without
// piling up.
class Ticker {
  public:
    explicit Ticker(const JobStop& stop);
    // Waits for the next tick; false once the job is to stop.
    bool Next();

  private:
    const JobStop& stop_;
    int64_t next_;
};

// One row of a read, as the table holds it (Windows-1251), whether an answer of the adapter filled
// it, and the value's bytes exactly as the adapter sent them: the table shows them converted from
// the adapter's OEM code page, which does not keep every byte apart.
struct RowResult {
    std::string parameter, index, value, unit, name;
    std::string bytes;
    bool answered;
};

// How a write of one row ended. `sent` is false when the request never went out (the line holds
// earlier requests); `refusal` is the adapter's text (Windows-1251).
struct WriteResult {
    Exit exit = EXIT_OK;
    bool sent = false;
    std::string refusal;
};

// The configurator's link over one port.
class LinkJob : private adapter::LinkHost {
  public:
    LinkJob(serial::ComDriver& com, unsigned portNumber, const JobStop& stop);
    ~LinkJob() override;

    // The speed search of the configurator, schedule and all. EXIT_OK with the speed found;
    // EXIT_PORT when the port does not open or goes away during the search.
    Exit Find(int* speed);
    // Opens the port at a known speed instead of searching; EXIT_PORT when it does not open.
    Exit OpenAt(int speed);
    // The six requests of a read. EXIT_OK when the adapter answered for every row of the table,
    // EXIT_NO_ANSWER else (a request timed out, or answers came that left rows unfilled: an array
    // cut short, a stale or repeated frame taken for the answer), EXIT_PORT when the line failed.
    Exit Read();
    // Rows that the last read left unanswered.
    int UnansweredRows() const;
    // The write request of one row, as an accepted edit sends it (`value` in Windows-1251, or the
    // adapter's own bytes), and up to 2 s for the reply. EXIT_USAGE when the value cannot go out
    // in a request; EXIT_NO_ANSWER also when the request could not be sent.
    WriteResult Write(int row, const std::string& value);

    RowResult Row(int row) const;
    int Speed() const { return link_.state.LineSpeed; }

    // Called by the job's own thread after every tick (a line trace writes itself out there).
    std::function<void()> afterTick;

  private:
    // adapter::LinkHost
    void SetStatusText(int, const char*) override {}
    void EnableReadButton(bool enable) override;
    void PortOpenFailed(serial::ComResult result) override;
    void EnablePortButton(bool) override {}
    void PostLinkMessage(uint32_t message) override { posted_.push_back(message); }
    void ConvertOemText(char* text) override;

    // One tick of the window's timer and the messages it posted. False on Ctrl-C.
    bool Tick();

    // The table with what only an answer of the adapter puts in a value cell: the answer handlers
    // convert the adapter's text (noted here) and then show it unmarked. A value put there by
    // anything else, an edit or a refusal, is not the adapter's value.
    class AnswerTable : public configurator::ParameterTableModel {
      public:
        void NoteAdapterText(const char* text);
        void SetText(int row, int column, const char* text) override;
        void ForgetAnswers();
        bool answered[configurator::PARAM_ROW_COUNT] = {};
        std::string bytes[configurator::PARAM_ROW_COUNT];

      private:
        std::string adapterText_;
        bool adapterTextNoted_ = false;
    };

    serial::ComDriver& com_;
    portselect::Selection selection_;
    AnswerTable table_;
    adapter::AdapterLink link_;
    Ticker ticker_;
    std::deque<uint32_t> posted_;
    bool connected_ = false;
    bool searchFailed_ = false;
    int noAnswers_ = 0;
    bool portTrouble_ = false;
};

// How a load ended.
struct LoadResult {
    Exit exit = EXIT_OK;
    std::string reason;  // why it failed, for the user
    int32_t sent = 0, total = 0;
    int restarts = 0;
    int64_t milliseconds = 0;
    bool lineFailed = false;  // the line went dead under the load
    int speed = 0;            // the line speed the load used
};

// The loader's procedure over one port, reading the line at every tick so that each 'R' is seen
// also where every write goes out at once.
class LoadJob : private loader::LoaderHost {
  public:
    LoadJob(serial::ComDriver& com, unsigned portNumber, const JobStop& stop);
    ~LoadJob() override;

    Exit Open(int speed);
    // The whole load: the start sequence, a block a tick, a restart on every 'R', at most
    // `maxRestarts` of them. `error` gets the loader's own text when the file cannot be loaded.
    LoadResult Load(const std::string& path, int maxRestarts, std::string* error);

    int32_t Position() const { return procedure_.position; }
    int32_t Total() const { return procedure_.total; }
    int Restarts() const { return procedure_.RestartCount; }

    // Called by the job's own thread after every tick.
    std::function<void()> afterTick;

  private:
    // loader::LoaderHost
    void SetBarPos(int) override {}
    void SetBarText(const char*) override {}
    void SetLabelText(const char*) override {}
    void SetStatusText(int pane, const char* text) override;
    void EnableChooseButton(bool) override {}
    void SetStartTooltip(const char*) override {}
    void ShowStopIcon(bool) override {}
    void PostLoaderMessage(uint32_t message) override { posted_.push_back(message); }

    serial::ComDriver& com_;
    unsigned portNumber_;
    loader::ProgramImage image_;
    loader::LoadProcedure procedure_;
    Ticker ticker_;
    std::deque<uint32_t> posted_;
    std::string status0_;
};

}  // namespace tray
