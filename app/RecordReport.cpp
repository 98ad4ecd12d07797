#include "app/RecordReport.h"

#include "app/UtcTime.h"

#include <algorithm>
#include <cstdio>
#include <limits>
#include <string_view>
#include <tuple>

namespace
{
// A record's fields are whatever the file holds: a field of another type counts as missing.
std::string TextOf(const nlohmann::json& json, const char* key)
{
    const auto it = json.find(key);
    return it != json.end() && it->is_string() ? it->get<std::string>() : std::string();
}

std::optional<long long> TimeOf(const nlohmann::json& json, const char* key)
{
    const auto it = json.find(key);
    if (it == json.end() || !it->is_string())
        return std::nullopt;
    return ParseUtcTime(it->get_ref<const std::string&>());
}

double Median(std::vector<double> values)
{
    const std::size_t half = values.size() / 2;
    std::nth_element(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(half), values.end());
    const double upper = values[half];
    if (values.size() % 2 != 0)
        return upper;
    return (*std::max_element(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(half)) + upper) / 2;
}
} // namespace

const RecordKeys& CRecordReport::Keys()
{
    static const RecordKeys keys{"outcome", "run_id", "radio",    "start",  "end",   "duration_s",
                                 "port",    "stage",  "radio_id", "repeat", "images"};
    return keys;
}

void CRecordReport::Add(const RecordLine& line)
{
    ++m_counts.lines;
    if (line.json == nullptr || line.tooLong || !line.ended)
    {
        ++m_counts.badLines;
        if (m_counts.badLineNumbers.size() < kMaxBadLineNumbers)
            m_counts.badLineNumbers.push_back(line.number);
        return;
    }
    const nlohmann::json& json = *line.json;
    const std::optional<long long> start = TimeOf(json, "start");
    if (m_since && (!start || *start < *m_since))
    {
        ++m_counts.leftOut;
        return;
    }
    const std::string outcome = TextOf(json, "outcome");
    const bool started = outcome == "started";
    const bool interrupted = outcome == "interrupted";
    const std::string date = start ? UtcDate(*start) : std::string();
    if (start)
    {
        // The end of an interrupted radio, if it has one, is when the next station found it, not
        // when this one stopped.
        const std::optional<long long> end = started || interrupted ? std::nullopt : TimeOf(json, "end");
        const long long to = std::max(*start, end.value_or(*start));
        const auto [run, fresh] = m_runs.try_emplace({date, TextOf(json, "run_id")}, Span{*start, to});
        if (!fresh)
        {
            run->second.from = std::min(run->second.from, *start);
            run->second.to = std::max(run->second.to, to);
        }
    }
    if (started)
    {
        ++m_counts.starts;
        return;
    }
    const auto repeat = json.find("repeat");
    if (repeat != json.end() && repeat->is_boolean() && repeat->get<bool>())
        ++m_counts.repeatLines;
    if (outcome == "already_flashed")
    {
        ++m_counts.alreadyFlashed;
        return;
    }

    // A radio's attempt: its ID's first, by start time, decides whether it passed first time.
    const bool passed = outcome == "success";
    const bool radio = !interrupted;
    const std::string id = TextOf(json, "radio_id");
    if (id.empty())
    {
        ++m_attemptsWithoutId;
        m_passedWithoutId += passed ? 1 : 0;
    }
    else
    {
        const long long order = start.value_or(std::numeric_limits<long long>::max());
        const auto [attempt, fresh] = m_ids.try_emplace(id, FirstAttempt{order, passed, 0});
        if (!fresh && order < attempt->second.start)
            attempt->second = {order, passed, attempt->second.radioLines};
        attempt->second.radioLines += radio ? 1 : 0;
    }
    if (interrupted)
    {
        ++m_counts.interrupted;
        return;
    }

    ++m_counts.radios;
    m_counts.successes += passed ? 1 : 0;
    if (!passed)
    {
        ++m_counts.failuresByOutcome[outcome.empty() ? "unknown" : outcome];
        const std::string stage = TextOf(json, "stage");
        ++m_counts.failuresByStage[stage.empty() ? "none" : stage];
    }
    PortTally& port = m_ports[TextOf(json, "port")];
    ++port.radios;
    port.successes += passed ? 1 : 0;
    if (const auto seconds = json.find("duration_s"); seconds != json.end() && seconds->is_number())
        port.seconds.push_back(seconds->get<double>());
    if (const auto images = json.find("images"); images != json.end() && images->is_array())
        for (const auto& image : *images)
        {
            const std::string sha256 = image.is_object() ? TextOf(image, "sha256") : std::string();
            if (sha256.empty())
                continue;
            const auto [tally, fresh] = m_images.try_emplace(sha256);
            if (fresh)
            {
                tally->second.role = TextOf(image, "role");
                tally->second.name = TextOf(image, "name");
            }
            ++tally->second.radios;
            tally->second.successes += passed ? 1 : 0;
        }
    if (start)
    {
        Tally& day = m_days[date];
        ++day.radios;
        day.successes += passed ? 1 : 0;
    }
}

RecordReportResult CRecordReport::Result() const
{
    RecordReportResult result = m_counts;
    result.firstPassRadios = m_attemptsWithoutId + m_ids.size();
    result.firstPassed = m_passedWithoutId;
    for (const auto& [id, attempt] : m_ids)
    {
        result.firstPassed += attempt.passed ? 1 : 0;
        result.repeatedIds += attempt.radioLines > 1 ? 1 : 0;
    }
    if (result.firstPassRadios > 0)
        result.firstPassYield = static_cast<double>(result.firstPassed) / static_cast<double>(result.firstPassRadios);

    for (const auto& [name, tally] : m_ports)
    {
        RecordReportResult::Port port{name,
                                      tally.radios,
                                      tally.successes,
                                      static_cast<double>(tally.successes) / static_cast<double>(tally.radios),
                                      {}};
        if (!tally.seconds.empty())
            port.medianSeconds = Median(tally.seconds);
        result.byPort.push_back(port);
    }

    for (const auto& [sha256, tally] : m_images)
        result.byImage.push_back({sha256, tally.role, tally.name, tally.radios, tally.successes});
    std::sort(result.byImage.begin(), result.byImage.end(), [](const auto& a, const auto& b) {
        return std::tie(a.role, a.name, a.sha256) < std::tie(b.role, b.name, b.sha256);
    });

    // Every day with radios or station time; runs are in date order like the days.
    std::map<std::string, RecordReportResult::Day> days;
    for (const auto& [date, tally] : m_days)
    {
        auto& day = days[date];
        day.radios = tally.radios;
        day.successes = tally.successes;
    }
    for (const auto& [key, span] : m_runs)
        days[key.first].stationHours += static_cast<double>(span.to - span.from) / 3600000.0;
    for (auto& [date, day] : days)
    {
        day.date = date;
        if (day.stationHours > 0)
            day.radiosPerHour = static_cast<double>(day.radios) / day.stationHours;
        result.byDay.push_back(day);
    }
    return result;
}
