// Text rules of the main dialog, kept apart from the window so they can be tested.
#pragma once

#include <string>

// The trace box: the new line goes on top; a trace longer than 3000 characters is first cut to
// its first 1000 when cut is asked (text lines), never for hex lines.
void PrependTrace(std::wstring& trace, const std::wstring& line, bool cut);

// The port text without every leading 'C', 'O' and 'M' (COM12 gives "12", com3 stays "com3").
std::wstring StripComLetters(const std::wstring& portText);
// Its number: the leading digits of what is left, 0 when none.
int PortNumberOf(const std::wstring& portText);
