#include "app/RadioText.h"

#include "config/Settings.h"

#include <algorithm>
#include <chrono>

std::string EscapeRadioText(const std::string& bytes)
{
    static const char digits[] = "0123456789abcdef";
    std::string text;
    text.reserve(bytes.size());
    for (const char c : bytes)
    {
        const auto b = static_cast<unsigned char>(c);
        if (b == '\\')
            text += "\\\\";
        else if (b == '\r')
            text += "\\r";
        else if (b == '\n')
            text += "\\n";
        else if (b == '\t')
            text += "\\t";
        else if (b >= 0x20 && b < 0x7F)
            text += c;
        else
        {
            text += "\\x";
            text += digits[b >> 4];
            text += digits[b & 0x0F];
        }
    }
    return text;
}

std::string CompilePattern(const std::string& text, std::optional<std::regex>& pattern)
{
    pattern.reset();
    if (text.empty())
        return "it is empty";
    try
    {
        pattern.emplace(text, std::regex::ECMAScript | std::regex_constants::__polynomial);
    }
    catch (const std::regex_error& e)
    {
        // A back-reference needs backtracking, which the linear matcher refuses.
        if (e.code() == std::regex_constants::error_complexity)
            return "back-references are not supported";
        return e.what();
    }
    // A quarter of a window, once of a byte the pattern does not name (no line end to stop it),
    // once of the pattern's own text between line ends: a search costs at least the square of
    // the text's length, so a whole window costs some sixteen times as much.
    const std::size_t probeBytes = kRadioTextWindow / 4;
    char stranger = '~';
    for (const char c : std::string("~#@%&;=q"))
        if (text.find(c) == std::string::npos)
            stranger = c;
    std::string mixed;
    while (mixed.size() < probeBytes)
        mixed += text + "\r\n";
    mixed.resize(probeBytes);
    const auto worstOf = [&](const std::regex& searched) {
        long long worst = 0;
        for (const std::string& probe : {std::string(probeBytes, stranger), mixed})
        {
            const auto start = std::chrono::steady_clock::now();
            PatternFound(searched, probe);
            const auto took = std::chrono::steady_clock::now() - start;
            worst = std::max<long long>(worst, std::chrono::duration_cast<std::chrono::microseconds>(took).count());
        }
        return worst;
    };
    const long long worst = worstOf(*pattern);
    const long long window = worst * 16 / 1000;
    if (window <= kMaxPatternSearchMs)
        return {};
    // A loaded machine or a checked build is slow for every pattern: refuse only a pattern that
    // also costs many times the plainest one that looks at every pair of bytes.
    static const std::regex plain(".*\\x01", std::regex::ECMAScript | std::regex_constants::__polynomial);
    if (worst <= kMaxPatternCostOverPlain * std::max<long long>(worstOf(plain), 1))
        return {};
    pattern.reset();
    return "it would take about " + std::to_string(window) + " ms to search " + std::to_string(kRadioTextWindow) +
           " bytes of a radio's text; write it simpler";
}

bool PatternFound(const std::regex& pattern, const std::string& text)
{
    try
    {
        return std::regex_search(text, pattern);
    }
    catch (const std::regex_error&)
    {
        return false;
    }
}

std::optional<std::string> FindRadioId(const std::regex& pattern, const std::string& text)
{
    std::optional<std::string> id;
    try
    {
        for (auto it = std::sregex_iterator(text.begin(), text.end(), pattern); it != std::sregex_iterator(); ++it)
        {
            const std::smatch& match = *it;
            const std::string found = match.size() > 1 && match[1].matched ? match[1].str() : match[0].str();
            if (!found.empty())
                id = found;
        }
    }
    catch (const std::regex_error&)
    {
    }
    return id;
}

void CRadioText::Add(const char* data, std::size_t size)
{
    if (m_first.size() < kRadioTextShown)
        m_first.append(data, std::min(size, kRadioTextShown - m_first.size()));
    if (size >= kRadioTextWindow)
        m_window.assign(data + size - kRadioTextWindow, kRadioTextWindow);
    else
    {
        m_window.append(data, size);
        if (m_window.size() > kRadioTextWindow)
            m_window.erase(0, m_window.size() - kRadioTextWindow);
    }
}

void CRadioText::Clear()
{
    m_first.clear();
    m_window.clear();
}

std::string CRadioText::Last(std::size_t bytes) const
{
    return m_window.size() <= bytes ? m_window : m_window.substr(m_window.size() - bytes);
}

RadioPatterns ReadRadioPatterns(std::vector<std::string>& warnings)
{
    RadioPatterns patterns;
    const auto pattern = [&warnings](const char* key, std::optional<std::regex>& compiled, std::string& text) {
        std::string value;
        bool cut = false;
        if (!ReadSettingUtf8(key, value, cut) || value.empty())
            return;
        if (cut)
        {
            warnings.push_back(std::string(key) + " is longer than a pattern may be; it is ignored");
            return;
        }
        const std::string why = CompilePattern(value, compiled);
        if (why.empty())
            text = value;
        else
            warnings.push_back(std::string(key) + "=" + value + " is not a regular expression (" + why +
                               "); it is ignored");
    };
    pattern("ConfirmPattern", patterns.confirm, patterns.confirmText);
    pattern("RadioIdPattern", patterns.radioId, patterns.radioIdText);
    std::string wait;
    if (ReadSettingRaw("ConfirmWait", wait) && wait.find_first_not_of(" \t") != std::string::npos)
    {
        const std::size_t begin = wait.find_first_not_of(" \t");
        const std::size_t end = wait.find_last_not_of(" \t");
        const std::string digits = wait.substr(begin, end - begin + 1);
        const bool whole = digits.size() <= 3 && digits.find_first_not_of("0123456789") == std::string::npos;
        const int seconds = whole ? std::stoi(digits) : 0;
        if (seconds >= 1 && seconds <= kMaxConfirmWaitSeconds)
            patterns.confirmWaitMs = static_cast<DWORD>(seconds) * 1000;
        else
            warnings.push_back("ConfirmWait=" + wait + " is not a whole number from 1 to " +
                               std::to_string(kMaxConfirmWaitSeconds) + "; the default 10 is taken");
    }
    return patterns;
}
