#include "cli/Tuning.h"

#include "config/Settings.h"

#include <climits>

namespace
{
struct Tuning
{
    const char* key;
    const char* flag; // the command line's name for it, if it has one
    long long min;
    long long max;
    const char* defaults;
};

const Tuning kTunings[] = {
    {"timeout", "--timeout", 0, kMaxPauseMs, "1000"},
    {"WriteDataFrameRetry", "--retries", 1, INT_MAX, "10 (3 for header and data blocks)"},
    {"WriteDataFrameInterval", "--interval", 0, kMaxPauseMs, "200 (150 for data blocks)"},
    {"listenInterval", nullptr, 0, kMaxPauseMs, "300"},
    {"ListenUpdateRetry", nullptr, 0, INT_MAX, "300"},
};

std::string Range(const Tuning& t)
{
    return "a whole number from " + std::to_string(t.min) + " to " + std::to_string(t.max);
}
} // namespace

bool ParseWhole(const std::string& text, long long min, long long max, long long& value)
{
    std::size_t begin = text.find_first_not_of(" \t");
    const std::size_t end = text.find_last_not_of(" \t");
    if (begin == std::string::npos)
        return false;
    bool negative = false;
    if (text[begin] == '+' || text[begin] == '-')
        negative = text[begin++] == '-';
    if (begin > end)
        return false;
    long long result = 0;
    for (std::size_t i = begin; i <= end; ++i)
    {
        if (text[i] < '0' || text[i] > '9' || result > (LLONG_MAX - 9) / 10)
            return false;
        result = result * 10 + (text[i] - '0');
    }
    result = negative ? -result : result;
    if (result < min || result > max)
        return false;
    value = result;
    return true;
}

std::vector<std::string> ApplyTuning(const std::map<std::string, std::string>& flags, const std::string& fileName)
{
    std::vector<std::string> warnings;
    for (const Tuning& t : kTunings)
    {
        std::string raw;
        long long value = 0;
        // An empty value is no value: every reader takes its default.
        const bool inFile = ReadSettingRaw(t.key, raw) && raw.find_first_not_of(" \t") != std::string::npos;
        const bool fileGood = inFile && ParseWhole(raw, t.min, t.max, value);
        if (inFile && !fileGood)
        {
            warnings.push_back(fileName + ": " + t.key + "=" + raw + " is not " + Range(t) + "; the default " +
                               t.defaults + " is taken");
            SetSettingOverride(t.key, std::nullopt);
        }
        const auto flag = t.flag != nullptr ? flags.find(t.key) : flags.end();
        if (flag == flags.end())
            continue;
        if (ParseWhole(flag->second, t.min, t.max, value))
            SetSettingOverride(t.key, static_cast<int>(value));
        else
            warnings.push_back(std::string(t.flag) + " " + flag->second + " is not " + Range(t) + "; " +
                               (fileGood ? "the settings file's " + raw : "the default " + std::string(t.defaults)) +
                               " is taken");
    }
    return warnings;
}
