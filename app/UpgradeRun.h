// One press of Update, independent of the front end: settings saved, port opened and set up,
// the radio's menu awaited, each image sent, the final write, exactly one outcome, port closed.
#pragma once

#include "app/UpgradeView.h"
#include "serial/ISerialPort.h"

#include <exception>
#include <functional>
#include <memory>
#include <string>

// The run's own failure, carrying the text the operator sees.
class Kd7YmodemUpdateException : public std::exception
{
public:
    explicit Kd7YmodemUpdateException(std::string message) : m_message(std::move(message)) {}
    const char* what() const noexcept override { return m_message.c_str(); }

private:
    std::string m_message;
};

struct UpgradeRequest
{
    std::string portSetting; // stored under "port"; empty stores nothing
    std::wstring device;     // what the port's Open takes: \\.\COM5, /dev/ttyUSB0
    std::wstring appPath;
    std::wstring rcdbPath;
};

constexpr int kImageApp = 1;
constexpr int kImageRcdb = 2;

extern const wchar_t* const kCaptionListen;
extern const wchar_t* const kCaptionLocation;
extern const wchar_t* const kCaptionWriting;

// The port of one run, destroyed through its own type.
using PortFactory = std::function<std::shared_ptr<ISerialPort>()>;

UpgradeResult RunUpgrade(const UpgradeRequest& request, IUpgradeView& view, const PortFactory& makePort);

// The operator-facing text of an outcome that has no message of its own.
std::wstring DescribeOutcome(const UpgradeResult& result);
