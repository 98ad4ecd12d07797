// The settings file on Linux: a save keeps what the person gave the file, and a byte-order mark.
#include "config/Settings.h"

#include "../../support/TestSupport.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

TEST(SettingsWrite, KeepsTheFilesModeItsOtherNamesAndItsByteOrderMark)
{
    CSettingsFile settings("\xEF\xBB\xBF[Device]\r\ntimeout=abc\r\n");
    const std::string other = settings.Path() + ".other-name";
    std::filesystem::create_hard_link(settings.Path(), other);
    for (const auto& [mode, name] : {std::pair(0600u, "a file of its owner's alone"), std::pair(0640u, "a shared one")})
    {
        chmod(settings.Path().c_str(), mode);
        EXPECT_EQ(ReadSettingString("timeout"), "abc") << "the mark is no part of the first section's name";
        EXPECT_EQ(WriteSettingString("port", std::to_string(mode)), "") << name;
        struct stat st
        {
        };
        stat(settings.Path().c_str(), &st);
        EXPECT_EQ(st.st_mode & 0777, mode) << name;
        EXPECT_EQ(st.st_nlink, 2u) << name << ": the other name still sees the file";
        EXPECT_EQ(ReadText(other), "\xEF\xBB\xBF[Device]\r\ntimeout=abc\r\nport=" + std::to_string(mode) + "\r\n")
            << name;
    }

    // With one name the file is replaced whole, the mode kept.
    std::filesystem::remove(other);
    EXPECT_EQ(WriteSettingString("port", "5"), "");
    struct stat st
    {
    };
    stat(settings.Path().c_str(), &st);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
    EXPECT_EQ(settings.Content(), "\xEF\xBB\xBF[Device]\r\ntimeout=abc\r\nport=5\r\n");
}
