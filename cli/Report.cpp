#include "cli/Report.h"

#include "app/UpgradeRun.h"
#include "cli/Console.h"
#include "cli/RadioView.h"
#include "platform/Text.h"

#include "Version.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

const char* const kVersion = KD7X_VERSION;

namespace
{
double Rounded(double value) { return std::round(value * 1000.0) / 1000.0; }
} // namespace

int ExitCodeFor(const RadioReport& radio)
{
    if (radio.result.outcome == UpgradeOutcome::Success)
        return radio.imagesDiffer ? kExitUnableToWrite : kExitSuccess;
    return RunExitCode(radio.result, radio.stopCode);
}

int CombinedExitCode(const std::vector<RadioReport>& radios)
{
    if (radios.empty())
        return kExitUsage;
    // Stopped is the whole command's outcome, whatever some radios managed before the stop.
    const bool allSucceeded = std::all_of(radios.begin(), radios.end(),
                                          [](const RadioReport& radio) { return ExitCodeFor(radio) == kExitSuccess; });
    for (const auto& radio : radios)
        if (radio.stopCode != 0 && !allSucceeded)
            return radio.stopCode;
    const int first = ExitCodeFor(radios.front());
    for (const auto& radio : radios)
    {
        if (ExitCodeFor(radio) != first)
            return kExitSomeFailed;
    }
    return first;
}

std::string WhereText(const UpgradeResult& result)
{
    if (result.outcome == UpgradeOutcome::Success || result.stage == UpgradeStage::None)
        return {};
    return " at " + (result.stage == UpgradeStage::Block ? "block " + std::to_string(result.block)
                                                         : std::string(ToString(result.stage)));
}

namespace
{
// A run a stop broke off says so first; one that ended before the stop mattered does not.
bool StoppedMidway(const UpgradeResult& result)
{
    return result.cancelled && result.outcome != UpgradeOutcome::Success &&
           result.outcome != UpgradeOutcome::ModeNotSeen;
}
} // namespace

std::string OutcomeLine(const RadioReport& radio)
{
    std::string line = WideToUtf8(DescribeOutcome(radio.result));
    if (radio.result.outcome == UpgradeOutcome::Success && radio.result.confirmed.value_or(false))
        line += ", confirmed by the radio";
    if (StoppedMidway(radio.result))
        line = "Cancelled: " + line + "; the radio needs a new upgrade";
    if (radio.imagesDiffer)
        line += " (but the simulated radio's images differ from the files sent)";
    if (!radio.result.detail.empty())
        line +=
            " (" + std::string(radio.result.portGone ? "serial port: " : "") + WideToUtf8(radio.result.detail) + ")";
    return line;
}

nlohmann::json RadioJson(const RadioReport& radio, const std::vector<ImageReport>& images)
{
    const UpgradeResult& r = radio.result;
    nlohmann::json doc = ResultJson(r);
    doc["outcome"] = ExitName(ExitCodeFor(radio));
    doc["exit_code"] = ExitCodeFor(radio);
    doc["port"] = radio.port;
    doc["version"] = kVersion;
    nlohmann::json list = nlohmann::json::array();
    for (const auto& image : images)
        list.push_back({{"role", image.role},
                        {"path", image.path},
                        {"size", image.size},
                        {"sha256", image.sha256},
                        {"frames", image.frames}});
    doc["images"] = list;
    doc["duration_s"] = Rounded(radio.seconds);
    doc["bytes_sent"] = radio.bytesSent;
    doc["bytes_per_s"] =
        radio.sendingSeconds > 0 ? std::round(static_cast<double>(radio.bytesSent) / radio.sendingSeconds) : 0.0;
    if (!r.settingsError.empty())
        doc["settings_error"] = r.settingsError;
    if (!radio.radioJson.empty())
        doc["radio"] = nlohmann::json::parse(radio.radioJson, nullptr, false);
    return doc;
}

namespace
{
// From the first radio's first image byte to the last one's last: the time any radio was
// sending; -1 when none sent.
double SendingSeconds(const std::vector<RadioReport>& radios)
{
    bool sending = false;
    auto from = std::chrono::steady_clock::time_point::max();
    auto to = std::chrono::steady_clock::time_point::min();
    for (const auto& radio : radios)
    {
        if (!radio.sending)
            continue;
        sending = true;
        from = std::min(from, radio.sendingFrom);
        to = std::max(to, radio.sendingTo);
    }
    return sending ? std::chrono::duration<double>(to - from).count() : -1;
}
} // namespace

nlohmann::json ReportJson(const std::vector<RadioReport>& radios, const std::vector<ImageReport>& images, bool several)
{
    if (!several && radios.size() == 1)
        return RadioJson(radios.front(), images);
    nlohmann::json doc;
    const int code = CombinedExitCode(radios);
    doc["outcome"] = ExitName(code);
    doc["exit_code"] = code;
    doc["version"] = kVersion;
    nlohmann::json list = nlohmann::json::array();
    std::size_t succeeded = 0;
    std::size_t bytes = 0;
    double seconds = 0;
    for (const auto& radio : radios)
    {
        list.push_back(RadioJson(radio, images));
        succeeded += ExitCodeFor(radio) == kExitSuccess ? 1 : 0;
        bytes += radio.bytesSent;
        seconds = std::max(seconds, radio.seconds);
    }
    doc["radios"] = list;
    // Per second of sending, as each radio's and the closing line's.
    const double sendingSeconds = SendingSeconds(radios);
    doc["totals"] = {
        {"radios", radios.size()},
        {"succeeded", succeeded},
        {"failed", radios.size() - succeeded},
        {"bytes_sent", bytes},
        {"duration_s", Rounded(seconds)},
        {"bytes_per_s", sendingSeconds > 0 ? std::round(static_cast<double>(bytes) / sendingSeconds) : 0.0}};
    return doc;
}

nlohmann::json FailureJson(int exitCode, const std::string& outcome, const std::string& message)
{
    return {{"outcome", outcome}, {"exit_code", exitCode}, {"message", message}, {"version", kVersion}};
}

std::string ClosingLine(const std::vector<RadioReport>& radios, std::size_t imageBytes)
{
    std::size_t bytes = 0;
    std::size_t succeeded = 0;
    bool stopped = false;
    for (const auto& radio : radios)
    {
        bytes += radio.bytesSent;
        succeeded += ExitCodeFor(radio) == kExitSuccess ? 1 : 0;
        stopped = stopped || radio.result.cancelled;
    }
    const double seconds = SendingSeconds(radios);
    if (seconds < 0)
        return "";
    const bool all = succeeded == radios.size();
    std::string line = "Wrote " + std::to_string(bytes);
    if (!all)
        line += " of " + std::to_string(imageBytes * radios.size());
    line += " bytes";
    if (radios.size() > 1)
        line += " to " + std::to_string(radios.size()) + " radios";
    char time[32];
    std::snprintf(time, sizeof time, " in %.1f s", seconds);
    line += time;
    if (seconds > 0)
        line += " (" + FormatRate(static_cast<double>(bytes) / seconds) + ")";
    if (stopped && !all)
        line += radios.size() > 1 ? "; stopped" : " before the stop";
    else if (!all)
        line +=
            radios.size() > 1 ? "; " + std::to_string(radios.size() - succeeded) + " failed" : " before the failure";
    return line;
}

std::string SummaryTable(const std::vector<RadioReport>& radios)
{
    std::size_t portWidth = 4;
    std::size_t outcomeWidth = 7;
    std::vector<std::string> outcomes;
    for (const auto& radio : radios)
    {
        outcomes.push_back(TerminalText((StoppedMidway(radio.result) ? "Cancelled: " : "") +
                                        WideToUtf8(DescribeOutcome(radio.result))));
        portWidth = std::max(portWidth, TerminalText(radio.port).size());
        outcomeWidth = std::max(outcomeWidth, outcomes.back().size());
    }
    const auto pad = [](std::string text, std::size_t width) {
        text.resize(std::max(width, text.size()), ' ');
        return text;
    };
    std::string table = pad("port", portWidth) + "  " + pad("outcome", outcomeWidth) + "  duration\n";
    for (std::size_t i = 0; i < radios.size(); ++i)
    {
        char seconds[32];
        std::snprintf(seconds, sizeof seconds, "%.1f s", radios[i].seconds);
        table += pad(TerminalText(radios[i].port), portWidth) + "  " + pad(outcomes[i], outcomeWidth) + "  " + seconds +
                 "\n";
    }
    return table;
}

std::string Dump(const nlohmann::json& json)
{
    return json.dump(2, ' ', false, nlohmann::json::error_handler_t::replace);
}
