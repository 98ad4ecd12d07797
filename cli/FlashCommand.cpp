// kd7x-update's main command: flashes the radios on the ports named (or simulated ones).
#include "app/UpgradeRun.h"
#include "cli/Command.h"
#include "cli/Console.h"
#include "cli/Flash.h"
#include "cli/Report.h"
#include "platform/Text.h"
#include "serial/PortWatcher.h"

#include <spdlog/spdlog.h>

#include <cstdlib>
#include <iostream>
#include <set>

namespace
{
// --port auto: the one USB serial port there is; with --all every one.
bool ExpandAuto(std::vector<std::string>& ports, bool all, std::string& error, std::vector<std::string>& listing)
{
    std::vector<std::string> expanded;
    for (const auto& port : ports)
    {
        if (port != "auto")
        {
            expanded.push_back(port);
            continue;
        }
        std::vector<PortInfo> usb;
        for (const auto& info : ListPorts())
            if (info.vid >= 0)
                usb.push_back(info);
        if (usb.empty() || (usb.size() > 1 && !all))
        {
            error = usb.empty() ? "--port auto: no USB serial port is plugged in"
                                : "--port auto: " + std::to_string(usb.size()) +
                                      " USB serial ports are plugged in; name one with --port, or add --all:";
            for (const auto& info : usb)
                listing.push_back(PortLine(info));
            return false;
        }
        for (const auto& info : usb)
            expanded.push_back(info.path);
    }
    ports = std::move(expanded);
    return true;
}
} // namespace

int FlashCommand(CliOptions& options)
{
    // Static: the stop handler may still write to it as the program ends.
    static std::atomic<bool> cancel{false};
    InstallCancelHandler(cancel);
    if (options.simulate && !options.ports.empty())
        return Refuse(options, kExitUsage, "usage_error", "--simulate flashes simulated radios: leave out --port");
    FlashSetUp setUp;
    if (const int refused = SetUpFlash(options, setUp); refused >= 0)
        return refused;
    const UpgradeRequest& base = setUp.base;
    const auto& images = setUp.images;
    const auto& logger = setUp.logger;
    std::error_code ec;
    const auto removeSamples = [&] {
        if (!setUp.sampleFolder.empty())
            std::filesystem::remove_all(setUp.sampleFolder, ec);
    };

    std::unique_ptr<ISimulatedRadios> simulated;
    std::vector<RadioJob> jobs;
    if (options.simulate)
    {
        std::string error;
        simulated = StartSimulatedRadios(options.radios, error);
        if (!simulated)
        {
            removeSamples();
            return RefuseSimulation(options, error);
        }
        for (const auto& device : simulated->Devices())
        {
            RadioJob job{WideToUtf8(device), base};
            job.request.device = device;
            jobs.push_back(std::move(job));
        }
        Note(
            options, std::string("simulated radio") + (jobs.size() > 1 ? "s on " : " on ") + [&] {
                std::string list;
                for (const auto& job : jobs)
                    list += (list.empty() ? "" : ", ") + job.port;
                return list;
            }());
    }
    else
    {
        std::string error;
        std::vector<std::string> listing;
        if (!ExpandAuto(options.ports, options.all, error, listing))
            return Refuse(options, kExitSerialError, "serial_error", error, listing);
        std::set<std::string> devices;
        for (const auto& port : options.ports)
        {
            const PortChoice choice = ResolvePort(port);
            if (!choice.error.empty())
                return Refuse(options, kExitUsage, "usage_error", choice.error);
            if (!devices.insert(DeviceIdentity(choice.device)).second)
                continue;
            RadioJob job{port, base};
            job.request.device = choice.device;
            job.request.portSetting = choice.setting;
            jobs.push_back(std::move(job));
        }
    }

    // The settings are written once, by this thread, however many radios there are; simulated
    // radios and sample images are nothing to remember.
    UpgradeRequest saved = base;
    saved.portSetting = jobs.front().request.portSetting;
    const std::string settingsError = options.simulate ? std::string() : SaveRunSettings(saved);
    if (!settingsError.empty() && !options.settingsUnreadable)
        Warn(options, "settings not saved (" + settingsError + ")");

    std::vector<std::string> labels;
    for (auto& job : jobs)
    {
        labels.push_back(job.port);
        if (logger)
        {
            auto tagged = logger->clone(job.port);
            spdlog::drop(job.port);
            spdlog::register_logger(tagged);
            job.request.logger = job.port;
        }
    }
    CConsole::Options look;
    look.redraw = StderrIsTerminal();
    look.quiet = options.quiet;
    look.columns = TerminalColumns();
    CConsole console(std::cerr, look, labels);
    FlashOptions flash;
    flash.verbose = options.verbose;
    flash.waitMs = base.waitMs;
    auto reports = FlashRadios(jobs, images, console, cancel, flash, MakeSerialPort);
    console.Close();
    for (auto& report : reports)
    {
        report.result.settingsError = settingsError;
        report.stopCode = StopExitCode();
    }

    if (simulated)
    {
        simulated->Stop();
        for (std::size_t i = 0; i < reports.size(); ++i)
        {
            const std::string prefix = reports.size() > 1 ? "[" + reports[i].port + "] " : "";
            const std::string summary = PrefixLines(prefix, simulated->SummaryText(i));
            if (!options.quiet)
                std::cerr << summary;
            reports[i].imagesDiffer =
                reports[i].result.outcome == UpgradeOutcome::Success && !simulated->Holds(i, setUp.paths);
            reports[i].radioJson = simulated->SummaryJson(i);
            if (!options.quiet && reports[i].result.outcome == UpgradeOutcome::Success && !reports[i].imagesDiffer)
                std::cerr << prefix << "the simulated radio holds every image byte for byte" << std::endl;
        }
    }
    removeSamples();

    const int code = CombinedExitCode(reports);
    const bool several = reports.size() > 1;
    if (several && !options.quiet)
        std::cerr << SummaryTable(reports);
    // Not a warning: --quiet leaves it to the outcome (and the JSON document) to say.
    const std::string closing = ClosingLine(reports, setUp.imageBytes);
    if (!closing.empty() && !options.quiet)
        std::cerr << closing << std::endl;
    // The outcome: success on stdout unless stdout is for JSON, failures on stderr. NO_COLOR
    // counts when it holds something, as its convention has it.
    const char* noColor = std::getenv("NO_COLOR");
    const bool colour = noColor == nullptr || *noColor == '\0';
    for (const auto& report : reports)
    {
        if (options.quiet && options.json)
            break; // the document is the outcome
        const bool ok = ExitCodeFor(report) == kExitSuccess;
        std::ostream& out = ok && !options.json ? std::cout : std::cerr;
        const bool paint = colour && (&out == &std::cout ? StdoutIsTerminal() : StderrIsTerminal());
        const std::string line = (several ? "[" + report.port + "] " : "") + OutcomeLine(report);
        out << (paint ? (ok ? "\x1b[32m" : "\x1b[31m") : "") << TerminalText(line) << (paint ? "\x1b[0m" : "")
            << std::endl;
    }
    if (options.json)
    {
        // Who and where: in the document and in each radio's.
        nlohmann::json doc = ReportJson(reports, images, several);
        const auto stamp = [&options](nlohmann::json& radio) {
            radio["station_id"] = options.stationId;
            radio["operator"] = options.operatorName ? nlohmann::json(*options.operatorName) : nlohmann::json(nullptr);
        };
        stamp(doc);
        if (doc.contains("radios"))
            for (auto& radio : doc["radios"])
                stamp(radio);
        PrintJson(doc, options);
    }
    return code;
}
