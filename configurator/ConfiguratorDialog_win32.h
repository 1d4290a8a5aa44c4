// Vantrel's main window: the three buttons, the parameter table, the status bar and the adapter
// link that it drives with its timer and its posted link messages.
#pragma once

#include <memory>

#include "adapter/AdapterLink.h"
#include "adapter/LinkHost.h"
#include "configurator/ListViewParamTable_win32.h"
#include "framework/win32/App_win32.h"
#include "framework/win32/Dialog_win32.h"
#include "framework/win32/ImageList_win32.h"
#include "framework/win32/ListView_win32.h"
#include "framework/win32/ToolTip_win32.h"
#include "ui/ImageButton_win32.h"

// <windows.h> renames OemToAnsi to OemToCharA; here it is the link host's own operation.
#undef OemToAnsi

namespace configurator {

class ConfiguratorDialog : public fw::Dialog, public adapter::LinkHost {
  public:
    ConfiguratorDialog();
    ~ConfiguratorDialog() override;

    // The link state (ParamIndex, PortTable, LineSpeed, ...) and its entry points.
    adapter::AdapterLink& Link() { return link_; }
    ListViewParamTable& Table() { return table_; }

    // adapter::LinkHost
    void SetStatusText(int part, const char* text) override;
    void EnableControl(int controlId, bool enable) override;
    void PostLinkMessage(uint32_t message) override;
    void OemToAnsi(char* text) override;

    bool PreTranslateMessage(MSG& msg) override;

  protected:
    bool OnInitDialog() override;
    bool OnCommand(int id, int code, HWND control) override;
    bool OnNotify(int id, NMHDR* header, LRESULT& result) override;
    bool OnTimer(UINT_PTR id) override;
    void OnDestroy() override;
    bool OnPaint() override;
    bool OnSysCommand(WPARAM command, LPARAM lParam) override;
    bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) override;

  private:
    void EditSelectedValue();
    void RunPortDialog();

    krt::ImageButton ReadButton;
    krt::ImageButton PortButton;
    krt::ImageButton ExitButton;
    fw::ImageList StateImages;
    fw::ListView ParamList;
    ListViewParamTable table_;
    adapter::AdapterLink link_;
    std::unique_ptr<fw::ToolTip> ToolTip;
    HICON AppIcon;
};

class ConfiguratorApp : public fw::App {
  protected:
    bool InitInstance() override;
};

}  // namespace configurator

// The running main window; set at the start of its initialisation.
extern configurator::ConfiguratorDialog* MainDialog;
