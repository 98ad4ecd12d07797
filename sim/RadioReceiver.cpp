#include "sim/RadioReceiver.h"

#include "engine/Kd7v001YmodemControl.h"

#include <algorithm>
#include <cstdio>
#include <sstream>

namespace
{
using Y = Kd7v001YmodemControl;
constexpr std::size_t kSmallFrame = 133;
constexpr std::size_t kLargeFrame = 1029;
constexpr char kGarbled = static_cast<char>(0x86); // an ACK with its top bit hit by noise
constexpr std::size_t kMaxSizeDigits = 10;         // up to 9,999,999,999 bytes

std::string Hex(char c)
{
    char text[8];
    std::snprintf(text, sizeof text, "0x%02X", static_cast<unsigned char>(c));
    return text;
}

bool CrcOk(const std::vector<char>& frame)
{
    const std::size_t payload = frame.size() - 5;
    const unsigned short crc = Crc16Arc(frame.data() + 3, payload);
    return static_cast<unsigned char>(frame[3 + payload]) == (crc & 0xFF) &&
           static_cast<unsigned char>(frame[4 + payload]) == (crc >> 8);
}

} // namespace

CRadioReceiver::CRadioReceiver(RadioFaults faults) : m_faults(faults), m_rng(faults.seed) {}

bool CRadioReceiver::Chance(double rate)
{
    if (rate <= 0)
        return false;
    return std::uniform_real_distribution<double>(0.0, 1.0)(m_rng) < rate;
}

void CRadioReceiver::Violation(std::string text) { m_violations.push_back(std::move(text)); }

void CRadioReceiver::Answer(std::vector<RadioAnswer>& out, std::vector<char> bytes, bool splitAfterFirst)
{
    RadioAnswer answer;
    if (splitAfterFirst && bytes.size() > 1)
    {
        answer.pieces.emplace_back(bytes.begin(), bytes.begin() + 1);
        answer.pieces.emplace_back(bytes.begin() + 1, bytes.end());
    }
    else
        answer.pieces.push_back(std::move(bytes));
    ++m_answers;
    out.push_back(std::move(answer));
}

void CRadioReceiver::Idle()
{
    if (!m_pending.empty() && m_state != State::Menu)
        Violation("incomplete frame of " + std::to_string(m_pending.size()) + " bytes dropped");
    m_pending.clear();
}

void CRadioReceiver::HostGone()
{
    m_pending.clear();
    m_current = ReceivedImage{};
    m_state = State::Menu;
}

std::vector<RadioAnswer> CRadioReceiver::Feed(const char* data, std::size_t size)
{
    std::vector<RadioAnswer> out;
    if (m_vanished || m_silent || m_frozen)
        return out;
    m_pending.insert(m_pending.end(), data, data + size);
    std::size_t used = 0;
    while (used < m_pending.size() && !m_vanished && !m_silent && !m_frozen)
    {
        if (!TakeFrame(used, out))
            break;
    }
    m_pending.erase(m_pending.begin(), m_pending.begin() + static_cast<std::ptrdiff_t>(used));
    if (m_vanished || m_silent || m_frozen)
        m_pending.clear();
    return out;
}

// Takes one unit from m_pending at used; false when it needs more bytes.
bool CRadioReceiver::TakeFrame(std::size_t& used, std::vector<RadioAnswer>& out)
{
    const char first = m_pending[used];
    const std::size_t available = m_pending.size() - used;
    if (m_state == State::Menu)
    {
        // The end block again, its ACK lost: the batch is over, so the menu is shown again.
        if (first == Y::SOH && m_batchEnded)
        {
            if (available < kSmallFrame)
                return false;
            const auto begin = m_pending.begin() + static_cast<std::ptrdiff_t>(used);
            if (begin[1] == 0 && begin[2] == static_cast<char>(0xFF) &&
                std::all_of(begin + 3, begin + static_cast<std::ptrdiff_t>(kSmallFrame), [](char c) { return c == 0; }))
            {
                used += kSmallFrame;
                ++m_resends;
                RadioAnswer menu;
                menu.menu = true;
                ++m_answers;
                out.push_back(std::move(menu));
                return true;
            }
        }
        ++used;
        HandleMenuByte(first, out);
        return true;
    }
    if (first == '1' || first == '2')
    {
        ++used;
        if (m_state == State::Header && first - '0' == m_current.code)
        {
            ++m_resends;
            Answer(out, {Y::CRC_C});
        }
        else
            Violation("image selection " + std::string(1, first) + " in the middle of a transfer");
        return true;
    }
    if (first == Y::EOT)
    {
        ++used;
        if (m_state == State::Data || m_state == State::SecondEot)
        {
            if (m_faults.firstEotAck)
                Answer(out, {Y::ACK});
            else if (m_state == State::Data)
            {
                m_state = State::SecondEot;
                Answer(out, {Y::NAK});
                if (m_faults.loseEotNak && !m_eotNakLost)
                {
                    m_eotNakLost = true;
                    out.pop_back(); // sent, and lost on the line
                }
            }
            else
            {
                m_state = State::EndBlock;
                Answer(out, {Y::ACK, Y::CRC_C}, m_faults.splitAckC);
            }
        }
        else if (m_state == State::EndBlock)
        {
            ++m_resends;
            Answer(out, {Y::ACK, Y::CRC_C}, m_faults.splitAckC);
        }
        else
            Violation("EOT before the header");
        return true;
    }
    if (first != Y::SOH && first != Y::STX)
    {
        ++used;
        Violation("unexpected byte " + Hex(first) + " where a block should start");
        return true;
    }
    const std::size_t need = first == Y::STX ? kLargeFrame : kSmallFrame;
    if (available < need)
        return false;
    std::vector<char> frame(m_pending.begin() + static_cast<std::ptrdiff_t>(used),
                            m_pending.begin() + static_cast<std::ptrdiff_t>(used + need));
    used += need;
    switch (m_state)
    {
    case State::Header: HandleHeader(frame, out); break;
    case State::Data: HandleData(frame, out); break;
    case State::EndBlock: HandleEndBlock(frame, out); break;
    default: Violation("block received between the two EOTs"); break;
    }
    return true;
}

void CRadioReceiver::HandleMenuByte(char b, std::vector<RadioAnswer>& out)
{
    m_batchEnded = false;
    if (b == '1' || b == '2')
    {
        m_current = ReceivedImage{};
        m_current.code = b - '0';
        m_expected = 1;
        if (m_faults.ignoreSelect)
            return;
        m_state = State::Header;
        Answer(out, {Y::CRC_C});
    }
    else if (b == Y::HOST_WRITE)
    {
        ++m_writeCommands;
        Answer(out, {'O', 'K', '\r', '\n'});
    }
    else
        Violation("unexpected byte " + Hex(b) + " at the menu");
}

void CRadioReceiver::HandleHeader(const std::vector<char>& frame, std::vector<RadioAnswer>& out)
{
    if (frame[0] != Y::SOH || frame[1] != 0 || frame[2] != static_cast<char>(0xFF))
    {
        Violation("header block with start " + Hex(frame[0]) + ", number " + Hex(frame[1]) + ", complement " +
                  Hex(frame[2]));
        Answer(out, {Y::NAK});
        return;
    }
    if (!CrcOk(frame))
    {
        Violation("header block with a bad CRC");
        Answer(out, {Y::NAK});
        return;
    }
    const char* payload = frame.data() + 3;
    std::size_t i = 0;
    while (i < 128 && payload[i] != 0)
        ++i;
    m_current.name.assign(payload, i);
    if (m_current.name.empty())
        Violation("header without a file name");
    ++i;
    std::size_t digits = i;
    while (digits < 128 && payload[digits] >= '0' && payload[digits] <= '9')
        ++digits;
    // Digits past what any radio can hold are refused, not parsed into an overflow.
    if (i < 128 && digits > i && digits - i <= kMaxSizeDigits && (digits == 128 || payload[digits] == 0))
        m_current.size = std::stoll(std::string(payload + i, digits - i));
    else
        Violation("header without a valid size");
    for (std::size_t k = digits + 1; k < 128; ++k)
    {
        if (payload[k] != 0)
        {
            Violation("header padding is not zero");
            break;
        }
    }
    m_state = State::Data;
    Answer(out, {Y::ACK, Y::CRC_C}, m_faults.splitAckC);
}

void CRadioReceiver::HandleData(const std::vector<char>& frame, std::vector<RadioAnswer>& out)
{
    const auto number = static_cast<unsigned char>(frame[1]);
    const auto complement = static_cast<unsigned char>(frame[2]);
    if (number + complement != 0xFF)
    {
        Violation("block number " + Hex(frame[1]) + " with complement " + Hex(frame[2]));
        Answer(out, {Y::NAK});
        return;
    }
    if (number == static_cast<unsigned char>(m_expected & 0xFF) && m_faults.loseBlock == m_expected && !m_blockLost)
    {
        m_blockLost = true;
        return; // noise on the line: the radio never saw a block
    }
    if (number == 0 && m_expected == 1 && frame[0] == Y::SOH)
    {
        // The header again: our ACK C went astray.
        ++m_resends;
        Answer(out, {Y::ACK, Y::CRC_C}, m_faults.splitAckC);
        return;
    }
    if (number == static_cast<unsigned char>((m_expected - 1) & 0xFF))
    {
        ++m_resends;
        Answer(out, {Y::ACK});
        return;
    }
    if (number != static_cast<unsigned char>(m_expected & 0xFF))
    {
        Violation("block number " + std::to_string(number) + " where " + std::to_string(m_expected & 0xFF) +
                  " was expected");
        Answer(out, {Y::NAK});
        return;
    }
    if (!CrcOk(frame))
    {
        Violation("block " + std::to_string(m_expected) + " with a bad CRC");
        m_refused = m_expected;
        Answer(out, {Y::NAK});
        return;
    }
    if (m_faults.vanishAfter >= 0 && m_dataBlocks >= m_faults.vanishAfter)
    {
        m_vanished = true;
        RadioAnswer gone;
        gone.vanish = true;
        out.push_back(std::move(gone));
        return;
    }
    if (m_faults.silentAfter >= 0 && m_dataBlocks >= m_faults.silentAfter)
    {
        m_silent = true;
        return;
    }
    if (m_refused == m_expected)
        ++m_resends;
    m_refused = 0;
    if (Chance(m_faults.nakRate))
    {
        m_refused = m_expected;
        Answer(out, {Y::NAK});
        return;
    }
    ++m_dataBlocks;
    ++m_expected;
    m_current.data.insert(m_current.data.end(), frame.begin() + 3, frame.end() - 2);
    if (Chance(m_faults.dropRate))
        return;
    if (Chance(m_faults.garbleRate))
    {
        Answer(out, {kGarbled});
        return;
    }
    if (m_faults.cBeforeAck)
        Answer(out, {Y::CRC_C, Y::ACK});
    else
        Answer(out, {Y::ACK});
    if (m_faults.dupAck == m_expected - 1)
    {
        // The line hands the ACK back once more, late.
        Answer(out, {Y::ACK});
        out.back().afterMs = kDupAckMs;
    }
}

void CRadioReceiver::HandleEndBlock(const std::vector<char>& frame, std::vector<RadioAnswer>& out)
{
    bool zero = frame[0] == Y::SOH && frame[1] == 0 && frame[2] == static_cast<char>(0xFF);
    for (std::size_t i = 3; zero && i < frame.size(); ++i)
        zero = frame[i] == 0;
    if (!zero)
    {
        Violation("end-of-batch block is not SOH 00 FF with 130 zero bytes");
        Answer(out, {Y::NAK});
        return;
    }
    Answer(out, {Y::ACK});
    FinishImage();
    m_frozen = m_faults.freezeAfterEob;
}

void CRadioReceiver::FinishImage()
{
    ReceivedImage& image = m_current;
    const auto received = static_cast<long long>(image.data.size());
    if (image.size >= 0)
    {
        const long long blocks = image.size == 0 ? 0 : (image.size - 1) / 1024 + 1;
        const long long full = image.size == 0 ? 0 : (blocks - 1) * 1024;
        const long long last = image.size - full;
        const long long expectedBytes = full + (image.size == 0 ? 0 : (last > 128 ? 1024 : 128));
        if (received != expectedBytes)
            Violation(image.name + ": " + std::to_string(received) + " payload bytes for a size of " +
                      std::to_string(image.size) + " (expected " + std::to_string(expectedBytes) + ")");
        if (received >= image.size)
        {
            for (long long k = image.size; k < received; ++k)
            {
                if (image.data[static_cast<std::size_t>(k)] != Y::SUB)
                {
                    Violation(image.name + ": padding byte is not 0x1A");
                    break;
                }
            }
            image.data.resize(static_cast<std::size_t>(image.size));
        }
    }
    image.complete = true;
    m_batchEnded = true;
    m_images.push_back(image);
    m_current = ReceivedImage{};
    m_state = State::Menu;
}

std::string CRadioReceiver::ImagesReport() const
{
    std::string report;
    for (const auto& image : m_images)
    {
        if (!image.Whole())
            report += (report.empty() ? "" : ", ") + std::string("image ") + std::to_string(image.code) +
                      " incomplete (" + std::to_string(image.data.size()) + " of " + std::to_string(image.size) +
                      " bytes)";
    }
    if (m_current.code != 0)
        report += (report.empty() ? "" : ", ") + std::string("image ") + std::to_string(m_current.code) +
                  " incomplete (" + std::to_string(m_current.data.size()) + " bytes)";
    if (!report.empty())
        return "upgrade FAILED: " + report;
    return m_images.empty() ? "nothing to write" : "upgrade OK";
}

std::string CRadioReceiver::NewFirmware() const
{
    for (const auto& image : m_images)
    {
        if (image.code != 1 || !image.Whole())
            continue;
        static const std::string kMark = "KD7X-FW ";
        const auto at = std::search(image.data.begin(), image.data.end(), kMark.begin(), kMark.end());
        std::string version;
        for (auto it = at == image.data.end() ? at : at + static_cast<std::ptrdiff_t>(kMark.size());
             it != image.data.end() && version.size() < 16 && *it > ' ' && *it < 0x7F; ++it)
            version += *it;
        if (version.empty())
        {
            char text[16];
            std::snprintf(text, sizeof text, "build %04x", Crc16Arc(image.data.data(), image.data.size()));
            version = text;
        }
        return version;
    }
    return {};
}

std::string FormatSummaryText(const CRadioReceiver& radio)
{
    std::ostringstream text;
    text << "radio summary: " << radio.Images().size() << " image(s) received, " << radio.DataBlocks()
         << " data blocks, " << radio.Resends() << " resend(s), " << radio.AnswersSent() << " answer(s) sent, "
         << (radio.WriteCommandSeen() ? "write command seen" : "no write command") << "\n";
    for (const auto& image : radio.Images())
        text << "  image " << image.code << ": " << image.name << ", " << image.data.size() << " bytes\n";
    if (radio.Violations().empty())
        text << "  no protocol violation\n";
    for (const auto& v : radio.Violations())
        text << "  violation: " << v << "\n";
    return text.str();
}

nlohmann::json SummaryJson(const CRadioReceiver& radio)
{
    nlohmann::json images = nlohmann::json::array();
    for (const auto& image : radio.Images())
        images.push_back(
            {{"code", image.code}, {"name", image.name}, {"size", image.size}, {"bytes", image.data.size()}});
    return {{"images", images},
            {"data_blocks", radio.DataBlocks()},
            {"resends", radio.Resends()},
            {"answers_sent", radio.AnswersSent()},
            {"write_command", radio.WriteCommandSeen()},
            {"violations", radio.Violations()}};
}
