// vrellok-verify: reads a recording of TC.wav back and reports where every frame landed.
#include <iostream>
#include <string>
#include <vector>

#include "platform/process_start.h"
#include "verify/app/report_command.h"
#include "verify/map/verifier.h"

int main(int argc, char* argv[]) {
  OpenStandardDescriptors();  // before any file is opened, so none becomes stdout or stderr
  const std::vector<std::string> args(argv + 1, argv + argc);
  return RunVerifyCommand(
      args, std::cout, std::cerr,
      [](const std::string& path, const VerifyOptions& options, VerifyProgress* progress) {
        return VerifyRecording(path, options, progress);
      });
}
