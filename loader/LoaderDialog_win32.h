// Quillon's main window: the four icon buttons, the progress label and bar, the status bar, and
// the load procedure that its 20 ms timer and its posted notifications drive. The window holds
// no logic of the load: it is the procedure's display and its message pump.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

// The serial headers name their own parity constants; they must come before <windows.h>.
#include "loader/LoadProcedure.h"
#include "loader/LoaderPort.h"
#include "serial/ComDriver.h"

#include "framework/win32/App_win32.h"
#include "framework/win32/Dialog_win32.h"
#include "framework/win32/ProgressBar_win32.h"
#include "framework/win32/ToolTip_win32.h"
#include "ui/ImageButton_win32.h"

namespace loader {

class LoaderDialog : public fw::Dialog, public LoaderHost {
  public:
    LoaderDialog();
    ~LoaderDialog() override;

    LoadProcedure& Procedure() { return load_; }
    const std::string& ProgramPath() const { return path_; }

    // LoaderHost
    void SetBarPos(int percent) override;
    void SetBarText(const char* text) override;
    void SetLabelText(const char* text) override;
    void SetStatusText(int pane, const char* text) override;
    void EnableChooseButton(bool enable) override;
    void SetStartTooltip(const char* text) override;
    void SetStartIcon(int iconId) override;
    void PostLoaderMessage(uint32_t message) override;

    bool PreTranslateMessage(MSG& msg) override;

    // COM port numbers, 0 for an empty entry; the port dialog rebuilds it, the first 16 entries
    // are kept in "Quillon.i".
    int32_t PortTable[LOADER_PORT_TABLE_SIZE] = {};

  protected:
    bool OnInitDialog() override;
    bool OnCommand(int id, int code, HWND control) override;
    bool OnTimer(UINT_PTR id) override;
    void OnDestroy() override;
    bool OnPaint() override;
    bool OnSysCommand(WPARAM command, LPARAM lParam) override;
    bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) override;

  private:
    void ChooseProgram();
    void RunPortDialog();

    krt::ImageButton ChooseButton;  // 1001
    krt::ImageButton StartButton;   // 1002
    krt::ImageButton PortButton;    // 1003
    krt::ImageButton ExitButton;    // 1 (OK)
    fw::ProgressBar Progress;       // 1000
    fw::Window Label;               // the static under the buttons
    std::unique_ptr<fw::ToolTip> ToolTip;
    HICON AppIcon;
    ComOpenBlock openBlock_;
    std::string path_;      // the chosen program file; empty until one is chosen
    int32_t reserved_ = 0;  // the settings file's reserved value, written back as read
    LoadProcedure load_;
};

class LoaderApp : public fw::App {
  protected:
    bool InitInstance() override;
};

}  // namespace loader

// The running main window; set at the start of its initialisation. The port dialog reaches the
// port table through it.
extern loader::LoaderDialog* MainDialog;
