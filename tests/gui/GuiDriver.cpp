// Drives KD7XUpdateTool.exe from outside, as an operator would: waits for its windows, presses
// buttons, reads the outcome box, takes screenshots. One step per invocation; exit code 0 when
// the step succeeded.
//   gui_driver wait-main MS | click-update | wait-box MS (prints its text) | close-box | answer-box yes|no
//   gui_driver wait-tip TEXT MS | click-cancel | rect main|tip|box|about (prints WxH+X+Y for a screenshot)
//   gui_driver open-about MS (prints its text) | close-about | close-main | wait-gone MS
//   gui_driver wait-any-box MS (a box with no owner; prints its text) | close-any-box
//   gui_driver visible ID (prints 1 or 0) | focus (prints the focused control's id) | press-enter
#include <windows.h>

#include <cstdio>
#include <functional>
#include <cstdlib>
#include <string>
#include <vector>

namespace
{
const wchar_t* const kMainCaption = L"KD7X host upgrade tool";

HWND MainWindow() { return FindWindowW(L"#32770", kMainCaption); }
HWND AboutWindow() { return FindWindowW(L"#32770", L"About KD7XUpdateTool"); }

struct Search
{
    HWND owner;
    int childId;
    HWND found;
};

// A visible dialog with the child control: the message box has its text in 0xFFFF, the tip window
// 1002. With no owner asked for, any owner will do.
BOOL CALLBACK FindDialog(HWND hwnd, LPARAM lParam)
{
    auto* search = reinterpret_cast<Search*>(lParam);
    wchar_t cls[16] = {};
    GetClassNameW(hwnd, cls, 16);
    if (IsWindowVisible(hwnd) && std::wstring(cls) == L"#32770" && GetDlgItem(hwnd, search->childId) &&
        (search->owner == nullptr || GetWindow(hwnd, GW_OWNER) == search->owner))
    {
        search->found = hwnd;
        return FALSE;
    }
    return TRUE;
}

HWND Find(HWND owner, int childId)
{
    Search search{owner, childId, nullptr};
    EnumWindows(FindDialog, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

HWND AnyBox() { return Find(nullptr, 0xFFFF); }

HWND Owned(int childId) { return MainWindow() != nullptr ? Find(MainWindow(), childId) : nullptr; }

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

void Print(const std::wstring& text)
{
    char narrow[4096] = {};
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, narrow, sizeof narrow - 1, nullptr, nullptr);
    std::printf("%s\n", narrow);
}
} // namespace

int main(int argc, char** argv)
{
    if (argc < 2)
        return 64;
    const std::string step = argv[1];
    const int ms = argc > 2 ? std::atoi(argv[argc - 1]) : 0;
    if (step == "wait-main")
        return WaitFor([] { return MainWindow() != nullptr && IsWindowVisible(MainWindow()); }, ms) ? 0 : 1;
    if (step == "click-update")
        return PostMessageW(GetDlgItem(MainWindow(), 1001), BM_CLICK, 0, 0) ? 0 : 1;
    if (step == "wait-box" || step == "wait-any-box")
    {
        const auto box = [&step] { return step == "wait-box" ? Owned(0xFFFF) : AnyBox(); };
        if (!WaitFor([&] { return box() != nullptr; }, ms))
            return 1;
        Print(Text(box(), 0xFFFF));
        return 0;
    }
    if (step == "close-box" || step == "close-any-box")
        return PostMessageW(GetDlgItem(step == "close-box" ? Owned(0xFFFF) : AnyBox(), IDOK), BM_CLICK, 0, 0) ? 0 : 1;
    if (step == "wait-tip" && argc > 3)
    {
        wchar_t prefix[256] = {};
        MultiByteToWideChar(CP_UTF8, 0, argv[2], -1, prefix, 256);
        const bool seen = WaitFor(
            [&] {
                HWND tip = Owned(1002);
                return tip != nullptr && Text(tip, 1002).rfind(prefix, 0) == 0;
            },
            ms);
        if (seen)
            Print(Text(Owned(1002), 1002));
        return seen ? 0 : 1;
    }
    if (step == "open-about")
    {
        // The system menu's About entry, command 16.
        PostMessageW(MainWindow(), WM_SYSCOMMAND, 0x10, 0);
        if (!WaitFor([] { return AboutWindow() != nullptr && IsWindowVisible(AboutWindow()); }, ms))
            return 1;
        wchar_t text[256] = {};
        EnumChildWindows(AboutWindow(), FirstStaticText, reinterpret_cast<LPARAM>(text));
        Print(text);
        return 0;
    }
    if (step == "close-about")
        return PostMessageW(GetDlgItem(AboutWindow(), IDOK), BM_CLICK, 0, 0) ? 0 : 1;
    if (step == "close-main")
        return PostMessageW(MainWindow(), WM_CLOSE, 0, 0) ? 0 : 1;
    if (step == "wait-gone")
        return WaitFor([] { return MainWindow() == nullptr; }, ms) ? 0 : 1;
    if (step == "click-cancel")
        return PostMessageW(GetDlgItem(Owned(1002), IDCANCEL), BM_CLICK, 0, 0) ? 0 : 1;
    if (step == "answer-box" && argc > 2)
        return PostMessageW(GetDlgItem(Owned(0xFFFF), std::string(argv[2]) == "yes" ? IDYES : IDNO), BM_CLICK, 0, 0)
                   ? 0
                   : 1;
    if (step == "rect" && argc > 2)
    {
        // The screenshot itself is taken from the X side, by the script.
        const std::string which = argv[2];
        HWND hwnd = which == "main"    ? MainWindow()
                    : which == "about" ? AboutWindow()
                                       : Owned(which == "tip" ? 1002 : 0xFFFF);
        RECT r;
        if (hwnd == nullptr || !GetWindowRect(hwnd, &r))
            return 1;
        std::printf("%ldx%ld+%ld+%ld\n", r.right - r.left, r.bottom - r.top, r.left, r.top);
        return 0;
    }
    if (step == "visible" && argc > 2)
    {
        std::printf("%d\n", IsWindowVisible(GetDlgItem(MainWindow(), std::atoi(argv[2]))) ? 1 : 0);
        return 0;
    }
    if (step == "focus")
    {
        GUITHREADINFO info{};
        info.cbSize = sizeof info;
        if (!GetGUIThreadInfo(GetWindowThreadProcessId(MainWindow(), nullptr), &info))
            return 1;
        // A combo box's focus is on its edit field: report the dialog's own child.
        HWND control = info.hwndFocus;
        while (control != nullptr && GetParent(control) != MainWindow())
            control = GetParent(control);
        std::printf("%d\n", control != nullptr ? GetDlgCtrlID(control) : 0);
        return 0;
    }
    if (step == "press-enter")
    {
        SetForegroundWindow(MainWindow());
        INPUT keys[2] = {};
        keys[0].type = keys[1].type = INPUT_KEYBOARD;
        keys[0].ki.wVk = keys[1].ki.wVk = VK_RETURN;
        keys[1].ki.dwFlags = KEYEVENTF_KEYUP;
        return SendInput(2, keys, sizeof(INPUT)) == 2 ? 0 : 1;
    }
    return 64;
}
