// The USB serial ports plugged in at this moment, named by place, so a port keeps its name
// whatever device number it gets when plugged in again.
#pragma once

#include <memory>
#include <string>
#include <vector>

struct WatchedPort
{
    std::string key;     // /dev/serial/by-path/... (the device where there is none), COM5
    std::wstring device; // what the port's Open takes: /dev/ttyUSB0, \\.\COM5
    std::string byId;    // its /dev/serial/by-id name, where there is one
    std::string serial;  // the USB adapter's serial number, where there is one
};

class IPortWatcher
{
public:
    virtual ~IPortWatcher() = default;
    virtual std::vector<WatchedPort> List() = 0;
};

// Every USB serial port (Linux), every COM port but the built-in ones (Windows).
std::unique_ptr<IPortWatcher> MakeUsbPortWatcher();

// Fills in the by-id name and serial number of a port named by its device, where the system knows them.
void DescribePort(WatchedPort& port);

// What a port's name stands for, so one device named two ways (a link and its target, COM5 and
// \\.\COM5) is one port: Linux the device number, Windows the COM name in capitals.
std::string DeviceIdentity(const std::wstring& device);
