// The simulated radio on a pseudo-terminal: shows its upgrade menu when the port is opened and
// answers through CRadioReceiver, with the faults asked for. It can also stand in for a bench:
// radios in turn on the one port, some faulty, the port unplugged between them.
#pragma once

#include "sim/RadioReceiver.h"

#include <atomic>
#include <deque>
#include <string>
#include <thread>

struct RadioSimOptions
{
    RadioFaults faults;
    std::string outDir;     // received images are kept here; empty keeps them in memory only
    std::string linkPath;   // a symlink to the slave side, for a stable name
    long menuDelayMs = 100; // after the port is opened
    bool noMenu = false;
    long answerDelayMs = 0;
    long splitGapMs = 30;          // between the pieces of a split answer
    unsigned baud = 0;             // pace as a real line of this rate; 0 does not pace
    bool exitAfterWrite = true;    // end when the host closes the port after the write command
    long restartAfterWriteMs = -1; // the radio restarts this long after the write command, its port gone
    // A series: each radio leaves once the host is done with it, and after gapMs the next one
    // shows its menu; after the last one the simulator ends (unless exitAfterWrite is false).
    int radios = 1;
    long gapMs = 5000;
    bool hotplug = false;   // the port goes away while no radio is on it (its name may change)
    double faultShare = -1; // the share of radios (chosen by the seed) that carry the faults; below 0: all
    // Each radio's serial number, shown above its menu and in its restart text; empty: one from the
    // seed and the radio's place in the series (KD7X-001001, KD7X-001002, ...).
    std::string serial;
    std::string firmware = "2.0.7"; // what a radio runs before its upgrade
    long bootMs = 800;              // from the write command to the restart text
    bool noBanner = false;          // the radio restarts without a word
    std::string bannerSerial;       // the restart text names this serial number instead (another radio's)
    std::string menuText = "  Main Menu\r\n  1 application image\r\n  2 resource database\r\n"
                           "  4 write and restart\r\n";
};

class CRadioSim
{
public:
    explicit CRadioSim(RadioSimOptions options);
    ~CRadioSim();
    CRadioSim(const CRadioSim&) = delete;
    CRadioSim& operator=(const CRadioSim&) = delete;

    // Opens the pseudo-terminal pair; false with a reason when it cannot.
    bool Start(std::string* error = nullptr);
    const std::string& SlavePath() const { return m_slavePath; }
    const std::string& LinkPath() const { return m_options.linkPath; }

    void Run(); // until finished or stopped
    void RunInThread();
    void Stop(); // asks the loop to end and waits for it
    void Wait(); // waits for the loop to end by itself
    bool Finished() const { return m_finished; }

    // Valid once the loop has ended: the last radio, every radio so far.
    const CRadioReceiver& Radio() const { return m_radios.back(); }
    const std::deque<CRadioReceiver>& Radios() const { return m_radios; }
    bool Faulty(std::size_t radio) const { return m_faulty.at(radio); }
    // Radio k's serial number (from 0) and the text it shows: its menu, its restart.
    std::string Serial(std::size_t radio) const;
    std::string MenuText(std::size_t radio) const;
    std::string RestartText(std::size_t radio) const;
    // One radio's summary as before; a series names each radio.
    std::string SummaryText() const;
    nlohmann::json Summary() const;
    bool Clean() const; // no radio saw a protocol violation
    // Writes the complete images into outDir; false with a reason when it cannot. Run() also
    // writes each image as soon as it is complete.
    bool SaveImages(std::string* error = nullptr) const;

private:
    bool Series() const { return m_options.radios > 1 || m_options.hotplug; }
    bool OpenPty(std::string* error);
    void NextRadio();
    void Unplug();
    void WritePaced(const std::vector<char>& bytes);
    void WriteText(const std::string& text) { WritePaced(std::vector<char>(text.begin(), text.end())); }
    void Pace(std::size_t bytes) const;
    void CloseMaster();
    bool SaveImage(std::size_t radio, const ReceivedImage& image, std::string* error) const;

    RadioSimOptions m_options;
    std::vector<bool> m_faulty;
    std::deque<CRadioReceiver> m_radios; // the radios come so far; a deque keeps each in place
    int m_master = -1;
    std::string m_slavePath;
    std::atomic<bool> m_stop{false};
    std::atomic<bool> m_finished{false};
    std::thread m_thread;
};
