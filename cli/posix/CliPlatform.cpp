#include "cli/CliPlatform.h"

#include "config/Settings.h"
#include "platform/Text.h"
#include "serial/posix/PortList.h"
#include "serial/posix/TermiosSerialPort.h"
#include "sim/RadioSim.h"

#include <csignal>
#include <filesystem>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <pwd.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace
{
std::atomic<bool>* g_cancel = nullptr;
std::atomic<int>* g_counted = nullptr;
int g_graceful = 1;
std::atomic<int> g_stops{0};
std::atomic<int> g_stopSignal{0};
const int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP};

void OnStopSignal(int signal)
{
    // Threads may take two signals at once: the count decides which one came first.
    const int before = g_stops.fetch_add(1);
    if (before >= g_graceful)
    {
        // A stop request past the graceful ones is not asked twice: it ends the program.
        std::signal(signal, SIG_DFL);
        raise(signal);
        return;
    }
    if (before == 0)
        g_stopSignal.store(signal);
    if (g_cancel != nullptr)
        g_cancel->store(true);
    if (g_counted != nullptr)
        g_counted->store(before + 1);
}

void InstallStopSignals()
{
    struct sigaction action
    {
    };
    action.sa_handler = OnStopSignal;
    // Writes to a slow pipe go on after the signal rather than failing and losing the outcome.
    action.sa_flags = SA_RESTART;
    sigemptyset(&action.sa_mask);
    for (int s : kStopSignals)
        sigaction(s, &action, nullptr);
    // A reader that went away (a closed pipe) is an error on the write, not the program's end: the
    // log's end line still gets written.
    std::signal(SIGPIPE, SIG_IGN);
}

bool CanRedraw(int fd)
{
    const char* term = std::getenv("TERM");
    return isatty(fd) != 0 && term != nullptr && *term != '\0' && std::strcmp(term, "dumb") != 0;
}

std::string Home()
{
    if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0')
        return home;
    const passwd* user = getpwuid(getuid());
    return user != nullptr && user->pw_dir != nullptr ? user->pw_dir : "/tmp";
}

std::string XdgFolder(const char* variable, const char* fallback)
{
    const char* value = std::getenv(variable);
    // Relative folders in these variables are to be ignored.
    if (value != nullptr && value[0] == '/')
        return value;
    return Home() + "/" + fallback;
}

class CSimulatedRadios : public ISimulatedRadios
{
public:
    bool Start(const std::vector<RadioSimOptions>& radios, std::string& error)
    {
        for (const auto& options : radios)
        {
            auto sim = std::make_unique<CRadioSim>(options);
            if (!sim->Start(&error))
                return false;
            sim->RunInThread();
            m_sims.push_back(std::move(sim));
        }
        return true;
    }
    std::vector<std::wstring> Devices() const override
    {
        std::vector<std::wstring> devices;
        for (const auto& sim : m_sims)
            devices.push_back(NarrowToWide(sim->LinkPath().empty() ? sim->SlavePath() : sim->LinkPath()));
        return devices;
    }
    void Stop() override
    {
        for (auto& sim : m_sims)
            sim->Stop();
    }
    bool Holds(std::size_t i, const std::vector<std::wstring>& paths) const override
    {
        std::vector<std::vector<char>> sent;
        for (const auto& path : paths)
        {
            std::ifstream in(PathFromWide(path), std::ios::binary);
            sent.emplace_back(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        }
        bool any = false;
        for (const auto& radio : m_sims[i]->Radios())
        {
            if (!radio.WriteCommandSeen())
                continue;
            any = true;
            const auto& images = radio.Images();
            if (images.size() != sent.size())
                return false;
            for (std::size_t k = 0; k < sent.size(); ++k)
            {
                if (sent[k] != images[k].data)
                    return false;
            }
        }
        return any;
    }
    std::string SummaryText(std::size_t i) const override { return m_sims[i]->SummaryText(); }
    std::string SummaryJson(std::size_t i) const override
    {
        return m_sims[i]->Summary().dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
    }

private:
    std::vector<std::unique_ptr<CRadioSim>> m_sims;
};
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

std::vector<PortInfo> ListPorts()
{
    std::vector<PortInfo> ports;
    for (const auto& found : ListSerialPorts())
    {
        PortInfo port;
        port.path = found.device;
        port.byId = found.byId;
        port.description = found.description;
        port.manufacturer = found.manufacturer;
        port.serial = found.serial;
        port.vid = found.vid;
        port.pid = found.pid;
        ports.push_back(std::move(port));
    }
    return ports;
}

std::wstring ResolvedPath(const std::string& argument)
{
    if (argument.empty())
        return {};
    std::error_code ec;
    const std::filesystem::path absolute = std::filesystem::absolute(argument, ec);
    if (ec)
        return NarrowToWide(argument);
    const std::filesystem::path name = absolute.filename();
    if (name.empty() || name == "." || name == "..")
    {
        const auto resolved = std::filesystem::weakly_canonical(absolute, ec);
        return NarrowToWide(ec ? absolute.string() : resolved.string());
    }
    // The folder through the kernel's eyes (links followed before ".." is taken), the name as given.
    const auto folder = std::filesystem::weakly_canonical(absolute.parent_path(), ec);
    return NarrowToWide(ec ? absolute.string() : (folder / name).string());
}

std::vector<std::string> CommandLineArguments(int argc, char** argv) { return {argv, argv + argc}; }

void InstallCancelHandler(std::atomic<bool>& cancel)
{
    g_cancel = &cancel;
    InstallStopSignals();
}

void InstallStopCounter(std::atomic<int>& stops, int graceful)
{
    g_counted = &stops;
    g_graceful = graceful;
    InstallStopSignals();
}

int StopExitCode()
{
    const int signal = g_stopSignal.load();
    return signal == 0 ? 0 : 128 + signal;
}

bool StderrIsTerminal() { return CanRedraw(STDERR_FILENO); }

bool StdoutIsTerminal() { return CanRedraw(STDOUT_FILENO); }

int TerminalColumns()
{
    winsize size{};
    if (ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col >= 20)
        return size.ws_col;
    return 80;
}

std::string HostName()
{
    char name[256] = {};
    return gethostname(name, sizeof name - 1) == 0 ? std::string(name) : std::string();
}

FileLocations DefaultFileLocations()
{
    // A settings file beside the program keeps a portable copy self-contained, log and all.
    const std::wstring beside = GetModuleDir() + GetModuleName();
    std::error_code ec;
    if (std::filesystem::exists(PathFromWide(beside + L".ini"), ec))
        return {beside + L".ini", beside + L".log", beside + L"-radios.jsonl", false};
    const std::string state = XdgFolder("XDG_STATE_HOME", ".local/state") + "/kd7x-update/";
    return {NarrowToWide(XdgFolder("XDG_CONFIG_HOME", ".config") + "/kd7x-update/kd7x-update.ini"),
            NarrowToWide(state + "kd7x-update.log"), NarrowToWide(state + "kd7x-update-radios.jsonl"), true};
}

std::unique_ptr<ISimulatedRadios> StartSimulatedRadios(int count, std::string& error)
{
    // Each a radio of its own, with its own serial number.
    std::vector<RadioSimOptions> sims(static_cast<std::size_t>(count));
    for (std::size_t i = 0; i < sims.size(); ++i)
        sims[i].faults.seed = static_cast<unsigned>(i + 1);
    auto radios = std::make_unique<CSimulatedRadios>();
    if (!radios->Start(sims, error))
        return nullptr;
    return radios;
}

std::unique_ptr<ISimulatedRadios> StartSimulatedBench(const std::vector<SimulatedPort>& ports, long gapMs,
                                                      const std::string& folder, std::string& error)
{
    std::vector<RadioSimOptions> sims;
    for (const auto& port : ports)
    {
        RadioSimOptions options;
        options.linkPath = folder + "/radio" + std::to_string(sims.size() + 1);
        options.radios = port.radios;
        options.gapMs = gapMs;
        options.hotplug = port.hotplug;
        options.faultShare = port.faultShare;
        options.faults.seed = static_cast<unsigned>(sims.size() + 1);
        if (port.vanish)
            options.faults.vanishAfter = 5;
        sims.push_back(options);
    }
    auto radios = std::make_unique<CSimulatedRadios>();
    if (!radios->Start(sims, error))
        return nullptr;
    return radios;
}
