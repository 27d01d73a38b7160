// The command line of vrellok-verify: its options, the reading, the outputs and the exit status.
// The reader comes in as a function, so the whole command runs in tests on reports made by hand.
#pragma once

#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "cli/exit_status.h"
#include "cli/options.h"
#include "verify/map/verifier.h"

// The exit status (cli/exit_status.h): 0 clean, 1 the recording shows a fault, 2 nothing could
// be checked.

struct CommandLine {
  VerifyOptions options;
  std::optional<std::string> csv;
  std::optional<std::string> labels;
  std::optional<std::string> plot;
  bool json = false;
  bool follow = false;  // each fault on stdout as it is found
  bool help = false;
  bool version = false;
  std::string recording;
};

// args without the program's name. Options take their value as the next word or after '=';
// --help and --version answer as soon as they are reached. Throws UsageError.
CommandLine ParseCommandLine(const std::vector<std::string>& args);

using Verifier =
    std::function<VerifyReport(const std::string&, const VerifyOptions&, VerifyProgress*)>;

// Runs the whole command: prints to out and err, writes the files asked for, and returns the
// exit status.
int RunVerifyCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
                     const Verifier& verify);
