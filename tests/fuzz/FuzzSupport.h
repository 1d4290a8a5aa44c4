// Shared pieces of the fuzz targets: a link host that must never be called from the receive path,
// checks that the answer handlers kept to the table's value and unit cells, and a private
// temporary file for the file readers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "adapter/AdapterLink.h"
#include "configurator/ParameterTable.h"
#include "portselect/Selection.h"
#include "serial/ComDriver.h"
#include "serial/SerialApi.h"

namespace fuzz {

// Aborts with a message: libFuzzer reports it as a crash and keeps the input.
[[noreturn]] void Fail(const char* what);
inline void Check(bool ok, const char* what) {
    if (!ok) Fail(what);
}

// Status texts, buttons and posted messages belong to the link messages, never to the assembler
// or the answer handlers; the text conversion is the one thing they may ask for.
class QuietHost : public adapter::LinkHost {
  public:
    void SetStatusText(int, const char*) override { ++calls; }
    void EnableReadButton(bool) override { ++calls; }
    void EnablePortButton(bool) override { ++calls; }
    void PostLinkMessage(uint32_t) override { ++calls; }
    int calls = 0;
};

// A driver with no port behind it, as in a window that has none: sends go nowhere.
class NoPortApi : public serial::SerialApi {
  public:
    serial::PortHandle Open(unsigned) override { return nullptr; }
    void Close(serial::PortHandle) override {}
    bool SetupQueues(serial::PortHandle, uint32_t, uint32_t) override { return false; }
    bool GetTimeouts(serial::PortHandle, serial::CommTimeouts*) override { return false; }
    bool SetTimeouts(serial::PortHandle, const serial::CommTimeouts&) override { return false; }
    bool GetLineSettings(serial::PortHandle, serial::LineSettings*) override { return false; }
    bool SetLineSettings(serial::PortHandle, const serial::LineSettings&) override { return false; }
    bool SetEventMask(serial::PortHandle, uint32_t) override { return false; }
    bool Escape(serial::PortHandle, serial::EscapeFunction) override { return false; }
    bool GetModemStatus(serial::PortHandle, uint32_t*) override { return false; }
    bool Read(serial::PortHandle, uint8_t*, uint32_t, uint32_t*) override { return false; }
    bool Write(serial::PortHandle, const uint8_t*, uint32_t, uint32_t*) override { return false; }
};

struct NoPort {
    NoPortApi api;
    serial::ComDriver driver{serial::ComVariant::Configurator, api};
    portselect::Selection selection;
};

// The real table, counting the calls that change it: a table nobody wrote to needs no checking.
class CountingTable : public configurator::ParameterTableModel {
  public:
    void SetText(int row, int column, const char* text) override {
        ++writes;
        ParameterTableModel::SetText(row, column, text);
    }
    void SetMark(int row, int mark) override {
        ++writes;
        ParameterTableModel::SetMark(row, mark);
    }
    // Back to the start content, only if something was written.
    void Restore() {
        if (writes != 0) Reset();
        writes = 0;
    }
    int writes = 0;
};

// Puts the link back to the state the main window gives it at start.
void ResetLink(adapter::AdapterLink& link);

// The members that the receive path has no business changing are as ResetLink left them.
void CheckLinkUntouched(const adapter::AdapterLink& link, const QuietHost& host);

// Only value and unit cells changed, every mark is one an answer can set, item data unchanged.
void CheckTableShape(const configurator::ParameterTableModel& table);

// Same texts and marks in every cell of both tables.
bool SameTable(const configurator::ParameterTableModel& a, const configurator::ParameterTableModel& b);

// A file of this process only, removed at exit; Write replaces its content.
class ScratchFile {
  public:
    explicit ScratchFile(const char* stem);
    const char* Path() const { return path_.c_str(); }
    void Write(const uint8_t* data, size_t size) const;

  private:
    std::string path_;
};

}  // namespace fuzz
