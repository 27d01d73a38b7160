// With TC.wav in hand, a recording made at TC.wav's own rate is held against its samples: each
// stretch the system played without a break is compared sample for sample (bit-exact or not,
// and by how much), and each break is placed to the sample where the samples show it, so a jump
// back names the TC.wav samples where playback left and resumed, checked against the loop table.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "verify/map/played_stretch.h"
#include "verify/map/verify_report.h"

// The stretches the frames found show, in recording order: frames whose check passes and whose
// places agree with one alignment to half a sample. begin and end are those of the frames only.
std::vector<PlayedStretch> StretchesOfFrames(const VerifyReport& report);

// Fills report.bitExact and report.loops, and takes honoured loops out of the faults, where the
// recording is at TC.wav's rate without drift; does nothing otherwise. A frame the samples put
// at another alignment than its place (a fault inside it) takes its place from the samples, and
// the fit (with the tolerance, where given) is made again. The recording's channel is
// report.channel; an empty name or "-" is one that cannot be read again. Throws VerifyError
// when either file cannot be read again.
void CheckAgainstReference(VerifyReport& report, const std::string& recording,
                           const std::string& reference,
                           std::optional<double> tolerance = std::nullopt);
