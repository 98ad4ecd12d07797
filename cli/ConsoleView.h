// What kd7x-update shows on stderr: a redrawn progress line on a terminal, plain lines otherwise.
#pragma once

#include "app/UpgradeView.h"

#include <atomic>
#include <ostream>
#include <string>

class CConsoleView : public IUpgradeView
{
public:
    CConsoleView(std::ostream& out, bool terminal, bool verbose, const std::atomic<bool>& cancel);

    void OnTraceText(const std::vector<char>& bytes) override;
    void OnTraceHex(const std::vector<char>& bytes) override;
    bool OnProgress(const std::wstring& caption, int done, int total, bool percent) override;
    void OnImageStart(int image, const std::wstring& path, int frames, std::size_t bytes) override;
    bool OnWriteProgress(int done, int total) override;
    void OnProgressEnd() override;
    void ShowOutcome(const UpgradeResult& result) override;

private:
    void Line(const std::string& text);
    std::string WritingLine(int done, int total, bool bar) const;

    std::ostream& m_out;
    bool m_terminal;
    bool m_verbose;
    const std::atomic<bool>& m_cancel;
    std::string m_last; // the progress text last shown
    std::wstring m_lastCaption;
    bool m_lineOpen = false; // a redrawn line is on screen
    std::size_t m_imageBytes = 0;
    int m_lastPercent = -1;
};
