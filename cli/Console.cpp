#include "cli/Console.h"

#include <algorithm>

namespace
{
constexpr auto kRedrawEvery = std::chrono::milliseconds(100);
constexpr auto kPlainEvery = std::chrono::seconds(1);
} // namespace

namespace
{
// The length of the UTF-8 character at text[at], 0 when the bytes there are none.
std::size_t Utf8Length(const std::string& text, std::size_t at)
{
    const auto b = static_cast<unsigned char>(text[at]);
    const std::size_t n = b >= 0xF0 && b <= 0xF4 ? 4 : b >= 0xE0 ? 3 : b >= 0xC2 && b < 0xE0 ? 2 : 0;
    if (n == 0 || at + n > text.size())
        return 0;
    for (std::size_t i = 1; i < n; ++i)
        if ((static_cast<unsigned char>(text[at + i]) & 0xC0) != 0x80)
            return 0;
    return n;
}
} // namespace

std::string TerminalText(const std::string& text)
{
    std::string shown;
    shown.reserve(text.size());
    for (std::size_t at = 0; at < text.size();)
    {
        const char c = text[at];
        const auto b = static_cast<unsigned char>(c);
        if (b < 0x80)
        {
            shown += c == '\r' ? "\\r" : c == '\n' ? "\\n" : b < 0x20 || b == 0x7F ? "." : std::string(1, c);
            ++at;
            continue;
        }
        // A byte that is no UTF-8, and the C1 controls (U+0080 to U+009F), would reach the
        // terminal as control sequences too.
        const std::size_t n = Utf8Length(text, at);
        const bool control = n == 2 && b == 0xC2 && static_cast<unsigned char>(text[at + 1]) < 0xA0;
        shown += n == 0 || control ? std::string(".") : text.substr(at, n);
        at += n == 0 ? 1 : n;
    }
    return shown;
}

CConsole::CConsole(std::ostream& out, Options options, std::vector<std::string> labels)
    : m_out(out), m_options(options), m_labels(std::move(labels)), m_progress(m_labels.size()), m_shown(m_labels.size())
{
    for (auto& label : m_labels)
        label = TerminalText(label);
}

std::string CConsole::Prefixed(std::size_t radio, const std::string& text) const
{
    if (m_labels.size() < 2)
        return text;
    if (m_options.redraw)
    {
        std::string label = m_labels[radio];
        std::size_t width = 0;
        for (const auto& l : m_labels)
            width = std::max(width, l.size());
        label.resize(width, ' ');
        return label + "  " + text;
    }
    return "[" + m_labels[radio] + "] " + text;
}

void CScreenBlock::Erase(std::ostream& out)
{
    if (m_drawn > 0)
        out << "\x1b[" << m_drawn << "A";
    for (std::size_t i = 0; i < m_drawn; ++i)
        out << "\r\x1b[K\n";
    if (m_drawn > 0)
        out << "\x1b[" << m_drawn << "A";
    m_drawn = 0;
}

void CScreenBlock::Draw(std::ostream& out, const std::vector<std::string>& lines, int columns)
{
    if (m_drawn > lines.size())
        Erase(out); // fewer lines than before: none may stay behind
    if (m_drawn > 0)
        out << "\x1b[" << m_drawn << "A";
    const auto width = static_cast<std::size_t>(std::max(columns - 1, 10));
    for (std::string line : lines)
    {
        // Cut to the terminal by characters, never inside one nor inside a colour's escape sequence.
        std::size_t shown = 0;
        std::size_t at = 0;
        while (at < line.size())
        {
            if (line[at] == '\x1b')
            {
                const std::size_t end = line.find('m', at);
                at = end == std::string::npos ? line.size() : end + 1;
                continue;
            }
            if ((static_cast<unsigned char>(line[at]) & 0xC0) != 0x80 && shown++ == width)
                break;
            ++at;
        }
        const bool coloured = line.find('\x1b') != std::string::npos;
        line.resize(at);
        out << "\r\x1b[K" << line << (coloured ? "\x1b[0m" : "") << "\n";
    }
    m_drawn = lines.size();
    out << std::flush;
}

void CConsole::Erase() { m_block.Erase(m_out); }

void CConsole::Redraw()
{
    std::vector<std::string> lines;
    for (std::size_t i = 0; i < m_progress.size(); ++i)
        lines.push_back(Prefixed(i, m_progress[i]));
    m_block.Draw(m_out, lines, m_options.columns);
    m_drawnAt = Clock::now();
}

void CConsole::Progress(std::size_t radio, const std::string& raw, bool now)
{
    const std::string text = TerminalText(raw);
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_options.quiet || radio >= m_progress.size() || text == m_progress[radio])
        return;
    m_progress[radio] = text;
    const auto t = Clock::now();
    if (m_options.redraw)
    {
        if (now || !m_block.Drawn() || t - m_drawnAt >= kRedrawEvery)
            Redraw();
        return;
    }
    if (now || t - m_shown[radio] >= kPlainEvery)
    {
        m_shown[radio] = t;
        m_out << Prefixed(radio, text) << "\n" << std::flush;
    }
}

void CConsole::Line(std::size_t radio, const std::string& raw)
{
    const std::string text = TerminalText(raw);
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_options.quiet)
        return;
    if (!m_options.redraw)
    {
        m_out << Prefixed(radio, text) << "\n" << std::flush;
        return;
    }
    const bool drawn = m_block.Drawn();
    Erase();
    std::string line = m_labels.size() < 2 ? text : "[" + m_labels[radio] + "] " + text;
    m_out << line << "\n";
    if (drawn)
        Redraw();
    else
        m_out << std::flush;
}

void CConsole::Note(const std::string& text)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_options.quiet)
        return;
    const bool drawn = m_block.Drawn();
    if (m_options.redraw)
        Erase();
    m_out << TerminalText(text) << "\n";
    if (drawn)
        Redraw();
    m_out << std::flush;
}

void CConsole::Close()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_options.quiet)
        return;
    if (m_options.redraw && m_block.Drawn())
        Redraw(); // the last state of every radio, in full
    m_block.Leave();
    m_out << std::flush;
}
