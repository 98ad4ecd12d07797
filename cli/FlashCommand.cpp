// kd7x-update's main command: flashes the radios on the ports named (or simulated ones).
#include "app/Logging.h"
#include "app/UpgradeRun.h"
#include "cli/Command.h"
#include "cli/Console.h"
#include "cli/Flash.h"
#include "cli/Report.h"
#include "cli/Tuning.h"
#include "config/Settings.h"
#include "platform/Digest.h"
#include "platform/Text.h"

#include <spdlog/spdlog.h>

#include <cstdlib>
#include <fstream>
#include <iostream>
#include <random>
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

// Small sample images keep a demonstration within a minute at the default pauses.
std::wstring WriteSample(const std::filesystem::path& folder, const char* name, std::size_t size, unsigned seed)
{
    std::mt19937 rng(seed);
    std::vector<char> data(size);
    for (auto& c : data)
        c = static_cast<char>(rng() & 0xFF);
    const auto path = folder / name;
    std::ofstream(path, std::ios::binary).write(data.data(), static_cast<std::streamsize>(data.size()));
    return PathToWide(path);
}

} // namespace

int FlashCommand(CliOptions& options)
{
    std::atomic<bool> cancel{false};
    InstallCancelHandler(cancel);
    const auto say = [](const std::string& text) { std::cerr << "kd7x-update: " << TerminalText(text) << std::endl; };
    const auto note = [&options, &say](const std::string& text) {
        if (!options.quiet)
            say(text);
    };
    // --quiet keeps the warnings: a value not taken or a file not written is never silent.
    const auto warn = [&options, &say](const std::string& text) {
        options.warnings.push_back(text);
        say(text);
    };

    // Where the settings and the log live.
    // The program's own folders are made as needed; a folder the person named is theirs to make.
    FileLocations files = DefaultFileLocations();
    std::error_code ec;
    for (auto [file, named] : {std::pair(&files.settings, &options.settings), std::pair(&files.log, &options.log)})
    {
        // The arguments are UTF-8; file names stay wide up to the system.
        if (!named->empty())
            *file = Utf8ToWide(*named);
        else if (files.makeFolders)
            std::filesystem::create_directories(PathFromWide(*file).parent_path(), ec);
    }
    SetIniPathOverride(files.settings);
    std::string logError;
    auto logger = CreateAppLogger(PathFromWide(files.log), &logError, true);
    if (!logger)
        warn("no log file (" + logError + "); going on without one");
    else
        logger->set_error_handler([](const std::string& why) {
            // Said once: a full disk would otherwise say it at every record.
            static std::atomic<bool> said{false};
            if (!said.exchange(true))
                std::cerr << "kd7x-update: the log cannot be written (" << why << ")" << std::endl;
        });

    std::map<std::string, int> tuning = options.tuning;
    if (options.fast && tuning.count("WriteDataFrameInterval") == 0)
        tuning["WriteDataFrameInterval"] = 0;
    for (const auto& warning : ApplyTuning(tuning, WideToUtf8(files.settings)))
        warn(warning);
    const long long waitSeconds = options.waitSeconds;

    // Simulated radios stand in for the ports.
    std::unique_ptr<ISimulatedRadios> simulated;
    std::filesystem::path sampleFolder;
    UpgradeRequest base;
    base.strictImages = true;
    base.saveSettings = false;
    base.appPath = ResolvedPath(options.app);
    base.rcdbPath = ResolvedPath(options.rcdb);
    base.waitMs = static_cast<DWORD>(waitSeconds * 1000);
    if (options.simulate)
    {
        if (!options.ports.empty())
            return Refuse(options, kExitUsage, "usage_error", "--simulate flashes simulated radios: leave out --port");
        if (base.appPath.empty() && base.rcdbPath.empty())
        {
            sampleFolder =
                std::filesystem::temp_directory_path(ec) / ("kd7x-simulate-" + std::to_string(std::random_device{}()));
            std::filesystem::create_directories(sampleFolder, ec);
            base.appPath = WriteSample(sampleFolder, "sample-app.bin", 48 * 1024 + 300, 1);
            base.rcdbPath = WriteSample(sampleFolder, "sample-rcdb.bin", 12 * 1024 + 40, 2);
        }
    }
    const auto removeSamples = [&] {
        if (!sampleFolder.empty())
            std::filesystem::remove_all(sampleFolder, ec);
    };

    // Images are read, checked and framed once, before any port is opened.
    std::vector<UpgradeImage> loaded;
    UpgradeResult imageResult;
    if (!LoadImages(base, loaded, imageResult))
    {
        removeSamples();
        return Refuse(options, kExitImageUnreadable, ExitName(kExitImageUnreadable), WideToUtf8(imageResult.message));
    }
    if (loaded.empty())
        return Refuse(options, kExitNoData, "no_data", "no data can be written! (name an image with --app or --rcdb)");
    std::vector<ImageReport> images;
    std::vector<std::wstring> paths;
    std::size_t imageBytes = 0;
    for (const auto& image : loaded)
    {
        imageBytes += image.bytes->size();
        images.push_back({image.code == kImageApp ? "app" : "rcdb", WideToUtf8(image.path), image.bytes->size(),
                          Sha256Hex(image.bytes->data(), image.bytes->size()), static_cast<int>(image.frames->size())});
        paths.push_back(image.path);
    }
    base.images = std::make_shared<const std::vector<UpgradeImage>>(std::move(loaded));

    std::vector<RadioJob> jobs;
    if (options.simulate)
    {
        std::string error;
        simulated = StartSimulatedRadios(options.radios, error);
        if (!simulated)
        {
            removeSamples();
            const bool unsupported = error.rfind("--simulate", 0) == 0;
            return Refuse(options, unsupported ? kExitUsage : kExitSerialError,
                          unsupported ? "usage_error" : "serial_error", error);
        }
        for (const auto& device : simulated->Devices())
        {
            RadioJob job{WideToUtf8(device), base};
            job.request.device = device;
            jobs.push_back(std::move(job));
        }
        note(std::string("simulated radio") + (jobs.size() > 1 ? "s on " : " on ") + [&] {
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
        std::set<std::wstring> devices;
        for (const auto& port : options.ports)
        {
            const PortChoice choice = ResolvePort(port);
            if (!choice.error.empty())
                return Refuse(options, kExitUsage, "usage_error", choice.error);
            // One device named two ways is flashed once.
            const auto canonical = std::filesystem::weakly_canonical(PathFromWide(choice.device), ec);
            if (!devices.insert(ec ? choice.device : PathToWide(canonical)).second)
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
    if (!settingsError.empty())
        warn("settings not saved (" + settingsError + ")");

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
            std::string summary = simulated->SummaryText(i);
            for (std::size_t at = 0; !prefix.empty() && at < summary.size();)
            {
                summary.insert(at, prefix);
                const std::size_t end = summary.find('\n', at);
                at = end == std::string::npos ? summary.size() : end + 1;
            }
            if (!options.quiet)
                std::cerr << summary;
            reports[i].imagesDiffer =
                reports[i].result.outcome == UpgradeOutcome::Success && !simulated->Holds(i, paths);
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
    const std::string closing = ClosingLine(reports, imageBytes);
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
        PrintJson(ReportJson(reports, images, several), options);
    return code;
}
