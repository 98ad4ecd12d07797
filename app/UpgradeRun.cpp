#include "app/UpgradeRun.h"

#include "app/Settings.h"
#include "engine/Kd7v001YmodemControl.h"
#include "platform/Text.h"
#include "serial/SerialException.h"

#include <atomic>
#include <cerrno>
#include <cstring>
#include <fstream>

const wchar_t* const kCaptionListen = L"Waiting for the host to enter upgrade mode";
const wchar_t* const kCaptionLocation = L"host write location";
const wchar_t* const kCaptionWriting = L"writing data";

namespace
{
const char* const kHostNotResponding = "Host not responding";
const char* const kUnableToWrite = "unable to write to host";
const wchar_t* const kNoData = L"no data can be written!";
const wchar_t* const kSuccess = L"The host writes successfully";

std::atomic<bool> g_running{false};

class CRunningGuard
{
public:
    CRunningGuard() : m_owner(!g_running.exchange(true)) {}
    ~CRunningGuard()
    {
        if (m_owner)
            g_running = false;
    }
    CRunningGuard(const CRunningGuard&) = delete;
    CRunningGuard& operator=(const CRunningGuard&) = delete;
    bool Owner() const { return m_owner; }

private:
    bool m_owner;
};

struct Image
{
    int code;
    std::wstring path;
    std::vector<char> bytes;
};

bool PathExists(const std::wstring& path)
{
    std::error_code ec;
    return !path.empty() && std::filesystem::exists(PathFromWide(path), ec);
}

// The whole file, or a reason a person understands.
bool ReadImage(const std::wstring& path, std::vector<char>& bytes, std::wstring& why)
{
    const auto fsPath = PathFromWide(path);
    std::error_code ec;
    if (std::filesystem::is_directory(fsPath, ec))
    {
        why = L"it is a folder, not an image file";
        return false;
    }
    std::ifstream in(fsPath, std::ios::binary);
    if (!in)
    {
        why = NarrowToWide(std::strerror(errno));
        return false;
    }
    bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    if (in.bad())
    {
        why = L"reading it failed";
        return false;
    }
    return true;
}

std::wstring FileNameOf(const std::wstring& path) { return PathFromWide(path).filename().wstring(); }

// After a failed exchange: whether the port itself has gone, in the port's own words.
std::wstring ProbePort(ISerialPort& port)
{
    try
    {
        COMSTAT stat{};
        port.GetStatus(stat);
    }
    catch (const CSerialException& e)
    {
        wchar_t text[512];
        e.GetErrorMessage(text, 512);
        return text;
    }
    return {};
}

class CRun
{
public:
    CRun(IUpgradeView& view, UpgradeResult& result) : m_view(view), m_result(result) {}

    // Every progress handler goes through here, so a stop asked anywhere is remembered.
    void ConnectProgress(Kd7v001YmodemControl::ProgressSignal& signal, const wchar_t* caption, bool percent)
    {
        signal.connect([this, caption, percent](int done, int total) {
            const bool stop = m_view.OnProgress(caption, done, total, percent);
            m_result.cancelled = m_result.cancelled || stop;
            return stop;
        });
    }

    void TransferImage(Kd7v001YmodemControl& engine, ISerialPort& port, const Image& image)
    {
        ConnectProgress(engine.m_sigHostWriteProgress, kCaptionLocation, false);
        if (!engine.HostSelectImage(&port, image.code))
            FailAndClose(port, kHostNotResponding);
        FrameTable table;
        const int n = Kd7v001YmodemControl::MakeFileFrames(table, image.bytes, FileNameOf(image.path));
        ConnectProgress(engine.m_sigWriteProgress, kCaptionWriting, true);
        m_view.OnImageStart(image.code, image.path, n, image.bytes.size());
        engine.m_sigWriteProgress.connect([this](int done, int total) { return m_view.OnWriteProgress(done, total); });
        if (engine.HostWriteFrames(&port, table) != n)
            FailAndClose(port, kUnableToWrite);
    }

    [[noreturn]] void FailAndClose(ISerialPort& port, const char* text)
    {
        m_result.detail = ProbePort(port);
        port.Close();
        throw Kd7YmodemUpdateException(text);
    }

private:
    IUpgradeView& m_view;
    UpgradeResult& m_result;
};
} // namespace

std::wstring DescribeOutcome(const UpgradeResult& result)
{
    if (!result.message.empty())
        return result.message;
    if (result.outcome == UpgradeOutcome::ModeNotSeen)
        return result.cancelled ? L"Cancelled while waiting for the radio's upgrade menu"
                                : L"The radio did not show its upgrade menu (\"Main Menu\"); is it in upgrade mode?";
    return {};
}

UpgradeResult RunUpgrade(const UpgradeRequest& request, IUpgradeView& view, const PortFactory& makePort)
{
    UpgradeResult result;
    CRunningGuard running;
    if (!running.Owner())
    {
        result.outcome = UpgradeOutcome::AlreadyRunning;
        result.message = L"An upgrade is already in progress";
        return result;
    }

    if (!request.portSetting.empty())
        WriteSettingString("port", request.portSetting);
    const DWORD timeout = ReadSettingPause("timeout", 1000);
    WriteSettingString("app_bin_file", WideToNarrow(request.appPath));
    WriteSettingString("rcdb_bin_file", WideToNarrow(request.rcdbPath));

    // Images are read before the radio is touched, so a bad file never leaves it half-fed.
    std::vector<Image> images;
    for (const auto& [code, path] :
         {std::make_pair(kImageApp, request.appPath), std::make_pair(kImageRcdb, request.rcdbPath)})
    {
        if (!PathExists(path))
            continue;
        Image image{code, path, {}};
        std::wstring why;
        if (!ReadImage(path, image.bytes, why))
        {
            result.outcome = UpgradeOutcome::ImageUnreadable;
            result.message = L"Cannot read the image file \"" + path + L"\": " + why;
            view.ShowOutcome(result);
            return result;
        }
        images.push_back(std::move(image));
    }

    std::shared_ptr<ISerialPort> port;
    CRun run(view, result);
    try
    {
        port = makePort();
        port->Open(request.device.c_str(), 115200, NOPARITY, 8, ONESTOPBIT, FlowNone, TRUE);
        COMMTIMEOUTS timeouts{};
        port->GetTimeouts(timeouts);
        timeouts.ReadTotalTimeoutMultiplier = 0;
        timeouts.WriteTotalTimeoutMultiplier = 0;
        timeouts.ReadTotalTimeoutConstant = timeout;
        timeouts.WriteTotalTimeoutConstant = timeout;
        // All-zero read time-outs would wait for ever on a silent radio; this makes them return.
        if (timeout == 0)
            timeouts.ReadIntervalTimeout = 0xFFFFFFFF;
        port->SetTimeouts(timeouts);
        DWORD errors = 0;
        BOOL (ISerialPort::*clearInto)(DWORD&) = &ISerialPort::ClearError; // the two forms overload
        (port.get()->*clearInto)(errors);
        port->ClearError(DWORD{0});
        port->Setup(2048, 2048);

        {
            Kd7v001YmodemControl engine;
            engine.m_sigListenTrace.connect([&view](const std::vector<char>& b) { view.OnTraceText(b); });
            engine.m_sigAnswerTrace.connect([&view](const std::vector<char>& b) { view.OnTraceHex(b); });
            run.ConnectProgress(engine.m_sigListenProgress, kCaptionListen, false);
            if (!engine.HostListenUpdate(port.get()))
            {
                result.outcome = UpgradeOutcome::ModeNotSeen;
            }
            else
            {
                for (const auto& image : images)
                    run.TransferImage(engine, *port, image);
                if (images.empty())
                {
                    result.outcome = UpgradeOutcome::NoData;
                    result.message = kNoData;
                }
                else
                {
                    run.ConnectProgress(engine.m_sigHostWriteProgress, kCaptionLocation, false);
                    if (!engine.HostWriteLocation(port.get()))
                        run.FailAndClose(*port, kHostNotResponding);
                    result.outcome = UpgradeOutcome::Success;
                    result.message = kSuccess;
                }
                // Shown with the progress window still up and the port still open.
                view.ShowOutcome(result);
            }
        }
        port->Close();
        view.OnProgressEnd();
        if (result.outcome == UpgradeOutcome::ModeNotSeen)
            view.ShowOutcome(result);
    }
    catch (const Kd7YmodemUpdateException& e)
    {
        if (port)
            port->Close();
        view.OnProgressEnd();
        result.outcome = std::strcmp(e.what(), kHostNotResponding) == 0 ? UpgradeOutcome::HostNotResponding
                                                                        : UpgradeOutcome::UnableToWrite;
        result.message = NarrowToWide(e.what());
        view.ShowOutcome(result);
    }
    catch (const CSerialException& e)
    {
        wchar_t text[512];
        e.GetErrorMessage(text, 512);
        if (port)
            port->Close();
        view.OnProgressEnd();
        result.outcome = UpgradeOutcome::SerialError;
        result.error = e.m_dwError;
        result.message = text[0] != L'\0' ? std::wstring(text) : L"Serial error " + std::to_wstring(e.m_dwError);
        view.ShowOutcome(result);
    }
    return result;
}
