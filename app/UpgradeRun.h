// One press of Update, independent of the front end: settings saved, port opened and set up,
// the radio's menu awaited, each image sent, the final write, exactly one outcome, port closed.
// Nothing here is shared between runs, so several may go at once, one per radio.
#pragma once

#include "app/RadioText.h"
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

constexpr int kImageApp = 1;
constexpr int kImageRcdb = 2;
// Far above any real image, so a device file or a giant file is refused at once.
constexpr std::size_t kMaxImageBytes = 16u << 20;

// An image read and framed once; runs share it read-only.
struct UpgradeImage
{
    int code = 0;
    std::wstring path;
    std::shared_ptr<const std::vector<char>> bytes;
    std::shared_ptr<const FrameTable> frames;
};
using UpgradeImages = std::shared_ptr<const std::vector<UpgradeImage>>;

struct UpgradeRequest
{
    std::string portSetting; // stored under "port"; empty stores nothing
    std::wstring device;     // what the port's Open takes: \\.\COM5, /dev/ttyUSB0
    std::wstring appPath;
    std::wstring rcdbPath;
    // A path that names nothing, an empty file or no regular file is refused, not skipped.
    bool strictImages = false;
    bool saveSettings = true;            // port and image paths written before the port opens
    UpgradeImages images;                // read already (for many runs); null: the run reads the paths
    DWORD waitMs = 0;                    // bound on the wait for the menu, besides its passes; 0: none
    bool listenUntilMenu = false;        // a station's: spent passes start again; only a stop or a failed port end it
    std::string logger = kAppLoggerName; // where the engine's failures are logged
    RadioPatterns patterns;              // the radio's own word: its confirmation and its ID; none: not asked
    std::wstring reopenDevice;           // the name a port gone after the write command comes back under; empty: device
    std::vector<char> heard;             // read from the port before the run; a menu in it counts as seen
};

extern const wchar_t* const kCaptionListen;
extern const wchar_t* const kCaptionLocation;
extern const wchar_t* const kCaptionWriting;
// Waiting for the radio to confirm the write: seconds left of the whole wait.
extern const wchar_t* const kCaptionConfirm;

// The port of one run, destroyed through its own type.
using PortFactory = std::function<std::shared_ptr<ISerialPort>()>;

// Writes "port" (when the request names one), "app_bin_file" and "rcdb_bin_file"; empty when
// written, otherwise why not.
std::string SaveRunSettings(const UpgradeRequest& request);

// Reads and frames the images the request names, application first; false with the outcome set
// when one cannot be used.
bool LoadImages(const UpgradeRequest& request, std::vector<UpgradeImage>& images, UpgradeResult& result);

UpgradeResult RunUpgrade(const UpgradeRequest& request, IUpgradeView& view, const PortFactory& makePort);

// The operator-facing text of an outcome that has no message of its own.
std::wstring DescribeOutcome(const UpgradeResult& result);
