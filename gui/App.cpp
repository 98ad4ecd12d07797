#include "gui/App.h"

#include "app/Logging.h"
#include "config/Settings.h"
#include "gui/MainDialog.h"
#include "platform/Text.h"

#include <commctrl.h>
#include <spdlog/spdlog.h>

CKd7YmodemUpdateApp theApp;

BOOL CKd7YmodemUpdateApp::InitInstance()
{
    INITCOMMONCONTROLSEX controls{sizeof(INITCOMMONCONTROLSEX), 0xFF};
    InitCommonControlsEx(&controls);

    InitModulePathsFromExecutable();
    m_strModuleDir = GetModuleDir();
    m_strModuleName = GetModuleName();

    const std::wstring logPath = m_strModuleDir + m_strModuleName + L".log";
    std::string logError;
    auto logger = CreateAppLogger(PathFromWide(logPath), &logError);
    if (!logger)
    {
        // Going on without a log loses nothing the operator needs; say so once.
        const std::wstring text = L"The log file \"" + logPath + L"\" cannot be created:\r\n" + NarrowToWide(logError) +
                                  L"\r\n\r\nThe tool works on without a log.";
        MessageBoxW(nullptr, text.c_str(), m_strModuleName.c_str(), MB_OK | MB_ICONWARNING);
    }

    {
        CKd7YmodemUpdateDlg dialog;
        dialog.DoModal(nullptr);
        m_hMainWnd = nullptr;
    }
    logger.reset();
    return FALSE;
}

BOOL CKd7YmodemUpdateApp::PumpMessage()
{
    MSG msg;
    if (!GetMessageW(&msg, nullptr, 0, 0))
    {
        PostQuitMessage(static_cast<int>(msg.wParam));
        return FALSE;
    }
    HWND active = GetActiveWindow();
    if (active == nullptr || !IsDialogMessageW(active, &msg))
    {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    return TRUE;
}

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int)
{
    theApp.InitInstance();
    return 0;
}
