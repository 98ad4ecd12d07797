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
} // namespace

TEST(SerialLink, WritesCompleteAtOnceOrAfterWaiting)
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
    CloseHandle(event);
}

TEST(SerialLink, ReadsWhatIsQueuedAndTreatsEveryTimeOutFormAlike)
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
    // write refused, NAK, silence, ACK
    EXPECT_EQ(port.m_writeCalls, 4);
    EXPECT_EQ(engine.m_delays, Steps({900, 150, 700, 150, 700, 150}));
    EXPECT_EQ(traces, (std::vector<std::vector<char>>{{0x15}, {}, {}, {0x06}}))
        << "a short answer is read again and traced again whole";
    EXPECT_EQ(failures, (std::vector<std::pair<AttemptFailure, int>>{
                            {AttemptFailure::Write, 4}, {AttemptFailure::Answer, 3}, {AttemptFailure::Answer, 2}}));
    for (const auto& frame : port.m_written)
        EXPECT_EQ(frame, kFrame) << "a retry resends the same bytes";
}

TEST(HostWriteFrame, NoAttemptsMeansNothingIsWritten)
{
    CFakeRadioPort port;
    CTestEngine engine;
    for (int retries : {0, -3, INT_MIN})
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

TEST(HostWriteFrame, LateAnswersAreNeverTakenForTheAnswerOfALaterAttempt)
{
    CTestEngine engine;
    const auto ack = [&](const auto& a) { return engine.IsAck(a); };
    CFakeRadioPort late;
    late.m_responder = Always({0x06});
    late.m_lateAnswers = true;
    EXPECT_FALSE(engine.HostWriteFrame(&late, kFrame, 3, 0, 1, ack)) << "a radio slower than the read window fails";
    EXPECT_EQ(late.m_writeCalls, 3);

    CFakeRadioPort noisy;
    noisy.m_responder = Always({0x06});
    noisy.m_current.assign({0x15, 0x15});
    EXPECT_TRUE(engine.HostWriteFrame(&noisy, kFrame, 1, 0, 1, ack)) << "bytes from before the frame are dropped";
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

TEST(HostWriteFrame, AStopDuringAPauseEndsWithinOneStep)
{
    CFakeRadioPort port;
    port.m_responder = Always({0x15});
    port.m_timeouts.ReadTotalTimeoutConstant = 60000;
    CTestEngine engine;
    engine.m_stopCheck = [&] { return engine.m_tick >= 1000; };
    EXPECT_FALSE(engine.HostWriteFrame(&port, kFrame, INT_MAX, 150, 1, [](const auto&) { return false; }));
    EXPECT_LT(engine.m_tick, 1000u + Y::kPauseStepMs) << "asked before every step of at most 100 ms";
    EXPECT_EQ(port.m_writeCalls, 1);

    CFakeRadioPort silent;
    CTestEngine reading;
    reading.m_stopCheck = [&] { return silent.m_timeoutsSeen > 0; };
    EXPECT_FALSE(reading.HostWriteFrame(&silent, kFrame, 3, 0, 2, [](const auto&) { return true; }));
    EXPECT_EQ(silent.m_timeoutsSeen, 1) << "a stop during the first read window spares the second";
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
            port.m_timeouts = COMMTIMEOUTS{}; // only the intervals pause
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
    CTestEngine engine;
    std::vector<int> lefts;
    engine.m_sigListenProgress.connect([&](int left, int total) {
        lefts.push_back(total == 2 ? left : 99);
        return false;
    });
    EXPECT_FALSE(engine.HostListenUpdate(&port));
    // Per pass: the interval, then as long again (the read took no time on this clock).
    EXPECT_EQ(engine.m_delays, Steps({300, 300, 300, 300, 300, 300}));
    EXPECT_EQ(lefts, (std::vector<int>{2, 2, 2, 2, 1, 1, 1, 1, 0, 0, 0, 0, -1}))
        << "asked at each pass and before each step of its pause, then -1";
    EXPECT_EQ(port.m_timeoutsSeen, 3) << "one read per pass";

    CTestEngine cancelled;
    int calls = 0;
    cancelled.m_sigListenProgress.connect([&](int, int) { return ++calls == 3; });
    EXPECT_FALSE(cancelled.HostListenUpdate(&port));
    EXPECT_EQ(cancelled.m_delays, Steps({300, 100})) << "no step after the Cancel";
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
    CSettingsFile settings("[Device]\nlistenInterval=60000\n");
    CFakeRadioPort port;
    CTestEngine stopped;
    stopped.m_stopCheck = [&] { return stopped.m_tick >= 500; };
    EXPECT_FALSE(stopped.HostListenUpdate(&port)) << "a stop in the listening interval";
    EXPECT_EQ(stopped.m_tick, 500u);

    CTestEngine other;
    CFakeRadioPort gone;
    gone.m_vanished = true;
    EXPECT_FALSE(other.HostListenUpdate(&gone));
    EXPECT_EQ(gone.m_readCalls, 1);
}
