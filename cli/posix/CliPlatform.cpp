#include "cli/CliPlatform.h"

#include "app/UpgradeRun.h"
#include "cli/ConsoleView.h"
#include "cli/Outcome.h"
#include "platform/Text.h"
#include "serial/posix/PortList.h"
#include "serial/posix/TermiosSerialPort.h"
#include "sim/RadioSim.h"

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <random>
#include <unistd.h>

namespace
{
std::atomic<bool>* g_cancel = nullptr;

void OnInterrupt(int)
{
    if (g_cancel != nullptr)
        g_cancel->store(true);
    // A second Ctrl-C is not asked twice.
    std::signal(SIGINT, SIG_DFL);
}

std::vector<char> SampleImage(std::size_t size, unsigned seed)
{
    std::mt19937 rng(seed);
    std::vector<char> data(size);
    for (auto& c : data)
        c = static_cast<char>(rng() & 0xFF);
    return data;
}

bool Same(const std::wstring& path, const std::vector<char>& received)
{
    std::ifstream in(PathFromWide(path), std::ios::binary);
    std::vector<char> sent((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    return sent == received;
}
} // namespace

PortChoice ResolvePort(const std::string& argument)
{
    PortChoice choice;
    choice.device = NarrowToWide(argument);
    // The dialog reads "port" as a COM number: store one only when the device name ends in one.
    std::size_t start = argument.size();
    while (start > 0 && argument[start - 1] >= '0' && argument[start - 1] <= '9')
        --start;
    if (start < argument.size())
        choice.setting = std::to_string(std::strtol(argument.c_str() + start, nullptr, 10));
    return choice;
}

std::shared_ptr<ISerialPort> MakeSerialPort() { return std::make_shared<CTermiosSerialPort>(); }

void PrintPortList(std::ostream& out)
{
    const auto ports = ListSerialPorts();
    if (ports.empty())
        out << "no serial ports found" << std::endl;
    for (const auto& port : ports)
    {
        out << port.device;
        if (!port.description.empty())
            out << "  " << port.description;
        if (!port.byId.empty())
            out << "  (" << port.byId << ")";
        out << std::endl;
    }
}

void InstallCancelHandler(std::atomic<bool>& cancel)
{
    g_cancel = &cancel;
    struct sigaction action
    {
    };
    action.sa_handler = OnInterrupt;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

bool StderrIsTerminal() { return isatty(STDERR_FILENO) != 0; }

int RunSimulation(const SimulationOptions& options, bool json, std::atomic<bool>& cancel)
{
    const auto work = std::filesystem::temp_directory_path() / ("kd7x-simulate-" + std::to_string(getpid()));
    std::filesystem::create_directories(work);
    std::wstring app = options.appPath;
    std::wstring rcdb = options.rcdbPath;
    if (app.empty() && rcdb.empty())
    {
        // Small sample images keep the demonstration within a minute at the default pauses.
        const auto write = [&](const char* name, std::size_t size, unsigned seed) {
            const auto path = work / name;
            const auto data = SampleImage(size, seed);
            std::ofstream(path, std::ios::binary).write(data.data(), static_cast<std::streamsize>(data.size()));
            return NarrowToWide(path.string());
        };
        app = write("sample-app.bin", 48 * 1024 + 300, 1);
        rcdb = write("sample-rcdb.bin", 12 * 1024 + 40, 2);
    }

    RadioSimOptions simOptions;
    CRadioSim sim(simOptions);
    std::string error;
    if (!sim.Start(&error))
    {
        std::cerr << "kd7x-update: cannot start the simulated radio: " << error << std::endl;
        return kExitSerialError;
    }
    std::cerr << "simulated radio on " << sim.SlavePath() << std::endl;
    sim.RunInThread();

    CConsoleView view(std::cerr, StderrIsTerminal(), options.verbose, cancel);
    UpgradeRequest request{"", NarrowToWide(sim.SlavePath()), app, rcdb};
    const UpgradeResult result = RunUpgrade(request, view, MakeSerialPort);
    sim.Stop();

    const CRadioReceiver& radio = sim.Radio();
    std::cerr << FormatSummaryText(radio);
    bool intact = true;
    for (const auto& image : radio.Images())
        intact = intact && Same(image.code == kImageApp ? app : rcdb, image.data);
    if (result.outcome == UpgradeOutcome::Success)
        std::cerr << (intact ? "the simulated radio holds both images byte for byte"
                             : "the simulated radio's images differ from the files sent")
                  << std::endl;
    std::error_code ec;
    std::filesystem::remove_all(work, ec);
    const int code = Report(result, json, ",\"radio\":" + FormatSummaryJson(radio));
    return code == kExitSuccess && !intact ? kExitUnableToWrite : code;
}
