// The command-line forms that judge and change the sound around loop points: searching for a
// loop end, crossfading a loop into a copy, scanning and snapping many files. Each prints its
// answer on out, refusals on err ("loop: FILE: TEXT"), and returns the exit status.
#pragma once

#include <ostream>
#include <string>

#include "loop/format/loop_table.h"

// --search START[,FROM-TO] FILE: the best ends for a loop from START, over FROM..TO or by
// default from START + 100 ms to the last frame, one line each, best first; status 1 when none
// joins smoothly. Throws UsageError for a malformed value.
int SearchCommand(const std::string& value, const std::string& path, std::ostream& out,
                  std::ostream& err);

// --crossfade MS[,linear|power] --set A,B[,...] SOURCE DEST: a copy of SOURCE as DEST with the
// loop from point 1 (A) to point 2 (B) crossfaded and the points stored in its table; prints
// the copy's seam. Throws UsageError for a malformed value or fewer than two points.
int CrossfadeCommand(const std::string& value, const LoopPoints& points, const std::string& source,
                     const std::string& destination, std::ostream& out, std::ostream& err);
