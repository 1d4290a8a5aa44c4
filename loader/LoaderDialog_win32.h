// Quillon's main window (LoaderDialog): the four icon buttons, the progress label and bar, the status bar,
// and the load procedure that its 20 ms timer and its posted notifications drive. The window holds no logic
// of the load: it is the procedure's display and its message pump.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "framework/win32/App_win32.h"
#include "framework/win32/Dialog_win32.h"
#include "framework/win32/ProgressBar_win32.h"
#include "framework/win32/StatusBar_win32.h"
#include "framework/win32/ToolTip_win32.h"
#include "loader/LoadProcedure.h"
#include "loader/LoaderPort.h"
#include "loader/ProgramImage.h"
#include "portselect/Selection.h"
#include "serial/ComDriver.h"
#include "ui/ImageButton_win32.h"

namespace loader {

class LoaderDialog : public fw::Dialog, public LoaderHost {
  public:
    LoaderDialog(serial::ComDriver& com, portselect::Selection& selection, ProgramImage& image);
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
    void ShowStopIcon(bool stop) override;
    void PostLoaderMessage(uint32_t message) override;

    bool PreTranslateMessage(MSG& msg) override;

    // COM port numbers, 0 for an empty entry; the port dialog rebuilds it, the first 16 entries
    // are kept in "Quillon.i".
    portselect::PortTable PortTable = {};

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

    ui::ImageButton ChooseButton;  // 1001
    ui::ImageButton StartButton;   // 1002
    ui::ImageButton PortButton;    // 1003
    ui::ImageButton ExitButton;    // 1 (OK)
    fw::ProgressBar Progress;      // 1000
    fw::Window Label;              // the static under the buttons
    fw::StatusBar StatusBar;
    std::unique_ptr<fw::ToolTip> ToolTip;
    HICON AppIcon;
    serial::ComDriver& com_;
    portselect::Selection& selection_;
    serial::ComOpenBlock openBlock_;
    std::string path_;      // the chosen program file; empty until one is chosen
    int32_t reserved_ = 0;  // the settings file's reserved value, written back as read
    LoadProcedure load_;
};

// The application object: it owns the driver's use, the selection, the program image and the
// main window.
class LoaderApp : public fw::App {
  public:
    explicit LoaderApp(serial::ComDriver& com) : com_(com) {}

  protected:
    bool InitInstance() override;

  private:
    serial::ComDriver& com_;
    portselect::Selection selection_;
    // The program file's bytes, one image for the whole run (32 KB: not on the stack).
    std::unique_ptr<ProgramImage> image_ = std::make_unique<ProgramImage>();
};

}  // namespace loader
