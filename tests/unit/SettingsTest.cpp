#include "app/RecordFile.h"
#include "config/IniText.h"
#include "config/Settings.h"
#include "platform/LineFile.h"

#include "../support/TestSupport.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

TEST(SettingsPath, ModuleFolderAndBaseName)
{
    SetIniPathOverride(L"");
    SetModulePaths(L"/opt/tools/", L"Tool2");
    EXPECT_EQ(GetIniPath(), L"/opt/tools/Tool2.ini");
    SetIniPathOverride(L"/tmp/other.ini");
    EXPECT_EQ(GetIniPath(), L"/tmp/other.ini");
    SetIniPathOverride(L"");
}

TEST(SettingsRead, MissingFileSectionOrKeyGiveTheCallersDefault)
{
    CSettingsFile settings; // no file at all
    EXPECT_EQ(ReadSettingInt("port", 1), 1);
    EXPECT_EQ(ReadSettingInt("WriteDataFrameRetry", 3), 3);
    EXPECT_EQ(ReadSettingString("app_bin_file"), "");

    CSettingsFile other("[Other]\nport=7\n");
    EXPECT_EQ(ReadSettingInt("port", 1), 1);
}

TEST(SettingsRead, IntegerRulesOfTheWindowsReader)
{
    CSettingsFile settings("[device]\n"
                           "PORT = 12\n"
                           "timeout=  250  \n"
                           "ListenUpdateRetry=-4\n"
                           "listenInterval=+30\n"
                           "WriteDataFrameRetry=7abc\n"
                           "WriteDataFrameInterval=abc\n"
                           "empty=\n");
    EXPECT_EQ(ReadSettingInt("port", 1), 12) << "names and sections ignore case";
    EXPECT_EQ(ReadSettingInt("TIMEOUT", 1000), 250) << "values are trimmed";
    EXPECT_EQ(ReadSettingInt("ListenUpdateRetry", 300), -4);
    EXPECT_EQ(ReadSettingInt("listenInterval", 300), 30);
    EXPECT_EQ(ReadSettingInt("WriteDataFrameRetry", 3), 7) << "leading digits count";
    EXPECT_EQ(ReadSettingInt("WriteDataFrameInterval", 150), 0) << "no digits give 0";
    EXPECT_EQ(ReadSettingInt("empty", 5), 5) << "an empty value gives the default";
}

TEST(SettingsRead, StringsAreCutAt511Bytes)
{
    CSettingsFile settings("[Device]\napp_bin_file=" + std::string(600, 'x') + "\nrcdb_bin_file=\"C:\\a b.bin\"\n");
    EXPECT_EQ(ReadSettingString("app_bin_file"), std::string(511, 'x'));
    EXPECT_EQ(ReadSettingString("rcdb_bin_file"), "C:\\a b.bin");
}

TEST(SettingsPause, NegativeFallsBackHugeIsBounded)
{
    CSettingsFile settings("[Device]\ntimeout=-5\nlistenInterval=99999999\nWriteDataFrameInterval=20\n");
    EXPECT_EQ(ReadSettingPause("timeout", 1000), 1000u);
    EXPECT_EQ(ReadSettingPause("listenInterval", 300), static_cast<DWORD>(kMaxPauseMs));
    EXPECT_EQ(ReadSettingPause("WriteDataFrameInterval", 150), 20u);
    EXPECT_EQ(ReadSettingPause("missing", 200), 200u);
}

TEST(SettingsWrite, CreatesUpdatesAndKeepsOtherLines)
{
    CSettingsFile fresh;
    EXPECT_EQ(WriteSettingString("port", "3"), "");
    WriteSettingString("app_bin_file", "");
    WriteSettingString("rcdb_bin_file", "/img/r.bin");
    EXPECT_EQ(ReadSettingInt("port", 1), 3);
    EXPECT_EQ(ReadSettingString("rcdb_bin_file"), "/img/r.bin");
    const std::string content = fresh.Content();
    EXPECT_LT(content.find("port=3"), content.find("app_bin_file="));
    EXPECT_LT(content.find("app_bin_file="), content.find("rcdb_bin_file=/img/r.bin"));
}

TEST(IniText, ReadsAsThePrivateProfileFunctionsAndEditsOneLine)
{
    struct Case
    {
        std::string text;
        const char* found;    // port's value, null when missing
        std::string afterSet; // the text with port set to 9
    };
    const std::string nul("[Device]\nport=1\n\0garbage\nWriteDataFrameInterval=5\n", 45);
    const std::vector<Case> cases{
        {"", nullptr, "[Device]\nport=9\n"},
        {"x=1", nullptr, "x=1\n[Device]\nport=9\n"},
        {"[device]\r\n PORT = 7 \r\n", "7", "[device]\r\nPORT=9\r\n"},
        {"[Device]\nport=\"a b\"\n", "a b", "[Device]\nport=9\n"},
        {"[Device]\nport=1\nport=2\n", "1", "[Device]\nport=9\nport=2\n"},
        {"[Device]\n;port=5\nx=1\n\n[Other]\nport=3\n", nullptr, "[Device]\n;port=5\nx=1\nport=9\n\n[Other]\nport=3\n"},
        {"[Device]\nx=1\n[Device]\nport=4", nullptr, "[Device]\nx=1\nport=9\n[Device]\nport=4"},
        {"\xEF\xBB\xBF[Device]\r\nport=2\r\n", "2", "\xEF\xBB\xBF[Device]\r\nport=9\r\n"},
        {"\xEF\xBB\xBF[Device]\n", nullptr, "\xEF\xBB\xBF[Device]\nport=9\n"},
        {"[Device]", nullptr, "[Device]\nport=9"},
        {nul, "1", std::string("[Device]\nport=9\n\0garbage\nWriteDataFrameInterval=5\n", 45)},
    };
    for (const auto& c : cases)
    {
        std::string value;
        EXPECT_EQ(FindIniValue(c.text, "Device", "port", value), c.found != nullptr) << c.text;
        EXPECT_EQ(value, c.found != nullptr ? c.found : "") << c.text;
        EXPECT_EQ(SetIniValue(c.text, "Device", "port", "9"), c.afterSet) << c.text;
    }
}

// The record file: a last line torn by a crash is cut whatever its length, a whole one that lacks
// only its end is kept, a bad line in the middle is kept, another file named by mistake is never
// touched, and one station writes at a time.
TEST(LineFile, ATornLastLineIsCutAndAnotherFileIsNeverTouched)
{
    struct Case
    {
        std::string content;
        bool record;      // a station may append to it
        std::string kept; // the file once opened
    };
    const std::string line = "{\"outcome\":\"success\",\"radio\":1}\n";
    const std::string bad = "not json at all\n";
    const std::string unended = line.substr(0, line.size() - 1);
    const std::vector<Case> cases{
        {"", true, ""},
        {line, true, line},
        {line + "{", true, line},
        {line + bad + line + "{\"bl", true, line + bad + line},
        {line + "{\"outcome\":\"" + std::string(3u << 20, 'x'), true, line},
        {"{\"outcome\":\"succ", true, ""},
        {line + unended, true, line + line},
        {"# KD7X radios\n" + line, false, ""},
        {"{\"inventory\":[\"radio A\"]}\n", false, ""},
        {"{\"inventory\":[\"radio A\"]}", false, ""},
        {"\n" + line, false, ""},
    };
    const auto whole = [](const std::string& tail) { return nlohmann::json::parse(tail, nullptr, false).is_object(); };
    for (const auto& c : cases)
    {
        const std::string name = c.content.substr(0, 40);
        CTempDir dir;
        const auto path = PathToWide(dir.Path() / "radios.jsonl");
        if (!c.content.empty())
            WriteText(WideToUtf8(path), c.content);
        std::string why;
        EXPECT_EQ(IsRecordFile(path, why), c.record) << name << ": " << why;
        if (!c.record)
        {
            EXPECT_NE(why.find("is not a station's record"), std::string::npos) << why;
            EXPECT_EQ(ReadText(WideToUtf8(path)), c.content) << "left as it is";
            continue;
        }
        CLineFile file;
        std::size_t cut = 0, ended = 0;
        ASSERT_TRUE(file.Open(path, why, cut, ended, whole)) << name << ": " << why;
        EXPECT_EQ(ReadText(WideToUtf8(path)), c.kept) << name;
        EXPECT_EQ(cut, c.content.size() + (ended > 0 ? 1 : 0) - c.kept.size()) << name;
        EXPECT_TRUE(file.Append(line, why)) << why;
        EXPECT_EQ(ReadText(WideToUtf8(path)), c.kept + line) << name;

        CLineFile second;
        EXPECT_FALSE(second.Open(path, why, cut, ended)) << name;
        EXPECT_NE(why.find("in use by another station"), std::string::npos) << why;
    }
}
