#include "timecode/generator_app.h"

#include "resources/vrellok_rc.h"
#include "shell/startup.h"
#include "timecode/generator_dlg.h"

CGeneratorApp::CGeneratorApp() : CWinApp(VrellokResources()) {}

bool CGeneratorApp::InitInstance() {
  return RunMainDialog<CGeneratorDlg>(*this, /*enable3dControls=*/true);
}
