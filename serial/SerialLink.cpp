#include "serial/SerialLink.h"

#include "serial/SerialException.h"

#include <algorithm>

namespace
{
// Waits for a pending request in slices while the budget lasts: true when it completed (count
// set), false when the budget ended it, the request cancelled and collected.
bool WaitRequest(ISerialPort* port, OVERLAPPED& ov, DWORD& count, const WaitBudget& budget)
{
    if (!budget)
        return port->GetOverlappedResult(ov, count, TRUE) != FALSE;
    for (;;)
    {
        const DWORD left = budget();
        if (left == 0)
        {
            try
            {
                port->CancelIo(ov);
            }
            catch (const CSerialException&)
            {
                // Collected all the same below: a request never outlives its buffer.
            }
            try
            {
                // It may have completed before the cancel reached it: then its bytes count.
                port->GetOverlappedResult(ov, count, TRUE);
                return true;
            }
            catch (const CSerialException& e)
            {
                if (e.m_dwError != ERROR_OPERATION_ABORTED)
                    throw;
                return false;
            }
        }
        if (port->WaitOverlappedResult(ov, count, std::min(left, kWaitSliceMs)))
            return true;
    }
}
} // namespace

bool WriteSerialFrame(ISerialPort* port, HANDLE hEvent, const std::vector<char>& frame, const WaitBudget& budget)
{
    OVERLAPPED ov{};
    ResetEvent(hEvent);
    ov.hEvent = hEvent;
    const auto size = static_cast<DWORD>(frame.size());
    try
    {
        port->Write(frame.data(), size, ov, nullptr);
        return ov.InternalHigh == size;
    }
    catch (const CSerialException& e)
    {
        if (e.m_dwError != ERROR_IO_PENDING)
            return false;
    }
    DWORD written = 0;
    try
    {
        if (!WaitRequest(port, ov, written, budget))
            return false;
    }
    catch (const CSerialException& e)
    {
        // Wine ends a write cut short by the time-out with ERROR_TIMEOUT where Windows reports a
        // short count: both are a write that failed, to be tried again.
        if (e.m_dwError != ERROR_TIMEOUT)
            throw;
        written = 0;
    }
    if (written == size)
        return true;
    COMSTAT stat{};
    port->GetStatus(stat);
    return false;
}

int ReadSerialAvailable(ISerialPort* port, HANDLE hEvent, std::vector<char>& out, const WaitBudget& budget,
                        std::size_t maxBytes)
{
    std::vector<char> buffer;
    int count = 0;
    bool stopped = false;
    while (static_cast<std::size_t>(count) < maxBytes)
    {
        OVERLAPPED ov{};
        ResetEvent(hEvent);
        ov.hEvent = hEvent;
        COMSTAT stat{};
        buffer.push_back('\x25');
        if (port->Read(&buffer[static_cast<std::size_t>(count)], 1, ov, nullptr))
        {
            // Windows completes a read with no byte at once when its time-outs say so.
            if (ov.InternalHigh == 0)
                break;
        }
        else
        {
            const DWORD error = GetLastError();
            if (error == ERROR_ACCESS_DENIED || error == ERROR_INVALID_HANDLE)
                throw CSerialException(error);
            if (error != ERROR_IO_PENDING)
                return -1;
            DWORD got = 0;
            try
            {
                if (!WaitRequest(port, ov, got, budget))
                {
                    stopped = true;
                    break;
                }
            }
            catch (const CSerialException& e)
            {
                // Wine reports a read time-out as a failure with ERROR_TIMEOUT where Windows
                // completes the request with no byte; both mean the radio said nothing.
                if (e.m_dwError == ERROR_TIMEOUT)
                    break;
                throw;
            }
            // A time-out after earlier bytes keeps them: they are the radio's answer.
            if (ov.Internal != 0 || got == 0)
                break;
        }
        ++count;
        port->GetStatus(stat);
        if (stat.cbInQue == 0)
            break;
    }
    out.insert(out.end(), buffer.begin(), buffer.begin() + count);
    return stopped && count == 0 ? kReadStopped : count;
}

bool DrainSerialOutput(ISerialPort* port, DWORD timeoutMs, const WaitBudget& budget, OutputSeen* seen)
{
    const DWORD start = GetTickCount();
    for (bool last = false;; Sleep(2))
    {
        COMSTAT stat{};
        port->GetStatus(stat);
        if (seen)
            *seen = stat.cbOutQue > 0 ? OutputSeen::Waiting : OutputSeen::Empty;
        if (stat.cbOutQue == 0)
            return port->Flush() != FALSE;
        if (last)
            return false;
        // Out of time: one more look, so bytes that left meanwhile count as gone out. A queue of
        // 2048 bytes leaves a 115200-baud line in under a fifth of a second.
        last = (timeoutMs != 0 && GetTickCount() - start >= timeoutMs) || (budget && budget() == 0);
    }
}

int DiscardSerialInput(ISerialPort* port, HANDLE hEvent)
{
    int dropped = 0;
    COMSTAT stat{};
    port->GetStatus(stat);
    // A radio that talks without pause cannot keep this going for ever.
    for (int round = 0; stat.cbInQue > 0 && round < 16; ++round)
    {
        std::vector<char> stale;
        const int n = ReadSerialAvailable(port, hEvent, stale);
        if (n <= 0)
            break;
        dropped += n;
        stat = COMSTAT{};
        port->GetStatus(stat);
    }
    return dropped;
}
