#include "engine/Kd7v001YmodemControl.h"
#include "platform/Text.h"

#include <gtest/gtest.h>

#include <numeric>
#include <string>

namespace
{
using Y = Kd7v001YmodemControl;

std::vector<char> Bytes(std::initializer_list<int> values)
{
    std::vector<char> out;
    for (int v : values)
        out.push_back(static_cast<char>(v));
    return out;
}

std::vector<char> Image(std::size_t size)
{
    std::vector<char> data(size);
    for (std::size_t i = 0; i < size; ++i)
        data[i] = static_cast<char>(i * 7 + 3);
    return data;
}

bool CrcMatches(const std::vector<char>& frame)
{
    const std::size_t payload = frame.size() - 5;
    const unsigned short crc = Crc16Arc(frame.data() + 3, payload);
    return static_cast<unsigned char>(frame[frame.size() - 2]) == (crc & 0xFF) &&
           static_cast<unsigned char>(frame.back()) == (crc >> 8);
}
} // namespace

TEST(Crc16Arc, CheckValues)
{
    const std::string digits = "123456789";
    EXPECT_EQ(Crc16Arc(digits.data(), digits.size()), 0xBB3D);
    const std::vector<char> sub(128, Y::SUB);
    EXPECT_EQ(Crc16Arc(sub.data(), sub.size()), 0x9EC7);
    const std::vector<char> zeros(128, 0);
    EXPECT_EQ(Crc16Arc(zeros.data(), zeros.size()), 0x0000);
}

TEST(MakeFileFrames, HeaderOfAppBinMatchesTheWireBytes)
{
    FrameTable table;
    Y::MakeFileFrames(table, Image(1025), L"app.bin");
    std::vector<char> expected =
        Bytes({0x01, 0x00, 0xFF, 0x61, 0x70, 0x70, 0x2E, 0x62, 0x69, 0x6E, 0x00, 0x31, 0x30, 0x32, 0x35, 0x00});
    expected.resize(131, 0);
    expected.push_back(static_cast<char>(0xF0));
    expected.push_back(0x73);
    EXPECT_EQ(table.at(0), expected);
}

struct SizeCase
{
    std::size_t size;
    std::vector<char> starts; // start byte of each data block
    std::size_t lastImageBytes;
};

class FrameSizes : public ::testing::TestWithParam<SizeCase>
{
};

TEST_P(FrameSizes, BlocksPaddingAndEndBlock)
{
    const SizeCase& c = GetParam();
    const auto data = Image(c.size);
    FrameTable table;
    const int n = Y::MakeFileFrames(table, data, L"f.bin");
    ASSERT_EQ(n, static_cast<int>(c.starts.size() + 2));
    ASSERT_EQ(table.size(), static_cast<std::size_t>(n));
    EXPECT_EQ(c.starts.size(), c.size == 0 ? 0u : (c.size - 1) / 1024 + 1);

    std::vector<char> rebuilt;
    for (std::size_t k = 0; k < c.starts.size(); ++k)
    {
        const auto& frame = table.at(static_cast<int>(k + 1));
        EXPECT_EQ(frame[0], c.starts[k]) << "block " << k + 1;
        EXPECT_EQ(frame.size(), c.starts[k] == Y::STX ? 1029u : 133u);
        EXPECT_EQ(static_cast<unsigned char>(frame[1]), (k + 1) % 256);
        EXPECT_EQ(static_cast<unsigned char>(frame[2]), 0xFF - (k + 1) % 256);
        EXPECT_TRUE(CrcMatches(frame)) << "block " << k + 1;
        rebuilt.insert(rebuilt.end(), frame.begin() + 3, frame.end() - 2);
    }
    ASSERT_GE(rebuilt.size(), c.size);
    EXPECT_TRUE(std::equal(data.begin(), data.end(), rebuilt.begin()));
    EXPECT_TRUE(std::all_of(rebuilt.begin() + static_cast<std::ptrdiff_t>(c.size), rebuilt.end(),
                            [](char b) { return b == Y::SUB; }));
    if (!c.starts.empty())
    {
        EXPECT_EQ(c.size - (c.starts.size() - 1) * 1024, c.lastImageBytes);
    }

    std::vector<char> end(133, 0);
    end[0] = Y::SOH;
    end[2] = static_cast<char>(0xFF);
    EXPECT_EQ(table.at(n - 1), end);
}

INSTANTIATE_TEST_SUITE_P(BoundarySizes, FrameSizes,
                         ::testing::Values(SizeCase{0, {}, 0}, SizeCase{1, {Y::SOH}, 1}, SizeCase{128, {Y::SOH}, 128},
                                           SizeCase{129, {Y::STX}, 129}, SizeCase{1024, {Y::STX}, 1024},
                                           SizeCase{1025, {Y::STX, Y::SOH}, 1},
                                           SizeCase{2148, {Y::STX, Y::STX, Y::SOH}, 100},
                                           SizeCase{2049, {Y::STX, Y::STX, Y::SOH}, 1},
                                           SizeCase{2177, {Y::STX, Y::STX, Y::STX}, 129},
                                           // Block numbers wrap at 256; table indices do not.
                                           SizeCase{258 * 1024, std::vector<char>(258, Y::STX), 1024}));

TEST(MakeFileFrames, LongNamesLoseTheirStartSoTheSizeAlwaysFits)
{
    // Size 1025 has four digits: a name fits in 128 - 4 - 2 = 122 bytes.
    for (const std::wstring& name : {std::wstring(122, L'n'), std::wstring(123, L'n') + L".bin",
                                     std::wstring(200, L'n') + L"-end.bin", std::wstring(70, L'\u00FC') + L".bin"})
    {
        FrameTable table;
        Y::MakeFileFrames(table, Image(1025), name);
        const auto& header = table.at(0);
        ASSERT_EQ(header.size(), 133u);
        EXPECT_TRUE(CrcMatches(header));
        const std::string payload(header.data() + 3, 128);
        const std::size_t nameEnd = payload.find('\0');
        ASSERT_NE(nameEnd, std::string::npos);
        EXPECT_EQ(payload.substr(nameEnd + 1, 5), std::string("1025\0", 5)) << "the size field parses back";
        const std::wstring kept = NarrowToWide(payload.substr(0, nameEnd));
        ASSERT_LE(kept.size(), name.size());
        EXPECT_EQ(name.substr(name.size() - kept.size()), kept) << "the last characters stay, none cut in half";
        EXPECT_EQ(kept.size() == name.size(), WideToNarrow(name).size() <= 122) << "only a name too long is cut";
    }
}

TEST(AnswerTests, AcceptAndRefuse)
{
    const Y y;
    const auto b = [](std::initializer_list<int> v) { return Bytes(v); };
    EXPECT_TRUE(y.IsAckC(b({0x06, 0x43})));
    EXPECT_TRUE(y.IsAckC(b({0x43, 0x06, 0x43})));
    EXPECT_TRUE(y.IsAckC(b({0x15, 0x06, 0x43})));
    EXPECT_FALSE(y.IsAckC(b({0x06})));
    EXPECT_FALSE(y.IsAckC(b({0x43})));
    EXPECT_FALSE(y.IsAckC(b({0x06, 0x06, 0x43})));
    EXPECT_FALSE(y.IsAckC({}));

    EXPECT_TRUE(y.IsAck(b({0x06})));
    EXPECT_TRUE(y.IsAck(b({0x43, 0x43, 0x06})));
    EXPECT_FALSE(y.IsAck(b({0x43, 0x15})));
    EXPECT_FALSE(y.IsAck(b({0x43, 0x43})));
    EXPECT_FALSE(y.IsAck({}));

    EXPECT_TRUE(y.IsNak(b({0x15})));
    EXPECT_TRUE(y.IsNak(b({0x43, 0x15})));
    EXPECT_FALSE(y.IsNak(b({0x06})));
    EXPECT_FALSE(y.IsNak({}));

    EXPECT_TRUE(y.IsAnswerC(b({0x43, 0x06})));
    EXPECT_FALSE(y.IsAnswerC(b({0x06, 0x43})));
    EXPECT_FALSE(y.IsAnswerC({}));

    EXPECT_TRUE(y.AcceptAnyAnswer({}));

    const std::string menu = "\r\n==== Main Menu ====\r\n";
    EXPECT_TRUE(Y::IsMainMenu(std::vector<char>(menu.begin(), menu.end())));
    const std::string lower = "main menu";
    EXPECT_FALSE(Y::IsMainMenu(std::vector<char>(lower.begin(), lower.end())));
    const std::string half = "Main Me";
    EXPECT_FALSE(Y::IsMainMenu(std::vector<char>(half.begin(), half.end())));
}

TEST(FormatHex, UpperCaseWithTrailingBlank)
{
    EXPECT_EQ(FormatHex({}), "");
    EXPECT_EQ(FormatHex(Bytes({0x06, 0x43, 0xFF, 0x0a})), "06 43 FF 0A ");
}

TEST(IsContinue, AnyStopWinsAndEverySlotRuns)
{
    Y::ProgressSignal signal;
    EXPECT_TRUE(signal(1, 2)) << "no slot means go on";
    int calls = 0;
    signal.connect([&](int, int) {
        ++calls;
        return true;
    });
    signal.connect([&](int, int) {
        ++calls;
        return false;
    });
    EXPECT_FALSE(signal(1, 2));
    EXPECT_EQ(calls, 2);

    Y::ProgressSignal goOn;
    goOn.connect([](int, int) { return false; });
    goOn.connect([](int, int) { return false; });
    EXPECT_TRUE(goOn(1, 2));
}
