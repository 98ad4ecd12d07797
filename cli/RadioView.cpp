#include "cli/RadioView.h"

#include "app/ProgressText.h"
#include "app/RadioText.h"
#include "app/UpgradeRun.h"
#include "platform/Text.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

std::string FormatRate(double bytesPerSecond)
{
    char text[32];
    // A radio that stalls still shows a rate, not "0.0 kB/s".
    if (bytesPerSecond < 1000)
        std::snprintf(text, sizeof text, "%.0f B/s", bytesPerSecond);
    else
        std::snprintf(text, sizeof text, "%.1f kB/s", bytesPerSecond / 1000.0);
    return text;
}

std::string WritingText(const std::string& name, std::size_t done, std::size_t total, double elapsed)
{
    const long long percent = total == 0 ? 100 : static_cast<long long>(done * 100 / total);
    std::string text = "writing data " + name + "  " + std::to_string(percent) + "%  " + std::to_string(done) + "/" +
                       std::to_string(total) + " bytes";
    // A rate needs a moment of data before it means anything.
    if (elapsed >= 1.0 && done > 0)
    {
        const double rate = static_cast<double>(done) / elapsed;
        text += "  " + FormatRate(rate) + "  ETA " + FormatClock(static_cast<double>(total - done) / rate);
    }
    return text + "  elapsed " + FormatClock(elapsed);
}

CRadioView::CRadioView(CConsole& console, std::size_t radio, const std::atomic<bool>& cancel, bool verbose,
                       DWORD waitMs)
    : m_console(console), m_radio(radio), m_cancel(cancel), m_verbose(verbose), m_waitMs(waitMs)
{
}

void CRadioView::OnTraceText(const std::vector<char>& bytes)
{
    if (m_verbose && !bytes.empty())
        m_console.Line(m_radio, "rx: " + std::string(bytes.begin(), bytes.end()));
}

void CRadioView::OnTraceHex(const std::vector<char>& bytes)
{
    if (m_verbose)
        m_console.Line(m_radio, "rx hex: " + (bytes.empty() ? std::string("(nothing)") : FormatHex(bytes)));
}

bool CRadioView::OnProgress(const std::wstring& caption, int done, int total, bool)
{
    const auto now = Clock::now();
    if (caption == kCaptionListen)
    {
        if (!m_listening)
            m_listenStart = now;
        m_listening = true;
        std::string text = WideToUtf8(caption);
        if (m_waitMs > 0)
        {
            const double left = m_waitMs / 1000.0 - Seconds(now - m_listenStart);
            text += "  " + std::to_string(std::max(0L, static_cast<long>(std::ceil(left)))) + " s left";
        }
        m_console.Progress(m_radio, text, false);
    }
    else if (caption == kCaptionWriting)
    {
        m_imageDone = BytesBefore(done, total, m_imageBytes);
        m_lastProgress = now;
        m_console.Progress(m_radio, WritingText(m_imageName, m_imageDone, m_imageBytes, Seconds(now - m_imageStart)),
                           done == 1 || done == total);
    }
    else if (caption == kCaptionConfirm)
        m_console.Progress(m_radio, "waiting for the radio to confirm  " + std::to_string(done) + " s left", false);
    else
    {
        m_listening = false;
        m_console.Progress(m_radio, LocationStepText(done), true);
    }
    return m_cancel.load();
}

void CRadioView::OnImageStart(int image, const std::wstring& path, int frames, std::size_t bytes)
{
    const auto now = Clock::now();
    if (!m_sending)
        m_firstImage = now;
    m_sending = true;
    m_bytesBefore += m_imageDone;
    m_imageDone = 0;
    m_imageBytes = bytes;
    m_imageStart = now;
    m_lastProgress = now;
    m_imageName = WideToUtf8(BaseNameOf(path));
    m_console.Line(m_radio, std::string(image == kImageApp ? "application image " : "RCDB image ") + WideToUtf8(path) +
                                " (" + std::to_string(bytes) + " bytes, " + std::to_string(frames) + " frames)");
}

bool CRadioView::OnWriteProgress(int, int) { return m_cancel.load(); }

std::wstring CRadioView::OnRadioSeen(const UpgradeResult& result)
{
    if (result.radioId)
        m_console.Line(m_radio, "radio " + EscapeRadioText(*result.radioId));
    return {};
}

void CRadioView::OnAttemptFailed(UpgradeStage stage, int block, AttemptFailure why, const std::vector<char>& answer,
                                 int left)
{
    const std::string what = stage == UpgradeStage::Block ? "block " + std::to_string(block) : ToString(stage);
    m_console.Line(m_radio, what + (left > 0 ? " resent: " : " failed, no attempt left: ") + FailureText(why, answer));
}

double CRadioView::SendingSeconds() const { return m_sending ? Seconds(m_lastProgress - m_firstImage) : 0.0; }
