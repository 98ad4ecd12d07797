// The platform's side of the settings file.
#pragma once

// The file's integer by the platform's rules, or the default when the key is missing.
int ReadSettingFileInt(const char* key, int defaultValue);
