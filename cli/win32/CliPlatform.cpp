#include "cli/CliPlatform.h"

#include "cli/Outcome.h"
#include "platform/Text.h"
#include "serial/win32/ComPortList.h"
#include "serial/win32/SerialPort.h"

#include <windows.h>

#include <cstdio>
#include <cwctype>
#include <io.h>
#include <iostream>

namespace
{
std::atomic<bool>* g_cancel = nullptr;

BOOL WINAPI OnConsoleControl(DWORD type)
{
    if (type != CTRL_C_EVENT && type != CTRL_BREAK_EVENT)
        return FALSE;
    if (g_cancel == nullptr || g_cancel->load())
        return FALSE; // a second Ctrl-C ends the program
    g_cancel->store(true);
    return TRUE;
}
} // namespace

PortChoice ResolvePort(const std::string& argument)
{
    PortChoice choice;
    std::wstring text = NarrowToWide(argument);
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

void PrintPortList(std::ostream& out)
{
    CPortVector ports;
    FillComPortList(ports);
    if (ports.m_names.empty())
        out << "no serial ports found" << std::endl;
    for (const auto& name : ports.m_names)
        out << WideToNarrow(name) << std::endl;
}

void InstallCancelHandler(std::atomic<bool>& cancel)
{
    g_cancel = &cancel;
    SetConsoleCtrlHandler(OnConsoleControl, TRUE);
}

bool StderrIsTerminal()
{
    if (!_isatty(_fileno(stderr)))
        return false;
    // The redrawn line needs the console's escape sequences; without them, plain lines.
    HANDLE console = GetStdHandle(STD_ERROR_HANDLE);
    DWORD mode = 0;
    return GetConsoleMode(console, &mode) &&
           SetConsoleMode(console, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING | ENABLE_PROCESSED_OUTPUT);
}

int RunSimulation(const SimulationOptions&, bool, std::atomic<bool>&)
{
    std::cerr << "kd7x-update: --simulate needs the Linux build; under Wine, map kd7x-radio-sim's "
                 "pseudo-terminal to a COM port instead (see the README)"
              << std::endl;
    return kExitUsage;
}
