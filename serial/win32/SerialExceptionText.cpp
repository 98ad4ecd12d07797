#include "serial/SerialException.h"

#include <cwchar>

BOOL CSerialException::GetErrorMessage(wchar_t* lpszError, UINT nMaxError, UINT* pnHelpContext) const
{
    if (pnHelpContext != nullptr)
        *pnHelpContext = 0;
    if (lpszError == nullptr || nMaxError == 0)
        return FALSE;
    wchar_t* system = nullptr;
    const DWORD n =
        FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_FROM_SYSTEM,
                       nullptr, m_dwError, LANG_SYSTEM_DEFAULT, reinterpret_cast<wchar_t*>(&system), 0, nullptr);
    if (n == 0 || system == nullptr)
    {
        lpszError[0] = L'\0';
        return FALSE;
    }
    const std::size_t len = n < nMaxError - 1 ? n : nMaxError - 1;
    std::wmemcpy(lpszError, system, len);
    lpszError[len] = L'\0';
    LocalFree(system);
    return TRUE;
}
