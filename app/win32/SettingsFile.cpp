#include "app/Settings.h"

#include <windows.h>

#include <cstdlib>

namespace
{
constexpr const char* kSection = "Device";
}

void InitModulePathsFromExecutable()
{
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    wchar_t drive[3] = {}, dir[256] = {}, name[256] = {}, ext[256] = {};
    _wsplitpath_s(path, drive, 3, dir, 256, name, 256, ext, 256);
    SetModulePaths(std::wstring(drive) + dir, name);
}

int ReadSettingInt(const char* key, int defaultValue)
{
    return static_cast<int>(GetPrivateProfileIntA(kSection, key, defaultValue, GetIniPath().c_str()));
}

std::string ReadSettingString(const char* key)
{
    char buffer[512] = {};
    GetPrivateProfileStringA(kSection, key, "", buffer, sizeof buffer, GetIniPath().c_str());
    return buffer;
}

void WriteSettingString(const char* key, const std::string& value)
{
    WritePrivateProfileStringA(kSection, key, value.c_str(), GetIniPath().c_str());
}
