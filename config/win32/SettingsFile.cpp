#include "config/IniText.h"
#include "config/Settings.h"
#include "config/SettingsFile.h"
#include "platform/Text.h"

#include <windows.h>

#include <cstdlib>
#include <string>

namespace
{
constexpr const wchar_t* kSection = L"Device";
// No value the file can hold: tells a missing key from an empty one.
constexpr const wchar_t* kMissing = L"\x7f"
                                    L"missing"
                                    L"\x7f";
constexpr DWORD kMaxFile = 1 << 20;

std::string SystemText(DWORD error)
{
    wchar_t text[256] = {};
    FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error, 0, text, 256, nullptr);
    std::wstring why = text;
    while (!why.empty() && (why.back() == L'\n' || why.back() == L'\r' || why.back() == L' '))
        why.pop_back();
    return why.empty() ? "error " + std::to_string(error) : WideToUtf8(why);
}

// The private-profile functions know no UTF-8 byte-order mark: they would miss the first section
// and add a second. Such a file is read and edited as text, by the rules those functions follow.
bool ReadUtf8File(const std::wstring& path, std::string& text)
{
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    char piece[4096];
    DWORD got = 0;
    while (text.size() <= kMaxFile && ReadFile(file, piece, sizeof piece, &got, nullptr) && got > 0)
        text.append(piece, got);
    CloseHandle(file);
    return text.compare(0, 3, "\xEF\xBB\xBF") == 0;
}

// Whole, beside the file, then put in its place keeping its attributes and security.
std::string WriteUtf8File(const std::wstring& path, const std::string& text)
{
    const std::wstring temporary = path + L".tmp" + std::to_wstring(GetCurrentProcessId());
    HANDLE file =
        CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return SystemText(GetLastError());
    DWORD written = 0;
    const BOOL ok = WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) &&
                    written == text.size() && FlushFileBuffers(file);
    const DWORD error = GetLastError();
    CloseHandle(file);
    if (ok && (ReplaceFileW(path.c_str(), temporary.c_str(), nullptr, 0, nullptr, nullptr) ||
               MoveFileExW(temporary.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)))
        return {};
    DeleteFileW(temporary.c_str());
    return SystemText(ok ? GetLastError() : error);
}

std::wstring Key(const char* key) { return NarrowToWide(key); }
} // namespace

void InitModulePathsFromExecutable()
{
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    wchar_t drive[3] = {}, dir[256] = {}, name[256] = {}, ext[256] = {};
    _wsplitpath_s(path, drive, 3, dir, 256, name, 256, ext, 256);
    SetModulePaths(std::wstring(drive) + dir, name);
}

bool ReadSettingRaw(const char* key, std::string& value) { return ReadSectionRaw("Device", key, value); }

bool ReadSettingUtf8(const char* key, std::string& value, bool& cut)
{
    constexpr DWORD kSize = 1024;
    const std::wstring path = GetIniPath();
    std::string text;
    if (ReadUtf8File(path, text))
    {
        if (!FindIniValue(text, "Device", key, value))
            return false;
        cut = value.size() >= kSize;
        if (cut)
            value.resize(kSize - 1);
        return true;
    }
    // Wide, then UTF-8: a character outside the code page must not turn into a pattern's '?'.
    std::wstring buffer(kSize, L'\0');
    const DWORD got =
        GetPrivateProfileStringW(kSection, Key(key).c_str(), kMissing, buffer.data(), kSize, path.c_str());
    buffer.resize(got);
    if (buffer == kMissing)
        return false;
    cut = got == kSize - 1;
    value = WideToUtf8(buffer);
    return true;
}

bool ReadSectionRaw(const char* section, const char* key, std::string& value)
{
    const std::wstring path = GetIniPath();
    std::string text;
    if (ReadUtf8File(path, text))
    {
        std::string found;
        if (!FindIniValue(text, section, key, found))
            return false;
        value = WideToNarrow(Utf8ToWide(found));
        return true;
    }
    wchar_t buffer[512] = {};
    GetPrivateProfileStringW(Key(section).c_str(), Key(key).c_str(), kMissing, buffer, 512, path.c_str());
    if (std::wstring(buffer) == kMissing)
        return false;
    value = WideToNarrow(buffer);
    return true;
}

int ReadSettingFileInt(const char* key, int defaultValue)
{
    const std::wstring path = GetIniPath();
    std::string text;
    if (!ReadUtf8File(path, text))
        return static_cast<int>(GetPrivateProfileIntW(kSection, Key(key).c_str(), defaultValue, path.c_str()));
    std::string value;
    if (!FindIniValue(text, "Device", key, value) || value.empty())
        return defaultValue;
    // Leading digits with an optional sign, as the private-profile functions read them.
    return static_cast<int>(std::strtol(value.c_str(), nullptr, 10));
}

std::string SettingsFileUnreadable()
{
    HANDLE file = CreateFileW(GetIniPath().c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE)
    {
        CloseHandle(file);
        return {};
    }
    const DWORD error = GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? std::string() : SystemText(error);
}

std::string WriteSettingString(const char* key, const std::string& value)
{
    return WriteSectionString("Device", key, value);
}

std::string WriteSectionString(const char* section, const char* key, const std::string& value)
{
    const std::wstring path = GetIniPath();
    const std::string name = WideToUtf8(path);
    if (value.find_first_of("\r\n") != std::string::npos)
        return name + ": the value of " + key + " holds a line break";
    std::string text;
    if (ReadUtf8File(path, text))
    {
        const std::string why = WriteUtf8File(path, SetIniValue(text, section, key, WideToUtf8(NarrowToWide(value))));
        return why.empty() ? std::string() : name + ": " + why;
    }
    if (WritePrivateProfileStringW(Key(section).c_str(), Key(key).c_str(), NarrowToWide(value).c_str(), path.c_str()))
        return {};
    return name + ": " + SystemText(GetLastError());
}
