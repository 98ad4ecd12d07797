// kd7x-update: flashes KD7X radios from a terminal or a script, one or many at once.
#include "app/Logging.h"
#include "app/UpgradeRun.h"
#include "cli/CliPlatform.h"
#include "cli/Console.h"
#include "cli/Flash.h"
#include "cli/Report.h"
#include "cli/Tuning.h"
#include "config/Settings.h"
#include "platform/Digest.h"
#include "platform/Text.h"

#include <CLI/CLI.hpp>
#include <spdlog/spdlog.h>

#include <cstdlib>
#include <fstream>
#include <iostream>
#include <random>
#include <set>

namespace
{
const char* const kExitCodes = "Exit codes:\n"
                               "  0  The host writes successfully (every radio)\n"
                               "  1  Host not responding (image selection or final write not answered)\n"
                               "  2  unable to write to host (an image did not go through)\n"
                               "  3  serial error: the port is missing, busy, not configurable, or vanished\n"
                               "  4  the radio's upgrade menu was not seen in time\n"
                               "  5  no data can be written! (no image named)\n"
                               "  6  an image file cannot be used (missing, empty, not a regular file, a folder,\n"
                               "     unreadable, over 16 MiB)\n"
                               "  7  several radios: some failed while others did not, or failed differently\n"
                               " 64  usage error\n"
                               "130  cancelled with Ctrl-C (the ports are released)\n";

struct Options
{
    std::vector<std::string> warnings; // found while starting: also in the JSON document
    std::vector<std::string> ports;
    std::string app, rcdb, settings, log;
    std::map<std::string, std::string> tuning; // settings key -> flag text
    std::string wait = "300";
    bool verbose = false, quiet = false, json = false, listPorts = false, simulate = false, version = false;
    bool all = false, fast = false;
    int radios = 1;
};

// What a failure before any radio is touched prints: a line, and the JSON document when asked.
// The one document on stdout, with the warnings given on the way.
void PrintJson(nlohmann::json doc, const Options& options)
{
    if (!options.warnings.empty())
        doc["warnings"] = options.warnings;
    std::cout << Dump(doc) << std::endl;
}

int Refuse(const Options& options, int code, const std::string& outcome, const std::string& message)
{
    std::cerr << "kd7x-update: " << message << std::endl;
    if (options.json)
        PrintJson(FailureJson(code, outcome, message), options);
    return code;
}

std::string PortLine(const PortInfo& port)
{
    std::string line = port.path;
    if (port.vid >= 0)
    {
        char ids[16];
        std::snprintf(ids, sizeof ids, "%04x:%04x", port.vid & 0xFFFF, port.pid & 0xFFFF);
        line += std::string("  USB ") + ids;
    }
    for (const std::string* part : {&port.manufacturer, &port.description})
        if (!part->empty())
            line += "  " + *part;
    if (!port.serial.empty())
        line += "  serial " + port.serial;
    if (!port.byId.empty())
        line += "  (" + port.byId + ")";
    return line;
}

int ListPortsCommand(const Options& options)
{
    const auto ports = ListPorts();
    if (options.json)
    {
        nlohmann::json list = nlohmann::json::array();
        for (const auto& port : ports)
        {
            nlohmann::json entry = {{"path", port.path},
                                    {"by_id", port.byId},
                                    {"description", port.description},
                                    {"manufacturer", port.manufacturer},
                                    {"serial", port.serial},
                                    {"usb", port.vid >= 0}};
            char id[8];
            std::snprintf(id, sizeof id, "%04x", port.vid & 0xFFFF);
            entry["vid"] = port.vid >= 0 ? nlohmann::json(id) : nlohmann::json(nullptr);
            std::snprintf(id, sizeof id, "%04x", port.pid & 0xFFFF);
            entry["pid"] = port.vid >= 0 ? nlohmann::json(id) : nlohmann::json(nullptr);
            list.push_back(entry);
        }
        std::cout << Dump(list) << std::endl;
        return kExitSuccess;
    }
    if (ports.empty())
        std::cout << "no serial ports found" << std::endl;
    for (const auto& port : ports)
        std::cout << PortLine(port) << std::endl;
    return kExitSuccess;
}

// --port auto: the one USB serial port there is; with --all every one.
bool ExpandAuto(std::vector<std::string>& ports, bool all, std::string& error)
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
                error += "\n  " + PortLine(info);
            return false;
        }
        for (const auto& info : usb)
            expanded.push_back(info.path);
    }
    ports = std::move(expanded);
    return true;
}

std::wstring AbsolutePath(const std::string& argument)
{
    if (argument.empty())
        return {};
    std::error_code ec;
    const auto absolute = std::filesystem::absolute(PathFromWide(Utf8ToWide(argument)), ec);
    return ec ? Utf8ToWide(argument) : PathToWide(absolute.lexically_normal());
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

int Flash(Options& options)
{
    std::atomic<bool> cancel{false};
    InstallCancelHandler(cancel);
    const auto note = [&options](const std::string& text) {
        if (!options.quiet)
            std::cerr << "kd7x-update: " << text << std::endl;
    };
    const auto warn = [&options, &note](const std::string& text) {
        options.warnings.push_back(text);
        note(text);
    };

    // Where the settings and the log live.
    // The program's own folders are made as needed; a folder the person named is theirs to make.
    FileLocations files = DefaultFileLocations();
    std::error_code ec;
    for (auto [file, named] : {std::pair(&files.settings, &options.settings), std::pair(&files.log, &options.log)})
    {
        // The arguments are UTF-8; file names go to the system in its own narrow form.
        if (!named->empty())
            *file = WideToNarrow(Utf8ToWide(*named));
        else if (files.makeFolders)
            std::filesystem::create_directories(std::filesystem::path(*file).parent_path(), ec);
    }
    SetIniPathOverride(files.settings);
    std::string logError;
    auto logger = CreateAppLogger(files.log, &logError, true);
    if (!logger)
        warn("no log file (" + logError + "); going on without one");
    else
        logger->set_error_handler([quiet = options.quiet](const std::string& why) {
            // Said once: a full disk would otherwise say it at every record.
            static std::atomic<bool> said{false};
            if (!quiet && !said.exchange(true))
                std::cerr << "kd7x-update: the log cannot be written (" << why << ")" << std::endl;
        });

    std::map<std::string, std::string> tuning = options.tuning;
    if (options.fast && tuning.count("WriteDataFrameInterval") == 0)
        tuning["WriteDataFrameInterval"] = "0";
    for (const auto& warning : ApplyTuning(tuning, files.settings))
        warn(warning);
    long long waitSeconds = 300;
    if (!ParseWhole(options.wait, 0, 86400, waitSeconds))
    {
        warn("--wait " + options.wait + " is not a whole number of seconds from 0 to 86400; 300 is taken");
        waitSeconds = 300;
    }

    // Simulated radios stand in for the ports.
    std::unique_ptr<ISimulatedRadios> simulated;
    std::filesystem::path sampleFolder;
    UpgradeRequest base;
    base.strictImages = true;
    base.saveSettings = false;
    base.appPath = AbsolutePath(options.app);
    base.rcdbPath = AbsolutePath(options.rcdb);
    base.waitMs = static_cast<DWORD>(waitSeconds * 1000);
    if (options.simulate)
    {
        if (options.radios < 1 || options.radios > 64)
            return Refuse(options, kExitUsage, "usage_error", "--radios takes 1 to 64");
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
    for (const auto& image : loaded)
    {
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
        if (!ExpandAuto(options.ports, options.all, error))
            return Refuse(options, kExitSerialError, "serial_error", error);
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
        report.result.settingsError = settingsError;

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
    // The outcome: success on stdout unless stdout is for JSON, failures on stderr.
    const bool colour = std::getenv("NO_COLOR") == nullptr;
    for (const auto& report : reports)
    {
        if (options.quiet && options.json)
            break; // the document is the outcome
        const bool ok = ExitCodeFor(report) == kExitSuccess;
        std::ostream& out = ok && !options.json ? std::cout : std::cerr;
        const bool paint = colour && (&out == &std::cout ? StdoutIsTerminal() : StderrIsTerminal());
        const std::string line = (several ? "[" + report.port + "] " : "") + OutcomeLine(report);
        out << (paint ? (ok ? "\x1b[32m" : "\x1b[31m") : "") << line << (paint ? "\x1b[0m" : "") << std::endl;
    }
    if (options.json)
        PrintJson(ReportJson(reports, images, several), options);
    return code;
}
} // namespace

int main(int argc, char** argv)
{
    Options options;
    const std::vector<std::string> args = CommandLineArguments(argc, argv);
    for (const auto& arg : args)
        options.json = options.json || arg == "--json";

    CLI::App cli{"Flashes KD7X radios: waits for each radio's upgrade menu, sends the application and RCDB images,\n"
                 "then tells the radio to write them. Several --port options flash several radios at once.",
                 "kd7x-update"};
    cli.footer(kExitCodes);
    cli.add_option("-p,--port", options.ports,
                   "Serial port: a device such as /dev/ttyUSB0 (COM5 on Windows), or auto for the one USB port; "
                   "give it again for more radios");
    cli.add_flag("--all", options.all, "With --port auto: every USB serial port plugged in");
    cli.add_option("-a,--app", options.app, "Application image (.bin)");
    cli.add_option("-r,--rcdb", options.rcdb, "Resource-database image (.bin)");
    cli.add_option("--settings", options.settings,
                   "Settings file (default: kd7x-update.ini beside the program if there is one, else "
                   "$XDG_CONFIG_HOME/kd7x-update/kd7x-update.ini; Windows: beside the program)");
    cli.add_option("--log", options.log,
                   "Log file (default: beside that settings file, else "
                   "$XDG_STATE_HOME/kd7x-update/kd7x-update.log; Windows: beside the program)");
    for (const auto& [flag, key, what] :
         {std::make_tuple("--timeout", "timeout", "Serial time-out and pause after a failed exchange, in ms"),
          std::make_tuple("--retries", "WriteDataFrameRetry", "Attempts per frame exchange"),
          std::make_tuple("--interval", "WriteDataFrameInterval", "Pause between a frame and reading its answer, ms")})
    {
        const std::string name = key;
        cli.add_option_function<std::string>(
               flag, [&options, name](const std::string& value) { options.tuning[name] = value; }, what)
            ->type_name("N");
    }
    cli.add_option("--wait", options.wait,
                   "Seconds to wait for the radio's upgrade menu (default 300; 0: as many listening passes as "
                   "the settings allow)")
        ->type_name("SECONDS");
    cli.add_flag("--fast", options.fast, "No pause between a frame and its answer (--interval 0)");
    cli.add_flag("-v,--verbose", options.verbose, "Show what the radio sends: text while waiting, answers in hex");
    cli.add_flag("-q,--quiet", options.quiet, "Print only the outcome");
    cli.add_flag("--json", options.json, "Print the outcome as one JSON document on standard output");
    cli.add_flag("--list-ports", options.listPorts, "List the serial ports of this machine");
    cli.add_flag("--simulate", options.simulate, "Flash built-in simulated radios (sample images when none given)");
    cli.add_option("--radios", options.radios, "With --simulate: how many radios at once, 1 to 64 (default 1)")
        ->type_name("N");
    cli.add_flag("--version", options.version, "Print the version");

    std::vector<char*> argvUtf8;
    for (const auto& arg : args)
        argvUtf8.push_back(const_cast<char*>(arg.c_str()));
    try
    {
        cli.parse(static_cast<int>(argvUtf8.size()), argvUtf8.data());
    }
    catch (const CLI::CallForHelp& e)
    {
        if (!options.json)
            return cli.exit(e);
        std::cout << Dump({{"outcome", "help"}, {"exit_code", 0}, {"help", cli.help()}, {"version", kVersion}})
                  << std::endl;
        return kExitSuccess;
    }
    catch (const CLI::ParseError& e)
    {
        return Refuse(options, kExitUsage, "usage_error", std::string(e.what()) + " (see --help)");
    }

    try
    {
        if (options.version)
        {
            if (options.json)
                std::cout << Dump({{"version", kVersion}}) << std::endl;
            else
                std::cout << "kd7x-update " << kVersion << std::endl;
            return kExitSuccess;
        }
        if (options.listPorts)
            return ListPortsCommand(options);
        if (!options.simulate && options.ports.empty())
            return Refuse(options, kExitUsage, "usage_error", "--port is needed (or --list-ports, --simulate, --help)");
        if (!options.simulate && options.radios != 1)
            return Refuse(options, kExitUsage, "usage_error",
                          "--radios goes with --simulate; name real radios with --port");
        InitModulePathsFromExecutable();
        return Flash(options);
    }
    catch (const std::exception& e)
    {
        // Every run has closed its port by now; nothing else may end the program unexplained.
        return Refuse(options, kExitUnableToWrite, "unable_to_write", std::string("internal error: ") + e.what());
    }
}
