#include "app/UpgradeRun.h"

#include "config/Settings.h"
#include "engine/Kd7v001YmodemControl.h"
#include "platform/Text.h"
#include "serial/SerialException.h"

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
constexpr DWORD kZeroTimeoutWriteMs = 1000;

bool PathExists(const std::wstring& path)
{
    std::error_code ec;
    return !path.empty() && std::filesystem::exists(PathFromWide(path), ec);
}

// The whole file within kMaxImageBytes, or a reason a person understands.
bool ReadImage(const std::wstring& path, bool strict, std::vector<char>& bytes, std::wstring& why)
{
    const auto fsPath = PathFromWide(path);
    std::error_code ec;
    if (std::filesystem::is_directory(fsPath, ec))
    {
        why = L"it is a folder, not an image file";
        return false;
    }
    if (strict && !std::filesystem::is_regular_file(fsPath, ec))
    {
        why = PathExists(path) ? L"it is not a regular file" : L"there is no such file";
        return false;
    }
    std::ifstream in(fsPath, std::ios::binary);
    if (!in)
    {
        why = NarrowToWide(std::strerror(errno));
        return false;
    }
    // In pieces, so a device that never ends (/dev/zero) is stopped at the bound.
    constexpr std::size_t kPiece = 64 * 1024;
    while (in && bytes.size() <= kMaxImageBytes)
    {
        const std::size_t at = bytes.size();
        bytes.resize(at + kPiece);
        in.read(bytes.data() + at, static_cast<std::streamsize>(kPiece));
        bytes.resize(at + static_cast<std::size_t>(in.gcount()));
    }
    if (in.bad())
    {
        why = L"reading it failed";
        return false;
    }
    if (bytes.size() > kMaxImageBytes)
    {
        why = L"it is larger than 16 MiB, which no radio image is";
        return false;
    }
    if (strict && bytes.empty())
    {
        why = L"it is empty";
        return false;
    }
    return true;
}

// The system's text of a serial error, without the line end Windows closes it with.
std::wstring SerialErrorText(const CSerialException& e)
{
    wchar_t text[512];
    e.GetErrorMessage(text, 512);
    std::wstring message = text;
    const auto end = message.find_last_not_of(L" \r\n\t");
    message.erase(end == std::wstring::npos ? 0 : end + 1);
    return message.empty() ? L"Serial error " + std::to_wstring(e.m_dwError) : message;
}

// After a failure: whether the port itself has gone, in the port's own words.
void ProbePort(ISerialPort& port, UpgradeResult& result)
{
    try
    {
        COMSTAT stat{};
        port.GetStatus(stat);
    }
    catch (const CSerialException& e)
    {
        result.detail = SerialErrorText(e);
        result.error = e.m_dwError;
        result.portGone = true;
    }
}

class CRun
{
public:
    CRun(const UpgradeRequest& request, IUpgradeView& view, UpgradeResult& result)
        : m_request(request), m_view(view), m_result(result)
    {
    }

    // Every progress handler goes through here, so a stop asked anywhere is remembered.
    void ConnectProgress(Kd7v001YmodemControl::ProgressSignal& signal, const wchar_t* caption, bool percent)
    {
        signal.connect([this, caption, percent](int done, int total) {
            if (WaitOver())
                return true;
            const bool stop = m_view.OnProgress(caption, done, total, percent);
            m_result.cancelled = m_result.cancelled || stop;
            return stop;
        });
    }

    void Connect(Kd7v001YmodemControl& engine)
    {
        engine.m_strLogger = m_request.logger;
        engine.m_sigListenTrace.connect([this](const std::vector<char>& b) { m_view.OnTraceText(b); });
        engine.m_sigAnswerTrace.connect([this](const std::vector<char>& b) { m_view.OnTraceHex(b); });
        // After the last progress of an image come the two EOTs, then the end-of-batch block: the
        // stage is the frame's place in the image, whatever its bytes are.
        engine.m_sigFrameStart.connect([this](const std::vector<char>& frame) {
            if (m_result.stage == UpgradeStage::Eot && frame.size() > 1)
                m_result.stage = UpgradeStage::End;
        });
        engine.m_sigAttemptFailed.connect(
            [this](const std::vector<char>&, AttemptFailure why, const std::vector<char>& answer, int left) {
                if (left > 0)
                    ++m_result.resends;
                m_view.OnAttemptFailed(m_result.stage, m_result.block, why, answer, left);
            });
        engine.m_stopCheck = [this] {
            if (WaitOver())
                return true;
            const bool stop = m_view.OnWait();
            m_result.cancelled = m_result.cancelled || stop;
            return stop;
        };
    }

    bool Listen(Kd7v001YmodemControl& engine, ISerialPort& port)
    {
        m_result.stage = UpgradeStage::Listen;
        m_listenStart = GetTickCount();
        m_listening = true;
        ConnectProgress(engine.m_sigListenProgress, kCaptionListen, false);
        bool seen = engine.HostListenUpdate(&port);
        while (!seen && m_request.listenUntilMenu && !m_result.cancelled)
        {
            ProbePort(port, m_result);
            if (m_result.portGone)
                break;
            seen = engine.HostListenUpdate(&port);
        }
        m_listening = false;
        return seen;
    }

    void TransferImage(Kd7v001YmodemControl& engine, ISerialPort& port, const UpgradeImage& image)
    {
        m_result.image = image.code;
        m_result.stage = UpgradeStage::Select;
        m_result.block = 0;
        ConnectProgress(engine.m_sigHostWriteProgress, kCaptionLocation, false);
        if (!engine.HostSelectImage(&port, image.code))
            FailAndClose(port, kHostNotResponding);
        const FrameTable& table = *image.frames;
        const int n = static_cast<int>(table.size());
        ConnectProgress(engine.m_sigWriteProgress, kCaptionWriting, true);
        m_view.OnImageStart(image.code, image.path, n, image.bytes->size());
        engine.m_sigWriteProgress.connect([this](int done, int total) {
            m_result.stage = done == 1 ? UpgradeStage::Header : done < total ? UpgradeStage::Block : UpgradeStage::Eot;
            m_result.block = done > 1 && done < total ? done - 1 : 0;
            return m_view.OnWriteProgress(done, total);
        });
        if (engine.HostWriteFrames(&port, table) != n)
            FailAndClose(port, kUnableToWrite);
    }

    bool WriteLocation(Kd7v001YmodemControl& engine, ISerialPort& port)
    {
        m_result.stage = UpgradeStage::Write;
        m_result.block = 0;
        ConnectProgress(engine.m_sigHostWriteProgress, kCaptionLocation, false);
        return engine.HostWriteLocation(&port);
    }

    [[noreturn]] void FailAndClose(ISerialPort& port, const char* text)
    {
        ProbePort(port, m_result);
        port.Close();
        throw Kd7YmodemUpdateException(text);
    }

private:
    // The menu wait has a bound of its own besides its passes: the time the caller gave it.
    bool WaitOver() const
    {
        return m_listening && m_request.waitMs > 0 && GetTickCount() - m_listenStart >= m_request.waitMs;
    }

    const UpgradeRequest& m_request;
    IUpgradeView& m_view;
    UpgradeResult& m_result;
    bool m_listening = false;
    DWORD m_listenStart = 0;
};
} // namespace

const char* ToString(UpgradeStage stage)
{
    switch (stage)
    {
    case UpgradeStage::None: return "";
    case UpgradeStage::Open: return "open";
    case UpgradeStage::Listen: return "listen";
    case UpgradeStage::Select: return "select";
    case UpgradeStage::Header: return "header";
    case UpgradeStage::Block: return "block";
    case UpgradeStage::Eot: return "eot";
    case UpgradeStage::End: return "end";
    case UpgradeStage::Write: return "write";
    }
    return "";
}

std::wstring DescribeOutcome(const UpgradeResult& result)
{
    if (!result.message.empty())
        return result.message;
    if (result.outcome == UpgradeOutcome::ModeNotSeen)
    {
        if (result.cancelled)
            return L"Cancelled while waiting for the radio's upgrade menu";
        if (result.portGone)
            return L"The serial port failed while waiting for the radio's upgrade menu";
        return L"The radio did not show its upgrade menu (\"Main Menu\"); is it in upgrade mode?";
    }
    return {};
}

std::string SaveRunSettings(const UpgradeRequest& request)
{
    std::string error;
    const auto save = [&error](const char* key, const std::string& value) {
        std::string why = WriteSettingString(key, value);
        if (error.empty())
            error = std::move(why);
    };
    if (!request.portSetting.empty())
        save("port", request.portSetting);
    save("app_bin_file", WideToNarrow(request.appPath));
    save("rcdb_bin_file", WideToNarrow(request.rcdbPath));
    return error;
}

bool LoadImages(const UpgradeRequest& request, std::vector<UpgradeImage>& images, UpgradeResult& result)
{
    for (const auto& [code, path] :
         {std::make_pair(kImageApp, request.appPath), std::make_pair(kImageRcdb, request.rcdbPath)})
    {
        if (path.empty() || (!request.strictImages && !PathExists(path)))
            continue;
        std::wstring why;
        try
        {
            auto bytes = std::make_shared<std::vector<char>>();
            if (ReadImage(path, request.strictImages, *bytes, why))
            {
                auto frames = std::make_shared<FrameTable>();
                Kd7v001YmodemControl::MakeFileFrames(*frames, *bytes, BaseNameOf(path));
                images.push_back(UpgradeImage{code, path, std::move(bytes), std::move(frames)});
                continue;
            }
        }
        catch (const std::exception& e)
        {
            why = NarrowToWide(e.what());
        }
        result.outcome = UpgradeOutcome::ImageUnreadable;
        result.image = code;
        result.message = L"Cannot read the image file \"" + path + L"\": " + why;
        return false;
    }
    return true;
}

namespace
{
UpgradeResult Run(const UpgradeRequest& request, IUpgradeView& view, const PortFactory& makePort)
{
    UpgradeResult result;
    if (request.saveSettings)
        result.settingsError = SaveRunSettings(request);
    const DWORD timeout = ReadSettingPause("timeout", 1000);

    // Images are read before the radio is touched, so a bad file never leaves it half-fed.
    UpgradeImages images = request.images;
    if (!images)
    {
        auto loaded = std::make_shared<std::vector<UpgradeImage>>();
        if (!LoadImages(request, *loaded, result))
        {
            view.ShowOutcome(result);
            return result;
        }
        images = std::move(loaded);
    }

    std::shared_ptr<ISerialPort> port;
    CRun run(request, view, result);
    bool shown = false;
    const auto fail = [&](UpgradeOutcome outcome, std::wstring message) {
        if (port)
            port->Close();
        view.OnProgressEnd();
        if (shown)
            return;
        result.outcome = outcome;
        result.message = std::move(message);
        view.ShowOutcome(result);
    };
    try
    {
        result.stage = UpgradeStage::Open;
        port = makePort();
        port->Open(request.device.c_str(), 115200, NOPARITY, 8, ONESTOPBIT, FlowNone, TRUE);
        COMMTIMEOUTS timeouts{};
        port->GetTimeouts(timeouts);
        timeouts.ReadTotalTimeoutMultiplier = 0;
        timeouts.WriteTotalTimeoutMultiplier = 0;
        // A time-out of 0 would let a read wait for ever on a silent radio, or return at once
        // without a byte, and a write wait for ever on a radio that stopped reading: reads take
        // the shortest window that still ends, writes a bound far above a frame's time on the line.
        timeouts.ReadTotalTimeoutConstant = timeout == 0 ? 1 : timeout;
        timeouts.WriteTotalTimeoutConstant = timeout == 0 ? kZeroTimeoutWriteMs : timeout;
        port->SetTimeouts(timeouts);
        DWORD errors = 0;
        BOOL (ISerialPort::*clearInto)(DWORD&) = &ISerialPort::ClearError; // the two forms overload
        (port.get()->*clearInto)(errors);
        port->ClearError(DWORD{0});
        port->Setup(2048, 2048);

        {
            Kd7v001YmodemControl engine;
            run.Connect(engine);
            if (!run.Listen(engine, *port))
            {
                result.outcome = UpgradeOutcome::ModeNotSeen;
                ProbePort(*port, result);
            }
            else
            {
                for (const auto& image : *images)
                    run.TransferImage(engine, *port, image);
                if (images->empty())
                {
                    result.outcome = UpgradeOutcome::NoData;
                    result.message = kNoData;
                }
                else
                {
                    if (!run.WriteLocation(engine, *port))
                        run.FailAndClose(*port, kHostNotResponding);
                    result.outcome = UpgradeOutcome::Success;
                    result.message = kSuccess;
                    // The command left the port: a stop asked since changes nothing, and a radio
                    // that restarts at once takes its line with it.
                    result.cancelled = false;
                    UpgradeResult probe;
                    ProbePort(*port, probe);
                    result.lineClosedAfterWrite = engine.m_lineClosedAfterWrite || probe.portGone;
                }
                // Shown with the progress window still up and the port still open.
                shown = true;
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
        fail(std::strcmp(e.what(), kHostNotResponding) == 0 ? UpgradeOutcome::HostNotResponding
                                                            : UpgradeOutcome::UnableToWrite,
             NarrowToWide(e.what()));
    }
    catch (const CSerialException& e)
    {
        result.error = e.m_dwError;
        fail(UpgradeOutcome::SerialError, SerialErrorText(e));
    }
    catch (const std::exception& e)
    {
        // Nothing thrown ends the program: the radio may hold part of an image, so it is a failure.
        result.detail = NarrowToWide(e.what());
        fail(UpgradeOutcome::UnableToWrite, NarrowToWide(kUnableToWrite));
    }
    catch (...)
    {
        fail(UpgradeOutcome::UnableToWrite, NarrowToWide(kUnableToWrite));
    }
    return result;
}
} // namespace

UpgradeResult RunUpgrade(const UpgradeRequest& request, IUpgradeView& view, const PortFactory& makePort)
{
    try
    {
        return Run(request, view, makePort);
    }
    catch (const std::exception& e)
    {
        // Thrown outside the port's part (settings, images, the view): the port, if any, closed
        // as its owner went; still an outcome, never the end of the program.
        UpgradeResult result;
        result.outcome = UpgradeOutcome::UnableToWrite;
        result.message = NarrowToWide(kUnableToWrite);
        result.detail = NarrowToWide(e.what());
        try
        {
            view.OnProgressEnd();
            view.ShowOutcome(result);
        }
        catch (const std::exception&)
        {
        }
        return result;
    }
}
