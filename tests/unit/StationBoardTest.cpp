#include "app/StationBoard.h"
#include "app/ProgressText.h"
#include "app/StationChoices.h"
#include "platform/Text.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <memory>

namespace
{
using WallClock = std::chrono::system_clock;

WallClock::time_point At(int seconds) { return WallClock::time_point(std::chrono::seconds(seconds)); }

std::string TestClock(WallClock::time_point t)
{
    return "T" + std::to_string(std::chrono::duration_cast<std::chrono::seconds>(t.time_since_epoch()).count());
}

StationPortStatus Status(const std::string& port, PortState state)
{
    StationPortStatus status;
    status.port.key = port;
    status.state = state;
    return status;
}

// A radio's end as the station hands it over: its result and its record line.
StationRadio Radio(const std::string& port, const std::string& outcome, const std::string& id, int start)
{
    StationRadio radio;
    radio.port.key = port;
    radio.start = At(start);
    radio.end = At(start + 46);
    radio.seconds = 46;
    radio.outcome = outcome;
    if (outcome == "unable_to_write")
    {
        radio.result.outcome = UpgradeOutcome::UnableToWrite;
        radio.result.message = L"unable to write to host";
        radio.result.stage = UpgradeStage::Block;
        radio.result.block = 6;
    }
    else if (outcome == "cancelled")
    {
        radio.result.outcome = UpgradeOutcome::UnableToWrite;
        radio.result.message = L"unable to write to host";
        radio.result.cancelled = true;
    }
    else if (outcome == "already_flashed")
    {
        radio.result.outcome = UpgradeOutcome::AlreadyFlashed;
        radio.result.message = L"already flashed: " + std::wstring(id.begin(), id.end()) + L" succeeded before";
    }
    else
        radio.result.message = L"The host writes successfully";
    if (!id.empty())
        radio.result.radioId = id;
    char iso[32];
    std::snprintf(iso, sizeof iso, "1970-01-01T%02d:%02d:%02d.000Z", start / 3600, start / 60 % 60, start % 60);
    nlohmann::json line = {{"outcome", outcome}, {"port", port}, {"start", iso}};
    if (!id.empty())
        line["radio_id"] = id;
    radio.record = line.dump();
    return radio;
}

StationTally Tally(int flashed, int failed, int cancelled = 0)
{
    StationTally tally;
    tally.flashed = flashed;
    tally.failed = failed;
    tally.cancelled = cancelled;
    tally.start = At(1000);
    return tally;
}

CStationBoard Board(const std::vector<std::string>& named = {"COM5"})
{
    CStationBoard board(TestClock);
    board.Start(At(1000), "C:\\bench\\radios.jsonl", named);
    return board;
}
} // namespace

TEST(StationBoard, ATileSaysWhatItsPortDoes)
{
    StationPortStatus flashing = Status("COM5", PortState::Flashing);
    flashing.image = "app.bin";
    flashing.bytes = 450000;
    flashing.done = 225000;
    flashing.resends = 2;
    flashing.radioId = "KD7X-000042";
    StationPortStatus writing = Status("COM5", PortState::Flashing);
    writing.step = "sending the write command";
    writing.image = "rcdb.bin";
    writing.bytes = writing.done = 60000;
    StationPortStatus menu = Status("COM5", PortState::Settling);
    menu.menuAgain = true;
    StationPortStatus busy = Status("COM5", PortState::CannotOpen);
    busy.reason = "Access is denied.";
    StationPortStatus resting = Status("COM5", PortState::Quarantined);
    resting.failedInRow = 3;
    StationPortStatus restingAfterOne = resting;
    restingAfterOne.failedInRow = 1;
    const auto port = [](const StationPortStatus& s) { return [s](CStationBoard& b) { b.Port(s); }; };
    const auto state = [](PortState s) { return [s](CStationBoard& b) { b.Port(Status("COM5", s)); }; };
    const auto radio = [](const char* outcome) {
        return [outcome](CStationBoard& b) { b.Radio(Radio("COM5", outcome, "KD7X-1", 0), Tally(0, 0)); };
    };
    struct Case
    {
        const char* what;
        std::vector<std::function<void(CStationBoard&)>> events;
        const char *state, *detail;
        TileColour colour;
        int percent;
        const char* last;
    };
    const std::string done = "done in 0:46 at T46";
    const std::string failed = "failed at T46: unable to write to host at block 6";
    const std::vector<Case> cases{
        {"before its worker said anything", {}, "waiting", "put a radio on", TileColour::Neutral, -1, ""},
        {"listening", {state(PortState::Waiting)}, "waiting", "put a radio on", TileColour::Neutral, -1, ""},
        {"sending an image", {port(flashing)}, "flashing", "app.bin, 2 resends", TileColour::Flashing, 50, ""},
        {"after the last image",
         {port(writing)},
         "flashing",
         "sending the write command",
         TileColour::Flashing,
         100,
         ""},
        {"its radio done",
         {port(flashing), radio("success"), state(PortState::Settling)},
         "done",
         "unplug it",
         TileColour::Done,
         -1,
         done.c_str()},
        {"done and listening again: the radio may still be on",
         {radio("success"), state(PortState::Settling), state(PortState::Waiting)},
         "done",
         "unplug it",
         TileColour::Done,
         -1,
         done.c_str()},
        {"done and unplugged",
         {radio("success"), state(PortState::Absent), state(PortState::Waiting)},
         "waiting",
         "put a radio on",
         TileColour::Neutral,
         -1,
         done.c_str()},
        {"its radio failed",
         {radio("unable_to_write"), state(PortState::Settling)},
         "failed",
         "unable to write to host at block 6",
         TileColour::Failed,
         -1,
         failed.c_str()},
        {"the next radio after a failure",
         {radio("unable_to_write"), port(flashing)},
         "flashing",
         "app.bin, 2 resends",
         TileColour::Flashing,
         50,
         failed.c_str()},
        {"stopped by the operator",
         {radio("cancelled"), state(PortState::Settling)},
         "stopped",
         "it needs a new upgrade",
         TileColour::Failed,
         -1,
         "stopped at T46: it needs a new upgrade"},
        {"a radio known by its ID",
         {radio("already_flashed")},
         "flashed before",
         "unplug it",
         TileColour::Done,
         -1,
         "not flashed again at T46: already flashed: KD7X-1 succeeded before"},
        {"the radio still shows its menu",
         {radio("success"), port(menu)},
         "unplug it",
         "the radio still shows its menu",
         TileColour::Attention,
         -1,
         done.c_str()},
        {"busy", {port(busy)}, "cannot open", "Access is denied.", TileColour::Attention, -1, ""},
        {"resting",
         {radio("unable_to_write"), port(resting)},
         "check cable",
         "check the cable or fixture (3 radios failed in a row); click or press Space to take it back",
         TileColour::Failed,
         -1,
         failed.c_str()},
        {"resting after one failure",
         {port(restingAfterOne)},
         "check cable",
         "check the cable or fixture (its last radio failed); click or press Space to take it back",
         TileColour::Failed,
         -1,
         ""},
        {"not plugged in", {state(PortState::Absent)}, "not plugged in", "", TileColour::Dim, -1, ""},
        {"the station ended",
         {state(PortState::Absent), state(PortState::Gone)},
         "stopped",
         "",
         TileColour::Dim,
         -1,
         ""},
    };
    for (const auto& c : cases)
    {
        CStationBoard board = Board();
        for (const auto& event : c.events)
            event(board);
        const auto tiles = board.Tiles();
        ASSERT_EQ(tiles.size(), 1u) << c.what;
        const StationTile& tile = tiles[0];
        EXPECT_EQ(tile.port, "COM5") << c.what;
        EXPECT_EQ(tile.state, c.state) << c.what;
        EXPECT_EQ(tile.detail, c.detail) << c.what;
        EXPECT_EQ(tile.colour, c.colour) << c.what;
        EXPECT_EQ(tile.percent, c.percent) << c.what;
        EXPECT_EQ(tile.last, c.last) << c.what;
        EXPECT_EQ(tile.releasable, c.colour == TileColour::Failed && tile.state == "check cable") << c.what;
        EXPECT_EQ(board.Flashing(), tile.state == "flashing") << c.what;
    }
}

TEST(StationBoard, TilesInPortOrderAndAnUnpluggedUsbPortGoes)
{
    CStationBoard board = Board({"COM10"});
    for (const char* port : {"COM9", "COM10", "COM2"})
        board.Port(Status(port, PortState::Waiting));
    const auto names = [&board] {
        std::vector<std::string> ports;
        for (const auto& tile : board.Tiles())
            ports.push_back(tile.port);
        return ports;
    };
    EXPECT_EQ(names(), (std::vector<std::string>{"COM2", "COM9", "COM10"}));
    for (const char* port : {"COM9", "COM10"})
    {
        board.Port(Status(port, PortState::Absent));
        board.Port(Status(port, PortState::Gone));
    }
    // The named port keeps its tile; the one of every USB serial port goes with the adapter.
    EXPECT_EQ(names(), (std::vector<std::string>{"COM2", "COM10"}));
    EXPECT_EQ(board.Tiles()[1].state, "stopped");
}

TEST(StationBoard, TalliesTakeTheFirstPassYieldFromTheRecord)
{
    CStationBoard board = Board();
    StationTallies none = board.Tallies(At(1000));
    EXPECT_EQ(none.yield, "First-pass yield: -");
    EXPECT_EQ(none.perHour, "0 radios/h") << "no rate before a second has passed";

    // B fails, then passes on its second attempt: 2 of 3 radios passed first time.
    struct Step
    {
        const char *outcome, *id;
        StationSound sound;
    };
    const std::vector<Step> steps{{"success", "A", StationSound::Done},  {"unable_to_write", "B", StationSound::Failed},
                                  {"success", "B", StationSound::Done},  {"success", "C", StationSound::Done},
                                  {"cancelled", "", StationSound::None}, {"already_flashed", "A", StationSound::Done}};
    int start = 0;
    for (const auto& step : steps)
        EXPECT_EQ(board.Radio(Radio("COM5", step.outcome, step.id, start += 100), Tally(3, 1, 1)), step.sound)
            << step.outcome;
    StationTally tally = Tally(3, 1, 1);
    tally.already = 1;
    board.Tally(tally);
    StationTallies t = board.Tallies(At(1000 + 3600));
    EXPECT_EQ(t.flashed, "Flashed: 3 (1 not flashed again)");
    EXPECT_EQ(t.failed, "Failed: 1, 1 stopped");
    // The cancelled radio without an ID is an attempt of its own that did not pass.
    EXPECT_EQ(t.yield, "First-pass yield: 50.0 %");
    EXPECT_EQ(t.perHour, "3 radios/h");
    EXPECT_EQ(t.since, "Running since T1000 (1:00:00)");
    EXPECT_EQ(t.record, "Record: C:\\bench\\radios.jsonl");
    EXPECT_FALSE(t.recordFailed);

    tally.recordError = "No space left on device";
    tally.imageChanged = "app.bin";
    board.Tally(tally);
    t = board.Tallies(At(1000 + 60));
    EXPECT_TRUE(t.recordFailed);
    EXPECT_EQ(t.record,
              "Record: C:\\bench\\radios.jsonl cannot be written (No space left on device): no new radio is taken");
    EXPECT_EQ(t.imageChanged, "app.bin changed on disk: the image read at the start goes on");
    EXPECT_EQ(t.perHour, "180 radios/h");

    // A new station counts afresh.
    board.Start(At(5000), "r.jsonl", {});
    EXPECT_EQ(board.Tallies(At(5000)).yield, "First-pass yield: -");
    EXPECT_TRUE(board.Rows().empty());
    EXPECT_TRUE(board.Tiles().empty());

    UpgradeImage image;
    image.path = L"images/app.bin";
    image.bytes = std::make_shared<const std::vector<char>>(std::vector<char>{'a', 'b', 'c'});
    EXPECT_EQ(ImagesText({image, image}),
              "app.bin, 3 bytes, SHA-256 ba7816bf8f01; app.bin, 3 bytes, SHA-256 ba7816bf8f01");
}

TEST(StationBoard, TheListKeepsTheLastFiftyRadiosNewestFirst)
{
    CStationBoard board = Board();
    for (int i = 1; i <= 60; ++i)
        board.Radio(Radio(i % 2 ? "COM5" : "COM6", i % 3 ? "success" : "unable_to_write", "R" + std::to_string(i), i),
                    Tally(0, 0));
    const auto& rows = board.Rows();
    ASSERT_EQ(rows.size(), kStationRows);
    EXPECT_EQ(rows.front().radioId, "R60");
    EXPECT_EQ(rows.back().radioId, "R11");
    const StationRow& failed = rows.front();
    EXPECT_EQ(failed.time, "T106");
    EXPECT_EQ(failed.port, "COM6");
    EXPECT_EQ(failed.outcome, "failed: unable to write to host at block 6");
    EXPECT_EQ(failed.duration, "0:46");
    EXPECT_FALSE(failed.ok);
    EXPECT_EQ(rows[1].outcome, "done");
    EXPECT_TRUE(rows[1].ok);
    EXPECT_EQ(FormatClock(3725), "1:02:05");
}

TEST(StationInbox, OneWakeUntilTheWindowTakesTheEventsInOrder)
{
    int wakes = 0;
    bool posted = true;
    CStationInbox inbox([&] {
        ++wakes;
        return posted;
    });
    CStationBoard board = Board();
    StationPortStatus flashing = Status("COM5", PortState::Flashing);
    for (int i = 0; i < 100; ++i)
        inbox.OnPort(flashing);
    inbox.OnRadio(Radio("COM5", "unable_to_write", "X", 0), Tally(0, 1));
    inbox.OnPort(Status("COM5", PortState::Settling));
    inbox.OnRadio(Radio("COM5", "success", "Y", 100), Tally(1, 1));
    inbox.OnNote("stop: no new radios");
    EXPECT_EQ(wakes, 1) << "one wake-up however many events wait";
    EXPECT_EQ(inbox.Drain(board), (std::vector<StationSound>{StationSound::Failed, StationSound::Done}));
    EXPECT_EQ(board.Tiles()[0].state, "done") << "applied in the order they came";
    EXPECT_EQ(board.Rows().size(), 2u);
    EXPECT_NE(board.LastNote().find("stop: no new radios"), std::string::npos);
    EXPECT_TRUE(inbox.Drain(board).empty());
    inbox.OnTick(Tally(7, 1));
    EXPECT_EQ(wakes, 2) << "the next event after a drain wakes the window again";
    inbox.Drain(board);
    EXPECT_EQ(board.Tallies(At(1000)).flashed, "Flashed: 7");
    // A wake-up the window's queue refused is tried again, or the board would freeze for good.
    posted = false;
    inbox.OnTick(Tally(8, 1));
    posted = true;
    inbox.OnTick(Tally(9, 1));
    inbox.OnTick(Tally(10, 1));
    EXPECT_EQ(wakes, 4);
    inbox.Drain(board);
    EXPECT_EQ(board.Tallies(At(1000)).flashed, "Flashed: 10");
}

TEST(StationSwitches, TheCommandLineOfABenchThatStartsItself)
{
    struct Case
    {
        std::vector<std::wstring> args;
        const wchar_t* error; // the start of the message; empty: none
    };
    const std::vector<Case> bad{
        {{L"/station", L"/bogus"}, L"unknown switch /bogus"},
        {{L"/station", L"stray"}, L"\"stray\" is not a switch"},
        {{L"/station", L"/count"}, L"/count needs a value"},
        {{L"/station", L"/app", L"/start"}, L"/app needs a value"},
        {{L"/station", L"/count", L"x"}, L"/count x: not a whole number"},
        {{L"/station", L"/count", L"-1"}, L"/count -1: not a whole number"},
        {{L"/station", L"/count", L"12abc"}, L"/count 12abc: not a whole number"},
        {{L"/station", L"/count", L"99999999999"}, L"/count 99999999999: not a whole number"},
        {{L"/station", L"/port", L"LPT1"}, L"/port LPT1: not a COM port"},
        {{L"/station", L"/port", L"COM0"}, L"/port COM0: not a COM port"},
        {{L"-STATION", L"-Port", L"MOC5"}, L"-Port MOC5: not a COM port"},
    };
    for (const auto& c : bad)
    {
        const StationSwitches got = ParseStationSwitches(c.args);
        EXPECT_TRUE(got.station);
        EXPECT_EQ(got.error.rfind(c.error, 0), 0u) << WideToUtf8(got.error);
    }

    // Without /station the program is the dialog and its command line is not read.
    const StationSwitches dialog = ParseStationSwitches({L"/port", L"LPT1", L"/bogus"});
    EXPECT_FALSE(dialog.station);
    EXPECT_TRUE(dialog.error.empty());

    const StationSwitches bench = ParseStationSwitches({L"/STATION", L"/Port", L"com5", L"-port", L"\\\\.\\COM6",
                                                        L"/port", L"COM5", L"/APP", L"C:\\a b\\app.bin", L"/rcdb",
                                                        L"r.bin", L"/record", L"x.jsonl", L"/count", L"4", L"/Start"});
    EXPECT_TRUE(bench.error.empty()) << WideToUtf8(bench.error);
    ASSERT_TRUE(bench.ports);
    EXPECT_FALSE(bench.ports->every);
    EXPECT_EQ(bench.ports->named, (std::vector<std::string>{"COM5", "COM6"}));
    EXPECT_EQ(bench.app, L"C:\\a b\\app.bin");
    EXPECT_EQ(bench.rcdb, L"r.bin");
    EXPECT_EQ(bench.record, L"x.jsonl");
    EXPECT_EQ(bench.count, 4);
    EXPECT_TRUE(bench.start);

    const StationSwitches open = ParseStationSwitches({L"/station", L"/port", L"AUTO"});
    ASSERT_TRUE(open.ports);
    EXPECT_TRUE(open.ports->every);
    EXPECT_FALSE(open.start || open.app || open.count);
}

TEST(StationSwitches, PortsAsTheSettingsFileKeepsThem)
{
    const StationPorts named = ParsePortsSetting(" COM5, com6,LPT1,,COM5 ");
    EXPECT_FALSE(named.every);
    EXPECT_EQ(named.named, (std::vector<std::string>{"COM5", "COM6"}));
    EXPECT_EQ(PortsSettingText(named), "COM5,COM6");
    EXPECT_TRUE(ParsePortsSetting("auto").every);
    EXPECT_EQ(PortsSettingText(ParsePortsSetting("auto")), "auto");
    EXPECT_TRUE(ParsePortsSetting("").named.empty());
    for (const auto& [text, name] : std::vector<std::pair<std::wstring, std::string>>{{L"COM12", "COM12"},
                                                                                      {L"com05", "COM5"},
                                                                                      {L"\\\\.\\COM7", "COM7"},
                                                                                      {L"COM", ""},
                                                                                      {L"COM256", ""},
                                                                                      {L"COM5x", ""},
                                                                                      {L"5", ""}})
        EXPECT_EQ(ComPortName(text), name) << WideToUtf8(text);
}
