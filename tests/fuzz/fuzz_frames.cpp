// MakeFileFrames for any name and image. Input: name length, image size (two bytes, up to 5000),
// the name (UTF-8, other bytes as in file names of any encoding), then bytes the image repeats.
#include "engine/Kd7v001YmodemControl.h"
#include "platform/Text.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

using Y = Kd7v001YmodemControl;

static void Check(bool ok) { ok ? void() : __builtin_trap(); }

// Start byte, number and complement, payload padded to length, CRC low byte first.
static std::vector<char> Frame(char start, std::size_t number, std::string payload, std::size_t length, char pad)
{
    payload.resize(length, pad);
    const unsigned short crc = Crc16Arc(payload.data(), payload.size());
    const std::string frame =
        std::string{start, static_cast<char>(number % 256), static_cast<char>(0xFF - number % 256)} + payload +
        std::string{static_cast<char>(crc & 0xFF), static_cast<char>(crc >> 8)};
    return {frame.begin(), frame.end()};
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 3)
        return 0;
    const std::size_t at = 3 + std::min<std::size_t>(data[0], size - 3);
    const std::wstring name = NarrowToWide(std::string(data + 3, data + at));
    std::string image(static_cast<std::size_t>(data[1] | data[2] << 8) % 5001, '\0');
    for (std::size_t i = 0; at < size && i < image.size(); ++i)
        image[i] = static_cast<char>(data[at + i % (size - at)]);

    FrameTable table;
    const std::size_t n = image.empty() ? 0 : (image.size() - 1) / 1024 + 1;
    Check(Y::MakeFileFrames(table, {image.begin(), image.end()}, name) == static_cast<int>(n + 2) &&
          table.size() == n + 2);
    // Header: the name (its first characters dropped only when it must be), 0, the size, 0, zeros.
    const std::string digits = std::to_string(image.size()), full = WideToNarrow(name);
    const std::string kept(table[0].data() + 3, strnlen(table[0].data() + 3, 128));
    const std::size_t room = 128 - digits.size() - 2;
    Check(kept.size() <= room && (kept == full || (kept.size() + 4 > room && full.size() > kept.size() &&
                                                   full.compare(full.size() - kept.size(), kept.size(), kept) == 0)));
    Check(table[0] == Frame(Y::SOH, 0, kept + '\0' + digits, 128, '\0'));
    // Blocks of 1024 while more than 128 bytes remain, padded with SUB; the end block all zeros.
    for (std::size_t k = 1; k <= n; ++k)
    {
        const std::size_t offset = (k - 1) * 1024, length = image.size() - offset > 128 ? 1024 : 128;
        Check(table[static_cast<int>(k)] ==
              Frame(length == 1024 ? Y::STX : Y::SOH, k, image.substr(offset, length), length, Y::SUB));
    }
    Check(table[static_cast<int>(n + 1)] == Frame(Y::SOH, 0, "", 128, '\0'));
    return 0;
}
