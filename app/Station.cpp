#include "app/Station.h"

#include "app/Outcome.h"
#include "app/ProgressText.h"
#include "app/RadioText.h"
#include "app/RecordFile.h"
#include "app/RecordReport.h"
#include "app/UtcTime.h"
#include "platform/Digest.h"
#include "platform/LineFile.h"
#include "platform/Text.h"
#include "serial/SerialException.h"
#include "serial/SerialLink.h"

#include <spdlog/spdlog.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <filesystem>
#include <fstream>
#include <random>
#include <thread>

namespace
{
using WallClock = std::chrono::system_clock;
// Between two looks at a settling port; the driver keeps what comes meanwhile.
constexpr DWORD kSettleStepMs = 100;

class CSystemClock : public IStationClock
{
public:
    std::uint64_t NowMs() override
    {
        const auto now = std::chrono::steady_clock::now().time_since_epoch();
        return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(now).count());
    }
    WallClock::time_point Wall() override { return WallClock::now(); }
    void Sleep(DWORD milliseconds) override { std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds)); }
};

// UTC, so the records of benches in other time zones sort together.
std::string IsoUtc(WallClock::time_point t)
{
    return ::IsoUtc(std::chrono::duration_cast<std::chrono::milliseconds>(t.time_since_epoch()).count());
}

// Where and when a radio ID succeeded.
struct FlashedRadio
{
    WatchedPort port;
    WallClock::time_point at;
    bool sameImages = false; // one of its successes was with the images of this run
};

class CStationRun;

// One port: radios in turn, each one upgrade run, then the settle.
class CWorker final : public IUpgradeView
{
public:
    CWorker(CStationRun& station, WatchedPort port, bool named) : m_station(station), m_named(named)
    {
        m_status.port = std::move(port);
    }
    ~CWorker() { Join(); }
    CWorker(const CWorker&) = delete;
    CWorker& operator=(const CWorker&) = delete;

    void Start()
    {
        m_thread = std::thread([this] { Loop(); });
    }
    void Join()
    {
        if (m_thread.joinable())
            m_thread.join();
    }
    // What the last look at the ports said of this one: there (its device may have changed) or not.
    void Seen(const WatchedPort* port)
    {
        m_present = port != nullptr;
        if (port == nullptr)
            return;
        std::lock_guard<std::mutex> lock(m_portMutex);
        m_status.port.device = port->device;
    }
    bool Ended() const { return m_ended; }
    bool Flashing() const { return m_flashing; }

    void OnTraceText(const std::vector<char>&) override {}
    void OnTraceHex(const std::vector<char>&) override {}
    bool OnProgress(const std::wstring& caption, int done, int total, bool percent) override;
    void OnImageStart(int image, const std::wstring& path, int frames, std::size_t bytes) override;
    bool OnWriteProgress(int done, int total) override;
    void OnProgressEnd() override {}
    // Shown once the run has let go of the port and the record is on disk.
    void ShowOutcome(const UpgradeResult&) override {}
    bool OnWait() override;
    std::wstring OnRadioSeen(const UpgradeResult& result) override;
    void OnAttemptFailed(UpgradeStage stage, int block, AttemptFailure why, const std::vector<char>& answer,
                         int left) override;

private:
    void Loop();
    void Serve();
    // Until the radio has left; what a new radio put on meanwhile said, its menu with it, if one was.
    // held: the radio is known to be still there, at its menu.
    std::vector<char> Settle(bool held);
    // A radio's menu was seen: it is being flashed from now on.
    void Arrived();
    // Until the operator takes the port back, or it is unplugged and plugged again; false when
    // it is let go (unplugged for good, or the station ends).
    bool Quarantine();
    // Where this radio's upgrade is, for the journal: the stage, not each block.
    void Stage(const std::string& stage);
    bool StopListening() const;
    WatchedPort Port();
    void Enter(PortState state);
    void Send();

    CStationRun& m_station;
    const bool m_named;
    std::atomic<bool> m_present{true};
    std::atomic<bool> m_ended{false};
    std::atomic<bool> m_flashing{false};
    std::mutex m_portMutex; // m_status.port's device changes under the main loop
    StationPortStatus m_status;
    bool m_shown = false;
    std::uint64_t m_radioStartMs = 0;
    WallClock::time_point m_radioStart;
    std::uint64_t m_imageStartMs = 0;
    bool m_repeat = false;               // this radio's ID already succeeded
    std::optional<std::string> m_lastId; // of the radio before, to know the next one by
    int m_number = 0;                    // this radio's number in the run, once its start is on disk
    int m_failedInRow = 0;               // radios that failed on this port since its last success
    bool m_lastDone = false;             // the last radio succeeded (or was known done)
    bool m_held = false;                 // the run ended at the menu of the radio just done
    bool m_unrecorded = false;           // the run ended before its start could be recorded
    std::string m_stage;                 // the stage last put in the journal
    std::thread m_thread;
};

class CStationRun
{
public:
    CStationRun(const StationOptions& options, IStationView& view, IStationClock& clock, const std::atomic<int>& stops)
        : m_options(options), m_view(view), m_clock(clock), m_stops(stops)
    {
        for (const auto& image : *options.request.images)
        {
            m_images.push_back({{"role", image.code == kImageApp ? "app" : "rcdb"},
                                {"name", WideToUtf8(BaseNameOf(image.path))},
                                {"path", WideToUtf8(image.path)},
                                {"size", image.bytes->size()},
                                {"sha256", Sha256Hex(image.bytes->data(), image.bytes->size())}});
            m_files.push_back({image.path, FileStamp(image.path)});
        }
        m_digests = Digests(m_images);
        // The time the run began and a random part: unique to this run, and sorted by time.
        char run[64];
        std::snprintf(run, sizeof run, "%s-%08x", IsoUtc(clock.Wall()).c_str(),
                      static_cast<unsigned>(std::random_device{}()));
        m_runId = run;
        if (!options.recordPath.empty())
            m_journalPath = options.recordPath + L".journal";
    }

    StationEnd Run();
    // Read by the workers too, so a stop takes effect at a radio's next step.
    bool Accepting() const { return m_accepting && m_stops.load() < 1; }
    bool Cancelled() const { return m_stops.load() >= 2; }
    // Before the first byte goes to a radio: its start on disk. Its number in the run, or 0 when
    // the record cannot be written (then the radio is not flashed).
    int Started(WatchedPort port, WallClock::time_point start, const UpgradeResult& result, bool repeat);
    // Where radio number is, for the journal that tells an interrupted radio's last stage.
    void Journal(int number, const std::string& stage);
    // The radio's record on disk, then its outcome shown.
    void Record(WatchedPort port, WallClock::time_point start, std::uint64_t startMs, const UpgradeResult& result,
                bool repeat, int number);
    // Where and when a radio of this ID succeeded, in this run or an earlier one of the record.
    std::optional<FlashedRadio> FlashedBefore(const std::string& id);

    const StationOptions& m_options;
    IStationView& m_view;
    IStationClock& m_clock;

private:
    struct FileSeen
    {
        std::wstring path;
        std::string stamp; // its size and time when read
    };
    static std::string FileStamp(const std::wstring& path);
    // The SHA-256 of each image of a record line's images.
    static std::set<std::string> Digests(const nlohmann::json& images);
    bool OpenRecord();
    // What the record says of earlier runs: radios that succeeded, radios never ended.
    void ReadBack();
    // The line's fields every line has: who, where, with what.
    void Stamp(nlohmann::json& line) const;
    bool Append(const std::string& line);
    void RecordFailed(const std::string& why, const std::string& line);
    void WriteJournal();
    void CheckImages();
    void Watch();
    int FlashingCount() const;
    void Finishing(const std::string& why);

    const std::atomic<int>& m_stops;
    std::atomic<bool> m_accepting{true}; // no limit reached, the record writable
    std::mutex m_mutex;                  // the record, the journal, the tally and the radios
    CLineFile m_record;
    std::string m_runId;
    std::wstring m_journalPath;
    std::map<int, nlohmann::json> m_journal; // the radios under way, by number
    int m_starts = 0;
    nlohmann::json m_images = nlohmann::json::array();
    std::set<std::string> m_digests; // of this run's images
    std::vector<FileSeen> m_files;
    StationTally m_tally;
    std::vector<StationRadio> m_radios;
    std::map<std::string, FlashedRadio> m_flashed;             // by radio ID, as the record has it (escaped)
    std::string m_limitReached;                                // why no new radios are taken, for the main loop to say
    std::map<std::string, std::unique_ptr<CWorker>> m_workers; // the main loop's alone
};

bool CWorker::StopListening() const { return !m_station.Accepting() || !m_present; }

WatchedPort CWorker::Port()
{
    std::lock_guard<std::mutex> lock(m_portMutex);
    return m_status.port;
}

void CWorker::Enter(PortState state)
{
    if (m_shown && state == m_status.state)
        return;
    m_status.state = state;
    m_status.since = m_station.m_clock.Wall();
    Send();
}

void CWorker::Send()
{
    m_shown = true;
    StationPortStatus status;
    {
        std::lock_guard<std::mutex> lock(m_portMutex);
        status = m_status;
    }
    m_station.m_view.OnPort(status);
}

void CWorker::Loop()
{
    try
    {
        Serve();
    }
    catch (const std::exception& e)
    {
        // A worker never ends the program; its port was closed with its run.
        m_station.m_view.OnNote(m_status.port.key + ": " + e.what());
    }
    Enter(PortState::Gone);
    m_ended = true;
}

void CWorker::Serve()
{
    const DWORD pollMs = m_station.m_options.pollMs;
    std::vector<char> heard;
    while (m_station.Accepting())
    {
        if (!m_present)
        {
            Enter(PortState::Absent);
            if (!m_named)
                return; // unplugged: let go; a new worker takes it if it comes back
            m_station.m_clock.Sleep(pollMs);
            continue;
        }
        const WatchedPort port = Port();
        UpgradeRequest request = m_station.m_options.request;
        request.device = port.device;
        // A radio that restarts with its own USB port may come back as another device: its
        // place keeps its name.
        request.reopenDevice = port.key.rfind('/', 0) == 0 ? Utf8ToWide(port.key) : port.device;
        request.listenUntilMenu = true;
        request.heard = std::move(heard);
        heard.clear();
        if (spdlog::get(port.key))
            request.logger = port.key;
        m_flashing = false;
        const UpgradeResult result = RunUpgrade(request, *this, m_station.m_options.makePort);
        if (m_held)
        {
            // Nothing to record: the same radio, waiting to be unplugged.
            m_held = false;
            heard = Settle(true);
            continue;
        }
        if (!m_flashing)
        {
            // No radio: the port did not open, went away while listening, or listening was stopped.
            if (result.stage == UpgradeStage::Open)
            {
                const bool missing = result.error == ERROR_FILE_NOT_FOUND || result.error == ERROR_PATH_NOT_FOUND;
                m_status.reason = missing ? std::string() : WideToUtf8(result.message);
                Enter(missing ? PortState::Absent : PortState::CannotOpen);
            }
            else if (result.portGone)
                Enter(PortState::Absent);
            // Tried again at the next look, never in a busy loop.
            if (!StopListening())
                m_station.m_clock.Sleep(pollMs);
            continue;
        }
        m_flashing = false;
        m_lastId = result.radioId;
        if (m_unrecorded)
        {
            // Left untouched: the station takes no radio it cannot record.
            m_unrecorded = false;
            m_status.reason = "not flashed: the record cannot be written";
            return;
        }
        m_station.Record(port, m_radioStart, m_radioStartMs, result, m_repeat, m_number);
        m_number = 0;
        const int code = RunExitCode(result, 0);
        m_lastDone = code == kExitSuccess;
        if (code == kExitSuccess && result.outcome != UpgradeOutcome::AlreadyFlashed)
            m_failedInRow = 0;
        else if (code != kExitSuccess && !result.cancelled)
            ++m_failedInRow;
        m_status.failedInRow = m_failedInRow;
        if (m_station.Cancelled())
            return;
        heard = Settle(false);
        const int quarantine = m_station.m_options.quarantine;
        if (quarantine > 0 && m_failedInRow >= quarantine)
        {
            heard.clear();
            if (!Quarantine())
                return;
        }
    }
}

// The radio that has its outcome must leave before another is listened for: the line quiet for the
// settle time (what comes meanwhile, its menu again or its restart, is dropped), or the port gone.
// A menu that names another radio than the last is the next radio, put on quickly: its text goes
// to the next run.
std::vector<char> CWorker::Settle(bool held)
{
    m_status.menuAgain = held;
    Enter(PortState::Settling);
    IStationClock& clock = m_station.m_clock;
    const auto& pattern = m_station.m_options.request.patterns.radioId;
    std::shared_ptr<ISerialPort> port;
    std::vector<char> next;
    try
    {
        port = m_station.m_options.makePort();
        port->Open(Port().device.c_str(), 115200, NOPARITY, 8, ONESTOPBIT, FlowNone, TRUE);
        // Reads only look; the clock paces the looks.
        COMMTIMEOUTS timeouts{};
        timeouts.ReadTotalTimeoutConstant = 1;
        timeouts.WriteTotalTimeoutConstant = 1000;
        port->SetTimeouts(timeouts);
        const std::unique_ptr<void, BOOL (*)(HANDLE)> event(CreateEventW(nullptr, TRUE, FALSE, nullptr),
                                                            [](HANDLE h) { return CloseHandle(h); });
        std::uint64_t quietSince = clock.NowMs();
        CRadioText text;
        while (m_station.Accepting() && m_present && clock.NowMs() - quietSince < m_station.m_options.settleMs)
        {
            std::vector<char> got;
            if (ReadSerialAvailable(port.get(), event.get(), got) > 0)
            {
                quietSince = clock.NowMs();
                text.Add(got.data(), got.size());
                if (Kd7v001YmodemControl::IsMainMenu(std::vector<char>(text.Window().begin(), text.Window().end())))
                {
                    const auto id = pattern ? FindRadioId(*pattern, text.Window()) : std::nullopt;
                    if (id && m_lastId && *id != *m_lastId)
                    {
                        next.assign(text.Window().begin(), text.Window().end());
                        break;
                    }
                    if (!m_status.menuAgain)
                    {
                        m_status.menuAgain = true;
                        Send();
                    }
                    // What follows is a new radio's text, or this one's again.
                    text.Clear();
                }
            }
            clock.Sleep(kSettleStepMs);
        }
    }
    catch (const CSerialException&)
    {
        // The port went away with the radio: nothing left to wait for.
    }
    if (port)
        port->Close();
    return next;
}

bool CWorker::Quarantine()
{
    CPortReleases* releases = m_station.m_options.releases;
    const std::string key = Port().key;
    if (releases != nullptr)
        releases->Take(key); // a release before it came does not count
    Enter(PortState::Quarantined);
    bool unplugged = false;
    while (m_station.Accepting())
    {
        if (!m_present && !m_named)
        {
            Enter(PortState::Absent); // as any unplugged port, not as one the station let go
            return false;             // a new worker takes it, afresh, when it comes back
        }
        unplugged = unplugged || !m_present;
        if ((unplugged && m_present) || (releases != nullptr && releases->Take(key)))
        {
            m_failedInRow = m_status.failedInRow = 0;
            return true;
        }
        m_station.m_clock.Sleep(m_station.m_options.pollMs);
    }
    return false;
}

void CWorker::Arrived()
{
    if (m_flashing)
        return;
    m_flashing = true;
    m_radioStart = m_station.m_clock.Wall();
    m_radioStartMs = m_station.m_clock.NowMs();
    m_status.image.clear();
    m_status.step.clear();
    m_status.bytes = m_status.done = 0;
    m_status.resends = 0;
    Enter(PortState::Flashing);
}

std::wstring CWorker::OnRadioSeen(const UpgradeResult& result)
{
    // The radio done a moment ago, still on its port and at its menu: not a new radio.
    if (result.radioId && m_lastId && *result.radioId == *m_lastId && m_lastDone)
    {
        m_held = true;
        return L"still on its port";
    }
    m_repeat = false;
    m_status.flashedOn.reset();
    m_status.radioId = result.radioId ? EscapeRadioText(*result.radioId) : std::string();
    bool sameImages = false;
    if (result.radioId)
    {
        if (const auto before = m_station.FlashedBefore(m_status.radioId))
        {
            m_repeat = true;
            sameImages = before->sameImages;
            m_status.flashedOn = before->port;
            m_status.flashedAt = before->at;
            m_status.flashedSameImages = sameImages;
        }
    }
    Arrived();
    Send();
    // Already flashed means flashed with these images: a radio flashed before a new release is not.
    if (m_repeat && sameImages && m_station.m_options.once)
        return L"already flashed: " + NarrowToWide(m_status.radioId) +
               L" succeeded with these images before; not "
               L"flashed again";
    // Its start on disk before its first byte, or no byte at all.
    m_number = m_station.Started(Port(), m_radioStart, result, m_repeat);
    if (m_number == 0 && !m_station.m_options.recordPath.empty())
    {
        m_unrecorded = true;
        return L"not flashed: the record cannot be written";
    }
    m_stage = "select";
    return {};
}

void CWorker::Stage(const std::string& stage)
{
    if (m_number == 0 || stage == m_stage)
        return;
    m_stage = stage;
    m_station.Journal(m_number, stage);
}

void CWorker::OnAttemptFailed(UpgradeStage, int, AttemptFailure, const std::vector<char>&, int left)
{
    if (left <= 0)
        return;
    ++m_status.resends;
    Send();
}

bool CWorker::OnProgress(const std::wstring& caption, int done, int total, bool)
{
    if (caption == kCaptionListen)
    {
        Enter(PortState::Waiting); // the port is open and listening
        return StopListening();
    }
    Arrived();
    if (caption == kCaptionLocation)
    {
        m_status.step = LocationStepText(done);
        Stage(done == 4 ? "write" : "select");
        Send();
    }
    else if (caption == kCaptionConfirm)
    {
        Stage("confirm");
        m_status.step =
            "waiting for the radio to confirm (" + std::to_string(done) + " of " + std::to_string(total) + " s left)";
        Send();
    }
    return m_station.Cancelled();
}

void CWorker::OnImageStart(int, const std::wstring& path, int, std::size_t bytes)
{
    m_status.step.clear();
    m_status.image = WideToUtf8(BaseNameOf(path));
    m_status.bytes = bytes;
    m_status.done = 0;
    m_status.seconds = 0;
    m_imageStartMs = m_station.m_clock.NowMs();
    Send();
}

bool CWorker::OnWriteProgress(int done, int total)
{
    Stage(done == 1 ? "header" : done < total ? "block" : "eot");
    m_status.done = BytesBefore(done, total, m_status.bytes);
    m_status.seconds = static_cast<double>(m_station.m_clock.NowMs() - m_imageStartMs) / 1000.0;
    Send();
    return m_station.Cancelled();
}

bool CWorker::OnWait() { return m_flashing ? m_station.Cancelled() : StopListening(); }

std::set<std::string> CStationRun::Digests(const nlohmann::json& images)
{
    std::set<std::string> digests;
    if (images.is_array())
        for (const auto& image : images)
            if (image.is_object())
                digests.insert(image.value("sha256", ""));
    return digests;
}

std::string CStationRun::FileStamp(const std::wstring& path)
{
    std::error_code ec;
    const auto fsPath = PathFromWide(path);
    const auto size = std::filesystem::file_size(fsPath, ec);
    const auto time = std::filesystem::last_write_time(fsPath, ec);
    return std::to_string(size) + "/" + std::to_string(time.time_since_epoch().count());
}

bool CStationRun::OpenRecord()
{
    if (m_options.recordPath.empty())
        return true;
    std::string error;
    std::size_t cut = 0, ended = 0;
    // Another file named by mistake is never appended to, nor cut; a whole line without its end
    // is a radio's record all the same.
    const auto whole = [](const std::string& line) {
        const auto json = nlohmann::json::parse(line, nullptr, false);
        return json.is_object() && json.contains("outcome");
    };
    if (!IsRecordFile(m_options.recordPath, error) || !m_record.Open(m_options.recordPath, error, cut, ended, whole))
    {
        m_tally.recordError = error;
        return false;
    }
    if (cut > 0)
        m_view.OnNote("the record's last line was torn (the station before was stopped while writing it): its " +
                      std::to_string(cut) + (cut == 1 ? " byte was" : " bytes were") + " removed");
    if (ended > 0)
        m_view.OnNote("the record's last line lacked only its line end: it was given one and kept");
    ReadBack();
    return true;
}

void CStationRun::ReadBack()
{
    // The radios started and never ended, by run and number, and the journal's last word on each.
    std::map<std::pair<std::string, long long>, nlohmann::json> open;
    std::string why;
    ScanRecord(
        m_options.recordPath,
        [this, &open](const RecordLine& line) {
            if (line.json == nullptr)
                return;
            const auto& json = *line.json;
            const std::string outcome = json.value("outcome", "");
            const auto run = json.find("run_id");
            const auto number = json.find("radio");
            if (run != json.end() && run->is_string() && number != json.end() && number->is_number_integer())
            {
                const auto key = std::make_pair(run->get<std::string>(), number->get<long long>());
                if (outcome == "started")
                    open[key] = json;
                else
                    open.erase(key);
            }
            const auto id = json.find("radio_id");
            const auto port = json.find("port");
            const auto end = ParseUtcTime(json.value("end", ""));
            if (outcome != "success" || id == json.end() || !id->is_string() || !end)
                return;
            FlashedRadio flashed;
            flashed.at =
                WallClock::time_point(std::chrono::duration_cast<WallClock::duration>(std::chrono::milliseconds(*end)));
            if (port != json.end() && port->is_string())
                flashed.port.key = port->get<std::string>();
            flashed.port.device = Utf8ToWide(json.value("device", ""));
            FlashedRadio& known = m_flashed[id->get<std::string>()];
            flashed.sameImages = known.sameImages || Digests(json.value("images", nlohmann::json())) == m_digests;
            known = flashed;
        },
        why);
    if (open.empty())
        return;
    std::map<std::pair<std::string, long long>, nlohmann::json> stages;
    if (!m_journalPath.empty())
        ScanRecord(
            m_journalPath,
            [&stages](const RecordLine& line) {
                if (line.json != nullptr && line.json->contains("run_id") && line.json->contains("radio"))
                    stages[{line.json->value("run_id", ""), line.json->value("radio", 0LL)}] = *line.json;
            },
            why);
    for (auto& [key, line] : open)
    {
        const auto known = stages.find(key);
        if (known != stages.end())
            for (const char* field : {"stage", "block", "image"})
                line[field] = known->second.value(field, nlohmann::json(nullptr));
        const std::string stage =
            line.value("stage", nlohmann::json(nullptr)).is_string() ? line.value("stage", "") : std::string("start");
        line["outcome"] = "interrupted";
        line["end"] = IsoUtc(m_clock.Wall());
        line["message"] = "interrupted: the station ended during this radio's upgrade";
        line["detail"] = "the last stage known: " + stage + "; the radio needs a new upgrade";
        line["cancelled"] = false;
        const std::string text = line.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
        std::string error;
        if (!m_record.Append(text + "\n", error))
        {
            RecordFailed(error, text);
            return;
        }
        const std::string id = line.value("radio_id", nlohmann::json(nullptr)).is_string()
                                   ? " (" + line.value("radio_id", "") + ")"
                                   : std::string();
        m_view.OnNote("radio " + std::to_string(key.second) + " on " + line.value("port", "?") + id +
                      " was being flashed when the station before ended (at " + stage + ", started " +
                      line.value("start", "?") + "): it needs a new upgrade");
    }
}

void CStationRun::Stamp(nlohmann::json& line) const
{
    line["run_id"] = m_runId;
    line["station_id"] = m_options.stationId;
    line["operator"] = m_options.operatorName ? nlohmann::json(*m_options.operatorName) : nlohmann::json(nullptr);
    line["images"] = m_images;
    line["version"] = m_options.version;
}

bool CStationRun::Append(const std::string& line)
{
    std::string error;
    if (!m_record.IsOpen() || m_record.Append(line + "\n", error))
        return true;
    RecordFailed(error, line);
    return false;
}

int CStationRun::Started(WatchedPort port, WallClock::time_point start, const UpgradeResult& result, bool repeat)
{
    if (port.byId.empty())
        DescribePort(port);
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_tally.recordError.empty())
        return 0;
    const int number = ++m_starts;
    nlohmann::json line = {
        {"outcome", "started"},
        {"radio", number},
        {"start", IsoUtc(start)},
        {"port", port.key},
        {"device", WideToUtf8(port.device)},
        {"by_id", port.byId.empty() ? nlohmann::json(nullptr) : nlohmann::json(port.byId)},
        {"usb_serial", port.serial.empty() ? nlohmann::json(nullptr) : nlohmann::json(port.serial)},
        {"radio_id", result.radioId ? nlohmann::json(EscapeRadioText(*result.radioId)) : nlohmann::json(nullptr)},
        {"menu_text", EscapeRadioText(result.menuText)},
        {"repeat", repeat},
        {"stage", "select"}};
    Stamp(line);
    if (!Append(line.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace)))
        return 0;
    m_journal[number] = {{"run_id", m_runId}, {"radio", number}, {"stage", "select"}};
    WriteJournal();
    return number;
}

void CStationRun::Journal(int number, const std::string& stage)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const auto found = m_journal.find(number);
    if (found == m_journal.end())
        return;
    found->second["stage"] = stage;
    WriteJournal();
}

void CStationRun::WriteJournal()
{
    // Rewritten whole at each stage, never synced: a station killed leaves it for the next one to
    // read, and a power cut that loses it leaves the start line's stage.
    if (m_journalPath.empty())
        return;
    std::string text;
    for (const auto& [number, entry] : m_journal)
        text += entry.dump() + "\n";
    std::ofstream(PathFromWide(m_journalPath), std::ios::binary | std::ios::trunc) << text;
}

void CStationRun::CheckImages()
{
    if (!m_tally.imageChanged.empty())
        return;
    for (const auto& file : m_files)
    {
        if (FileStamp(file.path) == file.stamp)
            continue;
        std::lock_guard<std::mutex> lock(m_mutex);
        m_tally.imageChanged = WideToUtf8(BaseNameOf(file.path));
        m_view.OnNote(m_tally.imageChanged +
                      " changed on disk since the station read it: the station goes on flashing the image it read "
                      "at its start (its SHA-256 is in every record line)");
        return;
    }
}

std::optional<FlashedRadio> CStationRun::FlashedBefore(const std::string& id)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const auto found = m_flashed.find(id);
    if (found == m_flashed.end())
        return std::nullopt;
    return found->second;
}

void CStationRun::RecordFailed(const std::string& why, const std::string& line)
{
    const bool first = m_tally.recordError.empty();
    if (first)
        m_tally.recordError = why;
    // No radio is taken that could not be recorded; those under way finish, and no line is lost
    // unsaid.
    m_accepting = false;
    m_view.OnNote((first ? "the record " + WideToUtf8(m_options.recordPath) + " cannot be written (" + why +
                               "): no new radio is taken; the radios under way finish. "
                         : std::string()) +
                  "This line is not in it: " + line);
}

void CStationRun::Record(WatchedPort port, WallClock::time_point start, std::uint64_t startMs,
                         const UpgradeResult& result, bool repeat, int number)
{
    if (port.byId.empty())
        DescribePort(port);
    StationRadio radio;
    radio.port = std::move(port);
    radio.start = start;
    radio.end = m_clock.Wall();
    radio.seconds = static_cast<double>(m_clock.NowMs() - startMs) / 1000.0;
    radio.result = result;
    radio.repeat = repeat;
    const int code = RunExitCode(result, 0);
    radio.outcome = OutcomeName(result, 0);
    const bool already = result.outcome == UpgradeOutcome::AlreadyFlashed;

    nlohmann::json line = ResultJson(result);
    line["outcome"] = radio.outcome;
    line["start"] = IsoUtc(radio.start);
    line["end"] = IsoUtc(radio.end);
    line["duration_s"] = static_cast<double>(static_cast<long long>(radio.seconds * 1000.0 + 0.5)) / 1000.0;
    line["port"] = radio.port.key;
    line["device"] = WideToUtf8(radio.port.device);
    line["by_id"] = radio.port.byId.empty() ? nlohmann::json(nullptr) : nlohmann::json(radio.port.byId);
    line["usb_serial"] = radio.port.serial.empty() ? nlohmann::json(nullptr) : nlohmann::json(radio.port.serial);
    line["repeat"] = repeat;
    Stamp(line);

    std::lock_guard<std::mutex> lock(m_mutex);
    // A radio never started (not flashed again) is numbered as it ends.
    radio.number = number > 0 ? number : ++m_starts;
    line["radio"] = radio.number;
    radio.record = line.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
    Append(radio.record);
    if (m_journal.erase(radio.number) > 0)
        WriteJournal();
    if (auto log = spdlog::get(m_options.request.logger))
        log->log(spdlog::source_loc{__FILE__, __LINE__, "Record"}, spdlog::level::info, "station radio: {}",
                 radio.record);
    ++(already                  ? m_tally.already
       : code == kExitSuccess   ? m_tally.flashed
       : radio.result.cancelled ? m_tally.cancelled
                                : m_tally.failed);
    if (code == kExitSuccess && !already && result.radioId)
        m_flashed[EscapeRadioText(*result.radioId)] = {radio.port, radio.end, true};
    m_radios.push_back(radio);
    m_view.OnRadio(radio, m_tally);
    const bool counted = m_options.count > 0 && m_tally.flashed >= m_options.count;
    const bool limited = m_options.radioLimit > 0 && static_cast<int>(m_radios.size()) >= m_options.radioLimit;
    if ((counted || limited) && m_accepting.exchange(false))
    {
        const int n = counted ? m_tally.flashed : static_cast<int>(m_radios.size());
        m_limitReached =
            std::to_string(n) + (n == 1 ? " radio " : " radios ") + (counted ? "flashed" : "done") + ": no new radios";
    }
}

int CStationRun::FlashingCount() const
{
    int flashing = 0;
    for (const auto& entry : m_workers)
        flashing += entry.second->Flashing() ? 1 : 0;
    return flashing;
}

void CStationRun::Finishing(const std::string& why)
{
    const int flashing = FlashingCount();
    if (flashing == 0)
        m_view.OnNote(why);
    else
        m_view.OnNote(why + "; finishing " + std::to_string(flashing) + (flashing == 1 ? " radio" : " radios") + "; " +
                      m_options.stopAgain + " again to stop " + (flashing == 1 ? "it" : "them"));
}

void CStationRun::Watch()
{
    std::vector<WatchedPort> ports = m_options.named;
    if (m_options.watcher != nullptr)
    {
        auto more = m_options.watcher->List();
        ports.insert(ports.end(), more.begin(), more.end());
    }
    // Named ports first: a device that is also named is not a port of its own under another name.
    std::map<std::string, const WatchedPort*> seen;
    std::set<std::string> devices;
    for (const auto& port : ports)
    {
        if (devices.insert(DeviceIdentity(port.device)).second)
            seen.emplace(port.key, &port);
    }
    for (auto it = m_workers.begin(); it != m_workers.end();)
    {
        const auto found = seen.find(it->first);
        // A worker that let go of its port makes way for a new one when the port comes back.
        if (it->second->Ended() && (found == seen.end() || Accepting()))
        {
            it->second->Join();
            it = m_workers.erase(it);
            continue;
        }
        it->second->Seen(found == seen.end() ? nullptr : found->second);
        ++it;
    }
    if (!Accepting())
        return;
    for (const auto& [key, port] : seen)
    {
        if (m_workers.count(key) != 0)
            continue;
        bool named = false;
        for (const auto& name : m_options.named)
            named = named || name.key == key;
        if (auto base = spdlog::get(m_options.request.logger); base && !spdlog::get(key))
            spdlog::register_logger(base->clone(key));
        auto worker = std::make_unique<CWorker>(*this, *port, named);
        try
        {
            worker->Start();
        }
        catch (const std::system_error& e)
        {
            // The system gives no more threads: this port waits for the next look.
            m_view.OnNote(key + ": cannot start its worker (" + e.what() + ")");
            continue;
        }
        m_workers.emplace(key, std::move(worker));
    }
}

StationEnd CStationRun::Run()
{
    m_tally.start = m_clock.Wall();
    // The record before any port: a station that cannot record takes no radio.
    if (!OpenRecord())
        return {{}, m_tally, m_tally.recordError};
    int said = 0; // the stop requests said so far
    for (;;)
    {
        const int requests = m_stops.load();
        if (requests >= 1 && said < 1)
            Finishing("stop: no new radios");
        if (requests >= 2 && said < 2)
        {
            const int flashing = FlashingCount();
            if (flashing > 0)
                m_view.OnNote("stopping " + std::to_string(flashing) + (flashing == 1 ? " radio" : " radios") +
                              ": each needs a new upgrade");
        }
        said = std::max(said, std::min(requests, 2));
        std::string limit;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            limit.swap(m_limitReached);
        }
        if (!limit.empty())
            Finishing(limit);
        CheckImages();
        Watch();
        bool ended = true;
        for (const auto& entry : m_workers)
            ended = ended && entry.second->Ended();
        if (!Accepting() && ended)
            break;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_view.OnTick(m_tally);
        }
        m_clock.Sleep(m_options.pollMs);
    }
    for (auto& entry : m_workers)
        entry.second->Join();
    std::lock_guard<std::mutex> lock(m_mutex);
    // Every radio ended and recorded: nothing for a next station to find in the journal.
    std::error_code ec;
    if (!m_journalPath.empty() && m_journal.empty())
        std::filesystem::remove(PathFromWide(m_journalPath), ec);
    return {m_radios, m_tally, {}};
}
} // namespace

void CPortReleases::Release(const std::string& key)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_released.insert(key);
}

void CPortReleases::ReleaseAll()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    ++m_all;
}

bool CPortReleases::Take(const std::string& key)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    int& seen = m_allSeen[key];
    const bool all = seen < m_all;
    seen = m_all;
    return m_released.erase(key) > 0 || all;
}

IStationClock& SystemClock()
{
    static CSystemClock clock;
    return clock;
}

StationEnd RunStation(const StationOptions& options, IStationView& view, IStationClock& clock,
                      const std::atomic<int>& stops)
{
    CStationRun station(options, view, clock, stops);
    return station.Run();
}
