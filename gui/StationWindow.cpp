#include "gui/StationWindow.h"

#include "Version.h"
#include "app/ImageSearch.h"
#include "app/Station.h"
#include "app/UpgradeRun.h"
#include "config/Settings.h"
#include "gui/App.h"
#include "platform/Text.h"
#include "res/resource.h"
#include "serial/PortWatcher.h"
#include "serial/win32/ComPortList.h"
#include "serial/win32/SerialPort.h"

#include <commctrl.h>
#include <commdlg.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <thread>

namespace
{
constexpr UINT kWakeMessage = WM_APP + 1;  // events wait in the inbox
constexpr UINT kEndedMessage = WM_APP + 2; // RunStation has returned
constexpr UINT kDpiChangedMessage = 0x02E0;
constexpr UINT_PTR kPaintTimer = 1;
// Ten paints a second at most, however many ports send how many events.
constexpr UINT kPaintEveryMs = 100;
// A second Stop sooner than this after the first is the same press.
constexpr DWORD kSecondStopAfterMs = 1000;
constexpr DWORD kSettleMs = 3000;

// The controls of the choices, disabled while a station runs.
const int kChoices[] = {IDC_ST_EVERY,         IDC_ST_NAMED,       IDC_ST_PORTS,       IDC_ST_APP,
                        IDC_ST_APP_BROWSE,    IDC_ST_RCDB,        IDC_ST_RCDB_BROWSE, IDC_ST_RECORD,
                        IDC_ST_RECORD_BROWSE, IDC_ST_COUNT,       IDC_ST_APP_LABEL,   IDC_ST_RCDB_LABEL,
                        IDC_ST_RECORD_LABEL,  IDC_ST_COUNT_LABEL, IDC_ST_COUNT_UNIT};

bool NamesFile(const std::wstring& path)
{
    std::error_code ec;
    return !path.empty() && std::filesystem::is_regular_file(PathFromWide(path), ec);
}

// Relative to the folder the program was started in, as a command line means it.
std::wstring FullPath(const std::wstring& path)
{
    if (path.empty())
        return path;
    const DWORD size = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    if (size == 0)
        return path;
    std::wstring full(size, L'\0');
    const DWORD got = GetFullPathNameW(path.c_str(), size, full.data(), nullptr);
    full.resize(got < size ? got : 0);
    return full.empty() ? path : full;
}

std::string ComputerName()
{
    wchar_t name[MAX_COMPUTERNAME_LENGTH + 1] = {};
    DWORD size = MAX_COMPUTERNAME_LENGTH + 1;
    return GetComputerNameW(name, &size) ? WideToUtf8(std::wstring(name, size)) : std::string();
}

std::optional<std::string> OperatorName()
{
    const wchar_t* name = _wgetenv(L"KD7X_OPERATOR");
    if (name == nullptr || *name == L'\0')
        return std::nullopt;
    return WideToUtf8(name);
}

// The window's own where the system says it (Windows 10 on), else the screen's.
int DpiOf(HWND hwnd)
{
    using GetDpiForWindowFn = UINT(WINAPI*)(HWND);
    HMODULE user32 = GetModuleHandleW(L"user32.dll");
    const auto get =
        user32 == nullptr
            ? nullptr
            : reinterpret_cast<GetDpiForWindowFn>(reinterpret_cast<void*>(GetProcAddress(user32, "GetDpiForWindow")));
    if (get != nullptr)
        if (const UINT dpi = get(hwnd); dpi > 0)
            return static_cast<int>(dpi);
    HDC dc = GetDC(hwnd);
    const int dpi = dc != nullptr ? GetDeviceCaps(dc, LOGPIXELSY) : 96;
    if (dc != nullptr)
        ReleaseDC(hwnd, dc);
    return dpi > 0 ? dpi : 96;
}

std::wstring WindowText(HWND hwnd)
{
    std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(hwnd)) + 1, L'\0');
    text.resize(static_cast<std::size_t>(GetWindowTextW(hwnd, text.data(), static_cast<int>(text.size()))));
    return text;
}

void AddColumn(HWND list, int index, const wchar_t* title, int width)
{
    LVCOLUMNW column{};
    column.mask = LVCF_TEXT | LVCF_WIDTH;
    column.pszText = const_cast<wchar_t*>(title);
    column.cx = width;
    SendMessageW(list, LVM_INSERTCOLUMNW, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&column));
}

void SetCell(HWND list, int row, int column, const std::string& text)
{
    std::wstring wide = Utf8ToWide(text);
    LVITEMW item{};
    item.mask = LVIF_TEXT;
    item.iItem = row;
    item.iSubItem = column;
    item.pszText = wide.data();
    SendMessageW(list, column == 0 ? LVM_INSERTITEMW : LVM_SETITEMW, 0, reinterpret_cast<LPARAM>(&item));
}
} // namespace

// What a station needs while it runs, kept until its thread has returned: RunStation holds
// references into it.
struct CStationDlg::Running
{
    StationOptions options;
    std::unique_ptr<IPortWatcher> watcher;
    CPortReleases releases;
    std::atomic<int> stops{0};
    std::unique_ptr<CStationInbox> inbox;
    StationEnd end;
    std::string failure; // what was thrown, should anything be
    std::thread thread;
};

CStationDlg::CStationDlg(StationSwitches switches) : CDialogBase(IDD_STATION), m_switches(std::move(switches))
{
    m_hIcon = LoadIconW(AppInstance(), MAKEINTRESOURCEW(IDR_MAINFRAME));
}

CStationDlg::~CStationDlg()
{
    // Only when the window went without the station's end (it waits for it otherwise).
    if (m_run && m_run->thread.joinable())
    {
        m_run->stops = 2;
        m_run->thread.join();
    }
    m_tiles.clear();
    for (HFONT font : {m_fonts.port, m_fonts.state, m_fonts.text, m_tallyFont})
        if (font != nullptr)
            DeleteObject(font);
}

BOOL CStationDlg::OnInitDialog()
{
    SendMessageW(m_hWnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(m_hIcon));
    SendMessageW(m_hWnd, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(m_hIcon));
    m_dpi = DpiOf(m_hWnd);
    MakeFonts();
    HWND ports = Item(IDC_ST_PORTS);
    SendMessageW(ports, LVM_SETEXTENDEDLISTVIEWSTYLE, LVS_EX_CHECKBOXES, LVS_EX_CHECKBOXES);
    AddColumn(ports, 0, L"Port", Px(150));
    HWND radios = Item(IDC_ST_RADIOS);
    SendMessageW(radios, LVM_SETEXTENDEDLISTVIEWSTYLE, LVS_EX_FULLROWSELECT, LVS_EX_FULLROWSELECT);
    int column = 0;
    for (const auto& [title, width] : {std::pair(L"Time", 80), std::pair(L"Port", 70), std::pair(L"Radio ID", 150),
                                       std::pair(L"Outcome", 480), std::pair(L"Duration", 70)})
        AddColumn(radios, column++, title, Px(width));
    SendMessageW(Item(IDC_ST_COUNT), EM_SETLIMITTEXT, 7, 0);
    LoadChoices();
    SetText(IDC_ST_NOTE, "Choose the ports and the images, then Start.");

    // Large enough for two rows of four tiles where the screen has the room.
    RECT work{};
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
    const int width = std::min(Px(1040), static_cast<int>(work.right - work.left));
    const int height = std::min(Px(800), static_cast<int>(work.bottom - work.top));
    SetWindowPos(m_hWnd, nullptr, work.left + (work.right - work.left - width) / 2,
                 work.top + (work.bottom - work.top - height) / 2, width, height, SWP_NOZORDER);
    Layout();
    ShowWindow(m_hWnd, SW_SHOW);
    SetFocus(Item(IDC_ST_START));
    if (m_switches.start)
        PostMessageW(m_hWnd, WM_COMMAND, MAKEWPARAM(IDC_ST_START, BN_CLICKED), 0);
    return FALSE;
}

void CStationDlg::MakeFonts()
{
    LOGFONTW base{};
    HFONT dialogFont = reinterpret_cast<HFONT>(SendMessageW(m_hWnd, WM_GETFONT, 0, 0));
    if (dialogFont == nullptr || GetObjectW(dialogFont, sizeof base, &base) == 0)
        wcscpy(base.lfFaceName, L"MS Shell Dlg 2");
    const auto make = [&](int points, LONG weight) {
        LOGFONTW font = base;
        font.lfHeight = -MulDiv(points, m_dpi, 72);
        font.lfWidth = 0;
        font.lfWeight = weight;
        return CreateFontIndirectW(&font);
    };
    // The old fonts go once no control holds them.
    const StationFonts old = m_fonts;
    HFONT oldTally = m_tallyFont;
    m_fonts.port = make(13, FW_BOLD);
    m_fonts.state = make(22, FW_BOLD);
    m_fonts.text = make(10, FW_NORMAL);
    m_tallyFont = make(12, FW_BOLD);
    for (int id : {IDC_ST_FLASHED, IDC_ST_FAILED, IDC_ST_YIELD, IDC_ST_RATE, IDC_ST_SINCE})
        SendMessageW(Item(id), WM_SETFONT, reinterpret_cast<WPARAM>(m_tallyFont), FALSE);
    for (auto& tile : m_tiles)
        tile->SetFonts(m_fonts);
    for (HFONT font : {old.port, old.state, old.text, oldTally})
        if (font != nullptr)
            DeleteObject(font);
}

void CStationDlg::LoadChoices()
{
    std::string raw;
    StationPorts ports;
    if (m_switches.ports)
        ports = *m_switches.ports;
    else if (ReadSectionRaw("Station", "Ports", raw))
        ports = ParsePortsSetting(raw);
    // Nothing chosen yet: every USB serial port, as the installer's entry means it.
    if (!ports.every && ports.named.empty())
        ports.every = true;
    FillPorts(ports);

    // As the main dialog: the newest image of each size beside the program, else the one last used.
    std::wstring app, rcdb;
    if (m_switches.app || m_switches.rcdb)
    {
        app = FullPath(m_switches.app.value_or(L""));
        rcdb = FullPath(m_switches.rcdb.value_or(L""));
    }
    else
    {
        CImageCandidates candidates;
        candidates.Scan(PathFromWide(theApp.m_strModuleDir));
        for (auto [field, key, lower, upper] :
             {std::tuple(&app, "app_bin_file", 400000u, 512000u), std::tuple(&rcdb, "rcdb_bin_file", 50000u, 70000u)})
        {
            *field = candidates.Find(lower, upper).wstring();
            const std::wstring stored = NarrowToWide(ReadSettingString(key));
            if (field->empty() && NamesFile(stored))
                *field = stored;
        }
    }
    SetItemText(IDC_ST_APP, app);
    SetItemText(IDC_ST_RCDB, rcdb);

    std::wstring record;
    if (m_switches.record)
        record = FullPath(*m_switches.record);
    else if (ReadSectionRaw("Station", "Record", raw) && !raw.empty())
        record = NarrowToWide(raw);
    else
        record = theApp.m_strModuleDir + theApp.m_strModuleName + L"-radios.jsonl";
    SetItemText(IDC_ST_RECORD, record);

    int count = 0;
    if (m_switches.count)
        count = *m_switches.count;
    else if (ReadSectionRaw("Station", "Count", raw))
        count = WholeNumber(raw, 0, kMaxCount).value_or(0);
    SetItemText(IDC_ST_COUNT, std::to_wstring(count));
    const bool mute = ReadSectionRaw("Station", "Mute", raw) && raw == "1";
    CheckDlgButton(m_hWnd, IDC_ST_MUTE, mute ? BST_CHECKED : BST_UNCHECKED);
}

void CStationDlg::FillPorts(const StationPorts& chosen)
{
    CPortVector present;
    FillComPortList(present);
    std::vector<std::string> names;
    for (const auto& name : present.m_names)
        if (const std::string port = ComPortName(name); !port.empty())
            names.push_back(port);
    // A port chosen before that is not plugged in now is still offered: it is waited for.
    for (const auto& port : chosen.named)
        if (std::find(names.begin(), names.end(), port) == names.end())
            names.push_back(port);
    std::sort(names.begin(), names.end(), PortBefore);
    HWND list = Item(IDC_ST_PORTS);
    SendMessageW(list, LVM_DELETEALLITEMS, 0, 0);
    for (std::size_t i = 0; i < names.size(); ++i)
    {
        SetCell(list, static_cast<int>(i), 0, names[i]);
        const bool on = std::find(chosen.named.begin(), chosen.named.end(), names[i]) != chosen.named.end();
        LVITEMW item{};
        item.stateMask = LVIS_STATEIMAGEMASK;
        item.state = INDEXTOSTATEIMAGEMASK(on ? 2 : 1);
        SendMessageW(list, LVM_SETITEMSTATE, i, reinterpret_cast<LPARAM>(&item));
    }
    CheckRadioButton(m_hWnd, IDC_ST_EVERY, IDC_ST_NAMED, chosen.every ? IDC_ST_EVERY : IDC_ST_NAMED);
    EnableWindow(list, !chosen.every);
}

StationPorts CStationDlg::ChosenPorts() const
{
    StationPorts ports;
    ports.every = IsDlgButtonChecked(m_hWnd, IDC_ST_EVERY) == BST_CHECKED;
    HWND list = Item(IDC_ST_PORTS);
    const int count = static_cast<int>(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0));
    for (int i = 0; i < count && !ports.every; ++i)
    {
        const auto state = SendMessageW(list, LVM_GETITEMSTATE, static_cast<WPARAM>(i), LVIS_STATEIMAGEMASK);
        if ((static_cast<UINT>(state) & LVIS_STATEIMAGEMASK) != INDEXTOSTATEIMAGEMASK(2))
            continue;
        wchar_t name[32] = {};
        LVITEMW item{};
        item.iSubItem = 0;
        item.pszText = name;
        item.cchTextMax = 32;
        SendMessageW(list, LVM_GETITEMTEXTW, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(&item));
        ports.named.push_back(ComPortName(name));
    }
    return ports;
}

void CStationDlg::Browse(int field, bool record)
{
    // A record is appended to: an existing one is the usual choice, not a file to overwrite.
    // The working folder stays the one the program started in: relative paths keep their meaning.
    AskForFile(field,
               record ? L"Station records (*.jsonl)\0*.jsonl\0All files (*.*)\0*.*\0"
                      : L"Firmware images (*.bin)\0*.bin\0All files (*.*)\0*.*\0",
               theApp.m_strModuleDir,
               OFN_PATHMUSTEXIST | OFN_HIDEREADONLY | OFN_NOCHANGEDIR | (record ? 0 : OFN_FILEMUSTEXIST), record,
               record ? L"jsonl" : nullptr);
}

void CStationDlg::EnableChoices(bool enable)
{
    // While a station runs its choices make way for the tiles: the lines below say what it uses.
    for (int id : kChoices)
    {
        EnableWindow(Item(id), enable);
        ShowWindow(Item(id), enable ? SW_SHOW : SW_HIDE);
    }
    if (enable)
        EnableWindow(Item(IDC_ST_PORTS), IsDlgButtonChecked(m_hWnd, IDC_ST_NAMED) == BST_CHECKED);
    EnableWindow(Item(IDC_ST_START), enable);
    EnableWindow(Item(IDC_ST_STOP), !enable);
    SetItemText(IDC_ST_STOP, L"S&top");
    // The focus never stays on a control just disabled, where the keyboard would lose it.
    SetFocus(Item(enable ? IDC_ST_START : IDC_ST_STOP));
    Layout();
}

void CStationDlg::Start()
{
    if (m_run)
        return;
    const StationPorts ports = ChosenPorts();
    if (!ports.every && ports.named.empty())
    {
        MessageBoxW(m_hWnd, L"Choose the ports: every USB serial port, or at least one COM port of the list.",
                    theApp.m_strModuleName.c_str(), MB_OK | MB_ICONWARNING);
        return;
    }
    BOOL number = FALSE;
    const UINT count = GetDlgItemInt(m_hWnd, IDC_ST_COUNT, &number, FALSE);
    if (!number || count > static_cast<UINT>(kMaxCount))
    {
        MessageBoxW(
            m_hWnd,
            (L"Stop after: give a whole number from 0 (no limit) to " + std::to_wstring(kMaxCount) + L".").c_str(),
            theApp.m_strModuleName.c_str(), MB_OK | MB_ICONWARNING);
        return;
    }
    auto run = std::make_unique<Running>();
    UpgradeRequest& request = run->options.request;
    request.appPath = GetItemText(IDC_ST_APP);
    request.rcdbPath = GetItemText(IDC_ST_RCDB);
    request.strictImages = true;
    request.saveSettings = false;
    request.waitMs = 0;
    // Read and checked once, before any port: every radio of the day gets these bytes.
    std::vector<UpgradeImage> images;
    UpgradeResult imageResult;
    if (!LoadImages(request, images, imageResult) || images.empty())
    {
        const std::wstring text = images.empty() && imageResult.message.empty()
                                      ? L"No data can be written! Choose an application image or an RCDB image."
                                      : imageResult.message;
        MessageBoxW(m_hWnd, text.c_str(), theApp.m_strModuleName.c_str(), MB_OK | MB_ICONWARNING);
        return;
    }
    const std::string imagesText = ImagesText(images);
    request.images = std::make_shared<const std::vector<UpgradeImage>>(std::move(images));
    std::vector<std::string> warnings;
    request.patterns = ReadRadioPatterns(warnings);

    std::wstring record = FullPath(GetItemText(IDC_ST_RECORD));
    if (record.empty())
        record = theApp.m_strModuleDir + theApp.m_strModuleName + L"-radios.jsonl";
    // The choices kept for the next day; a file that cannot be written changes nothing today.
    WriteSectionString("Station", "Ports", PortsSettingText(ports));
    WriteSectionString("Station", "Record", WideToNarrow(record));
    WriteSectionString("Station", "Count", std::to_string(count));
    // The images chosen here are the main dialog's too; images of a bench's switches are that
    // bench's alone, and an image left out clears nothing.
    if (!m_switches.app && !m_switches.rcdb)
    {
        if (!request.appPath.empty())
            WriteSettingString("app_bin_file", WideToNarrow(request.appPath));
        if (!request.rcdbPath.empty())
            WriteSettingString("rcdb_bin_file", WideToNarrow(request.rcdbPath));
    }

    StationOptions& options = run->options;
    options.makePort = [] { return std::make_shared<CpsSerialPort>(); };
    for (const auto& port : ports.named)
        options.named.push_back({port, L"\\\\.\\" + Utf8ToWide(port), {}, {}});
    if (ports.every)
    {
        run->watcher = MakeUsbPortWatcher();
        options.watcher = run->watcher.get();
    }
    options.settleMs = kSettleMs;
    options.count = static_cast<int>(count);
    options.recordPath = record;
    options.version = KD7X_VERSION;
    options.stationId = ComputerName();
    options.operatorName = OperatorName();
    std::string raw;
    options.quarantine = kDefaultQuarantine;
    if (ReadSectionRaw("Station", "Quarantine", raw) && !raw.empty())
    {
        const auto quarantine = WholeNumber(raw, 0, kMaxQuarantine);
        if (!quarantine)
            warnings.push_back("Quarantine=" + raw + " of [Station] is not a whole number from 0 to " +
                               std::to_string(kMaxQuarantine) + "; " + std::to_string(kDefaultQuarantine) +
                               " is taken");
        options.quarantine = quarantine.value_or(kDefaultQuarantine);
    }
    options.releases = &run->releases;
    options.stopAgain = "Stop";
    HWND hwnd = m_hWnd;
    run->inbox = std::make_unique<CStationInbox>([hwnd] { return PostMessageW(hwnd, kWakeMessage, 0, 0) != FALSE; });

    m_named = ports.every ? std::vector<std::string>{} : ports.named;
    m_board.Start(std::chrono::system_clock::now(), WideToUtf8(record), m_named);
    m_started = true;
    m_recordRed = false;
    m_tiles.clear();
    SendMessageW(Item(IDC_ST_RADIOS), LVM_DELETEALLITEMS, 0, 0);
    SetText(IDC_ST_IMAGES, "Images: " + imagesText);
    for (const auto& warning : warnings)
        m_board.Note(warning);
    EnableChoices(false);

    Running* running = run.get();
    m_run = std::move(run);
    try
    {
        m_run->thread = std::thread([running, hwnd] {
            try
            {
                running->end = RunStation(running->options, *running->inbox, SystemClock(), running->stops);
            }
            catch (const std::exception& e)
            {
                running->failure = e.what();
            }
            PostMessageW(hwnd, kEndedMessage, 0, 0);
        });
    }
    catch (const std::system_error& e)
    {
        m_run.reset();
        EnableChoices(true);
        MessageBoxW(m_hWnd, (L"The station cannot start: " + Utf8ToWide(e.what())).c_str(),
                    theApp.m_strModuleName.c_str(), MB_OK | MB_ICONERROR);
        return;
    }
    Layout();
    Refresh();
}

void CStationDlg::Stop()
{
    if (!m_run)
        return;
    // The first: no new radio, those under way finish; the second: they are stopped. A double
    // click (or a key held) is one Stop: the second must be meant, it costs every radio under way.
    const DWORD now = GetTickCount();
    if (m_run->stops.load() == 1 && now - m_firstStopTick < kSecondStopAfterMs)
        return;
    m_firstStopTick = now;
    const int stops = std::min(m_run->stops.load() + 1, 2);
    m_run->stops = stops;
    if (stops == 1)
        SetItemText(IDC_ST_STOP, L"S&top them");
    else
        EnableWindow(Item(IDC_ST_STOP), FALSE);
    if (stops == 2)
        SetFocus(Item(IDC_ST_CLOSE));
}

void CStationDlg::TakeEvents()
{
    if (!m_run)
        return;
    bool done = false, failed = false;
    for (const StationSound sound : m_run->inbox->Drain(m_board))
    {
        m_rowsDue = true;
        done = done || sound == StationSound::Done;
        failed = failed || sound == StationSound::Failed;
    }
    // One sound for what came at once, the failure's before all.
    if ((done || failed) && IsDlgButtonChecked(m_hWnd, IDC_ST_MUTE) != BST_CHECKED)
        MessageBeep(failed ? MB_ICONHAND : MB_ICONASTERISK);
}

void CStationDlg::Wake()
{
    // The events wait for the timer: until it has taken them, the inbox posts no other wake-up,
    // so a bench of busy ports costs at most ten wake-ups a second.
    if (!m_paintDue)
        m_paintDue = SetTimer(m_hWnd, kPaintTimer, kPaintEveryMs, nullptr) != 0;
    if (!m_paintDue)
    {
        TakeEvents();
        Refresh();
    }
}

void CStationDlg::Ended()
{
    if (!m_run)
        return;
    m_run->thread.join();
    TakeEvents();
    const std::string refused = m_run->end.refused;
    const std::string failure = m_run->failure;
    const std::wstring record = m_run->options.recordPath;
    m_run.reset();
    KillTimer(m_hWnd, kPaintTimer);
    m_paintDue = false;
    Refresh();
    EnableChoices(true);
    if (m_closing)
    {
        EndDialog(IDCANCEL);
        return;
    }
    if (!refused.empty())
        MessageBoxW(m_hWnd,
                    (L"The record \"" + record + L"\" cannot be created: " + Utf8ToWide(refused) +
                     L"\r\n\r\nNo radio was taken. Choose another record file.")
                        .c_str(),
                    theApp.m_strModuleName.c_str(), MB_OK | MB_ICONERROR);
    else if (!failure.empty())
        MessageBoxW(m_hWnd, (L"The station stopped: " + Utf8ToWide(failure)).c_str(), theApp.m_strModuleName.c_str(),
                    MB_OK | MB_ICONERROR);
}

void CStationDlg::SetText(int id, const std::string& text)
{
    const std::wstring wide = Utf8ToWide(text);
    HWND item = Item(id);
    if (item != nullptr && WindowText(item) != wide)
        SetWindowTextW(item, wide.c_str());
}

void CStationDlg::Refresh()
{
    if (!m_started)
        return;
    const StationTallies tallies = m_board.Tallies(std::chrono::system_clock::now());
    SetText(IDC_ST_FLASHED, tallies.flashed);
    SetText(IDC_ST_FAILED, tallies.failed);
    SetText(IDC_ST_YIELD, tallies.yield);
    SetText(IDC_ST_RATE, tallies.perHour);
    SetText(IDC_ST_SINCE, tallies.since);
    SetText(IDC_ST_RECORD_TEXT, tallies.record);
    if (tallies.recordFailed != m_recordRed)
    {
        m_recordRed = tallies.recordFailed;
        InvalidateRect(Item(IDC_ST_RECORD_TEXT), nullptr, TRUE);
    }
    // A changed image stays said: a later note must not hide it.
    const std::string& note = m_board.LastNote();
    SetText(IDC_ST_NOTE, tallies.imageChanged.empty() || note.find(tallies.imageChanged) != std::string::npos
                             ? note
                             : tallies.imageChanged + ". " + note);

    const std::vector<StationTile> tiles = m_board.Tiles();
    bool moved = tiles.size() != m_tiles.size();
    for (std::size_t i = 0; i < tiles.size(); ++i)
    {
        // A port that came or went shifts the tiles after it: each is shown again in its place.
        if (i >= m_tiles.size())
            m_tiles.push_back(std::make_unique<CStationTile>(m_hWnd, IDC_ST_TILE_FIRST + static_cast<int>(i), m_fonts));
        m_tiles[i]->Show(tiles[i]);
    }
    if (m_tiles.size() > tiles.size())
        m_tiles.resize(tiles.size());
    if (moved)
        Layout();
    if (m_rowsDue)
        ShowRows();
}

void CStationDlg::ShowRows()
{
    m_rowsDue = false;
    HWND list = Item(IDC_ST_RADIOS);
    SendMessageW(list, WM_SETREDRAW, FALSE, 0);
    SendMessageW(list, LVM_DELETEALLITEMS, 0, 0);
    int i = 0;
    for (const StationRow& row : m_board.Rows())
    {
        int column = 0;
        for (const std::string* text : {&row.time, &row.port, &row.radioId, &row.outcome, &row.duration})
            SetCell(list, i, column++, *text);
        ++i;
    }
    SendMessageW(list, WM_SETREDRAW, TRUE, 0);
    InvalidateRect(list, nullptr, TRUE);
}

void CStationDlg::Layout()
{
    RECT client;
    GetClientRect(m_hWnd, &client);
    const int width = client.right;
    const int height = client.bottom;
    const int m = Px(10);
    const int gap = Px(6);
    const int row = Px(24);
    const auto place = [this](int id, int x, int y, int w, int h) { MoveWindow(Item(id), x, y, w, h, FALSE); };

    // The choices: the ports' list on the right, the files and the buttons to its left; only the
    // buttons while a station runs.
    int y = m;
    const int button = Px(96);
    if (!m_run)
    {
        const int listWidth = Px(170);
        const int listX = width - m - listWidth;
        place(IDC_ST_PORTS, listX, m, listWidth, 4 * row + 3 * gap);
        SendMessageW(Item(IDC_ST_PORTS), LVM_SETCOLUMNWIDTH, 0, listWidth - Px(24));
        const int right = listX - Px(12);
        place(IDC_ST_EVERY, m, y, Px(190), row);
        place(IDC_ST_NAMED, m + Px(200), y, Px(140), row);
        const int labelWidth = Px(90);
        const int fieldX = m + labelWidth + gap;
        for (const auto& [label, field, browse] :
             {std::tuple(IDC_ST_APP_LABEL, IDC_ST_APP, IDC_ST_APP_BROWSE),
              std::tuple(IDC_ST_RCDB_LABEL, IDC_ST_RCDB, IDC_ST_RCDB_BROWSE),
              std::tuple(IDC_ST_RECORD_LABEL, IDC_ST_RECORD, IDC_ST_RECORD_BROWSE)})
        {
            y += row + gap;
            place(label, m, y + Px(4), labelWidth, row - Px(4));
            place(field, fieldX, y, right - fieldX - Px(34), row);
            place(browse, right - Px(30), y, Px(30), row);
        }
        y += row + gap + Px(6);
        place(IDC_ST_COUNT_LABEL, m, y + Px(6), Px(70), row - Px(4));
        place(IDC_ST_COUNT, m + Px(74), y + Px(2), Px(64), row);
        place(IDC_ST_COUNT_UNIT, m + Px(144), y + Px(6), Px(190), row - Px(4));
        place(IDC_ST_MUTE, m + Px(340), y + Px(2), Px(120), row);
    }
    else
        place(IDC_ST_MUTE, m, y + Px(2), Px(120), row);
    place(IDC_ST_CLOSE, width - m - button, y, button, Px(28));
    place(IDC_ST_STOP, width - m - 2 * button - gap, y, button, Px(28));
    place(IDC_ST_START, width - m - 3 * button - 2 * gap, y, button, Px(28));

    // What the station does: its images and record, its tallies, its last word.
    y += Px(28) + 2 * gap;
    place(IDC_ST_IMAGES, m, y, width - 2 * m, Px(18));
    y += Px(20);
    place(IDC_ST_RECORD_TEXT, m, y, width - 2 * m, Px(18));
    y += Px(24);
    const int tallyWidth = width - 2 * m;
    int x = m;
    for (const auto& [id, share] :
         {std::pair(IDC_ST_FLASHED, 14), std::pair(IDC_ST_FAILED, 15), std::pair(IDC_ST_YIELD, 24),
          std::pair(IDC_ST_RATE, 13), std::pair(IDC_ST_SINCE, 34)})
    {
        const int w = tallyWidth * share / 100;
        place(id, x, y, w - gap, Px(28));
        x += w;
    }
    y += Px(32);
    place(IDC_ST_NOTE, m, y, width - 2 * m, Px(18));
    y += Px(26);
    place(IDC_ST_TILES_LABEL, m, y, width - 2 * m, Px(18));
    y += Px(22);

    // The tiles reflow into as many columns as the width takes; the list of radios has the rest.
    const int count = static_cast<int>(m_tiles.size());
    const int areaWidth = width - 2 * m;
    int columns = std::max(1, (areaWidth + gap) / (Px(CStationTile::kMinWidth) + gap));
    columns = std::max(1, std::min(columns, count));
    const int tileWidth = std::min((areaWidth - (columns - 1) * gap) / columns, Px(2 * CStationTile::kMinWidth));
    const int tileHeight = Px(CStationTile::kHeight);
    for (int i = 0; i < count; ++i)
    {
        const RECT r{m + (i % columns) * (tileWidth + gap), y + (i / columns) * (tileHeight + gap), 0, 0};
        m_tiles[static_cast<std::size_t>(i)]->Place({r.left, r.top, r.left + tileWidth, r.top + tileHeight}, Scale());
    }
    const int rows = (count + columns - 1) / columns;
    y += rows * (tileHeight + gap) + (count > 0 ? gap : 0);
    place(IDC_ST_RADIOS_LABEL, m, y, width - 2 * m, Px(18));
    y += Px(20);
    place(IDC_ST_RADIOS, m, y, width - 2 * m, std::max(Px(60), height - m - y));

    // Tab order: the tiles between their label and the list's.
    HWND after = Item(IDC_ST_TILES_LABEL);
    for (const auto& tile : m_tiles)
    {
        SetWindowPos(tile->Hwnd(), after, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
        after = tile->Hwnd();
    }
    RedrawWindow(m_hWnd, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN);
}

void CStationDlg::Release(int tileId)
{
    const auto index = static_cast<std::size_t>(tileId - IDC_ST_TILE_FIRST);
    if (!m_run || index >= m_tiles.size() || !m_tiles[index]->Shown().releasable)
        return;
    m_run->releases.Release(m_tiles[index]->Shown().port);
    m_board.Note(m_tiles[index]->Shown().port + " taken back: it takes the next radio");
    Refresh();
}

void CStationDlg::Close()
{
    if (!m_run)
    {
        EndDialog(IDCANCEL);
        return;
    }
    // The question's own message loop brings further close requests here: the open question
    // answers them.
    if (m_asking || m_closing)
        return;
    // What the inbox holds counts: a radio whose menu was just seen is being flashed.
    TakeEvents();
    if (m_board.Flashing())
    {
        m_asking = true;
        const int answer = MessageBoxW(
            m_hWnd, L"Radios are being flashed. Stop them and close? Each radio stopped will need a new upgrade.",
            theApp.m_strModuleName.c_str(), MB_YESNO | MB_ICONWARNING | MB_DEFBUTTON2);
        m_asking = false;
        if (answer != IDYES)
            return;
        if (!m_run)
        {
            EndDialog(IDCANCEL); // it ended while the question was open
            return;
        }
    }
    // The ports are let go by the station's own end; the window goes then.
    m_closing = true;
    m_run->stops = 2;
    m_board.Note("Closing: the station lets go of its ports");
    Refresh();
}

void CStationDlg::OnCancel()
{
    // Escape closes an idle window only: a station runs all day and a stray key must not end it.
    if (!m_run)
        Close();
}

bool CStationDlg::OnMessage(UINT message, WPARAM wParam, LPARAM lParam, INT_PTR& result)
{
    result = TRUE;
    switch (message)
    {
    case kWakeMessage: Wake(); return true;
    case kEndedMessage: Ended(); return true;
    case WM_TIMER:
        if (wParam != kPaintTimer)
            return false;
        KillTimer(m_hWnd, kPaintTimer);
        m_paintDue = false;
        TakeEvents();
        Refresh();
        return true;
    case WM_CLOSE: Close(); return true;
    case WM_SIZE: Layout(); return true;
    case WM_GETMINMAXINFO:
    {
        auto* info = reinterpret_cast<MINMAXINFO*>(lParam);
        // Never more than the screen's work area, or a small screen could not show the window's foot.
        MONITORINFO monitor{};
        monitor.cbSize = sizeof monitor;
        LONG width = Px(760), height = Px(600);
        if (GetMonitorInfoW(MonitorFromWindow(m_hWnd, MONITOR_DEFAULTTONEAREST), &monitor))
        {
            width = std::min(width, monitor.rcWork.right - monitor.rcWork.left);
            height = std::min(height, monitor.rcWork.bottom - monitor.rcWork.top);
        }
        info->ptMinTrackSize = {width, height};
        return true;
    }
    case kDpiChangedMessage:
    {
        m_dpi = HIWORD(wParam);
        MakeFonts();
        const auto* r = reinterpret_cast<const RECT*>(lParam);
        SetWindowPos(m_hWnd, nullptr, r->left, r->top, r->right - r->left, r->bottom - r->top,
                     SWP_NOZORDER | SWP_NOACTIVATE);
        return true;
    }
    case WM_CTLCOLORSTATIC:
        if (reinterpret_cast<HWND>(lParam) != Item(IDC_ST_RECORD_TEXT) || !m_recordRed)
            return false;
        // A record that cannot be written is said in red: no new radio is taken.
        SetTextColor(reinterpret_cast<HDC>(wParam), RGB(200, 0, 0));
        SetBkMode(reinterpret_cast<HDC>(wParam), TRANSPARENT);
        result = reinterpret_cast<INT_PTR>(GetSysColorBrush(COLOR_BTNFACE));
        return true;
    case WM_COMMAND: break;
    default: return false;
    }
    const int id = LOWORD(wParam);
    if (id >= IDC_ST_TILE_FIRST && id < IDC_ST_TILE_FIRST + 1000)
    {
        Release(id);
        return true;
    }
    switch (id)
    {
    case IDC_ST_START: Start(); return true;
    case IDC_ST_STOP: Stop(); return true;
    case IDC_ST_CLOSE: Close(); return true;
    case IDC_ST_EVERY:
    case IDC_ST_NAMED:
        EnableWindow(Item(IDC_ST_PORTS), IsDlgButtonChecked(m_hWnd, IDC_ST_NAMED) == BST_CHECKED);
        return true;
    case IDC_ST_APP_BROWSE: Browse(IDC_ST_APP, false); return true;
    case IDC_ST_RCDB_BROWSE: Browse(IDC_ST_RCDB, false); return true;
    case IDC_ST_RECORD_BROWSE: Browse(IDC_ST_RECORD, true); return true;
    case IDC_ST_MUTE:
        WriteSectionString("Station", "Mute", IsDlgButtonChecked(m_hWnd, IDC_ST_MUTE) == BST_CHECKED ? "1" : "0");
        return true;
    case IDOK: return true; // Enter starts and ends nothing by itself
    case IDCANCEL: OnCancel(); return true;
    default: return false;
    }
}
