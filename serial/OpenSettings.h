// The line settings an Open applies to the device's current DCB, shared by every port.
#pragma once

#include "serial/ISerialPort.h"

// Parity only for 0..4 and stop bits only for 0..2, else the device keeps its own; DSR
// sensitivity always cleared, then the flow-control mode (fields it does not name are kept).
void ApplyOpenSettings(DCB& dcb, DWORD dwBaud, int parity, int dataBits, int stopBits, FlowControlMode flowCtl);
