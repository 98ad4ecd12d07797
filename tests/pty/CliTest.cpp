// The real programs: kd7x-update against kd7x-radio-sim, as a script or a technician runs them.
#include "platform/Digest.h"
#include "platform/Text.h"
#include "serial/posix/TermiosSerialPort.h"

#include "../support/TestSupport.h"
#include "Version.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <map>
#include <pty.h>
#include <regex>
#include <sstream>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace
{
using Json = nlohmann::json;

// In a child process: becomes argv.
[[noreturn]] void Exec(const std::vector<std::string>& argv)
{
    std::vector<char*> args;
    for (const auto& a : argv)
        args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    execv(args[0], args.data());
    _exit(127);
}

struct Process
{
    pid_t pid = -1;
    std::string out;
    std::string err;

    // Starts argv with stdout and stderr into files, in folder cwd with env added.
    void Start(const std::vector<std::string>& argv, const CTempDir& dir, const std::string& tag,
               const std::map<std::string, std::string>& env = {}, const std::string& cwd = "")
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
            for (const auto& [name, value] : env)
                setenv(name.c_str(), value.c_str(), 1);
            if (!cwd.empty() && chdir(cwd.c_str()) != 0)
                _exit(126);
            Exec(argv);
        }
    }
    int Wait()
    {
        int status = 0;
        waitpid(pid, &status, 0);
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    // The exit code, or -1 after killing a program that did not end within ms.
    int WaitFor(int ms)
    {
        int status = 0;
        for (int waited = 0; waitpid(pid, &status, WNOHANG) == 0; waited += 10)
        {
            if (waited >= ms)
            {
                kill(pid, SIGKILL);
                waitpid(pid, &status, 0);
                return -1;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    std::string Out() const { return ReadText(out); }
    std::string Err() const { return ReadText(err); }
    // stdout holds exactly one JSON document, or the test fails.
    Json Document() const
    {
        const Json doc = Json::parse(Out(), nullptr, false);
        EXPECT_FALSE(doc.is_discarded()) << "stdout is not one JSON document:\n" << Out();
        return doc.is_discarded() ? Json::object() : doc;
    }
};

bool WaitUntil(const std::function<bool()>& done, int ms = 20000)
{
    for (int waited = 0; waited < ms; waited += 10)
    {
        if (done())
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

bool Has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

const char* const kFast = "[Device]\nlistenInterval=10\nWriteDataFrameInterval=5\ntimeout=200\n";

class CliTest : public ::testing::Test
{
protected:
    void SetUp() override { WriteText(m_dir.File("kd7x.ini"), kFast); }
    void TearDown() override
    {
        for (auto& radio : m_radios)
            StopRadio(radio);
    }
    // A simulated radio on its own pseudo-terminal, its images kept in received<index>.
    std::string StartRadio(std::vector<std::string> extra = {})
    {
        const std::string index = std::to_string(m_radios.size());
        std::vector<std::string> argv{KD7X_SIM_BIN, "--link", Link(index), "--out", m_dir.File("received" + index),
                                      "--stay",     "--json", "--seconds", "120"};
        argv.insert(argv.end(), extra.begin(), extra.end());
        m_radios.emplace_back();
        m_radios.back().Start(argv, m_dir, "radio" + index);
        EXPECT_TRUE(WaitUntil([&] { return std::filesystem::exists(Link(index)); }));
        return Link(index);
    }
    std::string StopRadio(Process& radio)
    {
        if (radio.pid > 0)
        {
            kill(radio.pid, SIGTERM);
            radio.Wait();
            radio.pid = -1;
        }
        return radio.Out();
    }
    std::string Link(const std::string& index) const { return m_dir.File("radio" + index); }
    std::vector<std::string> Update(std::vector<std::string> extra, bool files = true)
    {
        std::vector<std::string> argv{KD7X_UPDATE_BIN};
        if (files)
            argv.insert(argv.end(), {"--settings", m_dir.File("kd7x.ini"), "--log", m_dir.File("kd7x.log")});
        argv.insert(argv.end(), extra.begin(), extra.end());
        return argv;
    }
    int RunUpdate(std::vector<std::string> extra, Process& p, const std::map<std::string, std::string>& env = {})
    {
        p.Start(Update(std::move(extra)), m_dir, "update", env, m_dir.Path().string());
        return p.Wait();
    }
    std::string Image(const std::string& name, std::size_t size, unsigned seed)
    {
        WriteBytes(m_dir.File(name), RandomImage(size, seed));
        return m_dir.File(name);
    }

    CTempDir m_dir;
    std::vector<Process> m_radios;
};
} // namespace

TEST_F(CliTest, FlashesTheRadioAndReportsOneJsonDocument)
{
    Image("app.bin", 9000, 1);
    const std::string rcdb = Image("rcdb.bin", 2000, 2);
    const std::string port = StartRadio();
    Process update;
    // A relative path is stored absolute.
    ASSERT_EQ(RunUpdate({"-p", port, "-a", "app.bin", "-r", rcdb, "--json", "-v"}, update), 0) << update.Err();
    const Json doc = update.Document();
    EXPECT_EQ(doc["outcome"], "success");
    EXPECT_EQ(doc["exit_code"], 0);
    EXPECT_EQ(doc["port"], port);
    EXPECT_TRUE(doc["stage"].is_null());
    EXPECT_GT(doc["duration_s"].get<double>(), 0);
    EXPECT_GT(doc["bytes_per_s"].get<double>(), 0);
    ASSERT_EQ(doc["images"].size(), 2u);
    const auto app = ReadBytes(m_dir.File("app.bin"));
    EXPECT_EQ(doc["images"][0], (Json{{"role", "app"},
                                      {"path", m_dir.File("app.bin")},
                                      {"size", 9000},
                                      {"sha256", Sha256Hex(app.data(), app.size())},
                                      {"frames", 11}}));
    EXPECT_TRUE(Has(update.Err(), "rx: ")) << "--verbose shows the menu text";
    EXPECT_TRUE(Has(update.Err(), "rx hex: 06 43"));
    EXPECT_TRUE(Has(update.Err(), "The host writes successfully")) << "with --json the outcome line is on stderr";
    EXPECT_TRUE(Has(update.Err(), "Wrote 11000 bytes in ")) << "the closing line too";
    EXPECT_TRUE(Has(ReadText(m_dir.File("kd7x.ini")), "app_bin_file=" + m_dir.File("app.bin")));
    const std::string log = ReadText(m_dir.File("kd7x.log"));
    EXPECT_TRUE(Has(log, "[" + port + "]")) << "every record names its port: " << log;
    EXPECT_TRUE(Has(log, "run start: kd7x-update " KD7X_VERSION ", port " + port));
    EXPECT_TRUE(Has(log, Sha256Hex(app.data(), app.size())));
    EXPECT_TRUE(Has(log, "run end: success (exit 0)"));
    EXPECT_EQ(ReadBytes(m_dir.File("received0/app.bin")), app);
}

TEST_F(CliTest, EachExitCodeForTheCaseTheReadmeNames)
{
    struct Case
    {
        std::vector<std::string> radio; // the simulator's faults; empty: no radio at all
        std::vector<std::string> args;  // PORT stands for the radio's port
        int code;
        std::string outcome, stage, text;
        Json fields = Json::object(); // of the JSON document
    };
    Image("app.bin", 5000, 3);
    Image("empty.bin", 0, 1);
    const std::vector<std::string> app{"-a", "app.bin"};
    const auto with = [&](std::vector<std::string> more) {
        more.insert(more.begin(), app.begin(), app.end());
        return more;
    };
    const auto slow = with({"-p", "PORT", "--timeout", "200", "--fast", "--retries", "3"});
    const std::string utf8 =
        Image("\xD0\xBF\xD1\x80\xD0\xBE\xD1\x88\xD0\xB8\xD0\xB2\xD0\xBA\xD0\xB0-\xC3\xBC.bin", 1500, 4);
    const std::string latin1 = Image("latin1-\xFC\xFF.bin", 1500, 5);
    // Block 256 is a 128-byte block of zeros: the very bytes of the end-of-batch block.
    std::vector<char> endLike = RandomImage(255 * 1024 + 128, 8);
    std::fill(endLike.end() - 128, endLike.end(), 0);
    WriteBytes(m_dir.File("end-like.bin"), endLike);
    std::filesystem::create_directories(m_dir.File("ln/real/sub"));
    Image("ln/fw.bin", 7000, 6);
    Image("ln/real/fw.bin", 5000, 7);
    std::filesystem::create_directory_symlink("real/sub", m_dir.File("ln/lnk"));
    const std::vector<Case> cases{
        {{}, {"--app", "app.bin"}, 64, "usage_error", "", "--port is needed"},
        {{}, {"--nonsense"}, 64, "usage_error", "", "nonsense"},
        // One value per -p; a number on the command line is checked, not replaced by a default.
        {{}, {"-p", "/dev/ttyUSB0", "app.bin"}, 64, "usage_error", "", "not expected: app.bin"},
        {{},
         with({"-p", "X", "--wait", "3O"}),
         64,
         "usage_error",
         "",
         "--wait 3O is not a whole number from 0 to 86400"},
        {{}, with({"-p", "X", "--timeout", "70000"}), 64, "usage_error", "", "--timeout 70000 is not a whole number"},
        {{}, with({"-p", m_dir.File("nothing-here")}), 3, "serial_error", "", "No such device"},
        {{"--seed", "1"}, {"-p", "PORT"}, 5, "no_data", "", "no data can be written!"},
        {{"--seed", "1"}, {"-p", "PORT", "-a", "missing.bin"}, 6, "image_unreadable", "", "no such file"},
        // Control characters in a path reach the terminal escaped.
        {{"--seed", "1"},
         {"-p", "PORT", "-a", "esc\x1b[2J\nname.bin"},
         6,
         "image_unreadable",
         "",
         "esc.[2J\\nname.bin"},
        {{"--seed", "1"},
         {"-p", "PORT", "-a",
          "c1\xC2\x9B"
          "2J\x9B.bin"},
         6,
         "image_unreadable",
         "",
         "c1.2J..bin"},
        // ".." after a link leads out of the link's target, as for every other program.
        {{"--seed", "1"}, {"-p", "PORT", "-a", "ln/lnk/../fw.bin"}, 0, "success", "", "ln/real/fw.bin (5000 bytes"},
        {{"--seed", "1"}, {"-p", "PORT", "-a", "empty.bin"}, 6, "image_unreadable", "", "it is empty"},
        {{"--seed", "1"}, {"-p", "PORT", "-a", "."}, 6, "image_unreadable", "", "folder"},
        {{"--seed", "1"}, {"-p", "PORT", "-a", "/dev/zero"}, 6, "image_unreadable", "", "not a regular file"},
        {{"--no-menu"}, with({"-p", "PORT", "--wait", "1"}), 4, "upgrade_mode_not_seen", "listen", "upgrade menu"},
        {{"--ignore-select"}, with({"-p", "PORT", "--retries", "2"}), 1, "host_not_responding", "select", ""},
        {{"--first-eot-ack"}, with({"-p", "PORT", "--retries", "2"}), 2, "unable_to_write", "eot", ""},
        {{"--vanish-after", "2"}, with({"-p", "PORT"}), 3, "serial_error", "block", "serial port:"},
        // The stage is the frame's place in the image, not its bytes.
        {{"--silent-after", "255"},
         {"-p", "PORT", "-a", "end-like.bin", "--fast", "--retries", "1"},
         2,
         "unable_to_write",
         "block",
         ""},
        // The radio's own word. A stray ACK taken for a lost block: only the radio's restart text
        // tells, and a radio that hangs after the end block never reads the write command.
        {{"--dup-ack", "4", "--lose-block", "5"},
         with({"-p", "PORT", "--confirm", "upgrade OK"}),
         8,
         "not_confirmed",
         "confirm",
         "image 1 incomplete (4096 of 5000 bytes)",
         {{"confirmed", false}}},
        {{"--freeze-after-eob"},
         with({"-p", "PORT", "--confirm", "upgrade OK", "--confirm-wait", "2", "--fast"}),
         8,
         "not_confirmed",
         "confirm",
         "the radio said nothing"},
        {{"--seed", "7"},
         with({"-p", "PORT", "--confirm", "upgrade OK", "--radio-id", "S/N (KD7X-[0-9]+)"}),
         0,
         "success",
         "",
         "confirmed by the radio",
         {{"confirmed", true}, {"radio_id", "KD7X-007001"}}},
        {{"--banner-serial", "KD7X-999999"},
         with({"-p", "PORT", "--confirm", "upgrade OK", "--radio-id", "S/N (KD7X-[0-9]+)"}),
         8,
         "not_confirmed",
         "confirm",
         "another radio answered (KD7X-999999, not KD7X-001001)"},
        // Without a pattern: as before, and the radio's texts are reported all the same.
        {{"--seed", "1"}, with({"-p", "PORT"}), 0, "success", "", "", {{"confirmed", nullptr}, {"radio_id", nullptr}}},
        // A lost NAK to the first EOT: the radio took the next EOT for the second.
        {{"--lose-eot-nak"}, with({"-p", "PORT"}), 0, "success", "", "", {{"resends", 1}}},
        // A radio that restarts as it takes the write command, its port gone and back: its word tells.
        {{"--restart-after-write", "0"},
         with({"-p", "PORT", "--confirm", "upgrade OK"}),
         0,
         "success",
         "",
         "",
         {{"confirmed", true}, {"closed_after_write", true}}},
        {{},
         with({"-p", "X", "--confirm", "(unclosed"}),
         64,
         "usage_error",
         "",
         "--confirm (unclosed is not a regular"},
        {{}, with({"-p", "X", "--radio-id", "(a)\\1"}), 64, "usage_error", "", "back-references are not supported"},
        {{}, with({"-p", "X", "--confirm-wait", "0"}), 64, "usage_error", "", "--confirm-wait 0 is not a whole number"},
        {{}, with({"-p", "X", "--once"}), 64, "usage_error", "", "--once goes with --station"},
        // Answers later than the read window are judged in the pause before a resend.
        {{"--answer-delay", "500"}, slow, 0, "success", "", ""},
        // Names in UTF-8 and in no encoding at all are sent as their bytes.
        {{"--seed", "1"}, {"-p", "PORT", "-a", utf8}, 0, "success", "", ""},
        {{"--seed", "1"}, {"-p", "PORT", "-a", latin1}, 0, "success", "", ""},
    };
    for (const Case& c : cases)
    {
        std::vector<std::string> args = c.args;
        if (!c.radio.empty())
        {
            const std::string port = StartRadio(c.radio);
            std::replace(args.begin(), args.end(), std::string("PORT"), port);
        }
        args.push_back("--json");
        Process p;
        const std::string name = c.outcome + " " + (c.radio.empty() ? "" : c.radio[0]);
        EXPECT_EQ(RunUpdate(args, p, {{"LC_ALL", "C.UTF-8"}}), c.code) << name << "\n" << p.Err();
        const Json doc = p.Document();
        EXPECT_EQ(doc.value("outcome", ""), c.outcome) << name;
        EXPECT_EQ(doc.value("exit_code", -1), c.code) << name;
        if (c.code == 3)
        {
            EXPECT_NE(doc.value("error_code", 0), 0) << name << ": the system's code of the port's failure";
        }
        if (!c.stage.empty())
        {
            EXPECT_EQ(doc["stage"], c.stage) << name;
        }
        EXPECT_TRUE(Has(p.Err(), c.text)) << name << "\n" << p.Err();
        for (const auto& [key, value] : c.fields.items())
            EXPECT_EQ(doc[key], value) << name << ": " << key;
        if (c.outcome == "not_confirmed")
        {
            // Within the wait and a second, after a transfer of two seconds at most.
            const auto wait = std::find(args.begin(), args.end(), "--confirm-wait");
            EXPECT_LT(doc.value("duration_s", 99.0), (wait == args.end() ? 10 : std::stoi(*(wait + 1))) + 1 + 2)
                << name;
            EXPECT_TRUE(Has(doc.value("detail", "") + doc.value("message", ""), c.text)) << name;
        }
        if (!m_radios.empty())
            StopRadio(m_radios.back());
    }
}

TEST_F(CliTest, StopSignalsEndWithTheirCodeAndReleaseThePortInEveryPhase)
{
    Image("app.bin", 200 * 1024, 3);
    struct Case
    {
        std::vector<std::string> radio, args;
        std::string seen, stage;
        int signal, code;
    };
    for (const Case& c : {Case{{"--no-menu"}, {}, "s left", "listen", SIGINT, 130},
                          Case{{"--answer-delay", "20"}, {}, "kB/s", "block", SIGTERM, 143},
                          // Retries without end on a radio gone silent still stop at once; a closed terminal stops too.
                          // A read window of a minute does not delay the stop either.
                          Case{{"--silent-after", "3"},
                               {"--retries", "2147483647", "--timeout", "60000"},
                               "writing data",
                               "block",
                               SIGHUP,
                               129}})
    {
        const std::string port = StartRadio(c.radio);
        std::vector<std::string> args{"-p", port, "-a", "app.bin", "--json"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        Process update;
        update.Start(Update(args), m_dir, "interrupted" + std::to_string(c.signal), {}, m_dir.Path().string());
        ASSERT_TRUE(WaitUntil([&] { return Has(update.Err(), c.seen); })) << update.Err();
        // Into the step itself: the silent radio's block is being waited for by now.
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        const auto stopAsked = std::chrono::steady_clock::now();
        kill(update.pid, c.signal);
        EXPECT_EQ(update.Wait(), c.code) << update.Err();
        EXPECT_LT(std::chrono::steady_clock::now() - stopAsked, std::chrono::seconds(2)) << c.stage;
        EXPECT_TRUE(Has(ReadText(m_dir.File("kd7x.log")), "run end: cancelled (exit " + std::to_string(c.code)));
        const Json doc = update.Document();
        EXPECT_EQ(doc["outcome"], "cancelled");
        EXPECT_EQ(doc["cancelled"], true);
        EXPECT_EQ(doc["stage"], c.stage);
        // What went out before the stop; nothing to say when no image began.
        EXPECT_EQ(Has(update.Err(), " bytes in "), c.stage == "block") << update.Err();
        EXPECT_EQ(Has(update.Err(), " before the stop"), c.stage == "block") << update.Err();
        CTermiosSerialPort again;
        EXPECT_NO_THROW(again.Open(NarrowToWide(port).c_str(), 115200, 0, 8, 0, FlowNone, TRUE)) << c.stage;
        StopRadio(m_radios.back());
    }

    // A second stop request, of any kind, ends the program at once: no document is written.
    const std::string port = StartRadio({"--no-menu"});
    Process twice;
    twice.Start(Update({"-p", port, "-a", "app.bin", "--json"}), m_dir, "twice", {}, m_dir.Path().string());
    ASSERT_TRUE(WaitUntil([&] { return Has(twice.Err(), "s left"); })) << twice.Err();
    kill(twice.pid, SIGINT);
    kill(twice.pid, SIGTERM);
    const int code = twice.Wait();
    EXPECT_TRUE(code == 128 + SIGTERM || code == 128 + SIGINT) << code;
    EXPECT_EQ(twice.Out(), "");
}

TEST_F(CliTest, FlagsOverrideTheFileAndBadValuesAreNamed)
{
    WriteText(m_dir.File("kd7x.ini"), "[Device]\nlistenInterval=10\ntimeout=abc\nWriteDataFrameRetry=0\n");
    Image("app.bin", 100, 1);
    const std::string port = StartRadio({"--ignore-select"});
    Process p;
    EXPECT_EQ(RunUpdate({"-p", port, "-a", "app.bin", "--timeout", "50", "--retries", "2", "--json"}, p), 1);
    EXPECT_EQ(p.Document()["warnings"].size(), 2u);
    const std::string err = p.Err();
    EXPECT_TRUE(Has(err, "timeout=abc is not a whole number from 0 to 60000; --timeout 50 is taken")) << err;
    EXPECT_TRUE(Has(err, "WriteDataFrameRetry=0 is not a whole number from 1 to 2147483647; --retries 2")) << err;
    EXPECT_TRUE(Has(err, "select resent: no answer\nselect failed, no attempt left")) << "--retries 2 wins:\n" << err;

    // --quiet keeps the warnings and the outcome, nothing else.
    Process quiet;
    EXPECT_EQ(RunUpdate({"-p", port, "-a", "app.bin", "--timeout", "50", "--retries", "2", "-q"}, quiet), 1);
    EXPECT_TRUE(Has(quiet.Err(), "timeout=abc is not a whole number")) << quiet.Err();
    EXPECT_TRUE(Has(quiet.Err(), "Host not responding")) << quiet.Err();
    EXPECT_FALSE(Has(quiet.Err(), "resent")) << quiet.Err();
}

TEST_F(CliTest, FilesLiveInTheUsersFoldersOrBesideAPortableCopy)
{
    Image("app.bin", 3000, 1);
    const std::string port = StartRadio();
    const std::string home = m_dir.File("home");
    Process p;
    p.Start(Update({"-p", port, "-a", "app.bin"}, false), m_dir, "xdg",
            {{"HOME", home}, {"XDG_CONFIG_HOME", ""}, {"XDG_STATE_HOME", ""}}, m_dir.Path().string());
    ASSERT_EQ(p.Wait(), 0) << p.Err();
    EXPECT_TRUE(Has(ReadText(home + "/.config/kd7x-update/kd7x-update.ini"), "app_bin_file=" + m_dir.File("app.bin")));
    EXPECT_TRUE(Has(ReadText(home + "/.local/state/kd7x-update/kd7x-update.log"), "run end: success"));

    // A copy in a folder of its own, whatever its name, keeps its settings and log beside it.
    const std::string folder = m_dir.File("tool-\xC3\xBC");
    std::filesystem::create_directories(folder);
    std::filesystem::copy_file(KD7X_UPDATE_BIN, folder + "/kd7x-update");
    WriteText(folder + "/kd7x-update.ini", kFast);
    Process portable;
    portable.Start({folder + "/kd7x-update", "-p", port, "-a", "app.bin"}, m_dir, "portable", {{"HOME", home}},
                   m_dir.Path().string());
    ASSERT_EQ(portable.Wait(), 0) << portable.Err();
    const std::string ini = ReadText(folder + "/kd7x-update.ini");
    EXPECT_TRUE(Has(ini, "listenInterval=10\nWriteDataFrameInterval=5") && Has(ini, "app_bin_file=")) << ini;
    EXPECT_TRUE(Has(ReadText(folder + "/kd7x-update.log"), "run end: success"));

    Process unwritable;
    unwritable.Start(Update({"-p", port, "-a", "app.bin", "--settings", m_dir.File("no/such/folder.ini")}, false),
                     m_dir, "unwritable", {{"HOME", home}}, m_dir.Path().string());
    EXPECT_EQ(unwritable.Wait(), 0);
    EXPECT_TRUE(Has(unwritable.Err(), "settings not saved")) << unwritable.Err();
}

TEST_F(CliTest, SeveralRadiosAtOnceFailAlone)
{
    const std::string app = Image("app.bin", 20 * 1024, 5);
    const std::vector<std::string> ports{StartRadio(), StartRadio({"--vanish-after", "3"}), StartRadio()};
    Process p;
    // The first radio is named twice, once through its device: it is flashed once.
    const std::string device = std::filesystem::canonical(ports[0]).string();
    EXPECT_EQ(RunUpdate({"-p", ports[0], "-p", ports[1], "-p", device, "-p", ports[2], "-a", "app.bin", "--json"}, p),
              7)
        << p.Err();
    const Json doc = p.Document();
    ASSERT_EQ(doc["radios"].size(), 3u);
    for (std::size_t i = 0; i < 3; ++i)
    {
        EXPECT_EQ(doc["radios"][i]["port"], ports[i]);
        EXPECT_EQ(doc["radios"][i]["exit_code"], i == 1 ? 3 : 0);
        if (i != 1)
        {
            EXPECT_EQ(ReadBytes(m_dir.File("received" + std::to_string(i) + "/app.bin")), ReadBytes(app));
        }
    }
    EXPECT_EQ(doc["totals"]["failed"], 1);
    const std::regex closing(R"(\nWrote \d+ of 61440 bytes to 3 radios in \d+\.\d s \((\d+\.\d) kB/s\); 1 failed\n)");
    const std::string err = p.Err();
    std::smatch rate;
    EXPECT_TRUE(std::regex_search(err, rate, closing)) << err;
    if (!rate.empty())
    {
        EXPECT_NEAR(std::stod(rate[1]) * 1000, doc["totals"]["bytes_per_s"].get<double>(), 50)
            << "the JSON's rate is the closing line's";
    }
    EXPECT_TRUE(Has(p.Err(), "[" + ports[1] + "] ")) << "piped lines carry their port";
    for (const auto& port : ports)
        EXPECT_TRUE(Has(ReadText(m_dir.File("kd7x.log")), "[" + port + "]"));

    // Ctrl-C stops every radio and releases every port; the command is cancelled even though one
    // radio was done before it.
    const std::vector<std::string> waiting{StartRadio({"--no-menu"}), StartRadio()};
    Process both;
    both.Start(Update({"-p", waiting[0], "-p", waiting[1], "-a", "app.bin"}), m_dir, "both", {}, m_dir.Path().string());
    ASSERT_TRUE(WaitUntil([&] { return Has(both.Err(), "[" + waiting[1] + "] done"); })) << both.Err();
    kill(both.pid, SIGINT);
    EXPECT_EQ(both.Wait(), 130) << both.Err();
    CTermiosSerialPort first, second;
    EXPECT_NO_THROW(first.Open(NarrowToWide(waiting[0]).c_str(), 115200, 0, 8, 0, FlowNone, TRUE));
    EXPECT_NO_THROW(second.Open(NarrowToWide(waiting[1]).c_str(), 115200, 0, 8, 0, FlowNone, TRUE));
}

TEST_F(CliTest, SimulatedRadiosAndThePortListAsJson)
{
    // KD7X_PORT stands for a missing --port only when ports are flashed.
    const std::map<std::string, std::string> elsewhere{{"KD7X_PORT", m_dir.File("no-such-port")}};
    Process sim;
    sim.Start(Update({"--simulate", "--radios", "2", "--json", "-q"}), m_dir, "sim", elsewhere);
    ASSERT_EQ(sim.Wait(), 0) << sim.Err();
    const Json doc = sim.Document();
    ASSERT_EQ(doc["radios"].size(), 2u);
    for (const auto& radio : doc["radios"])
        EXPECT_EQ(radio["radio"]["violations"], Json::array());
    EXPECT_TRUE(sim.Err().empty()) << "--quiet and --json leave stderr empty: " << sim.Err();

    Process list;
    list.Start(Update({"--list-ports", "--json"}, false), m_dir, "list", elsewhere);
    ASSERT_EQ(list.Wait(), 0);
    const Json ports = list.Document();
    ASSERT_TRUE(ports.is_array());
    for (const auto& port : ports)
        for (const char* key : {"path", "by_id", "description", "manufacturer", "serial", "usb", "vid", "pid"})
            EXPECT_TRUE(port.contains(key)) << key;
}

// On a terminal the outcome is red or green, unless NO_COLOR holds something: set but empty keeps it.
TEST_F(CliTest, ColourOnATerminalUnlessNoColorHoldsSomething)
{
    Image("app.bin", 100, 1);
    const auto argv = Update({"-p", m_dir.File("no-such-port"), "-a", m_dir.File("app.bin")});
    for (const auto& [value, coloured] : {std::pair<const char*, bool>{nullptr, true}, {"", true}, {"1", false}})
    {
        int terminal = -1;
        const pid_t pid = forkpty(&terminal, nullptr, nullptr, nullptr);
        if (pid == 0)
        {
            setenv("TERM", "xterm", 1);
            value != nullptr ? setenv("NO_COLOR", value, 1) : unsetenv("NO_COLOR");
            Exec(argv);
        }
        std::string seen;
        char buffer[256];
        for (ssize_t n; (n = read(terminal, buffer, sizeof buffer)) > 0;)
            seen.append(buffer, static_cast<std::size_t>(n));
        waitpid(pid, nullptr, 0);
        close(terminal);
        EXPECT_TRUE(Has(seen, "No such device")) << seen;
        EXPECT_EQ(Has(seen, "\x1b[31m"), coloured) << (value != nullptr ? value : "unset") << ": " << seen;
    }
}

TEST_F(CliTest, PortFromTheEnvironmentWhenNoneIsNamed)
{
    Image("app.bin", 2000, 1);
    const std::string port = StartRadio();
    struct Case
    {
        std::string variable;
        std::vector<std::string> args;
        int code;
        std::string text;
    };
    for (const Case& c : {Case{port, {}, 0, "port " + port + " from KD7X_PORT"},
                          Case{m_dir.File("no-such-port"), {"-p", port}, 0, "The host writes successfully"},
                          Case{"", {}, 64, "--port is needed (or KD7X_PORT"}})
    {
        std::vector<std::string> args{"-a", "app.bin"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        Process p;
        EXPECT_EQ(RunUpdate(args, p, {{"KD7X_PORT", c.variable}}), c.code) << c.variable << "\n" << p.Err();
        EXPECT_TRUE(Has(p.Err() + p.Out(), c.text)) << c.variable << "\n" << p.Err();
    }
}

// Every option --help shows has its row in the README's option table, and --help fits 80 columns.
TEST_F(CliTest, HelpFitsTheTerminalAndTheReadmeTableNamesEachOption)
{
    std::string updateHelp;
    for (const char* program : {KD7X_SIM_BIN, KD7X_UPDATE_BIN})
    {
        Process help;
        help.Start({program, "--help"}, m_dir, "help", {{"KD7X_PORT", "/dev/ttyKD7X"}});
        ASSERT_EQ(help.Wait(), 0);
        std::istringstream lines(help.Out());
        for (std::string line; std::getline(lines, line);)
            EXPECT_LE(line.size(), 80u) << program << ": " << line;
        updateHelp = help.Out();
    }
    EXPECT_TRUE(Has(updateHelp, "now /dev/ttyKD7X")) << "--help shows KD7X_PORT's value";

    // "-p, --port PORT ..." -> {"--port", "-p, --port PORT"}: an option by its last name, and all it shows.
    const auto entry = [](std::string spec) {
        spec = spec.substr(0, spec.find(" ..."));
        std::istringstream words(spec);
        std::string word, name;
        while (words >> word && word[0] == '-')
            name = word.substr(0, word.find(','));
        return std::pair(name, spec);
    };
    std::map<std::string, std::string> help, readme;
    std::istringstream helpLines(updateHelp);
    for (std::string line; std::getline(helpLines, line);)
        if (line.rfind("  -", 0) == 0)
            help.insert(entry(line.substr(2, line.find("  ", 2) - 2)));
    std::istringstream readmeLines(ReadText(KD7X_README));
    bool table = false;
    for (std::string line; std::getline(readmeLines, line);)
    {
        table = (table && line.rfind("|", 0) == 0) || line.rfind("| Option | Meaning |", 0) == 0;
        const std::string cell = table ? line.substr(1, line.find('|', 1) - 1) : "";
        for (std::size_t at = cell.find('`'); at != std::string::npos; at = cell.find('`', cell.find('`', at + 1) + 1))
            readme.insert(entry(cell.substr(at + 1, cell.find('`', at + 1) - at - 1)));
    }
    ASSERT_GT(help.size(), 10u);
    for (const auto& [name, spec] : help)
    {
        const auto row = readme.find(name);
        EXPECT_TRUE(row != readme.end()) << "--help shows `" << spec
                                         << "`; the README's option table has no row for it";
        if (row != readme.end())
        {
            EXPECT_EQ(row->second, spec) << name << ": the README's option table and --help differ";
        }
    }
    for (const auto& [name, spec] : readme)
        EXPECT_TRUE(help.count(name) != 0)
            << "the README's option table names `" << spec << "`, which --help does not show";
}

TEST_F(CliTest, StationFlashesRadiosInTurnThroughAHotPlugAndRecordsEach)
{
    const std::string app = Image("app.bin", 9000, 1);
    Image("rcdb.bin", 2000, 2);
    // Three radios in turn, the port gone between them; the second vanishes with it mid-flash.
    const std::string port = StartRadio(
        {"--radios", "3", "--gap", "2000", "--hotplug", "--fault-share", "0.34", "--vanish-after", "2", "--seed", "1"});
    Process p;
    EXPECT_EQ(RunUpdate({"--station", "-p", port, "--settle", "1", "--count", "2", "--json", "--record",
                         m_dir.File("radios.jsonl"), "-a", "app.bin", "-r", "rcdb.bin"},
                        p),
              7)
        << p.Err();
    // stdout holds each radio's line of the record, and nothing else; the record holds its start too.
    std::istringstream recorded(ReadText(m_dir.File("radios.jsonl")));
    std::string ends;
    for (std::string line; std::getline(recorded, line);)
        ends += Json::parse(line)["outcome"] == "started" ? "" : line + "\n";
    EXPECT_EQ(p.Out(), ends);
    const Json bench = Json::parse(StopRadio(m_radios.back()));
    std::istringstream lines(p.Out());
    std::string line;
    std::size_t k = 0;
    for (; std::getline(lines, line); ++k)
    {
        const Json record = Json::parse(line);
        const bool faulty = bench["radios"].at(k)["faulty"];
        EXPECT_EQ(faulty, k == 1);
        EXPECT_EQ(record["port"], port);
        EXPECT_EQ(record["outcome"], faulty ? "serial_error" : "success") << line;
        EXPECT_EQ(record["images"][0]["sha256"], Sha256Hex(ReadBytes(app).data(), 9000));
        if (!faulty)
        {
            EXPECT_EQ(ReadBytes(m_dir.File("received0/" + std::to_string(k + 1) + "/app.bin")), ReadBytes(app));
        }
    }
    EXPECT_EQ(k, 3u);
}

TEST_F(CliTest, StationKilledLeavesWholeLinesAndStopsInTwoSteps)
{
    Image("app.bin", 30000, 1);
    const std::string record = m_dir.File("radios.jsonl");
    const std::string port = StartRadio({"--radios", "20", "--gap", "1500", "--baud", "115200"});
    const std::vector<std::string> args{"--station", "-p", port, "--settle", "1", "--record", record, "-a", "app.bin"};
    Process killed;
    killed.Start(Update(args), m_dir, "killed", {}, m_dir.Path().string());
    // Killed while its second radio's blocks go out.
    ASSERT_TRUE(WaitUntil(
        [&] { return Has(killed.Err(), "radio 1 done") && Has(ReadText(record + ".journal"), "\"block\""); }, 60000))
        << killed.Err();
    kill(killed.pid, SIGKILL);
    killed.Wait();
    const std::string before = ReadText(record);
    ASSERT_FALSE(before.empty());
    EXPECT_EQ(before.back(), '\n');
    const Json underWay = Json::parse(before.substr(before.rfind('\n', before.size() - 2) + 1));
    ASSERT_EQ(underWay["outcome"], "started");

    // A line torn by a crash is cut when the station starts again, the radio it left under way is
    // recorded as interrupted; Ctrl-C lets the radio being flashed finish, a second one stops it.
    WriteText(record, before + "{\"block\":null,\"by_id\":nu");
    Process again;
    again.Start(Update(args), m_dir, "again", {}, m_dir.Path().string());
    ASSERT_TRUE(WaitUntil([&] { return Has(again.Err(), "a radio's menu: flashing"); })) << again.Err();
    kill(again.pid, SIGINT);
    ASSERT_TRUE(WaitUntil([&] { return Has(again.Err(), "finishing 1 radio; Ctrl-C again to stop it"); }));
    kill(again.pid, SIGINT);
    EXPECT_EQ(again.Wait(), 130) << again.Err();
    EXPECT_TRUE(Has(again.Err(), "torn")) << again.Err();
    EXPECT_TRUE(Has(again.Err(), "radio 2 on " + port + " was being flashed when the station before ended (at block"))
        << again.Err();
    const std::string after = ReadText(record);
    EXPECT_EQ(after.substr(0, before.size()), before);
    std::istringstream lines(after.substr(before.size()));
    std::vector<Json> added;
    for (std::string line; std::getline(lines, line);)
        added.push_back(Json::parse(line));
    ASSERT_EQ(added.size(), 3u);
    EXPECT_EQ(added[0]["outcome"], "interrupted");
    EXPECT_EQ(added[0]["run_id"], underWay["run_id"]);
    EXPECT_EQ(added[0]["radio"], 2);
    EXPECT_EQ(added[0]["stage"], "block");
    EXPECT_EQ(added[1]["outcome"], "started");
    EXPECT_EQ(added[2]["outcome"], "cancelled");
    EXPECT_NE(added[2]["run_id"], underWay["run_id"]);
    EXPECT_EQ(added[2]["radio"], 1) << "numbered within its own run";
}

// A record the station cannot use is refused before any port; pinned images are checked before
// any port too; a file replaced during the day changes nothing of what the radios get.
TEST_F(CliTest, StationRecordsOnlyWhatItCanAndFlashesOnlyWhatItRead)
{
    const std::string app = Image("app.bin", 9000, 1);
    const std::vector<char> first = ReadBytes(app);
    const std::string digest = Sha256Hex(first.data(), first.size());
    WriteText(m_dir.File("README"), "# radios\n");
    WriteText(m_dir.File("m.json"), "{\"app\": {\"path\": \"app.bin\", \"sha256\": \"" + digest + "\"}}");
    WriteText(m_dir.File("bad.json"), "{\"app\": {\"path\": \"app.bin\",\n  \"sha256\" 1}}");
    WriteText(m_dir.File("odd.json"), "{\"boot\": {\"path\": \"app.bin\", \"sha256\": \"" + digest + "\"}}");
    struct Case
    {
        std::vector<std::string> args;
        int code;
        std::string text;
    };
    const std::string other(64, 'a');
    const std::vector<Case> cases{
        {{"--record", m_dir.File("missing/radios.jsonl")}, 73, "cannot create the record"},
        {{"--record", m_dir.Path().string()}, 73, "cannot create the record"},
        {{"--record", m_dir.File("README")}, 73, "is not a station's record"},
        {{"--expect-sha256", "app=" + other}, 6, "has the SHA-256 " + digest + ", not the expected " + other},
        {{"--expect-sha256", "boot=" + other}, 64, "--expect-sha256 boot="},
        {{"--expect-sha256", "app=12ab"}, 64, "is not ROLE=HEX"},
        {{"--expect-sha256", "rcdb=" + other}, 64, "names no image"},
        {{"--manifest", m_dir.File("bad.json")}, 6, "is not JSON (line 2, column"},
        {{"--manifest", m_dir.File("odd.json")}, 6, "unknown role \"boot\""},
        {{"--manifest", m_dir.File("m.json"), "-a", "app.bin"}, 64, "does not go with --manifest"},
        {{"-p", ""}, 64, "--port '' names no port"},
    };
    for (const Case& c : cases)
    {
        std::vector<std::string> args{"--station", "-p", m_dir.File("no-port")};
        if (std::find(c.args.begin(), c.args.end(), "--manifest") == c.args.end())
            args.insert(args.end(), {"-a", "app.bin"});
        args.insert(args.end(), c.args.begin(), c.args.end());
        args.push_back("--json");
        Process p;
        p.Start(Update(args), m_dir, "refused", {}, m_dir.Path().string());
        // Refused before any port: a station that starts instead would wait for ever.
        EXPECT_EQ(p.WaitFor(10000), c.code) << c.args[0] << "\n" << p.Err();
        EXPECT_TRUE(Has(p.Err(), c.text)) << c.args[0] << "\n" << p.Err();
        EXPECT_EQ(p.Document().value("exit_code", -1), c.code) << c.args[0];
    }
    EXPECT_EQ(ReadText(m_dir.File("README")), "# radios\n");

    // Two radios, the image replaced on disk between them: both get the bytes read at the start.
    const std::string record = m_dir.File("radios.jsonl");
    const std::string bench = StartRadio({"--radios", "2", "--gap", "1500"});
    Process station;
    station.Start(Update({"--station", "-p", bench, "--settle", "1", "--count", "2", "--record", record, "--manifest",
                          m_dir.File("m.json"), "--station-id", "bench-7", "--operator", "Ann"}),
                  m_dir, "station", {}, m_dir.Path().string());
    ASSERT_TRUE(WaitUntil([&] { return Has(station.Err(), "radio 1 done"); })) << station.Err();
    WriteBytes(app, RandomImage(9000, 2));
    EXPECT_EQ(station.Wait(), 0) << station.Err();
    EXPECT_TRUE(Has(station.Err(), "station image app: " + app + " (9000 bytes, sha256 " + digest + ")"));
    EXPECT_TRUE(Has(station.Err(), "app.bin changed on disk since the station read it")) << station.Err();
    std::istringstream lines(ReadText(record));
    int ends = 0;
    for (std::string line; std::getline(lines, line);)
    {
        const Json doc = Json::parse(line);
        EXPECT_EQ(doc["images"][0]["sha256"], digest);
        EXPECT_EQ(doc["station_id"], "bench-7");
        EXPECT_EQ(doc["operator"], "Ann");
        ends += doc["outcome"] == "success" ? 1 : 0;
    }
    EXPECT_EQ(ends, 2);
    EXPECT_EQ(ReadBytes(m_dir.File("received0/2/app.bin")), first);
}

// Radios told apart by the serial number in their menu: the next radio put on while the last one
// settles is flashed at once, and with --once a radio that succeeded before is not flashed again.
TEST_F(CliTest, StationKnowsEachRadioByItsId)
{
    Image("app.bin", 3000, 3);
    const std::string record = m_dir.File("radios.jsonl");
    const std::vector<std::string> station{"--station",  "--settle", "3",          "--record",          record,
                                           "-a",         "app.bin",  "--radio-id", "S/N (KD7X-[0-9]+)", "--confirm",
                                           "upgrade OK", "--json"};
    const auto with = [&station](std::vector<std::string> more) {
        more.insert(more.begin(), station.begin(), station.end());
        return more;
    };
    // The second radio shows its menu a third of a second after the first left: in its settle time.
    const std::string bench = StartRadio({"--radios", "2", "--gap", "300"});
    Process both;
    both.Start(Update(with({"-p", bench, "--count", "2"})), m_dir, "both", {}, m_dir.Path().string());
    const bool second = WaitUntil([&] { return Has(ReadText(record), "KD7X-001002"); });
    if (!second)
        kill(both.pid, SIGKILL);
    EXPECT_EQ(both.Wait(), 0) << both.Err();
    ASSERT_TRUE(second) << "the second radio waits at its menu\n" << both.Err();

    // The first radio again, on another port, left there at its menu: recorded once, not again at
    // each look at its port.
    const std::string again = StartRadio({"--serial", "KD7X-001001"});
    Process once;
    std::vector<std::string> quick = with({"-p", again, "--once"});
    *(std::find(quick.begin(), quick.end(), "--settle") + 1) = "1";
    once.Start(Update(quick), m_dir, "once", {}, m_dir.Path().string());
    ASSERT_TRUE(WaitUntil([&] { return Has(ReadText(record), "already_flashed"); })) << once.Err();
    std::this_thread::sleep_for(std::chrono::seconds(4));
    kill(once.pid, SIGINT);
    EXPECT_EQ(once.Wait(), 0) << "not flashed again is no failure\n" << once.Err();
    EXPECT_TRUE(Has(once.Err(), "KD7X-001001 was flashed at ")) << once.Err();
    EXPECT_TRUE(Has(once.Err(), "1 already flashed")) << once.Err();
    EXPECT_TRUE(Has(once.Err(), "the radio still shows its menu: unplug it")) << once.Err();

    // A new release: the same radio is flashed again with --once, as a repeat.
    WriteBytes(m_dir.File("app2.bin"), RandomImage(3000, 4));
    StopRadio(m_radios.back());
    const std::string release = StartRadio({"--serial", "KD7X-001001"});
    std::vector<std::string> args = with({"-p", release, "--once", "--count", "1"});
    std::replace(args.begin(), args.end(), std::string("app.bin"), std::string("app2.bin"));
    Process newer;
    newer.Start(Update(args), m_dir, "newer", {}, m_dir.Path().string());
    EXPECT_EQ(newer.WaitFor(30000), 0) << newer.Err();

    std::istringstream lines(ReadText(record));
    std::vector<Json> radios;
    for (std::string line; std::getline(lines, line);)
        if (Json::parse(line)["outcome"] != "started")
            radios.push_back(Json::parse(line));
    const std::vector<std::tuple<std::string, std::string, bool>> expected{{"success", "KD7X-001001", false},
                                                                           {"success", "KD7X-001002", false},
                                                                           {"already_flashed", "KD7X-001001", true},
                                                                           {"success", "KD7X-001001", true}};
    ASSERT_EQ(radios.size(), expected.size());
    for (std::size_t i = 0; i < radios.size(); ++i)
    {
        EXPECT_EQ(radios[i]["outcome"], std::get<0>(expected[i])) << i;
        EXPECT_EQ(radios[i]["radio_id"], std::get<1>(expected[i])) << i;
        EXPECT_EQ(radios[i]["repeat"], std::get<2>(expected[i])) << i;
        EXPECT_EQ(radios[i]["confirmed"], i == 2 ? Json(nullptr) : Json(true)) << i;
    }
    EXPECT_TRUE(Has(radios[0]["menu_text"], "S/N KD7X-001001"));
    EXPECT_TRUE(Has(radios[1]["after_write_text"], "upgrade OK"));
    EXPECT_EQ(ReadBytes(m_dir.File("received0/2/app.bin")), ReadBytes(m_dir.File("app.bin")));
    EXPECT_FALSE(std::filesystem::exists(m_dir.File("received1/app.bin"))) << "flashed again";
    EXPECT_EQ(ReadBytes(m_dir.File("received2/app2.bin")), ReadBytes(m_dir.File("app2.bin")));
}

TEST_F(CliTest, ReportOverARecordAndWhatItRefuses)
{
    const std::string record = m_dir.File("radios.jsonl");
    WriteText(record, "{\"outcome\":\"success\",\"port\":\"p\\u001b[2J\",\"start\":\"2026-12-09T08:00:00Z\","
                      "\"end\":\"2026-12-09T08:01:00Z\",\"duration_s\":60}\n"
                      "{\"outcome\":\"unable_to_write\",\"stage\":\"block\",\"port\":\"p2\","
                      "\"start\":\"2026-12-10T08:00:00Z\",\"duration_s\":30}\n"
                      "{\"outcome\":\"succ");
    struct Case
    {
        std::vector<std::string> args;
        int code;
        std::string outcome, text;
    };
    const std::vector<Case> cases{
        {{"--report", record}, 0, "", "radios 2: 1 succeeded, 1 failed; first-pass yield 50.0 % (1 of 2)"},
        // What the record holds is shown escaped.
        {{"--report", record}, 0, "", "\np.[2J  "},
        {{"--report", record, "--since", "2026-12-10"}, 0, "", "radios 1: 0 succeeded, 1 failed"},
        {{"--report", m_dir.File("none.jsonl")}, 66, "cannot_open_input", "none.jsonl: No such file or directory"},
        {{"--report", m_dir.Path().string()}, 66, "cannot_open_input", "Is a directory"},
        {{"--report", record, "--since", "yesterday"}, 64, "usage_error", "--since yesterday is not a date"},
        {{"--report", record, "--station"}, 64, "usage_error", "--station does not go with --report"},
        {{"--report", record, "-p", "/dev/ttyUSB0"}, 64, "usage_error", "--port does not go with --report"},
        {{"--since", "2026-12-10", "-a", "app.bin"}, 64, "usage_error", "--since goes with --report"},
    };
    for (const Case& c : cases)
    {
        const std::string name = c.args[0] + " " + c.args[1] + " " + c.text;
        Process text;
        EXPECT_EQ(RunUpdate(c.args, text), c.code) << name << "\n" << text.Err();
        EXPECT_TRUE(Has(c.code == 0 ? text.Out() : text.Err(), c.text)) << name << "\n" << text.Out() << text.Err();
        std::vector<std::string> args = c.args;
        args.push_back("--json");
        Process json;
        EXPECT_EQ(RunUpdate(args, json), c.code) << name;
        const Json doc = json.Document();
        if (c.code != 0)
        {
            EXPECT_EQ(doc.value("outcome", ""), c.outcome) << name;
            EXPECT_EQ(doc.value("exit_code", 0), c.code) << name;
            EXPECT_TRUE(Has(doc.value("message", ""), c.text)) << name;
        }
    }

    Process report;
    ASSERT_EQ(RunUpdate({"--report", record, "--json"}, report), 0);
    const Json doc = report.Document();
    EXPECT_EQ(doc["record"], record);
    EXPECT_EQ(doc["version"], KD7X_VERSION);
    EXPECT_EQ(doc["radios"], 2);
    EXPECT_EQ(doc["successes"], 1);
    EXPECT_EQ(doc["failures"]["by_stage"], (Json{{"block", 1}}));
    EXPECT_EQ(doc["first_pass_yield"], 0.5);
    EXPECT_EQ(doc["by_port"][0]["port"], "p\x1b[2J");
    EXPECT_EQ(doc["by_port"][0]["median_duration_s"], 60.0);
    EXPECT_EQ(doc["bad_lines"], (Json{{"count", 1}, {"lines", {3}}, {"all_listed", true}}));
    for (const char* key : {"interrupted", "starts", "already_flashed", "by_image", "by_day", "repeats"})
        EXPECT_TRUE(doc.contains(key)) << key;
}
