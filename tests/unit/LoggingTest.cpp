#include "app/Logging.h"
#include "app/Settings.h"
#include "engine/Kd7v001YmodemControl.h"

#include "../support/FakeRadioPort.h"
#include "../support/TestSupport.h"

#include <gtest/gtest.h>
#include <spdlog/spdlog.h>

#include <regex>

namespace
{
struct LoggerGuard
{
    ~LoggerGuard() { spdlog::drop(kAppLoggerName); }
};
} // namespace

TEST(Logging, EngineMessagesCarryLocationGbkTextAndCrLf)
{
    CTempDir dir;
    CSettingsFile settings("[Device]\nWriteDataFrameRetry=2\n");
    LoggerGuard guard;
    const std::string path = dir.File("Tool2.log");
    ASSERT_NE(CreateAppLogger(path), nullptr);

    CFakeRadioPort port;
    port.m_responder = [](const std::vector<char>&) { return std::vector<RadioAnswer>{RadioAnswer{{{0x15}}, false}}; };
    CTestEngine engine;
    EXPECT_FALSE(engine.HostWriteFrameAck(&port, {0x02}));

    const std::string log = ReadText(path);
    const std::regex line(R"(\[\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3}\]\[error\]\[Kd7v001YmodemControl\.cpp,\d+\]:)"
                          "\xD3\xA6\xB4\xF0\xB4\xED\xCE\xF3:15 ,\xCA\xA3\xD3\xE0\xD6\xD8\xCA\xD4([01])\r\n");
    std::smatch m;
    std::string rest = log;
    std::vector<std::string> remaining;
    while (std::regex_search(rest, m, line))
    {
        remaining.push_back(m[1]);
        rest = m.suffix();
    }
    EXPECT_EQ(remaining, (std::vector<std::string>{"1", "0"})) << log;
    EXPECT_EQ(rest, "");
}

TEST(Logging, RotationKeepsFourFilesAtMost)
{
    CTempDir dir;
    LoggerGuard guard;
    const std::string path = dir.File("KD7XUpdateTool.log");
    WriteText(path, "earlier run\r\n");
    auto logger = CreateAppLogger(path);
    ASSERT_NE(logger, nullptr);
    EXPECT_EQ(ReadText(path), "earlier run\r\n") << "opening appends and does not rotate";
    const std::string text(2000, 'x');
    for (int i = 0; i < 2500; ++i)
        logger->error("{}", text);
    logger->flush();
    EXPECT_TRUE(std::filesystem::exists(dir.File("KD7XUpdateTool.1.log")));
    EXPECT_TRUE(std::filesystem::exists(dir.File("KD7XUpdateTool.3.log")));
    EXPECT_FALSE(std::filesystem::exists(dir.File("KD7XUpdateTool.4.log")));
    std::size_t files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(dir.Path()))
    {
        ++files;
        EXPECT_LE(entry.file_size(), kLogMaxSize);
    }
    EXPECT_EQ(files, 4u);
}

TEST(Logging, UncreatableFileGivesNoLoggerAndAReason)
{
    CTempDir dir;
    LoggerGuard guard;
    std::string error;
    WriteText(dir.File("blocker"), "a file where a folder would have to be");
    EXPECT_EQ(CreateAppLogger((dir.Path() / "blocker" / "KD7XUpdateTool.log").string(), &error), nullptr);
    EXPECT_NE(error.find("KD7XUpdateTool.log"), std::string::npos) << error;
    EXPECT_EQ(spdlog::get(kAppLoggerName), nullptr);

    // Engine log points find no logger and carry on.
    CFakeRadioPort port;
    port.m_responder = [](const std::vector<char>&) { return std::vector<RadioAnswer>{}; };
    CTestEngine engine;
    CSettingsFile settings("[Device]\nWriteDataFrameRetry=1\n");
    EXPECT_FALSE(engine.HostWriteFrameAck(&port, {0x02}));
}
