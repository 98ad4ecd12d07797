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

std::string Range(long long min, long long max)
{
    return "a whole number from " + std::to_string(min) + " to " + std::to_string(max);
}

std::string Range(const Tuning& t) { return Range(t.min, t.max); }

struct NumberFlag
{
    const char* flag;
    long long min;
    long long max;
};

// The numbers of the command line besides the tuning keys.
const NumberFlag kNumberFlags[] = {{"--wait", 0, 86400}, {"--radios", 1, 64},        {"--count", 1, 1000000},
                                   {"--settle", 1, 600}, {"--confirm-wait", 1, 600}, {"--quarantine", 0, 1000}};
} // namespace

std::string TuningKeyOf(const std::string& flag)
{
    for (const Tuning& t : kTunings)
        if (t.flag != nullptr && flag == t.flag)
            return t.key;
    return {};
}

std::string CheckNumberFlag(const std::string& flag, const std::string& text, long long& value)
{
    long long min = 0;
    long long max = -1;
    for (const Tuning& t : kTunings)
        if (t.flag != nullptr && flag == t.flag)
            min = t.min, max = t.max;
    for (const NumberFlag& n : kNumberFlags)
        if (flag == n.flag)
            min = n.min, max = n.max;
    if (ParseWhole(text, min, max, value))
        return {};
    return flag + " " + text + " is not " + Range(min, max);
}

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

std::vector<std::string> ApplyTuning(const std::map<std::string, int>& flags, const std::string& fileName)
{
    std::vector<std::string> warnings;
    for (const Tuning& t : kTunings)
    {
        std::string raw;
        long long value = 0;
        const auto flag = flags.find(t.key);
        // An empty value is no value: every reader takes its default.
        const bool inFile = ReadSettingRaw(t.key, raw) && raw.find_first_not_of(" \t") != std::string::npos;
        if (inFile && !ParseWhole(raw, t.min, t.max, value))
        {
            warnings.push_back(fileName + ": " + t.key + "=" + raw + " is not " + Range(t) + "; " +
                               (flag != flags.end() ? std::string(t.flag) + " " + std::to_string(flag->second)
                                                    : "the default " + std::string(t.defaults)) +
                               " is taken");
            SetSettingOverride(t.key, std::nullopt);
        }
        if (flag != flags.end())
            SetSettingOverride(t.key, flag->second);
    }
    return warnings;
}
