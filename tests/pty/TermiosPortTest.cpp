#include "serial/PortOrder.h"
#include "serial/SerialException.h"
#include "serial/SerialLink.h"
#include "serial/posix/PortList.h"
#include "serial/posix/TermiosSerialPort.h"

#include "../support/TestSupport.h"

#include <gtest/gtest.h>

#include <chrono>
#include <fcntl.h>
#include <unistd.h>

namespace
{
struct Pty
{
    Pty()
    {
        master = posix_openpt(O_RDWR | O_NOCTTY);
        grantpt(master);
        unlockpt(master);
        const char* name = ptsname(master);
        path.assign(name, name + std::strlen(name));
    }
    ~Pty()
    {
        if (master >= 0)
            close(master);
    }
    int master;
    std::wstring path;
};
} // namespace

TEST(TermiosPort, SilentLineTimesOutAndQueuedBytesAreDrained)
{
    Pty pty;
    CTermiosSerialPort port;
    ASSERT_TRUE(port.Open(pty.path.c_str(), 115200, 0, 8, 0, FlowNone, TRUE));
    COMMTIMEOUTS set{};
    set.ReadTotalTimeoutConstant = 150;
    set.WriteTotalTimeoutConstant = 150;
    port.SetTimeouts(set);
    COMMTIMEOUTS got{};
    port.GetTimeouts(got);
    EXPECT_EQ(got.ReadTotalTimeoutConstant, 150u);

    HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    std::vector<char> out;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(ReadSerialAvailable(&port, event, out), 0);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(140));
    EXPECT_TRUE(out.empty());

    ASSERT_EQ(write(pty.master, "\x06\x43", 2), 2);
    EXPECT_EQ(ReadSerialAvailable(&port, event, out), 2);
    EXPECT_EQ(out, (std::vector<char>{0x06, 0x43}));

    EXPECT_TRUE(WriteSerialFrame(&port, event, {'1'}));
    char c = 0;
    EXPECT_EQ(read(pty.master, &c, 1), 1);
    EXPECT_EQ(c, '1');

    close(pty.master);
    pty.master = -1;
    EXPECT_THROW(ReadSerialAvailable(&port, event, out), CSerialException) << "a vanished device throws";
    CloseHandle(event);

    port.Close();
    port.Close();
    EXPECT_FALSE(port.IsOpen());
    EXPECT_TRUE(port.GetDevicePath().empty());
}

TEST(TermiosPort, OpenFailuresMapToWindowsCodes)
{
    CTermiosSerialPort port;
    CTempDir dir;
    WriteText(dir.File("plain.txt"), "x");
    const std::string file = dir.File("plain.txt");
    try
    {
        port.Open(std::wstring(file.begin(), file.end()).c_str(), 115200, 0, 8, 0, FlowNone, TRUE);
        FAIL();
    }
    catch (const CSerialException& e)
    {
        EXPECT_EQ(e.m_dwError, ERROR_NOT_SUPPORTED);
    }
    EXPECT_FALSE(port.IsOpen());

    Pty pty;
    EXPECT_THROW(port.Open(pty.path.c_str(), 12345, 0, 8, 0, FlowNone, TRUE), CSerialException)
        << "an unsupported baud rate";
    EXPECT_FALSE(port.IsOpen());
    COMMTIMEOUTS t{};
    EXPECT_THROW(port.GetTimeouts(t), CSerialException);

    CSerialException unknown(12345);
    wchar_t text[16] = L"junk";
    EXPECT_FALSE(unknown.GetErrorMessage(text, 16));
    EXPECT_EQ(text[0], L'\0');
}

TEST(PortList, LinuxDevicesAscendByTheirNumber)
{
    EXPECT_EQ(DevicePortNumber(L"/dev/ttyUSB12"), 12);
    EXPECT_EQ(DevicePortNumber(L"/dev/serial/by-id/usb-radio"), 0);
    CPortVector list;
    for (const wchar_t* name : {L"/dev/ttyUSB10", L"/dev/ttyS1", L"/dev/ttyACM0", L"/dev/ttyUSB1"})
        InsertPortByNumber(list, name, DevicePortNumber);
    EXPECT_EQ(list.m_names,
              (std::vector<std::wstring>{L"/dev/ttyACM0", L"/dev/ttyS1", L"/dev/ttyUSB1", L"/dev/ttyUSB10"}));
    for (const auto& port : ListSerialPorts())
        EXPECT_EQ(port.device.rfind("/dev/", 0), 0u) << port.device;
}
