// The fit of the places where frames were found against the places they have in TC.wav:
// breaks, one common slope with an intercept per stretch between breaks, and what follows from
// it (latency, drift, jitter, each frame's offset), plus the frame-number bookkeeping.
#pragma once

#include "verify/verify_report.h"

// Reads report.method and report.frames (numbers and found samples, in recording order) and fills
// every frame's offset, the frame-number lists, latency, drift, jitter and discontinuities.
// rateRatio is the recording's rate over the timecode's.
void FitTiming(VerifyReport& report, double rateRatio);
