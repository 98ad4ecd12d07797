#include "app/Settings.h"

#include "platform/Text.h"

namespace
{
std::wstring g_moduleDir;
std::wstring g_moduleName;
std::string g_iniOverride;
} // namespace

void SetModulePaths(const std::wstring& moduleDir, const std::wstring& moduleName)
{
    g_moduleDir = moduleDir;
    g_moduleName = moduleName;
}

const std::wstring& GetModuleDir() { return g_moduleDir; }

const std::wstring& GetModuleName() { return g_moduleName; }

void SetIniPathOverride(const std::string& path) { g_iniOverride = path; }

std::string GetIniPath()
{
    if (!g_iniOverride.empty())
        return g_iniOverride;
    return WideToNarrow(g_moduleDir + g_moduleName + L".ini");
}

DWORD ReadSettingPause(const char* key, int defaultValue)
{
    int value = ReadSettingInt(key, defaultValue);
    if (value < 0)
        value = defaultValue < 0 ? 0 : defaultValue;
    if (value > kMaxPauseMs)
        value = kMaxPauseMs;
    return static_cast<DWORD>(value);
}
