#include "app/UtcTime.h"

#include <cstdio>
#include <string_view>

namespace
{
constexpr long long kDayMs = 86400000;

bool LeapYear(int year) { return year % 4 == 0 && (year % 100 != 0 || year % 400 == 0); }

int DaysInMonth(int year, int month)
{
    static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && LeapYear(year) ? 29 : days[month - 1];
}

// Days since 1970-01-01 of a civil date, and back: in eras of 400 years that begin on 1 March.
long long DaysFromCivil(int year, int month, int day)
{
    const long long y = year - (month <= 2 ? 1 : 0);
    const long long era = (y >= 0 ? y : y - 399) / 400;
    const long long yearOfEra = y - era * 400;
    const long long dayOfYear = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
    const long long dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + dayOfEra - 719468;
}

std::string CivilFromDays(long long days)
{
    days += 719468;
    const long long era = (days >= 0 ? days : days - 146096) / 146097;
    const long long dayOfEra = days - era * 146097;
    const long long yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const long long dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const long long monthFromMarch = (5 * dayOfYear + 2) / 153;
    const long long month = monthFromMarch < 10 ? monthFromMarch + 3 : monthFromMarch - 9;
    const long long year = yearOfEra + era * 400 + (month <= 2 ? 1 : 0);
    char text[72];
    std::snprintf(text, sizeof text, "%04lld-%02lld-%02lld", year, month,
                  dayOfYear - (153 * monthFromMarch + 2) / 5 + 1);
    return text;
}

} // namespace

std::string IsoUtc(long long ms)
{
    long long rest = ms % kDayMs;
    if (rest < 0)
        rest += kDayMs;
    char time[32];
    std::snprintf(time, sizeof time, "T%02lld:%02lld:%02lld.%03lldZ", rest / 3600000, rest / 60000 % 60,
                  rest / 1000 % 60, rest % 1000);
    return UtcDate(ms) + time;
}

std::optional<long long> ParseUtcTime(const std::string& text)
{
    std::size_t at = 0;
    const auto digits = [&](std::size_t count, int& value) {
        value = 0;
        for (std::size_t end = at + count; at < end; ++at)
        {
            if (at >= text.size() || text[at] < '0' || text[at] > '9')
                return false;
            value = value * 10 + (text[at] - '0');
        }
        return true;
    };
    const auto literal = [&](const char* any) {
        if (at >= text.size() || std::string_view(any).find(text[at]) == std::string_view::npos)
            return false;
        ++at;
        return true;
    };
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0, ms = 0, offset = 0;
    if (!digits(4, year) || !literal("-") || !digits(2, month) || !literal("-") || !digits(2, day))
        return std::nullopt;
    if (month < 1 || month > 12 || day < 1 || day > DaysInMonth(year, month))
        return std::nullopt;
    if (at < text.size())
    {
        if (!literal("Tt ") || !digits(2, hour) || !literal(":") || !digits(2, minute))
            return std::nullopt;
        if (literal(":"))
        {
            if (!digits(2, second))
                return std::nullopt;
            if (literal(".,"))
            {
                // Milliseconds; finer digits are dropped.
                const std::size_t from = at;
                for (int place = 100; at < text.size() && text[at] >= '0' && text[at] <= '9'; place /= 10)
                    ms += (text[at++] - '0') * place;
                if (at == from)
                    return std::nullopt;
            }
        }
        if (hour > 23 || minute > 59 || second > 60)
            return std::nullopt;
        if (at < text.size() && (text[at] == '+' || text[at] == '-'))
        {
            const int sign = text[at++] == '-' ? -1 : 1;
            int hours = 0, minutes = 0;
            if (!digits(2, hours))
                return std::nullopt;
            literal(":");
            if (!digits(2, minutes) || hours > 23 || minutes > 59)
                return std::nullopt;
            offset = sign * (hours * 60 + minutes);
        }
        else
            literal("Zz");
        if (at != text.size())
            return std::nullopt;
    }
    const long long minutes = (DaysFromCivil(year, month, day) * 24 + hour) * 60 + minute - offset;
    return (minutes * 60 + second) * 1000 + ms;
}

std::string UtcDate(long long ms) { return CivilFromDays(ms >= 0 ? ms / kDayMs : (ms - kDayMs + 1) / kDayMs); }
