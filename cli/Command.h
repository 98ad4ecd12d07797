// What the commands of kd7x-update share: the options as parsed, the one document on stdout and
// the one way to refuse before any radio is touched.
#pragma once

#include "cli/CliPlatform.h"

#include <nlohmann/json.hpp>

#include <map>
#include <string>
#include <vector>

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
};

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
