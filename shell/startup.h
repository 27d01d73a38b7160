// The start-up both programs share, called from their InitInstance:
//
//   bool CGeneratorApp::InitInstance() { return RunMainDialog<CGeneratorDlg>(*this, true); }
#pragma once

#include <utility>

#include "platform/winapp.h"

// Runs MainDialog, built from these arguments, modally as the program's main window and returns
// false, so the program ends when the dialog closes, however it was closed.
template <class MainDialog, class... Args>
bool RunMainDialog(CWinApp& app, bool enable3dControls, Args&&... args) {
  AfxEnableControlContainer();
  if (enable3dControls) app.Enable3dControls();  // the style's call; Qt draws 3-D anyway
  MainDialog dialog(std::forward<Args>(args)...);
  app.m_pMainWnd = &dialog;
  dialog.DoModal();  // OK or Cancel, the program ends all the same
  app.m_pMainWnd = nullptr;
  return false;
}
