// A run's outcome as the command line and the station's record give it: the exit codes, their
// names and the JSON fields of one radio.
#pragma once

#include "app/UpgradeView.h"

#include <nlohmann/json.hpp>

enum ExitCode
{
    kExitSuccess = 0,
    kExitHostNotResponding = 1,
    kExitUnableToWrite = 2,
    kExitSerialError = 3,
    kExitModeNotSeen = 4,
    kExitNoData = 5,
    kExitImageUnreadable = 6,
    kExitSomeFailed = 7,
    kExitNotConfirmed = 8, // written, but the radio did not confirm it as the pattern asks
    kExitUsage = 64,
    kExitNoInput = 66,      // sysexits' EX_NOINPUT: a file to read cannot be opened
    kExitCannotCreate = 73, // sysexits' EX_CANTCREAT: a station's record cannot be created or written
    kExitCancelled = 130,   // Ctrl-C (SIGINT)
    kExitHangUp = 129,      // SIGHUP: the terminal closed
    kExitTerminated = 143,  // SIGTERM
};

// The code of one run: a stop request's (stopCode, 130 when 0) for a cancelled run, a serial error
// for a port that failed under it, else its outcome's.
int RunExitCode(const UpgradeResult& result, int stopCode);
// The name of an exit code, as the JSON's outcome: "success", "serial_error", "cancelled", ...
const char* ExitName(int code);
// A run's outcome as the JSON and the record name it: its exit code's name, or "already_flashed"
// for a radio a station did not flash again (not a failure: its exit code is 0).
const char* OutcomeName(const UpgradeResult& result, int stopCode);
// message, detail, cancelled, stage, block, image (the last three null on success), resends,
// closed_after_write, error_code, confirmed, after_write_text, radio_id, menu_text (the radio's
// texts escaped).
nlohmann::json ResultJson(const UpgradeResult& result);
