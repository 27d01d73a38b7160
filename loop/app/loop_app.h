// CLoopApp: the loop program's application object, holding the one wave file the patcher
// works on for the whole run.
#pragma once

#include <string>

#include "fileio/file.h"
#include "platform/winapp.h"

class CLoopApp : public CWinApp {
 public:
  CLoopApp();
  bool InitInstance() override;

  // Open from Open File until Patch or Exit closes it.
  CFile m_waveFile;
  // The file named on the command line, loaded when the dialog starts; empty for none.
  std::string m_fileToOpen;
};
