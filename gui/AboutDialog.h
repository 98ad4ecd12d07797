#pragma once

#include "gui/DialogBase.h"

// Template 100: icon, version text and OK; nothing of its own.
class CAboutDlg : public CDialogBase
{
public:
    CAboutDlg();
};
