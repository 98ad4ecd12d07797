#include "pty/PtySupport.h"

#include "config/Settings.h"

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

namespace
{
std::vector<char> FileBytes(const std::wstring& path) { return ReadBytes(std::string(path.begin(), path.end())); }
} // namespace

TEST(UpgradeRunPty, BothImagesArriveIntactAndSettingsAreSaved)
{
    PtyRun run;
    ASSERT_TRUE(run.m_started);
    const auto app = run.Image("app.bin", 20 * 1024 + 5, 1);
    const auto rcdb = run.Image("rcdb.bin", 3000, 2);
    const auto result = run.Run(app, rcdb);
    EXPECT_EQ(result.outcome, UpgradeOutcome::Success) << std::string(result.message.begin(), result.message.end());
    EXPECT_EQ(result.message, L"The host writes successfully");
    EXPECT_TRUE(run.m_view.m_portOpenAtOutcome) << "success is shown before the port closes";
    EXPECT_FALSE(run.m_port->IsOpen());
    EXPECT_NE(run.m_view.m_text.find("Main Menu"), std::string::npos);

    const auto& radio = run.StopRadio();
    EXPECT_TRUE(radio.Violations().empty()) << FormatSummaryText(radio);
    ASSERT_EQ(radio.Images().size(), 2u);
    EXPECT_EQ(radio.Images()[0].data, FileBytes(app));
    EXPECT_EQ(radio.Images()[1].data, FileBytes(rcdb));
    EXPECT_TRUE(radio.WriteCommandSeen());
    EXPECT_EQ(ReadBytes(run.m_dir.File("received/app.bin")), FileBytes(app));

    EXPECT_EQ(ReadSettingInt("port", 1), 7);
    EXPECT_EQ(ReadSettingString("app_bin_file"), std::string(app.begin(), app.end()));
    EXPECT_EQ(ReadSettingString("rcdb_bin_file"), std::string(rcdb.begin(), rcdb.end()));
}

TEST(UpgradeRunPty, OnlyTheRcdbImage)
{
    PtyRun run;
    const auto rcdb = run.Image("rcdb.bin", 5000, 3);
    const auto result = run.Run(L"/no/such/app.bin", rcdb);
    EXPECT_EQ(result.outcome, UpgradeOutcome::Success);
    const auto& radio = run.StopRadio();
    ASSERT_EQ(radio.Images().size(), 1u);
    EXPECT_EQ(radio.Images()[0].code, 2);
    EXPECT_EQ(radio.Images()[0].data, FileBytes(rcdb));
}

TEST(UpgradeRunPty, NoImageIsReportedOnlyAfterTheMenu)
{
    PtyRun run;
    const auto result = run.Run(L"", L"");
    EXPECT_EQ(result.outcome, UpgradeOutcome::NoData);
    EXPECT_EQ(result.message, L"no data can be written!");
    EXPECT_NE(run.m_view.m_text.find("Main Menu"), std::string::npos);
    EXPECT_EQ(run.StopRadio().AnswersSent(), 0);
}

TEST(UpgradeRunPty, RadioFaultsEndTheRunWithTheirOwnTextAndThePortClosed)
{
    struct Case
    {
        const char* name;
        RadioSimOptions options;
        UpgradeOutcome outcome;
        const wchar_t* message; // empty: the wait ends silently
        bool portGone;
    };
    std::vector<Case> cases(4);
    cases[0] = {"no menu", {}, UpgradeOutcome::ModeNotSeen, L"", false};
    cases[0].options.noMenu = true;
    cases[1] = {"selection not answered", {}, UpgradeOutcome::HostNotResponding, L"Host not responding", false};
    cases[1].options.faults.ignoreSelect = true;
    cases[2] = {"first EOT answered ACK", {}, UpgradeOutcome::UnableToWrite, L"unable to write to host", false};
    cases[2].options.faults.firstEotAck = true;
    cases[3] = {"vanished", {}, UpgradeOutcome::UnableToWrite, L"unable to write to host", true};
    cases[3].options.faults.vanishAfter = 3;
    for (const Case& c : cases)
    {
        PtyRun run(c.options, "[Device]\ntimeout=50\nlistenInterval=10\nWriteDataFrameInterval=5\n"
                              "WriteDataFrameRetry=3\nListenUpdateRetry=2\n");
        const auto result = run.Run(run.Image("a.bin", 5000, 1), L"");
        EXPECT_EQ(result.outcome, c.outcome) << c.name;
        EXPECT_EQ(result.message, c.message) << c.name;
        EXPECT_EQ(result.portGone, c.portGone) << c.name;
        EXPECT_FALSE(result.cancelled) << c.name;
        EXPECT_FALSE(run.m_view.m_portOpenAtOutcome) << c.name << ": errors are shown with the port closed";
        EXPECT_EQ(run.m_view.m_results.size(), 1u) << c.name;
        EXPECT_FALSE(run.m_port->IsOpen()) << c.name;
    }
}

TEST(UpgradeRunPty, NakDropGarbleAndSplitAnswersAreSurvived)
{
    RadioSimOptions options;
    options.faults.nakRate = 0.1;
    options.faults.dropRate = 0.05;
    options.faults.garbleRate = 0.05;
    options.faults.splitAckC = true;
    options.faults.cBeforeAck = true;
    options.faults.seed = 11;
    PtyRun run(options, "[Device]\ntimeout=150\nlistenInterval=10\n");
    const auto app = run.Image("app.bin", 12 * 1024, 4);
    const auto result = run.Run(app, L"");
    EXPECT_EQ(result.outcome, UpgradeOutcome::Success);
    const auto& radio = run.StopRadio();
    EXPECT_GT(radio.Resends(), 0);
    ASSERT_EQ(radio.Images().size(), 1u);
    EXPECT_EQ(radio.Images()[0].data, FileBytes(app));
}

TEST(UpgradeRunPty, APortHeldElsewhereIsASerialErrorWithAClearText)
{
    PtyRun run;
    // The lock belongs to the open file, so another opening in this process is refused as well.
    CTermiosSerialPort holder;
    holder.Open(run.Device().c_str(), 115200, 0, 8, 0, FlowNone, TRUE);
    auto busy = run.Run(run.Image("a.bin", 100, 1), L"");
    EXPECT_EQ(busy.outcome, UpgradeOutcome::SerialError);
    EXPECT_EQ(busy.error, ERROR_ACCESS_DENIED);
    EXPECT_NE(busy.message.find(L"in use"), std::wstring::npos);
}

TEST(UpgradeRunPty, FolderOrEndlessImageEndsBeforeThePortIsOpened)
{
    PtyRun run;
    for (const auto& [path, why] :
         {std::pair(run.m_dir.Path().wstring(), L"folder"), std::pair(std::wstring(L"/dev/zero"), L"16 MiB")})
    {
        const auto result = run.Run(path, L"");
        EXPECT_EQ(result.outcome, UpgradeOutcome::ImageUnreadable);
        EXPECT_NE(result.message.find(path), std::wstring::npos);
        EXPECT_NE(result.message.find(why), std::wstring::npos) << std::string(why, why + 6);
        EXPECT_FALSE(run.m_port->IsOpen());
        EXPECT_TRUE(run.m_view.m_captions.empty()) << "nothing was sent to the radio";
    }
}

TEST(UpgradeRunPty, ZeroTimeoutReadsEndAndCountOnlyWhatCame)
{
    PtyRun prompt({}, "[Device]\ntimeout=0\nlistenInterval=10\nWriteDataFrameInterval=20\n");
    const auto app = prompt.Image("app.bin", 5000, 6);
    EXPECT_EQ(prompt.Run(app, L"").outcome, UpgradeOutcome::Success);
    EXPECT_EQ(prompt.StopRadio().Images().at(0).data, FileBytes(app));

    RadioSimOptions silent;
    silent.noMenu = true;
    PtyRun quiet(silent, "[Device]\ntimeout=0\nlistenInterval=10\nListenUpdateRetry=3\n");
    EXPECT_EQ(quiet.Run(app, L"").outcome, UpgradeOutcome::ModeNotSeen);
    EXPECT_TRUE(quiet.m_view.m_text.empty()) << "no byte is made up from an empty read";
}
