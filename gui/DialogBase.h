// A thin dialog layer over the Win32 dialog API: one class per dialog, its messages dispatched
// by its own switch, modal or modeless.
#pragma once

#include <windows.h>

#include <string>

class CDialogBase
{
public:
    explicit CDialogBase(UINT templateId) : m_templateId(templateId) {}
    CDialogBase(const CDialogBase&) = delete;
    CDialogBase& operator=(const CDialogBase&) = delete;
    virtual ~CDialogBase();

    INT_PTR DoModal(HWND parent);
    BOOL Create(HWND parent);
    HWND GetSafeHwnd() const { return m_hWnd; }

    std::wstring GetItemText(int id) const;
    void SetItemText(int id, const std::wstring& text);
    // The common file dialog for field, starting at its text (in folder when it has none); the
    // chosen file goes into the field. False when nothing was chosen.
    bool AskForFile(int field, const wchar_t* filter, const std::wstring& folder, DWORD flags, bool save = false,
                    const wchar_t* extension = nullptr);
    HWND Item(int id) const { return GetDlgItem(m_hWnd, id); }

protected:
    virtual BOOL OnInitDialog() { return TRUE; }
    // One switch per dialog: true when the message was handled, with its result.
    virtual bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, INT_PTR& result);
    virtual void OnCancel();
    void EndDialog(INT_PTR result);

    HWND m_hWnd = nullptr;

private:
    static INT_PTR CALLBACK DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

    UINT m_templateId;
    bool m_modal = false;
};

// The process's instance handle, for resources.
HINSTANCE AppInstance();
