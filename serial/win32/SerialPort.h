// The Win32 serial port: one communications handle, each ISerialPort operation one Win32 call.
#pragma once

#include "serial/ISerialPort.h"

class CSerialPort2
{
public:
    CSerialPort2() = default;
    CSerialPort2(const CSerialPort2&) = delete;
    CSerialPort2& operator=(const CSerialPort2&) = delete;
    virtual ~CSerialPort2();

    HANDLE m_hComm = INVALID_HANDLE_VALUE;
};

class CSerialPort : public CSerialPort2
{
public:
    // Opens and configures the device; FALSE with the failing call's error as the last error,
    // the port left closed. Never throws.
    BOOL Open(const wchar_t* pszPort, DWORD dwBaud, int parity, int dataBits, int stopBits, FlowControlMode flowCtl,
              BOOL bOverlapped);
};

class CpsSerialPort : public CSerialPort, public ISerialPort
{
public:
    CpsSerialPort() = default;
    ~CpsSerialPort() override;

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
};
