// loop's command line. It is read before any window exists: showing, setting and copying run
// here without a display, and only `loop` or `loop FILE` go on to the dialog.
#pragma once

#include <optional>
#include <ostream>
#include <string>
#include <vector>

// Runs the command line in args (the program's name left out). Returns the exit status when the
// command line did the whole job: 0 done, 1 a refusal (its text on err), 2 a usage error (one
// line on err). Returns nothing when the dialog should start; fileToOpen then holds FILE, or
// stays empty when none was given.
std::optional<int> RunLoopCommandLine(const std::vector<std::string>& args, std::ostream& out,
                                      std::ostream& err, std::string& fileToOpen);
