// The texts of the engine's three log messages, each with its "{}" arguments. On Windows they are
// GBK bytes, as the log there has always held; elsewhere the same words in UTF-8.
#pragma once

extern const char* const kLogWriteFailed; // frame length, attempts left
extern const char* const kLogReadFailed;  // attempts left
extern const char* const kLogWrongAnswer; // answer in hex, attempts left
