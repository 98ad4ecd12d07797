#include "engine/Kd7v001YmodemControl.h"

#include "../support/FakeRadioPort.h"
#include "../support/TestSupport.h"

#include <gtest/gtest.h>

namespace
{
using Y = Kd7v001YmodemControl;
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
