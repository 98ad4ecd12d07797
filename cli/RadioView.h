// One radio as kd7x-update shows it: its progress line with bytes, rate, ETA and elapsed time,
// each resend, and what the radio sends when asked for.
#pragma once

#include "app/UpgradeView.h"
#include "cli/Console.h"

#include <atomic>
#include <chrono>

// 11.2 kB/s (1 kB = 1000 bytes).
std::string FormatRate(double bytesPerSecond);
// "writing data app.bin  45%  203776/450000 bytes  11.2 kB/s  ETA 0:18  elapsed 0:20"
std::string WritingText(const std::string& name, std::size_t done, std::size_t total, double elapsed);

class CRadioView : public IUpgradeView
{
public:
    CRadioView(CConsole& console, std::size_t radio, const std::atomic<bool>& cancel, bool verbose, DWORD waitMs);

    void OnTraceText(const std::vector<char>& bytes) override;
    void OnTraceHex(const std::vector<char>& bytes) override;
    bool OnProgress(const std::wstring& caption, int done, int total, bool percent) override;
    void OnImageStart(int image, const std::wstring& path, int frames, std::size_t bytes) override;
    bool OnWriteProgress(int done, int total) override;
    void OnProgressEnd() override {}
    void ShowOutcome(const UpgradeResult&) override {}
    bool OnWait() override { return m_cancel.load(); }
    std::wstring OnRadioSeen(const UpgradeResult& result) override;
    void OnAttemptFailed(UpgradeStage stage, int block, AttemptFailure why, const std::vector<char>& answer,
                         int left) override;

    using Clock = std::chrono::steady_clock;
    // Image bytes the radio acknowledged, and the seconds from the first image to the last progress.
    std::size_t BytesSent() const { return m_bytesBefore + m_imageDone; }
    double SendingSeconds() const;
    // Whether an image began to go out, and when the first began and the last progress came.
    bool Sending() const { return m_sending; }
    Clock::time_point SendingFrom() const { return m_firstImage; }
    Clock::time_point SendingTo() const { return m_lastProgress; }

private:
    static double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

    CConsole& m_console;
    std::size_t m_radio;
    const std::atomic<bool>& m_cancel;
    bool m_verbose;
    DWORD m_waitMs;
    Clock::time_point m_listenStart{};
    bool m_listening = false;
    std::string m_imageName;
    std::size_t m_imageBytes = 0;
    std::size_t m_imageDone = 0;
    std::size_t m_bytesBefore = 0; // of the images already sent
    Clock::time_point m_imageStart{};
    Clock::time_point m_firstImage{};
    Clock::time_point m_lastProgress{};
    bool m_sending = false;
};
