#include "config/Settings.h"

#include "config/IniText.h"
#include "config/SettingsFile.h"
#include "platform/Text.h"

#include <map>

namespace
{
std::wstring g_moduleDir;
std::wstring g_moduleName;
std::wstring g_iniOverride;

// By name as the file treats it: without regard to case.
std::map<std::string, std::optional<int>> g_overrides;
} // namespace

void SetModulePaths(const std::wstring& moduleDir, const std::wstring& moduleName)
{
    g_moduleDir = moduleDir;
    g_moduleName = moduleName;
}

const std::wstring& GetModuleDir() { return g_moduleDir; }

const std::wstring& GetModuleName() { return g_moduleName; }

void SetIniPathOverride(const std::wstring& path) { g_iniOverride = path; }

std::wstring GetIniPath()
{
    if (!g_iniOverride.empty())
        return g_iniOverride;
    return g_moduleDir + g_moduleName + L".ini";
}

void SetSettingOverride(const std::string& key, std::optional<int> value) { g_overrides[IniName(key)] = value; }

int ReadSettingInt(const char* key, int defaultValue)
{
    const auto it = g_overrides.find(IniName(key));
    if (it != g_overrides.end())
        return it->second.value_or(defaultValue);
    return ReadSettingFileInt(key, defaultValue);
}

std::string ReadSettingString(const char* key)
{
    constexpr std::size_t kMaxString = 511;
    std::string value;
    if (!ReadSettingRaw(key, value))
        return {};
    if (value.size() > kMaxString)
        value.resize(kMaxString);
    return value;
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
