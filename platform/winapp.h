// The application object and the program's start: one CWinApp per program, built as a global
// before main runs; AfxWinMain brings up Qt and calls InitInstance, and the program ends when
// that returns false (there is no separate message loop: the main dialog runs its own).
//
//   CGeneratorApp theApp;
//   int main(int argc, char** argv) { return AfxWinMain(argc, argv); }
#pragma once

#include <QIcon>
#include <string>

#include "platform/dialog_template.h"

class CDialog;

class CWinApp {
 public:
  // Installs the program's resources, so dialogs and strings can be loaded by id. They are
  // kept by reference: pass a set that lives as long as the program (a function-local static).
  explicit CWinApp(const ResourceSet& resources);
  virtual ~CWinApp();
  CWinApp(const CWinApp&) = delete;
  CWinApp& operator=(const CWinApp&) = delete;

  // Called once at start-up; true would ask for a message loop, which no program here wants.
  virtual bool InitInstance() { return false; }

  // Three-dimensional control drawing is what every Qt style does anyway; kept so start-up
  // reads as the program was designed.
  void Enable3dControls() {}

  CDialog* m_pMainWnd = nullptr;
};

CWinApp* AfxGetApp();

// Hosting of embedded (ActiveX) controls; no dialog here embeds one, so there is nothing to set up.
inline void AfxEnableControlContainer() {}

// Resources by id from the installed set; an unknown id gives an empty string or icon.
std::string AfxLoadString(int id);
QIcon AfxLoadIcon(int id);

// Builds the QApplication, runs the application object's InitInstance and returns the exit
// code once it has returned.
int AfxWinMain(int argc, char** argv);
