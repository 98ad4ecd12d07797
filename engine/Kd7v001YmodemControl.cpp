#include "engine/Kd7v001YmodemControl.h"

#include "config/Settings.h"
#include "engine/LogText.h"
#include "platform/Text.h"
#include "serial/SerialException.h"
#include "serial/SerialLink.h"

#include <spdlog/spdlog.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <iterator>

namespace
{
constexpr std::size_t kBlockSmall = 128;
constexpr std::size_t kBlockLarge = 1024;
constexpr char kMainMenu[] = "Main Menu";

constexpr std::array<unsigned short, 256> MakeCrcTable()
{
    std::array<unsigned short, 256> table{};
    for (unsigned i = 0; i < 256; ++i)
    {
        unsigned crc = i;
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1u) ? (crc >> 1) ^ 0xA001u : crc >> 1;
        table[i] = static_cast<unsigned short>(crc);
    }
    return table;
}
constexpr auto kCrcTable = MakeCrcTable();

void AppendCrc(std::vector<char>& frame, const char* payload, std::size_t size)
{
    const unsigned short crc = Crc16Arc(payload, size);
    frame.push_back(static_cast<char>(crc & 0xFF));
    frame.push_back(static_cast<char>(crc >> 8));
}

// The wait event of one top-level operation, closed whichever way the operation ends.
class CWaitEvent
{
public:
    CWaitEvent() : m_hEvent(CreateEventW(nullptr, TRUE, FALSE, nullptr))
    {
        // Without its event no request could be waited for: a failure of the system, not of the radio.
        if (m_hEvent == nullptr)
            throw CSerialException(GetLastError());
    }
    ~CWaitEvent()
    {
        if (m_hEvent != nullptr)
            CloseHandle(m_hEvent);
    }
    CWaitEvent(const CWaitEvent&) = delete;
    CWaitEvent& operator=(const CWaitEvent&) = delete;
    HANDLE Get() const { return m_hEvent; }

private:
    HANDLE m_hEvent;
};

std::size_t SkipC(const std::vector<char>& answer)
{
    std::size_t i = 0;
    while (i < answer.size() && answer[i] == Kd7v001YmodemControl::CRC_C)
        ++i;
    return i;
}
} // namespace

std::string FormatHex(const std::vector<char>& bytes)
{
    static const char digits[] = "0123456789ABCDEF";
    std::string text;
    text.reserve(bytes.size() * 3);
    for (char c : bytes)
    {
        const auto b = static_cast<unsigned char>(c);
        text += digits[b >> 4];
        text += digits[b & 0x0F];
        text += ' ';
    }
    return text;
}

unsigned short Crc16Arc(const char* data, std::size_t size)
{
    unsigned crc = 0;
    for (std::size_t i = 0; i < size; ++i)
        crc = (crc >> 8) ^ kCrcTable[(crc ^ static_cast<unsigned char>(data[i])) & 0xFFu];
    return static_cast<unsigned short>(crc);
}

void Kd7v001YmodemControl::Delay(DWORD milliseconds) { Sleep(milliseconds); }

DWORD Kd7v001YmodemControl::GetTick() { return GetTickCount(); }

bool Kd7v001YmodemControl::StopAsked()
{
    if (!m_stopped && m_stopCheck && m_stopCheck())
        m_stopped = true;
    return m_stopped;
}

bool Kd7v001YmodemControl::Pause(DWORD milliseconds)
{
    for (;;)
    {
        if (StopAsked())
            return false;
        if (milliseconds == 0)
            return true;
        const DWORD step = milliseconds < kPauseStepMs ? milliseconds : kPauseStepMs;
        Delay(step);
        milliseconds -= step;
    }
}

WaitBudget Kd7v001YmodemControl::Budget(DWORD milliseconds)
{
    const DWORD start = GetTick();
    return [this, start, milliseconds]() -> DWORD {
        if (StopAsked())
            return 0;
        if (milliseconds == kNoDeadline)
            return kNoDeadline;
        const DWORD spent = GetTick() - start;
        return spent >= milliseconds ? 0 : milliseconds - spent;
    };
}

DWORD Kd7v001YmodemControl::ReadBudget(DWORD milliseconds)
{
    // A read needs a moment to complete even with bytes waiting (under Wine more than a
    // millisecond): a shorter budget would cancel it with the answer unread.
    return milliseconds < kWaitSliceMs ? kWaitSliceMs : milliseconds;
}

DWORD Kd7v001YmodemControl::ResendGuardMs() const
{
    if (!m_answerTimed)
        return kUntimedGuardMs;
    const DWORD guard = m_longestAnswerMs + m_longestAnswerMs / 2 + kGuardMarginMs;
    return guard < kGuardFloorMs ? kGuardFloorMs : guard;
}

void Kd7v001YmodemControl::NoteAnswerTime(DWORD sentAt)
{
    const DWORD took = GetTick() - sentAt;
    m_answerTimed = true;
    if (took > m_longestAnswerMs)
        m_longestAnswerMs = took;
}

int Kd7v001YmodemControl::MakeFileFrames(FrameTable& table, const std::vector<char>& data, const std::wstring& fileName)
{
    int counter = 0;
    std::vector<char> header{SOH, 0x00, static_cast<char>(0xFF)};
    const std::string size = std::to_string(data.size());
    // A name too long for the size and both zero bytes to fit loses its first characters: a cut
    // size field would have the radio store a short image.
    const std::size_t room = kBlockSmall - size.size() - 2;
    std::wstring kept = fileName.substr(0, fileName.find(L'\0'));
    std::string name = WideToNarrow(kept);
    while (name.size() > room)
    {
        kept.erase(0, 1);
        name = WideToNarrow(kept);
    }
    header.insert(header.end(), name.begin(), name.end());
    header.push_back(0x00);
    header.insert(header.end(), size.begin(), size.end());
    header.push_back(0x00);
    header.resize(3 + kBlockSmall, 0x00);
    AppendCrc(header, header.data() + 3, kBlockSmall);
    table[counter] = std::move(header);

    std::size_t offset = 0;
    std::size_t remaining = data.size();
    while (remaining > 0)
    {
        ++counter;
        const std::size_t payload = remaining > kBlockSmall ? kBlockLarge : kBlockSmall;
        const std::size_t take = remaining < payload ? remaining : payload;
        const auto number = static_cast<unsigned char>(counter % 256);
        std::vector<char> frame;
        frame.reserve(3 + payload + 2);
        frame.push_back(payload == kBlockLarge ? STX : SOH);
        frame.push_back(static_cast<char>(number));
        frame.push_back(static_cast<char>(0xFF - number));
        frame.insert(frame.end(), data.begin() + static_cast<std::ptrdiff_t>(offset),
                     data.begin() + static_cast<std::ptrdiff_t>(offset + take));
        frame.resize(3 + payload, SUB);
        AppendCrc(frame, frame.data() + 3, payload);
        table[counter] = std::move(frame);
        offset += take;
        remaining -= take;
    }

    ++counter;
    std::vector<char> end{SOH, 0x00, static_cast<char>(0xFF)};
    end.resize(3 + kBlockSmall + 2, 0x00);
    table[counter] = std::move(end);
    return static_cast<int>(table.size());
}

bool Kd7v001YmodemControl::AcceptAnyAnswer(const std::vector<char>&) const { return true; }

bool Kd7v001YmodemControl::IsAnswerC(const std::vector<char>& answer) const
{
    return !answer.empty() && answer[0] == CRC_C;
}

bool Kd7v001YmodemControl::IsAckC(const std::vector<char>& answer) const
{
    for (std::size_t i = 0; i < answer.size(); ++i)
    {
        if (answer[i] != ACK)
            continue;
        if (i + 1 < answer.size() && answer[i + 1] == CRC_C)
            return true;
        ++i; // the byte after an ACK that is not C is passed over as well
    }
    return false;
}

bool Kd7v001YmodemControl::IsAck(const std::vector<char>& answer) const
{
    const std::size_t i = SkipC(answer);
    return i < answer.size() && answer[i] == ACK;
}

bool Kd7v001YmodemControl::IsNak(const std::vector<char>& answer) const
{
    const std::size_t i = SkipC(answer);
    return i < answer.size() && answer[i] == NAK;
}

bool Kd7v001YmodemControl::IsMainMenu(const std::vector<char>& answer)
{
    const std::size_t n = sizeof kMainMenu - 1;
    if (answer.size() < n)
        return false;
    for (std::size_t i = 0; i + n <= answer.size(); ++i)
    {
        if (std::memcmp(answer.data() + i, kMainMenu, n) == 0)
            return true;
    }
    return false;
}

int Kd7v001YmodemControl::HostReadAnswer(ISerialPort* port, HANDLE hEvent, std::vector<char>& answer, DWORD budgetMs)
{
    std::vector<char> piece;
    const int n = ReadSerialAvailable(port, hEvent, piece, Budget(budgetMs));
    if (n < 0)
        return n;
    answer.insert(answer.end(), piece.begin(), piece.end());
    return static_cast<int>(answer.size());
}

template <typename... Args> void Kd7v001YmodemControl::LogError(int line, const char* text, Args&&... args)
{
    if (auto log = spdlog::get(m_strLogger))
        log->log(spdlog::source_loc{__FILE__, line, "Kd7v001YmodemControl::HostWriteFrame"}, spdlog::level::err,
                 fmt::runtime(text), std::forward<Args>(args)...);
}

bool Kd7v001YmodemControl::PrepareLine(ISerialPort* port, HANDLE hEvent, const std::vector<char>& frame)
{
    if (!m_quietBeforeNext)
    {
        DiscardSerialInput(port, hEvent);
        return true;
    }
    m_quietBeforeNext = false;
    // The longest answer time when every copy was heard from; else long enough for the answer of
    // the earliest copy never heard from, had it come as late as the last one's would.
    const DWORD quiet = m_unheardCopies ? ResendGuardMs() + m_unheardSpanMs : m_longestAnswerMs;
    // Bounded: a line that never goes quiet fails the frame rather than holding it.
    const DWORD limit = quiet * 10 > kQuietLimitMs ? quiet * 10 : kQuietLimitMs;
    const DWORD start = GetTick();
    DWORD lastByte = start;
    std::vector<char> heard;
    for (;;)
    {
        const DWORD now = GetTick();
        if (now - lastByte >= quiet)
            return true;
        if (now - start >= limit)
        {
            m_sigAttemptFailed(frame, AttemptFailure::Busy, heard, 0);
            return false;
        }
        std::vector<char> late;
        const int n = HostReadAnswer(port, hEvent, late, ReadBudget(quiet - (now - lastByte)));
        if (StopAsked())
            return false;
        if (n > 0)
        {
            m_sigAnswerTrace(late);
            // Only what a check could take for an answer breaks the quiet: a receiver that repeats
            // its C while it waits, or prints its menu again, does not.
            const bool answer = std::any_of(late.begin(), late.end(), [](char c) { return c == ACK || c == NAK; });
            // The first of them is a copy's late answer: an answer time at least that long.
            if (answer && std::none_of(heard.begin(), heard.end(), [](char c) { return c == ACK || c == NAK; }))
                NoteAnswerTime(m_lastSentAt);
            if (answer)
                lastByte = GetTick();
            heard.insert(heard.end(), late.begin(), late.end());
        }
        else if (n == -1 && !Pause(kPauseStepMs))
            return false;
    }
}

bool Kd7v001YmodemControl::HostWriteFrame(ISerialPort* port, const std::vector<char>& frame, int retries, int interval,
                                          unsigned minAnswer, AnswerCheck check)
{
    CWaitEvent event;
    COMMTIMEOUTS timeouts{};
    port->GetTimeouts(timeouts);
    bool sent = false;
    DWORD sentAt = 0;
    bool unheard = false; // a copy went out and nothing came back before the next
    DWORD firstUnheardAt = 0;
    const auto done = [&](int attempts) {
        // Answers to its other copies may still be under way: the next frame waits for quiet.
        m_quietBeforeNext = attempts > 1;
        m_unheardCopies = unheard;
        m_unheardSpanMs = unheard ? sentAt - firstUnheardAt : 0;
        m_lastSentAt = sentAt;
        return true;
    };
    try
    {
        if (retries <= 0 || !PrepareLine(port, event.Get(), frame))
            return false;
        m_sigFrameStart(frame);
        int attempts = 0;
        // Counting down from the attempts, never below zero: any count is safe.
        for (int left = retries; left > 0;)
        {
            --left;
            ++attempts;
            std::vector<char> answer;
            AttemptFailure why = AttemptFailure::Answer;
            DWORD pause = timeouts.ReadTotalTimeoutConstant;
            if (!WriteSerialFrame(port, event.Get(), frame, Budget(kNoDeadline)))
            {
                if (StopAsked())
                    return false;
                LogError(__LINE__, kLogWriteFailed, frame.size(), left);
                why = AttemptFailure::Write;
                pause = timeouts.WriteTotalTimeoutConstant;
            }
            else
            {
                sent = true;
                sentAt = GetTick();
                if (!Pause(static_cast<DWORD>(interval)))
                    return false;
                if (HostReadAnswer(port, event.Get(), answer) == -1)
                {
                    LogError(__LINE__, kLogReadFailed, left);
                    why = AttemptFailure::Read;
                }
                else if (!StopAsked())
                {
                    if (!answer.empty())
                        NoteAnswerTime(sentAt);
                    m_sigAnswerTrace(answer);
                    // A stop asked during the first read window is not kept waiting for a second one.
                    if (answer.size() < minAnswer && !StopAsked())
                    {
                        const bool heard = !answer.empty();
                        if (HostReadAnswer(port, event.Get(), answer) == -1)
                            why = AttemptFailure::Read;
                        else
                        {
                            if (!heard && !answer.empty())
                                NoteAnswerTime(sentAt);
                            m_sigAnswerTrace(answer);
                        }
                    }
                }
                if (StopAsked())
                    return false;
                if (why == AttemptFailure::Answer)
                {
                    if (check(answer))
                        return done(attempts);
                    LogError(__LINE__, kLogWrongAnswer, FormatHex(answer), left);
                }
            }
            // The pause before the frame goes again. What arrives in it is the late answer of what
            // was sent, judged before any resend; and no copy follows the last one sooner than the
            // guard, so the answers of two copies are never under way at once.
            if (sent)
            {
                const DWORD since = GetTick() - sentAt;
                const DWORD guard = ResendGuardMs();
                if (since < guard && guard - since > pause)
                    pause = guard - since;
            }
            // A port whose read failed is not read again at once: its pause is a plain one.
            if (why == AttemptFailure::Read && !Pause(pause))
                return false;
            const DWORD pauseStart = GetTick();
            for (DWORD spent = 0; why != AttemptFailure::Read && spent < pause; spent = GetTick() - pauseStart)
            {
                const std::size_t before = answer.size();
                const int n = HostReadAnswer(port, event.Get(), answer, ReadBudget(pause - spent));
                if (StopAsked())
                    return false;
                if (n == -1)
                {
                    if (!Pause(pause - spent))
                        return false;
                    break;
                }
                if (answer.size() == before)
                    continue;
                if (sent && before == 0)
                    NoteAnswerTime(sentAt);
                m_sigAnswerTrace(answer);
                if (check(answer))
                    return done(attempts);
            }
            if (why != AttemptFailure::Write && answer.empty() && !unheard)
            {
                unheard = true;
                firstUnheardAt = sentAt;
            }
            m_sigAttemptFailed(frame, why, answer, left);
        }
    }
    catch (const CSerialException&)
    {
    }
    return false;
}

bool Kd7v001YmodemControl::HostListenUpdate(ISerialPort* port)
{
    CWaitEvent event;
    const int total = ReadSettingInt("ListenUpdateRetry", 300);
    const DWORD interval = ReadSettingPause("listenInterval", 300);
    int left = total;
    // The end of a read cut short by its bounds, so a menu cut in two by them is still seen.
    std::vector<char> tail;
    try
    {
        for (;;)
        {
            const DWORD t0 = GetTick();
            if (!m_sigListenProgress(left, total))
                return false;
            if (left < 0)
                return false;
            if (!Pause(interval))
                return false;
            std::vector<char> answer;
            const int n = HostReadAnswer(port, event.Get(), answer);
            if (StopAsked())
                return false;
            if (n == -1)
            {
                --left;
                continue;
            }
            COMSTAT stat{};
            port->GetStatus(stat);
            m_sigListenTrace(answer);
            // Keep each pass near a second, asking the progress slots before every step.
            long long elapsed = static_cast<long long>(GetTick() - t0);
            if (elapsed < 1000)
            {
                for (; elapsed > 0; elapsed -= kPauseStepMs)
                {
                    if (!m_sigListenProgress(left, total) || !Pause(kPauseStepMs))
                        return false;
                }
            }
            tail.insert(tail.end(), answer.begin(), answer.end());
            if (IsMainMenu(tail))
                return true;
            const std::size_t keep = stat.cbInQue > 0 ? sizeof kMainMenu - 2 : 0;
            tail.erase(tail.begin(), tail.end() - static_cast<std::ptrdiff_t>(std::min(keep, tail.size())));
            --left;
        }
    }
    catch (const CSerialException&)
    {
        return false;
    }
}

bool Kd7v001YmodemControl::SendWithSettings(ISerialPort* port, const std::vector<char>& frame, int defaultRetries,
                                            int defaultInterval, unsigned minAnswer, AnswerCheck check)
{
    const int retries = ReadSettingInt("WriteDataFrameRetry", defaultRetries);
    const auto interval = static_cast<int>(ReadSettingPause("WriteDataFrameInterval", defaultInterval));
    return HostWriteFrame(port, frame, retries, interval, minAnswer, std::move(check));
}

bool Kd7v001YmodemControl::HostSelectImage(ISerialPort* port, int image)
{
    if (!m_sigHostWriteProgress(image, image))
        return false;
    const std::vector<char> frame{static_cast<char>(0x30 + image)};
    return SendWithSettings(port, frame, 10, 200, 1, [this](const std::vector<char>& a) { return IsAnswerC(a); });
}

bool Kd7v001YmodemControl::HostWriteFrameAckC(ISerialPort* port, const std::vector<char>& frame)
{
    return SendWithSettings(port, frame, 3, 200, 2, [this](const std::vector<char>& a) { return IsAckC(a); });
}

bool Kd7v001YmodemControl::HostWriteFrameAck(ISerialPort* port, const std::vector<char>& frame)
{
    return SendWithSettings(port, frame, 3, 150, 1, [this](const std::vector<char>& a) { return IsAck(a); });
}

bool Kd7v001YmodemControl::HostWriteFrameNak(ISerialPort* port, const std::vector<char>& frame)
{
    return SendWithSettings(port, frame, 10, 200, 1, [this](const std::vector<char>& a) { return IsNak(a); });
}

bool Kd7v001YmodemControl::HostWriteEnd(ISerialPort* port, const std::vector<char>& endBlock)
{
    const std::vector<char> eot{EOT};
    // A lost answer is known by the next one where it shows where the radio is. Only after a copy
    // that drew nothing: an ACK to the first EOT itself is refused, and so is the menu in answer
    // to the end block's first copy.
    bool unanswered = false;
    const boost::signals2::scoped_connection watch = m_sigAttemptFailed.connect(
        [&unanswered](const std::vector<char>&, AttemptFailure why, const std::vector<char>& answer, int) {
            unanswered = unanswered || (why == AttemptFailure::Answer && answer.empty());
        });
    // The NAK to the first EOT lost: the radio took the next copy for the second EOT (ACK C).
    bool tookSecond = false;
    if (!SendWithSettings(port, eot, 10, 200, 1, [&](const std::vector<char>& a) {
            tookSecond = !IsNak(a) && unanswered && IsAckC(a);
            return IsNak(a) || tookSecond;
        }))
        return false;
    unanswered = false;
    if (!tookSecond && !HostWriteFrameAckC(port, eot))
        return false;
    unanswered = false;
    // The ACK to the end block lost: the radio has ended the batch and shows its menu again.
    return SendWithSettings(port, endBlock, 10, 200, 1,
                            [&](const std::vector<char>& a) { return IsAck(a) || (unanswered && IsMainMenu(a)); });
}

int Kd7v001YmodemControl::HostWriteFrames(ISerialPort* port, const FrameTable& table)
{
    const int n = static_cast<int>(table.size());
    if (n < 2)
        return -1;
    if (!m_sigWriteProgress(1, n))
        return -1;
    auto it = table.begin();
    if (!HostWriteFrameAckC(port, it->second))
        return -1;
    const auto last = std::prev(table.end());
    int k = 2;
    for (++it; it != last; ++it, ++k)
    {
        if (!m_sigWriteProgress(k, n))
            return -1;
        if (!HostWriteFrameAck(port, it->second))
            return -1;
    }
    if (!m_sigWriteProgress(n, n))
        return -1;
    if (!HostWriteEnd(port, last->second))
        return -1;
    return n;
}

bool Kd7v001YmodemControl::HostReadText(ISerialPort* port, DWORD waitMs,
                                        const std::function<bool(const std::vector<char>&)>& heard)
{
    CWaitEvent event;
    const DWORD start = GetTick();
    for (;;)
    {
        const DWORD spent = GetTick() - start;
        if (spent >= waitMs || StopAsked())
            return false;
        std::vector<char> piece;
        // Each read waits for the radio, or its time-out, or the end of the wait: no busy loop.
        const int n = ReadSerialAvailable(port, event.Get(), piece, Budget(waitMs - spent));
        if (n > 0 && heard(piece))
            return true;
        if (n == -1 && !Pause(kPauseStepMs))
            return false;
    }
}

bool Kd7v001YmodemControl::DrainWrittenCommand(ISerialPort* port, const COMMTIMEOUTS& timeouts, OutputSeen& seen)
{
    try
    {
        return DrainSerialOutput(port, timeouts.WriteTotalTimeoutConstant, Budget(kNoDeadline), &seen);
    }
    catch (const CSerialException& e)
    {
        // A radio that restarts the moment it reads the command takes its port with it: the port
        // was last seen with no byte waiting and is gone as the drain ends. A port never looked
        // at, or last seen with the command queued, gives no proof; nor does a time-out, nor a
        // failure of a port that is still there.
        bool gone = seen == OutputSeen::Empty && e.m_dwError != ERROR_SEM_TIMEOUT && e.m_dwError != ERROR_TIMEOUT;
        if (gone)
        {
            try
            {
                COMSTAT stat{};
                port->GetStatus(stat);
                gone = false;
            }
            catch (const CSerialException&)
            {
            }
        }
        if (!gone)
        {
            m_writeUnsure = true;
            throw;
        }
        m_lineClosedAfterWrite = true;
        return true;
    }
}

bool Kd7v001YmodemControl::HostWriteLocation(ISerialPort* port)
{
    if (!m_sigHostWriteProgress(4, 4))
        return false;
    const int retries = ReadSettingInt("WriteDataFrameRetry", 10);
    const DWORD interval = ReadSettingPause("WriteDataFrameInterval", 200);
    const std::vector<char> frame{HOST_WRITE};
    CWaitEvent event;
    COMMTIMEOUTS timeouts{};
    port->GetTimeouts(timeouts);
    try
    {
        if (retries <= 0 || !PrepareLine(port, event.Get(), frame))
            return false;
        m_sigFrameStart(frame);
        // Across attempts: a copy left waiting by one is not taken as gone out by the next.
        OutputSeen seen = OutputSeen::NotLooked;
        for (int left = retries;;)
        {
            --left;
            if (WriteSerialFrame(port, event.Get(), frame, Budget(kNoDeadline)))
            {
                if (DrainWrittenCommand(port, timeouts, seen))
                    break;
                // Taken by the port and not seen to leave: another copy would follow it to the
                // radio, which would write twice. Only the radio's word can tell now.
                if (!StopAsked())
                    m_writeUnsure = true;
                return false;
            }
            if (StopAsked())
                return false;
            LogError(__LINE__, kLogWriteFailed, frame.size(), left);
            m_sigAttemptFailed(frame, AttemptFailure::Write, {}, left);
            if (left <= 0 || !Pause(timeouts.WriteTotalTimeoutConstant))
                return false;
        }
    }
    catch (const CSerialException&)
    {
        return false;
    }
    // The command has left the port: the radio has it, whatever it answers or does next; it may
    // restart at once and take its line with it. Its answer is only shown.
    try
    {
        std::vector<char> answer;
        if (Pause(interval) && HostReadAnswer(port, event.Get(), answer) >= 0)
            m_sigAnswerTrace(answer);
    }
    catch (const CSerialException&)
    {
        m_lineClosedAfterWrite = true;
    }
    return true;
}
