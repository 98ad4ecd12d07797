#include "gui/App.h"

#include "app/Logging.h"
#include "config/Settings.h"
#include "gui/MainDialog.h"
#include "gui/StationWindow.h"
#include "platform/Text.h"

#include <commctrl.h>
#include <shellapi.h>
#include <spdlog/spdlog.h>

namespace
{
// The arguments after the program's name, read from the wide command line.
std::vector<std::wstring> Arguments()
{
    std::vector<std::wstring> args;
    int count = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &count);
    for (int i = 1; argv != nullptr && i < count; ++i)
        args.emplace_back(argv[i]);
    if (argv != nullptr)
        LocalFree(argv);
    return args;
}
} // namespace

CKd7YmodemUpdateApp theApp;

BOOL CKd7YmodemUpdateApp::InitInstance()
{
    INITCOMMONCONTROLSEX controls{sizeof(INITCOMMONCONTROLSEX), 0xFF};
    InitCommonControlsEx(&controls);

    InitModulePathsFromExecutable();
    m_strModuleDir = GetModuleDir();
    m_strModuleName = GetModuleName();

    // A switch that cannot be used is said before anything else opens.
    StationSwitches switches = ParseStationSwitches(Arguments());
    if (!switches.error.empty())
    {
        const std::wstring text = L"KD7XUpdateTool.exe /station: " + switches.error;
        MessageBoxW(nullptr, text.c_str(), m_strModuleName.c_str(), MB_OK | MB_ICONERROR);
        return FALSE;
    }

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

    if (switches.station)
    {
        CStationDlg station(std::move(switches));
        station.DoModal(nullptr);
    }
    else
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
