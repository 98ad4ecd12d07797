#include "gui/AboutDialog.h"

#include "res/resource.h"

CAboutDlg::CAboutDlg() : CDialogBase(IDD_ABOUTBOX) {}
