#include "gui/DialogBase.h"

#include <commdlg.h>

#include <vector>

HINSTANCE AppInstance() { return GetModuleHandleW(nullptr); }

CDialogBase::~CDialogBase()
{
    if (m_hWnd != nullptr && !m_modal)
    {
        SetWindowLongPtrW(m_hWnd, DWLP_USER, 0);
        DestroyWindow(m_hWnd);
    }
    m_hWnd = nullptr;
}

INT_PTR CDialogBase::DoModal(HWND parent)
{
    m_modal = true;
    return DialogBoxParamW(AppInstance(), MAKEINTRESOURCEW(m_templateId), parent, DialogProc,
                           reinterpret_cast<LPARAM>(this));
}

BOOL CDialogBase::Create(HWND parent)
{
    m_modal = false;
    return CreateDialogParamW(AppInstance(), MAKEINTRESOURCEW(m_templateId), parent, DialogProc,
                              reinterpret_cast<LPARAM>(this)) != nullptr;
}

std::wstring CDialogBase::GetItemText(int id) const
{
    HWND item = GetDlgItem(m_hWnd, id);
    const int length = item != nullptr ? GetWindowTextLengthW(item) : 0;
    std::vector<wchar_t> text(static_cast<std::size_t>(length) + 1);
    if (item != nullptr)
        GetWindowTextW(item, text.data(), length + 1);
    return text.data();
}

void CDialogBase::SetItemText(int id, const std::wstring& text) { SetDlgItemTextW(m_hWnd, id, text.c_str()); }

bool CDialogBase::OnMessage(UINT message, WPARAM wParam, LPARAM, INT_PTR& result)
{
    if (message == WM_COMMAND && LOWORD(wParam) == IDCANCEL)
    {
        OnCancel();
        result = TRUE;
        return true;
    }
    if (message == WM_COMMAND && LOWORD(wParam) == IDOK)
    {
        EndDialog(IDOK);
        result = TRUE;
        return true;
    }
    return false;
}

void CDialogBase::OnCancel() { EndDialog(IDCANCEL); }

void CDialogBase::EndDialog(INT_PTR result)
{
    if (m_modal)
        ::EndDialog(m_hWnd, result);
    else
        ShowWindow(m_hWnd, SW_HIDE); // a modeless dialog lives until its object goes
}

INT_PTR CALLBACK CDialogBase::DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    CDialogBase* self = nullptr;
    if (message == WM_INITDIALOG)
    {
        self = reinterpret_cast<CDialogBase*>(lParam);
        self->m_hWnd = hwnd;
        SetWindowLongPtrW(hwnd, DWLP_USER, lParam);
        return self->OnInitDialog();
    }
    self = reinterpret_cast<CDialogBase*>(GetWindowLongPtrW(hwnd, DWLP_USER));
    if (self == nullptr)
        return FALSE;
    INT_PTR result = FALSE;
    if (self->OnMessage(message, wParam, lParam, result))
        return result;
    if (message == WM_NCDESTROY)
        self->m_hWnd = nullptr;
    return FALSE;
}

bool CDialogBase::AskForFile(int field, const wchar_t* filter, const std::wstring& folder, DWORD flags, bool save,
                             const wchar_t* extension)
{
    wchar_t file[MAX_PATH] = {};
    const std::wstring current = GetItemText(field);
    if (current.size() < MAX_PATH)
        current.copy(file, current.size());
    OPENFILENAMEW ofn{};
    ofn.lStructSize = sizeof ofn;
    ofn.hwndOwner = m_hWnd;
    ofn.lpstrFilter = filter;
    ofn.lpstrFile = file;
    ofn.nMaxFile = MAX_PATH;
    ofn.lpstrInitialDir = folder.c_str();
    ofn.lpstrDefExt = extension;
    ofn.Flags = flags;
    if (!(save ? GetSaveFileNameW(&ofn) : GetOpenFileNameW(&ofn)))
        return false;
    SetItemText(field, file);
    return true;
}
