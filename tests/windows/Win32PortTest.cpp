// The Win32 port under Wine, against simulated radios mapped as COM ports (with-radio.sh).
#include "app/ImageSearch.h"
#include "config/Settings.h"
#include "platform/Text.h"
#include "app/UpgradeRun.h"
#include "serial/SerialException.h"
#include "serial/win32/ComPortList.h"
#include "serial/win32/SerialPort.h"

#include "../support/NullView.h"
#include "../support/TestSupport.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace
{
int EnvInt(const char* name)
{
    const char* value = std::getenv(name);
    return value != nullptr ? std::atoi(value) : 0;
}

std::wstring ComDevice(int n) { return L"\\\\.\\COM" + std::to_wstring(n); }

class Win32Port : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_com = EnvInt("KD7X_COM");
        m_vanish = EnvInt("KD7X_COM_VANISH");
        m_silent = EnvInt("KD7X_COM_SILENT");
        ASSERT_GT(m_com, 0) << "run through tests/windows/with-radio.sh";
    }
    int m_com = 0;
    int m_vanish = 0;
    int m_silent = 0;
};
} // namespace

TEST_F(Win32Port, MissingPortThrowsTheCreateFileCodeAndStaysClosed)
{
    CpsSerialPort port;
    EXPECT_TRUE(port.GetDevicePath().empty());
    try
    {
        port.Open(77, 115200, 0, 8, 0, FlowNone, TRUE);
        FAIL() << "COM77 opened";
    }
    catch (const CSerialException& e)
    {
        EXPECT_EQ(e.m_dwError, static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
        wchar_t text[512];
        EXPECT_TRUE(e.GetErrorMessage(text, 512));
        EXPECT_GT(std::wcslen(text), 0u);
        wchar_t cut[4];
        EXPECT_TRUE(e.GetErrorMessage(cut, 4));
        EXPECT_EQ(std::wcslen(cut), 3u) << "cut to the buffer and terminated";
    }
    EXPECT_EQ(port.m_hComm, INVALID_HANDLE_VALUE);
}

// A pseudo-terminal forces 8 bits without parity, so only the stop bits show what the device kept;
// the parity rule is the same code, tested on its own with the other open settings.
TEST_F(Win32Port, OpensWithTheRunSettingsAndKeepsWhatOutOfRangeValuesLeave)
{
    CpsSerialPort port;
    ASSERT_TRUE(port.Open(m_com, 115200, 0, 8, 2, FlowNone, TRUE));
    ASSERT_TRUE(port.Open(m_com, 9600, 5, 8, 3, FlowNone, TRUE)) << "the second Open closes the first handle";
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    ASSERT_TRUE(port.GetState(dcb));
    EXPECT_EQ(dcb.BaudRate, 9600u);
    EXPECT_EQ(dcb.ByteSize, 8);
    EXPECT_EQ(dcb.StopBits, 2);
    ASSERT_TRUE(port.Open(m_com, 115200, 0, 8, 0, FlowXonXoff, TRUE));
    ASSERT_TRUE(port.GetState(dcb));
    EXPECT_EQ(dcb.XonChar, 0x11);
    EXPECT_EQ(dcb.XoffChar, 0x13);
    EXPECT_EQ(dcb.fInX, 1u);
    COMMTIMEOUTS set{0, 0, 300, 0, 300};
    port.SetTimeouts(set);
    COMMTIMEOUTS got{};
    port.GetTimeouts(got);
    EXPECT_EQ(got.ReadTotalTimeoutConstant, 300u);
    EXPECT_FALSE(port.GetDevicePath().empty());
    port.Close();
    port.Close();
    EXPECT_EQ(port.m_hComm, INVALID_HANDLE_VALUE);
}

TEST_F(Win32Port, VanishingRadioEndsTheRunWithAFailureAndReleasesThePort)
{
    CTempDir dir;
    CSettingsFile settings("[Device]\ntimeout=300\nlistenInterval=10\nWriteDataFrameInterval=5\n");
    WriteBytes(dir.File("app.bin"), RandomImage(8000, 23));
    auto port = std::make_shared<CpsSerialPort>();
    CNullView view;
    const std::string appPath = dir.File("app.bin");
    UpgradeRequest request = MakeRequest("", ComDevice(m_vanish), NarrowToWide(appPath), L"");
    const auto result = RunUpgrade(request, view, [port] { return port; });
    EXPECT_EQ(result.outcome, UpgradeOutcome::UnableToWrite);
    EXPECT_TRUE(result.portGone) << "the command line's exit code 3";
    EXPECT_EQ(port->m_hComm, INVALID_HANDLE_VALUE);
}

TEST(ComPortList, RegistryValuesListedByNumber)
{
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, "HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, nullptr, REG_OPTION_VOLATILE,
                              KEY_ALL_ACCESS, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    const std::vector<std::pair<const char*, const char*>> values{{"KD7XTest1", "COM97"}, {"KD7XTest2", "COM93"},
                                                                  {"KD7XTest3", "COM91"}, {"KD7XTest4", "COM100"},
                                                                  {"KD7XTest5", "COMA"},  {"KD7XTest6", "COM93"}};
    for (const auto& [name, data] : values)
        RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(data), static_cast<DWORD>(strlen(data) + 1));

    CPortVector list;
    FillComPortList(list);
    std::vector<std::wstring> ours;
    for (const auto& name : list.m_names)
    {
        if (name == L"COMA" || name == L"COM91" || name == L"COM93" || name == L"COM97" || name == L"COM100")
            ours.push_back(name);
    }
    EXPECT_EQ(ours, (std::vector<std::wstring>{L"COMA", L"COM91", L"COM93", L"COM93", L"COM97"}));
    EXPECT_EQ(list.m_names.front(), L"COMA");

    for (const auto& value : values)
        RegDeleteValueA(key, value.first);
    RegCloseKey(key);
}

TEST_F(Win32Port, ZeroTimeoutReadsEndWithASilentOrAPromptRadio)
{
    CTempDir dir;
    const auto image = RandomImage(3000, 24);
    WriteBytes(dir.File("zero.bin"), image);
    for (int com : {m_com, m_silent})
    {
        CSettingsFile settings(
            "[Device]\ntimeout=0\nlistenInterval=10\nWriteDataFrameInterval=20\nListenUpdateRetry=3\n");
        auto port = std::make_shared<CpsSerialPort>();
        CNullView view;
        const auto result = RunUpgrade(MakeRequest("", ComDevice(com), NarrowToWide(dir.File("zero.bin")), L""), view,
                                       [port] { return port; });
        EXPECT_EQ(result.outcome, com == m_com ? UpgradeOutcome::Success : UpgradeOutcome::ModeNotSeen) << com;
    }
    EXPECT_EQ(ReadBytes(std::string(std::getenv("KD7X_RECEIVED")) + "\\zero.bin"), image);
}

TEST(ImageSearch, FileTimesFinerThanASecondDecide)
{
    FILETIME now{};
    GetSystemTimeAsFileTime(&now);
    const ULONGLONG base =
        ((static_cast<ULONGLONG>(now.dwHighDateTime) << 32 | now.dwLowDateTime) / 10000000) * 10000000 + 1000000;
    // Both orders: the newer of two files 0.3 s apart wins, whichever the folder lists first.
    for (const char* newer : {"a.bin", "b.bin"})
    {
        CTempDir dir;
        for (const char* name : {"a.bin", "b.bin"})
        {
            WriteBytes(dir.File(name), std::vector<char>(450000, 'x'));
            const ULONGLONG when = base + (std::string(name) == newer ? 3000000 : 0);
            const FILETIME time{static_cast<DWORD>(when & 0xFFFFFFFF), static_cast<DWORD>(when >> 32)};
            HANDLE file =
                CreateFileA(dir.File(name).c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING, 0, nullptr);
            ASSERT_NE(file, INVALID_HANDLE_VALUE);
            SetFileTime(file, nullptr, nullptr, &time);
            CloseHandle(file);
        }
        CImageCandidates candidates;
        ASSERT_TRUE(candidates.Scan(dir.Path()));
        EXPECT_EQ(candidates.Find(400000, 512000).filename().string(), newer);
    }
}
