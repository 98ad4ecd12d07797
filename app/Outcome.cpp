#include "app/Outcome.h"

#include "app/UpgradeRun.h"
#include "platform/Text.h"

namespace
{
int OutcomeCode(UpgradeOutcome outcome)
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
    }
    return kExitUnableToWrite;
}
} // namespace

int RunExitCode(const UpgradeResult& result, int stopCode)
{
    if (result.outcome == UpgradeOutcome::Success)
        return kExitSuccess;
    if (result.cancelled)
        return stopCode != 0 ? stopCode : kExitCancelled;
    // A port that failed under the run is a serial error whatever step it ended.
    if (result.portGone)
        return kExitSerialError;
    return OutcomeCode(result.outcome);
}

const char* ExitName(int code)
{
    switch (code)
    {
    case kExitSuccess: return "success";
    case kExitHostNotResponding: return "host_not_responding";
    case kExitUnableToWrite: return "unable_to_write";
    case kExitSerialError: return "serial_error";
    case kExitModeNotSeen: return "upgrade_mode_not_seen";
    case kExitNoData: return "no_data";
    case kExitImageUnreadable: return "image_unreadable";
    case kExitSomeFailed: return "some_failed";
    case kExitUsage: return "usage_error";
    case kExitNoInput: return "cannot_open_input";
    case kExitCancelled:
    case kExitHangUp:
    case kExitTerminated: return "cancelled";
    default: return "failed";
    }
}

nlohmann::json ResultJson(const UpgradeResult& result)
{
    const bool failed = result.outcome != UpgradeOutcome::Success;
    const auto null = nlohmann::json(nullptr);
    return {{"message", WideToUtf8(DescribeOutcome(result))},
            {"detail", WideToUtf8(result.detail)},
            {"cancelled", result.cancelled},
            {"stage", failed && result.stage != UpgradeStage::None ? nlohmann::json(ToString(result.stage)) : null},
            {"block", failed && result.stage == UpgradeStage::Block ? nlohmann::json(result.block) : null},
            {"image", failed && result.image > 0 ? nlohmann::json(result.image == kImageApp ? "app" : "rcdb") : null},
            {"resends", result.resends},
            {"closed_after_write", result.lineClosedAfterWrite},
            {"error_code", result.error}};
}
