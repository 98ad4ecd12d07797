// The station as kd7x-update shows it on stderr. On a terminal: the tallies, then one line per port
// redrawn in place, each radio's outcome kept on the port's line until the next radio starts and
// written above the lines for good. Otherwise one plain line per event. With --json, each radio's
// record line also goes to stdout.
#pragma once

#include "app/Station.h"
#include "cli/Console.h"

#include <chrono>
#include <map>
#include <mutex>
#include <ostream>
#include <string>

// How a port is named on its line: the hub socket of a by-path name, and its device.
std::string PortLabel(const WatchedPort& port);
// "6 flashed, 2 failed", and the cancelled ones when there are any.
std::string TallyText(const StationTally& tally);

class CStationView : public IStationView
{
public:
    struct Options
    {
        bool redraw = false; // a terminal that takes escape sequences
        bool colour = false;
        bool quiet = false; // the radios' outcomes only
        bool json = false;  // the records on stdout
        int columns = 80;
    };
    CStationView(std::ostream& err, std::ostream& out, Options options);
    CStationView(const CStationView&) = delete;
    CStationView& operator=(const CStationView&) = delete;

    void OnPort(const StationPortStatus& status) override;
    void OnRadio(const StationRadio& radio, const StationTally& tally) override;
    void OnNote(const std::string& text) override;
    void OnTick(const StationTally& tally) override;
    // The last state of every port stays on the screen; what follows goes below.
    void Close();

private:
    using Clock = std::chrono::steady_clock;
    struct Row
    {
        StationPortStatus status;
        std::string label;
        std::string last; // the last radio's outcome, until the next one starts
        bool lastOk = false;
        std::string printed; // piped: the last event line, so each is said once
    };

    std::string Header() const;
    std::string Line(const Row& row) const;
    std::string Paint(const std::string& text, bool ok) const;
    // A line of its own, kept above the port lines.
    void Above(const std::string& text);
    void Redraw(bool now);

    std::ostream& m_err;
    std::ostream& m_out;
    Options m_options;
    std::map<std::string, Row> m_rows; // by key, so the lines keep their order
    StationTally m_tally;
    CScreenBlock m_block;
    Clock::time_point m_drawnAt{};
    std::mutex m_mutex;
};
