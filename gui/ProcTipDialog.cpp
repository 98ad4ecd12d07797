#include "gui/ProcTipDialog.h"

#include "app/ProgressText.h"
#include "gui/App.h"
#include "res/resource.h"

CProcTip2Dlg::CProcTip2Dlg() : CDialogBase(IDD_PROCTIP2) {}

bool CProcTip2Dlg::OnProgress(const std::wstring& text, int done, int total, bool percent)
{
    m_strText = FormatProgressText(text, done, total, percent);
    return ShowProgress(ShouldPump(done, total));
}

bool CProcTip2Dlg::ShowProgress(bool pump)
{
    m_bCancel = false;
    if (m_hWnd == nullptr)
    {
        Create(theApp.m_hMainWnd);
        // Centred on the main window.
        RECT owner{}, mine{};
        GetWindowRect(theApp.m_hMainWnd != nullptr ? theApp.m_hMainWnd : GetDesktopWindow(), &owner);
        GetWindowRect(m_hWnd, &mine);
        const int x = owner.left + ((owner.right - owner.left) - (mine.right - mine.left)) / 2;
        const int y = owner.top + ((owner.bottom - owner.top) - (mine.bottom - mine.top)) / 2;
        SetWindowPos(m_hWnd, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
        ShowWindow(m_hWnd, SW_SHOW);
        UpdateWindow(m_hWnd);
        SetCapture(m_hWnd);
        ShowWindow(Item(IDCANCEL), SW_SHOW);
    }
    SetItemText(IDC_TIP_TEXT, m_strText);
    if (pump)
    {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE))
        {
            if (!theApp.PumpMessage())
                break;
            if (msg.message == WM_LBUTTONUP && msg.hwnd == m_hWnd)
            {
                // The capture sends the click on Cancel here: a release over the button cancels.
                POINT point{static_cast<short>(LOWORD(msg.lParam)), static_cast<short>(HIWORD(msg.lParam))};
                RECT button{};
                GetWindowRect(Item(IDCANCEL), &button);
                MapWindowPoints(nullptr, m_hWnd, reinterpret_cast<POINT*>(&button), 2);
                if (PtInRect(&button, point))
                    m_bCancel = true;
            }
        }
    }
    return m_bCancel;
}

void CProcTip2Dlg::OnBnClickedCancel()
{
    m_bCancel = true;
    OnCancel();
}

bool CProcTip2Dlg::OnMessage(UINT message, WPARAM wParam, LPARAM lParam, INT_PTR& result)
{
    if (message == WM_COMMAND && LOWORD(wParam) == IDCANCEL && HIWORD(wParam) == BN_CLICKED)
    {
        OnBnClickedCancel();
        result = TRUE;
        return true;
    }
    return CDialogBase::OnMessage(message, wParam, lParam, result);
}
