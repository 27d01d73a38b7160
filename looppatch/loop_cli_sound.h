// The command-line forms that judge and change the sound around loop points: searching for a
// loop end, crossfading a loop into a copy, scanning and snapping many files. Each prints its
// answer on out, refusals on err ("loop: FILE: TEXT"), and returns the exit status.
#pragma once

#include <ostream>
#include <string>

// --search START[,FROM-TO] FILE: the best ends for a loop from START, over FROM..TO or by
// default from START + 100 ms to the last frame, one line each, best first; status 1 when none
// joins smoothly. Throws UsageError for a malformed spec.
int SearchCommand(const std::string& spec, const std::string& path, std::ostream& out,
                  std::ostream& err);
