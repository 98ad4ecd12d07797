// A bench of ports that flashes every radio put on it, all day: a worker per port listens for a
// radio's menu with no time limit, flashes it with one upgrade run, records it, and waits for it
// to leave before it listens again. Independent of the front end, like the run.
#pragma once

#include "app/UpgradeRun.h"
#include "serial/PortWatcher.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

// The station's time: its looks at the ports, its settle times and the stamps of its records.
class IStationClock
{
public:
    virtual ~IStationClock() = default;
    virtual std::uint64_t NowMs() = 0; // steady, from any origin
    virtual std::chrono::system_clock::time_point Wall() = 0;
    virtual void Sleep(DWORD milliseconds) = 0;
};
IStationClock& SystemClock();

enum class PortState
{
    Absent,     // not plugged in, or gone with its radio
    CannotOpen, // there, but busy or refused
    Waiting,    // listening for a radio's menu
    Flashing,
    Settling,    // its radio has its outcome; waiting for it to leave
    Quarantined, // its last radios all failed: no radio until the operator takes it back
    Gone,        // let go: unplugged (auto), or the station has ended
};

// A port's line: sent at each change, and at each frame while flashing.
struct StationPortStatus
{
    WatchedPort port;
    PortState state = PortState::Waiting;
    std::chrono::system_clock::time_point since; // of this state
    std::string reason;                          // CannotOpen: what the port said
    std::string step;                            // Flashing: the image selection or the write command
    std::string image;                           // Flashing: the file being sent
    std::size_t bytes = 0;                       // its size
    std::size_t done = 0;                        // its bytes the radio acknowledged
    double seconds = 0;                          // since it started
    bool menuAgain = false;                      // Settling: the radio still shows its menu
    int resends = 0;                             // Flashing: of this radio so far
    int failedInRow = 0;                         // its radios that failed since the last success
    std::string radioId;                         // the radio's ID, escaped, once its menu named it
    std::optional<WatchedPort> flashedOn;        // a radio whose ID already succeeded: where, and when
    std::chrono::system_clock::time_point flashedAt;
    bool flashedSameImages = false; // and with the images of this run
};

// One radio, as the record holds it.
struct StationRadio
{
    int number = 0; // in the order radios started (or ended, for one never started) in this run
    WatchedPort port;
    std::chrono::system_clock::time_point start, end;
    double seconds = 0;
    UpgradeResult result;
    std::string outcome; // the exit code's name: success, unable_to_write, cancelled, ...; already_flashed
    std::string record;  // its JSON line, without the line end
    bool repeat = false; // its ID had already succeeded (in this run or an earlier one)
};

struct StationTally
{
    int flashed = 0;
    int failed = 0;
    int cancelled = 0;
    int already = 0; // radios not flashed again (--once): neither flashed nor failed
    std::chrono::system_clock::time_point start;
    std::string recordError;  // why the record cannot be written, once it cannot: no new radio is taken
    std::string imageChanged; // an image file that changed on disk since the station read it
};

class IStationView
{
public:
    virtual void OnPort(const StationPortStatus& status) = 0;
    // Once its record is on disk.
    virtual void OnRadio(const StationRadio& radio, const StationTally& tally) = 0;
    // The steps of a stop, a record that cannot be written.
    virtual void OnNote(const std::string& text) = 0;
    // About twice a second, for the clocks on the screen.
    virtual void OnTick(const StationTally& /*tally*/) {}

protected:
    ~IStationView() = default;
};

// The operator taking quarantined ports back (a click on a tile, Enter on the terminal), from
// any thread.
class CPortReleases
{
public:
    void Release(const std::string& key);
    void ReleaseAll();
    // Whether this port was taken back since the last ask.
    bool Take(const std::string& key);

private:
    std::mutex m_mutex;
    std::set<std::string> m_released;
    int m_all = 0;                        // releases of every port so far
    std::map<std::string, int> m_allSeen; // of those, how many each port has taken
};

struct StationOptions
{
    UpgradeRequest request; // its images read and framed once; the device is set per port
    PortFactory makePort;
    std::vector<WatchedPort> named;  // watched for ever: one that is missing is waited for
    IPortWatcher* watcher = nullptr; // ports that come and go (auto); null: none
    DWORD settleMs = 3000;           // a radio's quiet after its outcome before the port listens again
    DWORD pollMs = 500;              // between looks at the ports
    int count = 0;                   // radios that succeed before no new ones are taken; 0: no limit
    int radioLimit = 0;              // radios of any outcome before no new ones are taken; 0: no limit
    std::wstring recordPath;         // one JSON line per radio appended; empty: none
    std::string version;
    bool once = false;                       // a radio whose ID already succeeded in the record is not flashed again
    std::string stationId;                   // on every record line: the bench
    std::optional<std::string> operatorName; // and who works it, when known
    // A port whose last this many radios failed takes no radio until taken back (releases) or
    // unplugged and plugged again; 0: never.
    int quarantine = 0;
    CPortReleases* releases = nullptr;
    // What stops the radios under way, as the front end names it in its notes.
    std::string stopAgain = "Ctrl-C";
};

struct StationEnd
{
    std::vector<StationRadio> radios; // in the order they ended
    StationTally tally;
    std::string refused; // why the record could not be opened: the station took no radio
};

// Until the stop requests counted in stops end it (the first: no new radios, those being flashed
// finish; the second: those are cancelled) or a limit is reached.
StationEnd RunStation(const StationOptions& options, IStationView& view, IStationClock& clock,
                      const std::atomic<int>& stops);
