// The outcome of kd7x-update: exit codes, the lines a person reads and the JSON document.
#pragma once

#include "app/Outcome.h"

#include <nlohmann/json.hpp>

#include <chrono>
#include <string>
#include <vector>

extern const char* const kVersion;

// One radio's run as the report needs it.
struct RadioReport
{
    std::string port;
    UpgradeResult result;
    double seconds = 0; // the whole run
    std::size_t bytesSent = 0;
    double sendingSeconds = 0;
    bool sending = false; // an image began to go out: from the first image to the last progress
    std::chrono::steady_clock::time_point sendingFrom{}, sendingTo{};
    bool imagesDiffer = false; // a simulated radio's images are not the files sent
    int stopCode = 0;          // the exit code of a stop request (Ctrl-C: 130) that came during the run, if one did
    std::string radioJson;     // a simulated radio's own summary
};

// What was sent, once for every radio.
struct ImageReport
{
    std::string role; // "app" or "rcdb"
    std::string path; // UTF-8
    std::size_t size = 0;
    std::string sha256;
    int frames = 0;
};

int ExitCodeFor(const RadioReport& radio);
// 0 when all succeeded; otherwise a stop request's code when one came; the shared code when all
// failed alike; otherwise kExitSomeFailed.
int CombinedExitCode(const std::vector<RadioReport>& radios);
// Where a failed run ended, " at block 17", " at select"; empty for a success.
std::string WhereText(const UpgradeResult& result);
// The line a person reads: the outcome's own text, and what the port said, if anything.
std::string OutcomeLine(const RadioReport& radio);

nlohmann::json RadioJson(const RadioReport& radio, const std::vector<ImageReport>& images);
// The document of the whole command: the radio's own for one radio, radios and totals for several.
nlohmann::json ReportJson(const std::vector<RadioReport>& radios, const std::vector<ImageReport>& images, bool several);
// A failure before any radio was touched (usage, an image, the ports).
nlohmann::json FailureJson(int exitCode, const std::string& outcome, const std::string& message);
// What went out, as the common flashers close: "Wrote 510000 bytes in 46.2 s (11.1 kB/s)", with
// several radios "... to 2 radios ...", totalled over the time any of them was sending; after a
// failure or a stop it says how much of the whole went out before. Empty when no image began to go
// out. imageBytes: the bytes of the images for one radio.
std::string ClosingLine(const std::vector<RadioReport>& radios, std::size_t imageBytes);
// port  outcome  duration, one row per radio.
std::string SummaryTable(const std::vector<RadioReport>& radios);
// The text on stdout: valid UTF-8 whatever the paths held.
std::string Dump(const nlohmann::json& json);
