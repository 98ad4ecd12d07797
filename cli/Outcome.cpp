#include "cli/Outcome.h"

#include "app/JsonText.h"
#include "app/UpgradeRun.h"
#include "platform/Text.h"

#include <iostream>

int ExitCodeFor(UpgradeOutcome outcome)
{
    switch (outcome)
    {
    case UpgradeOutcome::Success: return kExitSuccess;
    case UpgradeOutcome::HostNotResponding: return kExitHostNotResponding;
    case UpgradeOutcome::UnableToWrite: return kExitUnableToWrite;
    case UpgradeOutcome::SerialError: return kExitSerialError;
    case UpgradeOutcome::ModeNotSeen: return kExitModeNotSeen;
    case UpgradeOutcome::NoData: return kExitNoData;
    case UpgradeOutcome::ImageUnreadable: return kExitImageUnreadable;
    case UpgradeOutcome::AlreadyRunning: return kExitUsage;
    }
    return kExitUsage;
}

const char* OutcomeName(UpgradeOutcome outcome)
{
    switch (outcome)
    {
    case UpgradeOutcome::Success: return "success";
    case UpgradeOutcome::HostNotResponding: return "host_not_responding";
    case UpgradeOutcome::UnableToWrite: return "unable_to_write";
    case UpgradeOutcome::SerialError: return "serial_error";
    case UpgradeOutcome::ModeNotSeen: return "upgrade_mode_not_seen";
    case UpgradeOutcome::NoData: return "no_data";
    case UpgradeOutcome::ImageUnreadable: return "image_unreadable";
    case UpgradeOutcome::AlreadyRunning: return "already_running";
    }
    return "unknown";
}

int Report(const UpgradeResult& result, bool json, const std::string& extraJson)
{
    const std::string message = WideToNarrow(DescribeOutcome(result));
    const std::string detail = WideToNarrow(result.detail);
    const int code = ExitCodeFor(result.outcome);
    if (result.outcome == UpgradeOutcome::Success)
        std::cout << message << std::endl;
    else
    {
        std::cerr << message << std::endl;
        if (!detail.empty())
            std::cerr << "serial port: " << detail << std::endl;
    }
    if (json)
    {
        std::cout << "{\"outcome\":\"" << OutcomeName(result.outcome) << "\",\"exit_code\":" << code
                  << ",\"message\":" << JsonQuote(message) << ",\"detail\":" << JsonQuote(detail)
                  << ",\"error_code\":" << result.error << ",\"cancelled\":" << (result.cancelled ? "true" : "false")
                  << extraJson << "}" << std::endl;
    }
    return code;
}
