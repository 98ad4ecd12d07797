// kd7x-update: flashes a KD7X radio from a terminal or a script.
#include "app/Logging.h"
#include "app/Settings.h"
#include "app/UpgradeRun.h"
#include "cli/CliPlatform.h"
#include "cli/ConsoleView.h"
#include "cli/Outcome.h"
#include "platform/Text.h"

#include <CLI/CLI.hpp>

#include <iostream>

namespace
{
const char* const kVersion = "1.0.23.503";

const char* const kExitCodes = "Exit codes:\n"
                               "  0  The host writes successfully\n"
                               "  1  Host not responding (image selection or final write not answered)\n"
                               "  2  unable to write to host (an image did not go through, or Ctrl-C)\n"
                               "  3  serial error (port missing, busy, not configurable, vanished)\n"
                               "  4  the radio's upgrade menu was not seen, or Ctrl-C while waiting\n"
                               "  5  no data can be written! (neither image file exists)\n"
                               "  6  an image file cannot be read\n"
                               " 64  usage error\n";
} // namespace

int main(int argc, char** argv)
{
    std::string port, app, rcdb, settings, logPath;
    bool verbose = false, json = false, listPorts = false, simulate = false, version = false;

    CLI::App cli{"Flashes a KD7X radio: waits for its upgrade menu, sends the application and RCDB images,\n"
                 "then tells the radio to write them."};
    cli.footer(kExitCodes);
    cli.add_option("--port", port, "Serial port: a device such as /dev/ttyUSB0, or COM5 on Windows");
    cli.add_option("--app", app, "Application image (.bin)");
    cli.add_option("--rcdb", rcdb, "Resource-database image (.bin)");
    cli.add_option("--settings", settings, "Settings file (default: beside the program, named after it)");
    cli.add_option("--log", logPath, "Log file (default: beside the program, named after it)");
    cli.add_flag("--verbose", verbose, "Show what the radio sends: text while waiting, answers in hex");
    cli.add_flag("--json", json, "Print the outcome as JSON on standard output");
    cli.add_flag("--list-ports", listPorts, "List the serial ports of this machine");
    cli.add_flag("--simulate", simulate, "Flash the built-in simulated radio (sample images when none given)");
    cli.add_flag("--version", version, "Print the version");
    try
    {
        cli.parse(argc, argv);
    }
    catch (const CLI::CallForHelp& e)
    {
        return cli.exit(e);
    }
    catch (const CLI::ParseError& e)
    {
        cli.exit(e);
        return kExitUsage;
    }

    if (version)
    {
        std::cout << "kd7x-update " << kVersion << std::endl;
        return kExitSuccess;
    }
    if (listPorts)
    {
        PrintPortList(std::cout);
        return kExitSuccess;
    }
    if (!simulate && port.empty())
    {
        std::cerr << "kd7x-update: --port is needed (or --list-ports, --simulate, --help)" << std::endl;
        return kExitUsage;
    }

    InitModulePathsFromExecutable();
    if (!settings.empty())
        SetIniPathOverride(settings);
    if (logPath.empty())
        logPath = WideToNarrow(GetModuleDir() + GetModuleName() + L".log");
    std::string logError;
    auto logger = CreateAppLogger(logPath, &logError);
    if (!logger)
        std::cerr << "kd7x-update: no log file (" << logError << "); going on without one" << std::endl;

    std::atomic<bool> cancel{false};
    InstallCancelHandler(cancel);

    if (simulate)
    {
        SimulationOptions options{NarrowToWide(app), NarrowToWide(rcdb), verbose};
        return RunSimulation(options, json, cancel);
    }

    const PortChoice choice = ResolvePort(port);
    if (!choice.error.empty())
    {
        std::cerr << "kd7x-update: " << choice.error << std::endl;
        return kExitUsage;
    }
    CConsoleView view(std::cerr, StderrIsTerminal(), verbose, cancel);
    UpgradeRequest request{choice.setting, choice.device, NarrowToWide(app), NarrowToWide(rcdb)};
    const UpgradeResult result = RunUpgrade(request, view, MakeSerialPort);
    return Report(result, json);
}
