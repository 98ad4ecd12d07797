#pragma once

#include <windows.h>

#include <string>

class CKd7YmodemUpdateApp
{
public:
    CKd7YmodemUpdateApp() = default;

    // Start-up, the main dialog, and FALSE: the process ends when it returns.
    BOOL InitInstance();
    // Takes one message of the thread and dispatches it, as the framework's pump does.
    BOOL PumpMessage();

    std::wstring m_strModuleDir;
    std::wstring m_strModuleName;
    HWND m_hMainWnd = nullptr;
};

extern CKd7YmodemUpdateApp theApp;
