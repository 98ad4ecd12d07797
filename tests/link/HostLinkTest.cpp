#include "engine/Kd7v001YmodemControl.h"
#include "serial/SerialLink.h"

#include "../support/FakeRadioPort.h"
#include "../support/TestSupport.h"

#include <gtest/gtest.h>

#include <climits>

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

CFakeRadioPort::Responder Always(std::vector<char> answer)
{
    return [answer](const std::vector<char>&) { return Answers{Piece(answer)}; };
}

const std::vector<char> kFrame{0x02, 0x01, static_cast<char>(0xFE)};

// The time-outs as the run sets them from the "timeout" setting.
void SetTimeout(CFakeRadioPort& port, DWORD timeout)
{
    port.m_timeouts.ReadTotalTimeoutConstant = timeout == 0 ? 1 : timeout;
    port.m_timeouts.WriteTotalTimeoutConstant = timeout == 0 ? 1000 : timeout;
}
} // namespace

TEST(SerialLink, WritesCompleteAtOnceOrAfterWaitingAndABudgetEndsAWriteThatHangs)
{
    CFakeRadioPort port;
    port.m_responder = Script({});
    HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    EXPECT_TRUE(WriteSerialFrame(&port, event, kFrame));
    EXPECT_EQ(port.m_overlappedCalls, 0) << "a write done at once is not waited for";
    port.m_pendingWrites = true;
    EXPECT_TRUE(WriteSerialFrame(&port, event, kFrame));
    EXPECT_EQ(port.m_overlappedCalls, 1);
    port.m_shortWrites = true;
    EXPECT_FALSE(WriteSerialFrame(&port, event, kFrame)) << "a write cut short by the time-out";
    port.m_wineTimeouts = true;
    EXPECT_FALSE(WriteSerialFrame(&port, event, kFrame)) << "Wine's form of the same";
    port.m_pendingWrites = false;
    port.m_writeFailures = 1;
    EXPECT_FALSE(WriteSerialFrame(&port, event, kFrame)) << "a refused write is a failed write";

    CFakeRadioPort stuck;
    stuck.m_stuckWrites = true;
    stuck.m_timeouts.WriteTotalTimeoutConstant = 60000;
    const DWORD start = g_testTick;
    int asked = 0;
    EXPECT_FALSE(WriteSerialFrame(&stuck, event, kFrame, [&]() -> DWORD { return ++asked < 4 ? kNoDeadline : 0; }));
    EXPECT_EQ(g_testTick - start, 3 * kWaitSliceMs) << "asked before every slice; the write given up at once";
    CloseHandle(event);
}

TEST(SerialLink, ReadsWhatIsQueuedWithinItsBoundsAndTreatsEveryTimeOutFormAlike)
{
    for (bool wine : {false, true})
    {
        CFakeRadioPort port;
        port.m_wineTimeouts = wine;
        HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        std::vector<char> out{'x'};
        EXPECT_EQ(ReadSerialAvailable(&port, event, out), 0);
        EXPECT_EQ(out, std::vector<char>{'x'});

        port.Push(std::string("abc"), 10);
        port.Push(std::string("de"), 2000);
        EXPECT_EQ(ReadSerialAvailable(&port, event, out), 3) << "what has come by the first byte's wait";
        EXPECT_EQ(ReadSerialAvailable(&port, event, out), 0) << "the rest comes after the read window";
        EXPECT_EQ(ReadSerialAvailable(&port, event, out), 2);
        EXPECT_EQ(std::string(out.begin(), out.end()), "xabcde");

        // A line that never goes quiet: each read ends at its bound of bytes.
        port.Push(std::string(3 * kMaxReadBytes, 'z'));
        std::vector<char> chatter;
        EXPECT_EQ(ReadSerialAvailable(&port, event, chatter), static_cast<int>(kMaxReadBytes));
        std::vector<char> none;
        port.m_current.clear();
        EXPECT_EQ(ReadSerialAvailable(&port, event, none, [] { return DWORD{0}; }), kReadStopped);
        EXPECT_TRUE(none.empty());

        port.m_emptyCompletions = true;
        EXPECT_EQ(ReadSerialAvailable(&port, event, out), 0) << "a read done at once with no byte reads nothing";
        port.m_emptyCompletions = false;
        port.m_readErrors = 1;
        EXPECT_EQ(ReadSerialAvailable(&port, event, out), -1);
        for (DWORD code : {ERROR_ACCESS_DENIED, ERROR_INVALID_HANDLE})
        {
            port.m_vanished = true;
            port.m_vanishCode = code;
            try
            {
                ReadSerialAvailable(&port, event, out);
                ADD_FAILURE() << "a gone device must throw " << code;
            }
            catch (const CSerialException& e)
            {
                EXPECT_EQ(e.m_dwError, code);
            }
        }
        EXPECT_EQ(std::string(out.begin(), out.end()), "xabcde");
        CloseHandle(event);
    }
}

TEST(HostWriteFrame, RetriesAndPausesAsConfigured)
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
    std::vector<std::pair<AttemptFailure, int>> failures;
    engine.m_sigAttemptFailed.connect([&](const std::vector<char>&, AttemptFailure why, const std::vector<char>&,
                                          int left) { failures.emplace_back(why, left); });

    EXPECT_TRUE(engine.HostWriteFrame(&port, kFrame, 5, 150, 1, [&](const auto& a) { return engine.IsAck(a); }));
    // write refused (its pause 900), NAK read after 150 (pause 700), silence through two read windows
    // (pause 700), ACK
    const DWORD t0 = engine.m_start;
    EXPECT_EQ(port.m_writeTimes, (std::vector<DWORD>{t0 + 900, t0 + 1750, t0 + 4000}));
    EXPECT_EQ(traces, (std::vector<std::vector<char>>{{0x15}, {}, {}, {0x06}}))
        << "a short answer is read again and traced again whole";
    EXPECT_EQ(failures, (std::vector<std::pair<AttemptFailure, int>>{
                            {AttemptFailure::Write, 4}, {AttemptFailure::Answer, 3}, {AttemptFailure::Answer, 2}}));
    for (const auto& frame : port.m_written)
        EXPECT_EQ(frame, kFrame) << "a retry resends the same bytes";

    CFakeRadioPort idle;
    for (int retries : {0, -3, INT_MIN})
        EXPECT_FALSE(engine.HostWriteFrame(&idle, kFrame, retries, 10, 1, [](const auto&) { return true; }));
    EXPECT_EQ(idle.m_writeCalls, 0) << "no attempts: nothing is written";
}

TEST(HostWriteFrame, SplitAnswerIsCompletedBySecondReadOrInThePause)
{
    CTestEngine engine;
    for (unsigned minAnswer : {2u, 1u})
    {
        CFakeRadioPort port;
        port.m_responder = Script({{RadioAnswer{{{0x06}, {0x43}}, false}}});
        EXPECT_TRUE(engine.HostWriteFrame(&port, kFrame, 1, 0, minAnswer, [&](const auto& a) {
            return engine.IsAckC(a);
        })) << minAnswer;
        EXPECT_EQ(port.m_writeCalls, 1) << "the second piece completes the answer without a resend";
    }
}

TEST(HostWriteFrame, SerialFailuresEndAtOnce)
{
    CTestEngine engine;
    auto ack = [&](const auto& a) { return engine.IsAck(a); };

    CFakeRadioPort gone;
    gone.m_responder = Script({});
    gone.m_vanishAt = g_testTick + 1;
    EXPECT_FALSE(engine.HostWriteFrame(&gone, kFrame, 10, 0, 1, ack));
    EXPECT_EQ(gone.m_writeCalls, 1);

    CFakeRadioPort badStatus;
    badStatus.m_failStatus = true;
    EXPECT_FALSE(engine.HostWriteFrame(&badStatus, kFrame, 10, 0, 1, ack));
    EXPECT_EQ(badStatus.m_writeCalls, 0) << "the status before the write fails already";

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

// Answers that come late, get lost or follow a second copy; stops; a radio that restarts after the
// write command: each case ends in the outcome the radio's state calls for.
TEST(HostWriteFrame, LateLostAndStoppedAnswersEndHonestly)
{
    struct Case
    {
        const char* name;
        DWORD timeout;
        std::function<void(CFakeRadioPort&)> radio;
        std::function<bool(CTestEngine&, CFakeRadioPort&)> send;
        bool ok;
        std::size_t written; // frames the radio got
        DWORD within;        // the whole exchange took at most this long on the clock
    };
    const auto ack = [](CTestEngine& e, CFakeRadioPort& p) {
        return e.HostWriteFrame(&p, kFrame, 3, 150, 1, [&](const auto& a) { return e.IsAck(a); });
    };
    const auto nak = [](CTestEngine& e, CFakeRadioPort& p) {
        return e.HostWriteFrame(&p, {Y::EOT}, 3, 200, 1, [&](const auto& a) { return e.IsNak(a); });
    };
    const auto location = [](CTestEngine& e, CFakeRadioPort& p) { return e.HostWriteLocation(&p); };
    const auto after = [](DWORD ms) { return [ms](const std::vector<char>&) { return ms; }; };
    const auto stopAt = [](DWORD ms) {
        return [ms](CTestEngine& e, CFakeRadioPort&) { e.m_stopCheck = [&e, ms] { return e.Elapsed() >= ms; }; };
    };
    const std::vector<Case> cases{
        // A late answer, judged in the pause after its attempt, is that attempt's answer: no resend.
        {"NAK 2.6 s late", 1000, [&](auto& p) { p.m_responder = Always({Y::NAK}), p.m_delay = after(2600); }, nak, true,
         1, 3300},
        {"ACK after the read window", 0, [&](auto& p) { p.m_responder = Always({Y::ACK}), p.m_delay = after(188); },
         ack, true, 1, 1000},
        // A lost answer: the copy goes no sooner than the guard, its answer judged in turn.
        {"lost, then answered", 0,
         [](auto& p) {
             p.m_responder = Script({{}, {Piece({Y::ACK})}});
         },
         ack, true, 2, Y::kUntimedGuardMs + 200},
        {"never answered", 0, [](auto& p) { p.m_responder = Script({}); }, ack, false, 3, 3 * Y::kUntimedGuardMs + 200},
        // A stop is seen within a second whatever the time-out, reading or writing.
        {"stop while reading", 60000, [&](auto& p) { p.m_responder = Script({}); }, ack, false, 1, 1600},
        {"stop while writing", 60000, [](auto& p) { p.m_stuckWrites = true; }, ack, false, 0, 1600},
        // The write command has been delivered once it left the port, whatever follows.
        {"radio restarts at once", 2000, [](auto& p) { p.m_vanishAt = g_testTick + 10; }, location, true, 1, 2300},
        {"radio restarts 3 s later", 2000,
         [&](auto& p) { p.m_responder = Script({}), p.m_vanishAt = g_testTick + 3000; }, location, true, 1, 2300},
        // Gone before the drain could look: the radio may have the command, or not.
        {"gone before the drain looked", 2000,
         [](auto& p) { p.m_responder = [](const auto&) {
                           return std::vector<RadioAnswer>{{{}, true}};
                       }; }, location,
         false, 1, 300},
        {"command not written", 1000, [](auto& p) { p.m_writeFailures = 100; }, location, false, 0, 11000},
        {"radio restarts as the command leaves", 1000, [](auto& p) { p.m_outQueueMs = 4, p.m_goneAtFlush = true; },
         location, true, 1, 300},
        {"unplugged with the command queued", 1000,
         [](auto& p) { p.m_outQueueMs = 100, p.m_vanishAt = g_testTick + 6; }, location, false, 1, 100},
        // A copy that never leaves the port is not followed by another: the radio would write twice.
        {"stuck in the port's queue", 10, [](auto& p) { p.m_outQueueMs = 100000; }, location, false, 1, 1000},
        {"drain fails, port still there", 1000, [](auto& p) { p.m_failFlush = true; }, location, false, 1, 100},
        // A stop that comes as the command's byte leaves the port: it has gone out.
        {"stopped as the command leaves", 1000, [](auto& p) { p.m_outQueueMs = 100; },
         [](CTestEngine& e, CFakeRadioPort& p) {
             e.m_stopCheck = [&p] { return !p.m_writeTimes.empty() && g_testTick >= p.m_writeTimes.back() + 99; };
             return e.HostWriteLocation(&p);
         },
         true, 1, 300},
        {"gone before the command", 1000, [](auto& p) { p.m_vanished = true; }, location, false, 0, 10},
    };
    for (const auto& c : cases)
    {
        CSettingsFile settings;
        CFakeRadioPort port;
        SetTimeout(port, c.timeout);
        c.radio(port);
        CTestEngine engine;
        const std::string name = c.name;
        if (name.rfind("stop", 0) == 0)
            stopAt(600)(engine, port);
        EXPECT_EQ(c.send(engine, port), c.ok) << name;
        EXPECT_EQ(port.m_written.size(), c.written) << name;
        EXPECT_LE(engine.Elapsed(), c.within) << name;
        const bool closes = name == "radio restarts at once" || name == "radio restarts as the command leaves";
        EXPECT_EQ(engine.m_lineClosedAfterWrite, closes) << name;
        const bool unsure = name == "gone before the drain looked" || name.rfind("unplugged", 0) == 0 ||
                            name == "drain fails, port still there" || name == "stuck in the port's queue";
        EXPECT_EQ(engine.m_writeUnsure, unsure) << name;
    }

    // A stop asked after the command left the port changes nothing.
    CSettingsFile settings;
    CFakeRadioPort port;
    port.m_responder = Script({});
    CTestEngine engine;
    engine.m_stopCheck = [&] { return port.m_flushCalls > 0; };
    EXPECT_TRUE(engine.HostWriteLocation(&port));
}

TEST(HostWriteFrame, AfterASecondCopyTheLineMustBeQuietBeforeTheNextFrame)
{
    CSettingsFile settings;
    CFakeRadioPort port;
    SetTimeout(port, 0);
    // An answer 188 ms late, after the read window, comes within the guard: one copy.
    port.m_delay = [](const std::vector<char>&) { return DWORD{188}; };
    port.m_responder = Script({{Piece({Y::ACK})}});
    CTestEngine engine;
    const auto ack = [&](const auto& a) { return engine.IsAck(a); };
    EXPECT_TRUE(engine.HostWriteFrame(&port, kFrame, 3, 150, 1, ack));
    ASSERT_EQ(port.m_written.size(), 1u) << "answered in the pause: one copy";
    EXPECT_GE(engine.LongestAnswerMs(), 188u);

    CFakeRadioPort twice;
    SetTimeout(twice, 0);
    twice.m_delay = [](const std::vector<char>&) { return DWORD{188}; };
    twice.m_responder = Script({{}, {Piece({Y::ACK})}, {}});
    twice.Push(std::vector<char>{Y::ACK}, Y::kUntimedGuardMs + 150); // the "lost" answer, merely late
    CTestEngine second;
    EXPECT_TRUE(second.HostWriteFrame(&twice, kFrame, 3, 150, 1, [&](const auto& a) { return second.IsAck(a); }));
    EXPECT_EQ(twice.m_written.size(), 2u);
    // The next frame goes only after the late answer of the other copy was heard and dropped, and
    // the line then stayed quiet for the guard; so its own loss is not hidden by that answer.
    EXPECT_FALSE(second.HostWriteFrame(&twice, kFrame, 1, 150, 1, [&](const auto& a) { return second.IsAck(a); }));
    EXPECT_GE(twice.m_writeTimes[2], twice.m_writeTimes[1] + 188 + second.ResendGuardMs());

    // A receiver that repeats its C while it waits for the header neither holds the header back
    // nor stretches the guard.
    CFakeRadioPort waiting;
    waiting.m_responder = Script({{}, {Piece({Y::CRC_C})}, {Piece({Y::ACK, Y::CRC_C})}});
    CTestEngine third;
    EXPECT_TRUE(third.HostSelectImage(&waiting, 1));
    for (DWORD after = 500; after <= 30000; after += 1000)
        waiting.Push(std::vector<char>{Y::CRC_C}, after);
    EXPECT_TRUE(third.HostWriteFrameAckC(&waiting, std::vector<char>(133, 0)));
    ASSERT_EQ(waiting.m_written.size(), 3u);
    EXPECT_LT(waiting.m_writeTimes[2] - waiting.m_writeTimes[1], 10000u) << "held back by the C's";
    EXPECT_LT(third.LongestAnswerMs(), 1000u);
}

TEST(Senders, DefaultsPerSenderAndAPresentKeyForAll)
{
    struct Case
    {
        const char* name;
        std::function<bool(CTestEngine&, CFakeRadioPort&)> send;
        int attempts;        // of the frame the radio refuses
        DWORD interval;      // its pause before reading the answer
        int exchangesBefore; // that succeed first, at 200 ms
    };
    const std::vector<char> block(1029, 0x02);
    const std::vector<Case> cases{
        {"select", [](CTestEngine& e, CFakeRadioPort& p) { return e.HostSelectImage(&p, 1); }, 10, 200, 0},
        {"ackc", [](CTestEngine& e, CFakeRadioPort& p) { return e.HostWriteFrameAckC(&p, {0x01}); }, 3, 200, 0},
        {"ack", [&](CTestEngine& e, CFakeRadioPort& p) { return e.HostWriteFrameAck(&p, block); }, 3, 150, 0},
        {"nak", [](CTestEngine& e, CFakeRadioPort& p) { return e.HostWriteFrameNak(&p, {0x04}); }, 10, 200, 0},
        {"end block",
         [](CTestEngine& e, CFakeRadioPort& p) {
             p.m_responder = Script({{Piece({0x15})}, {Piece({0x06, 0x43})}});
             return e.HostWriteEnd(&p, std::vector<char>(133, 0));
         },
         10, 200, 2},
        {"location", [](CTestEngine& e, CFakeRadioPort& p) { return e.HostWriteLocation(&p); }, 1, 200, 0},
    };
    for (const char* file : {"", "[Device]\nWriteDataFrameRetry=5\nWriteDataFrameInterval=40\n"})
    {
        CSettingsFile settings(file);
        for (const auto& c : cases)
        {
            const bool location = std::string(c.name) == "location";
            CFakeRadioPort port;
            port.m_timeouts = COMMTIMEOUTS{};
            port.m_timeouts.ReadTotalTimeoutConstant = 1; // only the intervals and the guard pause
            port.m_responder = Always({0x18});
            CTestEngine engine;
            int failures = 0;
            engine.m_sigAttemptFailed.connect([&](auto&&...) { ++failures; });
            EXPECT_EQ(c.send(engine, port), location) << c.name << ": any answer will do for the write command";
            const int attempts = location ? 1 : *file ? 5 : c.attempts;
            EXPECT_EQ(failures, location ? 0 : attempts) << c.name;
            std::vector<DWORD> expected;
            for (int i = 0; i < c.exchangesBefore + attempts; ++i)
            {
                const auto steps = Steps({*file ? 40u : i < c.exchangesBefore ? 200u : c.interval});
                expected.insert(expected.end(), steps.begin(), steps.end());
            }
            EXPECT_EQ(engine.m_delays, expected) << c.name;
        }
    }

    CSettingsFile none("[Device]\nWriteDataFrameRetry=0\n");
    CFakeRadioPort idle;
    CTestEngine engine;
    EXPECT_FALSE(engine.HostWriteLocation(&idle));
    EXPECT_FALSE(engine.HostSelectImage(&idle, 2));
    EXPECT_EQ(idle.m_writeCalls, 0);
}

TEST(HostListenUpdate, EachPassLastsASecondAndACancelInItsPauseStopsAtTheNextStep)
{
    CSettingsFile settings("[Device]\nListenUpdateRetry=2\nlistenInterval=300\n");
    CFakeRadioPort port;
    port.m_timeouts.ReadTotalTimeoutConstant = 200;
    CTestEngine engine;
    std::vector<int> lefts;
    engine.m_sigListenProgress.connect([&](int left, int total) {
        lefts.push_back(total == 2 ? left : 99);
        return false;
    });
    EXPECT_FALSE(engine.HostListenUpdate(&port));
    // Per pass: the interval, the read window, then as long again.
    EXPECT_EQ(engine.m_delays, Steps({300, 500, 300, 500, 300, 500}));
    EXPECT_EQ(lefts, (std::vector<int>{2, 2, 2, 2, 2, 2, 1, 1, 1, 1, 1, 1, 0, 0, 0, 0, 0, 0, -1}))
        << "asked at each pass and before each step of its pause, then -1";
    EXPECT_EQ(port.m_readCalls, 3) << "one read per pass";

    CTestEngine cancelled;
    int calls = 0;
    cancelled.m_sigListenProgress.connect([&](int, int) { return ++calls == 3; });
    EXPECT_FALSE(cancelled.HostListenUpdate(&port));
    EXPECT_EQ(cancelled.m_delays, Steps({300, 100})) << "no step after the Cancel";
}

TEST(HostListenUpdate, MenuInOneReadOrInAStreamIsSeenAndTraced)
{
    CSettingsFile settings("[Device]\nListenUpdateRetry=5\n");
    CFakeRadioPort port;
    port.Push(std::string("boot..."));
    port.Push(std::string("Main Me"), 1500);
    port.Push(std::string("nu\r\n"), 3000);
    port.Push(std::string("\r\n1. Main Menu\r\n"), 4500);
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
        << "a menu text split by a pause of the radio is not recognised";
    EXPECT_EQ(lefts.front(), 5);
    EXPECT_EQ(lefts.back(), 2);

    // A line that never goes quiet: the menu somewhere in its stream, across a read's bound.
    CFakeRadioPort chatty;
    chatty.Push(std::string(kMaxReadBytes - 4, '.') + "Main Menu" + std::string(3 * kMaxReadBytes, '.'));
    CTestEngine streaming;
    EXPECT_TRUE(streaming.HostListenUpdate(&chatty));
    EXPECT_EQ(chatty.m_readCalls, static_cast<int>(2 * kMaxReadBytes)) << "two bounded reads";
}

TEST(HostListenUpdate, StopAndSerialFailureEndTheWait)
{
    CSettingsFile settings("[Device]\nlistenInterval=60000\n");
    CFakeRadioPort port;
    CTestEngine stopped;
    stopped.m_stopCheck = [&] { return stopped.Elapsed() >= 500; };
    EXPECT_FALSE(stopped.HostListenUpdate(&port)) << "a stop in the listening interval";
    EXPECT_EQ(stopped.Elapsed(), 500u);

    CSettingsFile slow("[Device]\nlistenInterval=0\n");
    port.m_timeouts.ReadTotalTimeoutConstant = 60000;
    CTestEngine reading;
    reading.m_stopCheck = [&] { return reading.Elapsed() >= 500; };
    EXPECT_FALSE(reading.HostListenUpdate(&port)) << "a stop in a long read window";
    EXPECT_LE(reading.Elapsed(), 500u + kWaitSliceMs);

    CTestEngine other;
    CFakeRadioPort gone;
    gone.m_vanished = true;
    EXPECT_FALSE(other.HostListenUpdate(&gone));
    EXPECT_EQ(gone.m_readCalls, 1);
}
