// A scripted ISerialPort on the tests' clock: each written frame goes to a responder (by default
// the strict radio receiver), whose answers arrive after a delay, in pieces, or not at all. A read
// that waits moves the clock to the next byte or to its time-out, as the engine's pauses do, so a
// slow radio costs no real time. Port-level faults are switches.
#pragma once

#include "serial/ISerialPort.h"
#include "serial/SerialException.h"
#include "sim/RadioReceiver.h"

#include "TestSupport.h"

#include <deque>
#include <algorithm>
#include <functional>
#include <iterator>
#include <random>
#include <vector>

class CFakeRadioPort : public ISerialPort
{
public:
    static constexpr char kMenu[] = "\r\n  Main Menu\r\n  1 application image\r\n";
    using Responder = std::function<std::vector<RadioAnswer>(const std::vector<char>&)>;
    // Milliseconds from a frame's write to its answer.
    using Delay = std::function<DWORD(const std::vector<char>&)>;

    explicit CFakeRadioPort(RadioFaults faults = {}) : m_radio(faults), m_rng(faults.seed)
    {
        m_responder = [this](const std::vector<char>& frame) { return m_radio.Feed(frame.data(), frame.size()); };
        m_timeouts.ReadTotalTimeoutConstant = 1000;
        m_timeouts.WriteTotalTimeoutConstant = 1000;
    }
    // Tests derive from it and hold it in shared pointers.
    virtual ~CFakeRadioPort() = default;

    // Bytes the radio sends unasked (the menu), arriving after afterMs; each call is one piece.
    void Push(const std::vector<char>& piece, DWORD afterMs = 0) { Schedule(g_testTick + afterMs, piece); }
    void Push(const std::string& text, DWORD afterMs = 0)
    {
        Push(std::vector<char>(text.begin(), text.end()), afterMs);
    }

    BOOL Open(int, DWORD, int, int, int, FlowControlMode, BOOL) override { return TRUE; }
    BOOL Open(const wchar_t*, DWORD, int, int, int, FlowControlMode, BOOL) override { return TRUE; }
    BOOL GetTimeouts(COMMTIMEOUTS& timeouts) override
    {
        if (m_failGetTimeouts)
            throw CSerialException(ERROR_INVALID_HANDLE);
        timeouts = m_timeouts;
        return TRUE;
    }
    BOOL SetTimeouts(COMMTIMEOUTS& timeouts) override
    {
        m_timeouts = timeouts;
        return TRUE;
    }
    BOOL Write(const void* buffer, DWORD count, OVERLAPPED& overlapped, DWORD*) override
    {
        ++m_writeCalls;
        CheckGone();
        if (m_writeFailures > 0)
        {
            --m_writeFailures;
            throw CSerialException(ERROR_GEN_FAILURE);
        }
        const auto* bytes = static_cast<const char*>(buffer);
        std::vector<char> frame(bytes, bytes + count);
        if (m_stuckWrites)
            return Pending(overlapped, count); // nothing reaches the radio
        m_written.push_back(frame);
        m_writeTimes.push_back(g_testTick);
        DWORD at = g_testTick + (m_delay ? m_delay(frame) : 0);
        for (auto& answer : m_responder(frame))
        {
            if (answer.vanish)
                m_vanished = true;
            if (m_lossRate > 0 && std::uniform_real_distribution<double>(0, 1)(m_rng) < m_lossRate)
                continue; // lost on the line
            if (answer.menu)
                Schedule(at, std::vector<char>(kMenu, kMenu + sizeof kMenu - 1));
            for (auto& piece : answer.pieces)
            {
                Schedule(at + static_cast<DWORD>(answer.afterMs), piece);
                at += m_splitGapMs;
            }
        }
        if (m_pendingWrites)
            return Pending(overlapped, count);
        if (m_outQueueMs > 0)
            m_outQueueUntil = g_testTick + m_outQueueMs;
        overlapped.InternalHigh = count;
        return TRUE;
    }
    BOOL GetOverlappedResult(OVERLAPPED& overlapped, DWORD& transferred, BOOL) override
    {
        ++m_overlappedCalls;
        if (m_cancelled)
        {
            m_cancelled = false;
            throw CSerialException(ERROR_OPERATION_ABORTED);
        }
        while (!WaitOverlappedResult(overlapped, transferred, 1000))
        {
        }
        return TRUE;
    }
    BOOL GetStatus(COMSTAT& stat) override
    {
        CheckGone();
        if (m_failStatus)
            throw CSerialException(ERROR_GEN_FAILURE);
        Arrive();
        stat.cbInQue = static_cast<DWORD>(m_current.size());
        stat.cbOutQue = g_testTick < m_outQueueUntil ? 1 : 0;
        if (stat.cbOutQue > 0)
            g_testTick += 2; // the driver is still sending
        return TRUE;
    }
    BOOL Read(void* buffer, DWORD, OVERLAPPED& overlapped, DWORD*) override
    {
        ++m_readCalls;
        if (Gone())
        {
            SetLastError(m_vanishCode);
            return FALSE;
        }
        if (m_emptyCompletions)
        {
            ++g_testTick; // even a read that returns at once takes a moment
            overlapped.InternalHigh = 0;
            return TRUE;
        }
        if (m_readErrors > 0)
        {
            --m_readErrors;
            SetLastError(ERROR_GEN_FAILURE);
            return FALSE;
        }
        Arrive();
        if (m_current.empty())
        {
            m_readPending = true;
            m_readTarget = static_cast<char*>(buffer);
            // Time-outs of zero wait for ever, as on Windows.
            m_readDeadline =
                m_timeouts.ReadTotalTimeoutConstant == 0 ? ~DWORD{0} : g_testTick + m_timeouts.ReadTotalTimeoutConstant;
            SetLastError(ERROR_IO_PENDING);
            return FALSE;
        }
        *static_cast<char*>(buffer) = m_current.front();
        m_current.pop_front();
        overlapped.InternalHigh = 1;
        return TRUE;
    }
    std::wstring GetDevicePath() override { return {}; }
    BOOL Setup(DWORD, DWORD) override { return TRUE; }
    BOOL ClearError(DWORD& errors) override
    {
        errors = 0;
        return TRUE;
    }
    BOOL ClearError(DWORD) override { return TRUE; }
    BOOL SetState(DCB&) override { return TRUE; }
    BOOL GetState(DCB&) override { return TRUE; }
    void Close() override { ++m_closeCalls; }
    BOOL WaitOverlappedResult(OVERLAPPED& overlapped, DWORD& transferred, DWORD milliseconds) override
    {
        if (m_failOverlapped)
            throw CSerialException(ERROR_GEN_FAILURE);
        const DWORD sliceEnd = g_testTick + milliseconds;
        if (m_writePending)
        {
            if (m_stuckWrites && sliceEnd < m_writeDeadline)
            {
                g_testTick = sliceEnd;
                SetLastError(WAIT_TIMEOUT);
                return FALSE;
            }
            if (m_stuckWrites)
                g_testTick = m_writeDeadline;
            m_writePending = false;
            if (m_wineTimeouts && (m_shortWrites || m_stuckWrites))
                throw CSerialException(ERROR_TIMEOUT);
            transferred = m_stuckWrites ? 0 : m_lastWriteCount;
            return TRUE;
        }
        if (!m_readPending)
        {
            transferred = static_cast<DWORD>(overlapped.InternalHigh);
            return TRUE;
        }
        // The next byte, the read's own time-out or the end of this slice, whichever comes first.
        const DWORD next = m_incoming.empty() ? sliceEnd : m_incoming.front().at;
        if (m_vanishAt != 0 && m_vanishAt <= std::min({next, sliceEnd, m_readDeadline}))
        {
            g_testTick = std::max(g_testTick.load(), m_vanishAt);
            m_readPending = false;
            throw CSerialException(ERROR_INVALID_HANDLE);
        }
        if (!m_incoming.empty() && next <= sliceEnd && next <= m_readDeadline)
        {
            g_testTick = std::max(g_testTick.load(), next);
            Arrive();
            m_readPending = false;
            *m_readTarget = m_current.front();
            m_current.pop_front();
            overlapped.Internal = 0;
            transferred = 1;
            return TRUE;
        }
        if (m_readDeadline <= sliceEnd)
        {
            g_testTick = std::max(g_testTick.load(), m_readDeadline);
            m_readPending = false;
            ++m_timeoutsSeen;
            if (m_wineTimeouts)
                throw CSerialException(ERROR_TIMEOUT);
            overlapped.Internal = 0x102;
            transferred = 0;
            return TRUE;
        }
        g_testTick = sliceEnd;
        SetLastError(WAIT_TIMEOUT);
        return FALSE;
    }
    BOOL CancelIo(OVERLAPPED&) override
    {
        if (m_readPending || m_writePending)
            m_cancelled = true;
        m_readPending = m_writePending = false;
        return TRUE;
    }
    BOOL Flush() override
    {
        ++m_flushCalls;
        m_vanished = m_vanished || m_goneAtFlush;
        CheckGone();
        if (m_failFlush)
            throw CSerialException(ERROR_GEN_FAILURE);
        return TRUE;
    }

    CRadioReceiver m_radio;
    Responder m_responder;
    Delay m_delay;           // none: answers arrive at once
    double m_lossRate = 0;   // share of answers lost on the line
    DWORD m_splitGapMs = 30; // between the pieces of one answer
    COMMTIMEOUTS m_timeouts{};
    std::vector<std::vector<char>> m_written;
    std::vector<DWORD> m_writeTimes; // on the clock, one per frame written
    std::deque<char> m_current;      // arrived, waiting to be read
    int m_writeFailures = 0;
    int m_readErrors = 0;
    bool m_pendingWrites = false;
    bool m_shortWrites = false;
    bool m_stuckWrites = false; // writes that never go out: ended by the write time-out
    bool m_wineTimeouts = false;
    bool m_failGetTimeouts = false;
    bool m_failOverlapped = false;
    bool m_failStatus = false;
    bool m_vanished = false;
    DWORD m_outQueueMs = 0;     // a write waits this long in the driver
    bool m_goneAtFlush = false; // the port vanishes as the last byte leaves it
    bool m_failFlush = false;   // the drain fails on a port still there
    DWORD m_vanishAt = 0;       // on the clock; 0: never
    DWORD m_vanishCode = ERROR_ACCESS_DENIED;
    bool m_emptyCompletions = false; // reads complete at once with no byte, as Windows with zero time-outs
    bool m_cancelled = false;
    int m_writeCalls = 0;
    int m_overlappedCalls = 0;
    int m_readCalls = 0;
    int m_timeoutsSeen = 0;
    int m_closeCalls = 0;
    int m_flushCalls = 0;

private:
    struct Arrival
    {
        DWORD at;
        std::vector<char> bytes;
    };

    BOOL Pending(OVERLAPPED& overlapped, DWORD count)
    {
        overlapped.Internal = 0;
        m_lastWriteCount = count - (m_shortWrites ? 1u : 0u);
        m_writePending = true;
        m_writeDeadline = g_testTick + m_timeouts.WriteTotalTimeoutConstant;
        throw CSerialException(ERROR_IO_PENDING);
    }
    bool Gone()
    {
        if (m_vanishAt != 0 && g_testTick >= m_vanishAt)
            m_vanished = true;
        return m_vanished;
    }
    void CheckGone()
    {
        if (Gone())
            throw CSerialException(ERROR_INVALID_HANDLE);
    }
    void Schedule(DWORD at, const std::vector<char>& bytes)
    {
        auto it = m_incoming.end();
        while (it != m_incoming.begin() && std::prev(it)->at > at)
            --it;
        m_incoming.insert(it, Arrival{at, bytes});
    }
    // Moves what has arrived by now into the driver's queue, in order.
    void Arrive()
    {
        while (!m_incoming.empty() && m_incoming.front().at <= g_testTick)
        {
            m_current.insert(m_current.end(), m_incoming.front().bytes.begin(), m_incoming.front().bytes.end());
            m_incoming.pop_front();
        }
    }

    std::mt19937 m_rng;
    std::deque<Arrival> m_incoming;
    DWORD m_outQueueUntil = 0;
    bool m_readPending = false;
    DWORD m_readDeadline = 0;
    char* m_readTarget = nullptr;
    bool m_writePending = false;
    DWORD m_writeDeadline = 0;
    DWORD m_lastWriteCount = 0;
};
