#include "app/Outcome.h"

#include "app/RadioText.h"
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
    case UpgradeOutcome::NotConfirmed: return kExitNotConfirmed;
    case UpgradeOutcome::AlreadyFlashed: return kExitSuccess;
    }
    return kExitUnableToWrite;
}
} // namespace

int RunExitCode(const UpgradeResult& result, int stopCode)
{
    if (result.outcome == UpgradeOutcome::Success || result.outcome == UpgradeOutcome::AlreadyFlashed)
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
    case kExitNotConfirmed: return "not_confirmed";
    case kExitUsage: return "usage_error";
    case kExitNoInput: return "cannot_open_input";
    case kExitCannotCreate: return "cannot_create_record";
    case kExitCancelled:
    case kExitHangUp:
    case kExitTerminated: return "cancelled";
    default: return "failed";
    }
}

const char* OutcomeName(const UpgradeResult& result, int stopCode)
{
    if (result.outcome == UpgradeOutcome::AlreadyFlashed)
        return "already_flashed";
    return ExitName(RunExitCode(result, stopCode));
}

nlohmann::json ResultJson(const UpgradeResult& result)
{
    const bool failed = result.outcome != UpgradeOutcome::Success && result.outcome != UpgradeOutcome::AlreadyFlashed;
    const auto null = nlohmann::json(nullptr);
    return {{"message", WideToUtf8(DescribeOutcome(result))},
            {"detail", WideToUtf8(result.detail)},
            {"cancelled", result.cancelled},
            {"stage", failed && result.stage != UpgradeStage::None ? nlohmann::json(ToString(result.stage)) : null},
            {"block", failed && result.stage == UpgradeStage::Block ? nlohmann::json(result.block) : null},
            {"image", failed && result.image > 0 ? nlohmann::json(result.image == kImageApp ? "app" : "rcdb") : null},
            {"resends", result.resends},
            {"closed_after_write", result.lineClosedAfterWrite},
            {"error_code", result.error},
            {"confirmed", result.confirmed ? nlohmann::json(*result.confirmed) : null},
            {"after_write_text", EscapeRadioText(result.afterWriteText)},
            {"radio_id", result.radioId ? nlohmann::json(EscapeRadioText(*result.radioId)) : null},
            {"menu_text", EscapeRadioText(result.menuText)}};
}
