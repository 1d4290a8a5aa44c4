#include "portselect/SelectCOM_win32.h"

#include <cstdio>
#include <iterator>
#include <string>
#include <utility>

#include "portselect/RegistryPortSource_win32.h"

namespace portselect {

namespace {

const char* const kNoPortEntry[] = {"не выбран"};

}  // namespace

SelectCOM::SelectCOM(int templateId, int portControl, int32_t initialPosition, const ApplyTarget& target,
                     StatusText showStatus)
    : fw::Dialog(templateId),
      m_port(initialPosition),
      m_speed(initialPosition),
      target_(target),
      showStatus_(std::move(showStatus)),
      portControl_(portControl) {}

SelectCOM::~SelectCOM() {
    ToolTip.reset();
}

bool SelectCOM::PreTranslateMessage(MSG& msg) {
    if (ToolTip) ToolTip->RelayEvent(&msg);
    return fw::Dialog::PreTranslateMessage(msg);
}

void SelectCOM::FillPortList() {
    SerialCommPortSource serialComm;
    RootPortsPortSource rootPorts;
    ComboPortList list(Item(portControl_));
    const PortPreselection preselection =
        portselect::FillPortList(serialComm, rootPorts, list, target_.portTable, target_.selection);
    m_port = preselection.port;
    m_speed = preselection.speed;
    UpdateData(false);
}

void SelectCOM::CreateToolTips(const Tool* tools, int count) {
    auto tip = std::make_unique<fw::ToolTip>();
    if (!tip->Create(hwnd_)) return;
    for (int i = 0; i < count; ++i) tip->AddTool(Item(tools[i].controlId), tools[i].text);
    tip->Activate(true);
    ToolTip = std::move(tip);
}

void SelectCOM::AddEntries(int controlId, const char* const* texts, int count) const {
    fw::ComboBox combo;
    combo.Attach(Item(controlId));
    if (combo.Count() != 0) return;
    for (int i = 0; i < count; ++i) combo.AddString(texts[i]);
}

void SelectCOM::AddSpeedEntries(int controlId, bool rightAligned) const {
    std::string texts[SPEED_COUNT];
    const char* pointers[SPEED_COUNT];
    for (int i = 0; i < SPEED_COUNT; ++i) {
        char digits[16];
        const int n = std::snprintf(digits, sizeof digits, "%d", static_cast<int>(SpeedTable[i]));
        texts[i] = std::string(rightAligned && n < 6 ? 2 * (6 - n) : 0, ' ') + digits;
        pointers[i] = texts[i].c_str();
    }
    AddEntries(controlId, pointers, SPEED_COUNT);
}

bool SelectCOM::OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) {
    if (message == WM_DRAWITEM && ui::ImageButton::HandleDrawItem(lParam)) {
        result = TRUE;
        return true;
    }
    return false;
}

void SelectCOM::SetStatusText(int part, const char* text) {
    if (showStatus_) showStatus_(part, text);
}

// ---- Vantrel

ConfiguratorSelectCOM::ConfiguratorSelectCOM(const ApplyTarget& target, StatusText showStatus,
                                             std::function<void()> startAdapterSearch)
    : SelectCOM(IDD_SELECTCOM_CONFIGURATOR, IDC_SELECTCOM_PORT, -1, target, std::move(showStatus)),
      startAdapterSearch_(std::move(startAdapterSearch)) {}

bool ConfiguratorSelectCOM::OnInitDialog() {
    AddEntries(IDC_SELECTCOM_PORT, kNoPortEntry, 1);
    AddSpeedEntries(IDC_SELECTCOM_SPEED, false);
    PortList.Attach(Item(IDC_SELECTCOM_PORT));
    fw::Dialog::OnInitDialog();

    FillPortList();

    static const Tool tools[] = {
        {IDOK, "Выход из настройки"},
        {IDC_SELECTCOM_PORT, "Выбор COM-порта"},
        {IDC_SELECTCOM_SPEED, "Скорость соединения"},
        {IDC_SELECTCOM_APPLY, "Применить изменения"},
    };
    CreateToolTips(tools, static_cast<int>(std::size(tools)));
    return true;
}

bool ConfiguratorSelectCOM::OnCommand(int id, int code, HWND control) {
    if (id != IDC_SELECTCOM_APPLY || code != BN_CLICKED) return false;
    Apply();
    return true;
}

void ConfiguratorSelectCOM::DoDataExchange(bool save) {
    fw::DdxComboIndex(hwnd_, IDC_SELECTCOM_PORT, m_port, save);
    fw::DdxComboIndex(hwnd_, IDC_SELECTCOM_SPEED, m_speed, save);
}

void ConfiguratorSelectCOM::Apply() {
    UpdateData(true);
    ApplyConfiguratorPort(target_, m_port, OpenBlock, *this, startAdapterSearch_);
}

// ---- Quillon

LoaderSelectCOM::LoaderSelectCOM(const ApplyTarget& target, StatusText showStatus)
    : SelectCOM(IDD_SELECTCOM_LOADER, IDC_SELECTCOM_LOADER_PORT, 0, target, std::move(showStatus)) {}

bool LoaderSelectCOM::OnInitDialog() {
    AddSpeedEntries(IDC_SELECTCOM_LOADER_SPEED, true);
    PortList.Attach(Item(IDC_SELECTCOM_LOADER_PORT));
    fw::Dialog::OnInitDialog();

    ExitButton.SubclassDlgItem(hwnd_, IDCANCEL);
    ApplyButton.SubclassDlgItem(hwnd_, IDOK);
    ApplyButton.SetImage(IDI_SELECTCOM_APPLY);
    ExitButton.SetImage(IDI_SELECTCOM_EXIT);

    static const Tool tools[] = {
        {IDOK, " Применить изменения "},
        {IDCANCEL, " Выход из настройки "},
        {IDC_SELECTCOM_LOADER_PORT, " Выбор COM-порта "},
        {IDC_SELECTCOM_LOADER_SPEED, " Скорость соединения "},
    };
    CreateToolTips(tools, static_cast<int>(std::size(tools)));

    UpdateData(false);
    FillPortList();
    return true;
}

void LoaderSelectCOM::OnOK() {
    UpdateData(true);
    ApplyLoaderPort(target_, m_port, m_speed, OpenBlock, *this);
    // The base OK: exchange from the controls once more, then end with IDOK.
    fw::Dialog::OnOK();
}

void LoaderSelectCOM::DoDataExchange(bool save) {
    fw::DdxComboIndex(hwnd_, IDC_SELECTCOM_LOADER_PORT, m_port, save);
    fw::DdxComboIndex(hwnd_, IDC_SELECTCOM_LOADER_SPEED, m_speed, save);
}

}  // namespace portselect
