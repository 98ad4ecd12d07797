#include "platform/posix/Win32Compat.h"

#include <atomic>
#include <chrono>
#include <thread>

namespace
{
thread_local DWORD t_lastError = ERROR_SUCCESS;

struct CEvent
{
    std::atomic<bool> signalled{false};
};
} // namespace

DWORD GetLastError() { return t_lastError; }

void SetLastError(DWORD error) { t_lastError = error; }

HANDLE CreateEventW(void*, BOOL, BOOL initialState, const wchar_t*)
{
    auto* event = new CEvent;
    event->signalled = initialState != FALSE;
    return event;
}

BOOL SetEvent(HANDLE event)
{
    if (event == nullptr || event == INVALID_HANDLE_VALUE)
    {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    static_cast<CEvent*>(event)->signalled = true;
    return TRUE;
}

BOOL ResetEvent(HANDLE event)
{
    if (event == nullptr || event == INVALID_HANDLE_VALUE)
    {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    static_cast<CEvent*>(event)->signalled = false;
    return TRUE;
}

BOOL CloseHandle(HANDLE event)
{
    if (event == nullptr || event == INVALID_HANDLE_VALUE)
    {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    delete static_cast<CEvent*>(event);
    return TRUE;
}

DWORD GetTickCount()
{
    using namespace std::chrono;
    return static_cast<DWORD>(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

void Sleep(DWORD milliseconds) { std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds)); }
