#include "engine/Kd7v001YmodemControl.h"
#include "serial/SerialLink.h"

#include "../support/FakeRadioPort.h"
#include "../support/TestSupport.h"

#include <gtest/gtest.h>

namespace
{
using Y = Kd7v001YmodemControl;
using Answers = std::vector<RadioAnswer>;

RadioAnswer Piece(std::vector<char> bytes) { return RadioAnswer{{std::move(bytes)}, false}; }

// A radio that gives the scripted answers in turn, then nothing.
CFakeRadioPort::Responder Script(std::vector<Answers> answers)
{
    auto shared = std::make_shared<std::vector<Answers>>(std::move(answers));
    auto next = std::make_shared<std::size_t>(0);
    return
        [shared, next](const std::vector<char>&) { return *next < shared->size() ? (*shared)[(*next)++] : Answers{}; };
}

const std::vector<char> kFrame{0x02, 0x01, static_cast<char>(0xFE)};
} // namespace

TEST(SerialLink, WritesCompleteAtOnceOrAfterWaiting)
{
    CFakeRadioPort port;
    port.m_responder = Script({});
    HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    EXPECT_TRUE(WriteSerialFrame(&port, event, kFrame));
    port.m_pendingWrites = true;
    EXPECT_TRUE(WriteSerialFrame(&port, event, kFrame));
    port.m_shortWrites = true;
    EXPECT_FALSE(WriteSerialFrame(&port, event, kFrame)) << "a write cut short by the time-out";
    port.m_pendingWrites = false;
    port.m_writeFailures = 1;
    EXPECT_FALSE(WriteSerialFrame(&port, event, kFrame)) << "a refused write is a failed write";
    CloseHandle(event);
}

TEST(SerialLink, ReadsWhatIsQueuedAndTreatsBothTimeOutFormsAlike)
{
    for (bool wine : {false, true})
    {
        CFakeRadioPort port;
        port.m_wineTimeouts = wine;
        HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        std::vector<char> out{'x'};
        EXPECT_EQ(ReadSerialAvailable(&port, event, out), 0);
        EXPECT_EQ(out, std::vector<char>{'x'});

        port.Push(std::string("abc"));
        port.Push(std::string("de"));
        EXPECT_EQ(ReadSerialAvailable(&port, event, out), 3) << "one piece per call";
        EXPECT_EQ(ReadSerialAvailable(&port, event, out), 2);
        EXPECT_EQ(std::string(out.begin(), out.end()), "xabcde");

        port.m_readErrors = 1;
        EXPECT_EQ(ReadSerialAvailable(&port, event, out), -1);
        port.m_vanished = true;
        EXPECT_THROW(ReadSerialAvailable(&port, event, out), CSerialException);
        CloseHandle(event);
    }
}

TEST(HostWriteFrame, RetriesLogsAndPausesAsConfigured)
{
    CSettingsFile settings;
    CFakeRadioPort port;
    port.m_timeouts.ReadTotalTimeoutConstant = 700;
    port.m_timeouts.WriteTotalTimeoutConstant = 900;
    port.m_responder = Script({{Piece({0x15})}, {}, {Piece({0x06})}});
    port.m_writeFailures = 1;
    CTestEngine engine;
    std::vector<std::vector<char>> traces;
    engine.m_sigAnswerTrace.connect([&](const std::vector<char>& a) { traces.push_back(a); });

    EXPECT_TRUE(engine.HostWriteFrame(&port, kFrame, 5, 150, 1, [&](const auto& a) { return engine.IsAck(a); }));
    // write refused, NAK, silence, ACK
    EXPECT_EQ(port.m_writeCalls, 4);
    EXPECT_EQ(engine.m_delays, (std::vector<DWORD>{900, 150, 700, 150, 700, 150}));
    EXPECT_EQ(traces, (std::vector<std::vector<char>>{{0x15}, {}, {}, {0x06}}))
        << "a short answer is read again and traced again whole";
    for (const auto& frame : port.m_written)
        EXPECT_EQ(frame, kFrame) << "a retry resends the same bytes";
}

TEST(HostWriteFrame, NoAttemptsMeansNothingIsWritten)
{
    CFakeRadioPort port;
    CTestEngine engine;
    for (int retries : {0, -3})
        EXPECT_FALSE(engine.HostWriteFrame(&port, kFrame, retries, 10, 1, [](const auto&) { return true; }));
    EXPECT_EQ(port.m_writeCalls, 0);
}

TEST(HostWriteFrame, SplitAnswerIsCompletedBySecondRead)
{
    CFakeRadioPort port;
    port.m_responder = Script({{RadioAnswer{{{0x06}, {0x43}}, false}}});
    CTestEngine engine;
    EXPECT_TRUE(engine.HostWriteFrame(&port, kFrame, 1, 200, 2, [&](const auto& a) { return engine.IsAckC(a); }));

    CFakeRadioPort shortMin;
    shortMin.m_responder = Script({{RadioAnswer{{{0x06}, {0x43}}, false}}});
    EXPECT_FALSE(engine.HostWriteFrame(&shortMin, kFrame, 1, 200, 1, [&](const auto& a) { return engine.IsAckC(a); }))
        << "with a minimum of 1 the first piece is judged alone";
}

TEST(HostWriteFrame, SerialFailuresEndAtOnce)
{
    CTestEngine engine;
    auto ack = [&](const auto& a) { return engine.IsAck(a); };

    CFakeRadioPort gone;
    gone.m_vanished = true;
    EXPECT_FALSE(engine.HostWriteFrame(&gone, kFrame, 10, 0, 1, ack));
    EXPECT_EQ(gone.m_writeCalls, 1);

    CFakeRadioPort badStatus;
    badStatus.m_responder = Script({{Piece({0x06, 0x06})}});
    badStatus.m_failStatus = true;
    EXPECT_FALSE(engine.HostWriteFrame(&badStatus, kFrame, 10, 0, 1, ack));
    EXPECT_EQ(badStatus.m_writeCalls, 1);

    CFakeRadioPort badWait;
    badWait.m_failOverlapped = true;
    EXPECT_FALSE(engine.HostWriteFrame(&badWait, kFrame, 10, 0, 1, ack));
    EXPECT_EQ(badWait.m_writeCalls, 1);

    CFakeRadioPort readError;
    readError.m_readErrors = 1;
    readError.m_responder = Script({{Piece({0x06})}, {Piece({0x06})}});
    EXPECT_TRUE(engine.HostWriteFrame(&readError, kFrame, 2, 0, 1, ack)) << "an unexpected read error is retried";
    EXPECT_EQ(readError.m_writeCalls, 2);

    CFakeRadioPort noTimeouts;
    noTimeouts.m_failGetTimeouts = true;
    EXPECT_THROW(engine.HostWriteFrame(&noTimeouts, kFrame, 3, 0, 1, ack), CSerialException);
}

TEST(Senders, DefaultsPerSenderAndAPresentKeyForAll)
{
    struct Case
    {
        const char* name;
        std::function<bool(CTestEngine&, CFakeRadioPort&)> send;
        int attempts;
        DWORD interval;
    };
    const std::vector<char> block(1029, 0x02);
    const std::vector<Case> cases{
        {"select", [](CTestEngine& e, CFakeRadioPort& p) { return e.HostSelectImage(&p, 1); }, 10, 200},
        {"ackc", [](CTestEngine& e, CFakeRadioPort& p) { return e.HostWriteFrameAckC(&p, {0x01}); }, 3, 200},
        {"ack", [&](CTestEngine& e, CFakeRadioPort& p) { return e.HostWriteFrameAck(&p, block); }, 3, 150},
        {"nak", [](CTestEngine& e, CFakeRadioPort& p) { return e.HostWriteFrameNak(&p, {0x04}); }, 10, 200},
    };
    for (const char* file : {"", "[Device]\nWriteDataFrameRetry=5\nWriteDataFrameInterval=40\n"})
    {
        CSettingsFile settings(file);
        for (const auto& c : cases)
        {
            CFakeRadioPort port;
            port.m_responder = [](const std::vector<char>&) { return Answers{Piece({0x18})}; };
            CTestEngine engine;
            EXPECT_FALSE(c.send(engine, port));
            EXPECT_EQ(port.m_writeCalls, *file ? 5 : c.attempts) << c.name;
            ASSERT_FALSE(engine.m_delays.empty());
            EXPECT_EQ(engine.m_delays[0], *file ? 40u : c.interval) << c.name;
        }
    }

    CSettingsFile settings;
    CFakeRadioPort silent;
    silent.m_responder = Script({});
    CTestEngine engine;
    EXPECT_TRUE(engine.HostWriteLocation(&silent)) << "the write command needs no answer";
    EXPECT_EQ(silent.m_written, (std::vector<std::vector<char>>{{0x34}}));

    CSettingsFile none("[Device]\nWriteDataFrameRetry=0\n");
    CFakeRadioPort idle;
    EXPECT_FALSE(engine.HostWriteLocation(&idle));
    EXPECT_FALSE(engine.HostSelectImage(&idle, 2));
    EXPECT_EQ(idle.m_writeCalls, 0);
}

TEST(HostListenUpdate, CountsDownAndGivesUp)
{
    CSettingsFile settings("[Device]\nListenUpdateRetry=0\nlistenInterval=20\n");
    CFakeRadioPort port;
    CTestEngine engine;
    std::vector<std::pair<int, int>> progress;
    engine.m_sigListenProgress.connect([&](int left, int total) {
        progress.emplace_back(left, total);
        return false;
    });
    EXPECT_FALSE(engine.HostListenUpdate(&port));
    ASSERT_GE(progress.size(), 2u);
    EXPECT_EQ(progress.back(), std::make_pair(-1, 0));
    for (std::size_t i = 0; i + 1 < progress.size(); ++i)
        EXPECT_EQ(progress[i], std::make_pair(0, 0));
    EXPECT_EQ(port.m_timeoutsSeen, 1) << "exactly one read";
    EXPECT_EQ(engine.m_delays.front(), 20u);
}

TEST(HostListenUpdate, MenuInOneReadIsSeenAndTraced)
{
    CSettingsFile settings("[Device]\nListenUpdateRetry=5\n");
    CFakeRadioPort port;
    port.Push(std::string("boot..."));
    port.Push(std::string("Main Me"));
    port.Push(std::string("nu\r\n"));
    port.Push(std::string("\r\n1. Main Menu\r\n"));
    CTestEngine engine;
    std::vector<std::string> traces;
    engine.m_sigListenTrace.connect([&](const std::vector<char>& a) { traces.emplace_back(a.begin(), a.end()); });
    std::vector<int> lefts;
    engine.m_sigListenProgress.connect([&](int left, int) {
        lefts.push_back(left);
        return false;
    });
    EXPECT_TRUE(engine.HostListenUpdate(&port));
    EXPECT_EQ(traces, (std::vector<std::string>{"boot...", "Main Me", "nu\r\n", "\r\n1. Main Menu\r\n"}))
        << "a split menu text is not recognised";
    EXPECT_EQ(lefts.front(), 5);
    EXPECT_EQ(lefts.back(), 2);
}

TEST(HostListenUpdate, StopAndSerialFailureEndTheWait)
{
    CSettingsFile settings;
    CTestEngine engine;
    CFakeRadioPort port;
    engine.m_sigListenProgress.connect([](int, int) { return true; });
    EXPECT_FALSE(engine.HostListenUpdate(&port));
    EXPECT_EQ(port.m_readCalls, 0);

    CTestEngine other;
    CFakeRadioPort gone;
    gone.m_vanished = true;
    EXPECT_FALSE(other.HostListenUpdate(&gone));
    EXPECT_EQ(gone.m_readCalls, 1);
}
