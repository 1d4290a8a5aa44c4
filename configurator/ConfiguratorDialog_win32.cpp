#include "configurator/ConfiguratorDialog_win32.h"

#include "configurator/AboutDialog_win32.h"
#include "configurator/ConfiguratorSettings.h"
#include "configurator/ParamEditDialog_win32.h"
#include "configurator/resource.h"
#include "portselect/SelectCOM_win32.h"
#include "portselect/Selection.h"
#include "serial/ComDriver.h"

namespace configurator {

namespace {

constexpr UINT LINK_TIMER_PERIOD_MS = 20;

const char kTimerRefused[] =
    "Много программ используют\n"
    "прерывания от таймера.\n"
    "Откажитесь от них.";

}  // namespace

ConfiguratorDialog::ConfiguratorDialog(serial::ComDriver& com, portselect::Selection& selection)
    : fw::Dialog(IDD_CONFIGURATOR_DIALOG),
      table_(ParamList),
      com_(com),
      selection_(selection),
      link_(*this, &table_, com, selection),
      AppIcon(::LoadIconA(fw::App::InstanceHandle(), MAKEINTRESOURCEA(IDR_MAINFRAME))) {}

ConfiguratorDialog::~ConfiguratorDialog() {
    ToolTip.reset();
}

bool ConfiguratorDialog::OnInitDialog() {
    fw::Dialog::OnInitDialog();

    AppendAboutItem(IDS_ABOUTBOX, IDM_ABOUTBOX);
    Send(WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(AppIcon));

    link_.ResetForStart();

    ReadButton.SubclassDlgItem(hwnd_, IDC_READ_BUTTON);
    ReadButton.SetImage(IDI_READ);
    PortButton.SubclassDlgItem(hwnd_, IDC_PORT_BUTTON);
    PortButton.SetImage(IDI_PORT);
    ExitButton.SubclassDlgItem(hwnd_, IDOK);
    ExitButton.SetImage(IDI_EXIT);

    StatusBar.Create(hwnd_, IDC_STATUS_BAR);
    RECT client = ClientRect();
    int width = client.right - client.left;
    int edges[2] = {2 * width / 3, width};
    StatusBar.SetParts(2, edges);

    ParamList.Attach(Item(IDC_PARAM_LIST));
    table_.Build(StateImages, IDB_ROW_MARKS);

    StartFromSettings(link_, *this, selection_);

    if (!::SetTimer(hwnd_, adapter::LINK_TIMER_ID, LINK_TIMER_PERIOD_MS, nullptr)) {
        ::MessageBoxA(hwnd_, kTimerRefused, "Error", MB_OK | MB_ICONINFORMATION);
    }

    auto tip = std::make_unique<fw::ToolTip>();
    if (!tip->Create(hwnd_)) return true;
    ToolTip = std::move(tip);
    ToolTip->AddTool(Item(IDOK), "Выход");
    ToolTip->AddTool(Item(IDC_READ_BUTTON), "Чтение параметров");
    ToolTip->AddTool(Item(IDC_PORT_BUTTON), "Настройка соединения");
    ToolTip->Activate(true);
    return true;
}

bool ConfiguratorDialog::PreTranslateMessage(MSG& msg) {
    // The key tests look at wParam and the key's state only, whatever the message is.
    if (msg.wParam == VK_ESCAPE && ::GetKeyState(VK_ESCAPE) < 0) return true;
    if (msg.wParam == VK_F5 && ::GetKeyState(VK_F5) < 0) {
        link_.StartParameterRead();
        return true;
    }
    if (msg.wParam == VK_RETURN && ::GetKeyState(VK_RETURN) < 0) return true;
    if (ToolTip) ToolTip->RelayEvent(&msg);
    // Link messages are posted to this window itself; a control's own message of the same
    // number is not one of them.
    if (msg.hwnd == hwnd_ && link_.HandleLinkMessage(msg.message)) return true;
    return fw::Dialog::PreTranslateMessage(msg);
}

bool ConfiguratorDialog::OnCommand(int id, int code, HWND control) {
    if (code != BN_CLICKED) return false;
    switch (id) {
        case IDC_READ_BUTTON:
            link_.StartParameterRead();
            return true;
        case IDC_PORT_BUTTON:
            RunPortDialog();
            return true;
        default:
            return false;
    }
}

bool ConfiguratorDialog::OnNotify(int id, NMHDR* header, LRESULT& result) {
    if (id == IDC_PARAM_LIST && header->code == NM_DBLCLK) {
        EditSelectedValue();
        return true;
    }
    return false;
}

bool ConfiguratorDialog::OnTimer(UINT_PTR id) {
    link_.OnLinkTimer();
    return false;
}

void ConfiguratorDialog::OnDestroy() {
    fw::Dialog::OnDestroy();
    com_.Command(serial::COM_CLOSE, nullptr);
    ::KillTimer(hwnd_, adapter::LINK_TIMER_ID);
    WriteSettings(link_.state, selection_);
}

bool ConfiguratorDialog::OnPaint() {
    return PaintMinimisedIcon(AppIcon);
}

bool ConfiguratorDialog::OnSysCommand(WPARAM command, LPARAM lParam) {
    return RunAboutCommand<AboutDialog>(command, IDM_ABOUTBOX);
}

bool ConfiguratorDialog::OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) {
    // Link messages are normally consumed in pre-translation. A modal loop that is not ours (the
    // system menu's, a window move or size, a message box, a control's mouse tracking) dispatches
    // them straight here; dropping one would stall the search or leave RxPending set for good.
    if (link_.HandleLinkMessage(message)) {
        result = 0;
        return true;
    }
    // The buttons are owner-drawn: the platform asks this window to draw them.
    if (message == WM_DRAWITEM && ui::ImageButton::HandleDrawItem(lParam)) {
        result = TRUE;
        return true;
    }
    if (message != WM_QUERYDRAGICON) return false;
    result = reinterpret_cast<LRESULT>(AppIcon);
    return true;
}

void ConfiguratorDialog::EditSelectedValue() {
    int row = table_.FirstSelectedRow();
    if (row < 0) return;

    RECT list = ParamList.WindowRect();
    POINT item = {};
    ParamList.ItemPosition(row, &item);
    int width0 = ParamList.ColumnWidth(adapter::COL_PARAMETER);
    int width1 = ParamList.ColumnWidth(adapter::COL_INDEX);
    int width2 = ParamList.ColumnWidth(adapter::COL_VALUE);
    TEXTMETRICA metrics = {};
    HDC dc = ::GetDC(ParamList);
    ::GetTextMetricsA(dc, &metrics);
    ::ReleaseDC(ParamList, dc);

    ParamEditDialog editor;
    editor.EditLeft = list.left + (width0 + width1 + width2) - width2 + 2;
    editor.EditTop = list.top + item.y;
    editor.EditWidth = width2;
    editor.EditHeight = metrics.tmHeight;
    editor.EditText = table_.Text(row, adapter::COL_VALUE);
    const std::string original = editor.EditText;

    const bool accepted = editor.DoModal(nullptr) == IDOK;
    link_.exchange.CommitEdit(row, accepted, editor.EditText.c_str(), original.c_str());
}

void ConfiguratorDialog::RunPortDialog() {
    // The dialog reopens the port and restarts the search itself; its result is not looked at.
    portselect::ConfiguratorSelectCOM dialog(
        {com_, link_.state.PortTable, selection_},
        [this](int part, const char* text) { SetStatusText(part, text); },
        [this] { link_.StartAdapterSearch(); });
    dialog.DoModal(hwnd_);
}

void ConfiguratorDialog::SetStatusText(int part, const char* text) {
    StatusBar.SetText(part, text);
}

void ConfiguratorDialog::EnableReadButton(bool enable) {
    EnableItem(IDC_READ_BUTTON, enable);
}

void ConfiguratorDialog::EnablePortButton(bool enable) {
    EnableItem(IDC_PORT_BUTTON, enable);
}

void ConfiguratorDialog::PostLinkMessage(uint32_t message) {
    Post(message, 0, 0);
}

void ConfiguratorDialog::ConvertOemText(char* text) {
    ::OemToCharA(text, text);
}

}  // namespace configurator
