#pragma once

#include <string>

// "caption 33%" (done * 100 / total, truncated) or "caption 3/300".
std::wstring FormatProgressText(const std::wstring& caption, int done, int total, bool percent);

// Whether a progress call should pump window messages: small totals always, else every fourth
// step and the last two.
bool ShouldPump(int done, int total);
