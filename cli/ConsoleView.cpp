#include "cli/ConsoleView.h"

#include "app/ProgressText.h"
#include "app/UpgradeRun.h"
#include "engine/Kd7v001YmodemControl.h"
#include "platform/Text.h"

#include <algorithm>

namespace
{
std::string Printable(const std::vector<char>& bytes)
{
    std::string text;
    for (char c : bytes)
    {
        if (c == '\r')
            text += "\\r";
        else if (c == '\n')
            text += "\\n";
        else if (static_cast<unsigned char>(c) < 0x20)
            text += '.';
        else
            text += c;
    }
    return text;
}
} // namespace

CConsoleView::CConsoleView(std::ostream& out, bool terminal, bool verbose, const std::atomic<bool>& cancel)
    : m_out(out), m_terminal(terminal), m_verbose(verbose), m_cancel(cancel)
{
}

void CConsoleView::Line(const std::string& text)
{
    if (m_lineOpen)
        m_out << "\n"; // the progress line stays as it ended
    m_lineOpen = false;
    m_out << text << "\n" << std::flush;
}

void CConsoleView::OnTraceText(const std::vector<char>& bytes)
{
    if (m_verbose && !bytes.empty())
        Line("  rx: " + Printable(bytes));
}

void CConsoleView::OnTraceHex(const std::vector<char>& bytes)
{
    if (m_verbose)
        Line("  rx hex: " + (bytes.empty() ? std::string("(nothing)") : FormatHex(bytes)));
}

std::string CConsoleView::WritingLine(int done, int total, bool bar) const
{
    const int percent = total > 0 ? static_cast<int>(static_cast<long long>(done) * 100 / total) : 0;
    // Data bytes of the blocks before the one going out now.
    const long long blocksBefore = std::clamp(done - 2, 0, std::max(total - 2, 0));
    const std::size_t sent = done >= total
                                 ? m_imageBytes
                                 : std::min<std::size_t>(m_imageBytes, static_cast<std::size_t>(blocksBefore) * 1024);
    std::string line = WideToNarrow(FormatProgressText(kCaptionWriting, done, total, true));
    if (bar)
    {
        const int width = 30;
        const int filled = percent * width / 100;
        line = "writing data [" + std::string(static_cast<std::size_t>(filled), '#') +
               std::string(static_cast<std::size_t>(width - filled), '.') + "] " + std::to_string(percent) + "%";
    }
    return line + "  " + std::to_string(sent) + "/" + std::to_string(m_imageBytes) + " bytes";
}

bool CConsoleView::OnProgress(const std::wstring& caption, int done, int total, bool percent)
{
    const bool writing = percent && caption == kCaptionWriting;
    const std::string text = writing ? WritingLine(done, total, m_terminal)
                                     : WideToNarrow(FormatProgressText(caption, done, total, percent));
    if (text != m_last)
    {
        m_last = text;
        if (m_terminal && !m_verbose)
        {
            // A new caption gets a line of its own; the finished one stays on screen.
            if (m_lineOpen && caption != m_lastCaption)
                m_out << "\n";
            m_out << "\r\x1b[K" << text << std::flush;
            m_lineOpen = true;
            m_lastCaption = caption;
        }
        else
        {
            // Plain output: a line per listening pass ten, per tenth of an image, per command.
            const int pct = total > 0 ? static_cast<int>(static_cast<long long>(done) * 100 / total) : 0;
            const bool listen = caption == kCaptionListen;
            if (writing ? (pct / 10 != m_lastPercent / 10 || done == total) : (!listen || done % 10 == 0 || done < 0))
                Line(text);
            if (writing)
                m_lastPercent = pct;
        }
    }
    return m_cancel.load();
}

void CConsoleView::OnImageStart(int image, const std::wstring& path, int frames, std::size_t bytes)
{
    m_imageBytes = bytes;
    m_lastPercent = -1;
    Line(std::string(image == kImageApp ? "application image " : "RCDB image ") + WideToNarrow(path) + " (" +
         std::to_string(bytes) + " bytes, " + std::to_string(frames) + " frames)");
}

bool CConsoleView::OnWriteProgress(int, int) { return false; }

void CConsoleView::OnProgressEnd()
{
    if (m_lineOpen)
        m_out << "\n" << std::flush;
    m_lineOpen = false;
}

// The outcome is printed once the run has returned, with its exit code.
void CConsoleView::ShowOutcome(const UpgradeResult&) { OnProgressEnd(); }
