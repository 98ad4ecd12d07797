#pragma once

#include "platform/Win32Api.h"

#include <exception>
#include <string>

// The serial layer's failure: a Win32 error code. what() stays the standard default text.
class CSerialException : public std::exception
{
public:
    explicit CSerialException(DWORD dwError) : m_dwError(dwError) {}
    // A port that knows more than the code (a busy port, missing permission) says so in detail;
    // Windows ignores it and shows the system's own text.
    CSerialException(DWORD dwError, std::string detail) : m_dwError(dwError), m_strDetail(std::move(detail)) {}
    CSerialException(const CSerialException&) = default;
    ~CSerialException() override = default;

    // The system's text for m_dwError, cut to nMaxError characters (terminator included).
    virtual BOOL GetErrorMessage(wchar_t* lpszError, UINT nMaxError, UINT* pnHelpContext = nullptr) const;

    DWORD m_dwError;
    std::string m_strDetail;
};
