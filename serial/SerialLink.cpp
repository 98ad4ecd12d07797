#include "serial/SerialLink.h"

#include "serial/SerialException.h"

bool WriteSerialFrame(ISerialPort* port, HANDLE hEvent, const std::vector<char>& frame)
{
    OVERLAPPED ov{};
    ResetEvent(hEvent);
    ov.hEvent = hEvent;
    const auto size = static_cast<DWORD>(frame.size());
    try
    {
        port->Write(frame.data(), size, ov, nullptr);
        return true;
    }
    catch (const CSerialException& e)
    {
        if (e.m_dwError != ERROR_IO_PENDING)
            return false;
    }
    DWORD written = 0;
    try
    {
        port->GetOverlappedResult(ov, written, TRUE);
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

int ReadSerialAvailable(ISerialPort* port, HANDLE hEvent, std::vector<char>& out)
{
    std::vector<char> buffer;
    int count = 0;
    for (;;)
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
                port->GetOverlappedResult(ov, got, TRUE);
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
    return count;
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
