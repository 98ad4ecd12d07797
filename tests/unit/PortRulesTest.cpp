#include "serial/OpenSettings.h"
#include "serial/PortOrder.h"

#include <gtest/gtest.h>

TEST(PortOrder, ComNamesAscendByNumberWithArrivalOrderForEqualKeys)
{
    CPortVector list;
    for (const wchar_t* name : {L"COM10", L"COM2", L"COM1", L"COM2", L"COMA", L"OMC7"})
        InsertPortByNumber(list, name);
    EXPECT_EQ(list.m_names, (std::vector<std::wstring>{L"COMA", L"COM1", L"COM2", L"COM2", L"OMC7", L"COM10"}));
    EXPECT_EQ(ComPortSortKey(L"COM12"), 12);
    EXPECT_EQ(ComPortSortKey(L"com3"), 0) << "only upper-case letters are stripped";
}

TEST(OpenSettings, OutOfRangeValuesKeepTheDevicesAndFlowModesSetTheirFields)
{
    DCB device{};
    device.Parity = 2;
    device.StopBits = 2;
    device.fDsrSensitivity = 1;
    device.fDtrControl = 1;
    device.fRtsControl = 1;
    device.fOutxCtsFlow = 1;

    DCB keep = device;
    ApplyOpenSettings(keep, 115200, 5, 0x107, 3, FlowNone);
    EXPECT_EQ(keep.BaudRate, 115200u);
    EXPECT_EQ(keep.Parity, 2);
    EXPECT_EQ(keep.StopBits, 2);
    EXPECT_EQ(keep.ByteSize, 7) << "the low byte of the data bits";
    EXPECT_EQ(keep.fDsrSensitivity, 0u);
    EXPECT_EQ(keep.fOutxCtsFlow, 0u);
    EXPECT_EQ(keep.fDtrControl, 1u) << "FlowNone leaves DTR and RTS as they were";

    DCB xon = device;
    ApplyOpenSettings(xon, 9600, 0, 8, 0, FlowXonXoff);
    EXPECT_EQ(xon.fOutX, 1u);
    EXPECT_EQ(xon.fInX, 1u);
    EXPECT_EQ(xon.XonChar, 0x11);
    EXPECT_EQ(xon.XoffChar, 0x13);
    EXPECT_EQ(xon.XonLim, 100);
    EXPECT_EQ(xon.XoffLim, 100);
    EXPECT_EQ(xon.fOutxCtsFlow, 0u);

    DCB rts = device;
    ApplyOpenSettings(rts, 9600, 0, 8, 0, FlowCtsRts);
    EXPECT_EQ(rts.fRtsControl, static_cast<DWORD>(RTS_CONTROL_HANDSHAKE));
    EXPECT_EQ(rts.fOutxCtsFlow, 1u);
    DCB dtr = device;
    ApplyOpenSettings(dtr, 9600, 0, 8, 0, FlowDsrDtr);
    EXPECT_EQ(dtr.fDtrControl, static_cast<DWORD>(DTR_CONTROL_HANDSHAKE));
    EXPECT_EQ(dtr.fOutxDsrFlow, 1u);
    EXPECT_EQ(dtr.fOutxCtsFlow, 0u);

    DCB other = device;
    ApplyOpenSettings(other, 9600, 0, 8, 0, static_cast<FlowControlMode>(6));
    EXPECT_EQ(other.fDsrSensitivity, 0u);
    EXPECT_EQ(other.fOutxCtsFlow, 1u) << "an unknown mode changes nothing else";
}
