// With TC.wav in hand, a recording made at TC.wav's own rate is held against its samples: each
// stretch the system played without a break is compared sample for sample (bit-exact or not,
// and by how much), and each break is placed to the sample where the samples show it, so a jump
// back names the TC.wav samples where playback left and resumed, checked against the loop table.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "verify/map/verify_report.h"

// A stretch of the recording during which TC.wav played on: recording sample r held TC.wav
// sample r - offset. [begin, end) are the recording samples that belong to it.
struct PlayedStretch {
  std::int64_t offset = 0;
  std::int64_t begin = 0;
  std::int64_t end = 0;
  double firstFrameAt = 0.0;  // where its first and last frames' start markers lie
  double lastFrameAt = 0.0;
  int firstFrame = 0;
  int lastFrame = 0;
};

// Where one stretch gives way to the next in the recording: the first sample that is no longer
// the earlier stretch's is `leave`, the first that is the later one's is `join`. Where silence on
// both sides hides the change, any recording sample in [join, leave] may be it (join < leave);
// samples in [leave, join) that are neither (join > leave) were inserted. Not placed: the
// samples could not tell, and both are the later stretch's first frame.
struct StretchChange {
  std::int64_t leave = 0;
  std::int64_t join = 0;
  bool placed = true;
};

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
