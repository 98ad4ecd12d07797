#include "gui/MainDialog.h"

#include "app/DialogText.h"
#include "config/Settings.h"
#include "app/UpgradeRun.h"
#include "engine/Kd7v001YmodemControl.h"
#include "gui/AboutDialog.h"
#include "gui/App.h"
#include "gui/StationWindow.h"
#include "platform/Text.h"
#include "res/resource.h"
#include "serial/win32/ComPortList.h"
#include "serial/win32/SerialPort.h"

#include <commctrl.h>
#include <commdlg.h>

namespace
{
// The combo box as a port list, so the one insertion rule fills it.
class CComboPortList : public IPortList
{
public:
    explicit CComboPortList(HWND combo) : m_combo(combo) {}
    int GetCount() override { return static_cast<int>(SendMessageW(m_combo, CB_GETCOUNT, 0, 0)); }
    std::wstring GetText(int index) override
    {
        const auto length = SendMessageW(m_combo, CB_GETLBTEXTLEN, static_cast<WPARAM>(index), 0);
        if (length < 0)
            return {};
        std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
        SendMessageW(m_combo, CB_GETLBTEXT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(text.data()));
        text.resize(static_cast<std::size_t>(length));
        return text;
    }
    void Add(const std::wstring& name) override
    {
        SendMessageW(m_combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(name.c_str()));
    }
    void Insert(int index, const std::wstring& name) override
    {
        SendMessageW(m_combo, CB_INSERTSTRING, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(name.c_str()));
    }

private:
    HWND m_combo;
};

bool NamesSomething(const std::wstring& path)
{
    std::error_code ec;
    return !path.empty() && std::filesystem::exists(PathFromWide(path), ec);
}
} // namespace

CKd7YmodemUpdateDlg::CKd7YmodemUpdateDlg()
    : CDialogBase(IDD_KD7YMODEMUPDATE_DIALOG), m_hIcon(LoadIconW(AppInstance(), MAKEINTRESOURCEW(IDR_MAINFRAME)))
{
}

CKd7YmodemUpdateDlg::~CKd7YmodemUpdateDlg() = default;

void CKd7YmodemUpdateDlg::DoDataExchange(bool save)
{
    if (save)
    {
        m_strPort = GetItemText(IDC_PORT);
        m_strTrace = GetItemText(IDC_TRACE);
    }
    else
    {
        SetItemText(IDC_PORT, m_strPort);
        SetItemText(IDC_TRACE, m_strTrace);
    }
}

BOOL CKd7YmodemUpdateDlg::OnInitDialog()
{
    theApp.m_hMainWnd = m_hWnd;
    HMENU menu = GetSystemMenu(m_hWnd, FALSE);
    wchar_t about[128] = {};
    if (menu != nullptr && LoadStringW(AppInstance(), IDS_ABOUTBOX, about, 128) > 0)
    {
        AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
        AppendMenuW(menu, MF_STRING, IDM_ABOUTBOX, about);
    }
    wchar_t station[128] = {};
    if (menu != nullptr && LoadStringW(AppInstance(), IDS_STATION, station, 128) > 0)
        AppendMenuW(menu, MF_STRING, IDM_STATION, station);
    SendMessageW(m_hWnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(m_hIcon));
    SendMessageW(m_hWnd, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(m_hIcon));
    ShowWindow(m_hWnd, SW_SHOW);

    FillImageField(IDC_APP_BIN_FILE, IDC_APP_LABEL, IDC_APP_BROWSE, "app_bin_file", 400000, 512000);
    FillImageField(IDC_RCDB_BIN_FILE, IDC_RCDB_LABEL, IDC_RCDB_BROWSE, "rcdb_bin_file", 50000, 70000);

    m_strPort = L"COM" + std::to_wstring(ReadSettingInt("port", 1));
    DoDataExchange(false);
    FillPortList();
    // The Close button comes first in the tab order: with the focus there, Enter would end the tool.
    SetFocus(Item(IDC_PORT));
    return FALSE;
}

std::wstring CKd7YmodemUpdateDlg::FindImageFile(std::uintmax_t lower, std::uintmax_t upper)
{
    // A folder that cannot be listed leaves the field empty; the window still opens.
    m_candidates.Scan(PathFromWide(theApp.m_strModuleDir));
    return m_candidates.Find(lower, upper).wstring();
}

void CKd7YmodemUpdateDlg::FillImageField(int field, int label, int browse, const char* key, std::uintmax_t lower,
                                         std::uintmax_t upper)
{
    const std::wstring stored = NarrowToWide(ReadSettingString(key));
    std::wstring path = FindImageFile(lower, upper);
    // The scan wins; a stored path that names a file serves when the scan found nothing.
    if (path.empty() && NamesSomething(stored))
        path = stored;
    SetItemText(field, path);
    if (!NamesSomething(path))
        ShowRow(field, label, browse, SW_HIDE);
}

void CKd7YmodemUpdateDlg::ShowRow(int field, int label, int browse, int show)
{
    for (int id : {label, field, browse})
        ShowWindow(Item(id), show);
}

void CKd7YmodemUpdateDlg::FillPortList()
{
    CComboPortList list(Item(IDC_PORT));
    FillComPortList(list);
}

void CKd7YmodemUpdateDlg::Browse(int field, int label, int browse)
{
    if (!AskForFile(field, L"Firmware images (*.bin)\0*.bin\0All files (*.*)\0*.*\0", theApp.m_strModuleDir,
                    OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST | OFN_HIDEREADONLY))
        return;
    ShowRow(field, label, browse, SW_SHOW);
}

void CKd7YmodemUpdateDlg::OnTraceText(const std::vector<char>& bytes)
{
    if (bytes.empty())
        return;
    const std::string text(bytes.data(), strnlen(bytes.data(), bytes.size()));
    PrependTrace(m_strTrace, NarrowToWide(text), true);
    DoDataExchange(false);
}

void CKd7YmodemUpdateDlg::OnTraceHex(const std::vector<char>& bytes)
{
    PrependTrace(m_strTrace, NarrowToWide(FormatHex(bytes)), false);
    DoDataExchange(false);
}

void CKd7YmodemUpdateDlg::OnBnClickedUpdate()
{
    if (m_running)
        return; // one run at a time; the tip window's pump can bring a second press here
    m_running = true;
    m_closeRequested = false;
    DoDataExchange(true);
    UpgradeRequest request;
    request.appPath = GetItemText(IDC_APP_BIN_FILE);
    request.rcdbPath = GetItemText(IDC_RCDB_BIN_FILE);
    request.portSetting = WideToNarrow(StripComLetters(m_strPort));
    request.device = L"\\\\.\\COM" + std::to_wstring(PortNumberOf(m_strPort));
    // The radio's own word, only when the settings file asks for it; a key that cannot be used is
    // said in the trace and left out.
    std::vector<std::string> warnings;
    request.patterns = ReadRadioPatterns(warnings);
    for (const auto& warning : warnings)
        OnTraceText(std::vector<char>(warning.begin(), warning.end()));
    m_tip = std::make_unique<CProcTip2Dlg>();
    RunUpgrade(request, *this, [] { return std::make_shared<CpsSerialPort>(); });
    m_tip.reset();
    m_running = false;
    if (m_closeRequested)
        EndDialog(IDCANCEL);
}

bool CKd7YmodemUpdateDlg::OnProgress(const std::wstring& caption, int done, int total, bool percent)
{
    const bool cancel = m_tip != nullptr && m_tip->OnProgress(caption, done, total, percent);
    return cancel || m_closeRequested;
}

bool CKd7YmodemUpdateDlg::OnWait()
{
    // The window stays alive and Cancel can be clicked while the engine pauses or retries.
    const bool cancel = m_tip != nullptr && m_tip->ShowProgress(true);
    return cancel || m_closeRequested;
}

void CKd7YmodemUpdateDlg::OnImageStart(int, const std::wstring&, int frames, std::size_t)
{
    HWND bar = Item(IDC_PROGRESS);
    if (bar == nullptr)
        return;
    SendMessageW(bar, PBM_SETRANGE, 0, MAKELPARAM(0, static_cast<WORD>(frames)));
    SendMessageW(bar, PBM_SETPOS, 0, 0);
}

bool CKd7YmodemUpdateDlg::OnWriteProgress(int done, int total)
{
    return OnWriteProgress(kCaptionWriting, done, total, true);
}

bool CKd7YmodemUpdateDlg::OnWriteProgress(const std::wstring&, int done, int, bool)
{
    HWND bar = Item(IDC_PROGRESS);
    if (bar == nullptr)
        return true;
    SendMessageW(bar, PBM_SETPOS, static_cast<WPARAM>(done), 0);
    return false;
}

void CKd7YmodemUpdateDlg::OnProgressEnd() { m_tip.reset(); }

void CKd7YmodemUpdateDlg::ShowOutcome(const UpgradeResult& result)
{
    UINT icon = 0;
    switch (result.outcome)
    {
    case UpgradeOutcome::Success:
    case UpgradeOutcome::NoData: icon = MB_ICONINFORMATION; break;
    case UpgradeOutcome::ImageUnreadable: icon = MB_ICONWARNING; break;
    case UpgradeOutcome::HostNotResponding:
    case UpgradeOutcome::UnableToWrite:
    case UpgradeOutcome::SerialError:
    case UpgradeOutcome::NotConfirmed:
    case UpgradeOutcome::AlreadyFlashed: break;
    case UpgradeOutcome::ModeNotSeen: return;
    }
    // What the radio said instead of its confirmation is the operator's lead.
    const std::wstring text = result.outcome == UpgradeOutcome::NotConfirmed && !result.detail.empty()
                                  ? result.message + L"\r\n\r\n" + result.detail
                                  : result.message;
    MessageBoxW(m_hWnd, text.c_str(), theApp.m_strModuleName.c_str(), MB_OK | icon);
}

void CKd7YmodemUpdateDlg::OnSysCommand(UINT id, LPARAM)
{
    if ((id & 0xFFF0) == IDM_ABOUTBOX)
    {
        CAboutDlg about;
        about.DoModal(m_hWnd);
    }
    // Not during an upgrade: the station would take the port from under it.
    if ((id & 0xFFF0) == IDM_STATION && !m_running)
    {
        CStationDlg station;
        station.DoModal(m_hWnd);
    }
}

bool CKd7YmodemUpdateDlg::OnPaint()
{
    if (!IsIconic(m_hWnd))
        return false;
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(m_hWnd, &ps);
    SendMessageW(m_hWnd, WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
    const int cx = GetSystemMetrics(SM_CXICON);
    const int cy = GetSystemMetrics(SM_CYICON);
    RECT rect;
    GetClientRect(m_hWnd, &rect);
    DrawIcon(dc, (rect.right - rect.left - cx + 1) / 2, (rect.bottom - rect.top - cy + 1) / 2, m_hIcon);
    EndPaint(m_hWnd, &ps);
    return true;
}

void CKd7YmodemUpdateDlg::OnCancel()
{
    if (m_running)
    {
        // Stopping leaves the radio half-written: the operator decides, and sees the outcome
        // before the window closes once the port is released. The question's own message loop
        // brings further close requests here: the open question answers them.
        if (m_closeRequested || m_askingToStop)
            return;
        m_askingToStop = true;
        const int answer =
            MessageBoxW(m_hWnd, L"An upgrade is in progress. Stop it? The radio will need a new upgrade.",
                        theApp.m_strModuleName.c_str(), MB_YESNO | MB_ICONWARNING | MB_DEFBUTTON2);
        m_askingToStop = false;
        m_closeRequested = answer == IDYES;
        return;
    }
    EndDialog(IDCANCEL);
}

bool CKd7YmodemUpdateDlg::OnMessage(UINT message, WPARAM wParam, LPARAM lParam, INT_PTR& result)
{
    switch (message)
    {
    case WM_SYSCOMMAND:
        if ((wParam & 0xFFF0) == IDM_ABOUTBOX || (wParam & 0xFFF0) == IDM_STATION)
        {
            OnSysCommand(static_cast<UINT>(wParam), lParam);
            result = TRUE;
            return true;
        }
        return false;
    case WM_PAINT: return OnPaint();
    case WM_QUERYDRAGICON: result = reinterpret_cast<INT_PTR>(m_hIcon); return true;
    case WM_CLOSE:
        OnCancel();
        result = TRUE;
        return true;
    case WM_COMMAND:
        switch (LOWORD(wParam))
        {
        case IDC_UPDATE:
            if (HIWORD(wParam) == BN_CLICKED)
                OnBnClickedUpdate();
            result = TRUE;
            return true;
        case IDC_APP_BROWSE:
            Browse(IDC_APP_BIN_FILE, IDC_APP_LABEL, IDC_APP_BROWSE);
            result = TRUE;
            return true;
        case IDC_RCDB_BROWSE:
            Browse(IDC_RCDB_BIN_FILE, IDC_RCDB_LABEL, IDC_RCDB_BROWSE);
            result = TRUE;
            return true;
        case IDOK:
            result = TRUE; // Enter does not close the tool
            return true;
        default: break;
        }
        break;
    default: break;
    }
    return CDialogBase::OnMessage(message, wParam, lParam, result);
}
