#include "app/RecordReport.h"

#include "../support/TestSupport.h"

#include <gtest/gtest.h>

namespace
{
using Json = nlohmann::json;

std::string At(int day, const std::string& time) { return (day == 1 ? "2026-12-09T" : "2026-12-10T") + time + "Z"; }

std::string Line(const char* outcome, const char* port, const std::string& start, const std::string& end,
                 Json more = Json::object())
{
    Json line = {{"outcome", outcome}, {"port", port}};
    if (!start.empty())
        line["start"] = start;
    if (!end.empty())
        line["end"] = end;
    line.update(more);
    return line.dump() + "\n";
}

const Json kImagesA = Json::array({{{"role", "app"}, {"name", "app-1.bin"}, {"sha256", "a1"}},
                                   {{"role", "rcdb"}, {"name", "rcdb.bin"}, {"sha256", "b2"}}});
const Json kImagesB = Json::array({{{"role", "app"}, {"name", "app-2.bin"}, {"sha256", "c3"}},
                                   {{"role", "rcdb"}, {"name", "rcdb.bin"}, {"sha256", "b2"}}});

// Two days of two station runs and of lines from before runs had IDs: every kind of line, in the
// order stations append them.
std::string TwoDays()
{
    const auto a = [](Json more) {
        more["run_id"] = "A";
        more["images"] = kImagesA;
        return more;
    };
    const auto b = [](Json more) {
        more["run_id"] = "B";
        more["images"] = kImagesB;
        return more;
    };
    return Line("started", "p1", At(1, "08:00:00"), "", {{"run_id", "A"}, {"radio", 1}}) +
           Line("success", "p1", At(1, "08:00:00"), At(1, "08:01:00"), a({{"radio_id", "R1"}, {"duration_s", 60}})) +
           Line("started", "p2", At(1, "08:00:30"), "", {{"run_id", "A"}}) +
           Line("unable_to_write", "p2", At(1, "08:00:30"), At(1, "08:01:40"),
                a({{"radio_id", "R2"}, {"stage", "block"}, {"duration_s", 70}})) +
           "not json {\n" + // line 5
           Line("started", "p2", At(1, "08:02:00"), "", {{"run_id", "A"}}) +
           Line("success", "p2", At(1, "08:02:00"), At(1, "08:03:30"), a({{"radio_id", "R2"}, {"duration_s", 90}})) +
           // Never ended: the next run finds it interrupted.
           Line("started", "p1", At(1, "09:00:00"), "", {{"run_id", "A"}, {"radio_id", "R7"}}) +
           Line("already_flashed", "p1", At(1, "08:30:00"), At(1, "08:30:05"),
                {{"run_id", "A"}, {"radio_id", "R1"}, {"repeat", true}}) +
           Line("cancelled", "p1", At(1, "08:40:00"), At(1, "08:40:20"), a({{"stage", "header"}, {"duration_s", 20}})) +
           Line("success", "p1", At(1, "08:50:00"), At(1, "08:51:00"),
                a({{"radio_id", "R1"}, {"repeat", true}, {"duration_s", 50}})) +
           "[1, 2]\n" + // line 12
           // Lines from before runs had IDs.
           Line("serial_error", "p3", At(1, "12:00:00"), At(1, "12:00:30"),
                {{"stage", "open"}, {"duration_s", 30}, {"images", kImagesA}, {"radio_id", nullptr}}) +
           Line("success", "p3", At(1, "12:29:00"), At(1, "12:30:00"), {{"duration_s", 60}, {"images", kImagesA}}) +
           Line("interrupted", "p1", At(1, "09:00:00"), At(2, "07:00:00"), {{"run_id", "A"}, {"radio_id", "R7"}}) +
           Line("started", "p1", At(2, "07:00:00"), "", {{"run_id", "B"}}) +
           Line("success", "p1", At(2, "07:00:00"), At(2, "07:01:20"),
                b({{"radio_id", "R3"}, {"duration_s", 80}, {"confirmed", true}})) +
           Line("not_confirmed", "p2", At(2, "07:00:10"), At(2, "07:01:10"),
                b({{"radio_id", "R4"}, {"stage", nullptr}, {"duration_s", 60}})) +
           Line("started", "p2", At(2, "07:30:00"), "", {{"run_id", "B"}}) +
           Line("host_not_responding", "p2", At(2, "07:30:00"), At(2, "07:30:40"),
                b({{"radio_id", "R4"}, {"stage", "select"}, {"duration_s", 40}})) +
           Line("success", "p2", At(2, "08:00:00"), At(2, "08:01:30"), b({{"radio_id", "R7"}, {"duration_s", 90}})) +
           Line("success", "p1", At(2, "09:59:00"), At(2, "10:00:00"), b({{"radio_id", "R6"}, {"duration_s", 60}})) +
           // Another station's record appended: R6's earlier attempt comes later in the file.
           Line("unable_to_write", "p4", At(2, "09:00:00"), At(2, "09:01:00"),
                {{"radio_id", "R6"}, {"stage", "eot"}, {"duration_s", 60}, {"images", kImagesA}}) +
           Line("started", "p2", At(2, "09:59:30"), "", {{"run_id", "B"}}) +
           Line("success", "p1", "", "", {{"duration_s", 10}}) + "{\"x\":\"" + std::string(kMaxRecordLine, 'a') +
           "\"}\n" +                                                                            // line 26
           "{\"outcome\":\"success\",\"port\":\"p1\",\"start\":\"" + At(2, "11:00:00") + "\"}"; // torn: line 27
}

RecordReportResult Report(const std::string& record, std::optional<long long> since = std::nullopt)
{
    CTempDir dir;
    WriteText(dir.File("radios.jsonl"), record);
    CRecordReport report(since);
    std::string error;
    // The report's own reading, as the command's: only the fields it uses are built.
    EXPECT_TRUE(ScanRecord(
        PathToWide(dir.Path() / "radios.jsonl"), [&](const RecordLine& l) { report.Add(l); }, error,
        &CRecordReport::Keys()))
        << error;
    return report.Result();
}
} // namespace

// A line read for some of its fields is judged as a whole: it is a record line exactly when it is a
// JSON object, and the fields asked for are those of the full parse.
TEST(RecordFile, ALineReadForSomeFieldsIsJudgedWhole)
{
    const std::vector<std::string> lines{
        R"({"outcome":"success","images":[{"sha256":"ab","size":3}],"menu_text":"a\\r\\n\u00e9","x":-1.5e+3})",
        R"( { "outcome" : "success" , "n" : [ ] , "o" : { } , "t" : true , "f" : false , "z" : null } )",
        R"({})",
        R"({"outcome":tru})",
        R"({"outcome":"success",})",
        R"({"outcome":"a\q"})",
        R"({"outcome":"a\u12g4"})",
        R"({"outcome":01})",
        R"({"outcome":1.})",
        R"({"outcome":"x"} extra)",
        R"(["outcome"])",
        R"({"outcome":"x")",
        "{\"outcome\":\"a\tb\"}",
        R"({"a":[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[1]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]})",
        R"({"outcome" "x"})",
        R"({"outcome":"x",,"y":1})",
    };
    CTempDir dir;
    std::string text;
    for (const auto& line : lines)
        text += line + "\n";
    WriteText(dir.File("radios.jsonl"), text);
    std::string error;
    std::size_t at = 0;
    const RecordKeys keys{"outcome", "images"};
    EXPECT_TRUE(ScanRecord(
        PathToWide(dir.Path() / "radios.jsonl"),
        [&](const RecordLine& line) {
            const std::string& source = lines.at(at++);
            const auto whole = nlohmann::json::parse(source, nullptr, false);
            // Deeper than any station's line is bad, whatever a general parser says.
            const bool object = whole.is_object() && source.find("[[[[") == std::string::npos;
            EXPECT_EQ(line.json != nullptr, object) << source;
            if (line.json == nullptr || !object)
                return;
            for (const auto& key : keys)
                EXPECT_EQ(line.json->value(key, nlohmann::json()), whole.value(key, nlohmann::json())) << source;
            EXPECT_FALSE(line.json->contains("menu_text")) << "a field not asked for is not built";
        },
        error, &keys));
    EXPECT_EQ(at, lines.size());
}

TEST(ParseUtcTime, IsoDatesAndTimesToMillisecondsAndBack)
{
    struct Case
    {
        const char* text;
        std::optional<long long> ms;
    };
    const long long day = 86400000;
    const Case cases[] = {
        {"1970-01-01", 0},
        {"2026-12-09T10:15:02.123Z", 1796811302123},
        {"2026-12-09T12:15:02.123456+02:00", 1796811302123},
        {"2026-12-09T05:45:02,123-0430", 1796811302123},
        {"2026-12-09 10:15:02.1", 1796811302100},
        {"2026-12-09T10:15", 1796811300000},
        {"2024-02-29", 1709164800000},
        {"2000-03-01", 951868800000},
        {"1969-12-31T23:59:59.999Z", -1},
        {"2023-02-29", std::nullopt},
        {"2026-13-01", std::nullopt},
        {"2026-04-31", std::nullopt},
        {"2026-12-9", std::nullopt},
        {"2026-12-09T24:00Z", std::nullopt},
        {"2026-12-09T10:60Z", std::nullopt},
        {"2026-12-09T10:15:02.Z", std::nullopt},
        {"2026-12-09T10:15:02Zjunk", std::nullopt},
        {"2026-12-09T10:15+25:00", std::nullopt},
        {"2026-12-09x", std::nullopt},
        {"yesterday", std::nullopt},
        {"", std::nullopt},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ParseUtcTime(c.text), c.ms) << c.text;
    EXPECT_EQ(UtcDate(1796811302123), "2026-12-09");
    EXPECT_EQ(UtcDate(1709164800000 - 1), "2024-02-28");
    EXPECT_EQ(UtcDate(-1), "1969-12-31");
    EXPECT_EQ(UtcDate(-day), "1969-12-31");
    // What a station writes, it reads back to the millisecond.
    for (const long long ms : {1796811302123LL, 951782400000LL, 0LL, -1LL})
        EXPECT_EQ(ParseUtcTime(IsoUtc(ms)), ms) << IsoUtc(ms);
    EXPECT_EQ(IsoUtc(1796811302123), "2026-12-09T10:15:02.123Z");
}

TEST(RecordReport, TwoDaysOfEveryKindOfLine)
{
    const RecordReportResult r = Report(TwoDays());
    EXPECT_EQ(r.lines, 27u);
    EXPECT_EQ(r.leftOut, 0u);
    EXPECT_EQ(r.radios, 14u);
    EXPECT_EQ(r.successes, 8u);
    EXPECT_EQ(r.starts, 7u);
    EXPECT_EQ(r.interrupted, 1u);
    EXPECT_EQ(r.alreadyFlashed, 1u);
    EXPECT_EQ(r.failuresByOutcome, (std::map<std::string, std::size_t>{{"cancelled", 1},
                                                                       {"host_not_responding", 1},
                                                                       {"not_confirmed", 1},
                                                                       {"serial_error", 1},
                                                                       {"unable_to_write", 2}}));
    EXPECT_EQ(r.failuresByStage,
              (std::map<std::string, std::size_t>{
                  {"block", 1}, {"eot", 1}, {"header", 1}, {"none", 1}, {"open", 1}, {"select", 1}}));
    // By ID R1 and R3 passed first time; R2, R4, R6 (its earlier attempt later in the file) and R7
    // (interrupted first) did not. Without ID: the cancelled, the serial error and two successes.
    EXPECT_EQ(r.firstPassRadios, 10u);
    EXPECT_EQ(r.firstPassed, 4u);
    ASSERT_TRUE(r.firstPassYield);
    EXPECT_DOUBLE_EQ(*r.firstPassYield, 0.4);
    EXPECT_EQ(r.repeatLines, 2u);
    EXPECT_EQ(r.repeatedIds, 4u) << "R1, R2, R4 and R6; R7's interrupted line is no radio line";
    EXPECT_EQ(r.badLines, 4u);
    EXPECT_EQ(r.badLineNumbers, (std::vector<std::size_t>{5, 12, 26, 27}));

    struct Port
    {
        const char* port;
        std::size_t radios, successes;
        double median;
    };
    const Port ports[] = {{"p1", 6, 5, 55}, {"p2", 5, 2, 70}, {"p3", 2, 1, 45}, {"p4", 1, 0, 60}};
    ASSERT_EQ(r.byPort.size(), std::size(ports));
    for (std::size_t i = 0; i < std::size(ports); ++i)
    {
        EXPECT_EQ(r.byPort[i].port, ports[i].port);
        EXPECT_EQ(r.byPort[i].radios, ports[i].radios) << ports[i].port;
        EXPECT_EQ(r.byPort[i].successes, ports[i].successes) << ports[i].port;
        EXPECT_DOUBLE_EQ(r.byPort[i].yield,
                         static_cast<double>(ports[i].successes) / static_cast<double>(ports[i].radios))
            << ports[i].port;
        EXPECT_EQ(r.byPort[i].medianSeconds, ports[i].median) << ports[i].port;
    }

    ASSERT_EQ(r.byImage.size(), 3u);
    for (const auto& [i, sha256, name, radios, successes] :
         {std::tuple{0, "a1", "app-1.bin", 8u, 4u}, {1, "c3", "app-2.bin", 5u, 3u}, {2, "b2", "rcdb.bin", 13u, 7u}})
    {
        const auto& image = r.byImage[static_cast<std::size_t>(i)];
        EXPECT_EQ(image.sha256, sha256);
        EXPECT_EQ(image.name, name);
        EXPECT_EQ(image.radios, radios) << name;
        EXPECT_EQ(image.successes, successes) << name;
    }

    // Run A from its first start to the start of its interrupted radio, and the lines without a
    // run; run B from its first start to its last end, and the other station's line.
    ASSERT_EQ(r.byDay.size(), 2u);
    EXPECT_EQ(r.byDay[0].date, "2026-12-09");
    EXPECT_EQ(r.byDay[0].radios, 7u);
    EXPECT_EQ(r.byDay[0].successes, 4u);
    EXPECT_DOUBLE_EQ(r.byDay[0].stationHours, 1.5);
    EXPECT_NEAR(r.byDay[0].radiosPerHour.value_or(0), 7 / 1.5, 1e-9);
    EXPECT_EQ(r.byDay[1].date, "2026-12-10");
    EXPECT_EQ(r.byDay[1].radios, 6u);
    EXPECT_EQ(r.byDay[1].successes, 3u);
    EXPECT_NEAR(r.byDay[1].stationHours, 3 + 1.0 / 60, 1e-9);
}

TEST(RecordReport, SinceKeepsLinesThatStartAtOrAfterIt)
{
    struct Case
    {
        const char* since;
        std::size_t radios, successes, starts, interrupted, leftOut, firstPassRadios, firstPassed;
    };
    const Case cases[] = {
        // R7's interrupted attempt is before it: its success counts as first time.
        {"2026-12-10T08:00:00+01:00", 6, 3, 3, 0, 14, 4, 2},
        {"2026-12-10T07:00:00.001Z", 5, 2, 2, 0, 16, 3, 1},
        {"2026-12-09T09:00:00Z", 8, 4, 4, 1, 10, 6, 2},
    };
    for (const Case& c : cases)
    {
        const RecordReportResult r = Report(TwoDays(), ParseUtcTime(c.since));
        EXPECT_EQ(r.radios, c.radios) << c.since;
        EXPECT_EQ(r.successes, c.successes) << c.since;
        EXPECT_EQ(r.starts, c.starts) << c.since;
        EXPECT_EQ(r.interrupted, c.interrupted) << c.since;
        EXPECT_EQ(r.leftOut, c.leftOut) << c.since << ": the lines before, and the one without a start";
        EXPECT_EQ(r.firstPassRadios, c.firstPassRadios) << c.since;
        EXPECT_EQ(r.firstPassed, c.firstPassed) << c.since;
        EXPECT_EQ(r.badLines, 4u) << c.since << ": bad lines have no date and are always counted";
    }
}

TEST(RecordReport, NoRadiosNoYieldAndBadLineNumbersBounded)
{
    std::string record;
    for (std::size_t i = 0; i < kMaxBadLineNumbers + 5; ++i)
        record += "{\"outcome\": \"started\", \"port\": 7, \"start\": 12}\n{\n";
    const RecordReportResult r = Report(record);
    EXPECT_EQ(r.radios, 0u);
    EXPECT_EQ(r.starts, kMaxBadLineNumbers + 5);
    EXPECT_FALSE(r.firstPassYield);
    EXPECT_TRUE(r.byPort.empty());
    EXPECT_TRUE(r.byDay.empty()) << "a start that is no time is in no day";
    EXPECT_EQ(r.badLines, kMaxBadLineNumbers + 5);
    ASSERT_EQ(r.badLineNumbers.size(), kMaxBadLineNumbers);
    EXPECT_EQ(r.badLineNumbers.back(), 2 * kMaxBadLineNumbers);
}
