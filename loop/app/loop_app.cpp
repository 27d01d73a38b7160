#include "loop/app/loop_app.h"

#include "loop/app/loop_dlg.h"
#include "resources/loop_rc.h"
#include "shell/startup.h"

CLoopApp::CLoopApp() : CWinApp(LoopResources()) {}

bool CLoopApp::InitInstance() {
  // Plain Qt styles draw controls three-dimensionally already; loop never asked for it.
  return RunMainDialog<CLoopDlg>(*this, false, m_waveFile, m_fileToOpen);
}
