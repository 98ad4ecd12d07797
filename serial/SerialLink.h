// The two link operations through which the engine talks to any ISerialPort.
#pragma once

#include "serial/ISerialPort.h"

#include <cstddef>
#include <functional>
#include <vector>

// How long a wait may still go on, in milliseconds, asked before each slice of it: 0 ends the wait
// at once (the request cancelled), so a stop or a deadline is seen within a slice whatever the
// port's time-outs. Without one a request runs to its own time-out.
using WaitBudget = std::function<DWORD()>;
constexpr DWORD kWaitSliceMs = 100;
constexpr DWORD kNoDeadline = 0xFFFFFFFF;
// A read taken short by its budget before any byte came.
constexpr int kReadStopped = -2;
// Bytes one read takes at most, so a line that never goes quiet cannot hold it.
constexpr std::size_t kMaxReadBytes = 4096;

// True when the whole frame went out; false when it did not, or its budget ended the wait.
bool WriteSerialFrame(ISerialPort* port, HANDLE hEvent, const std::vector<char>& frame, const WaitBudget& budget = {});

// Bytes read and appended to out; 0 when nothing arrived within the read time-out; -1 after an
// unexpected read error; kReadStopped when the budget ended the wait for the first byte. Reading
// what is queued ends at maxBytes (a third of a second of a busy line at 115200 baud). Throws
// CSerialException when the device has gone (5 or 6).
int ReadSerialAvailable(ISerialPort* port, HANDLE hEvent, std::vector<char>& out, const WaitBudget& budget = {},
                        std::size_t maxBytes = kMaxReadBytes);

// What the port last said of the bytes written: never asked (or it failed when asked), nothing
// waiting, or bytes still waiting.
enum class OutputSeen
{
    NotLooked,
    Empty,
    Waiting,
};

// Waits, in slices the budget may end, until everything written has left the port (then the
// port's Flush); false when timeoutMs (0: none) or the budget ran out first, and the port still
// held bytes at a last look. Throws when the port has gone. seen, when given, is what the port's
// last answer showed.
bool DrainSerialOutput(ISerialPort* port, DWORD timeoutMs, const WaitBudget& budget, OutputSeen* seen = nullptr);

// Reads and drops what the driver holds already; the count dropped. Throws as ReadSerialAvailable.
int DiscardSerialInput(ISerialPort* port, HANDLE hEvent);
