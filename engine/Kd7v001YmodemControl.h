// The upgrade protocol engine: frames and CRC, answer tests, the host link and the transfer
// sequence of one image, with progress and trace signals.
#pragma once

#include "platform/Win32Api.h"
#include "serial/ISerialPort.h"

#include <boost/signals2/signal.hpp>

#include <functional>
#include <map>
#include <string>
#include <vector>

using FrameTable = std::map<int, std::vector<char>>;

// Progress combiner: every slot runs; a slot returns true to ask for a stop, and the signal
// answers true (go on) only when none did.
struct IsContinue
{
    using result_type = bool;

    template <typename InputIterator> bool operator()(InputIterator first, InputIterator last) const
    {
        bool stop = false;
        for (; first != last; ++first)
        {
            if (*first)
                stop = true;
        }
        return !stop;
    }
};

// Upper-case hex, each byte as two digits and a blank ("06 43 "); no bytes give "".
std::string FormatHex(const std::vector<char>& bytes);

// CRC-16/ARC (reflected polynomial 0x8005, initial 0, no final XOR).
unsigned short Crc16Arc(const char* data, std::size_t size);

class Kd7v001YmodemControl
{
public:
    using ProgressSignal = boost::signals2::signal<bool(int, int), IsContinue>;
    using TraceSignal = boost::signals2::signal<void(const std::vector<char>&)>;
    using AnswerCheck = std::function<bool(const std::vector<char>&)>;

    static constexpr char SOH = 0x01;
    static constexpr char STX = 0x02;
    static constexpr char EOT = 0x04;
    static constexpr char ACK = 0x06;
    static constexpr char NAK = 0x15;
    static constexpr char CRC_C = 0x43;
    static constexpr char SUB = 0x1A;
    static constexpr char HOST_WRITE = 0x34;

    Kd7v001YmodemControl() = default;
    Kd7v001YmodemControl(const Kd7v001YmodemControl&) = delete;
    Kd7v001YmodemControl& operator=(const Kd7v001YmodemControl&) = delete;
    virtual ~Kd7v001YmodemControl() = default;

    // Every pause of the engine goes through here.
    virtual void Delay(DWORD milliseconds);

    static int MakeFileFrames(FrameTable& table, const std::vector<char>& data, const std::wstring& fileName);

    bool AcceptAnyAnswer(const std::vector<char>& answer) const;
    bool IsAnswerC(const std::vector<char>& answer) const;
    bool IsAckC(const std::vector<char>& answer) const;
    bool IsAck(const std::vector<char>& answer) const;
    bool IsNak(const std::vector<char>& answer) const;
    static bool IsMainMenu(const std::vector<char>& answer);

    int HostReadAnswer(ISerialPort* port, HANDLE hEvent, std::vector<char>& answer);
    bool HostWriteFrame(ISerialPort* port, const std::vector<char>& frame, int retries, int interval,
                        unsigned minAnswer, AnswerCheck check);
    bool HostListenUpdate(ISerialPort* port);

    bool HostSelectImage(ISerialPort* port, int image);
    int HostWriteFrames(ISerialPort* port, const FrameTable& table);
    bool HostWriteEnd(ISerialPort* port, const std::vector<char>& endBlock);
    bool HostWriteLocation(ISerialPort* port);

    bool HostWriteFrameAckC(ISerialPort* port, const std::vector<char>& frame);
    bool HostWriteFrameAck(ISerialPort* port, const std::vector<char>& frame);
    bool HostWriteFrameNak(ISerialPort* port, const std::vector<char>& frame);

    ProgressSignal m_sigWriteProgress;
    ProgressSignal m_sigListenProgress;
    ProgressSignal m_sigHostWriteProgress;
    TraceSignal m_sigListenTrace;
    TraceSignal m_sigAnswerTrace;

private:
    bool SendWithSettings(ISerialPort* port, const std::vector<char>& frame, int defaultRetries, int defaultInterval,
                          unsigned minAnswer, AnswerCheck check);
};
