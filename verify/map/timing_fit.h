// The fit of the places where frames were found against the places they have in TC.wav:
// breaks, one common slope with an intercept per stretch between breaks, and what follows from
// it (latency, drift, jitter, each frame's offset, where missing frames would have lain), plus
// the frame-number bookkeeping.
#pragma once

#include <optional>
#include <vector>

#include "verify/map/verify_report.h"

// Reads report.method, report.frames (numbers and found samples, in recording order),
// report.unreadable and the judged range where rangeStated is set, and fills every frame's
// offset, the frame-number lists, latency, drift, jitter, the threshold and the discontinuities.
// rateRatio is the recording's rate over the timecode's; tolerance, where given, is the
// threshold instead of the one the scatter sets. Returns the slope: recording samples per
// timecode sample.
double FitTiming(VerifyReport& report, double rateRatio,
                 std::optional<double> tolerance = std::nullopt);

// The middle value (the upper of the two middle ones for an even count); values not empty.
double Median(std::vector<double> values);
// Median absolute deviation to standard deviation, for normal scatter.
inline constexpr double kMadToSd = 1.4826;
