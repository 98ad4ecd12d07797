#include "app/ProgressText.h"

#include "engine/Kd7v001YmodemControl.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdio>

std::string FormatClock(double seconds)
{
    const long total = seconds <= 0 ? 0 : std::lround(seconds);
    char text[32];
    if (total >= 3600)
        std::snprintf(text, sizeof text, "%ld:%02ld:%02ld", total / 3600, total / 60 % 60, total % 60);
    else
        std::snprintf(text, sizeof text, "%ld:%02ld", total / 60, total % 60);
    return text;
}

std::wstring FormatProgressText(const std::wstring& caption, int done, int total, bool percent)
{
    if (percent)
    {
        // No caller passes an empty total; show the caption alone rather than divide by it.
        if (total <= 0)
            return caption;
        const long long value = static_cast<long long>(done) * 100 / total;
        return caption + L" " + std::to_wstring(static_cast<int>(value)) + L"%";
    }
    return caption + L" " + std::to_wstring(done) + L"/" + std::to_wstring(total);
}

bool ShouldPump(int done, int total) { return total <= 100 || done % 4 == 0 || done == total || done + 1 == total; }

std::size_t BytesBefore(int done, int total, std::size_t imageBytes)
{
    if (done >= total)
        return imageBytes;
    const auto blocks = static_cast<std::size_t>(std::max(done - 2, 0));
    return std::min(imageBytes, blocks * 1024);
}

std::string LocationStepText(int done)
{
    return done == 4   ? "sending the write command"
           : done == 1 ? "selecting the application image"
                       : "selecting the RCDB image";
}

std::string FailureText(AttemptFailure why, const std::vector<char>& answer)
{
    switch (why)
    {
    case AttemptFailure::Write: return "write timed out";
    case AttemptFailure::Read: return "read error";
    case AttemptFailure::Busy: return "the line never went quiet";
    case AttemptFailure::Answer: break;
    }
    std::size_t i = 0;
    while (i < answer.size() && answer[i] == Kd7v001YmodemControl::CRC_C)
        ++i;
    if (answer.empty())
        return "no answer";
    if (i < answer.size() && answer[i] == Kd7v001YmodemControl::NAK)
        return "NAK";
    // A radio that talks instead of answering is shown by its first bytes.
    constexpr std::size_t kShown = 16;
    std::string hex = FormatHex(std::vector<char>(
        answer.begin(), answer.begin() + static_cast<std::ptrdiff_t>(std::min(answer.size(), kShown))));
    hex.pop_back(); // the blank after the last byte
    return "answer " + hex + (answer.size() > kShown ? " ..." : "");
}
