// The real programs: kd7x-update against kd7x-radio-sim, as a script or a technician runs them.
#include "../support/TestSupport.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace
{
struct Process
{
    pid_t pid = -1;
    std::string out;
    std::string err;

    // Starts argv with stdout and stderr into files.
    void Start(const std::vector<std::string>& argv, const CTempDir& dir, const std::string& tag)
    {
        out = dir.File(tag + ".out");
        err = dir.File(tag + ".err");
        pid = fork();
        if (pid == 0)
        {
            const int o = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            const int e = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            dup2(o, 1);
            dup2(e, 2);
            std::vector<char*> args;
            for (const auto& a : argv)
                args.push_back(const_cast<char*>(a.c_str()));
            args.push_back(nullptr);
            execv(args[0], args.data());
            _exit(127);
        }
    }
    int Wait()
    {
        int status = 0;
        waitpid(pid, &status, 0);
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    std::string Out() const { return ReadText(out); }
    std::string Err() const { return ReadText(err); }
};

bool WaitUntil(const std::function<bool()>& done, int ms = 10000)
{
    for (int waited = 0; waited < ms; waited += 10)
    {
        if (done())
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

class CliTest : public ::testing::Test
{
protected:
    void StartRadio(std::vector<std::string> extra = {})
    {
        std::vector<std::string> argv{KD7X_SIM_BIN, "--link", Link(), "--stay", "--json", "--seconds", "120"};
        argv.insert(argv.end(), extra.begin(), extra.end());
        m_radio.Start(argv, m_dir, "radio");
        ASSERT_TRUE(WaitUntil([&] { return std::filesystem::exists(Link()); }));
    }
    std::string StopRadio()
    {
        kill(m_radio.pid, SIGTERM);
        m_radio.Wait();
        m_radio.pid = -1;
        return m_radio.Out();
    }
    void TearDown() override
    {
        if (m_radio.pid > 0)
            StopRadio();
    }
    std::string Link() const { return m_dir.File("radio"); }
    std::vector<std::string> Update(std::vector<std::string> extra)
    {
        std::vector<std::string> argv{KD7X_UPDATE_BIN, "--settings", m_dir.File("kd7x.ini"), "--log",
                                      m_dir.File("kd7x.log")};
        argv.insert(argv.end(), extra.begin(), extra.end());
        return argv;
    }
    int RunUpdate(std::vector<std::string> extra, Process& p, const std::string& tag = "update")
    {
        p.Start(Update(std::move(extra)), m_dir, tag);
        return p.Wait();
    }

    CTempDir m_dir;
    Process m_radio;
};
} // namespace

TEST_F(CliTest, FlashesTheRadioAndReportsAsJson)
{
    WriteText(m_dir.File("kd7x.ini"), "[Device]\nlistenInterval=10\nWriteDataFrameInterval=5\n");
    WriteBytes(m_dir.File("app.bin"), RandomImage(9000, 1));
    WriteBytes(m_dir.File("rcdb.bin"), RandomImage(2000, 2));
    StartRadio();
    Process update;
    EXPECT_EQ(RunUpdate({"--port", Link(), "--app", m_dir.File("app.bin"), "--rcdb", m_dir.File("rcdb.bin"), "--json",
                         "--verbose"},
                        update),
              0)
        << update.Err();
    EXPECT_NE(update.Out().find("The host writes successfully\n"), std::string::npos);
    EXPECT_NE(update.Out().find("{\"outcome\":\"success\",\"exit_code\":0"), std::string::npos);
    EXPECT_NE(update.Err().find("rx: "), std::string::npos) << "--verbose shows the menu text";
    EXPECT_NE(update.Err().find("rx hex: 06 43"), std::string::npos);
    const std::string summary = StopRadio();
    EXPECT_NE(summary.find("\"size\":9000,\"bytes\":9000"), std::string::npos) << summary;
    EXPECT_NE(summary.find("\"violations\":[]"), std::string::npos) << summary;
}

TEST_F(CliTest, ExitCodesForWhatWentWrong)
{
    WriteText(m_dir.File("kd7x.ini"), "[Device]\nlistenInterval=10\nListenUpdateRetry=2\ntimeout=100\n");
    Process p;
    EXPECT_EQ(RunUpdate({}, p), 64);
    EXPECT_EQ(RunUpdate({"--port", m_dir.File("nothing-here")}, p), 3);
    EXPECT_NE(p.Err().find("No such device"), std::string::npos) << p.Err();

    StartRadio();
    EXPECT_EQ(RunUpdate({"--port", Link()}, p), 5);
    EXPECT_NE(p.Err().find("no data can be written!"), std::string::npos);
    EXPECT_EQ(RunUpdate({"--port", Link(), "--app", m_dir.Path().string()}, p), 6);
    EXPECT_NE(p.Err().find("folder"), std::string::npos);
    StopRadio();

    StartRadio({"--no-menu"});
    WriteBytes(m_dir.File("app.bin"), RandomImage(100, 1));
    EXPECT_EQ(RunUpdate({"--port", Link(), "--app", m_dir.File("app.bin")}, p), 4);
    EXPECT_NE(p.Err().find("upgrade menu"), std::string::npos) << p.Err();
}

TEST_F(CliTest, CtrlCWhileWaitingForTheMenu)
{
    WriteText(m_dir.File("kd7x.ini"), "[Device]\nlistenInterval=10\n");
    WriteBytes(m_dir.File("app.bin"), RandomImage(100, 1));
    StartRadio({"--no-menu"});
    Process update;
    update.Start(Update({"--port", Link(), "--app", m_dir.File("app.bin")}), m_dir, "waiting");
    ASSERT_TRUE(WaitUntil([&] { return update.Err().find("Waiting for the host") != std::string::npos; }));
    kill(update.pid, SIGINT);
    EXPECT_EQ(update.Wait(), 4);
    EXPECT_NE(update.Err().find("Cancelled while waiting"), std::string::npos) << update.Err();
}

TEST_F(CliTest, CtrlCWhileWritingStopsAndReleasesThePort)
{
    WriteText(m_dir.File("kd7x.ini"), "[Device]\nlistenInterval=10\nWriteDataFrameInterval=5\n");
    WriteBytes(m_dir.File("app.bin"), RandomImage(60 * 1024, 3));
    StartRadio({"--answer-delay", "20"});
    Process update;
    update.Start(Update({"--port", Link(), "--app", m_dir.File("app.bin")}), m_dir, "interrupted");
    ASSERT_TRUE(WaitUntil([&] { return update.Err().find("writing data 1") != std::string::npos; })) << update.Err();
    kill(update.pid, SIGINT);
    EXPECT_EQ(update.Wait(), 2);
    EXPECT_NE(update.Err().find("unable to write to host"), std::string::npos);

    WriteBytes(m_dir.File("small.bin"), RandomImage(3000, 4));
    Process again;
    EXPECT_EQ(RunUpdate({"--port", Link(), "--app", m_dir.File("small.bin")}, again, "again"), 0) << again.Err();
}
