// The settings file: section "Device" of one INI file, read at each use, never cached.
#pragma once

#include "platform/Win32Api.h"

#include <optional>
#include <string>

// The executable's folder (ending in the separator) and base name; set once at start-up.
void SetModulePaths(const std::wstring& moduleDir, const std::wstring& moduleName);
const std::wstring& GetModuleDir();
const std::wstring& GetModuleName();
// Fills the module paths from the running executable.
void InitModulePathsFromExecutable();

// Module folder + base name + ".ini", unless a front end or a test named another file. Wide, so a
// folder outside the Windows code page is kept whole.
std::wstring GetIniPath();
void SetIniPathOverride(const std::wstring& path);

// For the runs of one process, set before any starts: a value that replaces the file's (a flag of
// the command line), or, with no value, a key whose file value is ignored so each reader takes
// its own default.
void SetSettingOverride(const std::string& key, std::optional<int> value);

int ReadSettingInt(const char* key, int defaultValue);
// At most 511 bytes; empty when the key is missing.
std::string ReadSettingString(const char* key);
// The value as the file holds it, without the integer rules; false when the key is missing.
bool ReadSettingRaw(const char* key, std::string& value);
// A text value in UTF-8 whatever the file's code page (a pattern to match a radio's bytes
// against); false when the key is missing. cut: longer than the program reads (1023 characters).
bool ReadSettingUtf8(const char* key, std::string& value, bool& cut);

// Another section of the same file ([Station], the station window's choices), read and written as
// [Device] is: at each use, never cached.
bool ReadSectionRaw(const char* section, const char* key, std::string& value);
std::string WriteSectionString(const char* section, const char* key, const std::string& value);

// Why the settings file exists but cannot be read; empty when it can, or when there is none.
std::string SettingsFileUnreadable();
// Empty when written, otherwise why not. The dialog ignores it: the run goes on with what the
// operator chose.
std::string WriteSettingString(const char* key, const std::string& value);

// Upper bound of every pause taken from the file, so no value can make the tool hang for ever.
constexpr int kMaxPauseMs = 60000;
// A pause in milliseconds: a negative value falls back to the default, a huge one to kMaxPauseMs.
DWORD ReadSettingPause(const char* key, int defaultValue);
