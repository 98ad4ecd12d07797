// Reading a station's record: JSON Lines, read as a stream so a record of any length, or a line
// that never ends, costs bounded memory.
#pragma once

#include <nlohmann/json.hpp>

#include <cstddef>
#include <functional>
#include <set>
#include <string>

// Longer than any line a station writes: a longer line is counted as bad, never read whole.
constexpr std::size_t kMaxRecordLine = 1u << 20;

// Top-level keys a reader asks for; looked up without copying the key.
using RecordKeys = std::set<std::string, std::less<>>;

struct RecordLine
{
    std::size_t number = 0;               // from 1
    const nlohmann::json* json = nullptr; // the line as an object; null for a line that is none
    bool tooLong = false;                 // over kMaxRecordLine
    bool ended = true;                    // false for a last line without its line end
};

// Whether a station may append to the file: none yet, empty, or a record (its first line a
// station's line, or the start of one torn by a crash). Anything else, a README named by mistake,
// is refused, never appended to or cut; why says so.
bool IsRecordFile(const std::wstring& path, std::string& why);

// Calls each for every line, in order (empty lines are skipped); false with the system's reason
// when the file cannot be opened or read. With keys, only those of a line's top level are kept:
// a reader of a long record builds no more of each line than it reads.
bool ScanRecord(const std::wstring& path, const std::function<void(const RecordLine&)>& each, std::string& error,
                const RecordKeys* keys = nullptr);
