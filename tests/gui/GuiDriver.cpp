// Drives KD7XUpdateTool.exe from outside, as an operator would: waits for its windows, presses
// buttons, reads the outcome box, takes screenshots. One step per invocation; exit code 0 when
// the step succeeded.
//   gui_driver wait-main MS | click-update | wait-box MS (prints its text) | close-box
//   gui_driver wait-tip TEXT MS | click-cancel | shot main|tip|box|about FILE.png
//   gui_driver open-about MS (prints its text) | close-about | close-main | wait-gone MS
//   gui_driver wait-any-box MS (a box with no owner; prints its text) | close-any-box
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

BOOL CALLBACK FindOwned(HWND hwnd, LPARAM lParam)
{
    auto* search = reinterpret_cast<Search*>(lParam);
    if (IsWindowVisible(hwnd) && GetWindow(hwnd, GW_OWNER) == search->owner && GetDlgItem(hwnd, search->childId))
    {
        search->found = hwnd;
        return FALSE;
    }
    return TRUE;
}

// The message box has its text in control 0xFFFF; the tip window has 1002.
BOOL CALLBACK FindUnowned(HWND hwnd, LPARAM lParam)
{
    auto* search = reinterpret_cast<Search*>(lParam);
    wchar_t cls[16] = {};
    GetClassNameW(hwnd, cls, 16);
    if (IsWindowVisible(hwnd) && std::wstring(cls) == L"#32770" && GetDlgItem(hwnd, search->childId))
    {
        search->found = hwnd;
        return FALSE;
    }
    return TRUE;
}

HWND AnyBox()
{
    Search search{nullptr, 0xFFFF, nullptr};
    EnumWindows(FindUnowned, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

HWND Owned(int childId)
{
    Search search{MainWindow(), childId, nullptr};
    if (search.owner == nullptr)
        return nullptr;
    EnumWindows(FindOwned, reinterpret_cast<LPARAM>(&search));
    return search.found;
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

void PutBigEndian(std::vector<unsigned char>& out, unsigned value)
{
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back(static_cast<unsigned char>(value >> shift));
}

unsigned Crc32(const unsigned char* data, std::size_t size)
{
    unsigned crc = 0xFFFFFFFFu;
    for (std::size_t i = 0; i < size; ++i)
    {
        crc ^= data[i];
        for (int k = 0; k < 8; ++k)
            crc = (crc & 1u) ? (crc >> 1) ^ 0xEDB88320u : crc >> 1;
    }
    return ~crc;
}

void Chunk(std::vector<unsigned char>& png, const char* type, const std::vector<unsigned char>& data)
{
    PutBigEndian(png, static_cast<unsigned>(data.size()));
    std::vector<unsigned char> body(type, type + 4);
    body.insert(body.end(), data.begin(), data.end());
    png.insert(png.end(), body.begin(), body.end());
    PutBigEndian(png, Crc32(body.data(), body.size()));
}

// A PNG with stored (uncompressed) deflate blocks: no library needed.
bool WritePng(const char* path, int width, int height, const std::vector<unsigned char>& rgb)
{
    std::vector<unsigned char> raw;
    for (int y = 0; y < height; ++y)
    {
        raw.push_back(0);
        raw.insert(raw.end(), rgb.begin() + y * width * 3, rgb.begin() + (y + 1) * width * 3);
    }
    std::vector<unsigned char> z{0x78, 0x01};
    for (std::size_t pos = 0; pos < raw.size() || pos == 0;)
    {
        const std::size_t n = std::min<std::size_t>(65535, raw.size() - pos);
        z.push_back(pos + n >= raw.size() ? 1 : 0);
        z.push_back(static_cast<unsigned char>(n & 0xFF));
        z.push_back(static_cast<unsigned char>(n >> 8));
        z.push_back(static_cast<unsigned char>(~n & 0xFF));
        z.push_back(static_cast<unsigned char>((~n >> 8) & 0xFF));
        z.insert(z.end(), raw.begin() + static_cast<std::ptrdiff_t>(pos),
                 raw.begin() + static_cast<std::ptrdiff_t>(pos + n));
        pos += n;
        if (n == 0)
            break;
    }
    unsigned a = 1, b = 0;
    for (unsigned char c : raw)
    {
        a = (a + c) % 65521;
        b = (b + a) % 65521;
    }
    PutBigEndian(z, (b << 16) | a);
    std::vector<unsigned char> png{0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    std::vector<unsigned char> header;
    PutBigEndian(header, static_cast<unsigned>(width));
    PutBigEndian(header, static_cast<unsigned>(height));
    header.insert(header.end(), {8, 2, 0, 0, 0});
    Chunk(png, "IHDR", header);
    Chunk(png, "IDAT", z);
    Chunk(png, "IEND", {});
    FILE* f = std::fopen(path, "wb");
    if (f == nullptr)
        return false;
    std::fwrite(png.data(), 1, png.size(), f);
    std::fclose(f);
    return true;
}

bool Screenshot(HWND hwnd, const char* path)
{
    RECT r;
    if (hwnd == nullptr || !GetWindowRect(hwnd, &r))
        return false;
    const int w = r.right - r.left, h = r.bottom - r.top;
    HDC screen = GetDC(nullptr);
    HDC mem = CreateCompatibleDC(screen);
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = w;
    info.bmiHeader.biHeight = -h;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = SelectObject(mem, bitmap);
    BitBlt(mem, 0, 0, w, h, screen, r.left, r.top, SRCCOPY);
    std::vector<unsigned char> rgb(static_cast<std::size_t>(w) * h * 3);
    const auto* px = static_cast<const unsigned char*>(bits);
    for (int i = 0; i < w * h; ++i)
    {
        rgb[i * 3] = px[i * 4 + 2];
        rgb[i * 3 + 1] = px[i * 4 + 1];
        rgb[i * 3 + 2] = px[i * 4];
    }
    SelectObject(mem, old);
    DeleteObject(bitmap);
    DeleteDC(mem);
    ReleaseDC(nullptr, screen);
    return WritePng(path, w, h, rgb);
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
    if (step == "wait-box")
    {
        if (!WaitFor([] { return Owned(0xFFFF) != nullptr; }, ms))
            return 1;
        Print(Text(Owned(0xFFFF), 0xFFFF));
        return 0;
    }
    if (step == "close-box")
        return PostMessageW(GetDlgItem(Owned(0xFFFF), IDOK), BM_CLICK, 0, 0) ? 0 : 1;
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
    if (step == "wait-any-box")
    {
        if (!WaitFor([] { return AnyBox() != nullptr; }, ms))
            return 1;
        Print(Text(AnyBox(), 0xFFFF));
        return 0;
    }
    if (step == "close-any-box")
        return PostMessageW(GetDlgItem(AnyBox(), IDOK), BM_CLICK, 0, 0) ? 0 : 1;
    if (step == "click-cancel")
        return PostMessageW(GetDlgItem(Owned(1002), IDCANCEL), BM_CLICK, 0, 0) ? 0 : 1;
    if (step == "shot" && argc > 3)
    {
        const std::string which = argv[2];
        HWND hwnd = which == "main"    ? MainWindow()
                    : which == "about" ? AboutWindow()
                                       : Owned(which == "tip" ? 1002 : 0xFFFF);
        return Screenshot(hwnd, argv[3]) ? 0 : 1;
    }
    return 64;
}
