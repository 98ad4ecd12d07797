#include "app/StationChoices.h"

#include "platform/Text.h"

#include <algorithm>
#include <cwctype>

namespace
{
std::wstring Lower(std::wstring text)
{
    for (auto& c : text)
        c = static_cast<wchar_t>(std::towlower(static_cast<std::wint_t>(c)));
    return text;
}

void AddPort(StationPorts& ports, const std::string& name)
{
    if (std::find(ports.named.begin(), ports.named.end(), name) == ports.named.end())
        ports.named.push_back(name);
}
} // namespace

std::optional<int> WholeNumber(const std::string& text, int low, int high)
{
    if (text.empty() || text.size() > 9 || text.find_first_not_of("0123456789") != std::string::npos)
        return std::nullopt;
    const int value = std::stoi(text);
    if (value < low || value > high)
        return std::nullopt;
    return value;
}

std::string ComPortName(const std::wstring& text)
{
    std::wstring name = text.rfind(L"\\\\.\\", 0) == 0 ? text.substr(4) : text;
    if (name.size() < 4 || Lower(name.substr(0, 3)) != L"com")
        return {};
    const std::wstring digits = name.substr(3);
    const auto number = WholeNumber(WideToUtf8(digits), 1, 255);
    return number ? "COM" + std::to_string(*number) : std::string();
}

StationSwitches ParseStationSwitches(const std::vector<std::wstring>& args)
{
    StationSwitches got;
    for (const auto& arg : args)
        got.station = got.station || Lower(arg) == L"/station" || Lower(arg) == L"-station";
    if (!got.station)
        return got;
    for (std::size_t i = 0; i < args.size() && got.error.empty(); ++i)
    {
        const std::wstring& arg = args[i];
        const std::wstring name = arg.empty() || (arg[0] != L'/' && arg[0] != L'-') ? L"" : Lower(arg.substr(1));
        if (name == L"station")
            continue;
        if (name == L"start")
        {
            got.start = true;
            continue;
        }
        const bool valued =
            name == L"port" || name == L"app" || name == L"rcdb" || name == L"record" || name == L"count";
        if (!valued)
        {
            got.error = name.empty() ? L"\"" + arg + L"\" is not a switch (a value needs its switch before it)"
                                     : L"unknown switch " + arg;
            break;
        }
        // No path of Windows begins with a slash: one there is the next switch.
        if (i + 1 >= args.size() || args[i + 1].empty() || args[i + 1][0] == L'/')
        {
            got.error = arg + L" needs a value";
            break;
        }
        const std::wstring& value = args[++i];
        if (name == L"port")
        {
            if (!got.ports)
                got.ports = StationPorts{};
            if (Lower(value) == L"auto")
                got.ports->every = true;
            else if (const std::string port = ComPortName(value); !port.empty())
                AddPort(*got.ports, port);
            else
                got.error = arg + L" " + value + L": not a COM port (give COM5, or auto for every USB serial port)";
        }
        else if (name == L"count")
        {
            got.count = WholeNumber(WideToUtf8(value), 0, kMaxCount);
            if (!got.count)
                got.error = arg + L" " + value + L": not a whole number from 0 to " + std::to_wstring(kMaxCount);
        }
        else
            (name == L"app" ? got.app : name == L"rcdb" ? got.rcdb : got.record) = value;
    }
    return got;
}

StationPorts ParsePortsSetting(const std::string& text)
{
    StationPorts ports;
    std::size_t from = 0;
    while (from <= text.size())
    {
        const std::size_t comma = std::min(text.find(',', from), text.size());
        std::string part = text.substr(from, comma - from);
        part.erase(0, part.find_first_not_of(' '));
        part.erase(part.find_last_not_of(' ') + 1);
        if (Lower(Utf8ToWide(part)) == L"auto")
            ports.every = true;
        else if (const std::string port = ComPortName(Utf8ToWide(part)); !port.empty())
            AddPort(ports, port);
        from = comma + 1;
    }
    return ports;
}

std::string PortsSettingText(const StationPorts& ports)
{
    if (ports.every)
        return "auto";
    std::string text;
    for (const auto& port : ports.named)
        text += (text.empty() ? "" : ",") + port;
    return text;
}
