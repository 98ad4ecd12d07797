// What the station window shows, apart from the window so it can be tested anywhere: a tile per
// port, the tallies, the last radios. The station's workers hand their events to an inbox from
// their own threads; the window takes them out on its thread and paints the board.
#pragma once

#include "app/RecordReport.h"
#include "app/Station.h"

#include <chrono>
#include <cstddef>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <variant>
#include <vector>

// The radios the list keeps, newest first.
constexpr std::size_t kStationRows = 50;

enum class TileColour
{
    Neutral,   // waiting for a radio
    Flashing,  // blue
    Done,      // green: unplug it
    Failed,    // red: the radio failed, or the port keeps failing
    Attention, // amber: the radio still shows its menu, the port cannot be opened
    Dim,       // not plugged in, stopped
};

struct StationTile
{
    std::string port;   // its name, and the key a release takes
    std::string state;  // one or two words, large
    std::string detail; // under them: what it sends, what to do, why it failed
    TileColour colour = TileColour::Neutral;
    int percent = -1;        // of the image being sent; -1: no bar
    std::string radioId;     // escaped; empty until its menu named it
    std::string last;        // the last radio's outcome on this port
    bool releasable = false; // resting: a click or a key takes it back
};

struct StationTallies
{
    std::string flashed, failed, yield, perHour, since;
    std::string record; // the record's path, or why it cannot be written
    bool recordFailed = false;
    std::string imageChanged; // an image file changed on disk, said as it stands
};

struct StationRow
{
    std::string time, port, radioId, outcome, duration;
    bool ok = false;
};

enum class StationSound
{
    None,
    Done,
    Failed,
};

// 10:15:02 for a moment of the day; the window gives local time, tests their own.
using ClockText = std::function<std::string(std::chrono::system_clock::time_point)>;
std::string LocalClockText(std::chrono::system_clock::time_point t);
// "app.bin, 450000 bytes, SHA-256 3fa1b2c4d5e6", the images joined by "; ".
std::string ImagesText(const std::vector<UpgradeImage>& images);
// Whether COM port a comes before b: by number, then by name.
bool PortBefore(const std::string& a, const std::string& b);

class CStationBoard
{
public:
    explicit CStationBoard(ClockText clock = LocalClockText) : m_clock(std::move(clock)) {}

    // A new station: nothing of the last one is kept. Named ports have their tiles from the start,
    // and keep them while unplugged.
    void Start(std::chrono::system_clock::time_point start, std::string recordPath,
               const std::vector<std::string>& named);
    void Port(const StationPortStatus& status);
    // The sound the radio's end asks for.
    StationSound Radio(const StationRadio& radio, const StationTally& tally);
    void Tally(const StationTally& tally);
    void Note(const std::string& text);

    std::vector<StationTile> Tiles() const; // in port order
    StationTallies Tallies(std::chrono::system_clock::time_point now) const;
    const std::deque<StationRow>& Rows() const { return m_rows; }
    const std::string& LastNote() const { return m_note; }
    // Whether some radio is being flashed.
    bool Flashing() const;

private:
    struct Slot
    {
        StationPortStatus status;
        std::string last;
        TileColour lastColour = TileColour::Neutral;
        std::string lastState, lastDetail; // the words while its radio is still on
        bool holding = false;              // the radio that ended is still on the port
        bool named = false;
    };
    StationTile Tile(const Slot& slot) const;

    ClockText m_clock;
    std::map<std::string, Slot, bool (*)(const std::string&, const std::string&)> m_slots{PortBefore};
    StationTally m_tally;
    std::string m_recordPath;
    CRecordReport m_report;
    std::optional<double> m_yield; // the report's, as of the last radio
    std::deque<StationRow> m_rows;
    std::string m_note;
};

// Where the workers' events wait for the window: any thread adds, the window's thread takes. The
// wake is called when the first event comes after the window took the last ones, so one wake-up
// message at a time is enough however many events come; one that was not posted is tried again.
class CStationInbox : public IStationView
{
public:
    explicit CStationInbox(std::function<bool()> wake) : m_wake(std::move(wake)) {}

    void OnPort(const StationPortStatus& status) override;
    void OnRadio(const StationRadio& radio, const StationTally& tally) override;
    void OnNote(const std::string& text) override;
    void OnTick(const StationTally& tally) override;

    // Every event so far onto the board, in order; the sounds its radios ask for.
    std::vector<StationSound> Drain(CStationBoard& board);

private:
    struct RadioEvent
    {
        StationRadio radio;
        StationTally tally;
    };
    using Event = std::variant<StationPortStatus, RadioEvent, std::string, StationTally>;
    void Add(Event event);

    std::function<bool()> m_wake; // false: the wake-up was not posted
    std::mutex m_mutex;
    std::vector<Event> m_events;
    bool m_woken = false; // a wake-up is on its way, and no other is needed until the next Drain
};
