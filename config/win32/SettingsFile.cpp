#include "config/Settings.h"
#include "config/SettingsFile.h"

#include <windows.h>

namespace
{
constexpr const char* kSection = "Device";
// No value the file can hold: tells a missing key from an empty one.
constexpr const char* kMissing = "\x7f"
                                 "missing"
                                 "\x7f";
} // namespace

void InitModulePathsFromExecutable()
{
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    wchar_t drive[3] = {}, dir[256] = {}, name[256] = {}, ext[256] = {};
    _wsplitpath_s(path, drive, 3, dir, 256, name, 256, ext, 256);
    SetModulePaths(std::wstring(drive) + dir, name);
}

int ReadSettingFileInt(const char* key, int defaultValue)
{
    return static_cast<int>(GetPrivateProfileIntA(kSection, key, defaultValue, GetIniPath().c_str()));
}

std::string ReadSettingString(const char* key)
{
    char buffer[512] = {};
    GetPrivateProfileStringA(kSection, key, "", buffer, sizeof buffer, GetIniPath().c_str());
    return buffer;
}

bool ReadSettingRaw(const char* key, std::string& value)
{
    char buffer[512] = {};
    GetPrivateProfileStringA(kSection, key, kMissing, buffer, sizeof buffer, GetIniPath().c_str());
    if (std::string(buffer) == kMissing)
        return false;
    value = buffer;
    return true;
}

std::string WriteSettingString(const char* key, const std::string& value)
{
    const std::string path = GetIniPath();
    if (WritePrivateProfileStringA(kSection, key, value.c_str(), path.c_str()))
        return {};
    const DWORD error = GetLastError();
    char text[256] = {};
    FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error, 0, text, sizeof text,
                   nullptr);
    std::string why = text;
    while (!why.empty() && (why.back() == '\n' || why.back() == '\r' || why.back() == ' '))
        why.pop_back();
    return path + ": " + (why.empty() ? "error " + std::to_string(error) : why);
}
