#include "serial/win32/SerialPort.h"

#include "serial/OpenSettings.h"
#include "serial/SerialException.h"

#include <cstdio>
#include <vector>

namespace
{
// The one way a failing call becomes an exception: its last error, taken at once.
[[noreturn]] void ThrowSerialException() { throw CSerialException(GetLastError()); }

BOOL Check(BOOL result)
{
    if (!result)
        ThrowSerialException();
    return result;
}

struct UnicodeString
{
    USHORT Length;
    USHORT MaximumLength;
    PWSTR Buffer;
};

using NtQueryObjectFn = LONG(WINAPI*)(HANDLE, int, PVOID, ULONG, PULONG);
constexpr int kObjectNameInformation = 1;
} // namespace

CSerialPort2::~CSerialPort2()
{
    if (m_hComm != INVALID_HANDLE_VALUE)
    {
        CloseHandle(m_hComm);
        m_hComm = INVALID_HANDLE_VALUE;
    }
}

BOOL CSerialPort::Open(const wchar_t* pszPort, DWORD dwBaud, int parity, int dataBits, int stopBits,
                       FlowControlMode flowCtl, BOOL bOverlapped)
{
    if (m_hComm != INVALID_HANDLE_VALUE)
    {
        CloseHandle(m_hComm);
        m_hComm = INVALID_HANDLE_VALUE;
    }
    m_hComm = CreateFileW(pszPort, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                          bOverlapped ? FILE_FLAG_OVERLAPPED : 0, nullptr);
    if (m_hComm == INVALID_HANDLE_VALUE)
        return FALSE;
    DCB dcb{};
    dcb.DCBlength = sizeof(DCB);
    if (GetCommState(m_hComm, &dcb))
    {
        ApplyOpenSettings(dcb, dwBaud, parity, dataBits, stopBits, flowCtl);
        if (SetCommState(m_hComm, &dcb))
            return TRUE;
    }
    // Keep the failing call's code, not CloseHandle's.
    const DWORD error = GetLastError();
    CloseHandle(m_hComm);
    m_hComm = INVALID_HANDLE_VALUE;
    SetLastError(error);
    return FALSE;
}

CpsSerialPort::~CpsSerialPort() { Close(); }

BOOL CpsSerialPort::Open(int nPort, DWORD dwBaud, int parity, int dataBits, int stopBits, FlowControlMode flowCtl,
                         BOOL bOverlapped)
{
    wchar_t name[32];
    std::swprintf(name, 32, L"\\\\.\\COM%d", nPort);
    return Open(name, dwBaud, parity, dataBits, stopBits, flowCtl, bOverlapped);
}

BOOL CpsSerialPort::Open(const wchar_t* pszPort, DWORD dwBaud, int parity, int dataBits, int stopBits,
                         FlowControlMode flowCtl, BOOL bOverlapped)
{
    return Check(CSerialPort::Open(pszPort, dwBaud, parity, dataBits, stopBits, flowCtl, bOverlapped));
}

BOOL CpsSerialPort::GetTimeouts(COMMTIMEOUTS& timeouts) { return Check(GetCommTimeouts(m_hComm, &timeouts)); }

BOOL CpsSerialPort::SetTimeouts(COMMTIMEOUTS& timeouts) { return Check(SetCommTimeouts(m_hComm, &timeouts)); }

BOOL CpsSerialPort::Write(const void* lpBuf, DWORD dwCount, OVERLAPPED& overlapped, DWORD* lpNumberOfBytesWritten)
{
    return Check(WriteFile(m_hComm, lpBuf, dwCount, lpNumberOfBytesWritten, &overlapped));
}

BOOL CpsSerialPort::GetOverlappedResult(OVERLAPPED& overlapped, DWORD& dwBytesTransferred, BOOL bWait)
{
    return Check(::GetOverlappedResult(m_hComm, &overlapped, &dwBytesTransferred, bWait));
}

BOOL CpsSerialPort::GetStatus(COMSTAT& stat)
{
    DWORD errors = 0;
    return Check(ClearCommError(m_hComm, &errors, &stat));
}

BOOL CpsSerialPort::Read(void* lpBuf, DWORD dwCount, OVERLAPPED& overlapped, DWORD* lpNumberOfBytesRead)
{
    return ReadFile(m_hComm, lpBuf, dwCount, lpNumberOfBytesRead, &overlapped);
}

std::wstring CpsSerialPort::GetDevicePath()
{
    if (m_hComm == nullptr || m_hComm == INVALID_HANDLE_VALUE)
        return {};
    HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    if (ntdll == nullptr)
        return {};
    auto query = reinterpret_cast<NtQueryObjectFn>(reinterpret_cast<void*>(GetProcAddress(ntdll, "NtQueryObject")));
    if (query == nullptr)
        return {};
    ULONG needed = 0;
    std::vector<BYTE> probe(8);
    query(m_hComm, kObjectNameInformation, probe.data(), static_cast<ULONG>(probe.size()), &needed);
    if (needed < sizeof(UnicodeString))
        return {};
    std::vector<BYTE> buffer(needed);
    if (query(m_hComm, kObjectNameInformation, buffer.data(), needed, &needed) < 0)
        return {};
    const auto* name = reinterpret_cast<const UnicodeString*>(buffer.data());
    char ansi[260] = {};
    WideCharToMultiByte(CP_ACP, 0, name->Buffer, name->Length / 2, ansi, sizeof ansi - 1, nullptr, nullptr);
    std::printf("Path: %s\n", ansi);
    wchar_t wide[260] = {};
    MultiByteToWideChar(CP_ACP, 0, ansi, -1, wide, 260);
    return wide;
}

BOOL CpsSerialPort::Setup(DWORD dwInQueue, DWORD dwOutQueue)
{
    return Check(SetupComm(m_hComm, dwInQueue, dwOutQueue));
}

BOOL CpsSerialPort::ClearError(DWORD& dwErrors) { return Check(ClearCommError(m_hComm, &dwErrors, nullptr)); }

BOOL CpsSerialPort::ClearError(DWORD dwErrors) { return Check(ClearCommError(m_hComm, &dwErrors, nullptr)); }

BOOL CpsSerialPort::SetState(DCB& dcb) { return SetCommState(m_hComm, &dcb); }

BOOL CpsSerialPort::GetState(DCB& dcb) { return GetCommState(m_hComm, &dcb); }

BOOL CpsSerialPort::WaitOverlappedResult(OVERLAPPED& overlapped, DWORD& dwBytesTransferred, DWORD dwMilliseconds)
{
    const DWORD waited = WaitForSingleObject(overlapped.hEvent, dwMilliseconds);
    if (waited == WAIT_TIMEOUT)
    {
        SetLastError(WAIT_TIMEOUT);
        return FALSE;
    }
    if (waited != WAIT_OBJECT_0)
    {
        // The wait itself failed: the request must not outlive its buffer, so it is ended here.
        const DWORD error = GetLastError();
        CancelIoEx(m_hComm, &overlapped);
        ::GetOverlappedResult(m_hComm, &overlapped, &dwBytesTransferred, TRUE);
        throw CSerialException(error);
    }
    return Check(::GetOverlappedResult(m_hComm, &overlapped, &dwBytesTransferred, FALSE));
}

BOOL CpsSerialPort::CancelIo(OVERLAPPED& overlapped)
{
    // A request that completed meanwhile has nothing left to cancel: not a failure.
    if (CancelIoEx(m_hComm, &overlapped) || GetLastError() == ERROR_NOT_FOUND)
        return TRUE;
    ThrowSerialException();
}

BOOL CpsSerialPort::Flush() { return Check(FlushFileBuffers(m_hComm)); }

void CpsSerialPort::Close()
{
    if (m_hComm != INVALID_HANDLE_VALUE)
    {
        CloseHandle(m_hComm);
        m_hComm = INVALID_HANDLE_VALUE;
    }
}
