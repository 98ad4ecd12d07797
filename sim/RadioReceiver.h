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
    double nakRate = 0;          // data blocks answered NAK (the block must come again)
    double dropRate = 0;         // data blocks accepted but not answered
    double garbleRate = 0;       // data blocks accepted, the answer garbled
    bool cBeforeAck = false;     // "C" in front of every ACK to a data block
    bool splitAckC = false;      // ACK and C of a header or second EOT sent as two pieces
    bool firstEotAck = false;    // the first EOT answered with ACK instead of NAK
    bool ignoreSelect = false;   // image selection never answered
    long vanishAfter = -1;       // the device goes away after this many data blocks
    long silentAfter = -1;       // no answer at all after this many data blocks
    long dupAck = -1;            // this data block acknowledged twice, the second time 0.3 s late
    long loseBlock = -1;         // this data block's first copy lost on the line: never seen, never answered
    bool loseEotNak = false;     // the first NAK to an EOT lost on the line
    bool freezeAfterEob = false; // after the first end-of-batch block's ACK, reads nothing and says nothing
    unsigned seed = 1;
};

struct ReceivedImage
{
    int code = 0;           // 1 application, 2 RCDB
    std::string name;       // from the header
    long long size = -1;    // from the header; -1 when missing
    std::vector<char> data; // the payloads, cut to size
    bool complete = false;  // end-of-batch block seen
    // Every byte its header announced.
    bool Whole() const { return complete && size >= 0 && static_cast<long long>(data.size()) == size; }
};

// One answer: pieces the carrier sends apart (a gap between them), or a vanish, or the radio's
// menu shown again; afterMs later than the answers before it.
struct RadioAnswer
{
    std::vector<std::vector<char>> pieces;
    bool vanish = false;
    long afterMs = 0;
    bool menu = false;
};

// The milliseconds between a data block's ACK and its duplicate (--dup-ack).
constexpr long kDupAckMs = 300;

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
    bool WriteCommandSeen() const { return m_writeCommands > 0; }
    // A radio kept on the line (--stay) may be upgraded again and again.
    long WriteCommands() const { return m_writeCommands; }
    bool Vanished() const { return m_vanished; }
    bool Silent() const { return m_silent; }
    // Frozen after an end-of-batch block: it takes no byte more.
    bool Frozen() const { return m_frozen; }
    // What a radio says of its images as it restarts after the write command: "upgrade OK" when
    // every image it received is whole, else which are not.
    std::string ImagesReport() const;
    // The firmware version the application image carries ("KD7X-FW 2.1.0" in its bytes), else one
    // made from its CRC; empty without a whole application image.
    std::string NewFirmware() const;
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
    long m_writeCommands = 0;
    bool m_vanished = false;
    bool m_silent = false;
    bool m_frozen = false;
    bool m_batchEnded = false; // an image has just ended: a repeated end block is no stray byte
    bool m_blockLost = false;  // --lose-block has struck
    bool m_eotNakLost = false; // --lose-eot-nak has struck
};

std::string FormatSummaryText(const CRadioReceiver& radio);
nlohmann::json SummaryJson(const CRadioReceiver& radio);
