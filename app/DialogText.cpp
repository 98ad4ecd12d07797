#include "app/DialogText.h"

#include <cwchar>

void PrependTrace(std::wstring& trace, const std::wstring& line, bool cut)
{
    if (cut && trace.size() > 3000)
        trace.resize(1000);
    trace = line + L"\r\n" + trace;
}

std::wstring StripComLetters(const std::wstring& portText)
{
    const std::size_t i = portText.find_first_not_of(L"COM");
    return i == std::wstring::npos ? std::wstring() : portText.substr(i);
}

int PortNumberOf(const std::wstring& portText)
{
    return static_cast<int>(std::wcstol(StripComLetters(portText).c_str(), nullptr, 10));
}
