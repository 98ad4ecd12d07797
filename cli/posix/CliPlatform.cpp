#include "cli/CliPlatform.h"

#include "config/Settings.h"
#include "platform/Text.h"
#include "serial/posix/PortList.h"
#include "serial/posix/TermiosSerialPort.h"
#include "sim/RadioSim.h"

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <pwd.h>
#include <sys/ioctl.h>
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
    bool Start(int count, std::string& error)
    {
        for (int i = 0; i < count; ++i)
        {
            auto sim = std::make_unique<CRadioSim>(RadioSimOptions{});
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
            devices.push_back(NarrowToWide(sim->SlavePath()));
        return devices;
    }
    void Stop() override
    {
        for (auto& sim : m_sims)
            sim->Stop();
    }
    bool Holds(std::size_t i, const std::vector<std::wstring>& paths) const override
    {
        const auto& images = m_sims[i]->Radio().Images();
        if (images.size() != paths.size())
            return false;
        for (std::size_t k = 0; k < paths.size(); ++k)
        {
            std::ifstream in(PathFromWide(paths[k]), std::ios::binary);
            const std::vector<char> sent((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
            if (sent != images[k].data)
                return false;
        }
        return true;
    }
    std::string SummaryText(std::size_t i) const override { return FormatSummaryText(m_sims[i]->Radio()); }
    std::string SummaryJson(std::size_t i) const override
    {
        return ::SummaryJson(m_sims[i]->Radio()).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
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

std::vector<std::string> CommandLineArguments(int argc, char** argv) { return {argv, argv + argc}; }

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

bool StderrIsTerminal() { return CanRedraw(STDERR_FILENO); }

bool StdoutIsTerminal() { return CanRedraw(STDOUT_FILENO); }

int TerminalColumns()
{
    winsize size{};
    if (ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col >= 20)
        return size.ws_col;
    return 80;
}

FileLocations DefaultFileLocations()
{
    // A settings file beside the program keeps a portable copy self-contained, log and all.
    const std::string beside = WideToNarrow(GetModuleDir() + GetModuleName());
    std::error_code ec;
    if (std::filesystem::exists(beside + ".ini", ec))
        return {beside + ".ini", beside + ".log", false};
    return {XdgFolder("XDG_CONFIG_HOME", ".config") + "/kd7x-update/kd7x-update.ini",
            XdgFolder("XDG_STATE_HOME", ".local/state") + "/kd7x-update/kd7x-update.log", true};
}

std::unique_ptr<ISimulatedRadios> StartSimulatedRadios(int count, std::string& error)
{
    auto radios = std::make_unique<CSimulatedRadios>();
    if (!radios->Start(count, error))
        return nullptr;
    return radios;
}
