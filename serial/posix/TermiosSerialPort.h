// A serial device on Linux behind ISerialPort, keeping the Windows contract the engine relies
// on: exclusive open, total time-outs, write/read completing at once or after an "overlapped"
// wait, a gone device reported as error 6, Win32 error codes with a text a person understands.
#pragma once

#include "serial/ISerialPort.h"

#include <chrono>
#include <string>

class CTermiosSerialPort final : public ISerialPort
{
public:
    CTermiosSerialPort() = default;
    CTermiosSerialPort(const CTermiosSerialPort&) = delete;
    CTermiosSerialPort& operator=(const CTermiosSerialPort&) = delete;
    ~CTermiosSerialPort();

    // By number: /dev/ttyS<n>, the nearest Linux counterpart of COM<n>.
    BOOL Open(int nPort, DWORD dwBaud, int parity, int dataBits, int stopBits, FlowControlMode flowCtl,
              BOOL bOverlapped) override;
    BOOL Open(const wchar_t* pszPort, DWORD dwBaud, int parity, int dataBits, int stopBits, FlowControlMode flowCtl,
              BOOL bOverlapped) override;
    BOOL GetTimeouts(COMMTIMEOUTS& timeouts) override;
    BOOL SetTimeouts(COMMTIMEOUTS& timeouts) override;
    BOOL Write(const void* lpBuf, DWORD dwCount, OVERLAPPED& overlapped, DWORD* lpNumberOfBytesWritten) override;
    BOOL GetOverlappedResult(OVERLAPPED& overlapped, DWORD& dwBytesTransferred, BOOL bWait) override;
    BOOL GetStatus(COMSTAT& stat) override;
    BOOL Read(void* lpBuf, DWORD dwCount, OVERLAPPED& overlapped, DWORD* lpNumberOfBytesRead) override;
    std::wstring GetDevicePath() override;
    BOOL Setup(DWORD dwInQueue, DWORD dwOutQueue) override;
    BOOL ClearError(DWORD& dwErrors) override;
    BOOL ClearError(DWORD dwErrors) override;
    BOOL SetState(DCB& dcb) override;
    BOOL GetState(DCB& dcb) override;
    void Close() override;
    BOOL WaitOverlappedResult(OVERLAPPED& overlapped, DWORD& dwBytesTransferred, DWORD dwMilliseconds) override;
    BOOL CancelIo(OVERLAPPED& overlapped) override;
    BOOL Flush() override;

    bool IsOpen() const { return m_fd >= 0; }

private:
    using Clock = std::chrono::steady_clock;

    // The one request that may be outstanding, as Windows keeps it for an overlapped handle.
    struct Request
    {
        bool active = false;
        bool write = false;
        char* in = nullptr;
        const char* out = nullptr;
        DWORD count = 0;
        DWORD done = 0;
        bool endless = false; // time-outs of zero: no deadline
        Clock::time_point deadline{};
        OVERLAPPED* overlapped = nullptr;
    };

    void RequireOpen() const;
    // The non-throwing operations report through the last error, as Win32 does.
    BOOL Fail(DWORD code);
    bool ApplyState(const DCB& dcb, DWORD& error, std::string& detail);
    // Moves the request on without blocking; true when it needs nothing more.
    bool Advance(Request& request);
    // Waits for the request up to milliseconds (or for ever); true when it has completed.
    bool WaitRequest(Request& request, long long milliseconds);
    void Complete(Request& request, bool timedOut);

    int m_fd = -1;
    std::string m_path;
    DCB m_dcb{};
    COMMTIMEOUTS m_timeouts{};
    Request m_request;
};
