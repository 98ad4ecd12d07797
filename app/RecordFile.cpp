#include "app/RecordFile.h"

#include "platform/Text.h"

#include <cctype>
#include <cerrno>
#include <filesystem>
#include <cstring>
#include <fstream>
#include <map>
#include <string_view>
#include <vector>

namespace
{
// Deeper than any line a station writes; a deeper one is bad, and never a deep recursion.
constexpr int kMaxDepth = 32;

// A JSON text checked in one pass, without building it: the top level an object, and the raw
// text of the values of the keys asked for. A long record is read many times faster so.
class CLineScanner
{
public:
    CLineScanner(std::string_view text, const RecordKeys& keys) : m_text(text), m_keys(keys) {}

    bool Object(std::vector<std::pair<std::string, std::string_view>>& found)
    {
        Blanks();
        if (!Take('{'))
            return false;
        Blanks();
        if (!Take('}'))
        {
            do
            {
                Blanks();
                const std::size_t key = m_at;
                if (!String())
                    return false;
                const std::string_view name = m_text.substr(key + 1, m_at - key - 2);
                Blanks();
                if (!Take(':'))
                    return false;
                Blanks();
                const std::size_t value = m_at;
                if (!Value(1))
                    return false;
                if (m_keys.count(name) != 0)
                    found.emplace_back(std::string(name), m_text.substr(value, m_at - value));
                Blanks();
            } while (Take(','));
            if (!Take('}'))
                return false;
        }
        Blanks();
        return m_at == m_text.size();
    }

private:
    bool Take(char c)
    {
        if (m_at >= m_text.size() || m_text[m_at] != c)
            return false;
        ++m_at;
        return true;
    }
    void Blanks()
    {
        while (m_at < m_text.size() &&
               (m_text[m_at] == ' ' || m_text[m_at] == '\t' || m_text[m_at] == '\n' || m_text[m_at] == '\r'))
            ++m_at;
    }
    bool Digits()
    {
        const std::size_t from = m_at;
        while (m_at < m_text.size() && m_text[m_at] >= '0' && m_text[m_at] <= '9')
            ++m_at;
        return m_at > from;
    }
    bool String()
    {
        if (!Take('"'))
            return false;
        while (m_at < m_text.size())
        {
            const auto c = static_cast<unsigned char>(m_text[m_at++]);
            if (c == '"')
                return true;
            if (c < 0x20)
                return false;
            if (c != '\\')
                continue;
            if (m_at >= m_text.size())
                return false;
            const char escaped = m_text[m_at++];
            if (escaped == 'u')
            {
                for (int i = 0; i < 4; ++i, ++m_at)
                    if (m_at >= m_text.size() || !std::isxdigit(static_cast<unsigned char>(m_text[m_at])))
                        return false;
            }
            else if (std::strchr("\"\\/bfnrt", escaped) == nullptr || escaped == '\0')
                return false;
        }
        return false;
    }
    bool Word(const char* word)
    {
        const std::size_t length = std::strlen(word);
        if (m_text.compare(m_at, length, word) != 0)
            return false;
        m_at += length;
        return true;
    }
    bool Number()
    {
        Take('-');
        if (!Take('0') && !Digits())
            return false;
        if (Take('.') && !Digits())
            return false;
        if (m_at < m_text.size() && (m_text[m_at] == 'e' || m_text[m_at] == 'E'))
        {
            ++m_at;
            if (!Take('+'))
                Take('-');
            if (!Digits())
                return false;
        }
        return true;
    }
    bool Value(int depth)
    {
        if (m_at >= m_text.size() || depth > kMaxDepth)
            return false;
        const char c = m_text[m_at];
        if (c == '"')
            return String();
        if (c == 't')
            return Word("true");
        if (c == 'f')
            return Word("false");
        if (c == 'n')
            return Word("null");
        if (c != '{' && c != '[')
            return Number();
        const char close = c == '{' ? '}' : ']';
        ++m_at;
        Blanks();
        if (Take(close))
            return true;
        do
        {
            Blanks();
            if (c == '{')
            {
                if (!String())
                    return false;
                Blanks();
                if (!Take(':'))
                    return false;
                Blanks();
            }
            if (!Value(depth + 1))
                return false;
            Blanks();
        } while (Take(','));
        return Take(close);
    }

    std::string_view m_text;
    const RecordKeys& m_keys;
    std::size_t m_at = 0;
};

// The last long value of each key, parsed: most lines of a day name the same images.
using ValueCache = std::map<std::string, std::pair<std::string, nlohmann::json>, std::less<>>;

void Deliver(std::string& text, bool tooLong, bool ended, std::size_t number,
             const std::function<void(const RecordLine&)>& each, const RecordKeys* keys, ValueCache& cache)
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
    if (!tooLong && keys == nullptr)
    {
        json = nlohmann::json::parse(text, nullptr, false);
        if (json.is_object())
            line.json = &json;
    }
    else if (!tooLong)
    {
        // Only the values asked for are built.
        std::vector<std::pair<std::string, std::string_view>> found;
        if (CLineScanner(text, *keys).Object(found))
        {
            json = nlohmann::json::object();
            for (const auto& [key, value] : found)
            {
                constexpr std::size_t kLong = 100;
                auto& last = cache[key];
                if (value.size() < kLong || last.first != value)
                {
                    last.second = nlohmann::json::parse(value, nullptr, false);
                    last.first = value.size() < kLong ? std::string() : std::string(value);
                }
                json[key] = last.second;
            }
            line.json = &json;
        }
    }
    each(line);
}
} // namespace

bool IsRecordFile(const std::wstring& path, std::string& why)
{
    std::error_code ec;
    if (std::filesystem::is_directory(PathFromWide(path), ec))
    {
        why = WideToUtf8(path) + " is a folder, not a station's record";
        return false;
    }
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

bool ScanRecord(const std::wstring& path, const std::function<void(const RecordLine&)>& each, std::string& error,
                const RecordKeys* keys)
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
    ValueCache cache;
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
            Deliver(text, tooLong, true, number++, each, keys, cache);
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
        Deliver(text, tooLong, false, number, each, keys, cache);
    return true;
}
