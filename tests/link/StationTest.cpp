// The station against a bench of scripted ports: radios in turn on each, a watcher that sees ports
// come and go, and a clock that moves only when the station waits.
#include "app/Station.h"
#include "platform/Digest.h"
#include "platform/Text.h"

#include "../support/FakeRadioPort.h"
#include "../support/TestSupport.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <map>
#include <set>
#include <memory>
#include <mutex>
#include <sstream>
#include <thread>

namespace
{
const std::string kMenu = "\r\n  Main Menu\r\n";

// Settle times and polls pass at once; a real millisecond keeps the waiting loops from spinning.
// A station still going after a real minute is stopped, so a fault fails the test, not hangs it.
class CFakeClock : public IStationClock
{
public:
    explicit CFakeClock(std::atomic<int>& stops) : m_stops(stops) {}
    std::uint64_t NowMs() override { return m_now; }
    std::chrono::system_clock::time_point Wall() override
    {
        return std::chrono::system_clock::time_point(std::chrono::milliseconds(m_now.load()));
    }
    void Sleep(DWORD milliseconds) override
    {
        m_now += milliseconds;
        if (std::chrono::steady_clock::now() - m_started > std::chrono::minutes(1))
            m_stops = 2;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    std::atomic<std::uint64_t> m_now{1700000000000};
    std::atomic<int>& m_stops;
    const std::chrono::steady_clock::time_point m_started = std::chrono::steady_clock::now();
};

struct BenchRadio
{
    RadioFaults faults;
    std::string serial;       // named above its menu
    int repeats = 0;          // after its write command, its menu again this many times, a second apart
    bool unplugAfter = false; // the port goes with it and comes back with the next radio
    long stopAt = -1;         // at this data block, stop requests come
    int stops = 1;
};

// One port of the bench: its radios in turn, each a strict receiver that shows its menu whenever
// the port is opened until the host talks to it.
class CBenchDevice
{
public:
    CBenchDevice(std::vector<BenchRadio> script, CFakeClock& clock, std::atomic<int>& stops, std::uint64_t appearsAt)
        : m_script(std::move(script)), m_clock(clock), m_stops(stops), m_backAt(appearsAt)
    {
    }

    bool Present()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_clock.NowMs() >= m_backAt;
    }
    void Opened(CFakeRadioPort& port)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_clock.NowMs() < m_backAt)
            throw CSerialException(ERROR_FILE_NOT_FOUND);
        if (m_done && m_repeats == 0)
            Next();
        if (m_radio && !m_talked)
            port.Push(Menu());
        Repeat(port);
    }
    // Between reads: the menu a done radio repeats.
    void Repeat(CFakeRadioPort& port)
    {
        if (m_done && m_repeats > 0 && m_clock.NowMs() >= m_nextRepeat)
        {
            port.Push(Menu());
            --m_repeats;
            m_nextRepeat = m_clock.NowMs() + 1000;
        }
    }
    std::vector<RadioAnswer> Feed(const std::vector<char>& frame)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!m_radio || m_done)
            return {};
        m_talked = true;
        auto answers = m_radio->Feed(frame.data(), frame.size());
        const BenchRadio& now = m_script[m_radios.size() - 1];
        if (now.stopAt >= 0 && m_radio->DataBlocks() >= now.stopAt && !m_stopped)
        {
            m_stopped = true;
            m_stops += now.stops;
        }
        for (const auto& answer : answers)
            if (answer.vanish)
                Unplug();
        if (m_radio->WriteCommandSeen())
        {
            m_done = true;
            m_repeats = now.repeats;
            m_nextRepeat = 0;
        }
        return answers;
    }
    void Closed()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        // A radio the host gave up on is taken away; one that wants it takes the port along.
        if (m_radio && m_talked && !m_done)
            m_done = true;
        if (m_done && !m_radios.empty() && m_script[m_radios.size() - 1].unplugAfter)
            Unplug();
    }
    std::vector<std::shared_ptr<CRadioReceiver>> Radios()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_radios;
    }

    std::mutex m_mutex;

private:
    std::string Menu() const
    {
        const std::string& serial = m_script[m_radios.size() - 1].serial;
        return (serial.empty() ? std::string() : "S/N " + serial + "\r\n") + kMenu;
    }
    void Next()
    {
        m_radio.reset();
        m_done = m_talked = m_stopped = false;
        if (m_radios.size() < m_script.size())
        {
            m_radio = std::make_shared<CRadioReceiver>(m_script[m_radios.size()].faults);
            m_radios.push_back(m_radio);
        }
    }
    void Unplug()
    {
        m_done = true;
        m_repeats = 0;
        m_backAt = m_clock.NowMs() + 3000;
    }

    std::vector<BenchRadio> m_script;
    CFakeClock& m_clock;
    std::atomic<int>& m_stops;
    std::uint64_t m_backAt;
    std::vector<std::shared_ptr<CRadioReceiver>> m_radios;
    std::shared_ptr<CRadioReceiver> m_radio;
    bool m_done = true; // before the first radio: the next one comes at the first open
    bool m_talked = false;
    bool m_stopped = false;
    int m_repeats = 0;
    std::uint64_t m_nextRepeat = 0;
};

using Bench = std::map<std::wstring, std::shared_ptr<CBenchDevice>>;

// A port object of the bench: it finds its device by name when opened.
class CBenchPort : public CFakeRadioPort
{
public:
    explicit CBenchPort(const Bench& bench) : m_bench(bench)
    {
        m_vanishCode = ERROR_INVALID_HANDLE;
        m_timeouts = COMMTIMEOUTS{};
    }
    BOOL Open(const wchar_t* name, DWORD, int, int, int, FlowControlMode, BOOL) override
    {
        const auto found = m_bench.find(name);
        if (found == m_bench.end())
            throw CSerialException(ERROR_FILE_NOT_FOUND);
        m_device = found->second;
        m_device->Opened(*this);
        m_responder = [device = m_device](const std::vector<char>& frame) { return device->Feed(frame); };
        return TRUE;
    }
    BOOL Read(void* buffer, DWORD count, OVERLAPPED& overlapped, DWORD* done) override
    {
        {
            std::lock_guard<std::mutex> lock(m_device->m_mutex);
            m_device->Repeat(*this);
        }
        // The radio that vanished took the port along: reads and the status fail from now on.
        m_failStatus = m_vanished = m_vanished || !m_device->Present();
        return CFakeRadioPort::Read(buffer, count, overlapped, done);
    }
    void Close() override
    {
        CFakeRadioPort::Close();
        if (m_device && m_closeCalls == 1)
            m_device->Closed();
    }

private:
    const Bench& m_bench;
    std::shared_ptr<CBenchDevice> m_device;
};

class CBenchWatcher : public IPortWatcher
{
public:
    explicit CBenchWatcher(const Bench& bench) : m_bench(bench) {}
    std::vector<WatchedPort> List() override
    {
        std::vector<WatchedPort> ports;
        for (const auto& [name, device] : m_bench)
            if (device->Present())
                ports.push_back({WideToUtf8(name), name, {}, {}});
        return ports;
    }

private:
    const Bench& m_bench;
};

class CNoView : public IStationView
{
public:
    // The operator takes a resting port back as soon as it rests.
    void OnPort(const StationPortStatus& status) override
    {
        // A radio left at its menu, seen again and again: enough to know it is not taken again.
        if (status.state == PortState::Settling && status.menuAgain && stops != nullptr && ++held == 3)
            *stops = 2;
        if (status.state != PortState::Quarantined || releases == nullptr)
            return;
        ++quarantined;
        releases->Release(status.port.key);
    }
    CPortReleases* releases = nullptr;
    std::atomic<int> quarantined{0};
    std::atomic<int>* stops = nullptr; // set when radios are left at their menus
    std::atomic<int> held{0};
    void OnRadio(const StationRadio&, const StationTally&) override {}
    void OnNote(const std::string& text) override { notes.push_back(text); }
    std::vector<std::string> notes;
};

struct Port
{
    std::vector<BenchRadio> radios;
    std::uint64_t appearsAt = 0; // in the clock's milliseconds from the start
    bool named = false;          // named on the command line, not found by the watcher
    std::string alias = {};      // also named on the command line under this other name
};

struct Case
{
    const char* name;
    std::vector<Port> ports;
    std::vector<std::vector<std::string>> outcomes; // per port, in order
    int count = 0;
    int quarantine = 0;  // failures in a row before a port rests
    int quarantined = 0; // times a port rested
    bool once = false;   // radios known by their serial number, not flashed again; KD7X-7 was
};

BenchRadio Good() { return {}; }
BenchRadio Known(std::string serial)
{
    BenchRadio radio;
    radio.serial = std::move(serial);
    return radio;
}
BenchRadio Faulty(long silentAfter, long vanishAfter = -1)
{
    BenchRadio radio;
    radio.faults.silentAfter = silentAfter;
    radio.faults.vanishAfter = vanishAfter;
    return radio;
}
} // namespace

TEST(Station, RadiosInTurnOnEveryPortEachRecordedOnce)
{
    CSettingsFile settings("[Device]\ntimeout=20\nlistenInterval=10\nWriteDataFrameInterval=0\nListenUpdateRetry=3\n");
    CTempDir dir;
    WriteBytes(dir.File("app.bin"), RandomImage(3000, 1));
    WriteBytes(dir.File("rcdb.bin"), RandomImage(1200, 2));
    UpgradeRequest request;
    request.appPath = NarrowToWide(dir.File("app.bin"));
    request.rcdbPath = NarrowToWide(dir.File("rcdb.bin"));
    std::vector<UpgradeImage> images;
    UpgradeResult unused;
    ASSERT_TRUE(LoadImages(request, images, unused));
    request.images = std::make_shared<const std::vector<UpgradeImage>>(images);

    BenchRadio repeating = Good();
    repeating.repeats = 4;
    BenchRadio unplugging = Good();
    unplugging.unplugAfter = true;
    BenchRadio stopOnce = Good();
    stopOnce.stopAt = 1;
    BenchRadio stopTwice = stopOnce;
    stopTwice.stops = 2;
    const std::vector<Case> cases{
        {"a port appearing mid-run, a named one that comes late",
         {{{Good(), Good()}}, {{Good()}, 20000}, {{Good()}, 9000, true}},
         {{"success", "success"}, {"success"}, {"success"}}},
        {"a faulty radio among good ones, the port vanishing during one and between two",
         {{{Good(), Faulty(2), Good()}}, {{Faulty(-1, 1), unplugging, Good()}}},
         {{"success", "unable_to_write", "success"}, {"serial_error", "success", "success"}}},
        {"a radio that repeats its menu after its write command is flashed once",
         {{{repeating, Good()}}},
         {{"success", "success"}}},
        {"the first stop lets the radio being flashed finish and ends the listening",
         {{{stopOnce, Good()}}, {{}}},
         {{"success"}, {}}},
        {"the second stop cancels it", {{{stopTwice}}}, {{"cancelled"}}},
        {"the count ends the station", {{{Good(), Good(), Good()}}}, {{"success", "success"}}, 2},
        {"one device named twice is one port", {{{Good(), Good()}, 0, false, "alias/0"}}, {{"success", "success"}}},
        {"a radio known by its ID is not flashed again, nor recorded again while it stays",
         {{{Known("KD7X-7")}}},
         {{"already_flashed"}},
         0,
         0,
         0,
         true},
        {"a port whose radios keep failing rests until the operator takes it back",
         {{{Faulty(2), Faulty(2), Good(), Faulty(2)}}},
         {{"unable_to_write", "unable_to_write", "success", "unable_to_write"}},
         0,
         2,
         1},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.name);
        std::atomic<int> stops{0};
        CFakeClock clock(stops);
        Bench bench;
        StationOptions options;
        options.request = request;
        options.recordPath = PathToWide(dir.Path() / ("record-" + std::to_string(&c - cases.data()) + ".jsonl"));
        // KD7X-7 succeeded with these images on another bench.
        const std::string before =
            c.once ? nlohmann::json{{"outcome", "success"},
                                    {"radio_id", "KD7X-7"},
                                    {"end", "2026-12-09T10:00:00.000Z"},
                                    {"port", "elsewhere"},
                                    {"images",
                                     {{{"sha256", Sha256Hex(images[0].bytes->data(), images[0].bytes->size())}},
                                      {{"sha256", Sha256Hex(images[1].bytes->data(), images[1].bytes->size())}}}}}
                             .dump() +
                         "\n"
                   : std::string();
        WriteText(WideToUtf8(options.recordPath), before);
        options.version = "test";
        options.count = c.count;
        options.quarantine = c.quarantine;
        options.once = c.once;
        if (c.once)
            CompilePattern("S/N (KD7X-[0-9]+)", options.request.patterns.radioId);
        CPortReleases releases;
        options.releases = &releases;
        for (std::size_t i = 0; i < c.ports.size(); ++i)
        {
            const std::wstring name = L"bench/" + std::to_wstring(i);
            bench[name] =
                std::make_shared<CBenchDevice>(c.ports[i].radios, clock, stops, clock.NowMs() + c.ports[i].appearsAt);
            if (c.ports[i].named)
                options.named.push_back({WideToUtf8(name), name, {}, {}});
            if (!c.ports[i].alias.empty())
                options.named.push_back({c.ports[i].alias, name, {}, {}});
            // Without a count the station ends when every radio of the bench has had its turn.
            options.radioLimit += c.count == 0 ? static_cast<int>(c.ports[i].radios.size()) : 0;
            // A radio left at its menu must not make another record: room for one, never used.
            options.radioLimit += c.once ? 1 : 0;
        }
        CBenchWatcher watcher(bench);
        options.watcher = &watcher;
        options.makePort = [&bench] { return std::make_shared<CBenchPort>(bench); };
        CNoView view;
        view.releases = &releases;
        if (c.once)
            view.stops = &stops;
        const StationEnd end = RunStation(options, view, clock, stops);
        EXPECT_EQ(view.quarantined, c.quarantined);

        // Each port's records in order, each matching what its radio got.
        std::vector<std::vector<std::string>> outcomes(c.ports.size());
        std::map<std::string, std::size_t> seen;
        for (const auto& radio : end.radios)
        {
            const std::size_t port = std::stoul(radio.port.key.substr(6));
            const std::size_t k = seen[radio.port.key]++;
            outcomes[port].push_back(radio.outcome);
            const auto radios = bench[radio.port.device]->Radios();
            ASSERT_LT(k, radios.size());
            EXPECT_EQ(radios[k]->WriteCommandSeen(), radio.outcome == "success");
            if (radio.outcome == "success")
            {
                ASSERT_EQ(radios[k]->Images().size(), 2u);
                EXPECT_EQ(radios[k]->Images()[0].data, *images[0].bytes);
                EXPECT_EQ(radios[k]->Images()[1].data, *images[1].bytes);
            }
        }
        EXPECT_EQ(outcomes, c.outcomes);
        for (const auto& [name, device] : bench)
            for (const auto& radio : device->Radios())
                EXPECT_TRUE(radio->Violations().empty());

        // The record: a whole start line per radio before its first byte, an end line as it ended.
        std::istringstream record(ReadText(WideToUtf8(options.recordPath)).substr(before.size()));
        std::string line;
        std::size_t ends = 0;
        std::set<int> started;
        while (std::getline(record, line))
        {
            const auto doc = nlohmann::json::parse(line, nullptr, false);
            ASSERT_FALSE(doc.is_discarded()) << line;
            EXPECT_EQ(doc["images"][0]["sha256"], Sha256Hex(images[0].bytes->data(), images[0].bytes->size()));
            EXPECT_EQ(doc["images"][1]["size"], 1200);
            EXPECT_EQ(doc["version"], "test");
            // One run: one run ID on every line.
            EXPECT_EQ(doc["run_id"], nlohmann::json::parse(end.radios.at(0).record)["run_id"]);
            if (doc["outcome"] == "started")
            {
                EXPECT_TRUE(started.insert(doc["radio"].get<int>()).second) << line;
                continue;
            }
            ASSERT_LT(ends, end.radios.size());
            const StationRadio& radio = end.radios[ends++];
            // A radio not flashed got no byte, so no start.
            EXPECT_EQ(started.count(radio.number), radio.outcome == "already_flashed" ? 0u : 1u) << line;
            EXPECT_EQ(doc["radio"], radio.number);
            EXPECT_EQ(doc["port"], radio.port.key);
            EXPECT_EQ(doc["outcome"], radio.outcome);
        }
        EXPECT_EQ(ends, end.radios.size());
        EXPECT_EQ(started.size(), end.radios.size() - static_cast<std::size_t>(end.tally.already));
        EXPECT_EQ(end.tally.flashed + end.tally.failed + end.tally.cancelled + end.tally.already,
                  static_cast<int>(end.radios.size()));
    }
}

// What a station finds in its record when it starts: radios an earlier station left under way
// get their interrupted line, once; a torn last line is cut, a bad middle line kept; a file it
// cannot use is refused before any port, and nothing is written to it.
TEST(Station, TheRecordNeverLosesARadio)
{
    const std::string start =
        R"({"outcome":"started","run_id":"R1","radio":3,"port":"P","start":"2026-12-09T10:00:00.000Z",)"
        R"("stage":"select","radio_id":"KD7X-000042"})";
    const std::string ended = R"({"outcome":"success","run_id":"R1","radio":3,"port":"P"})";
    const std::string journal = R"({"run_id":"R1","radio":3,"stage":"eot"})";
    struct Case
    {
        const char* name;
        std::string record, journal;
        std::vector<std::string> stages; // of the interrupted lines appended
        std::string refused;             // part of why the record is refused
    };
    const std::vector<Case> cases{
        {"started and never ended: its stage from the journal", start + "\n", journal + "\n", {"eot"}, ""},
        {"without the journal, the start line's stage", start + "\n", "", {"select"}, ""},
        {"ended", start + "\n" + ended + "\n", journal + "\n", {}, ""},
        {"already said interrupted",
         start + "\n" + R"({"outcome":"interrupted","run_id":"R1","radio":3})" + "\n",
         "",
         {},
         ""},
        {"a bad middle line and a torn tail", start + "\nnot json\n" + ended + "\n{\"outc", "", {}, ""},
        {"a README named by mistake", "# Radios\n" + start + "\n", "", {}, "is not a station's record"},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.name);
        CTempDir dir;
        const auto path = dir.Path() / "radios.jsonl";
        WriteText(path.string(), c.record);
        if (!c.journal.empty())
            WriteText(path.string() + ".journal", c.journal);
        std::atomic<int> stops{1}; // no radio: only what the station does with its record
        CFakeClock clock(stops);
        StationOptions options;
        options.request.images = std::make_shared<const std::vector<UpgradeImage>>();
        options.recordPath = PathToWide(path);
        CNoView view;
        const StationEnd end = RunStation(options, view, clock, stops);
        EXPECT_NE(end.refused.find(c.refused), std::string::npos) << end.refused;
        const std::string after = ReadText(path.string());
        if (!c.refused.empty())
        {
            EXPECT_EQ(after, c.record) << "a file refused is left as it is";
            continue;
        }
        const std::string kept = c.record.substr(0, c.record.rfind('\n') + 1);
        ASSERT_EQ(after.substr(0, kept.size()), kept);
        std::istringstream added(after.substr(kept.size()));
        std::vector<std::string> stages;
        for (std::string line; std::getline(added, line);)
        {
            const auto doc = nlohmann::json::parse(line);
            EXPECT_EQ(doc["outcome"], "interrupted");
            EXPECT_EQ(doc["run_id"], "R1");
            EXPECT_EQ(doc["radio"], 3);
            EXPECT_EQ(doc["port"], "P");
            EXPECT_EQ(doc["radio_id"], "KD7X-000042");
            stages.push_back(doc["stage"]);
        }
        EXPECT_EQ(stages, c.stages);
        EXPECT_EQ(std::count_if(
                      view.notes.begin(), view.notes.end(),
                      [](const std::string& note) { return note.find("needs a new upgrade") != std::string::npos; }),
                  static_cast<long>(c.stages.size()));
        EXPECT_FALSE(std::filesystem::exists(path.string() + ".journal")) << "the journal outlives its station";
    }

    // A folder where the record should be, or a folder that does not exist: refused with the reason.
    CTempDir dir;
    for (const auto& path : {dir.Path(), dir.Path() / "missing" / "radios.jsonl"})
    {
        std::atomic<int> stops{1};
        CFakeClock clock(stops);
        StationOptions options;
        options.request.images = std::make_shared<const std::vector<UpgradeImage>>();
        options.recordPath = PathToWide(path);
        CNoView view;
        EXPECT_FALSE(RunStation(options, view, clock, stops).refused.empty()) << path;
    }
}
