// The simulated radio on a pseudo-terminal: shows its upgrade menu when the port is opened and
// answers through CRadioReceiver, with the faults asked for.
#pragma once

#include "sim/RadioReceiver.h"

#include <atomic>
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
    std::string menuText = "\r\n==== KD7X boot loader ====\r\n  Main Menu\r\n"
                           "  1 application image\r\n  2 resource database\r\n  4 write and restart\r\n";
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

    void Run(); // until finished or stopped
    void RunInThread();
    void Stop(); // asks the loop to end and waits for it
    void Wait(); // waits for the loop to end by itself
    bool Finished() const { return m_finished; }

    // Valid once the loop has ended.
    const CRadioReceiver& Radio() const { return m_radio; }
    // Writes the complete images into outDir; false with a reason when it cannot. Run() also
    // writes each image as soon as it is complete.
    bool SaveImages(std::string* error = nullptr) const;

private:
    void WritePaced(const std::vector<char>& bytes);
    void Pace(std::size_t bytes) const;
    void CloseMaster();
    bool SaveImage(const ReceivedImage& image, std::string* error) const;

    RadioSimOptions m_options;
    CRadioReceiver m_radio;
    int m_master = -1;
    std::string m_slavePath;
    std::atomic<bool> m_stop{false};
    std::atomic<bool> m_finished{false};
    std::thread m_thread;
};
