// What kd7x-update does differently on Linux and on Windows.
#pragma once

#include "serial/ISerialPort.h"

#include <atomic>
#include <memory>
#include <ostream>
#include <string>

struct PortChoice
{
    std::wstring device; // what the port's Open takes
    std::string setting; // what is stored under "port" (empty: nothing)
    std::string error;   // why the argument names no port
};

PortChoice ResolvePort(const std::string& argument);
std::shared_ptr<ISerialPort> MakeSerialPort();
void PrintPortList(std::ostream& out);
// Ctrl-C sets cancel; a second Ctrl-C ends the program at once.
void InstallCancelHandler(std::atomic<bool>& cancel);
bool StderrIsTerminal();

struct SimulationOptions
{
    std::wstring appPath;
    std::wstring rcdbPath;
    bool verbose = false;
};
// Runs the whole upgrade against the built-in simulated radio; returns the exit code.
int RunSimulation(const SimulationOptions& options, bool json, std::atomic<bool>& cancel);
