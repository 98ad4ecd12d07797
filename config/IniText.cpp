#include "config/IniText.h"

#include <algorithm>
#include <cstddef>

namespace
{
struct Line
{
    std::size_t begin; // first byte
    std::size_t end;   // one past the last byte, before "\r\n" or "\n"
    std::size_t next;  // first byte of the next line
};

bool NextLine(const std::string& text, std::size_t at, Line& line)
{
    if (at >= text.size())
        return false;
    const std::size_t newline = text.find('\n', at);
    line.begin = at;
    line.next = newline == std::string::npos ? text.size() : newline + 1;
    line.end = newline == std::string::npos ? text.size() : newline;
    if (line.end > line.begin && text[line.end - 1] == '\r')
        --line.end;
    return true;
}

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// Where the line's '=' is, npos when it has none.
std::size_t EqualsOf(const std::string& text, const Line& line)
{
    const auto at = std::find(text.begin() + static_cast<std::ptrdiff_t>(line.begin),
                              text.begin() + static_cast<std::ptrdiff_t>(line.end), '=');
    return at == text.begin() + static_cast<std::ptrdiff_t>(line.end) ? std::string::npos
                                                                      : static_cast<std::size_t>(at - text.begin());
}

std::string Trimmed(const std::string& text, std::size_t begin, std::size_t end)
{
    while (begin < end && IsBlank(text[begin]))
        ++begin;
    while (end > begin && IsBlank(text[end - 1]))
        --end;
    return text.substr(begin, end - begin);
}

bool SameName(const std::string& a, const std::string& b) { return IniName(a) == IniName(b); }

// A section header gives its name; anything else gives false.
bool SectionName(const std::string& text, const Line& line, std::string& name)
{
    const std::string trimmed = Trimmed(text, line.begin, line.end);
    if (trimmed.empty() || trimmed[0] != '[')
        return false;
    const std::size_t close = trimmed.find(']');
    name = Trimmed(trimmed, 1, close == std::string::npos ? trimmed.size() : close);
    return true;
}

// The line of key in a section of that name: true with its position, or false with the line before
// which a new key belongs (the end of the first such section), npos when there is no such section.
bool FindKeyLine(const std::string& text, const std::string& section, const std::string& key, Line& found,
                 std::size_t& insertAt)
{
    insertAt = std::string::npos;
    // Only the first section of the name counts, as for the private-profile functions.
    bool inSection = false;
    Line line{};
    // A UTF-8 byte-order mark is no part of the first line; edits keep it where it is.
    const std::size_t start = text.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
    for (std::size_t at = start; NextLine(text, at, line); at = line.next)
    {
        std::string name;
        if (SectionName(text, line, name))
        {
            inSection = insertAt == std::string::npos && SameName(name, section);
            if (inSection)
                insertAt = line.next;
            continue;
        }
        if (!inSection)
            continue;
        const std::size_t equals = EqualsOf(text, line);
        const bool comment = Trimmed(text, line.begin, line.end).rfind(';', 0) == 0;
        if (!comment && equals != std::string::npos && SameName(Trimmed(text, line.begin, equals), key))
        {
            found = line;
            return true;
        }
        // New keys go after the section's last line that is not blank.
        if (!Trimmed(text, line.begin, line.end).empty())
            insertAt = line.next;
    }
    return false;
}
} // namespace

std::string IniName(std::string name)
{
    for (char& c : name)
    {
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    }
    return name;
}

bool FindIniValue(const std::string& text, const std::string& section, const std::string& key, std::string& value)
{
    Line line{};
    std::size_t insertAt = 0;
    if (!FindKeyLine(text, section, key, line, insertAt))
        return false;
    value = Trimmed(text, EqualsOf(text, line) + 1, line.end);
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front())
        value = value.substr(1, value.size() - 2);
    return true;
}

std::string SetIniValue(const std::string& text, const std::string& section, const std::string& key,
                        const std::string& value)
{
    const std::string newline = text.find("\r\n") != std::string::npos ? "\r\n" : "\n";
    Line line{};
    std::size_t insertAt = 0;
    if (FindKeyLine(text, section, key, line, insertAt))
    {
        const std::size_t equals = EqualsOf(text, line);
        return text.substr(0, line.begin) + Trimmed(text, line.begin, equals) + "=" + value + text.substr(line.end);
    }
    std::string out = text;
    if (insertAt == std::string::npos)
    {
        // A last line without its end gets one; a lone CR there is completed, not doubled.
        if (!out.empty() && out.back() != '\n')
            out += out.back() == '\r' ? "\n" : newline;
        return out + "[" + section + "]" + newline + key + "=" + value + newline;
    }
    // The section's last line may lack its line end when it ends the text.
    std::string added = key + "=" + value + newline;
    if (insertAt > 0 && out[insertAt - 1] != '\n')
        added = (out[insertAt - 1] == '\r' ? "\n" : newline) + key + "=" + value;
    return out.insert(insertAt, added);
}
