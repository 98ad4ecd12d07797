#include "app/RecordFile.h"

#include "platform/Text.h"

#include <cerrno>
#include <cstring>
#include <fstream>

namespace
{
void Deliver(std::string& text, bool tooLong, bool ended, std::size_t number,
             const std::function<void(const RecordLine&)>& each)
{
    if (!text.empty() && text.back() == '\r')
        text.pop_back();
    if (text.empty() && !tooLong)
        return;
    RecordLine line;
    line.number = number;
    line.tooLong = tooLong;
    line.ended = ended;
    nlohmann::json json;
    if (!tooLong)
    {
        json = nlohmann::json::parse(text, nullptr, false);
        if (json.is_object())
            line.json = &json;
    }
    each(line);
}
} // namespace

bool IsRecordFile(const std::wstring& path, std::string& why)
{
    std::ifstream in(PathFromWide(path), std::ios::binary);
    if (!in)
        return true; // none yet, or one the record's own opening will say it cannot open
    std::string first;
    for (char c; first.size() <= kMaxRecordLine && in.get(c) && c != '\n';)
        first += c;
    const bool ended = !in.eof() && first.size() <= kMaxRecordLine;
    if (first.empty() && !in.eof())
        why = "its first line is empty";
    else if (first.empty())
        return true;
    else if (!ended)
    {
        // The only line, torn: a record's line begins as a JSON object does; a whole object that is
        // none of a station's is another file.
        const auto json = nlohmann::json::parse(first, nullptr, false);
        if (first.size() <= kMaxRecordLine && first.rfind("{\"", 0) == 0 &&
            (!json.is_object() || json.contains("outcome")))
            return true;
        why = "it holds no whole line";
    }
    else
    {
        if (!first.empty() && first.back() == '\r')
            first.pop_back();
        const auto json = nlohmann::json::parse(first, nullptr, false);
        if (json.is_object() && json.contains("outcome"))
            return true;
        why = "its first line is no station's record";
    }
    why = WideToUtf8(path) + " is not a station's record (" + why + "): it is left as it is";
    return false;
}

bool ScanRecord(const std::wstring& path, const std::function<void(const RecordLine&)>& each, std::string& error)
{
    std::ifstream in(PathFromWide(path), std::ios::binary);
    if (!in)
    {
        error = std::strerror(errno);
        return false;
    }
    std::string text;
    bool tooLong = false;
    std::size_t number = 1;
    char chunk[64 * 1024];
    while (in)
    {
        in.read(chunk, sizeof chunk);
        const auto got = static_cast<std::size_t>(in.gcount());
        for (std::size_t at = 0; at < got;)
        {
            const void* found = std::memchr(chunk + at, '\n', got - at);
            const std::size_t end = found ? static_cast<std::size_t>(static_cast<const char*>(found) - chunk) : got;
            if (!tooLong && text.size() + (end - at) > kMaxRecordLine)
            {
                tooLong = true;
                std::string().swap(text);
            }
            if (!tooLong)
                text.append(chunk + at, end - at);
            if (!found)
                break;
            Deliver(text, tooLong, true, number++, each);
            text.clear();
            tooLong = false;
            at = end + 1;
        }
    }
    if (in.bad())
    {
        error = "reading it failed";
        return false;
    }
    if (!text.empty() || tooLong)
        Deliver(text, tooLong, false, number, each);
    return true;
}
