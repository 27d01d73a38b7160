// The jumps back in TC.wav held against the loop table of the TC.wav that was played: where
// playback left and where it resumed, against the points, and a loop made on its points taken
// out of the faults (its jump, the frames it repeats, the frames damaged at its seam and those
// past its end that playback never reached).
#pragma once

#include <string>
#include <vector>

#include "verify/map/played_stretch.h"
#include "verify/map/verify_report.h"
#include "wave/loop_records.h"

// The loop points of the wave file at path, read the way loop reads them; all 0 where it has
// none or is no canonical wave file.
LoopPoints ReadLoopPoints(const std::string& path);

// stretches in recording order, changes[k] between stretches k and k + 1, placed where the
// samples tell. Fills report.loops and report.loopsNotTaken and takes honoured loops out of the
// faults.
void JudgeLoops(VerifyReport& report, const std::vector<PlayedStretch>& stretches,
                const std::vector<StretchChange>& changes, const LoopPoints& points);
