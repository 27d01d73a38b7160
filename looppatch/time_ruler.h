// The steps of the waveform's time ruler: a round time between labelled ticks, chosen so the
// labels do not run into each other, and their words. Closer in than a millisecond the times
// would repeat, so the labels count frames instead. No windows here.
#pragma once

#include <cstdint>
#include <string>

struct RulerStep {
  std::uint64_t units = 1;  // milliseconds, or frames when inFrames
  bool inFrames = false;
  double frames = 1;  // frames between two labelled ticks
};

// The smallest round step at least minFrames wide.
RulerStep ChooseRulerStep(double minFrames, std::uint32_t sampleRate);

// The label of tick number `tick` (tick 0 at frame 0): "h:mm:ss.mmm", or the frame.
std::string RulerLabel(std::uint64_t tick, const RulerStep& step);
