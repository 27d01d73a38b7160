// The start-up both programs share, called from their InitInstance:
//
//   bool CGeneratorApp::InitInstance() { return RunMainDialog<CGeneratorDlg>(*this, true); }
#pragma once

#include "platform/winapp.h"

// Runs MainDialog modally as the program's main window and returns false, so the program ends
// when the dialog closes, however it was closed.
template <class MainDialog>
bool RunMainDialog(CWinApp& app, bool enable3dControls) {
  AfxEnableControlContainer();
  if (enable3dControls) app.Enable3dControls();  // the style's call; Qt draws 3-D anyway
  MainDialog dialog;
  app.m_pMainWnd = &dialog;
  dialog.DoModal();  // OK or Cancel, the program ends all the same
  app.m_pMainWnd = nullptr;
  return false;
}
