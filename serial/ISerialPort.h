// The abstract serial port: each operation mirrors one Win32 communications call on one handle.
#pragma once

#include "platform/Win32Api.h"

#include <string>

enum FlowControlMode
{
    FlowNone = 0,
    FlowCtsRts = 1,
    FlowCtsDtr = 2,
    FlowDsrRts = 3,
    FlowDsrDtr = 4,
    FlowXonXoff = 5,
};

// No virtual destructor: whoever creates a port destroys it through its concrete type.
class ISerialPort
{
public:
    virtual BOOL Open(int nPort, DWORD dwBaud, int parity, int dataBits, int stopBits, FlowControlMode flowCtl,
                      BOOL bOverlapped) = 0;
    virtual BOOL Open(const wchar_t* pszPort, DWORD dwBaud, int parity, int dataBits, int stopBits,
                      FlowControlMode flowCtl, BOOL bOverlapped) = 0;
    virtual BOOL GetTimeouts(COMMTIMEOUTS& timeouts) = 0;
    virtual BOOL SetTimeouts(COMMTIMEOUTS& timeouts) = 0;
    virtual BOOL Write(const void* lpBuf, DWORD dwCount, OVERLAPPED& overlapped, DWORD* lpNumberOfBytesWritten) = 0;
    virtual BOOL GetOverlappedResult(OVERLAPPED& overlapped, DWORD& dwBytesTransferred, BOOL bWait) = 0;
    virtual BOOL GetStatus(COMSTAT& stat) = 0;
    virtual BOOL Read(void* lpBuf, DWORD dwCount, OVERLAPPED& overlapped, DWORD* lpNumberOfBytesRead) = 0;
    virtual std::wstring GetDevicePath() = 0;
    virtual BOOL Setup(DWORD dwInQueue, DWORD dwOutQueue) = 0;
    virtual BOOL ClearError(DWORD& dwErrors) = 0;
    virtual BOOL ClearError(DWORD dwErrors) = 0;
    virtual BOOL SetState(DCB& dcb) = 0;
    virtual BOOL GetState(DCB& dcb) = 0;
    virtual void Close() = 0;

protected:
    ~ISerialPort() = default;
};
