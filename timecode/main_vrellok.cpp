// vrellok: the timecode generator. Tone banks are read from, and TC.wav is written to, the
// folder the program is started in; a bank missing there is read from the installed ones. With
// options it runs as a command line and never brings up the GUI platform, so it works without a
// display.
#include "cli/options.h"
#include "platform/process_start.h"
#include "platform/winapp.h"
#include "timecode/command_line.h"
#include "timecode/generator_app.h"

CGeneratorApp theApp;

int main(int argc, char** argv) {
  OpenStandardDescriptors();  // before any file is opened, so none becomes stdout or stderr
  if (WantsCommandLine(argc, argv)) {
    return ExitStatusAfterStdout("vrellok", RunCommandLine(argc, argv));
  }
  return AfxWinMain(argc, argv);
}
