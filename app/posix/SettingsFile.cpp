// The Windows private-profile rules that users can see, over SimpleIni: names without regard
// to case, values trimmed and unquoted, integers from their leading digits, other lines kept.
#include "app/Settings.h"

#define SI_NO_CONVERSION  // INI text is bytes in the ANSI sense; nothing to convert
#define SI_IMPLEMENTATION // Debian ships the template bodies behind this switch
#include <SimpleIni.h>

#include <climits>
#include <cstdlib>
#include <unistd.h>

namespace
{
constexpr const char* kSection = "Device";
constexpr std::size_t kMaxString = 511;

bool ReadRaw(const char* key, std::string& value)
{
    CSimpleIniA ini;
    if (ini.LoadFile(GetIniPath().c_str()) < 0)
        return false;
    const char* found = ini.GetValue(kSection, key, nullptr);
    if (found == nullptr)
        return false;
    value = found;
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front())
        value = value.substr(1, value.size() - 2);
    return true;
}
} // namespace

void InitModulePathsFromExecutable()
{
    char buffer[4096];
    ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    std::string path = n > 0 ? std::string(buffer, static_cast<std::size_t>(n)) : std::string("./kd7x-update");
    std::size_t slash = path.rfind('/');
    std::string dir = slash == std::string::npos ? std::string("./") : path.substr(0, slash + 1);
    std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    std::size_t dot = name.rfind('.');
    if (dot != std::string::npos && dot > 0)
        name.resize(dot);
    SetModulePaths(std::wstring(dir.begin(), dir.end()), std::wstring(name.begin(), name.end()));
}

int ReadSettingInt(const char* key, int defaultValue)
{
    std::string value;
    if (!ReadRaw(key, value) || value.empty())
        return defaultValue;
    std::size_t i = 0;
    bool negative = false;
    if (value[i] == '+' || value[i] == '-')
        negative = value[i++] == '-';
    long long result = 0;
    for (; i < value.size() && value[i] >= '0' && value[i] <= '9'; ++i)
    {
        result = result * 10 + (value[i] - '0');
        if (result > static_cast<long long>(INT_MAX) + 1)
            result = static_cast<long long>(INT_MAX) + 1;
    }
    if (negative)
        result = -result;
    if (result > INT_MAX)
        result = INT_MAX;
    return static_cast<int>(result);
}

std::string ReadSettingString(const char* key)
{
    std::string value;
    if (!ReadRaw(key, value))
        return {};
    if (value.size() > kMaxString)
        value.resize(kMaxString);
    return value;
}

void WriteSettingString(const char* key, const std::string& value)
{
    const std::string path = GetIniPath();
    CSimpleIniA ini;
    ini.SetSpaces(false);
    // A file that exists but cannot be read is never overwritten: its other lines would be lost.
    if (access(path.c_str(), F_OK) == 0 && ini.LoadFile(path.c_str()) < 0)
        return;
    ini.SetValue(kSection, key, value.c_str());
    ini.SaveFile(path.c_str());
}
