// The upgrade protocol engine: frames and CRC, answer tests, the host link and the transfer
// sequence of one image, with progress and trace signals.
#pragma once

#include "config/Logger.h"
#include "platform/Win32Api.h"
#include "serial/ISerialPort.h"
#include "serial/SerialLink.h"

#include <boost/signals2/signal.hpp>

#include <functional>
#include <map>
#include <string>
#include <vector>

using FrameTable = std::map<int, std::vector<char>>;

// Progress combiner: every slot runs; a slot returns true to ask for a stop, and the signal
// answers true (go on) only when none did.
struct IsContinue
{
    using result_type = bool;

    template <typename InputIterator> bool operator()(InputIterator first, InputIterator last) const
    {
        bool stop = false;
        for (; first != last; ++first)
        {
            if (*first)
                stop = true;
        }
        return !stop;
    }
};

// Why one attempt of a frame exchange failed.
enum class AttemptFailure
{
    Write,  // the frame did not go out
    Read,   // the answer could not be read
    Answer, // the answer was missing or wrong
    Busy,   // the line never went quiet after a frame sent more than once: the next was not sent
};

// Upper-case hex, each byte as two digits and a blank ("06 43 "); no bytes give "".
std::string FormatHex(const std::vector<char>& bytes);

// CRC-16/ARC (reflected polynomial 0x8005, initial 0, no final XOR).
unsigned short Crc16Arc(const char* data, std::size_t size);

class Kd7v001YmodemControl
{
public:
    using ProgressSignal = boost::signals2::signal<bool(int, int), IsContinue>;
    using TraceSignal = boost::signals2::signal<void(const std::vector<char>&)>;
    using AnswerCheck = std::function<bool(const std::vector<char>&)>;
    // The frame, why it failed, the answer that was judged, the attempts left.
    using AttemptSignal =
        boost::signals2::signal<void(const std::vector<char>&, AttemptFailure, const std::vector<char>&, int)>;

    static constexpr char SOH = 0x01;
    static constexpr char STX = 0x02;
    static constexpr char EOT = 0x04;
    static constexpr char ACK = 0x06;
    static constexpr char NAK = 0x15;
    static constexpr char CRC_C = 0x43;
    static constexpr char SUB = 0x1A;
    static constexpr char HOST_WRITE = 0x34;

    Kd7v001YmodemControl() = default;
    Kd7v001YmodemControl(const Kd7v001YmodemControl&) = delete;
    Kd7v001YmodemControl& operator=(const Kd7v001YmodemControl&) = delete;
    virtual ~Kd7v001YmodemControl() = default;

    // Every pause of the engine goes through here, in steps of at most kPauseStepMs.
    virtual void Delay(DWORD milliseconds);
    // The millisecond tick that times the listening passes.
    virtual DWORD GetTick();

    static constexpr DWORD kPauseStepMs = 100;
    // A pause of the engine: Delay in steps, m_stopCheck asked before each. False when it asked to
    // stop, so a Cancel takes effect within a step whatever the pause.
    bool Pause(DWORD milliseconds);

    // Before any answer was timed, a frame is not sent again sooner than this after it went out.
    static constexpr DWORD kUntimedGuardMs = 1000;
    static constexpr DWORD kGuardFloorMs = 100;
    static constexpr DWORD kGuardMarginMs = 20;
    // The longest wait for quiet after a frame that went more than once, unless ten guards are longer.
    static constexpr DWORD kQuietLimitMs = 5000;
    // The least time between a frame going out and its next copy, or of quiet after a frame that
    // went more than once: the longest answer time of this run with room for its jitter, so two
    // copies' answers are never under way at once (an ACK carries no block number).
    DWORD ResendGuardMs() const;
    // The longest time from a frame leaving to the first byte of its answer, seen in this run.
    DWORD LongestAnswerMs() const { return m_longestAnswerMs; }

    static int MakeFileFrames(FrameTable& table, const std::vector<char>& data, const std::wstring& fileName);

    bool AcceptAnyAnswer(const std::vector<char>& answer) const;
    bool IsAnswerC(const std::vector<char>& answer) const;
    bool IsAckC(const std::vector<char>& answer) const;
    bool IsAck(const std::vector<char>& answer) const;
    bool IsNak(const std::vector<char>& answer) const;
    static bool IsMainMenu(const std::vector<char>& answer);

    int HostReadAnswer(ISerialPort* port, HANDLE hEvent, std::vector<char>& answer, DWORD budgetMs = kNoDeadline);
    bool HostWriteFrame(ISerialPort* port, const std::vector<char>& frame, int retries, int interval,
                        unsigned minAnswer, AnswerCheck check);
    bool HostListenUpdate(ISerialPort* port);

    bool HostSelectImage(ISerialPort* port, int image);
    int HostWriteFrames(ISerialPort* port, const FrameTable& table);
    bool HostWriteEnd(ISerialPort* port, const std::vector<char>& endBlock);
    bool HostWriteLocation(ISerialPort* port);
    // What the radio says of its own accord (its restart after the write command), for up to
    // waitMs: each piece goes to heard until it answers true. False when the time ran out or a
    // stop came; throws CSerialException when the port has gone.
    bool HostReadText(ISerialPort* port, DWORD waitMs, const std::function<bool(const std::vector<char>&)>& heard);

    bool HostWriteFrameAckC(ISerialPort* port, const std::vector<char>& frame);
    bool HostWriteFrameAck(ISerialPort* port, const std::vector<char>& frame);
    bool HostWriteFrameNak(ISerialPort* port, const std::vector<char>& frame);

    ProgressSignal m_sigWriteProgress;
    ProgressSignal m_sigListenProgress;
    ProgressSignal m_sigHostWriteProgress;
    TraceSignal m_sigListenTrace;
    TraceSignal m_sigAnswerTrace;
    // A frame about to go for the first time, the line ready for it.
    TraceSignal m_sigFrameStart;
    // Every failed attempt of a frame, after the pause in which its late answer could still come:
    // the frame goes again when attempts are left.
    AttemptSignal m_sigAttemptFailed;
    // Asked during every pause; true stops the operation under way, as a progress slot's stop does.
    std::function<bool()> m_stopCheck;
    // The logger the exchange failures go to, looked up at each message.
    std::string m_strLogger = kAppLoggerName;
    // Set when the write command had left the port and the line then failed (the radio restarting).
    bool m_lineClosedAfterWrite = false;
    // Set when the port took the write command and went away before it was seen to leave: the
    // radio may have it, or not. Only the radio's own word can tell.
    bool m_writeUnsure = false;

private:
    template <typename... Args> void LogError(int line, const char* text, Args&&... args);
    // A stop asked through m_stopCheck, remembered for the rest of the operation.
    bool StopAsked();
    // The budget of a wait of at most milliseconds (kNoDeadline: none), ended by a stop.
    WaitBudget Budget(DWORD milliseconds);
    static DWORD ReadBudget(DWORD milliseconds);
    void NoteAnswerTime(DWORD sentAt);
    // Before a frame's first attempt: what the line already holds is stale and dropped; after a
    // frame that went more than once the line must first stay quiet for ResendGuardMs.
    bool PrepareLine(ISerialPort* port, HANDLE hEvent, const std::vector<char>& frame);
    // The write command's drain: true once it has left the port, also when the port went away
    // as the drain ended, last seen with no byte waiting (a radio restarting on it). seen: what
    // the port last said, kept from one attempt to the next.
    bool DrainWrittenCommand(ISerialPort* port, const COMMTIMEOUTS& timeouts, OutputSeen& seen);
    bool SendWithSettings(ISerialPort* port, const std::vector<char>& frame, int defaultRetries, int defaultInterval,
                          unsigned minAnswer, AnswerCheck check);

    bool m_stopped = false;
    bool m_answerTimed = false;
    DWORD m_longestAnswerMs = 0;
    bool m_quietBeforeNext = false;
    bool m_unheardCopies = false; // a copy of the last frame went out and was never heard from
    DWORD m_unheardSpanMs = 0;    // from the first such copy to the frame's last copy
    DWORD m_lastSentAt = 0;
};
