#pragma once

#include "app/UpgradeView.h"

#include <string>

enum ExitCode
{
    kExitSuccess = 0,
    kExitHostNotResponding = 1,
    kExitUnableToWrite = 2,
    kExitSerialError = 3,
    kExitModeNotSeen = 4,
    kExitNoData = 5,
    kExitImageUnreadable = 6,
    kExitUsage = 64,
};

int ExitCodeFor(UpgradeOutcome outcome);
const char* OutcomeName(UpgradeOutcome outcome);
// Prints the outcome's line (stdout for success, stderr otherwise) and, when asked, JSON on stdout.
int Report(const UpgradeResult& result, bool json, const std::string& extraJson = "");
