// The station window's choices: from KD7XUpdateTool.exe's command line (a bench PC that starts
// itself) and from the [Station] section of the settings file.
#pragma once

#include <optional>
#include <string>
#include <vector>

// Quarantine of [Station] when the file says nothing usable.
constexpr int kDefaultQuarantine = 3;
constexpr int kMaxQuarantine = 1000;
constexpr int kMaxCount = 1000000;

struct StationPorts
{
    bool every = false;             // every USB serial port, as they come and go
    std::vector<std::string> named; // COM5, COM6, without repeats
};

struct StationSwitches
{
    bool station = false; // without /station the program is the dialog, as it always was
    std::optional<StationPorts> ports;
    std::optional<std::wstring> app, rcdb, record;
    std::optional<int> count;
    bool start = false;
    std::wstring error; // the switch that cannot be used, named, and why
};

// /station /port COM5 /port COM6 /app FILE /rcdb FILE /record FILE /count N /start, in any case,
// with / or -; /port auto is every USB serial port. args without the program's name.
StationSwitches ParseStationSwitches(const std::vector<std::wstring>& args);

// "COM5" for COM5, com5 or \\.\COM5; empty for anything else.
std::string ComPortName(const std::wstring& text);

// Ports of [Station]: "auto", or the COM ports joined by commas. A name that is no COM port is
// left out.
StationPorts ParsePortsSetting(const std::string& text);
std::string PortsSettingText(const StationPorts& ports);

// A whole number from low to high, nothing else (no sign, no spaces, no leading text).
std::optional<int> WholeNumber(const std::string& text, int low, int high);
