// The figures of a station's record: radios, failures, first-pass yield, per port, image and day.
// Fed one line at a time, so a report streams a record of any length and a window can keep live
// tallies by feeding each line as it is written.
#pragma once

#include "app/RecordFile.h"
#include "app/UtcTime.h"

#include <cstddef>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

// Bad lines listed by number; more are only counted.
constexpr std::size_t kMaxBadLineNumbers = 100;

struct RecordReportResult
{
    struct Port
    {
        std::string port;
        std::size_t radios = 0, successes = 0;
        double yield = 0;
        std::optional<double> medianSeconds; // of the radios that give their duration
    };
    struct Image
    {
        std::string sha256, role, name; // role and name as first seen with the digest
        std::size_t radios = 0, successes = 0;
    };
    struct Day
    {
        std::string date; // UTC, of the radios' start
        std::size_t radios = 0, successes = 0;
        double stationHours = 0;
        std::optional<double> radiosPerHour; // nothing without station time
    };

    std::size_t lines = 0;   // every line read, bad ones too
    std::size_t leftOut = 0; // before the since time, or without a start to compare
    // Radios are the lines with an end: neither a start, an interrupted radio nor one not flashed again.
    std::size_t radios = 0, successes = 0;
    std::size_t starts = 0, interrupted = 0, alreadyFlashed = 0;
    std::map<std::string, std::size_t> failuresByOutcome; // every radio that did not succeed
    std::map<std::string, std::size_t> failuresByStage;   // stage null or missing: "none"
    // Attempts (radio and interrupted lines) grouped by radio ID, a line without one a radio of its
    // own: the radios so counted, and those whose first attempt succeeded.
    std::size_t firstPassRadios = 0, firstPassed = 0;
    std::optional<double> firstPassYield;    // nothing without radios
    std::vector<Port> byPort;                // by port name
    std::vector<Image> byImage;              // by role, name and digest
    std::vector<Day> byDay;                  // by date; a radio without a readable start is in none
    std::size_t repeatLines = 0;             // repeat true: the ID had already succeeded
    std::size_t repeatedIds = 0;             // IDs with more than one radio line
    std::size_t badLines = 0;                // not a JSON object, over 1 MiB, or torn (the last without its line end)
    std::vector<std::size_t> badLineNumbers; // the first kMaxBadLineNumbers
};

class CRecordReport
{
public:
    // since: only lines that start at or after it count; a line without a readable start is left out.
    explicit CRecordReport(std::optional<long long> since = std::nullopt) : m_since(since) {}

    void Add(const RecordLine& line);
    // The figures of the lines added so far.
    RecordReportResult Result() const;
    // The fields of a line it reads, for a reader that need not build the others.
    static const RecordKeys& Keys();

private:
    struct Tally
    {
        std::size_t radios = 0, successes = 0;
    };
    struct PortTally : Tally
    {
        std::vector<double> seconds;
    };
    struct ImageTally : Tally
    {
        std::string role, name;
    };
    struct FirstAttempt
    {
        long long start = 0; // the earliest attempt decides; one without a start comes last
        bool passed = false;
        std::size_t radioLines = 0;
    };
    struct Span
    {
        long long from = 0, to = 0;
    };

    std::optional<long long> m_since;
    RecordReportResult m_counts; // the plain counters; the rest is made by Result
    std::map<std::string, PortTally> m_ports;
    std::map<std::string, ImageTally> m_images;
    std::map<std::string, Tally> m_days;
    std::map<std::pair<std::string, std::string>, Span> m_runs; // (date, run_id) -> its time that day
    std::unordered_map<std::string, FirstAttempt> m_ids;
    std::size_t m_attemptsWithoutId = 0, m_passedWithoutId = 0;
};
