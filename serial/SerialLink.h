// The two link operations through which the engine talks to any ISerialPort.
#pragma once

#include "serial/ISerialPort.h"

#include <vector>

// True when the whole frame went out.
bool WriteSerialFrame(ISerialPort* port, HANDLE hEvent, const std::vector<char>& frame);

// Bytes read and appended to out; 0 when nothing arrived within the read time-out; -1 after an
// unexpected read error. Throws CSerialException when the device has gone (5 or 6).
int ReadSerialAvailable(ISerialPort* port, HANDLE hEvent, std::vector<char>& out);

// Reads and drops what the driver holds already; the count dropped. Throws as ReadSerialAvailable.
int DiscardSerialInput(ISerialPort* port, HANDLE hEvent);
