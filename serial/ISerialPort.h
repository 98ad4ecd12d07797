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
    // Three more calls, so a wait can be cut into slices and a command known to have left:
    // waits up to milliseconds for the request (WaitForSingleObject on its event, then
    // GetOverlappedResult without waiting): TRUE with the count when it completed, FALSE with last
    // error WAIT_TIMEOUT while it still runs; a request that ended in failure throws.
    virtual BOOL WaitOverlappedResult(OVERLAPPED& overlapped, DWORD& dwBytesTransferred, DWORD dwMilliseconds) = 0;
    // Cancels the request (CancelIoEx); the caller collects it with GetOverlappedResult, wait TRUE,
    // which throws ERROR_OPERATION_ABORTED unless it completed first.
    virtual BOOL CancelIo(OVERLAPPED& overlapped) = 0;
    // Returns once every byte written has left the port (FlushFileBuffers); throws when it cannot.
    virtual BOOL Flush() = 0;

protected:
    ~ISerialPort() = default;
};
