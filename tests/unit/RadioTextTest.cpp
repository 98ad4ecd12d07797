// What a radio says of itself: kept bounded, shown escaped, held against the operator's patterns.
#include "app/RadioText.h"

#include "../support/TestSupport.h"

#include <gtest/gtest.h>

TEST(RadioText, BytesAreShownEscapedAndKeptBounded)
{
    EXPECT_EQ(EscapeRadioText(std::string("S/N \\ok\r\n\t\x1b[2J\x00\xC3\xA9\x7F", 18)),
              "S/N \\\\ok\\r\\n\\t\\x1b[2J\\x00\\xc3\\xa9\\x7f");

    CRadioText text;
    const std::string chatter(kRadioTextWindow, 'x');
    text.Add("first ", 6);
    for (int i = 0; i < 3; ++i)
        text.Add(chatter.data(), chatter.size());
    text.Add("the end", 7);
    EXPECT_EQ(text.First().size(), kRadioTextShown);
    EXPECT_EQ(text.First().substr(0, 7), "first x");
    EXPECT_EQ(text.Window().size(), kRadioTextWindow);
    EXPECT_EQ(text.Last(7), "the end");
}

TEST(RadioText, PatternsFindTheLastIdAndRefuseWhatCannotBeMatchedSafely)
{
    struct Case
    {
        std::string pattern, text;
        std::optional<std::string> id; // what is found; nullopt: nothing
    };
    const std::vector<Case> cases{
        {"S/N (KD7X-[0-9]+)", "S/N KD7X-000041 restarting\r\nS/N KD7X-000042\r\nMain Menu", "KD7X-000042"},
        {"KD7X-[0-9]+", "S/N KD7X-000042", "KD7X-000042"}, // the whole match without a group
        {"S/N (KD7X-[0-9]+)", "no number here", std::nullopt},
        {"(a*)b", "aaab", "aaa"},
        {"(x)?y", "y", "y"}, // a group that took no part: the whole match
    };
    for (const Case& c : cases)
    {
        std::optional<std::regex> pattern;
        ASSERT_EQ(CompilePattern(c.pattern, pattern), "") << c.pattern;
        EXPECT_EQ(FindRadioId(*pattern, c.text), c.id) << c.pattern;
    }
    std::optional<std::regex> pattern;
    EXPECT_EQ(CompilePattern("(a)\\1", pattern), "back-references are not supported");
    EXPECT_FALSE(pattern);
    EXPECT_NE(CompilePattern("(unclosed", pattern), "");
    EXPECT_EQ(CompilePattern("", pattern), "it is empty");
    // A pattern whose search of a radio's text would hold the wait is refused before the first radio.
    EXPECT_NE(CompilePattern("(.*){90}x", pattern).find("write it simpler"), std::string::npos);
    EXPECT_FALSE(pattern);
    EXPECT_EQ(CompilePattern(".*upgrade OK", pattern), "");
}

TEST(RadioText, TheSettingsFilesPatternsAndWaitAreCheckedNotTrusted)
{
    CSettingsFile good("[Device]\nConfirmPattern=upgrade OK\nRadioIdPattern=S/N (\\S+)\nConfirmWait=30\n");
    std::vector<std::string> warnings;
    RadioPatterns patterns = ReadRadioPatterns(warnings);
    EXPECT_TRUE(warnings.empty());
    EXPECT_EQ(patterns.confirmText, "upgrade OK");
    EXPECT_EQ(patterns.radioIdText, "S/N (\\S+)");
    EXPECT_EQ(patterns.confirmWaitMs, 30000u);

    CSettingsFile bad("[Device]\nConfirmPattern=(upgrade\nConfirmWait=601\nRadioIdPattern=\n");
    patterns = ReadRadioPatterns(warnings);
    EXPECT_FALSE(patterns.confirm);
    EXPECT_FALSE(patterns.radioId);
    EXPECT_EQ(patterns.confirmWaitMs, kDefaultConfirmWaitMs);
    ASSERT_EQ(warnings.size(), 2u);
    EXPECT_EQ(warnings[0].rfind("ConfirmPattern=(upgrade is not a regular expression", 0), 0u) << warnings[0];
    EXPECT_EQ(warnings[1], "ConfirmWait=601 is not a whole number from 1 to 600; the default 10 is taken");
}
