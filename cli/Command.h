// What the commands of kd7x-update share: the options as parsed, the one document on stdout and
// the one way to refuse before any radio is touched.
#pragma once

#include "app/UpgradeRun.h"
#include "cli/CliPlatform.h"
#include "cli/Report.h"

#include <nlohmann/json.hpp>

#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace spdlog
{
class logger;
}

struct CliOptions
{
    std::vector<std::string> warnings; // found while starting: also in the JSON document
    std::vector<std::string> ports;
    std::string app, rcdb, settings, log;
    std::map<std::string, int> tuning; // settings key -> the flag's value, checked
    long long waitSeconds = 300;
    bool verbose = false, quiet = false, json = false, listPorts = false, simulate = false, version = false;
    bool all = false, fast = false;
    int radios = 1;
    bool station = false, waitGiven = false;
    std::string record;
    int count = 0;
    long long settleSeconds = 3;
    // The radio's own word: patterns as given (empty: the settings file's), the wait in seconds
    // (0: the settings file's).
    std::string confirm, radioId;
    bool confirmGiven = false, radioIdGiven = false, once = false;
    long long confirmWaitSeconds = 0;
    // Who and where, on every record line and in the JSON document.
    std::string stationId;
    std::optional<std::string> operatorName;
    bool noRecord = false;
    // Pinned images: ROLE=HEX as given, or a manifest naming each image with its digest.
    std::vector<std::string> expectSha256;
    std::string manifest;
    bool settingsUnreadable = false; // said once at the start; nothing is saved into it
    long long quarantine = -1;       // radios failed in a row before a port rests; -1: the settings file's, else 3
};

// What flashing and the station set up alike before any port is touched.
struct FlashSetUp
{
    FileLocations files; // with the names the command line gave
    std::shared_ptr<spdlog::logger> logger;
    UpgradeRequest base; // the images read, checked and framed once
    std::vector<ImageReport> images;
    std::vector<std::wstring> paths;
    std::size_t imageBytes = 0;         // of every image, once
    std::filesystem::path sampleFolder; // --simulate's sample images when none are named; removed at the end
};
// The settings and log files, the tuning, the images; -1 when all is well, otherwise the exit code
// of the refusal already said.
int SetUpFlash(CliOptions& options, FlashSetUp& setUp);
// A line on stderr unless --quiet; a warning also goes into the JSON document.
void Note(const CliOptions& options, const std::string& text);
void Warn(CliOptions& options, const std::string& text);
// Simulated radios that could not start: a usage error where there are none, else a serial error.
int RefuseSimulation(const CliOptions& options, const std::string& error);
// Every line of text with prefix in front.
std::string PrefixLines(const std::string& prefix, std::string text);

// The one document on stdout, with the warnings given on the way.
void PrintJson(nlohmann::json doc, const CliOptions& options);
// A failure before any radio is touched: a line on stderr (and the lines of a listing below it),
// and the JSON document when asked.
int Refuse(const CliOptions& options, int code, const std::string& outcome, const std::string& message,
           const std::vector<std::string>& listing = {});
// A port as --list-ports shows it: path, USB ids, maker, product, serial number, by-id name.
std::string PortLine(const PortInfo& port);

int ListPortsCommand(const CliOptions& options);
int FlashCommand(CliOptions& options);
int StationCommand(CliOptions& options);
