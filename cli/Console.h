// What kd7x-update writes on stderr while radios are flashed: on a terminal one line per radio,
// redrawn in place; otherwise plain lines, prefixed with the port when there are several radios.
#pragma once

#include <chrono>
#include <mutex>
#include <ostream>
#include <string>
#include <vector>

// Text as a terminal may show it: CR and LF as \r and \n, every other control character as a dot,
// so neither a path nor what a radio sends can move the cursor or change the terminal.
std::string TerminalText(const std::string& text);

// Lines at the bottom of a terminal, redrawn in place, each cut to the terminal's width.
class CScreenBlock
{
public:
    void Draw(std::ostream& out, const std::vector<std::string>& lines, int columns);
    void Erase(std::ostream& out);
    bool Drawn() const { return m_drawn > 0; }
    // The lines stay as they are; what follows goes below them.
    void Leave() { m_drawn = 0; }

private:
    std::size_t m_drawn = 0; // lines on screen below the cursor's line
};

class CConsole
{
public:
    struct Options
    {
        bool redraw = false; // a terminal that takes escape sequences
        bool quiet = false;  // nothing at all
        int columns = 80;    // a redrawn line is cut to this
    };
    // One label per radio; with one radio the lines carry none.
    CConsole(std::ostream& out, Options options, std::vector<std::string> labels);
    CConsole(const CConsole&) = delete;
    CConsole& operator=(const CConsole&) = delete;

    // The radio's progress: redrawn at most ten times a second on a terminal, printed at most once
    // a second otherwise; now shows it at once (a new stage, the end of an image).
    void Progress(std::size_t radio, const std::string& text, bool now);
    // A line of its own, kept above the progress lines.
    void Line(std::size_t radio, const std::string& text);
    // A line about no radio in particular.
    void Note(const std::string& text);
    // The progress lines stay as they are; what follows goes below them.
    void Close();

private:
    using Clock = std::chrono::steady_clock;
    std::string Prefixed(std::size_t radio, const std::string& text) const;
    void Redraw();
    void Erase();

    std::ostream& m_out;
    Options m_options;
    std::vector<std::string> m_labels;
    std::vector<std::string> m_progress;
    std::vector<Clock::time_point> m_shown;
    Clock::time_point m_drawnAt{};
    CScreenBlock m_block;
    std::mutex m_mutex;
};
