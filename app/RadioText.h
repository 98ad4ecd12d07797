// What a radio says of itself, beyond the protocol: its text before and with its menu (where its
// serial number is) and its text after the write command (its restart, where it says whether the
// images were written). Held against the operator's patterns. The bytes are untrusted: kept
// bounded, shown and recorded escaped.
#pragma once

#include "platform/Win32Api.h"

#include <cstddef>
#include <optional>
#include <regex>
#include <string>
#include <vector>

// The texts reported: menu_text (its last bytes), after_write_text (its first bytes).
constexpr std::size_t kRadioTextShown = 512;
// What a pattern is matched against: the last bytes received.
constexpr std::size_t kRadioTextWindow = 1024;
// A pattern that takes longer than this to search a window of text, and that many times as long as
// a plain ".*x", is refused: matched again as text arrives, it would hold the wait for the radio's
// word past its end.
constexpr int kMaxPatternSearchMs = 500;
constexpr long long kMaxPatternCostOverPlain = 25;
constexpr DWORD kDefaultConfirmWaitMs = 10000;
constexpr int kMaxConfirmWaitSeconds = 600;

// Printable ASCII as it is (a backslash doubled), \r \n \t, every other byte as \xNN: safe on a
// terminal, in JSON and in the log, whatever the radio sent.
std::string EscapeRadioText(const std::string& bytes);

struct RadioPatterns
{
    std::optional<std::regex> confirm; // success needs a match in the text after the write command
    std::string confirmText;           // as given, for messages
    DWORD confirmWaitMs = kDefaultConfirmWaitMs;
    std::optional<std::regex> radioId; // the first capture group, or the whole match, is the ID
    std::string radioIdText;
};

// An ECMAScript pattern; empty when it compiles, else why not. Matched without backtracking (no
// back-references), and refused when a search of a window of text takes longer than
// kMaxPatternSearchMs, so no text from a radio can hold a match for long.
std::string CompilePattern(const std::string& text, std::optional<std::regex>& pattern);
bool PatternFound(const std::regex& pattern, const std::string& text);
// The patterns of the settings file: ConfirmPattern, ConfirmWait (seconds) and RadioIdPattern of
// [Device]. A value that cannot be used is named in a warning and ignored.
RadioPatterns ReadRadioPatterns(std::vector<std::string>& warnings);

// The last ID in text: what a radio said most recently names it (an earlier radio's restart may
// come before).
std::optional<std::string> FindRadioId(const std::regex& pattern, const std::string& text);

// Text that arrives in pieces: its first bytes kept for the report, its last ones for matching.
class CRadioText
{
public:
    void Add(const char* data, std::size_t size);
    void Clear();
    const std::string& First() const { return m_first; }
    const std::string& Window() const { return m_window; }
    // The last bytes of the window.
    std::string Last(std::size_t bytes) const;

private:
    std::string m_first;
    std::string m_window;
};
