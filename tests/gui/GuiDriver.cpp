// Drives KD7XUpdateTool.exe from outside, as an operator would: waits for its windows, presses
// buttons, reads their texts. One step per invocation; without one it lists the steps. The steps
// work on the main dialog, or on the window --window CAPTION names first (the station window).
// Exit codes are the driver's own findings, so that a caller can tell them from a Wine that failed
// to start the driver (any other code: 1 most often, or a crash's):
//   0   done
//   10  not found: the window or control is not there, or did not come (or answer) in the time given
//   11  still there: a window clicked away did not go within 20 seconds
//   12  refused: the system did not take the input or the query
//   64  no such step, or bad arguments
// Steps that click a box away return once it has gone, so the next step never finds it.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

namespace
{
const int kDone = 0;
const int kNotFound = 10;
const int kStillThere = 11;
const int kRefused = 12;
const int kUsage = 64;

std::wstring g_mainCaption = L"KD7X host upgrade tool";
const wchar_t* const kTileClass = L"KD7XStationTile";
const int kGoneMs = 20000;
// The message box's text control.
const int kBoxText = 0xFFFF;

using Args = std::vector<std::string>;
struct BadArguments
{
};

int Number(const std::string& text)
{
    char* end = nullptr;
    const long value = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || value < 0 || value > 3600000)
        throw BadArguments{};
    return static_cast<int>(value);
}

std::wstring Wide(const std::string& text)
{
    wchar_t wide[1024] = {};
    MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, wide, 1023);
    return wide;
}

void Print(const std::wstring& text)
{
    char narrow[4096] = {};
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, narrow, sizeof narrow - 1, nullptr, nullptr);
    std::printf("%s\n", narrow);
}

HWND MainWindow() { return FindWindowW(L"#32770", g_mainCaption.c_str()); }
HWND AboutWindow() { return FindWindowW(L"#32770", L"About KD7XUpdateTool"); }

struct Search
{
    HWND owner;
    int childId;
    std::vector<HWND> found;
};

// Visible dialogs with the child control: a message box has its text in kBoxText, the tip window
// 1002. With no owner asked for, any owner will do.
BOOL CALLBACK CollectDialog(HWND hwnd, LPARAM lParam)
{
    auto* search = reinterpret_cast<Search*>(lParam);
    wchar_t cls[16] = {};
    GetClassNameW(hwnd, cls, 16);
    if (IsWindowVisible(hwnd) && std::wstring(cls) == L"#32770" && GetDlgItem(hwnd, search->childId) &&
        (search->owner == nullptr || GetWindow(hwnd, GW_OWNER) == search->owner))
        search->found.push_back(hwnd);
    return TRUE;
}

std::vector<HWND> Dialogs(HWND owner, int childId)
{
    Search search{owner, childId, {}};
    EnumWindows(CollectDialog, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

HWND Owned(int childId)
{
    HWND main = MainWindow();
    const auto found = main != nullptr ? Dialogs(main, childId) : std::vector<HWND>{};
    return found.empty() ? nullptr : found.front();
}

HWND Box() { return Owned(kBoxText); }
HWND Tip() { return Owned(1002); }

HWND AnyBox()
{
    const auto found = Dialogs(nullptr, kBoxText);
    return found.empty() ? nullptr : found.front();
}

std::wstring Text(HWND hwnd, int id)
{
    wchar_t text[2048] = {};
    GetDlgItemTextW(hwnd, id, text, 2048);
    return text;
}

bool WaitFor(const std::function<bool()>& done, int ms)
{
    for (int waited = 0; waited <= ms; waited += 50)
    {
        if (done())
            return true;
        Sleep(50);
    }
    return false;
}

int WaitForWindow(const std::function<HWND()>& find, int ms)
{
    return WaitFor([&] { return find() != nullptr && IsWindowVisible(find()); }, ms) ? kDone : kNotFound;
}

// Posts a click to a button of the window and waits for the window to go (closed or hidden): a
// posted click lands later, and the next step must not find this window still there.
int ClickAway(HWND window, int button)
{
    HWND control = window != nullptr ? GetDlgItem(window, button) : nullptr;
    if (control == nullptr || !PostMessageW(control, BM_CLICK, 0, 0))
        return kNotFound;
    return WaitFor([window] { return !IsWindow(window) || !IsWindowVisible(window); }, kGoneMs) ? kDone : kStillThere;
}

int PrintText(HWND window, int id)
{
    if (window == nullptr || GetDlgItem(window, id) == nullptr)
        return kNotFound;
    Print(Text(window, id));
    return kDone;
}

BOOL CALLBACK FirstStaticText(HWND child, LPARAM out)
{
    wchar_t cls[32] = {};
    GetClassNameW(child, cls, 32);
    const bool icon = (GetWindowLongW(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON;
    if (std::wstring(cls) == L"Static" && !icon && GetWindowTextLengthW(child) > 0)
    {
        GetWindowTextW(child, reinterpret_cast<wchar_t*>(out), 256);
        return FALSE;
    }
    return TRUE;
}

int OpenAbout(const Args& args)
{
    // The system menu's About entry, command 16.
    if (MainWindow() == nullptr || !PostMessageW(MainWindow(), WM_SYSCOMMAND, 0x10, 0))
        return kNotFound;
    if (WaitForWindow(AboutWindow, Number(args[0])) != kDone)
        return kNotFound;
    wchar_t text[256] = {};
    EnumChildWindows(AboutWindow(), FirstStaticText, reinterpret_cast<LPARAM>(text));
    Print(text);
    return kDone;
}

int WaitTip(const Args& args)
{
    const std::wstring prefix = Wide(args[0]);
    const bool seen = WaitFor(
        [&] {
            HWND tip = Tip();
            return tip != nullptr && Text(tip, 1002).rfind(prefix, 0) == 0;
        },
        Number(args[1]));
    return seen ? PrintText(Tip(), 1002) : kNotFound;
}

// A close request the dialog must have handled before the step returns: one that opens a box (or
// hangs) is not handled within the time given.
int SendClose(const Args& args)
{
    DWORD_PTR result = 0;
    if (MainWindow() == nullptr)
        return kNotFound;
    return SendMessageTimeoutW(MainWindow(), WM_CLOSE, 0, 0, SMTO_NORMAL, static_cast<UINT>(Number(args[0])),
                               &result) != 0
               ? kDone
               : kNotFound;
}

int Rect(const Args& args)
{
    // The screenshot itself is taken from the X side, by the script.
    const std::string& which = args[0];
    HWND hwnd = which == "main" ? MainWindow() : which == "about" ? AboutWindow() : which == "tip" ? Tip() : Box();
    RECT r;
    if (hwnd == nullptr || !GetWindowRect(hwnd, &r))
        return kNotFound;
    std::printf("%ldx%ld+%ld+%ld\n", r.right - r.left, r.bottom - r.top, r.left, r.top);
    return kDone;
}

// 1 or 0: what test says of the main window's control ID.
int PrintFlag(const Args& args, BOOL(WINAPI* test)(HWND))
{
    HWND main = MainWindow();
    if (main == nullptr)
        return kNotFound;
    std::printf("%d\n", test(GetDlgItem(main, Number(args[0]))) ? 1 : 0);
    return kDone;
}

int Focus(const Args&)
{
    HWND main = MainWindow();
    if (main == nullptr)
        return kNotFound;
    GUITHREADINFO info{};
    info.cbSize = sizeof info;
    if (!GetGUIThreadInfo(GetWindowThreadProcessId(main, nullptr), &info))
        return kRefused;
    // A combo box's focus is on its edit field: report the dialog's own child.
    HWND control = info.hwndFocus;
    while (control != nullptr && GetParent(control) != main)
        control = GetParent(control);
    std::printf("%d\n", control != nullptr ? GetDlgCtrlID(control) : 0);
    return kDone;
}

int PressEnter(const Args&)
{
    if (MainWindow() == nullptr)
        return kNotFound;
    SetForegroundWindow(MainWindow());
    INPUT keys[2] = {};
    keys[0].type = keys[1].type = INPUT_KEYBOARD;
    keys[0].ki.wVk = keys[1].ki.wVk = VK_RETURN;
    keys[1].ki.dwFlags = KEYEVENTF_KEYUP;
    return SendInput(2, keys, sizeof(INPUT)) == 2 ? kDone : kRefused;
}

// The station window's tiles, in their order: port, state, detail, radio ID and last outcome
// (the tile's controls 1, 2, 3, 6 and 7), joined by "|".
BOOL CALLBACK CollectTile(HWND child, LPARAM out)
{
    wchar_t cls[32] = {};
    GetClassNameW(child, cls, 32);
    if (std::wstring(cls) == kTileClass)
        reinterpret_cast<std::vector<HWND>*>(out)->push_back(child);
    return TRUE;
}

std::vector<HWND> Tiles()
{
    std::vector<HWND> tiles;
    if (MainWindow() != nullptr)
        EnumChildWindows(MainWindow(), CollectTile, reinterpret_cast<LPARAM>(&tiles));
    return tiles;
}

std::wstring TileLine(HWND tile)
{
    std::wstring line;
    for (int id : {1, 2, 3, 6, 7})
        line += (line.empty() ? L"" : L"|") + Text(tile, id);
    return line;
}

HWND TileOf(const std::string& port)
{
    for (HWND tile : Tiles())
        if (Text(tile, 1) == Wide(port))
            return tile;
    return nullptr;
}

int PrintTiles(const Args&)
{
    if (MainWindow() == nullptr)
        return kNotFound;
    for (HWND tile : Tiles())
        Print(TileLine(tile));
    return kDone;
}

// Until the port's tile line holds the text, then the line.
int WaitTile(const Args& args)
{
    const std::wstring text = Wide(args[1]);
    const bool seen = WaitFor(
        [&] {
            HWND tile = TileOf(args[0]);
            return tile != nullptr && TileLine(tile).find(text) != std::wstring::npos;
        },
        Number(args[2]));
    if (!seen)
        return kNotFound;
    Print(TileLine(TileOf(args[0])));
    return kDone;
}

// A click on the tile, or Enter on it as the keyboard sends it: through the window's message loop.
int PostToTile(const std::string& port, UINT message, WPARAM wParam)
{
    HWND tile = TileOf(port);
    return tile != nullptr && PostMessageW(tile, message, wParam, 0) ? kDone : kNotFound;
}

struct Step
{
    const char* name;
    const char* arguments; // as the list shows them, one word each
    std::size_t count;
    int (*run)(const Args&);
};

// A new window gets its steps here; "text" already reads any window's control by its caption.
const Step kSteps[] = {
    {"wait-main", "MS", 1, [](const Args& a) { return WaitForWindow(MainWindow, Number(a[0])); }},
    {"wait-gone", "MS", 1,
     [](const Args& a) { return WaitFor([] { return MainWindow() == nullptr; }, Number(a[0])) ? kDone : kNotFound; }},
    {"close-main", "", 0, [](const Args&) { return PostMessageW(MainWindow(), WM_CLOSE, 0, 0) ? kDone : kNotFound; }},
    {"send-close", "MS", 1, SendClose},
    {"click-update", "", 0,
     [](const Args&) { return PostMessageW(GetDlgItem(MainWindow(), 1001), BM_CLICK, 0, 0) ? kDone : kNotFound; }},
    {"wait-tip", "TEXT MS", 2, WaitTip},
    {"click-cancel", "", 0, [](const Args&) { return ClickAway(Tip(), IDCANCEL); }},
    {"wait-box", "MS", 1,
     [](const Args& a) { return WaitForWindow(Box, Number(a[0])) == kDone ? PrintText(Box(), kBoxText) : kNotFound; }},
    {"close-box", "", 0, [](const Args&) { return ClickAway(Box(), IDOK); }},
    {"answer-box", "yes|no", 1,
     [](const Args& a) {
         if (a[0] != "yes" && a[0] != "no")
             throw BadArguments{};
         return ClickAway(Box(), a[0] == "yes" ? IDYES : IDNO);
     }},
    {"count-boxes", "", 0,
     [](const Args&) {
         HWND main = MainWindow();
         if (main == nullptr)
             return kNotFound;
         std::printf("%zu\n", Dialogs(main, kBoxText).size());
         return kDone;
     }},
    {"wait-any-box", "MS", 1,
     [](const Args& a) {
         return WaitForWindow(AnyBox, Number(a[0])) == kDone ? PrintText(AnyBox(), kBoxText) : kNotFound;
     }},
    {"close-any-box", "", 0, [](const Args&) { return ClickAway(AnyBox(), IDOK); }},
    {"open-about", "MS", 1, OpenAbout},
    {"close-about", "", 0, [](const Args&) { return ClickAway(AboutWindow(), IDOK); }},
    {"text", "CAPTION ID", 2,
     [](const Args& a) { return PrintText(FindWindowW(nullptr, Wide(a[0]).c_str()), Number(a[1])); }},
    {"visible", "ID", 1, [](const Args& a) { return PrintFlag(a, IsWindowVisible); }},
    {"focus", "", 0, Focus},
    {"press-enter", "", 0, PressEnter},
    {"rect", "main|tip|box|about", 1, Rect},
    {"click", "ID", 1,
     [](const Args& a) {
         HWND button = MainWindow() != nullptr ? GetDlgItem(MainWindow(), Number(a[0])) : nullptr;
         return button != nullptr && PostMessageW(button, BM_CLICK, 0, 0) ? kDone : kNotFound;
     }},
    {"enabled", "ID", 1, [](const Args& a) { return PrintFlag(a, IsWindowEnabled); }},
    {"syscommand", "ID", 1,
     [](const Args& a) {
         return PostMessageW(MainWindow(), WM_SYSCOMMAND, static_cast<WPARAM>(Number(a[0])), 0) ? kDone : kNotFound;
     }},
    {"tiles", "", 0, PrintTiles},
    {"wait-tile", "PORT TEXT MS", 3, WaitTile},
    {"click-tile", "PORT", 1, [](const Args& a) { return PostToTile(a[0], WM_LBUTTONDOWN, MK_LBUTTON); }},
    {"press-tile", "PORT", 1, [](const Args& a) { return PostToTile(a[0], WM_KEYDOWN, VK_RETURN); }},
};

int Usage()
{
    std::fprintf(stderr, "usage: gui_driver [--window CAPTION] STEP [ARGUMENTS]; the steps:\n");
    for (const Step& step : kSteps)
        std::fprintf(stderr, "  %s %s\n", step.name, step.arguments);
    return kUsage;
}
} // namespace

int main(int argc, char** argv)
{
    if (argc >= 3 && argv[1] == std::string("--window"))
    {
        g_mainCaption = Wide(argv[2]);
        argc -= 2;
        argv += 2;
    }
    if (argc < 2)
        return Usage();
    const Args args(argv + 2, argv + argc);
    for (const Step& step : kSteps)
    {
        if (argv[1] != std::string(step.name))
            continue;
        if (args.size() != step.count)
            return Usage();
        try
        {
            return step.run(args);
        }
        catch (const BadArguments&)
        {
            return Usage();
        }
    }
    return Usage();
}
