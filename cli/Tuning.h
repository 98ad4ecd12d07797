// The protocol's tuning values from the settings file and from the command line, checked: a bad
// value is named in a warning and does not take effect.
#pragma once

#include <map>
#include <string>
#include <vector>

// Digits with an optional sign and blanks around them, within [min, max].
bool ParseWhole(const std::string& text, long long min, long long max, long long& value);

// A number given on the command line: empty when it is a whole number in its range (value set),
// otherwise the usage error that names the option and the range.
std::string CheckNumberFlag(const std::string& flag, const std::string& text, long long& value);

// The settings key a tuning flag stands for (--timeout: timeout); empty for other flags.
std::string TuningKeyOf(const std::string& flag);

// Checks the file's tuning keys and applies the flags given (key name to checked value) as
// overrides for this process's runs; the warnings to show.
std::vector<std::string> ApplyTuning(const std::map<std::string, int>& flags, const std::string& fileName);
