#include "serial/posix/TermiosSerialPort.h"

#include "platform/Text.h"
#include "serial/OpenSettings.h"
#include "serial/SerialException.h"

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

namespace
{
constexpr ULONG_PTR kStatusTimeout = 0x102;
constexpr ULONG_PTR kStatusCancelled = 0xC0000120;
constexpr DWORD kNoWait = 0xFFFFFFFF;
const char* const kGone = "The device has gone (unplugged, or the other side closed)";

using Clock = std::chrono::steady_clock;

// Polls for events up to milliseconds (-1: for ever), again after an interruption with the time
// left. Returns the poll revents, 0 on time-out, -1 on error (errno set).
int WaitFor(int fd, short events, long long milliseconds)
{
    const auto until = Clock::now() + std::chrono::milliseconds(milliseconds < 0 ? 0 : milliseconds);
    for (;;)
    {
        int timeout = -1;
        if (milliseconds >= 0)
        {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now()).count();
            timeout = left <= 0 ? 0 : static_cast<int>(std::min<long long>(left, INT_MAX));
        }
        pollfd p{fd, events, 0};
        const int n = poll(&p, 1, timeout);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return -1;
        return n == 0 ? 0 : p.revents;
    }
}

bool IsGone(int err) { return err == EIO || err == ENXIO || err == ENODEV || err == EBADF || err == EPIPE; }

speed_t SpeedFor(DWORD baud, bool& ok)
{
    ok = true;
    switch (baud)
    {
    case 1200: return B1200;
    case 2400: return B2400;
    case 4800: return B4800;
    case 9600: return B9600;
    case 19200: return B19200;
    case 38400: return B38400;
    case 57600: return B57600;
    case 115200: return B115200;
    case 230400: return B230400;
    case 460800: return B460800;
    case 921600: return B921600;
    default: ok = false; return B0;
    }
}

std::string OpenErrorText(int err, const std::string& path)
{
    switch (err)
    {
    case EACCES:
    case EPERM: return "Permission denied on " + path + ": add your user to the dialout group";
    case ENOENT:
    case ENXIO:
    case ENODEV: return "No such device: " + path;
    case EBUSY: return "Port " + path + " is in use by another program";
    default: return "Cannot open " + path + ": " + std::strerror(err);
    }
}

DWORD OpenErrorCode(int err)
{
    switch (err)
    {
    case EACCES:
    case EPERM:
    case EBUSY: return ERROR_ACCESS_DENIED;
    case ENOENT:
    case ENXIO:
    case ENODEV: return ERROR_FILE_NOT_FOUND;
    case ENOTDIR: return ERROR_PATH_NOT_FOUND;
    default: return ERROR_GEN_FAILURE;
    }
}
} // namespace

CTermiosSerialPort::~CTermiosSerialPort() { Close(); }

void CTermiosSerialPort::RequireOpen() const
{
    if (m_fd < 0)
        throw CSerialException(ERROR_INVALID_HANDLE, "The port is not open");
}

BOOL CTermiosSerialPort::Fail(DWORD code)
{
    SetLastError(code);
    return FALSE;
}

BOOL CTermiosSerialPort::Open(int nPort, DWORD dwBaud, int parity, int dataBits, int stopBits, FlowControlMode flowCtl,
                              BOOL bOverlapped)
{
    const std::wstring name = L"/dev/ttyS" + std::to_wstring(nPort);
    return Open(name.c_str(), dwBaud, parity, dataBits, stopBits, flowCtl, bOverlapped);
}

BOOL CTermiosSerialPort::Open(const wchar_t* pszPort, DWORD dwBaud, int parity, int dataBits, int stopBits,
                              FlowControlMode flowCtl, BOOL)
{
    Close();
    const std::string path = WideToNarrow(pszPort != nullptr ? pszPort : L"");
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
    {
        const int err = errno;
        throw CSerialException(OpenErrorCode(err), OpenErrorText(err, path));
    }
    // Exclusive like a Windows COM port: the lock stops other programs of ours and of others
    // that lock, TIOCEXCL every other opener that is not root.
    if (flock(fd, LOCK_EX | LOCK_NB) != 0)
    {
        ::close(fd);
        throw CSerialException(ERROR_ACCESS_DENIED, "Port " + path + " is in use by another program");
    }
    termios tio{};
    if (tcgetattr(fd, &tio) != 0)
    {
        const int err = errno;
        ::close(fd);
        throw CSerialException(ERROR_NOT_SUPPORTED, path + " is not a serial port (" + std::strerror(err) + ")");
    }
    ioctl(fd, TIOCEXCL);
    m_fd = fd;
    m_path = path;

    DCB dcb{};
    dcb.DCBlength = sizeof(DCB);
    GetState(dcb);
    ApplyOpenSettings(dcb, dwBaud, parity, dataBits, stopBits, flowCtl);
    DWORD error = 0;
    std::string detail;
    if (!ApplyState(dcb, error, detail))
    {
        Close();
        throw CSerialException(error, detail);
    }
    return TRUE;
}

bool CTermiosSerialPort::ApplyState(const DCB& dcb, DWORD& error, std::string& detail)
{
    termios tio{};
    if (tcgetattr(m_fd, &tio) != 0)
    {
        error = ERROR_INVALID_HANDLE;
        detail = kGone;
        return false;
    }
    bool speedOk = false;
    const speed_t speed = SpeedFor(dcb.BaudRate, speedOk);
    if (!speedOk)
    {
        error = ERROR_INVALID_PARAMETER;
        detail = "Baud rate " + std::to_string(dcb.BaudRate) + " is not supported by " + m_path;
        return false;
    }
    cfmakeraw(&tio);
    cfsetispeed(&tio, speed);
    cfsetospeed(&tio, speed);
    tio.c_cflag |= CLOCAL | CREAD;
    tio.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS);
    switch (dcb.ByteSize)
    {
    case 5: tio.c_cflag |= CS5; break;
    case 6: tio.c_cflag |= CS6; break;
    case 7: tio.c_cflag |= CS7; break;
    case 8: tio.c_cflag |= CS8; break;
    default:
        error = ERROR_INVALID_PARAMETER;
        detail = std::to_string(dcb.ByteSize) + " data bits are not supported";
        return false;
    }
    switch (dcb.Parity)
    {
    case 1: tio.c_cflag |= PARENB | PARODD; break;
    case 2: tio.c_cflag |= PARENB; break;
    case 3: tio.c_cflag |= PARENB | PARODD | CMSPAR; break;
    case 4: tio.c_cflag |= PARENB | CMSPAR; break;
    default: break;
    }
    if (dcb.StopBits != 0)
        tio.c_cflag |= CSTOPB;
    if (dcb.fOutxCtsFlow)
        tio.c_cflag |= CRTSCTS;
    tio.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
    if (dcb.fOutX)
        tio.c_iflag |= IXON;
    if (dcb.fInX)
        tio.c_iflag |= IXOFF;
    tio.c_cc[VSTART] = static_cast<cc_t>(dcb.XonChar ? dcb.XonChar : 0x11);
    tio.c_cc[VSTOP] = static_cast<cc_t>(dcb.XoffChar ? dcb.XoffChar : 0x13);
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
    if (tcsetattr(m_fd, TCSANOW, &tio) != 0)
    {
        const int err = errno;
        error = IsGone(err) ? ERROR_INVALID_HANDLE : ERROR_INVALID_PARAMETER;
        detail = m_path + " does not accept the line settings (" + std::strerror(err) + ")";
        return false;
    }
    m_dcb = dcb;
    return true;
}

BOOL CTermiosSerialPort::GetTimeouts(COMMTIMEOUTS& timeouts)
{
    RequireOpen();
    timeouts = m_timeouts;
    return TRUE;
}

BOOL CTermiosSerialPort::SetTimeouts(COMMTIMEOUTS& timeouts)
{
    RequireOpen();
    m_timeouts = timeouts;
    return TRUE;
}

// A request completes at once when it can; otherwise it is kept, and GetOverlappedResult or
// WaitOverlappedResult carry it on, as the driver does for an overlapped request on Windows.
BOOL CTermiosSerialPort::Write(const void* lpBuf, DWORD dwCount, OVERLAPPED& overlapped, DWORD* lpNumberOfBytesWritten)
{
    RequireOpen();
    Request request;
    request.active = true;
    request.write = true;
    request.out = static_cast<const char*>(lpBuf);
    request.count = dwCount;
    request.overlapped = &overlapped;
    const unsigned long long total = m_timeouts.WriteTotalTimeoutConstant +
                                     static_cast<unsigned long long>(m_timeouts.WriteTotalTimeoutMultiplier) * dwCount;
    request.endless = total == 0;
    request.deadline = Clock::now() + std::chrono::milliseconds(total);
    const bool done = Advance(request);
    if (lpNumberOfBytesWritten != nullptr)
        *lpNumberOfBytesWritten = request.done;
    if (done)
    {
        Complete(request, false);
        return TRUE;
    }
    m_request = request;
    throw CSerialException(ERROR_IO_PENDING);
}

BOOL CTermiosSerialPort::Read(void* lpBuf, DWORD dwCount, OVERLAPPED& overlapped, DWORD* lpNumberOfBytesRead)
{
    if (m_fd < 0)
        return Fail(ERROR_INVALID_HANDLE);
    Request request;
    request.active = true;
    request.in = static_cast<char*>(lpBuf);
    request.count = dwCount;
    request.overlapped = &overlapped;
    const unsigned long long total = m_timeouts.ReadTotalTimeoutConstant +
                                     static_cast<unsigned long long>(m_timeouts.ReadTotalTimeoutMultiplier) * dwCount;
    // All-zero time-outs wait for ever; MAXDWORD as the interval with zero totals returns at once.
    const bool noWait = m_timeouts.ReadIntervalTimeout == kNoWait && total == 0;
    request.endless = total == 0 && !noWait;
    request.deadline = Clock::now() + std::chrono::milliseconds(total);
    try
    {
        if (Advance(request) || noWait)
        {
            Complete(request, request.done < request.count);
            if (lpNumberOfBytesRead != nullptr)
                *lpNumberOfBytesRead = request.done;
            return TRUE;
        }
    }
    catch (const CSerialException& e)
    {
        return Fail(e.m_dwError);
    }
    m_request = request;
    SetLastError(ERROR_IO_PENDING);
    return FALSE;
}

bool CTermiosSerialPort::Advance(Request& request)
{
    while (request.done < request.count)
    {
        const DWORD left = request.count - request.done;
        const ssize_t n = request.write ? ::write(m_fd, request.out + request.done, left)
                                        : ::read(m_fd, request.in + request.done, left);
        if (n > 0)
        {
            request.done += static_cast<DWORD>(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        // With VMIN and VTIME 0 an empty line reads as 0 bytes; a gone one fails, or hangs up
        // (the wait's poll tells).
        if (n == 0 || errno == EAGAIN)
            return false;
        const int err = errno;
        throw CSerialException(IsGone(err) ? ERROR_INVALID_HANDLE : ERROR_GEN_FAILURE,
                               IsGone(err) ? kGone : std::strerror(err));
    }
    return true;
}

bool CTermiosSerialPort::WaitRequest(Request& request, long long milliseconds)
{
    const auto sliceEnd = Clock::now() + std::chrono::milliseconds(milliseconds < 0 ? 0 : milliseconds);
    for (;;)
    {
        if (Advance(request))
        {
            Complete(request, false);
            return true;
        }
        const auto now = Clock::now();
        if (!request.endless && now >= request.deadline)
        {
            Complete(request, true);
            return true;
        }
        long long wait = -1;
        if (!request.endless)
            wait = std::chrono::duration_cast<std::chrono::milliseconds>(request.deadline - now).count() + 1;
        if (milliseconds >= 0)
        {
            const long long slice = std::chrono::duration_cast<std::chrono::milliseconds>(sliceEnd - now).count();
            if (slice <= 0)
                return false;
            wait = wait < 0 ? slice : std::min(wait, slice);
        }
        const int revents = WaitFor(m_fd, request.write ? POLLOUT : POLLIN, wait);
        if (revents < 0 || (revents & POLLNVAL))
            throw CSerialException(ERROR_INVALID_HANDLE, kGone);
        // Bytes that came before a hang-up are still read; with none the line has gone.
        if ((revents & (POLLHUP | POLLERR)) && (request.write || !Advance(request)))
            throw CSerialException(ERROR_INVALID_HANDLE, kGone);
    }
}

void CTermiosSerialPort::Complete(Request& request, bool timedOut)
{
    request.overlapped->Internal = timedOut ? kStatusTimeout : 0;
    request.overlapped->InternalHigh = request.done;
    request.active = false;
}

BOOL CTermiosSerialPort::GetOverlappedResult(OVERLAPPED& overlapped, DWORD& dwBytesTransferred, BOOL bWait)
{
    RequireOpen();
    if (m_request.active && m_request.overlapped == &overlapped)
    {
        try
        {
            if (!WaitRequest(m_request, bWait ? -1 : 0))
                throw CSerialException(ERROR_IO_INCOMPLETE);
        }
        catch (...)
        {
            m_request.active = false;
            throw;
        }
    }
    if (overlapped.Internal == kStatusCancelled)
        throw CSerialException(ERROR_OPERATION_ABORTED);
    dwBytesTransferred = static_cast<DWORD>(overlapped.InternalHigh);
    return TRUE;
}

BOOL CTermiosSerialPort::WaitOverlappedResult(OVERLAPPED& overlapped, DWORD& dwBytesTransferred, DWORD dwMilliseconds)
{
    RequireOpen();
    if (m_request.active && m_request.overlapped == &overlapped)
    {
        try
        {
            if (!WaitRequest(m_request, dwMilliseconds))
            {
                SetLastError(WAIT_TIMEOUT);
                return FALSE;
            }
        }
        catch (...)
        {
            m_request.active = false;
            throw;
        }
    }
    return GetOverlappedResult(overlapped, dwBytesTransferred, FALSE);
}

BOOL CTermiosSerialPort::CancelIo(OVERLAPPED& overlapped)
{
    RequireOpen();
    if (m_request.active && m_request.overlapped == &overlapped)
    {
        overlapped.Internal = kStatusCancelled;
        overlapped.InternalHigh = m_request.done;
        m_request.active = false;
    }
    return TRUE;
}

BOOL CTermiosSerialPort::Flush()
{
    RequireOpen();
    // Until the driver holds nothing more to send, within the write time-out, then the last
    // bytes out of the line's own buffer.
    const auto deadline = Clock::now() + std::chrono::milliseconds(m_timeouts.WriteTotalTimeoutConstant);
    for (;;)
    {
        int queued = 0;
        if (ioctl(m_fd, TIOCOUTQ, &queued) != 0)
            throw CSerialException(ERROR_INVALID_HANDLE, kGone);
        if (queued == 0)
            break;
        if (m_timeouts.WriteTotalTimeoutConstant != 0 && Clock::now() >= deadline)
            throw CSerialException(ERROR_SEM_TIMEOUT, m_path + ": the bytes written did not leave the port");
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    if (tcdrain(m_fd) != 0 && IsGone(errno))
        throw CSerialException(ERROR_INVALID_HANDLE, kGone);
    return TRUE;
}

BOOL CTermiosSerialPort::GetStatus(COMSTAT& stat)
{
    RequireOpen();
    int in = 0;
    int out = 0;
    if (ioctl(m_fd, FIONREAD, &in) != 0)
        throw CSerialException(ERROR_INVALID_HANDLE, kGone);
    if (ioctl(m_fd, TIOCOUTQ, &out) != 0)
        out = 0;
    stat.cbInQue = static_cast<DWORD>(in);
    stat.cbOutQue = static_cast<DWORD>(out);
    return TRUE;
}

std::wstring CTermiosSerialPort::GetDevicePath() { return m_fd < 0 ? std::wstring() : NarrowToWide(m_path); }

BOOL CTermiosSerialPort::Setup(DWORD, DWORD)
{
    RequireOpen(); // the tty layer sizes its own queues
    return TRUE;
}

BOOL CTermiosSerialPort::ClearError(DWORD& dwErrors)
{
    RequireOpen();
    dwErrors = 0;
    return TRUE;
}

BOOL CTermiosSerialPort::ClearError(DWORD)
{
    RequireOpen();
    return TRUE;
}

BOOL CTermiosSerialPort::SetState(DCB& dcb)
{
    if (m_fd < 0)
        return Fail(ERROR_INVALID_HANDLE);
    DWORD error = 0;
    std::string detail;
    if (!ApplyState(dcb, error, detail))
        return Fail(error);
    return TRUE;
}

BOOL CTermiosSerialPort::GetState(DCB& dcb)
{
    if (m_fd < 0)
        return Fail(ERROR_INVALID_HANDLE);
    termios tio{};
    if (tcgetattr(m_fd, &tio) != 0)
        return Fail(ERROR_INVALID_HANDLE);
    DCB state = m_dcb;
    state.DCBlength = sizeof(DCB);
    if (state.BaudRate == 0)
    {
        state.BaudRate = 9600;
        state.ByteSize = 8;
        state.fBinary = 1;
    }
    dcb = state;
    return TRUE;
}

void CTermiosSerialPort::Close()
{
    if (m_fd < 0)
        return;
    ::close(m_fd); // the lock goes with the descriptor
    m_fd = -1;
    m_request = Request{};
    m_path.clear();
    m_dcb = DCB{};
}
