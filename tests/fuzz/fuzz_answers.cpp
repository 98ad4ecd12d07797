// The answer tests and FormatHex on any bytes, against plain restatements of their rules.
#include "engine/Kd7v001YmodemControl.h"

#include <cstdint>
#include <cstdio>

static void Check(bool ok) { ok ? void() : __builtin_trap(); }

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using Y = Kd7v001YmodemControl;
    const std::vector<char> answer(data, data + size);
    const std::string text(answer.begin(), answer.end()), hex = FormatHex(answer);
    Check(hex.size() == 3 * size);
    for (std::size_t i = 0; i < size; ++i)
    {
        char two[4];
        std::snprintf(two, sizeof two, "%02X ", data[i]);
        Check(hex.compare(3 * i, 3, two) == 0);
    }
    const Y y;
    const std::size_t first = text.find_first_not_of(Y::CRC_C);
    const char reply = first == std::string::npos ? '\0' : text[first];
    Check(y.IsAck(answer) == (reply == Y::ACK) && y.IsNak(answer) == (reply == Y::NAK) && y.AcceptAnyAnswer(answer));
    Check(y.IsAnswerC(answer) == (size > 0 && answer[0] == Y::CRC_C));
    Check(Y::IsMainMenu(answer) == (text.find("Main Menu") != std::string::npos));
    // Whatever bytes it passes over, an ACK C it accepts is really there.
    Check(!y.IsAckC(answer) || text.find("\x06\x43") != std::string::npos);
    return 0;
}
