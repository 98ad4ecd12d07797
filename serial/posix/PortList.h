#pragma once

#include <map>
#include <string>
#include <vector>

struct SerialPortInfo
{
    std::string device;       // /dev/ttyUSB0
    std::string description;  // the USB product or the system's description, where there is one
    std::string byId;         // its /dev/serial/by-id name, where there is one
    std::string manufacturer; // USB only
    std::string serial;       // USB only
    int vid = -1;             // USB vendor and product ids; -1 for other ports
    int pid = -1;
};

// The serial ports the system has, in ascending port-number order.
std::vector<SerialPortInfo> ListSerialPorts();

// The number at the end of a device's base name (ttyUSB12 gives 12), 0 when none.
long DevicePortNumber(const std::wstring& device);

// Device -> the link in folder that names it: /dev/serial/by-id (the adapter), /dev/serial/by-path (the socket).
std::map<std::string, std::string> LinksByDevice(const char* folder);
