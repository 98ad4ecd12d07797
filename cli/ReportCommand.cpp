#include "cli/ReportCommand.h"

#include "app/RecordReport.h"
#include "cli/Console.h"
#include "platform/Text.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <system_error>

namespace
{
double Rounded(double value, double places) { return std::round(value * places) / places; }

nlohmann::json Rounded(const std::optional<double>& value, double places)
{
    return value ? nlohmann::json(Rounded(*value, places)) : nlohmann::json(nullptr);
}

std::string Fixed(double value, const char* format)
{
    char text[48];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

std::string Percent(double share) { return Fixed(100 * share, "%.1f %%"); }

// Characters, not bytes, so a name in UTF-8 keeps its column.
std::size_t Width(const std::string& text)
{
    return static_cast<std::size_t>(
        std::count_if(text.begin(), text.end(), [](char c) { return (static_cast<unsigned char>(c) & 0xC0) != 0x80; }));
}

// Each column as wide as its widest cell: the first `left` columns flush left, numbers right.
std::string Columns(const std::vector<std::vector<std::string>>& rows, std::size_t left)
{
    std::vector<std::size_t> widths;
    for (const auto& row : rows)
        for (std::size_t i = 0; i < row.size(); ++i)
        {
            widths.resize(std::max(widths.size(), i + 1));
            widths[i] = std::max(widths[i], Width(row[i]));
        }
    std::string text;
    for (const auto& row : rows)
    {
        std::string line;
        for (std::size_t i = 0; i < row.size(); ++i)
        {
            const std::string pad(widths[i] - Width(row[i]), ' ');
            line += (i == 0 ? "" : "  ") + (i < left ? row[i] + pad : pad + row[i]);
        }
        line.erase(line.find_last_not_of(' ') + 1);
        text += line + "\n";
    }
    return text;
}

// "unable_to_write 30, serial_error 20": the most first.
std::string Counts(const std::map<std::string, std::size_t>& counts)
{
    std::vector<std::pair<std::string, std::size_t>> sorted(counts.begin(), counts.end());
    std::stable_sort(sorted.begin(), sorted.end(), [](const auto& a, const auto& b) { return a.second > b.second; });
    std::string text;
    for (const auto& [name, count] : sorted)
        text += (text.empty() ? "" : ", ") + TerminalText(name) + " " + std::to_string(count);
    return text;
}

std::string ReportText(const RecordReportResult& r, const std::string& record, const std::optional<std::string>& since)
{
    const std::size_t failed = r.radios - r.successes;
    std::string text = "record " + TerminalText(record) + ": " + std::to_string(r.lines) + " lines\n";
    text += "radios " + std::to_string(r.radios) + ": " + std::to_string(r.successes) + " succeeded, " +
            std::to_string(failed) + " failed; first-pass yield " +
            (r.firstPassYield ? Percent(*r.firstPassYield) + " (" + std::to_string(r.firstPassed) + " of " +
                                    std::to_string(r.firstPassRadios) + ")"
                              : std::string("-")) +
            "\n";
    text += "starts " + std::to_string(r.starts) + ", interrupted " + std::to_string(r.interrupted) +
            ", already flashed " + std::to_string(r.alreadyFlashed);
    if (since)
        text += "; " + std::to_string(r.leftOut) + " lines before " + TerminalText(*since) + " left out";
    text += "\n";
    if (failed > 0)
        text += "failures by outcome: " + Counts(r.failuresByOutcome) +
                "\nfailures by stage: " + Counts(r.failuresByStage) + "\n";

    if (!r.byPort.empty())
    {
        std::vector<std::vector<std::string>> rows{{"port", "radios", "succeeded", "yield", "median s"}};
        for (const auto& p : r.byPort)
            rows.push_back({p.port.empty() ? "-" : TerminalText(p.port), std::to_string(p.radios),
                            std::to_string(p.successes), Percent(p.yield),
                            p.medianSeconds ? Fixed(*p.medianSeconds, "%.1f") : "-"});
        text += "\n" + Columns(rows, 1);
    }
    if (!r.byImage.empty())
    {
        std::vector<std::vector<std::string>> rows{{"image", "role", "name", "radios", "succeeded"}};
        for (const auto& i : r.byImage)
            rows.push_back({TerminalText(i.sha256.substr(0, 12)), TerminalText(i.role), TerminalText(i.name),
                            std::to_string(i.radios), std::to_string(i.successes)});
        text += "\n" + Columns(rows, 3);
    }
    if (!r.byDay.empty())
    {
        std::vector<std::vector<std::string>> rows{{"day (UTC)", "radios", "succeeded", "station h", "radios/h"}};
        for (const auto& d : r.byDay)
            rows.push_back({d.date, std::to_string(d.radios), std::to_string(d.successes),
                            Fixed(d.stationHours, "%.2f"), d.radiosPerHour ? Fixed(*d.radiosPerHour, "%.1f") : "-"});
        text += "\n" + Columns(rows, 1);
    }

    text += "\nrepeats: " + std::to_string(r.repeatLines) + " lines of a radio whose ID had already succeeded; " +
            std::to_string(r.repeatedIds) + " radio IDs with more than one radio line\n";
    text += "bad lines: " + std::to_string(r.badLines);
    if (r.badLines > 0)
    {
        text += r.badLines > r.badLineNumbers.size() ? " (the first " + std::to_string(r.badLineNumbers.size()) + ": "
                                                     : std::string(" (");
        for (std::size_t i = 0; i < r.badLineNumbers.size(); ++i)
            text += (i == 0 ? "line " : ", ") + std::to_string(r.badLineNumbers[i]);
        text += ")";
    }
    return text + "\n";
}

nlohmann::json ReportJson(const RecordReportResult& r, const std::string& record,
                          const std::optional<std::string>& since)
{
    nlohmann::json ports = nlohmann::json::array();
    for (const auto& p : r.byPort)
        ports.push_back({{"port", p.port},
                         {"radios", p.radios},
                         {"successes", p.successes},
                         {"yield", Rounded(p.yield, 1e4)},
                         {"median_duration_s", Rounded(p.medianSeconds, 1e3)}});
    nlohmann::json images = nlohmann::json::array();
    for (const auto& i : r.byImage)
        images.push_back({{"sha256", i.sha256},
                          {"role", i.role},
                          {"name", i.name},
                          {"radios", i.radios},
                          {"successes", i.successes}});
    nlohmann::json days = nlohmann::json::array();
    for (const auto& d : r.byDay)
        days.push_back({{"date", d.date},
                        {"radios", d.radios},
                        {"successes", d.successes},
                        {"station_hours", Rounded(d.stationHours, 1e3)},
                        {"radios_per_hour", Rounded(d.radiosPerHour, 1e1)}});
    return {
        {"record", record},
        {"version", kVersion},
        {"since", since ? nlohmann::json(*since) : nlohmann::json(nullptr)},
        {"lines", r.lines},
        {"left_out", r.leftOut},
        {"radios", r.radios},
        {"successes", r.successes},
        {"failures",
         {{"count", r.radios - r.successes}, {"by_outcome", r.failuresByOutcome}, {"by_stage", r.failuresByStage}}},
        {"starts", r.starts},
        {"interrupted", r.interrupted},
        {"already_flashed", r.alreadyFlashed},
        {"first_pass_yield", Rounded(r.firstPassYield, 1e4)},
        {"first_pass", {{"radios", r.firstPassRadios}, {"passed", r.firstPassed}}},
        {"by_port", ports},
        {"by_image", images},
        {"by_day", days},
        {"repeats", {{"lines", r.repeatLines}, {"radio_ids", r.repeatedIds}}},
        {"bad_lines",
         {{"count", r.badLines}, {"lines", r.badLineNumbers}, {"all_listed", r.badLines == r.badLineNumbers.size()}}}};
}
} // namespace

int ReportCommand(const CliOptions& options, const std::string& record, const std::optional<std::string>& since)
{
    std::optional<long long> from;
    if (since)
    {
        from = ParseUtcTime(*since);
        if (!from)
            return Refuse(options, kExitUsage, "usage_error",
                          "--since " + *since + " is not a date: YYYY-MM-DD or 2026-12-09T10:15:02Z (see --help)");
    }
    const std::wstring path = Utf8ToWide(record);
    CRecordReport report(from);
    std::string error;
    std::error_code ec;
    // A folder opens as a stream on some systems and then reads as nothing.
    bool read = false;
    if (std::filesystem::is_directory(PathFromWide(path), ec))
        error = std::make_error_code(std::errc::is_a_directory).message();
    else
        read = ScanRecord(
            path, [&report](const RecordLine& line) { report.Add(line); }, error, &CRecordReport::Keys());
    if (!read)
        return Refuse(options, kExitNoInput, ExitName(kExitNoInput), "cannot read the record " + record + ": " + error);
    const RecordReportResult result = report.Result();
    if (options.json)
        PrintJson(ReportJson(result, record, since), options);
    else
        std::cout << ReportText(result, record, since) << std::flush;
    return kExitSuccess;
}
