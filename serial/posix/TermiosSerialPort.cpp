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
#include <unistd.h>

namespace
{
constexpr ULONG_PTR kStatusTimeout = 0x102;
constexpr DWORD kNoWait = 0xFFFFFFFF;
const char* const kGone = "The device has gone (unplugged, or the other side closed)";

using Clock = std::chrono::steady_clock;

struct Deadline
{
    bool infinite = false;
    Clock::time_point at;
};

Deadline MakeDeadline(DWORD constant, DWORD multiplier, DWORD count, bool allZeroWaitsForever)
{
    Deadline d;
    const unsigned long long total = constant + static_cast<unsigned long long>(multiplier) * count;
    if (total == 0 && allZeroWaitsForever)
        d.infinite = true;
    d.at = Clock::now() + std::chrono::milliseconds(total);
    return d;
}

// Waits for the events or the deadline; the time left is recomputed after each interruption.
// Returns the poll revents, 0 on time-out, -1 on error (errno set).
int WaitFor(int fd, short events, const Deadline& deadline)
{
    for (;;)
    {
        int timeout = -1;
        if (!deadline.infinite)
        {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline.at - Clock::now());
            timeout = left.count() <= 0 ? 0 : static_cast<int>(std::min<long long>(left.count(), INT_MAX));
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

BOOL CTermiosSerialPort::Write(const void* lpBuf, DWORD dwCount, OVERLAPPED& overlapped, DWORD* lpNumberOfBytesWritten)
{
    RequireOpen();
    const auto* bytes = static_cast<const char*>(lpBuf);
    DWORD done = 0;
    bool waited = false;
    const Deadline deadline =
        MakeDeadline(m_timeouts.WriteTotalTimeoutConstant, m_timeouts.WriteTotalTimeoutMultiplier, dwCount, true);
    while (done < dwCount)
    {
        const ssize_t n = ::write(m_fd, bytes + done, dwCount - done);
        if (n > 0)
        {
            done += static_cast<DWORD>(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno != EAGAIN)
        {
            const int err = errno;
            throw CSerialException(IsGone(err) ? ERROR_INVALID_HANDLE : ERROR_GEN_FAILURE,
                                   IsGone(err) ? kGone : std::strerror(err));
        }
        waited = true;
        const int revents = WaitFor(m_fd, POLLOUT, deadline);
        if (revents == 0)
            break; // the write time-out cut it short
        if (revents < 0 || (revents & (POLLHUP | POLLERR | POLLNVAL)))
            throw CSerialException(ERROR_INVALID_HANDLE, kGone);
    }
    overlapped.Internal = done == dwCount ? 0 : kStatusTimeout;
    overlapped.InternalHigh = done;
    if (lpNumberOfBytesWritten != nullptr)
        *lpNumberOfBytesWritten = done;
    if (!waited)
        return TRUE;
    // As on Windows, a write that had to wait reports through GetOverlappedResult.
    throw CSerialException(ERROR_IO_PENDING);
}

BOOL CTermiosSerialPort::GetOverlappedResult(OVERLAPPED& overlapped, DWORD& dwBytesTransferred, BOOL)
{
    RequireOpen();
    dwBytesTransferred = static_cast<DWORD>(overlapped.InternalHigh);
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

BOOL CTermiosSerialPort::Read(void* lpBuf, DWORD dwCount, OVERLAPPED& overlapped, DWORD* lpNumberOfBytesRead)
{
    if (m_fd < 0)
        return Fail(ERROR_INVALID_HANDLE);
    auto* bytes = static_cast<char*>(lpBuf);
    DWORD done = 0;
    bool waited = false;
    const bool noWait = m_timeouts.ReadIntervalTimeout == kNoWait && m_timeouts.ReadTotalTimeoutConstant == 0 &&
                        m_timeouts.ReadTotalTimeoutMultiplier == 0;
    const Deadline deadline =
        MakeDeadline(m_timeouts.ReadTotalTimeoutConstant, m_timeouts.ReadTotalTimeoutMultiplier, dwCount, !noWait);
    bool hungUp = false;
    while (done < dwCount)
    {
        const ssize_t n = ::read(m_fd, bytes + done, dwCount - done);
        if (n > 0)
        {
            done += static_cast<DWORD>(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        // With VMIN and VTIME 0 an empty line reads as 0 bytes; a gone one fails or hangs up.
        if ((n < 0 && errno != EAGAIN) || hungUp)
            return Fail(ERROR_INVALID_HANDLE);
        if (noWait)
            break;
        waited = true;
        const int revents = WaitFor(m_fd, POLLIN, deadline);
        if (revents == 0)
            break;
        if (revents < 0 || (revents & POLLNVAL))
            return Fail(ERROR_INVALID_HANDLE);
        // Bytes that came before a hang-up are still read; the next empty read reports it.
        hungUp = (revents & (POLLHUP | POLLERR)) != 0;
    }
    overlapped.Internal = done == dwCount ? 0 : kStatusTimeout;
    overlapped.InternalHigh = done;
    if (lpNumberOfBytesRead != nullptr)
        *lpNumberOfBytesRead = done;
    if (done == dwCount && !waited)
        return TRUE;
    // Anything else completes "later": the status and count wait in the request.
    SetLastError(ERROR_IO_PENDING);
    return FALSE;
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
    m_path.clear();
    m_dcb = DCB{};
}
