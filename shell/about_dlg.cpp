#include "shell/about_dlg.h"

#include "resources/resource_ids.h"

CAboutDlg::CAboutDlg(QWidget* parent) : CDialog(IDD_ABOUTBOX, parent) {}
