#include "engine/Kd7v001YmodemControl.h"

#include "../support/FakeRadioPort.h"
#include "../support/TestSupport.h"

#include <gtest/gtest.h>

#include <random>

namespace
{
using Y = Kd7v001YmodemControl;
RadioAnswer Piece(std::vector<char> bytes) { return RadioAnswer{{std::move(bytes)}, false}; }
using Progress = std::vector<std::pair<int, int>>;

// Selects, sends and closes one image the way the upgrade run does.
bool SendImage(CTestEngine& engine, CFakeRadioPort& port, int code, const std::vector<char>& data,
               const std::wstring& name)
{
    if (!engine.HostSelectImage(&port, code))
        return false;
    FrameTable table;
    const int n = Y::MakeFileFrames(table, data, name);
    return engine.HostWriteFrames(&port, table) == n;
}
} // namespace

TEST(Transfer, ProgressBeforeEveryFrame)
{
    CSettingsFile settings;
    for (std::size_t size : {std::size_t{0}, std::size_t{3000}})
    {
        CFakeRadioPort port;
        CTestEngine engine;
        Progress progress;
        engine.m_sigWriteProgress.connect([&](int done, int total) {
            progress.emplace_back(done, total);
            return false;
        });
        ASSERT_TRUE(SendImage(engine, port, 1, RandomImage(size, 3), L"x.bin"));
        const Progress expected =
            size == 0 ? Progress{{1, 2}, {2, 2}} : Progress{{1, 5}, {2, 5}, {3, 5}, {4, 5}, {5, 5}};
        EXPECT_EQ(progress, expected);
        // header, data..., EOT, EOT, end block after the selector
        EXPECT_EQ(port.m_written.size(), 1 + static_cast<std::size_t>(progress.back().second) + 2);
        EXPECT_EQ(port.m_written[port.m_written.size() - 3], std::vector<char>{Y::EOT});
    }
}

TEST(Transfer, StopRequestEndsBeforeTheNextBlock)
{
    CSettingsFile settings;
    CFakeRadioPort port;
    CTestEngine engine;
    engine.m_sigWriteProgress.connect([](int done, int) { return done == 3; });
    engine.m_sigWriteProgress.connect([](int, int) { return false; });
    ASSERT_TRUE(engine.HostSelectImage(&port, 1));
    FrameTable table;
    Y::MakeFileFrames(table, RandomImage(3000, 4), L"x.bin");
    EXPECT_EQ(engine.HostWriteFrames(&port, table), -1);
    // selector, header, first data block; no EOT, no end block
    EXPECT_EQ(port.m_written.size(), 3u);
    EXPECT_EQ(port.m_radio.Images().size(), 0u);

    CTestEngine selectStopped;
    selectStopped.m_sigHostWriteProgress.connect([](int, int) { return true; });
    CFakeRadioPort quiet;
    EXPECT_FALSE(selectStopped.HostSelectImage(&quiet, 2));
    EXPECT_FALSE(selectStopped.HostWriteLocation(&quiet));
    EXPECT_EQ(quiet.m_writeCalls, 0);
}

// Radios that answer late, with jitter, lose answers on the line, NAK and split them, under any
// tuning: an upgrade ends in success only when the radio holds every byte and the write command.
TEST(Transfer, NoFalseSuccessWhateverTheRadioAndTheTuning)
{
    int succeeded = 0;
    int failed = 0;
    for (unsigned seed = 1; seed <= 240; ++seed)
    {
        std::mt19937 pick(seed);
        const auto any = [&pick](auto... values) {
            const std::vector<std::common_type_t<decltype(values)...>> list{values...};
            return list[pick() % list.size()];
        };
        RadioFaults faults;
        faults.seed = seed;
        DWORD delay = any(0u, 5u, 60u, 188u, 400u, 1300u);
        faults.nakRate = any(0.0, 0.14, 0.3);
        faults.dropRate = any(0.0, 0.0, 0.1);
        faults.splitAckC = any(false, true);
        faults.cBeforeAck = any(false, false, true);
        double loss = any(0.0, 0.19, 0.3);
        DWORD timeout = any(0u, 1u, 50u, 300u, 1000u, 2000u);
        std::string file = "[Device]\n";
        if (pick() % 2)
            file += "WriteDataFrameInterval=" + std::to_string(any(0, 5, 150, 200)) + "\n";
        if (pick() % 2)
            file += "WriteDataFrameRetry=" + std::to_string(any(1, 3, 9)) + "\n";
        std::vector<std::vector<char>> images{RandomImage(pick() % 3000, seed)};
        if (pick() % 3 == 0)
            images.push_back(RandomImage(pick() % 1500, seed + 1000));
        if (seed <= 20)
        {
            // The radio of the campaign that found the false success, as it was seen.
            delay = 188, faults.nakRate = 0.14, faults.dropRate = 0, loss = 0.19, timeout = 0;
            file = "[Device]\nWriteDataFrameRetry=9\n";
            images = {RandomImage(1094, seed)};
        }

        CSettingsFile settings(file);
        CFakeRadioPort port(faults);
        port.m_lossRate = loss;
        port.m_timeouts.ReadTotalTimeoutConstant = timeout == 0 ? 1 : timeout;
        port.m_timeouts.WriteTotalTimeoutConstant = timeout == 0 ? 1000 : timeout;
        std::mt19937 jitter(seed * 7);
        port.m_delay = [delay, &jitter](const std::vector<char>&) {
            return delay + static_cast<DWORD>(jitter() % (delay / 10 + 1));
        };
        CTestEngine engine;
        bool ok = true;
        for (std::size_t i = 0; ok && i < images.size(); ++i)
            ok = SendImage(engine, port, static_cast<int>(i) + 1, images[i], L"image.bin");
        ok = ok && engine.HostWriteLocation(&port);
        const std::string name = "seed " + std::to_string(seed) + ", " + std::to_string(delay) + " ms late, time-out " +
                                 std::to_string(timeout) + ", " + file;
        if (!ok)
        {
            ++failed;
            continue;
        }
        ++succeeded;
        const auto& received = port.m_radio.Images();
        ASSERT_EQ(received.size(), images.size()) << "false success: " << name;
        for (std::size_t i = 0; i < images.size(); ++i)
            ASSERT_TRUE(received[i].data == images[i]) << "false success: " << name;
        EXPECT_TRUE(port.m_radio.WriteCommandSeen()) << name;
    }
    // Both ends are reached, or the campaign proves nothing.
    EXPECT_GT(succeeded, 100) << failed << " failed";
    EXPECT_GT(failed, 10) << succeeded << " succeeded";
}

// One answer lost on the line at each step of an image: where the radio's next answer shows where
// it is, the upgrade goes on, and it is whole; where nothing can show it, it fails.
TEST(Transfer, ASingleLostAnswerIsRecoveredWhereTheNextOneShowsWhereTheRadioIs)
{
    struct Case
    {
        const char* name;
        std::function<bool(const std::vector<char>&, int eots)> lost; // the frame whose answer is lost
        bool silentAfterEnd;                                          // the radio says nothing at its menu
        bool ok;
    };
    const auto isEndBlock = [](const std::vector<char>& f, int eots) { return f.size() == 133 && eots == 2; };
    const std::vector<Case> cases{
        {"selection's C", [](const auto& f, int) { return f == std::vector<char>{'1'}; }, false, true},
        {"header's ACK C", [](const auto& f, int eots) { return f.size() == 133 && eots == 0 && f[3] != 0; }, false,
         true},
        {"data block 2's ACK", [](const auto& f, int) { return f.size() > 133 && f[1] == 2; }, false, true},
        {"first EOT's NAK", [](const auto& f, int eots) { return f.size() == 1 && eots == 1; }, false, true},
        {"second EOT's ACK C", [](const auto& f, int eots) { return f.size() == 1 && eots == 2; }, false, true},
        {"end block's ACK, the menu shown again", isEndBlock, false, true},
        {"end block's ACK, the radio silent at its menu", isEndBlock, true, false},
    };
    for (const Case& c : cases)
    {
        CSettingsFile settings;
        CFakeRadioPort port;
        int eots = 0;
        bool lost = false;
        port.m_responder = [&](const std::vector<char>& frame) {
            eots += frame == std::vector<char>{Y::EOT} ? 1 : 0;
            auto answers = port.m_radio.Feed(frame.data(), frame.size());
            if (!lost && c.lost(frame, eots))
            {
                lost = true;
                return std::vector<RadioAnswer>{};
            }
            if (c.silentAfterEnd && lost)
                answers.clear();
            return answers;
        };
        CTestEngine engine;
        const auto image = RandomImage(3000, 9);
        EXPECT_EQ(SendImage(engine, port, 1, image, L"x.bin"), c.ok) << c.name;
        EXPECT_TRUE(lost) << c.name;
        ASSERT_EQ(port.m_radio.Images().size(), 1u) << c.name;
        EXPECT_EQ(port.m_radio.Images()[0].data, image) << c.name;
        EXPECT_TRUE(port.m_radio.Violations().empty()) << c.name << ": " << port.m_radio.Violations().front();
    }

    // An ACK to the first EOT itself is never taken for the end of the exchange.
    CSettingsFile settings("[Device]\nWriteDataFrameRetry=3\n");
    RadioFaults faults;
    faults.firstEotAck = true;
    CFakeRadioPort port(faults);
    port.m_responder = [&port](const std::vector<char>& frame) {
        auto answers = port.m_radio.Feed(frame.data(), frame.size());
        if (frame == std::vector<char>{Y::EOT})
            answers = {Piece({Y::ACK, Y::CRC_C})};
        return answers;
    };
    CTestEngine engine;
    EXPECT_FALSE(SendImage(engine, port, 1, RandomImage(3000, 9), L"x.bin"));
}

TEST(RadioReceiver, HeadersItCannotUseAreViolationsNotCrashes)
{
    for (const std::string size : {"99999999999999999999", "9223372036854775807", "", "12a"})
    {
        CRadioReceiver radio;
        radio.Feed("1", 1);
        std::vector<char> header{Y::SOH, 0x00, static_cast<char>(0xFF), 'a', 0};
        header.insert(header.end(), size.begin(), size.end());
        header.resize(131, 0);
        const unsigned short crc = Crc16Arc(header.data() + 3, 128);
        header.push_back(static_cast<char>(crc & 0xFF));
        header.push_back(static_cast<char>(crc >> 8));
        radio.Feed(header.data(), header.size());
        const std::vector<char> eot{Y::EOT};
        radio.Feed(eot.data(), 1);
        radio.Feed(eot.data(), 1);
        std::vector<char> endBlock{Y::SOH, 0x00, static_cast<char>(0xFF)};
        endBlock.resize(133, 0);
        radio.Feed(endBlock.data(), endBlock.size());
        ASSERT_FALSE(radio.Violations().empty()) << size;
        EXPECT_EQ(radio.Violations().front(), "header without a valid size") << size;
    }
}
