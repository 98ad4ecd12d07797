// kd7x-update: flashes KD7X radios from a terminal or a script, one or many at once.
#include "cli/Command.h"
#include "cli/Console.h"
#include "cli/Help.h"
#include "cli/Report.h"
#include "cli/ReportCommand.h"
#include "cli/Tuning.h"
#include "config/Settings.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <cstdlib>
#include <iostream>

namespace
{
const char* const kExitCodes = "Exit codes:\n"
                               "    0  The host writes successfully (every radio)\n"
                               "    1  Host not responding (image selection or final write not answered)\n"
                               "    2  unable to write to host (an image did not go through)\n"
                               "    3  serial error: the port is missing, busy, not configurable, or vanished\n"
                               "    4  the radio's upgrade menu was not seen in time\n"
                               "    5  no data can be written! (no image named)\n"
                               "    6  an image file cannot be used (missing, empty, not a regular file,\n"
                               "       a folder, unreadable, over 16 MiB)\n"
                               "    7  several radios: some failed while others did not, or failed\n"
                               "       differently; --station: some radio failed\n"
                               "    8  written, not confirmed by the radio (--confirm)\n"
                               "   64  usage error\n"
                               "   66  --report: the record cannot be opened or read\n"
                               "   73  --station: the record cannot be created or written\n"
                               "  130  cancelled with Ctrl-C (the ports are released); 143 by SIGTERM,\n"
                               "       129 by SIGHUP; --station: a radio was stopped\n";

// The port when no --port is given; empty when KD7X_PORT is unset or empty.
std::string DefaultPort()
{
    const char* port = std::getenv("KD7X_PORT");
    return port == nullptr ? std::string() : std::string(port);
}

std::string Footer()
{
    const std::string port = DefaultPort();
    return "Environment:\n"
           "  KD7X_PORT   the port when no --port is given (not with --simulate or\n"
           "              --list-ports); now " +
           (port.empty() ? std::string("unset") : TerminalText(port)) +
           "\n"
           "  KD7X_OPERATOR\n"
           "              who works the bench, when no --operator is given\n"
           "  NO_COLOR    not empty: the outcome line without colour\n"
           "  TERM        dumb: plain progress lines, never redrawn\n"
           "\n" +
           kExitCodes;
}
} // namespace

int main(int argc, char** argv)
{
    CliOptions options;
    const std::vector<std::string> args = CommandLineArguments(argc, argv);
    for (const auto& arg : args)
        options.json = options.json || arg == "--json";

    CLI::App cli{"Flashes KD7X radios: waits for each radio's upgrade menu, sends the application\n"
                 "and RCDB images, then tells the radio to write them. Several --port options\n"
                 "flash several radios at once.",
                 "kd7x-update"};
    cli.formatter(std::make_shared<CHelpFormatter>());
    cli.footer(Footer());
    // One value per occurrence: "-p /dev/ttyUSB0 app.bin" must not take the image for a port.
    cli.add_option("-p,--port", options.ports,
                   "Serial port: a device such as /dev/ttyUSB0 (COM5 on Windows), or auto for the one USB port; "
                   "give it again for more radios. Default: $KD7X_PORT")
        ->allow_extra_args(false)
        ->type_name("PORT");
    cli.add_flag("--all", options.all, "With --port auto: every USB serial port plugged in");
    // The value's name also chooses its shell completion (cli/Help.h).
    cli.add_option("-a,--app", options.app, "Application image (.bin)")->type_name("IMAGE");
    cli.add_option("-r,--rcdb", options.rcdb, "Resource-database image (.bin)")->type_name("IMAGE");
    cli.add_option("--settings", options.settings,
                   "Settings file (default: kd7x-update.ini beside the program if there is one, else "
                   "$XDG_CONFIG_HOME/kd7x-update/kd7x-update.ini; Windows: beside the program)")
        ->type_name("FILE");
    cli.add_option("--log", options.log,
                   "Log file (default: beside that settings file, else "
                   "$XDG_STATE_HOME/kd7x-update/kd7x-update.log; Windows: beside the program)")
        ->type_name("FILE");
    // Numbers are taken as text and checked after parsing, so a bad one names its option and range.
    std::map<std::string, std::string> numbers;
    const auto number = [&](const char* flag, const char* what, const char* type) {
        cli.add_option_function<std::string>(
               flag, [&numbers, flag](const std::string& value) { numbers[flag] = value; }, what)
            ->type_name(type);
    };
    number("--timeout", "Serial time-out and pause after a failed exchange, in ms (0 to 60000)", "MS");
    number("--retries", "Attempts per frame exchange (1 or more)", "N");
    number("--interval", "Pause between a frame and reading its answer, in ms (0 to 60000)", "MS");
    number("--wait",
           "Seconds to wait for the radio's upgrade menu (default 300; 0: as many listening passes as the "
           "settings allow)",
           "SECONDS");
    cli.add_flag("--fast", options.fast, "No pause between a frame and its answer (--interval 0)");
    cli.add_flag("-v,--verbose", options.verbose, "Show what the radio sends: text while waiting, answers in hex");
    cli.add_flag("-q,--quiet", options.quiet, "Print only the outcome, warnings and errors");
    cli.add_flag("--json", options.json, "Print the outcome as one JSON document on standard output");
    cli.add_flag("--list-ports", options.listPorts, "List the serial ports of this machine");
    cli.add_flag("--simulate", options.simulate, "Flash built-in simulated radios (sample images when none given)");
    number("--radios", "With --simulate: how many radios at once, 1 to 64 (default 1; with --station 8 in turn)", "N");
    cli.add_flag("--station", options.station,
                 "Flash every radio put on the ports, in turn, until stopped: Ctrl-C takes no new radio and lets "
                 "those being flashed finish, a second Ctrl-C stops them; --port auto: every USB serial port as they "
                 "come and go");
    cli.add_option("--record", options.record,
                   "With --station: the file each radio's record (a JSON line) is appended to (default: "
                   "kd7x-update-radios.jsonl in the log's default folder, whatever --log says)")
        ->type_name("FILE");
    number("--count", "With --station: take no new radio once this many succeeded", "N");
    number("--settle",
           "With --station: seconds a radio must be quiet after its outcome before its port listens for the next "
           "one (default 3)",
           "SECONDS");
    cli.add_option("--confirm", options.confirm,
                   "Success needs the radio to say this (an ECMAScript regular expression) after the write "
                   "command, as it restarts; default: ConfirmPattern of the settings file")
        ->type_name("REGEX");
    number("--confirm-wait", "With --confirm: seconds to wait for it, 1 to 600 (default 10)", "SECONDS");
    cli.add_option("--radio-id", options.radioId,
                   "The radio's ID in its text up to its menu: the first capture group of this regular "
                   "expression, or the whole match; default: RadioIdPattern of the settings file")
        ->type_name("REGEX");
    cli.add_flag("--once", options.once,
                 "With --station and --radio-id: a radio whose ID already succeeded in the record is not flashed "
                 "again");
    number("--quarantine",
           "With --station: a port whose last N radios failed takes none until Enter is pressed or it is "
           "unplugged and plugged again (default 3, the Quarantine key of [Station]; 0: never)",
           "N");
    cli.add_flag("--no-record", options.noRecord,
                 "With --station: keep no record (without it a station that cannot record refuses to start)");
    std::string stationId, operatorName;
    cli.add_option("--station-id", stationId,
                   "The bench's name on every record line and in the JSON document (default: the host name)")
        ->type_name("NAME");
    cli.add_option("--operator", operatorName,
                   "Who works the bench, on every record line and in the JSON document (default: $KD7X_OPERATOR)")
        ->type_name("NAME");
    cli.add_option("--expect-sha256", options.expectSha256,
                   "ROLE=HEX: the app or rcdb image must have this SHA-256, or it is refused before any port is "
                   "opened; give it again for the other image")
        ->allow_extra_args(false)
        ->type_name("ROLE=HEX");
    cli.add_option("--manifest", options.manifest,
                   "A JSON file naming each image and its SHA-256: {\"app\": {\"path\": ..., \"sha256\": ...}, "
                   "\"rcdb\": {...}}, paths relative to its folder (instead of --app, --rcdb)")
        ->type_name("FILE");
    std::string report, since;
    cli.add_option("--report", report,
                   "Figures of a station's record: radios, failures by outcome and stage, first-pass yield, per "
                   "port, image and day (with --json one document)")
        ->type_name("FILE");
    cli.add_option("--since", since,
                   "With --report: only the lines that start at or after DATE (YYYY-MM-DD or a full ISO time, UTC "
                   "unless it names its zone); a line without a start is left out")
        ->type_name("DATE");
    cli.add_flag("--version", options.version, "Print the version");
    // Hidden: the build writes the completion scripts the package installs.
    std::string completion;
    cli.add_option("--completion", completion, "Print the completion script of bash or zsh")->group("");

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
    for (const auto& [flag, text] : numbers)
    {
        long long value = 0;
        const std::string error = CheckNumberFlag(flag, text, value);
        if (!error.empty())
            return Refuse(options, kExitUsage, "usage_error", error + " (see --help)");
        if (flag == "--wait")
            options.waitSeconds = value;
        else if (flag == "--radios")
            options.radios = static_cast<int>(value);
        else if (flag == "--count")
            options.count = static_cast<int>(value);
        else if (flag == "--settle")
            options.settleSeconds = value;
        else if (flag == "--confirm-wait")
            options.confirmWaitSeconds = value;
        else if (flag == "--quarantine")
            options.quarantine = value;
        else
            options.tuning[TuningKeyOf(flag)] = static_cast<int>(value);
    }

    try
    {
        if (!completion.empty())
        {
            const std::string script = CompletionScript(cli, completion);
            if (script.empty())
                return Refuse(options, kExitUsage, "usage_error", "--completion takes bash or zsh");
            std::cout << script;
            return kExitSuccess;
        }
        if (options.version)
        {
            if (options.json)
                std::cout << Dump({{"version", kVersion}}) << std::endl;
            else
                std::cout << "kd7x-update " << kVersion << std::endl;
            return kExitSuccess;
        }
        if (cli.count("--report") != 0)
        {
            for (const char* flag :
                 {"--station",       "--port",       "--all",       "--app",        "--rcdb",    "--simulate",
                  "--radios",        "--list-ports", "--record",    "--count",      "--settle",  "--manifest",
                  "--expect-sha256", "--once",       "--no-record", "--quarantine", "--confirm", "--confirm-wait",
                  "--radio-id",      "--station-id", "--operator"})
                if (cli.count(flag) != 0)
                    return Refuse(options, kExitUsage, "usage_error", std::string(flag) + " does not go with --report");
            return ReportCommand(options, report, cli.count("--since") != 0 ? std::optional(since) : std::nullopt);
        }
        if (cli.count("--since") != 0)
            return Refuse(options, kExitUsage, "usage_error", "--since goes with --report");
        if (options.listPorts)
            return ListPortsCommand(options);
        if (!options.simulate && options.ports.empty())
        {
            const std::string port = DefaultPort();
            if (port.empty())
                return Refuse(options, kExitUsage, "usage_error",
                              "--port is needed (or KD7X_PORT, --list-ports, --simulate, --help)");
            options.ports.push_back(port);
            if (!options.quiet)
                std::cerr << "kd7x-update: port " << TerminalText(port) << " from KD7X_PORT" << std::endl;
        }
        if (!options.simulate && numbers.count("--radios") != 0)
            return Refuse(options, kExitUsage, "usage_error",
                          "--radios goes with --simulate; name real radios with --port");
        if (std::any_of(options.ports.begin(), options.ports.end(), [](const std::string& p) { return p.empty(); }))
            return Refuse(options, kExitUsage, "usage_error", "--port '' names no port");
        if (cli.count("--manifest") != 0)
            for (const char* flag : {"--app", "--rcdb", "--expect-sha256"})
                if (cli.count(flag) != 0)
                    return Refuse(options, kExitUsage, "usage_error",
                                  std::string(flag) + " does not go with --manifest, which names the images");
        if (cli.count("--station-id") != 0 && stationId.empty())
            return Refuse(options, kExitUsage, "usage_error", "--station-id needs a name");
        options.stationId = stationId.empty() ? HostName() : stationId;
        if (cli.count("--operator") != 0 && !operatorName.empty())
            options.operatorName = operatorName;
        else if (const char* fromEnv = std::getenv("KD7X_OPERATOR"); fromEnv != nullptr && *fromEnv != '\0')
            options.operatorName = std::string(fromEnv);
        for (const char* flag : {"--count", "--settle", "--record", "--once", "--no-record", "--quarantine"})
            if (!options.station && (numbers.count(flag) != 0 || cli.count(flag) != 0))
                return Refuse(options, kExitUsage, "usage_error", std::string(flag) + " goes with --station");
        options.confirmGiven = cli.count("--confirm") != 0;
        options.radioIdGiven = cli.count("--radio-id") != 0;
        InitModulePathsFromExecutable();
        if (options.station)
        {
            options.waitGiven = numbers.count("--wait") != 0;
            if (options.simulate && numbers.count("--radios") == 0)
                options.radios = 8;
            return StationCommand(options);
        }
        return FlashCommand(options);
    }
    catch (const std::exception& e)
    {
        // Every run has closed its port by now; nothing else may end the program unexplained.
        return Refuse(options, kExitUnableToWrite, "unable_to_write", std::string("internal error: ") + e.what());
    }
}
