// Vantrel's main window (ConfiguratorDialog): the three buttons, the parameter table, the status bar and the
// adapter link that it drives with its timer and its posted link messages.
#pragma once

#include <memory>

#include "adapter/AdapterLink.h"
#include "adapter/LinkHost.h"
#include "configurator/ListViewParamTable_win32.h"
#include "framework/win32/App_win32.h"
#include "framework/win32/Dialog_win32.h"
#include "framework/win32/ImageList_win32.h"
#include "framework/win32/ListView_win32.h"
#include "framework/win32/StatusBar_win32.h"
#include "framework/win32/ToolTip_win32.h"
#include "portselect/Selection.h"
#include "serial/ComDriver.h"
#include "ui/ImageButton_win32.h"

namespace configurator {

class ConfiguratorDialog : public fw::Dialog, public adapter::LinkHost {
  public:
    ConfiguratorDialog(serial::ComDriver& com, portselect::Selection& selection);
    ~ConfiguratorDialog() override;

    // The link (its state: ParamIndex, PortTable, LineSpeed, ...) and its entry points.
    adapter::AdapterLink& Link() { return link_; }
    ListViewParamTable& Table() { return table_; }

    // adapter::LinkHost
    void SetStatusText(int part, const char* text) override;
    void EnableReadButton(bool enable) override;
    void EnablePortButton(bool enable) override;
    void PostLinkMessage(uint32_t message) override;
    void ConvertOemText(char* text) override;

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

    ui::ImageButton ReadButton;
    ui::ImageButton PortButton;
    ui::ImageButton ExitButton;
    fw::ImageList StateImages;
    fw::ListView ParamList;
    fw::StatusBar StatusBar;
    ListViewParamTable table_;
    serial::ComDriver& com_;
    portselect::Selection& selection_;
    adapter::AdapterLink link_;
    std::unique_ptr<fw::ToolTip> ToolTip;
    HICON AppIcon;
};

// The application object: it owns the driver, the selection and the main window.
class ConfiguratorApp : public fw::App {
  public:
    explicit ConfiguratorApp(serial::ComDriver& com) : com_(com) {}

  protected:
    bool InitInstance() override;

  private:
    serial::ComDriver& com_;
    portselect::Selection selection_;
};

}  // namespace configurator
