// The stretches of a recording during which TC.wav played on, and the changes between them, as
// the comparison with TC.wav finds them and the loop check judges them.
#pragma once

#include <cstdint>

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
