#include "app/DialogText.h"
#include "app/ImageSearch.h"
#include "app/ProgressText.h"
#include "config/Settings.h"
#include "app/UpgradeRun.h"

#include "../support/FakeRadioPort.h"
#include "../support/NullView.h"
#include "../support/TestSupport.h"

#include <gtest/gtest.h>

TEST(FindImageFile, NewestFileOfFittingSizeForEachField)
{
    struct File
    {
        const char* name;
        std::size_t size;
        int secondsAgo;
    };
    struct Case
    {
        std::vector<File> files;
        const char *app, *rcdb; // what each field gets
    };
    const std::vector<Case> cases{
        {{{"app.bin", 450000, 100}, {"data.bin", 60000, 90}, {"IMAGE.BIN", 450000, 1}, {"app.hex", 450000, 1}},
         "app.bin",
         "data.bin"},
        {{{"app.bin", 450000, 100}, {"app2.bin", 450001, 10}, {"rcdb.bin", 60000, 100}}, "app2.bin", "rcdb.bin"},
        // Two images copied in one tick are both found.
        {{{"app.bin", 450000, 50}, {"rcdb.bin", 60000, 50}}, "app.bin", "rcdb.bin"},
        {{{"a.bin", 400000, 40}, {"b.bin", 512000, 30}, {"c.bin", 50000, 20}, {"d.bin", 70000, 10}}, "", ""},
    };
    const auto now = std::filesystem::file_time_type::clock::now();
    for (const auto& c : cases)
    {
        CTempDir dir;
        std::filesystem::create_directory(dir.Path() / "folder.bin");
        for (const File& f : c.files)
        {
            WriteBytes(dir.File(f.name), std::vector<char>(f.size, 'x'));
            std::filesystem::last_write_time(dir.Path() / f.name, now - std::chrono::seconds(f.secondsAgo));
        }
        CImageCandidates candidates;
        ASSERT_TRUE(candidates.Scan(dir.Path()));
        EXPECT_EQ(candidates.Find(400000, 512000).filename().string(), c.app);
        EXPECT_EQ(candidates.Find(50000, 70000).filename().string(), c.rcdb);
    }
    CImageCandidates missing;
    EXPECT_FALSE(missing.Scan("/no/such/folder"));
    EXPECT_TRUE(missing.Find(0, 1000000).empty());
}

TEST(DialogText, TraceIsCutOnlyForTextLines)
{
    std::wstring trace(3001, L'a');
    PrependTrace(trace, L"hex", false);
    EXPECT_EQ(trace.size(), 3001u + 5u);
    std::wstring text(3001, L'b');
    PrependTrace(text, L"menu", true);
    EXPECT_EQ(text, L"menu\r\n" + std::wstring(1000, L'b'));
    std::wstring exact(3000, L'c');
    PrependTrace(exact, L"x", true);
    EXPECT_EQ(exact.size(), 3003u) << "3000 characters are not cut";
}

TEST(DialogText, PortTextRule)
{
    EXPECT_EQ(StripComLetters(L"COM12"), L"12");
    EXPECT_EQ(PortNumberOf(L"COM12"), 12);
    EXPECT_EQ(PortNumberOf(L"com3"), 0);
    EXPECT_EQ(StripComLetters(L"com3"), L"com3");
    EXPECT_EQ(PortNumberOf(L"MOC7x"), 7);
    EXPECT_EQ(PortNumberOf(L"COM"), 0);
}

TEST(ProgressText, FormsAndPumpDecision)
{
    EXPECT_EQ(FormatProgressText(L"writing data", 1, 3, true), L"writing data 33%");
    EXPECT_EQ(FormatProgressText(L"host write location", 300, 300, false), L"host write location 300/300");
    EXPECT_EQ(FormatProgressText(L"Waiting for the host to enter upgrade mode", -1, 0, false),
              L"Waiting for the host to enter upgrade mode -1/0");
    EXPECT_EQ(FormatProgressText(L"writing data", 1, 0, true), L"writing data");
    for (int done : {5, 6, 7, 998})
        EXPECT_FALSE(ShouldPump(done, 1000)) << done;
    for (int done : {8, 999, 1000, -4})
        EXPECT_TRUE(ShouldPump(done, 1000)) << done;
    EXPECT_TRUE(ShouldPump(7, 100));
}

namespace
{
// A port whose radio never shows its menu: the run stops after setting it up.
struct CSilentPort : CFakeRadioPort
{
    BOOL SetTimeouts(COMMTIMEOUTS& t) override
    {
        seen = t;
        return CFakeRadioPort::SetTimeouts(t);
    }
    COMMTIMEOUTS seen{};
};
} // namespace

TEST(UpgradeRunSettings, WrittenAndReadInTheirOrderBeforeThePortOpens)
{
    CSettingsFile settings("[Device]\ntimeout=-7\nListenUpdateRetry=0\nlistenInterval=0\n");
    auto port = std::make_shared<CSilentPort>();
    CNullView view;
    const auto result = RunUpgrade(MakeRequest("12", L"COM12", L"", L""), view, [port] { return port; });
    EXPECT_EQ(result.outcome, UpgradeOutcome::ModeNotSeen);
    EXPECT_EQ(port->seen.ReadTotalTimeoutConstant, 1000u) << "a negative timeout falls back to its default";
    EXPECT_EQ(port->seen.WriteTotalTimeoutConstant, 1000u);
    EXPECT_EQ(port->seen.ReadTotalTimeoutMultiplier, 0u);
    EXPECT_GE(port->m_closeCalls, 1);
    const std::string content = settings.Content();
    const auto portAt = content.find("port=12");
    const auto appAt = content.find("app_bin_file=");
    const auto rcdbAt = content.find("rcdb_bin_file=");
    ASSERT_NE(portAt, std::string::npos) << content;
    EXPECT_LT(portAt, appAt);
    EXPECT_LT(appAt, rcdbAt);
    EXPECT_EQ(view.outcomes, std::vector<UpgradeOutcome>{UpgradeOutcome::ModeNotSeen});
}
