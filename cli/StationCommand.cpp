// kd7x-update --station: a bench of ports that flashes every radio put on it, all day, with a
// record of each radio.
#include "app/Station.h"
#include "cli/Command.h"
#include "cli/StationView.h"
#include "cli/Tuning.h"
#include "config/Settings.h"
#include "config/Logger.h"
#include "platform/Text.h"

#include <spdlog/spdlog.h>
#include "serial/PortWatcher.h"

#include <algorithm>
#include <cstdlib>
#include <iostream>
#include <random>
#include <set>
#include <thread>

namespace
{
// --simulate --station: the radios in turn on up to four ports. The second port is unplugged and
// plugged back between its radios; the third and the fourth have a faulty radio each, one that
// falls silent and one that vanishes with its port.
std::vector<SimulatedPort> BenchLayout(int radios)
{
    const int ports = std::min(4, radios);
    std::vector<SimulatedPort> bench(static_cast<std::size_t>(ports));
    for (int i = 0; i < ports; ++i)
    {
        SimulatedPort& port = bench[static_cast<std::size_t>(i)];
        port.radios = radios / ports + (i < radios % ports ? 1 : 0);
        port.hotplug = i == 1;
        port.faultShare = i >= 2 ? 1.0 / port.radios : 0.0;
        port.vanish = i == 3;
    }
    return bench;
}

std::string Plural(int n, const char* one, const char* many) { return std::to_string(n) + " " + (n == 1 ? one : many); }

// [Station] Quarantine of the settings file, checked as the tuning keys are; 3 without it.
long long QuarantineSetting(CliOptions& options)
{
    std::string raw;
    long long value = 3;
    if (ReadSectionRaw("Station", "Quarantine", raw) && !raw.empty() && !ParseWhole(raw, 0, 1000, value))
    {
        Warn(options, "Quarantine=" + raw + " of [Station] is not a whole number from 0 to 1000; 3 is taken");
        value = 3;
    }
    return value;
}
} // namespace

int StationCommand(CliOptions& options)
{
    // Static: the stop handler may still write to it as the program ends.
    static std::atomic<int> stops{0};
    // Ctrl-C: no new radios; again: the radios being flashed stop; a third time: at once.
    InstallStopCounter(stops, 2);
    if (options.simulate && !options.ports.empty())
        return Refuse(options, kExitUsage, "usage_error",
                      "--simulate --station plays a bench of simulated radios: leave out --port");
    if (options.waitGiven)
        Warn(options, "--wait does not end a station: a quiet port simply waits for its next radio");
    FlashSetUp setUp;
    if (const int refused = SetUpFlash(options, setUp); refused >= 0)
        return refused;
    std::error_code ec;
    std::filesystem::path benchFolder;
    const auto removeTemporary = [&] {
        for (const auto* folder : {&setUp.sampleFolder, &benchFolder})
            if (!folder->empty())
                std::filesystem::remove_all(*folder, ec);
    };

    StationOptions station;
    station.request = setUp.base;
    station.request.waitMs = 0;
    station.makePort = MakeSerialPort;
    station.settleMs = static_cast<DWORD>(options.settleSeconds * 1000);
    station.count = options.count;
    station.once = options.once;
    station.recordPath = options.noRecord ? std::wstring() : setUp.files.record;
    station.version = kVersion;
    station.stationId = options.stationId;
    station.operatorName = options.operatorName;
    station.quarantine = static_cast<int>(options.quarantine >= 0 ? options.quarantine : QuarantineSetting(options));
    // Enter takes back every port that rests after failing radios.
    static CPortReleases releases;
    station.releases = &releases;
    if (station.quarantine > 0)
        std::thread([] {
            for (std::string line; std::getline(std::cin, line);)
                releases.ReleaseAll();
        }).detach();
    std::unique_ptr<IPortWatcher> watcher;
    std::unique_ptr<ISimulatedRadios> simulated;
    std::string where;
    if (options.simulate)
    {
        benchFolder =
            std::filesystem::temp_directory_path(ec) / ("kd7x-station-" + std::to_string(std::random_device{}()));
        std::filesystem::create_directories(benchFolder, ec);
        std::string error;
        // Each radio comes a second after the settle time of the one before.
        simulated = StartSimulatedBench(BenchLayout(options.radios), static_cast<long>(station.settleMs) + 1000,
                                        benchFolder.string(), error);
        if (!simulated)
        {
            removeTemporary();
            return RefuseSimulation(options, error);
        }
        for (const auto& device : simulated->Devices())
            station.named.push_back({WideToUtf8(BaseNameOf(device)), device, {}, {}});
        station.radioLimit = options.radios;
        where = Plural(options.radios, "simulated radio", "simulated radios") + " in turn on " +
                Plural(static_cast<int>(station.named.size()), "port", "ports");
    }
    else
    {
        std::set<std::string> devices;
        UpgradeRequest saved = setUp.base;
        for (const auto& port : options.ports)
        {
            if (port == "auto")
            {
                watcher = MakeUsbPortWatcher();
                continue;
            }
            const PortChoice choice = ResolvePort(port);
            if (!choice.error.empty())
                return Refuse(options, kExitUsage, "usage_error", choice.error);
            if (!devices.insert(DeviceIdentity(choice.device)).second)
                continue;
            station.named.push_back({port, choice.device, {}, {}});
            if (saved.portSetting.empty())
                saved.portSetting = choice.setting;
            where += (where.empty() ? "" : ", ") + port;
        }
        if (watcher)
            where += (where.empty() ? "" : " and ") + std::string("every USB serial port");
        station.watcher = watcher.get();
        const std::string settingsError = SaveRunSettings(saved);
        if (!settingsError.empty())
            if (!options.settingsUnreadable)
                Warn(options, "settings not saved (" + settingsError + ")");
    }

    CStationView::Options look;
    look.redraw = StderrIsTerminal();
    look.colour = look.redraw && std::getenv("NO_COLOR") == nullptr;
    look.quiet = options.quiet;
    look.json = options.json;
    look.columns = TerminalColumns();
    const std::string recorded = station.recordPath.empty()
                                     ? std::string("no record is kept (--no-record)")
                                     : "each radio is recorded in " + WideToUtf8(station.recordPath);
    Note(options, "station " + options.stationId + ": " + where + "; " + recorded + "; a radio is done " +
                      "once quiet for " + Plural(static_cast<int>(options.settleSeconds), "second", "seconds") +
                      " after its outcome; Ctrl-C to stop");
    // What every radio of the day gets, said once at the start, on the terminal and in the log.
    for (const auto& image : setUp.images)
    {
        const std::string text = "station image " + image.role + ": " + image.path + " (" + std::to_string(image.size) +
                                 " bytes, sha256 " + image.sha256 + ")";
        Note(options, text);
        if (setUp.logger)
            setUp.logger->log(spdlog::source_loc{__FILE__, __LINE__, "StationCommand"}, spdlog::level::info, "{}",
                              text + ", run by " + options.stationId +
                                  (options.operatorName ? " (" + *options.operatorName + ")" : std::string()));
    }
    CStationView view(std::cerr, std::cout, look);
    const StationEnd end = RunStation(station, view, SystemClock(), stops);
    view.Close();
    if (!end.refused.empty())
    {
        removeTemporary();
        return Refuse(options, kExitCannotCreate, ExitName(kExitCannotCreate),
                      "cannot create the record " + WideToUtf8(station.recordPath) + ": " + end.refused +
                          " (--record names another, --no-record keeps none)");
    }
    const auto& radios = end.radios;

    std::vector<RadioReport> reports;
    int flashed = 0;
    int already = 0;
    bool cancelled = false;
    for (const auto& radio : radios)
    {
        RadioReport report;
        report.port = PortLabel(radio.port);
        report.result = radio.result;
        report.seconds = radio.seconds;
        reports.push_back(report);
        flashed += radio.outcome == ExitName(kExitSuccess) ? 1 : 0;
        already += radio.result.outcome == UpgradeOutcome::AlreadyFlashed ? 1 : 0;
        cancelled = cancelled || radio.outcome == ExitName(kExitCancelled);
    }
    if (!options.quiet && !reports.empty())
        std::cerr << SummaryTable(reports);
    if (simulated)
    {
        simulated->Stop();
        for (std::size_t i = 0; i < station.named.size() && !options.quiet; ++i)
        {
            const std::string prefix = "[" + station.named[i].key + "] ";
            std::cerr << PrefixLines(prefix, simulated->SummaryText(i));
            if (simulated->Holds(i, setUp.paths))
                std::cerr << prefix << "every radio that took the write command holds every image byte for byte"
                          << std::endl;
        }
    }
    removeTemporary();
    const int failed = static_cast<int>(radios.size()) - flashed - already;
    Note(options, "station: " + Plural(static_cast<int>(radios.size()), "radio", "radios") + ", " +
                      TallyText(end.tally) + "; " +
                      (station.recordPath.empty() ? std::string("no record was kept")
                       : end.tally.recordError.empty()
                           ? "their records are in " + WideToUtf8(station.recordPath)
                           : "the record " + WideToUtf8(station.recordPath) + " could not be written (" +
                                 end.tally.recordError + "): the lines it lacks were said above"));
    if (!end.tally.recordError.empty())
        return kExitCannotCreate;
    if (cancelled)
        return StopExitCode() != 0 ? StopExitCode() : kExitCancelled;
    return failed > 0 ? kExitSomeFailed : kExitSuccess;
}
