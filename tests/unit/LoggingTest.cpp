#include "app/Logging.h"
#include "config/Settings.h"
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

TEST(Logging, EngineMessagesCarryLocationTextNumbersAndLineEnds)
{
    // Windows keeps the GBK bytes of the messages and CR LF; elsewhere they are UTF-8 lines ending in LF.
    struct Case
    {
        const char* name;
        std::function<void(CFakeRadioPort&)> fault;
        std::string gbk, utf8; // {} is the attempts left
    };
    const std::vector<Case> cases{
        {"write", [](CFakeRadioPort& p) { p.m_writeFailures = 2; },
         "\xCF\xC2\xB7\xA2\xCA\xFD\xBE\xDD\xCA\xA7\xB0\xDC\xA3\xAC\xCA\xFD\xBE\xDD\xB4\xF3\xD0\xA1"
         "3"
         "\xA3\xAC\xCA\xA3\xD3\xE0\xD6\xD8\xCA\xD4{}",
         "下发数据失败，数据大小3，剩余重试{}"},
        {"read", [](CFakeRadioPort& p) { p.m_readErrors = 2; },
         "\xCE\xDE\xB7\xA8\xB6\xC1\xC8\xA1\xD6\xF7\xBB\xFA\xCF\xEC\xD3\xA6\xA3\xAC\xCA\xA3\xD3\xE0\xD6\xD8\xCA\xD4{}",
         "无法读取主机响应，剩余重试{}"},
        {"answer",
         [](CFakeRadioPort& p) {
             p.m_responder = [](const std::vector<char>&) {
                 return std::vector<RadioAnswer>{RadioAnswer{{{0x15}}, false}};
             };
         },
         "\xD3\xA6\xB4\xF0\xB4\xED\xCE\xF3:15 ,\xCA\xA3\xD3\xE0\xD6\xD8\xCA\xD4{}", "应答错误:15 ,剩余重试{}"},
    };
    const std::regex prefix(R"(\[\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3}\]\[error\]\[Kd7v001YmodemControl\.cpp,\d+\]:)");
    for (const auto& c : cases)
    {
        CTempDir dir;
        CSettingsFile settings("[Device]\nWriteDataFrameRetry=2\n");
        LoggerGuard guard;
        const std::string path = dir.File("Tool2.log");
        ASSERT_NE(CreateAppLogger(path), nullptr);
        CFakeRadioPort port;
        c.fault(port);
        CTestEngine engine;
        EXPECT_FALSE(engine.HostWriteFrameAck(&port, {0x02, 0x01, static_cast<char>(0xFE)}));
        spdlog::get(kAppLoggerName)->flush();

        const std::string log = std::regex_replace(ReadText(path), prefix, "");
        const auto lines = [&](const std::string& text, const std::string& end) {
            const std::size_t at = text.find("{}");
            return text.substr(0, at) + "1" + text.substr(at + 2) + end + text.substr(0, at) + "0" +
                   text.substr(at + 2) + end;
        };
        EXPECT_TRUE(log == lines(c.gbk, "\r\n") || log == lines(c.utf8, "\n")) << c.name << ": " << log;
        EXPECT_EQ(std::regex_replace(ReadText(path), prefix, "#").substr(0, 1), "#") << c.name;
    }
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
}
