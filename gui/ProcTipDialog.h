// The small progress window of a run: one line of text and Cancel. It is the handler of the
// engine's progress signals and keeps the application alive by pumping messages.
#pragma once

#include "gui/DialogBase.h"

#include <string>

class CProcTip2Dlg : public CDialogBase
{
public:
    CProcTip2Dlg();

    // True when the operator asked to cancel during this call.
    bool OnProgress(const std::wstring& text, int done, int total, bool percent);
    bool ShowProgress(bool pump);
    void OnBnClickedCancel();

    std::wstring m_strText;
    bool m_bCancel = false;

protected:
    bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, INT_PTR& result) override;
};
