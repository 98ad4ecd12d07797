#include "app/StationBoard.h"

#include "app/Outcome.h"
#include "app/ProgressText.h"
#include "app/RadioText.h"
#include "platform/Digest.h"
#include "platform/Text.h"

#include <cstdio>
#include <cstdlib>
#include <ctime>

namespace
{
using WallClock = std::chrono::system_clock;

int PortNumber(const std::string& port)
{
    return port.size() > 3 && port.compare(0, 3, "COM") == 0 ? std::atoi(port.c_str() + 3) : 0;
}

// "unable to write to host at block 6 (serial port: the device has gone)".
std::string Reason(const UpgradeResult& result)
{
    std::string text = WideToUtf8(DescribeOutcome(result));
    if (result.stage == UpgradeStage::Block)
        text += " at block " + std::to_string(result.block);
    else if (result.stage != UpgradeStage::None)
        text += " at " + std::string(ToString(result.stage));
    if (!result.detail.empty())
        text += " (" + std::string(result.portGone ? "serial port: " : "") + WideToUtf8(result.detail) + ")";
    return text;
}

std::string Count(const char* label, int n) { return std::string(label) + ": " + std::to_string(n); }
} // namespace

std::string LocalClockText(WallClock::time_point t)
{
    const std::time_t seconds = WallClock::to_time_t(t);
    char text[16] = "--:--:--";
    // The window's thread alone asks, so localtime's shared buffer is safe here.
    if (const std::tm* local = std::localtime(&seconds))
        std::strftime(text, sizeof text, "%H:%M:%S", local);
    return text;
}

std::string ImagesText(const std::vector<UpgradeImage>& images)
{
    std::string text;
    for (const auto& image : images)
        text += (text.empty() ? "" : "; ") + WideToUtf8(BaseNameOf(image.path)) + ", " +
                std::to_string(image.bytes->size()) + " bytes, SHA-256 " +
                Sha256Hex(image.bytes->data(), image.bytes->size()).substr(0, 12);
    return text;
}

bool PortBefore(const std::string& a, const std::string& b)
{
    const int x = PortNumber(a);
    const int y = PortNumber(b);
    return x != y ? x < y : a < b;
}

void CStationBoard::Start(WallClock::time_point start, std::string recordPath, const std::vector<std::string>& named)
{
    m_slots.clear();
    for (const auto& port : named)
    {
        Slot& slot = m_slots[port];
        slot.status.port.key = port;
        slot.named = true;
    }
    m_tally = StationTally{};
    m_tally.start = start;
    m_recordPath = std::move(recordPath);
    m_report = CRecordReport{};
    m_yield.reset();
    m_rows.clear();
    m_note.clear();
}

void CStationBoard::Port(const StationPortStatus& status)
{
    Slot& slot = m_slots[status.port.key];
    const PortState before = slot.status.state;
    // A new radio, or the port gone: the radio that ended is no longer on it.
    if ((status.state == PortState::Flashing && before != PortState::Flashing) || status.state == PortState::Absent)
        slot.holding = false;
    // An unplugged port of every USB serial port goes with its tile; a named one stays.
    if (status.state == PortState::Gone && before == PortState::Absent && !slot.named)
    {
        m_slots.erase(status.port.key);
        return;
    }
    slot.status = status;
}

StationSound CStationBoard::Radio(const StationRadio& radio, const StationTally& tally)
{
    m_tally = tally;
    const auto json = nlohmann::json::parse(radio.record, nullptr, false);
    RecordLine line;
    line.number = m_rows.size() + 1;
    line.json = json.is_object() ? &json : nullptr;
    m_report.Add(line);
    m_yield = m_report.Result().firstPassYield;

    const bool already = radio.result.outcome == UpgradeOutcome::AlreadyFlashed;
    const bool ok = RunExitCode(radio.result, 0) == kExitSuccess;
    const bool cancelled = !ok && radio.result.cancelled;
    const std::string at = " at " + m_clock(radio.end);
    StationRow row;
    row.time = m_clock(radio.end);
    row.port = radio.port.key;
    row.radioId = radio.result.radioId ? EscapeRadioText(*radio.result.radioId) : std::string();
    row.duration = FormatClock(radio.seconds);
    row.ok = ok;

    Slot& slot = m_slots[radio.port.key];
    slot.holding = true;
    if (already)
    {
        row.outcome = "not flashed again";
        slot.last = "not flashed again" + at + ": " + WideToUtf8(radio.result.message);
        slot.lastState = "flashed before";
        slot.lastDetail = "unplug it";
        slot.lastColour = TileColour::Done;
    }
    else if (ok)
    {
        const bool confirmed = radio.result.confirmed.value_or(false);
        row.outcome = confirmed ? "done, confirmed" : "done";
        slot.last = "done in " + row.duration + at + (confirmed ? ", confirmed by the radio" : "");
        slot.lastState = "done";
        slot.lastDetail = "unplug it";
        slot.lastColour = TileColour::Done;
    }
    else if (cancelled)
    {
        row.outcome = "stopped: it needs a new upgrade";
        slot.last = "stopped" + at + ": it needs a new upgrade";
        slot.lastState = "stopped";
        slot.lastDetail = "it needs a new upgrade";
        slot.lastColour = TileColour::Failed;
    }
    else
    {
        const std::string why = Reason(radio.result);
        row.outcome = "failed: " + why;
        slot.last = "failed" + at + ": " + why;
        slot.lastState = "failed";
        slot.lastDetail = why;
        slot.lastColour = TileColour::Failed;
    }
    m_rows.push_front(std::move(row));
    if (m_rows.size() > kStationRows)
        m_rows.pop_back();
    return already || ok ? StationSound::Done : cancelled ? StationSound::None : StationSound::Failed;
}

void CStationBoard::Tally(const StationTally& tally) { m_tally = tally; }

void CStationBoard::Note(const std::string& text) { m_note = m_clock(WallClock::now()) + "  " + text; }

bool CStationBoard::Flashing() const
{
    for (const auto& entry : m_slots)
        if (entry.second.status.state == PortState::Flashing)
            return true;
    return false;
}

StationTile CStationBoard::Tile(const Slot& slot) const
{
    const StationPortStatus& s = slot.status;
    StationTile tile;
    tile.port = s.port.key;
    tile.radioId = s.radioId;
    tile.last = slot.last;
    const auto set = [&tile](const char* state, std::string detail, TileColour colour) {
        tile.state = state;
        tile.detail = std::move(detail);
        tile.colour = colour;
    };
    switch (s.state)
    {
    case PortState::Flashing:
    {
        std::string detail = !s.step.empty() ? s.step : s.image.empty() ? "the radio's menu seen" : s.image;
        if (s.resends > 0)
            detail += ", " + std::to_string(s.resends) + (s.resends == 1 ? " resend" : " resends");
        if (s.flashedOn)
            detail += " (flashed before, at " + m_clock(s.flashedAt) + " on " + s.flashedOn->key + ")";
        set("flashing", detail, TileColour::Flashing);
        // Between the images and after the last, the bar stays where the image before left it.
        tile.percent = s.bytes > 0 ? static_cast<int>(s.done * 100 / s.bytes) : 0;
        return tile;
    }
    case PortState::Quarantined:
        set("check cable",
            "check the cable or fixture (" +
                (s.failedInRow == 1 ? std::string("its last radio failed")
                                    : std::to_string(s.failedInRow) + " radios failed in a row") +
                "); click or press Space to take it back",
            TileColour::Failed);
        tile.releasable = true;
        return tile;
    case PortState::Settling:
        if (s.menuAgain)
        {
            set("unplug it", "the radio still shows its menu", TileColour::Attention);
            return tile;
        }
        break;
    case PortState::Waiting: break;
    case PortState::CannotOpen: set("cannot open", s.reason, TileColour::Attention); return tile;
    case PortState::Absent: set("not plugged in", "", TileColour::Dim); return tile;
    case PortState::Gone: set("stopped", "", TileColour::Dim); return tile;
    }
    if (slot.holding)
        set(slot.lastState.c_str(), slot.lastDetail, slot.lastColour);
    else
        set("waiting", s.state == PortState::Settling ? "for the radio to leave" : "put a radio on",
            TileColour::Neutral);
    return tile;
}

std::vector<StationTile> CStationBoard::Tiles() const
{
    std::vector<StationTile> tiles;
    for (const auto& entry : m_slots)
        tiles.push_back(Tile(entry.second));
    return tiles;
}

StationTallies CStationBoard::Tallies(WallClock::time_point now) const
{
    const StationTally& t = m_tally;
    StationTallies out;
    out.flashed = Count("Flashed", t.flashed) +
                  (t.already > 0 ? " (" + std::to_string(t.already) + " not flashed again)" : std::string());
    out.failed =
        Count("Failed", t.failed) + (t.cancelled > 0 ? ", " + std::to_string(t.cancelled) + " stopped" : std::string());
    char yield[64] = "First-pass yield: -";
    if (m_yield)
        std::snprintf(yield, sizeof yield, "First-pass yield: %.1f %%", *m_yield * 100.0);
    out.yield = yield;
    const double seconds = std::chrono::duration<double>(now - t.start).count();
    char rate[32];
    std::snprintf(rate, sizeof rate, "%.0f radios/h", seconds >= 1 ? t.flashed * 3600.0 / seconds : 0.0);
    out.perHour = rate;
    out.since = "Running since " + m_clock(t.start) + " (" + FormatClock(seconds) + ")";
    out.recordFailed = !t.recordError.empty();
    out.record = "Record: " + m_recordPath +
                 (out.recordFailed ? " cannot be written (" + t.recordError + "): no new radio is taken" : "");
    if (!t.imageChanged.empty())
        out.imageChanged = t.imageChanged + " changed on disk: the image read at the start goes on";
    return out;
}

void CStationInbox::Add(Event event)
{
    bool first = false;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        first = !m_woken;
        m_woken = true;
        m_events.push_back(std::move(event));
    }
    // A wake-up that could not be posted (a full message queue) is tried again with the next event.
    if (first && !m_wake())
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_woken = false;
    }
}

void CStationInbox::OnPort(const StationPortStatus& status) { Add(status); }
void CStationInbox::OnRadio(const StationRadio& radio, const StationTally& tally) { Add(RadioEvent{radio, tally}); }
void CStationInbox::OnNote(const std::string& text) { Add(text); }
void CStationInbox::OnTick(const StationTally& tally) { Add(tally); }

std::vector<StationSound> CStationInbox::Drain(CStationBoard& board)
{
    std::vector<Event> events;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        events.swap(m_events);
        m_woken = false;
    }
    std::vector<StationSound> sounds;
    for (const auto& event : events)
    {
        if (const auto* port = std::get_if<StationPortStatus>(&event))
            board.Port(*port);
        else if (const auto* radio = std::get_if<RadioEvent>(&event))
            sounds.push_back(board.Radio(radio->radio, radio->tally));
        else if (const auto* note = std::get_if<std::string>(&event))
            board.Note(*note);
        else
            board.Tally(std::get<StationTally>(event));
    }
    return sounds;
}
