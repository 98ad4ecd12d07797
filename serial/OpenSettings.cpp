#include "serial/OpenSettings.h"

void ApplyOpenSettings(DCB& dcb, DWORD dwBaud, int parity, int dataBits, int stopBits, FlowControlMode flowCtl)
{
    dcb.BaudRate = dwBaud;
    if (parity >= 0 && parity <= 4)
        dcb.Parity = static_cast<BYTE>(parity);
    dcb.ByteSize = static_cast<BYTE>(dataBits & 0xFF);
    if (stopBits >= 0 && stopBits <= 2)
        dcb.StopBits = static_cast<BYTE>(stopBits);
    dcb.fDsrSensitivity = 0;
    switch (flowCtl)
    {
    case FlowNone:
        dcb.fOutxCtsFlow = 0;
        dcb.fOutxDsrFlow = 0;
        dcb.fOutX = 0;
        dcb.fInX = 0;
        break;
    case FlowCtsRts:
    case FlowCtsDtr:
        dcb.fOutxDsrFlow = 0;
        dcb.fOutX = 0;
        dcb.fInX = 0;
        dcb.fOutxCtsFlow = 1;
        if (flowCtl == FlowCtsRts)
            dcb.fRtsControl = RTS_CONTROL_HANDSHAKE;
        else
            dcb.fDtrControl = DTR_CONTROL_HANDSHAKE;
        break;
    case FlowDsrRts:
    case FlowDsrDtr:
        dcb.fOutxCtsFlow = 0;
        dcb.fOutX = 0;
        dcb.fInX = 0;
        dcb.fOutxDsrFlow = 1;
        if (flowCtl == FlowDsrRts)
            dcb.fRtsControl = RTS_CONTROL_HANDSHAKE;
        else
            dcb.fDtrControl = DTR_CONTROL_HANDSHAKE;
        break;
    case FlowXonXoff:
        dcb.fOutxCtsFlow = 0;
        dcb.fOutxDsrFlow = 0;
        dcb.fOutX = 1;
        dcb.fInX = 1;
        dcb.XonChar = 0x11;
        dcb.XoffChar = 0x13;
        dcb.XonLim = 100;
        dcb.XoffLim = 100;
        break;
    default: break;
    }
}
