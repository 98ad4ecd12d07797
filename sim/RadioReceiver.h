// The radio's side of an upgrade: a strict receiver of the wire sequence, fed bytes as they come,
// answering as the radio must and recording every fault it sees. No I/O of its own, so the fake
// port of the link tests and the pseudo-terminal simulator share it.
#pragma once

#include <nlohmann/json.hpp>

#include <cstdint>
#include <map>
#include <random>
#include <string>
#include <vector>

struct RadioFaults
{
    double nakRate = 0;        // data blocks answered NAK (the block must come again)
    double dropRate = 0;       // data blocks accepted but not answered
    double garbleRate = 0;     // data blocks accepted, the answer garbled
    bool cBeforeAck = false;   // "C" in front of every ACK to a data block
    bool splitAckC = false;    // ACK and C of a header or second EOT sent as two pieces
    bool firstEotAck = false;  // the first EOT answered with ACK instead of NAK
    bool ignoreSelect = false; // image selection never answered
    long vanishAfter = -1;     // the device goes away after this many data blocks
    long silentAfter = -1;     // no answer at all after this many data blocks
    unsigned seed = 1;
};

struct ReceivedImage
{
    int code = 0;           // 1 application, 2 RCDB
    std::string name;       // from the header
    long long size = -1;    // from the header; -1 when missing
    std::vector<char> data; // the payloads, cut to size
    bool complete = false;  // end-of-batch block seen
};

// One answer: pieces the carrier sends apart (a gap between them), or a vanish.
struct RadioAnswer
{
    std::vector<std::vector<char>> pieces;
    bool vanish = false;
};

class CRadioReceiver
{
public:
    explicit CRadioReceiver(RadioFaults faults = {});

    // Bytes from the host; the answers they call for, in order.
    std::vector<RadioAnswer> Feed(const char* data, std::size_t size);
    // The line went quiet in the middle of a frame: drop the partial frame.
    void Idle();
    // The host let go of the port: an unfinished image is abandoned, the menu is back.
    void HostGone();

    const std::vector<ReceivedImage>& Images() const { return m_images; }
    const std::vector<std::string>& Violations() const { return m_violations; }
    long Resends() const { return m_resends; }
    long AnswersSent() const { return m_answers; }
    long DataBlocks() const { return m_dataBlocks; }
    bool WriteCommandSeen() const { return m_writeSeen; }
    bool Vanished() const { return m_vanished; }
    bool Silent() const { return m_silent; }
    bool HasPartialFrame() const { return !m_pending.empty(); }

private:
    enum class State
    {
        Menu,
        Header,
        Data,
        SecondEot,
        EndBlock,
    };

    bool TakeFrame(std::size_t& used, std::vector<RadioAnswer>& out);
    void HandleMenuByte(char b, std::vector<RadioAnswer>& out);
    void HandleHeader(const std::vector<char>& frame, std::vector<RadioAnswer>& out);
    void HandleData(const std::vector<char>& frame, std::vector<RadioAnswer>& out);
    void HandleEndBlock(const std::vector<char>& frame, std::vector<RadioAnswer>& out);
    void FinishImage();
    void Answer(std::vector<RadioAnswer>& out, std::vector<char> bytes, bool splitAfterFirst = false);
    void Violation(std::string text);
    bool Chance(double rate);

    RadioFaults m_faults;
    std::mt19937 m_rng;
    State m_state = State::Menu;
    std::vector<char> m_pending;
    std::vector<ReceivedImage> m_images;
    ReceivedImage m_current;
    int m_expected = 1;
    int m_refused = 0; // the block last answered NAK, so its next arrival counts as a resend
    std::vector<std::string> m_violations;
    long m_resends = 0;
    long m_answers = 0;
    long m_dataBlocks = 0;
    bool m_writeSeen = false;
    bool m_vanished = false;
    bool m_silent = false;
};

std::string FormatSummaryText(const CRadioReceiver& radio);
nlohmann::json SummaryJson(const CRadioReceiver& radio);
