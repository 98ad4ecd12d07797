#include "app/UpgradeRun.h"

#include "app/ProgressText.h"
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
const wchar_t* const kCaptionConfirm = L"waiting for the radio to confirm";

namespace
{
const char* const kHostNotResponding = "Host not responding";
const char* const kUnableToWrite = "unable to write to host";
const wchar_t* const kNoData = L"no data can be written!";
const wchar_t* const kSuccess = L"The host writes successfully";
const wchar_t* const kNotConfirmed = L"written, not confirmed by the radio";
constexpr DWORD kZeroTimeoutWriteMs = 1000;
// While waiting for the radio's confirmation: a read window that lets a stop in, and the pause
// between tries to open a port that went away with the radio's restart.
constexpr DWORD kConfirmReadMs = 200;
constexpr DWORD kReopenStepMs = 200;

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

// Opens the port at the line settings of a run with its time-outs: reads bounded by readMs,
// writes by writeMs.
void OpenPort(ISerialPort& port, const std::wstring& device, DWORD readMs, DWORD writeMs)
{
    port.Open(device.c_str(), 115200, NOPARITY, 8, ONESTOPBIT, FlowNone, TRUE);
    COMMTIMEOUTS timeouts{};
    port.GetTimeouts(timeouts);
    timeouts.ReadTotalTimeoutMultiplier = 0;
    timeouts.WriteTotalTimeoutMultiplier = 0;
    timeouts.ReadTotalTimeoutConstant = readMs;
    timeouts.WriteTotalTimeoutConstant = writeMs;
    port.SetTimeouts(timeouts);
    DWORD errors = 0;
    BOOL (ISerialPort::*clearInto)(DWORD&) = &ISerialPort::ClearError; // the two forms overload
    (port.*clearInto)(errors);
    port.ClearError(DWORD{0});
    port.Setup(2048, 2048);
}

std::string Plural(int n, const char* one, const char* many) { return std::to_string(n) + " " + (n == 1 ? one : many); }

class CRun
{
public:
    CRun(const UpgradeRequest& request, IUpgradeView& view, UpgradeResult& result)
        : m_request(request), m_view(view), m_result(result)
    {
    }

    // Every progress goes through here, so a stop asked anywhere is remembered; true asks to stop.
    bool Progress(const wchar_t* caption, int done, int total, bool percent)
    {
        if (WaitOver())
            return true;
        const bool stop = m_view.OnProgress(caption, done, total, percent);
        m_result.cancelled = m_result.cancelled || stop;
        return stop;
    }

    void ConnectProgress(Kd7v001YmodemControl::ProgressSignal& signal, const wchar_t* caption, bool percent)
    {
        signal.connect(
            [this, caption, percent](int done, int total) { return Progress(caption, done, total, percent); });
    }

    void Connect(Kd7v001YmodemControl& engine)
    {
        engine.m_strLogger = m_request.logger;
        engine.m_sigListenTrace.connect([this](const std::vector<char>& b) {
            m_listenText.Add(b.data(), b.size());
            m_view.OnTraceText(b);
        });
        engine.m_sigAnswerTrace.connect([this](const std::vector<char>& b) {
            // The answer read after the write command is the first of the radio's restart text;
            // what came before the command went out is not.
            if (m_afterWriteStarted)
                m_afterWrite.Add(b.data(), b.size());
            m_view.OnTraceHex(b);
        });
        // After the last progress of an image come the two EOTs, then the end-of-batch block: the
        // stage is the frame's place in the image, whatever its bytes are.
        engine.m_sigFrameStart.connect([this](const std::vector<char>& frame) {
            if (m_result.stage == UpgradeStage::Eot && frame.size() > 1)
                m_result.stage = UpgradeStage::End;
            if (m_result.stage == UpgradeStage::Eot)
                ++m_eots;
            m_afterWriteStarted = frame == std::vector<char>{Kd7v001YmodemControl::HOST_WRITE};
            m_attempts = {};
        });
        engine.m_sigAttemptFailed.connect(
            [this](const std::vector<char>&, AttemptFailure why, const std::vector<char>& answer, int left) {
                if (left > 0)
                    ++m_result.resends;
                NoteAttempt(why, answer);
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
        // A menu heard before the run (a station's next radio, put on while it settled) is seen.
        bool seen = Kd7v001YmodemControl::IsMainMenu(m_request.heard);
        if (seen)
        {
            m_listenText.Add(m_request.heard.data(), m_request.heard.size());
            m_view.OnTraceText(m_request.heard);
        }
        else
            seen = engine.HostListenUpdate(&port);
        while (!seen && m_request.listenUntilMenu && !m_result.cancelled)
        {
            ProbePort(port, m_result);
            if (m_result.portGone)
                break;
            seen = engine.HostListenUpdate(&port);
        }
        m_listening = false;
        if (!seen && !m_result.cancelled)
        {
            const std::string& heard = m_listenText.Window();
            m_result.detail =
                NarrowToWide(heard.empty() ? std::string("the radio sent nothing while the tool listened")
                                           : "the radio sent text, but none with \"Main Menu\" (the last it sent: \"" +
                                                 EscapeRadioText(m_listenText.Last(80)) + "\")");
        }
        if (seen)
        {
            m_result.menuText = m_listenText.Last(kRadioTextShown);
            if (m_request.patterns.radioId)
                m_result.radioId = FindRadioId(*m_request.patterns.radioId, m_listenText.Window());
        }
        return seen;
    }

    void TransferImage(Kd7v001YmodemControl& engine, ISerialPort& port, const UpgradeImage& image)
    {
        m_result.image = image.code;
        m_result.stage = UpgradeStage::Select;
        m_result.block = 0;
        m_eots = 0;
        m_attempts = {};
        ConnectProgress(engine.m_sigHostWriteProgress, kCaptionLocation, false);
        if (!engine.HostSelectImage(&port, image.code))
            FailAndClose(port, kHostNotResponding);
        const FrameTable& table = *image.frames;
        const int n = static_cast<int>(table.size());
        ConnectProgress(engine.m_sigWriteProgress, kCaptionWriting, true);
        m_view.OnImageStart(image.code, image.path, n, image.bytes->size());
        engine.m_sigWriteProgress.connect([this](int done, int total) {
            m_result.stage = done == 1 ? UpgradeStage::Header : done < total ? UpgradeStage::Block : UpgradeStage::Eot;
            m_attempts = {};
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
        m_result.image = 0;
        m_attempts = {};
        ConnectProgress(engine.m_sigHostWriteProgress, kCaptionLocation, false);
        return engine.HostWriteLocation(&port);
    }

    [[noreturn]] void FailAndClose(ISerialPort& port, const char* text)
    {
        ProbePort(port, m_result);
        port.Close();
        if (m_result.detail.empty() && !m_result.cancelled)
            m_result.detail = NarrowToWide(AttemptsText());
        throw Kd7YmodemUpdateException(text);
    }

    // After the write command: the radio's restart text, read until the confirmation pattern
    // matches, another radio names itself, or the wait is over. A port that went away with the
    // restart is opened again as it comes back. False with the outcome set when not confirmed.
    bool Confirm(Kd7v001YmodemControl& engine, ISerialPort& port, bool unsure)
    {
        const RadioPatterns& patterns = m_request.patterns;
        m_result.stage = UpgradeStage::Confirm;
        const DWORD start = engine.GetTick();
        const int total = static_cast<int>((patterns.confirmWaitMs + 999) / 1000);
        bool open = !unsure;
        bool everOpen = open; // the port came back, if it went
        bool matched = false;
        std::string anotherId;
        std::size_t unsearched = 0;
        // Matched as lines end, or every few dozen bytes of a line that does not: a radio that
        // sends a byte at a time costs no search per byte.
        const auto search = [&] {
            unsearched = 0;
            if (patterns.radioId && m_result.radioId)
            {
                const auto id = FindRadioId(*patterns.radioId, m_afterWrite.Window());
                if (id && *id != *m_result.radioId)
                    anotherId = *id;
            }
            matched = anotherId.empty() && PatternFound(*patterns.confirm, m_afterWrite.Window());
            return matched || !anotherId.empty();
        };
        const auto heard = [&](const std::vector<char>& bytes) {
            constexpr std::size_t kSearchEvery = 64;
            m_afterWrite.Add(bytes.data(), bytes.size());
            m_view.OnTraceText(bytes);
            unsearched += bytes.size();
            const bool lineEnd = std::any_of(bytes.begin(), bytes.end(), [](char c) { return c == '\n' || c == '\r'; });
            return (lineEnd || unsearched >= kSearchEvery) && search();
        };
        // What came with the write command's answer counts too.
        unsearched = m_afterWrite.Window().size();
        const std::wstring device = m_request.reopenDevice.empty() ? m_request.device : m_request.reopenDevice;
        for (DWORD spent = 0; !(unsearched > 0 && search()) && spent < patterns.confirmWaitMs;
             spent = engine.GetTick() - start)
        {
            const int left = static_cast<int>((patterns.confirmWaitMs - spent + 999) / 1000);
            if (Progress(kCaptionConfirm, left, total, false))
                break;
            if (!open)
            {
                // The radio restarting with its own USB port: it comes back under its name.
                port.Close();
                if (!engine.Pause(std::min(kReopenStepMs, patterns.confirmWaitMs - spent)))
                    break;
                try
                {
                    OpenPort(port, device, kConfirmReadMs, kZeroTimeoutWriteMs);
                    open = everOpen = true;
                }
                catch (const CSerialException&)
                {
                }
                continue;
            }
            try
            {
                COMMTIMEOUTS timeouts{};
                port.GetTimeouts(timeouts);
                timeouts.ReadTotalTimeoutConstant = kConfirmReadMs;
                port.SetTimeouts(timeouts);
                // A second at a time, so the seconds left are shown.
                if (engine.HostReadText(&port, std::min<DWORD>(1000, patterns.confirmWaitMs - spent), heard))
                    break;
                if (m_result.cancelled)
                    break;
            }
            catch (const CSerialException&)
            {
                open = false;
                m_result.lineClosedAfterWrite = true;
            }
        }
        m_result.confirmed = matched;
        if (matched)
            return true;
        // Cut short by a stop: the radio may have its upgrade, unconfirmed.
        const DWORD waited = engine.GetTick() - start;
        if (!engine.Pause(0))
            m_result.cancelled = true;
        const std::string said = m_afterWrite.First().empty()
                                     ? (everOpen ? "the radio said nothing" : "its port did not come back")
                                     : "the radio said \"" + EscapeRadioText(m_afterWrite.First()) + "\"";
        m_result.outcome = unsure ? UpgradeOutcome::HostNotResponding : UpgradeOutcome::NotConfirmed;
        if (!anotherId.empty())
        {
            m_result.message = std::wstring(kNotConfirmed) + L": another radio answered (" +
                               NarrowToWide(EscapeRadioText(anotherId)) + L", not " +
                               NarrowToWide(EscapeRadioText(*m_result.radioId)) + L")";
            m_result.detail = NarrowToWide(said);
            return false;
        }
        m_result.message = unsure ? NarrowToWide(kHostNotResponding) : kNotConfirmed;
        const std::string when = m_result.cancelled
                                     ? "stopped after " + Plural(static_cast<int>(waited / 1000), "second", "seconds")
                                     : "within " + Plural(total, "second", "seconds");
        m_result.detail =
            NarrowToWide((unsure ? std::string("the port went away as the write command went out, and ") : "") +
                         "no match for \"" + EscapeRadioText(patterns.confirmText) + "\" " + when + "; " + said);
        return false;
    }

    void TakeAfterWriteText() { m_result.afterWriteText = m_afterWrite.First(); }

private:
    // The attempts of the frame under way, for the words of a failure.
    struct Attempts
    {
        int count = 0;
        std::string first; // why the first failed
        bool same = true;  // every one failed alike
        std::string last;
        bool busy = false;
    };

    void NoteAttempt(AttemptFailure why, const std::vector<char>& answer)
    {
        if (why == AttemptFailure::Busy)
        {
            m_attempts = {};
            m_attempts.busy = true;
            return;
        }
        m_attempts.last = FailureText(why, answer);
        if (m_attempts.count++ == 0)
            m_attempts.first = m_attempts.last;
        m_attempts.same = m_attempts.same && m_attempts.last == m_attempts.first;
    }

    std::string FrameName() const
    {
        switch (m_result.stage)
        {
        case UpgradeStage::Select:
            return std::string("the selection of the ") + (m_result.image == kImageApp ? "application" : "RCDB") +
                   " image";
        case UpgradeStage::Header: return "the header";
        case UpgradeStage::Block: return "data block " + std::to_string(m_result.block);
        case UpgradeStage::Eot: return m_eots > 1 ? "the second EOT" : "the first EOT";
        case UpgradeStage::End: return "the end-of-batch block";
        case UpgradeStage::Write: return "the write command";
        default: return "the exchange";
        }
    }

    // "no answer to data block 4 after 3 attempts", "NAK to the header 3 times", ...
    std::string AttemptsText() const
    {
        const std::string frame = FrameName();
        const Attempts& a = m_attempts;
        if (a.busy)
            return "the line never went quiet before " + frame;
        if (a.count == 0)
            return "no attempt was made at " + frame + " (WriteDataFrameRetry is 0 or less)";
        const std::string times = Plural(a.count, "time", "times");
        const std::string attempts = Plural(a.count, "attempt", "attempts");
        if (!a.same)
            return frame + " failed " + times + " (the last: " + a.last + ")";
        if (a.first == "no answer")
            return "no answer to " + frame + " after " + attempts;
        if (a.first == "NAK")
            return "NAK to " + frame + " " + times;
        if (a.first == "write timed out")
            return frame + " could not be written (" + attempts + ")";
        if (a.first == "read error")
            return "the answer to " + frame + " could not be read (" + attempts + ")";
        return "wrong answer to " + frame + " (" + a.first + ") " + times;
    }

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
    CRadioText m_listenText;
    CRadioText m_afterWrite;
    bool m_afterWriteStarted = false; // the write command has gone out
    Attempts m_attempts;
    int m_eots = 0; // of the image under way
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
    case UpgradeStage::Confirm: return "confirm";
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
        // A time-out of 0 would let a read wait for ever on a silent radio, or return at once
        // without a byte, and a write wait for ever on a radio that stopped reading: reads take
        // the shortest window that still ends, writes a bound far above a frame's time on the line.
        OpenPort(*port, request.device, timeout == 0 ? 1 : timeout, timeout == 0 ? kZeroTimeoutWriteMs : timeout);

        bool showAfterClose = false;
        {
            Kd7v001YmodemControl engine;
            run.Connect(engine);
            if (!run.Listen(engine, *port))
            {
                result.outcome = UpgradeOutcome::ModeNotSeen;
                ProbePort(*port, result);
                showAfterClose = true;
            }
            else if (std::wstring skip = view.OnRadioSeen(result); !skip.empty())
            {
                result.outcome = UpgradeOutcome::AlreadyFlashed;
                result.message = std::move(skip);
                result.stage = UpgradeStage::None;
                showAfterClose = true;
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
                    const bool written = run.WriteLocation(engine, *port);
                    // A port that went away as the command went out leaves the radio's word to tell.
                    const bool unsure =
                        !written && engine.m_writeUnsure && request.patterns.confirm && !result.cancelled;
                    if (!written && !unsure)
                        run.FailAndClose(*port, kHostNotResponding);
                    // The command left the port: a stop asked since changes nothing, and a radio
                    // that restarts at once takes its line with it.
                    result.cancelled = false;
                    if (!request.patterns.confirm || run.Confirm(engine, *port, unsure))
                    {
                        result.outcome = UpgradeOutcome::Success;
                        result.message = kSuccess;
                        result.stage = UpgradeStage::None;
                        result.cancelled = false;
                    }
                    run.TakeAfterWriteText();
                    UpgradeResult probe;
                    ProbePort(*port, probe);
                    result.lineClosedAfterWrite =
                        result.lineClosedAfterWrite || engine.m_lineClosedAfterWrite || probe.portGone || unsure;
                }
                // Shown with the progress window still up and the port still open.
                shown = true;
                view.ShowOutcome(result);
            }
        }
        port->Close();
        view.OnProgressEnd();
        if (showAfterClose)
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
