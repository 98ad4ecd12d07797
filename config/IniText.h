// INI text as the Windows private-profile functions treat it, for platforms without them: names
// without regard to case, values trimmed and unquoted, the first of repeated keys wins. An edit
// changes one line and keeps every other byte as it was, so nothing the reader cannot use is lost.
#pragma once

#include <string>

// A section or key name as the file compares it: ASCII letters in lower case.
std::string IniName(std::string name);

// The value of key in the first section of that name; false when it holds none. A UTF-8
// byte-order mark at the start is skipped.
bool FindIniValue(const std::string& text, const std::string& section, const std::string& key, std::string& value);

// text with key set to value: its line rewritten where it is found, else added at the end of the
// section, else the section added at the end of the text.
std::string SetIniValue(const std::string& text, const std::string& section, const std::string& key,
                        const std::string& value);
