// The loop program: its application object, the command line, and the platform's start.
#include <csignal>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "cli/options.h"
#include "looppatch/loop_app.h"
#include "looppatch/loop_cli.h"
#include "platform/process_start.h"

CLoopApp theApp;

int main(int argc, char** argv) {
  OpenStandardDescriptors();  // before any file is opened, so none becomes stdout or stderr
  // The command line decides before the GUI starts, so showing, setting and copying need no
  // display. A write past the file-size limit must fail with EFBIG, not end the program.
  std::signal(SIGXFSZ, SIG_IGN);
  const std::vector<std::string> args(argv + 1, argv + argc);
  if (const std::optional<int> status =
          RunLoopCommandLine(args, std::cout, std::cerr, theApp.m_fileToOpen)) {
    return ExitStatusAfterStdout("loop", *status);
  }
  return AfxWinMain(argc, argv);
}
