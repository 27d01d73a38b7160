// The loop program: its application object, the command line, and the platform's start.
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "cli/options.h"
#include "loop/app/loop_app.h"
#include "loop/app/loop_cli.h"
#include "platform/process_start.h"

CLoopApp theApp;

int main(int argc, char** argv) {
  OpenStandardDescriptors();  // before any file is opened, so none becomes stdout or stderr
  // The command line decides before the GUI starts, so showing, setting and copying need no
  // display.
  const std::vector<std::string> args(argv + 1, argv + argc);
  if (const std::optional<int> status =
          RunLoopCommandLine(args, std::cout, std::cerr, theApp.m_fileToOpen)) {
    return ExitStatusAfterStdout("loop", *status);
  }
  return AfxWinMain(argc, argv);
}
