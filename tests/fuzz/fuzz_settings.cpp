// The settings reader and writer on any INI text. Input: a key (byte 0), an integer (bytes 1-4),
// a value up to the first line feed, then the text of the file.
#include "config/IniText.h"
#include "config/Settings.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <unistd.h>

static void Check(bool ok) { ok ? void() : __builtin_trap(); }

static const char* const keys[] = {
    "port", "timeout", "ListenUpdateRetry", "listenInterval", "WriteDataFrameRetry", "app_bin_file"};

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 5)
        return 0;
    const std::string key = keys[data[0] % 6], other = keys[(data[0] + 1) % 6], input(data + 5, data + size);
    std::int32_t number;
    std::memcpy(&number, data + 1, sizeof number);
    const std::string text = input.find('\n') == std::string::npos ? "" : input.substr(input.find('\n') + 1);
    // A value reads back as written only without blanks at its ends, quotes or line breaks.
    const std::string value = input.substr(0, input.find_first_of("\n\r\"' \t"));

    std::string old, otherOld, got, otherGot;
    const bool had = FindIniValue(text, "Device", key, old), otherHad = FindIniValue(text, "Device", other, otherOld);
    const std::string out = SetIniValue(text, "Device", key, value);
    Check(FindIniValue(out, "Device", key, got) && got == value);
    Check(FindIniValue(out, "Device", other, otherGot) == otherHad && otherGot == otherOld);
    // Apart from the one line rewritten, or the few added, every byte stays where it was.
    const std::size_t common = std::min(text.size(), out.size());
    std::size_t head = 0, tail = 0;
    while (head < common && text[head] == out[head])
        ++head;
    while (head + tail < common && text[text.size() - 1 - tail] == out[out.size() - 1 - tail])
        ++tail;
    const std::string lost = text.substr(head, text.size() - head - tail);
    const std::string added = out.substr(head, out.size() - head - tail);
    Check(had ? lost.find('\n') == std::string::npos && added.find('\n') == std::string::npos
              : lost.empty() && std::count(added.begin(), added.end(), '\n') <= 3);

    // The same through a file, one per process: any text reads without harm, what is written reads back.
    static const std::string path = "/tmp/kd7x-fuzz-settings-" + std::to_string(getpid()) + ".ini";
    static const int removed = std::atexit([] { std::remove(path.c_str()); });
    SetIniPathOverride(std::wstring(path.begin(), path.end()));
    std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
    Check(removed == 0 && ReadSettingString(key.c_str()) == old.substr(0, 511));
    Check(ReadSettingPause(key.c_str(), 100) <= kMaxPauseMs);
    Check(WriteSettingString(key.c_str(), std::to_string(number)).empty() && ReadSettingInt(key.c_str(), 7) == number);
    Check(WriteSettingString(key.c_str(), value).empty() && ReadSettingString(key.c_str()) == value.substr(0, 511));
    return 0;
}
