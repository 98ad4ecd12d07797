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

TEST(UpgradeRunPty, RadioThatNeverShowsItsMenu)
{
    RadioSimOptions options;
    options.noMenu = true;
    PtyRun run(options, "[Device]\ntimeout=100\nlistenInterval=10\nListenUpdateRetry=2\n");
    const auto result = run.Run(run.Image("a.bin", 100, 1), L"");
    EXPECT_EQ(result.outcome, UpgradeOutcome::ModeNotSeen);
    EXPECT_FALSE(result.cancelled);
    EXPECT_TRUE(result.message.empty()) << "the wait ends silently";
    EXPECT_FALSE(run.m_port->IsOpen());
    EXPECT_EQ(run.StopRadio().AnswersSent(), 0);
}

TEST(UpgradeRunPty, RadioFaultsEndTheRunWithTheirOwnText)
{
    struct Case
    {
        const char* name;
        RadioFaults faults;
        UpgradeOutcome outcome;
        const wchar_t* message;
    };
    RadioFaults ignoreSelect;
    ignoreSelect.ignoreSelect = true;
    RadioFaults firstEotAck;
    firstEotAck.firstEotAck = true;
    for (const Case& c :
         {Case{"selection not answered", ignoreSelect, UpgradeOutcome::HostNotResponding, L"Host not responding"},
          Case{"first EOT answered ACK", firstEotAck, UpgradeOutcome::UnableToWrite, L"unable to write to host"}})
    {
        RadioSimOptions options;
        options.faults = c.faults;
        PtyRun run(options, "[Device]\ntimeout=50\nlistenInterval=10\nWriteDataFrameInterval=5\n"
                            "WriteDataFrameRetry=3\n");
        const auto result = run.Run(run.Image("a.bin", 1500, 1), L"");
        EXPECT_EQ(result.outcome, c.outcome) << c.name;
        EXPECT_EQ(result.message, c.message) << c.name;
        EXPECT_FALSE(run.m_view.m_portOpenAtOutcome) << c.name << ": errors are shown with the port closed";
        EXPECT_EQ(run.m_view.m_results.size(), 1u) << c.name;
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

TEST(UpgradeRunPty, VanishingDeviceFailsAtOnceAndANewPortWorks)
{
    RadioSimOptions options;
    options.faults.vanishAfter = 3;
    PtyRun run(options);
    const auto app = run.Image("app.bin", 10 * 1024, 5);
    const auto result = run.Run(app, L"");
    EXPECT_EQ(result.outcome, UpgradeOutcome::UnableToWrite);
    EXPECT_NE(result.detail.find(L"gone"), std::wstring::npos);
    EXPECT_FALSE(run.m_port->IsOpen());

    PtyRun next;
    EXPECT_EQ(next.Run(app, L"").outcome, UpgradeOutcome::Success);
}

TEST(UpgradeRunPty, CancelWhileWaitingOrWritingReleasesThePort)
{
    {
        RadioSimOptions options;
        options.noMenu = true;
        PtyRun run(options);
        run.m_view.m_stopWhen = [](const std::wstring&, int done, int total) { return done == total - 2; };
        const auto result = run.Run(run.Image("a.bin", 100, 1), L"");
        EXPECT_EQ(result.outcome, UpgradeOutcome::ModeNotSeen);
        EXPECT_TRUE(result.cancelled);
        CTermiosSerialPort again;
        EXPECT_NO_THROW(again.Open(run.Device().c_str(), 115200, 0, 8, 0, FlowNone, TRUE));
    }
    {
        PtyRun run;
        run.m_view.m_stopWhen = [](const std::wstring& caption, int done, int) {
            return caption == kCaptionWriting && done == 4;
        };
        const auto result = run.Run(run.Image("a.bin", 8000, 1), L"");
        EXPECT_EQ(result.outcome, UpgradeOutcome::UnableToWrite);
        EXPECT_TRUE(result.cancelled);
        EXPECT_EQ(result.message, L"unable to write to host");
        run.m_view.m_stopWhen = nullptr;
        EXPECT_EQ(run.Run(run.Image("b.bin", 3000, 2), L"").outcome, UpgradeOutcome::Success)
            << "the port is free for the next run";
    }
}

TEST(UpgradeRunPty, PortProblemsAreSerialErrorsWithAClearText)
{
    PtyRun run;
    const auto app = run.Image("a.bin", 100, 1);

    // Held by another process.
    int ready[2];
    int release[2];
    ASSERT_EQ(pipe(ready), 0);
    ASSERT_EQ(pipe(release), 0);
    const pid_t child = fork();
    if (child == 0)
    {
        close(release[1]);
        CTermiosSerialPort holder;
        const std::wstring device = run.Device();
        holder.Open(device.c_str(), 115200, 0, 8, 0, FlowNone, TRUE);
        char c = 'x';
        (void)!write(ready[1], &c, 1);
        (void)!read(release[0], &c, 1);
        _exit(0);
    }
    close(release[0]);
    close(ready[1]);
    char c;
    ASSERT_EQ(read(ready[0], &c, 1), 1);
    auto busy = run.Run(app, L"");
    EXPECT_EQ(busy.outcome, UpgradeOutcome::SerialError);
    EXPECT_EQ(busy.error, ERROR_ACCESS_DENIED);
    EXPECT_NE(busy.message.find(L"in use"), std::wstring::npos);
    close(release[1]);
    close(ready[0]);
    waitpid(child, nullptr, 0);

    UpgradeRequest missing = MakeRequest("", L"/dev/no-such-radio", app, L"");
    CRecordingView view;
    const auto gone = RunUpgrade(missing, view, [] { return std::make_shared<CTermiosSerialPort>(); });
    EXPECT_EQ(gone.outcome, UpgradeOutcome::SerialError);
    EXPECT_EQ(gone.error, ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(gone.message, L"No such device: /dev/no-such-radio");
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
