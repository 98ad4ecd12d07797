// The log's own conventions on each system: the texts of the engine's three messages, each with
// its "{}" arguments, and the line end. On Windows the texts are GBK bytes and lines end in CR LF,
// as the log there has always held; elsewhere the same words in UTF-8, lines ending in LF.
#pragma once

extern const char* const kLogWriteFailed; // frame length, attempts left
extern const char* const kLogReadFailed;  // attempts left
extern const char* const kLogWrongAnswer; // answer in hex, attempts left
extern const char* const kLogLineEnd;
