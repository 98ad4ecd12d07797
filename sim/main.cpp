// kd7x-radio-sim: a simulated KD7X radio on a pseudo-terminal, for tests, demos and benchmarks.
#include "sim/RadioSim.h"

#include "Version.h"

#include <CLI/CLI.hpp>

#include <csignal>
#include <cstdio>
#include <iostream>

namespace
{
volatile std::sig_atomic_t g_stop = 0;

void OnSignal(int) { g_stop = 1; }
} // namespace

int main(int argc, char** argv)
{
    RadioSimOptions options;
    bool json = false;
    double seconds = 0;
    CLI::App app{"Simulated KD7X radio: a strict receiver of the upgrade protocol on a\n"
                 "pseudo-terminal. Prints the port to open, then waits; ends after the host's\n"
                 "write command and close (with --radios, after the last radio).",
                 "kd7x-radio-sim"};
    app.get_formatter()->column_width(24); // with the descriptions, within 80 columns
    app.add_option("--link", options.linkPath, "Make a symlink with this name to the pseudo-terminal")
        ->type_name("PATH");
    app.add_option("--out", options.outDir, "Keep the received images in this folder")->type_name("FOLDER");
    app.add_flag("--json", json, "Print the summary as JSON");
    app.add_option("--seed", options.faults.seed, "Seed of the random faults")->default_val(1);
    app.add_option("--nak-rate", options.faults.nakRate, "Share of data blocks answered NAK");
    app.add_option("--drop-rate", options.faults.dropRate, "Share of data blocks not answered");
    app.add_option("--garble-rate", options.faults.garbleRate, "Share of data blocks answered with noise");
    app.add_flag("--c-before-ack", options.faults.cBeforeAck, "Send C before every ACK to a data block");
    app.add_flag("--split-ack-c", options.faults.splitAckC, "Send ACK and C apart");
    app.add_flag("--first-eot-ack", options.faults.firstEotAck,
                 "Answer the first EOT with ACK, not NAK (a radio the\nhost must refuse)");
    app.add_flag("--ignore-select", options.faults.ignoreSelect, "Never answer the image selection");
    app.add_option("--vanish-after", options.faults.vanishAfter, "Disappear after this many data blocks");
    app.add_option("--silent-after", options.faults.silentAfter, "Fall silent after this many data blocks");
    app.add_option("--answer-delay", options.answerDelayMs, "Milliseconds before every answer");
    app.add_option("--menu-delay", options.menuDelayMs, "Milliseconds from the port's opening to the menu")
        ->default_val(100);
    app.add_flag("--no-menu", options.noMenu, "Never show the upgrade menu");
    app.add_option("--restart-after-write", options.restartAfterWriteMs,
                   "Close the port MS after the write command (a restart\nwith its own USB port): it comes back "
                   "--boot-ms later\nwith the restart text")
        ->type_name("MS");
    app.add_option("--baud", options.baud, "Pace as a line of this baud rate (0: no pacing)");
    app.add_option("--serial", options.serial,
                   "The radio's serial number, above its menu and in its\n"
                   "restart text (default: from --seed and its place in\n"
                   "the series, KD7X-001001, KD7X-001002, ...)")
        ->type_name("TEXT");
    app.add_option("--boot-ms", options.bootMs, "Milliseconds from the write command to the restart\ntext")
        ->type_name("MS")
        ->default_val(800)
        ->check(CLI::Range(0L, 600000L).description(""));
    app.add_flag("--no-banner", options.noBanner, "Restart without a word after the write command");
    app.add_option("--banner-serial", options.bannerSerial,
                   "The restart text names this serial number (another\nradio's)")
        ->type_name("TEXT");
    app.add_flag("--freeze-after-eob", options.faults.freezeAfterEob,
                 "After acknowledging the first end-of-batch block, read\n"
                 "nothing and say nothing (with one image: the write\ncommand is never read)");
    app.add_option("--dup-ack", options.faults.dupAck, "Acknowledge data block N twice, 0.3 s apart")->type_name("N");
    app.add_option("--lose-block", options.faults.loseBlock,
                   "Data block N's first copy is corrupted on the line:\nthe radio never sees it, nor answers it")
        ->type_name("N");
    app.add_flag("--lose-eot-nak", options.faults.loseEotNak, "The first NAK to an EOT is lost on the line");
    bool stay = false;
    app.add_flag("--stay", stay, "Keep running after the write command (default: end\nwhen the host closes)");
    app.add_option("--seconds", seconds, "End after this many seconds (0: no limit)");
    app.add_option("--radios", options.radios,
                   "A bench: this many radios in turn, each showing its\n"
                   "menu a gap after the last one left; out/1/, out/2/,\n"
                   "... keep their images")
        ->type_name("N")
        ->check(CLI::Range(1, 100000).description(""));
    app.add_option("--gap", options.gapMs,
                   "Milliseconds between one radio leaving and the next\n"
                   "one's menu; longer than kd7x-update's settle time")
        ->type_name("MS")
        ->default_val(5000)
        ->check(CLI::Range(0L, 3600000L).description(""));
    app.add_flag("--hotplug", options.hotplug,
                 "The port goes away while no radio is on it and comes\n"
                 "back, perhaps under another name (use --link)");
    app.add_option("--fault-share", options.faultShare,
                   "Share of the radios, chosen by --seed, that carry the\n"
                   "faults given (default: all; without faults they fall\n"
                   "silent after 3 data blocks)")
        ->type_name("SHARE")
        ->check(CLI::Range(0.0, 1.0).description(""));
    app.set_version_flag("--version", "kd7x-radio-sim " KD7X_VERSION);
    CLI11_PARSE(app, argc, argv);
    options.exitAfterWrite = !stay;

    CRadioSim sim(options);
    std::string error;
    if (!sim.Start(&error))
    {
        std::cerr << "kd7x-radio-sim: " << error << "\n";
        return 1;
    }
    std::signal(SIGINT, OnSignal);
    std::signal(SIGTERM, OnSignal);
    // With --json, stdout holds the summary alone.
    std::ostream& say = json ? std::cerr : std::cout;
    say << "kd7x-radio-sim: port " << sim.SlavePath();
    if (!options.linkPath.empty())
        say << " (" << options.linkPath << ")";
    say << std::endl;

    sim.RunInThread();
    const auto start = std::chrono::steady_clock::now();
    while (!sim.Finished() && !g_stop &&
           (seconds <= 0 || std::chrono::steady_clock::now() - start < std::chrono::duration<double>(seconds)))
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    sim.Stop();

    if (!sim.SaveImages(&error))
        std::cerr << "kd7x-radio-sim: " << error << "\n";
    if (json)
        std::cout << sim.Summary().dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) << std::endl;
    else
        std::cout << sim.SummaryText() << std::flush;
    return sim.Clean() ? 0 : 2;
}
