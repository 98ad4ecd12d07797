#include "cli/CliPlatform.h"

#include "config/Settings.h"
#include "platform/Text.h"
#include "serial/win32/ComPortList.h"
#include "serial/win32/SerialPort.h"

#include <windows.h>

#include <shellapi.h>

#include <cstdio>
#include <cwctype>
#include <io.h>

namespace
{
std::atomic<bool>* g_cancel = nullptr;
std::atomic<int>* g_counted = nullptr;
int g_graceful = 1;
std::atomic<int> g_stops{0};
std::atomic<int> g_stopCode{0};
const char* const kNoSimulation = "--simulate needs the Linux build; under Wine, map kd7x-radio-sim's "
                                  "pseudo-terminal to a COM port instead (see the README)";

BOOL WINAPI OnConsoleControl(DWORD type)
{
    // A closed console window, a logoff or a shutdown stops like a closed terminal on Linux.
    const bool closing = type == CTRL_CLOSE_EVENT || type == CTRL_LOGOFF_EVENT || type == CTRL_SHUTDOWN_EVENT;
    if (type != CTRL_C_EVENT && type != CTRL_BREAK_EVENT && !closing)
        return FALSE;
    const int code = closing ? 129 : 130;
    const int before = g_stops.fetch_add(1);
    // Past the graceful requests the program ends at once, without running what exit runs
    // behind the radios' threads.
    if (before >= g_graceful)
        TerminateProcess(GetCurrentProcess(), static_cast<UINT>(code));
    int none = 0;
    g_stopCode.compare_exchange_strong(none, code);
    if (g_cancel != nullptr)
        g_cancel->store(true);
    if (g_counted != nullptr)
        g_counted->store(before + 1);
    // The system ends the process once this returns from a close: the runs get the few seconds
    // it allows to stop, release their ports and report; the program's own end comes first.
    if (closing)
        Sleep(4500);
    return TRUE;
}

// The redrawn line needs the console's escape sequences; without them, plain lines.
// Wine's console takes the escape-sequence mode yet prints the sequences as text.
bool UnderWine()
{
    const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

bool CanRedraw(FILE* stream, DWORD handle)
{
    if (!_isatty(_fileno(stream)) || UnderWine())
        return false;
    HANDLE console = GetStdHandle(handle);
    DWORD mode = 0;
    return GetConsoleMode(console, &mode) &&
           SetConsoleMode(console, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING | ENABLE_PROCESSED_OUTPUT);
}
} // namespace

PortChoice ResolvePort(const std::string& argument)
{
    PortChoice choice;
    std::wstring text = Utf8ToWide(argument);
    if (text.rfind(L"\\\\.\\", 0) == 0)
        text = text.substr(4);
    std::size_t i = 0;
    while (i < text.size() &&
           (std::towupper(text[i]) == L'C' || std::towupper(text[i]) == L'O' || std::towupper(text[i]) == L'M'))
        ++i;
    const std::wstring digits = text.substr(i);
    if (digits.empty() || digits.find_first_not_of(L"0123456789") != std::wstring::npos)
    {
        choice.error = "\"" + argument + "\" is not a COM port (give COM5, 5 or \\\\.\\COM5)";
        return choice;
    }
    const long number = std::wcstol(digits.c_str(), nullptr, 10);
    choice.device = L"\\\\.\\COM" + std::to_wstring(number);
    choice.setting = std::to_string(number);
    return choice;
}

std::shared_ptr<ISerialPort> MakeSerialPort() { return std::make_shared<CpsSerialPort>(); }

std::vector<PortInfo> ListPorts()
{
    CPortVector names;
    FillComPortList(names);
    std::vector<PortInfo> ports;
    for (const auto& name : names.m_names)
    {
        PortInfo port;
        port.path = WideToUtf8(name);
        ports.push_back(std::move(port));
    }
    return ports;
}

std::wstring ResolvedPath(const std::string& argument)
{
    if (argument.empty())
        return {};
    std::error_code ec;
    const auto absolute = std::filesystem::absolute(PathFromWide(Utf8ToWide(argument)), ec);
    return ec ? Utf8ToWide(argument) : PathToWide(absolute.lexically_normal());
}

std::vector<std::string> CommandLineArguments(int argc, char** argv)
{
    // The ANSI arguments lose every character outside the code page; the wide ones keep them.
    int count = 0;
    LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count);
    if (wide == nullptr)
        return {argv, argv + argc};
    std::vector<std::string> args;
    for (int i = 0; i < count; ++i)
        args.push_back(WideToUtf8(wide[i]));
    LocalFree(wide);
    return args;
}

void InstallCancelHandler(std::atomic<bool>& cancel)
{
    g_cancel = &cancel;
    SetConsoleCtrlHandler(OnConsoleControl, TRUE);
}

void InstallStopCounter(std::atomic<int>& stops, int graceful)
{
    g_counted = &stops;
    g_graceful = graceful;
    SetConsoleCtrlHandler(OnConsoleControl, TRUE);
}

int StopExitCode() { return g_stopCode.load(); }

bool StderrIsTerminal() { return CanRedraw(stderr, STD_ERROR_HANDLE); }

bool StdoutIsTerminal() { return CanRedraw(stdout, STD_OUTPUT_HANDLE); }

int TerminalColumns()
{
    CONSOLE_SCREEN_BUFFER_INFO info{};
    if (GetConsoleScreenBufferInfo(GetStdHandle(STD_ERROR_HANDLE), &info))
    {
        const int columns = info.srWindow.Right - info.srWindow.Left + 1;
        if (columns >= 20)
            return columns;
    }
    return 80;
}

std::string HostName()
{
    wchar_t name[MAX_COMPUTERNAME_LENGTH + 1] = {};
    DWORD size = MAX_COMPUTERNAME_LENGTH + 1;
    return GetComputerNameW(name, &size) ? WideToUtf8(std::wstring(name, size)) : std::string();
}

FileLocations DefaultFileLocations()
{
    const std::wstring beside = GetModuleDir() + GetModuleName();
    return {beside + L".ini", beside + L".log", beside + L"-radios.jsonl", false};
}

std::unique_ptr<ISimulatedRadios> StartSimulatedRadios(int, std::string& error)
{
    error = kNoSimulation;
    return nullptr;
}

std::unique_ptr<ISimulatedRadios> StartSimulatedBench(const std::vector<SimulatedPort>&, long, const std::string&,
                                                      std::string& error)
{
    error = kNoSimulation;
    return nullptr;
}
