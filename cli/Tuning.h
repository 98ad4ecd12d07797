// The protocol's tuning values from the settings file and from the command line, checked: a bad
// value is named in a warning and does not take effect.
#pragma once

#include <map>
#include <string>
#include <vector>

// Digits with an optional sign and blanks around them, within [min, max].
bool ParseWhole(const std::string& text, long long min, long long max, long long& value);

// Checks the file's tuning keys and applies the flags given (key name to flag text) as overrides
// for this process's runs; the warnings to show.
std::vector<std::string> ApplyTuning(const std::map<std::string, std::string>& flags, const std::string& fileName);
