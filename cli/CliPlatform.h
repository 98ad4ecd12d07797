// What kd7x-update does differently on Linux and on Windows.
#pragma once

#include "serial/ISerialPort.h"

#include <atomic>
#include <memory>
#include <string>
#include <vector>

struct PortChoice
{
    std::wstring device; // what the port's Open takes
    std::string setting; // what is stored under "port" (empty: nothing)
    std::string error;   // why the argument names no port
};

PortChoice ResolvePort(const std::string& argument);
std::shared_ptr<ISerialPort> MakeSerialPort();

struct PortInfo
{
    std::string path;        // what --port takes: /dev/ttyUSB0, COM5
    std::string byId;        // its /dev/serial/by-id name, where there is one
    std::string description; // the system's or the USB product's
    std::string manufacturer;
    std::string serial;
    int vid = -1; // USB vendor and product, -1 when not a USB port
    int pid = -1;
};
std::vector<PortInfo> ListPorts();

// A path argument made absolute the way the system resolves it: on Linux ".." after a symbolic
// link leads out of the link's target, as the kernel has it; Windows folds ".." by the text. The
// last part is kept as named (a link to an image keeps its own name). Empty stays empty.
std::wstring ResolvedPath(const std::string& argument);

// The arguments as UTF-8 text: Windows reads them from the wide command line.
std::vector<std::string> CommandLineArguments(int argc, char** argv);
// Ctrl-C (and on Linux SIGTERM and SIGHUP) sets cancel; a second one of any kind ends the program
// at once.
void InstallCancelHandler(std::atomic<bool>& cancel);
// The station's: stop requests of any kind are counted in stops; the one after graceful of them
// ends the program at once.
void InstallStopCounter(std::atomic<int>& stops, int graceful);
// The exit code of the first stop request: 128 plus its signal (130 for Ctrl-C), 0 when none came.
int StopExitCode();
// Whether stderr (or stdout) is a terminal that takes the escape sequences of a redrawn line.
bool StderrIsTerminal();
bool StdoutIsTerminal();
// Columns of the terminal on stderr; 80 when unknown.
int TerminalColumns();

// This machine's name: a station's default ID.
std::string HostName();

// Where the settings file and the log live when the command line names none.
struct FileLocations
{
    std::wstring settings;
    std::wstring log;
    std::wstring record;      // the station's record of every radio
    bool makeFolders = false; // the folders are the program's own, made as needed
};
FileLocations DefaultFileLocations();

// Simulated radios for --simulate, each on a port of its own.
class ISimulatedRadios
{
public:
    virtual ~ISimulatedRadios() = default;
    virtual std::vector<std::wstring> Devices() const = 0;
    // Ends the radios; then what each holds can be checked.
    virtual void Stop() = 0;
    // Whether radio i (on a bench: each of its radios that took the write command) holds the files
    // sent, byte for byte; its summary for people and as JSON.
    virtual bool Holds(std::size_t i, const std::vector<std::wstring>& paths) const = 0;
    virtual std::string SummaryText(std::size_t i) const = 0;
    virtual std::string SummaryJson(std::size_t i) const = 0;
};
// Null with a reason where there are none (Windows).
std::unique_ptr<ISimulatedRadios> StartSimulatedRadios(int count, std::string& error);

// A port of a simulated bench for --simulate --station: radios in turn, named by a link in folder.
struct SimulatedPort
{
    int radios = 1;
    double faultShare = 0; // of its radios, that fall silent during their upgrade
    bool vanish = false;   // its faulty radios vanish with the port instead
    bool hotplug = false;  // unplugged and plugged back between its radios
};
std::unique_ptr<ISimulatedRadios> StartSimulatedBench(const std::vector<SimulatedPort>& ports, long gapMs,
                                                      const std::string& folder, std::string& error);
