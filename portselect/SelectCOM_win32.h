// SelectCOM, the port dialog, run modally from the main window of either program:
//
//     // Vantrel (template 142): the port only; "Применить" reopens it and restarts the search.
//     portselect::ConfiguratorSelectCOM dialog(target, showStatus, [&] { link.StartAdapterSearch(); });
//     dialog.DoModal(mainWindowHandle);
//
//     // Quillon (template 138, icons 135 and 136): port and speed; apply reopens and closes.
//     portselect::LoaderSelectCOM dialog(target, showStatus);
//     dialog.DoModal(mainWindowHandle);
//
// The dialog rebuilds the main window's PortTable from the registry when it opens, keeps the
// choice in the Selection and reports the port's state in part 1 of the main window's status
// bar through `showStatus`. The owners need not look at DoModal's result.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <memory>

#include "framework/win32/ComboBox_win32.h"
#include "framework/win32/Dialog_win32.h"
#include "framework/win32/ToolTip_win32.h"
#include "portselect/PortApply.h"
#include "portselect/PortList.h"
#include "portselect/SelectCOMIds.h"
#include "serial/ComDriver.h"
#include "ui/ImageButton_win32.h"

namespace portselect {

// A text for part 0 or 1 of the main window's status bar.
using StatusText = std::function<void(int part, const char* text)>;

// What both variants share: the port list and its table, the two positions, the open block, the
// tooltips and the status texts.
class SelectCOM : public fw::Dialog, protected PortApplyHost {
  public:
    ~SelectCOM() override;

    // Relays the message to the tooltips, then hands it to the dialog.
    bool PreTranslateMessage(MSG& msg) override;

    int32_t m_port;   // position in the port list
    int32_t m_speed;  // position in the speed list

  protected:
    SelectCOM(int templateId, int portControl, int32_t initialPosition, const ApplyTarget& target,
              StatusText showStatus);

    struct Tool {
        int controlId;
        const char* text;
    };
    // Puts the machine's ports into the port list and PortTable, and shows the preselected
    // positions.
    void FillPortList();
    // Without the platform's tooltip control the dialog simply has no tooltips.
    void CreateToolTips(const Tool* tools, int count);
    // A dialog template holds no combo entries: the lists get theirs here, before the first
    // data exchange, unless the template's program already gave some.
    void AddEntries(int controlId, const char* const* texts, int count) const;
    // The speed list's entries, from SpeedTable; `rightAligned` pads them with two blanks for
    // every digit less than six, as the loader's list shows them.
    void AddSpeedEntries(int controlId, bool rightAligned) const;

    bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) override;

    // PortApplyHost
    void SetStatusText(int part, const char* text) override;
    void ShowPositions() override { UpdateData(false); }

    ApplyTarget target_;
    StatusText showStatus_;
    serial::ComOpenBlock OpenBlock;  // the block of the apply's COM_OPEN
    fw::ComboBox PortList;
    std::unique_ptr<fw::ToolTip> ToolTip;

  private:
    int portControl_;
};

// Vantrel's variant: port list 1007, the search's current speed shown in 1008 (disabled),
// "Применить" (1009) applies and the dialog stays open; "OK" and the close box end it.
class ConfiguratorSelectCOM : public SelectCOM {
  public:
    ConfiguratorSelectCOM(const ApplyTarget& target, StatusText showStatus,
                          std::function<void()> startAdapterSearch);

  protected:
    bool OnInitDialog() override;
    bool OnCommand(int id, int code, HWND control) override;
    void DoDataExchange(bool save) override;

  private:
    void Apply();

    std::function<void()> startAdapterSearch_;
};

// Quillon's variant: port list 1005, speed list 1006; the icon button 1 applies and ends the
// dialog, the icon button 2 ends it without a change.
class LoaderSelectCOM : public SelectCOM {
  public:
    LoaderSelectCOM(const ApplyTarget& target, StatusText showStatus);

  protected:
    bool OnInitDialog() override;
    void OnOK() override;
    void DoDataExchange(bool save) override;

  private:
    ui::ImageButton ApplyButton;
    ui::ImageButton ExitButton;
};

}  // namespace portselect
