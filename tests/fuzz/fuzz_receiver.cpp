// The simulated radio fed any byte stream. Input: a feed size (1 + 4 x byte 0), when to report a
// quiet line and a host gone (byte 1: every n-th feed, low and high half, 0 never), fault switches
// (byte 2), then the bytes from the host.
#include "sim/RadioReceiver.h"

#include <algorithm>
#include <cstdint>

static void Check(bool ok) { ok ? void() : __builtin_trap(); }

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 3)
        return 0;
    const std::size_t step = 1 + 4u * data[0], idleEvery = data[1] & 0x0Fu, goneEvery = data[1] >> 4;
    const unsigned f = data[2];
    CRadioReceiver radio(RadioFaults{f & 1 ? 0.3 : 0, f & 2 ? 0.2 : 0, f & 2 ? 0.2 : 0, (f & 4) != 0, (f & 8) != 0,
                                     (f & 16) != 0, (f & 32) != 0, f & 64 ? 2 : -1, f & 128 ? 3 : -1, f});
    for (std::size_t at = 3, feeds = 1; at < size; at += step, ++feeds)
    {
        radio.Feed(reinterpret_cast<const char*>(data + at), std::min(step, size - at));
        if (idleEvery && feeds % idleEvery == 0)
        {
            radio.Idle();
            Check(!radio.HasPartialFrame());
        }
        if (goneEvery && feeds % goneEvery == 0)
            radio.HostGone();
    }
    // An image is cut to its header's size; one that came short, or has no size, is reported.
    for (const ReceivedImage& image : radio.Images())
    {
        const auto got = static_cast<long long>(image.data.size());
        Check(image.complete && got <= (image.size < 0 ? got : image.size));
        Check(got == image.size || !radio.Violations().empty());
    }
    FormatSummaryText(radio);
    return 0;
}
