#include "cli/StationView.h"

#include "app/ProgressText.h"
#include "app/RadioText.h"

#include "cli/RadioView.h"
#include "cli/Report.h"
#include "platform/Text.h"

#include <algorithm>
#include <cstdio>
#include <ctime>

namespace
{
constexpr auto kRedrawEvery = std::chrono::milliseconds(100);

// 10:15:02, local time; callers hold the view's lock, as localtime's buffer is shared.
std::string ClockTime(std::chrono::system_clock::time_point t)
{
    const std::time_t seconds = std::chrono::system_clock::to_time_t(t);
    char text[16] = "--:--:--";
    if (const std::tm* local = std::localtime(&seconds))
        std::strftime(text, sizeof text, "%H:%M:%S", local);
    return text;
}

double SecondsSince(std::chrono::system_clock::time_point t)
{
    return std::chrono::duration<double>(std::chrono::system_clock::now() - t).count();
}
// What the operator does about a port whose radios keep failing.
std::string QuarantineText(const StationPortStatus& status)
{
    return "check the cable or fixture (" + std::to_string(status.failedInRow) +
           " radios failed in a row): press Enter to take it back, or unplug it and plug it in again";
}
} // namespace

std::string PortLabel(const WatchedPort& port)
{
    const std::string byPath = "/dev/serial/by-path/";
    if (port.key.rfind(byPath, 0) != 0)
        return port.key;
    // pci-0000:00:14.0-usb-0:2.4:1.0-port0 says the socket from "usb-" on.
    std::string label = port.key.substr(byPath.size());
    const std::size_t usb = label.find("usb-");
    if (usb != std::string::npos)
        label = label.substr(usb);
    const std::string device = WideToUtf8(port.device);
    return label + " " + device.substr(device.find_last_of('/') + 1);
}

CStationView::CStationView(std::ostream& err, std::ostream& out, Options options)
    : m_err(err), m_out(out), m_options(options)
{
    m_tally.start = std::chrono::system_clock::now();
}

std::string TallyText(const StationTally& tally)
{
    std::string text = std::to_string(tally.flashed) + " flashed, " + std::to_string(tally.failed) + " failed";
    if (tally.cancelled > 0)
        text += ", " + std::to_string(tally.cancelled) + " cancelled";
    if (tally.already > 0)
        text += ", " + std::to_string(tally.already) + " already flashed";
    return text;
}

namespace
{
// "KD7X-000042 was flashed at 10:12 on ttyUSB1", the day too when it was not today; callers hold
// the view's lock, as localtime's buffer is shared.
std::string RepeatText(const StationPortStatus& status)
{
    if (!status.flashedOn)
        return {};
    const std::time_t now = std::time(nullptr);
    const std::tm* local = std::localtime(&now);
    const int today = local != nullptr ? local->tm_year * 1000 + local->tm_yday : -1;
    const std::time_t at = std::chrono::system_clock::to_time_t(status.flashedAt);
    char when[32] = "--:--";
    if ((local = std::localtime(&at)) != nullptr)
        std::strftime(when, sizeof when, local->tm_year * 1000 + local->tm_yday == today ? "%H:%M" : "%Y-%m-%d %H:%M",
                      local);
    return TerminalText(status.radioId) + " was flashed at " + when + " on " +
           TerminalText(PortLabel(*status.flashedOn));
}
} // namespace

std::string CStationView::Paint(const std::string& text, bool ok) const
{
    if (!m_options.colour)
        return text;
    return (ok ? "\x1b[32m" : "\x1b[31m") + text + "\x1b[0m";
}

std::string CStationView::Header() const
{
    const double seconds = SecondsSince(m_tally.start);
    char rate[32];
    std::snprintf(rate, sizeof rate, "%.0f", seconds >= 1 ? m_tally.flashed * 3600.0 / seconds : 0.0);
    std::string text = "station: " + TallyText(m_tally) + ", " + std::string(rate) + " radios/h, running since " +
                       ClockTime(m_tally.start) + " (" + FormatClock(seconds) + ")";
    if (!m_tally.recordError.empty())
        text += Paint("; the record cannot be written: no new radio is taken", false);
    if (!m_tally.imageChanged.empty())
        text += Paint(
            "; " + TerminalText(m_tally.imageChanged) + " changed on disk: the image read at the start goes on", false);
    return text;
}

std::string CStationView::Line(const Row& row) const
{
    const StationPortStatus& s = row.status;
    std::string state;
    switch (s.state)
    {
    case PortState::Flashing:
    {
        std::string text;
        if (!s.step.empty() || s.image.empty())
            text = "flashing: " + (s.step.empty() ? std::string("the radio's menu seen") : s.step);
        else
        {
            text = "flashing " + TerminalText(s.image) + "  " +
                   std::to_string(s.bytes == 0 ? 100 : static_cast<long long>(s.done * 100 / s.bytes)) + "%";
            // A rate needs a moment of data before it means anything.
            if (s.seconds >= 1.0 && s.done > 0)
            {
                const double rate = static_cast<double>(s.done) / s.seconds;
                text += "  " + FormatRate(rate) + "  ETA " + FormatClock(static_cast<double>(s.bytes - s.done) / rate);
            }
        }
        if (s.resends > 0)
            text += "  " + std::to_string(s.resends) + (s.resends == 1 ? " resend" : " resends");
        if (!s.radioId.empty())
            text = TerminalText(s.radioId) + " " + text;
        if (s.flashedOn)
            text += Paint(" (" + RepeatText(s) + ")", false);
        return text;
    }
    case PortState::Waiting:
        state = row.last.empty() ? "waiting for a radio since " + ClockTime(s.since) : "waiting for the next radio";
        break;
    case PortState::Settling:
        state = s.menuAgain ? Paint("the radio still shows its menu: unplug it", false) : "waiting for it to leave";
        break;
    case PortState::Absent: state = "not plugged in since " + ClockTime(s.since); break;
    case PortState::CannotOpen:
        state = Paint("cannot open since " + ClockTime(s.since) + ": " + TerminalText(s.reason), false);
        break;
    case PortState::Quarantined:
        // What the operator must do comes first, before a long last outcome is cut at the edge.
        return Paint(QuarantineText(s), false) + (row.last.empty() ? "" : "; " + Paint(row.last, row.lastOk));
    case PortState::Gone: state = "stopped"; break;
    }
    return row.last.empty() ? state : Paint(row.last, row.lastOk) + "; " + state;
}

void CStationView::Above(const std::string& text)
{
    if (m_options.redraw)
        m_block.Erase(m_err);
    m_err << text << "\n";
    if (m_options.redraw)
        Redraw(true);
    m_err << std::flush;
}

void CStationView::Redraw(bool now)
{
    if (!m_options.redraw || m_options.quiet)
        return;
    const auto t = Clock::now();
    if (!now && m_block.Drawn() && t - m_drawnAt < kRedrawEvery)
        return;
    std::size_t width = 0;
    for (const auto& entry : m_rows)
        width = std::max(width, entry.second.label.size());
    std::vector<std::string> lines{Header()};
    for (const auto& entry : m_rows)
    {
        std::string label = entry.second.label;
        label.resize(width, ' ');
        lines.push_back(label + "  " + Line(entry.second));
    }
    m_block.Draw(m_err, lines, m_options.columns);
    m_drawnAt = t;
}

void CStationView::OnPort(const StationPortStatus& status)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const bool known = m_rows.count(status.port.key) != 0;
    Row& row = m_rows[status.port.key];
    if (!known)
        row.label = TerminalText(PortLabel(status.port));
    const PortState before = row.status.state;
    bool changed = !known || before != status.state || row.status.menuAgain != status.menuAgain;
    if (status.state == PortState::Flashing && (before != PortState::Flashing || !known))
        row.last.clear(); // the next radio has come
    row.status = status;
    if (!m_options.redraw && changed && !m_options.quiet)
    {
        std::string text;
        switch (status.state)
        {
        case PortState::Waiting: text = "waiting for a radio"; break;
        case PortState::Flashing:
            text = "a radio's menu: flashing" + (status.radioId.empty() ? "" : " " + status.radioId) +
                   (status.flashedOn ? " (" + RepeatText(status) + ")" : "");
            break;
        case PortState::Settling: text = status.menuAgain ? "the radio still shows its menu: unplug it" : ""; break;
        case PortState::Absent: text = "not plugged in"; break;
        case PortState::CannotOpen: text = "cannot open: " + status.reason; break;
        case PortState::Quarantined: text = QuarantineText(status); break;
        case PortState::Gone: text = "stopped"; break;
        }
        // The ID and a repeat come once the menu was read: said again with them.
        if (status.state == PortState::Flashing && !status.radioId.empty())
            changed = true;
        if (!text.empty() && text != row.printed)
        {
            row.printed = text;
            m_err << ClockTime(status.since) << " [" << row.label << "] " << TerminalText(text) << std::endl;
        }
    }
    // A port that rests is said above the lines too, whole.
    if (m_options.redraw && changed && status.state == PortState::Quarantined && before != PortState::Quarantined)
        Above(ClockTime(status.since) + " [" + row.label + "] " + Paint(QuarantineText(status), false));
    // An unplugged port's line goes with it.
    if (status.state == PortState::Gone && before == PortState::Absent)
        m_rows.erase(status.port.key);
    Redraw(changed);
}

void CStationView::OnRadio(const StationRadio& radio, const StationTally& tally)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_tally = tally;
    if (m_options.json)
        m_out << radio.record << "\n" << std::flush;
    Row& row = m_rows[radio.port.key];
    if (row.label.empty())
        row.label = TerminalText(PortLabel(radio.port));
    RadioReport report;
    report.result = radio.result;
    const bool already = radio.result.outcome == UpgradeOutcome::AlreadyFlashed;
    const bool ok = radio.outcome == ExitName(kExitSuccess) || already;
    const int resends = radio.result.resends;
    const std::string outcome =
        TerminalText(OutcomeLine(report) + WhereText(radio.result)) +
        (resends > 0 ? " (" + std::to_string(resends) + (resends == 1 ? " resend)" : " resends)") : "");
    row.lastOk = ok;
    row.last = (already                  ? "not flashed again"
                : ok                     ? "done in " + FormatClock(radio.seconds)
                : radio.result.cancelled ? "STOPPED"
                                         : "FAILED") +
               " at " + ClockTime(radio.end) + (ok ? "" : ": " + outcome);
    const std::string id =
        radio.result.radioId ? " (" + TerminalText(EscapeRadioText(*radio.result.radioId)) + ")" : std::string();
    std::string line = ClockTime(radio.end) + " [" + row.label + "] radio " + std::to_string(radio.number) + id + " " +
                       (already                  ? std::string("not flashed again")
                        : ok                     ? "done in " + FormatClock(radio.seconds)
                        : radio.result.cancelled ? std::string("stopped")
                                                 : std::string("failed")) +
                       ": " + outcome;
    if (!m_options.redraw)
        line += " (" + TallyText(tally) + ")";
    Above(Paint(line, ok));
}

void CStationView::OnNote(const std::string& text)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    Above(ClockTime(std::chrono::system_clock::now()) + " " + TerminalText(text));
}

void CStationView::OnTick(const StationTally& tally)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_tally = tally;
    Redraw(false);
}

void CStationView::Close()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_block.Drawn())
        Redraw(true);
    m_block.Leave();
    m_err << std::flush;
}
