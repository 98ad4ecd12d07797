#include "serial/SerialException.h"

#include "platform/Text.h"

#include <algorithm>
#include <cwchar>

namespace
{
const char* TextForCode(DWORD code)
{
    switch (code)
    {
    case ERROR_FILE_NOT_FOUND: return "No such device";
    case ERROR_PATH_NOT_FOUND: return "No such device: the path does not exist";
    case ERROR_ACCESS_DENIED: return "Access is denied: the port is in use or has gone";
    case ERROR_INVALID_HANDLE: return "The port is not open or the device has gone";
    case ERROR_NOT_ENOUGH_MEMORY: return "Not enough memory";
    case ERROR_NOT_READY: return "The device is not ready";
    case ERROR_GEN_FAILURE: return "The device does not work";
    case ERROR_SHARING_VIOLATION: return "The port is in use by another program";
    case ERROR_NOT_SUPPORTED: return "The device does not support this request (is it a serial port?)";
    case ERROR_INVALID_PARAMETER: return "The port does not accept these settings";
    case ERROR_BROKEN_PIPE: return "The device has gone";
    case ERROR_SEM_TIMEOUT:
    case ERROR_TIMEOUT: return "The operation timed out";
    case ERROR_OPERATION_ABORTED: return "The operation was aborted";
    case ERROR_DEVICE_NOT_CONNECTED: return "The device is not connected";
    default: return nullptr;
    }
}
} // namespace

BOOL CSerialException::GetErrorMessage(wchar_t* lpszError, UINT nMaxError, UINT* pnHelpContext) const
{
    if (pnHelpContext != nullptr)
        *pnHelpContext = 0;
    if (lpszError == nullptr || nMaxError == 0)
        return FALSE;
    std::wstring text;
    if (!m_strDetail.empty())
        text = NarrowToWide(m_strDetail);
    else if (const char* known = TextForCode(m_dwError))
        text = NarrowToWide(known);
    if (text.empty())
    {
        lpszError[0] = L'\0';
        return FALSE;
    }
    const std::size_t n = std::min<std::size_t>(text.size(), nMaxError - 1);
    std::wmemcpy(lpszError, text.data(), n);
    lpszError[n] = L'\0';
    return TRUE;
}
