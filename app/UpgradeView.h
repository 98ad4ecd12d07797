// What a front end shows of one upgrade run.
#pragma once

#include "engine/Kd7v001YmodemControl.h"
#include "platform/Win32Api.h"

#include <optional>
#include <string>
#include <vector>

enum class UpgradeOutcome
{
    Success,           // "The host writes successfully"
    HostNotResponding, // selection or final write not answered
    UnableToWrite,     // an image did not go through
    NoData,            // neither image path names anything
    SerialError,       // the port is missing, busy, not configurable
    ModeNotSeen,       // the radio never showed its menu, or the wait was cancelled
    ImageUnreadable,   // an image path names a folder, a file that cannot be read or, strictly, nothing usable
    NotConfirmed,      // written, but the radio did not say so as the confirmation pattern asks
    AlreadyFlashed,    // a station's radio whose ID already succeeded: not flashed again
};

// Where a run is, and where a failed one ended.
enum class UpgradeStage
{
    None,
    Open,    // the port
    Listen,  // waiting for the upgrade menu
    Select,  // the image selection
    Header,  // the header block
    Block,   // a data block
    Eot,     // the two EOTs
    End,     // the end-of-batch block
    Write,   // the write command
    Confirm, // waiting for the radio to confirm the write
};
// "open", "listen", ... as the JSON and the log name them; "" for None.
const char* ToString(UpgradeStage stage);

struct UpgradeResult
{
    UpgradeOutcome outcome = UpgradeOutcome::Success;
    std::wstring message;                    // the text the operator is shown (empty for ModeNotSeen)
    DWORD error = 0;                         // the serial error code, for SerialError
    bool cancelled = false;                  // the operator asked to stop
    std::wstring detail;                     // what the port said after a failure (a gone device), if anything
    bool portGone = false;                   // the port itself failed: unplugged, closed on the other side
    UpgradeStage stage = UpgradeStage::None; // where it ended
    int block = 0;                           // the data block, for UpgradeStage::Block
    int image = 0;                           // the image being sent, 1 or 2; 0 before the first
    int resends = 0;                         // attempts that failed and were followed by another
    std::string settingsError;               // why the settings file could not be written, if it could not
    bool lineClosedAfterWrite = false;       // the radio let go of its line after taking the write command
    // The radio's own word, as bytes it sent (escaped where shown): null without a confirmation
    // pattern; its text after the write command; its ID and its text up to its menu.
    std::optional<bool> confirmed;
    std::string afterWriteText;
    std::optional<std::string> radioId;
    std::string menuText;
};

class IUpgradeView
{
public:
    // Bytes received while waiting for the menu, as text.
    virtual void OnTraceText(const std::vector<char>& bytes) = 0;
    // Every answer of the radio, shown in hex.
    virtual void OnTraceHex(const std::vector<char>& bytes) = 0;
    // The three captions with their count or percent form; true asks the engine to stop.
    virtual bool OnProgress(const std::wstring& caption, int done, int total, bool percent) = 0;
    // An image is about to go: its frame count and size, for a progress bar.
    virtual void OnImageStart(int image, const std::wstring& path, int frames, std::size_t bytes) = 0;
    // Frame done of total is going out; true asks the engine to stop.
    virtual bool OnWriteProgress(int done, int total) = 0;
    // The progress window's end: it goes before an error is shown, after a success is.
    virtual void OnProgressEnd() = 0;
    // The one outcome of the run.
    virtual void ShowOutcome(const UpgradeResult& result) = 0;
    // Asked in short steps while the engine pauses or retries: a window stays alive, and true
    // asks the engine to stop.
    virtual bool OnWait() { return false; }
    // The radio showed its menu (result holds its ID and text); before the first byte goes to it.
    // Empty to flash it; otherwise why it is not flashed, and the run ends as AlreadyFlashed.
    virtual std::wstring OnRadioSeen(const UpgradeResult& /*result*/) { return {}; }
    // A frame exchange failed at stage (block for a data block) and goes again when left > 0.
    virtual void OnAttemptFailed(UpgradeStage /*stage*/, int /*block*/, AttemptFailure /*why*/,
                                 const std::vector<char>& /*answer*/, int /*left*/)
    {
    }

protected:
    ~IUpgradeView() = default;
};
