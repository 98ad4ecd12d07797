// The operator's window: the two images, the port, the trace, the progress bar and Update.
#pragma once

#include "app/ImageSearch.h"
#include "app/UpgradeView.h"
#include "gui/DialogBase.h"
#include "gui/ProcTipDialog.h"

#include <memory>
#include <string>
#include <vector>

class CKd7YmodemUpdateDlg : public CDialogBase, public IUpgradeView
{
public:
    CKd7YmodemUpdateDlg();
    ~CKd7YmodemUpdateDlg() override;

    // The trace slots of the run.
    void OnTraceText(const std::vector<char>& bytes) override;
    void OnTraceHex(const std::vector<char>& bytes) override;

    void OnBnClickedUpdate();
    bool OnWriteProgress(const std::wstring& caption, int done, int total, bool percent);

    HICON m_hIcon;
    std::wstring m_strPort;
    std::wstring m_strTrace;

protected:
    BOOL OnInitDialog() override;
    bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, INT_PTR& result) override;
    void OnCancel() override;

private:
    // The rest of what the run shows.
    bool OnProgress(const std::wstring& caption, int done, int total, bool percent) override;
    void OnImageStart(int image, const std::wstring& path, int frames, std::size_t bytes) override;
    bool OnWriteProgress(int done, int total) override;
    void OnProgressEnd() override;
    void ShowOutcome(const UpgradeResult& result) override;
    bool OnWait() override;

    void DoDataExchange(bool save);
    std::wstring FindImageFile(std::uintmax_t lower, std::uintmax_t upper);
    void FillImageField(int field, int label, int browse, const char* key, std::uintmax_t lower, std::uintmax_t upper);
    // An image row: its label, its field and its "..." button.
    void ShowRow(int field, int label, int browse, int show);
    void FillPortList();
    void Browse(int field, int label, int browse);
    void OnSysCommand(UINT id, LPARAM lParam);
    bool OnPaint();

    CImageCandidates m_candidates;
    std::unique_ptr<CProcTip2Dlg> m_tip;
    bool m_running = false;
    bool m_closeRequested = false;
    bool m_askingToStop = false;
};
