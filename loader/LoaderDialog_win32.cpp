#include "loader/LoaderDialog_win32.h"

#include <commdlg.h>

#include "loader/LoaderSettings.h"
#include "loader/ProgramImage.h"
#include "loader/resource.h"
#include "portselect/SelectCOM_win32.h"
#include "portselect/Selection.h"

namespace loader {

namespace {

constexpr UINT LOAD_TIMER_PERIOD_MS = 20;
constexpr DWORD PATH_BUFFER = 1024;

const char kTimerRefused[] =
    "Много программ используют\n"
    "прерывания от таймера.\n"
    "Откажитесь от них.";

// The file-open dialog's filter, written the way it is kept: '|' between the parts.
const char kProgramFilter[] = "программа для KRT42 (*.HEX)|*.HEX||";
const char kDefaultProgramName[] = "KRT42.HEX";

class AboutDialog : public fw::Dialog {
  public:
    AboutDialog() : fw::Dialog(IDD_ABOUTBOX) {}
};

}  // namespace

LoaderDialog::LoaderDialog(serial::ComDriver& com, portselect::Selection& selection, ProgramImage& image)
    : fw::Dialog(IDD_LOADER_DIALOG),
      AppIcon(::LoadIconA(fw::App::InstanceHandle(), MAKEINTRESOURCEA(IDR_MAINFRAME))),
      com_(com),
      selection_(selection),
      load_(*this, image, com) {
    load_.blockSize = 0;
}

LoaderDialog::~LoaderDialog() {
    ToolTip.reset();
}

bool LoaderDialog::OnInitDialog() {
    fw::Dialog::OnInitDialog();

    AppendAboutItem(IDS_ABOUTBOX, IDM_ABOUTBOX);
    Send(WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(AppIcon));

    load_.rxCount = 0;

    ChooseButton.SubclassDlgItem(hwnd_, IDC_CHOOSE_BUTTON);
    StartButton.SubclassDlgItem(hwnd_, IDC_START_BUTTON);
    PortButton.SubclassDlgItem(hwnd_, IDC_PORT_BUTTON);
    ExitButton.SubclassDlgItem(hwnd_, IDOK);
    ChooseButton.SetImage(IDI_PROGRAM);
    StartButton.SetImage(IDI_START);
    PortButton.SetImage(IDI_PORT);
    ExitButton.SetImage(IDI_EXIT);
    Progress.Attach(Item(IDC_PROGRESS));
    Progress.SetRange(0, 100);
    Label.Attach(Item(-1));

    load_.blockSize = BLOCK_SIZE;
    load_.RestartCount = 0;

    StatusBar.Create(hwnd_, IDC_STATUS_BAR);
    RECT client = ClientRect();
    int width = client.right - client.left;
    int edges[2] = {2 * width / 3, width};
    StatusBar.SetParts(2, edges);

    load_.rxPending = 0;
    load_.state = Idle;
    selection_.SelectedSpeedIndex = DEFAULT_SPEED_INDEX;

    if (!::SetTimer(hwnd_, LOAD_TIMER_ID, LOAD_TIMER_PERIOD_MS, nullptr)) {
        ::MessageBoxA(hwnd_, kTimerRefused, "Error", MB_OK | MB_ICONINFORMATION);
    }

    // Missing fields keep the loader's defaults: port position 0, 19200 bit/s.
    LoaderSettings settings;
    ReadLoaderSettings(LOADER_SETTINGS_FILE, &settings);
    ApplyLoaderSettings(settings, selection_, PortTable);
    reserved_ = settings.reserved;

    OpenSelectedPort(*this, com_, PortTable, selection_, openBlock_);

    auto tip = std::make_unique<fw::ToolTip>();
    if (!tip->Create(hwnd_)) return true;
    ToolTip = std::move(tip);
    ToolTip->AddTool(Item(IDOK), " Выход ");
    ToolTip->AddTool(Item(IDC_CHOOSE_BUTTON), " Выбор программы... ");
    ToolTip->AddTool(Item(IDC_START_BUTTON), " Загрузка программы в KRT42 ");
    ToolTip->AddTool(Item(IDC_PORT_BUTTON), " Настройка COM-порта ");
    ToolTip->Activate(true);
    return true;
}

bool LoaderDialog::PreTranslateMessage(MSG& msg) {
    if (ToolTip) ToolTip->RelayEvent(&msg);
    // The test looks at wParam and the key's state only, whatever the message is.
    if (msg.wParam == VK_ESCAPE && ::GetKeyState(VK_ESCAPE) < 0) return true;
    // The notifications are posted to this window itself; a control's own message of the same
    // number is not one of them.
    if (msg.hwnd == hwnd_ && load_.HandleMessage(msg.message)) return true;
    return fw::Dialog::PreTranslateMessage(msg);
}

bool LoaderDialog::OnCommand(int id, int code, HWND control) {
    if (code != BN_CLICKED) return false;
    switch (id) {
        case IDC_CHOOSE_BUTTON:
            ChooseProgram();
            return true;
        case IDC_START_BUTTON:
            load_.StartStop(path_.c_str());
            return true;
        case IDC_PORT_BUTTON:
            RunPortDialog();
            return true;
        default:
            return false;
    }
}

bool LoaderDialog::OnTimer(UINT_PTR id) {
    if (id == LOAD_TIMER_ID) load_.Tick();
    return false;
}

void LoaderDialog::OnDestroy() {
    fw::Dialog::OnDestroy();
    ToolTip.reset();
    // Closing the port also ends a load that is running, without a word to the user.
    com_.Command(serial::COM_CLOSE, nullptr);
    ::KillTimer(hwnd_, LOAD_TIMER_ID);
    WriteLoaderSettings(LOADER_SETTINGS_FILE, CollectLoaderSettings(selection_, PortTable, reserved_));
}

bool LoaderDialog::OnPaint() {
    return PaintMinimisedIcon(AppIcon);
}

bool LoaderDialog::OnSysCommand(WPARAM command, LPARAM lParam) {
    return RunAboutCommand<AboutDialog>(command, IDM_ABOUTBOX);
}

bool LoaderDialog::OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) {
    switch (message) {
        case WM_DRAWITEM:
            if (!ui::ImageButton::HandleDrawItem(lParam)) return false;
            result = TRUE;
            return true;
        case WM_QUERYDRAGICON:
            result = reinterpret_cast<LRESULT>(AppIcon);
            return true;
        case LM_RECEIVED:
        case LM_SEND_BLOCK:
        case LM_FINISHED:
            // Normally consumed in pre-translation. A modal loop that is not ours (the system's
            // while the window is dragged or its menu is open, the file dialog's) dispatches it
            // straight here; dropping it would leave the load waiting for ever on its token.
            load_.HandleMessage(message);
            result = 0;
            return true;
        default:
            return false;
    }
}

void LoaderDialog::ChooseProgram() {
    char filter[sizeof kProgramFilter];
    for (size_t i = 0; i < sizeof filter; ++i)
        filter[i] = kProgramFilter[i] == '|' ? '\0' : kProgramFilter[i];
    char file[PATH_BUFFER] = {};
    lstrcpynA(file, kDefaultProgramName, sizeof file);

    OPENFILENAMEA ofn = {};
    ofn.lStructSize = sizeof ofn;
    ofn.hwndOwner = hwnd_;
    ofn.hInstance = fw::App::InstanceHandle();
    ofn.lpstrFilter = filter;
    ofn.nFilterIndex = 1;
    ofn.lpstrFile = file;
    ofn.nMaxFile = PATH_BUFFER;
    ofn.lpstrDefExt = "HEX";
    ofn.Flags = OFN_HIDEREADONLY | OFN_EXPLORER;
    // The dialog moves the current directory to the folder the user browsed to, and "Quillon.i"
    // lives in the current directory: without this the settings would be written at exit where
    // the next start never looks for them.
    char startDirectory[PATH_BUFFER] = "";
    DWORD kept = ::GetCurrentDirectoryA(sizeof startDirectory, startDirectory);
    BOOL chosen = ::GetOpenFileNameA(&ofn);
    if (kept > 0 && kept < sizeof startDirectory) ::SetCurrentDirectoryA(startDirectory);
    if (!chosen) return;
    path_ = file;
    SetStatusText(0, path_.c_str());
}

void LoaderDialog::RunPortDialog() {
    // The dialog reopens the port and writes status pane 1 itself; its result says nothing more.
    portselect::LoaderSelectCOM dialog({com_, PortTable, selection_},
                                       [this](int part, const char* text) { SetStatusText(part, text); });
    dialog.DoModal(hwnd_);
}

void LoaderDialog::SetBarPos(int percent) {
    Progress.SetPos(percent);
}

void LoaderDialog::SetBarText(const char* text) {
    Progress.SetText(text);
}

void LoaderDialog::SetLabelText(const char* text) {
    Label.SetText(text);
}

void LoaderDialog::SetStatusText(int pane, const char* text) {
    StatusBar.SetText(pane, text);
}

void LoaderDialog::EnableChooseButton(bool enable) {
    ChooseButton.Enable(enable);
}

void LoaderDialog::SetStartTooltip(const char* text) {
    if (!ToolTip) return;
    TOOLINFOA info = {};
    info.cbSize = TTTOOLINFOA_V2_SIZE;
    info.uFlags = TTF_IDISHWND;
    info.hwnd = hwnd_;
    info.uId = reinterpret_cast<UINT_PTR>(StartButton.Handle());
    info.hinst = fw::App::InstanceHandle();
    info.lpszText = const_cast<char*>(text);
    ToolTip->Send(TTM_UPDATETIPTEXTA, 0, reinterpret_cast<LPARAM>(&info));
}

void LoaderDialog::ShowStopIcon(bool stop) {
    StartButton.SetImage(stop ? IDI_STOP : IDI_START);
    // The button shows the new icon at once, not only when something else makes it repaint.
    ::InvalidateRect(StartButton, nullptr, FALSE);
}

void LoaderDialog::PostLoaderMessage(uint32_t message) {
    Post(message, 0, 0);
}

bool LoaderApp::InitInstance() {
    // The window holds the procedure's buffers: not on the stack.
    auto dialog = std::make_unique<LoaderDialog>(com_, selection_, *image_);
    RunMainDialog(*dialog);
    // The program ends with its window; the application's own message loop does not run.
    return false;
}

}  // namespace loader
