// A scripted ISerialPort: each written frame goes to a responder (by default the strict radio
// receiver), whose answers become readable in pieces. Port-level faults are switches.
#pragma once

#include "serial/ISerialPort.h"
#include "serial/SerialException.h"
#include "sim/RadioReceiver.h"

#include <deque>
#include <functional>
#include <vector>

class CFakeRadioPort : public ISerialPort
{
public:
    using Responder = std::function<std::vector<RadioAnswer>(const std::vector<char>&)>;

    explicit CFakeRadioPort(RadioFaults faults = {}) : m_radio(faults)
    {
        m_responder = [this](const std::vector<char>& frame) { return m_radio.Feed(frame.data(), frame.size()); };
        m_timeouts.ReadTotalTimeoutConstant = 1000;
        m_timeouts.WriteTotalTimeoutConstant = 1000;
    }
    // Tests derive from it and hold it in shared pointers.
    virtual ~CFakeRadioPort() = default;

    // Bytes the radio sends unasked (the menu); each call is one piece.
    void Push(const std::vector<char>& piece) { m_pieces.push_back(piece); }
    void Push(const std::string& text) { Push(std::vector<char>(text.begin(), text.end())); }

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
        if (m_writeFailures > 0)
        {
            --m_writeFailures;
            throw CSerialException(ERROR_GEN_FAILURE);
        }
        m_timeoutsSinceWrite = 0;
        const auto* bytes = static_cast<const char*>(buffer);
        std::vector<char> frame(bytes, bytes + count);
        m_written.push_back(frame);
        for (auto& answer : m_responder(frame))
        {
            if (answer.vanish)
                m_vanished = true;
            for (auto& piece : answer.pieces)
            {
                if (m_lateAnswers)
                    m_late.push_back(piece);
                else
                    m_pieces.push_back(piece);
            }
        }
        if (m_pendingWrites)
        {
            overlapped.Internal = 0;
            m_lastWriteCount = count - (m_shortWrites ? 1u : 0u);
            throw CSerialException(ERROR_IO_PENDING);
        }
        return TRUE;
    }
    BOOL GetOverlappedResult(OVERLAPPED& overlapped, DWORD& transferred, BOOL) override
    {
        ++m_overlappedCalls;
        if (m_failOverlapped)
            throw CSerialException(ERROR_GEN_FAILURE);
        if (m_readPending)
        {
            m_readPending = false;
            if (m_current.empty())
            {
                // A late radio answers after both reads of an attempt: the bytes wait in the queue.
                if (++m_timeoutsSinceWrite >= 2)
                {
                    for (auto& piece : m_late)
                        m_current.insert(m_current.end(), piece.begin(), piece.end());
                    m_late.clear();
                }
                ++m_timeoutsSeen;
                if (m_wineTimeouts)
                    throw CSerialException(ERROR_TIMEOUT);
                overlapped.Internal = 0x102;
                transferred = 0;
                return TRUE;
            }
            *m_readTarget = m_current.front();
            m_current.pop_front();
            overlapped.Internal = 0;
            transferred = 1;
            return TRUE;
        }
        if (m_wineTimeouts && m_shortWrites)
            throw CSerialException(ERROR_TIMEOUT);
        transferred = m_lastWriteCount;
        return TRUE;
    }
    BOOL GetStatus(COMSTAT& stat) override
    {
        if (m_failStatus)
            throw CSerialException(ERROR_GEN_FAILURE);
        stat.cbInQue = static_cast<DWORD>(m_current.size());
        return TRUE;
    }
    BOOL Read(void* buffer, DWORD, OVERLAPPED& overlapped, DWORD*) override
    {
        ++m_readCalls;
        if (m_vanished)
        {
            SetLastError(m_vanishCode);
            return FALSE;
        }
        if (m_emptyCompletions)
        {
            overlapped.InternalHigh = 0;
            return TRUE;
        }
        if (m_readErrors > 0)
        {
            --m_readErrors;
            SetLastError(ERROR_GEN_FAILURE);
            return FALSE;
        }
        if (m_current.empty())
        {
            // The first byte of a piece arrives while the request waits; the rest is queued.
            if (!m_pieces.empty())
            {
                m_current.assign(m_pieces.front().begin(), m_pieces.front().end());
                m_pieces.pop_front();
            }
            m_readPending = true;
            m_readTarget = static_cast<char*>(buffer);
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

    CRadioReceiver m_radio;
    Responder m_responder;
    COMMTIMEOUTS m_timeouts{};
    std::vector<std::vector<char>> m_written;
    std::deque<std::vector<char>> m_pieces;
    std::deque<char> m_current;
    int m_writeFailures = 0;
    int m_readErrors = 0;
    bool m_pendingWrites = false;
    bool m_shortWrites = false;
    bool m_wineTimeouts = false;
    bool m_failGetTimeouts = false;
    bool m_failOverlapped = false;
    bool m_failStatus = false;
    bool m_vanished = false;
    DWORD m_vanishCode = ERROR_ACCESS_DENIED;
    bool m_lateAnswers = false;      // every answer arrives only after the next frame's wait
    bool m_emptyCompletions = false; // reads complete at once with no byte, as Windows with zero time-outs
    int m_writeCalls = 0;
    int m_overlappedCalls = 0;
    int m_readCalls = 0;
    int m_timeoutsSeen = 0;
    int m_closeCalls = 0;

private:
    std::vector<std::vector<char>> m_late;
    int m_timeoutsSinceWrite = 0;
    bool m_readPending = false;
    char* m_readTarget = nullptr;
    DWORD m_lastWriteCount = 0;
};
