// Number formatting shared by the report writers, so the summary, the JSON and the CSV print the
// same value the same way, and the facts about TC.wav's layout the writers need to turn frame
// numbers into times.
#pragma once

#include <string>
#include <vector>

#include "timecode/timecode_layout.h"

// value with a fixed number of decimals, in the "C" locale (a decimal point, never a comma, so
// the CSV and the JSON stay machine-readable). A value that rounds to zero prints without a
// minus sign: an offset of -0.00 would look like a fault that is not there.
std::string FormatFixed(double value, int decimals);
// The same with a leading '+' for positive values (drift, jumps).
std::string FormatSigned(double value, int decimals);

// Frame numbers as short runs, "12-15, 20", or "none".
std::string FormatFrameList(const std::vector<int>& numbers);

// Samples of TC.wav from the start of frame n to the start of frame n + 1: 24576, and 3600 more
// for frame 1 under method 1, which carries two extra gaps.
int TimecodeFrameSpacing(int frame, int method);
