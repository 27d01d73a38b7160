// What holding a recording against the TC.wav it was made from tells: whether its samples are
// TC.wav's own, and where each backward jump left TC.wav and resumed, against its loop table.
// Samples of the recording and of TC.wav are counted from 0; values are in LSB of 16 bits.
#pragma once

#include <cstdint>
#include <vector>

// The comparison, sample for sample, of every stretch played at TC.wav's own rate.
struct BitExactCheck {
  std::int64_t compared = 0;               // recording samples held against a TC.wav sample
  std::int64_t differing = 0;              // of them, those that differ
  std::int64_t firstRecordingSample = -1;  // the first that differs, and its TC.wav sample
  std::int64_t firstTimecodeSample = -1;
  double recordingValue = 0.0;  // both values there
  double timecodeValue = 0.0;
  double largestDifference = 0.0;  // in LSB, over every sample compared
  // Of a playlist: the files that were not compared (no --reference for them, or not played at
  // TC.wav's own rate), so that the copy is bit-exact only where it was held against them all.
  int filesNotCompared = 0;

  bool Exact() const { return compared > 0 && differing == 0 && filesNotCompared == 0; }
};

// A TC.wav sample where playback left or resumed, as precisely as the samples tell: one sample
// where a burst shows it, the silent interval [first, last] where silence hides it. The loop
// point nearest to it, if the table has any.
struct LoopEdge {
  std::int64_t first = 0;
  std::int64_t last = 0;
  int point = 0;  // 1 to 10; 0: the table has no point
  std::int64_t pointSample = 0;
  std::int64_t missBy = 0;  // signed distance from the point to the edge; 0: on it (or inside)

  bool Exact() const { return first == last; }
  bool OnPoint() const { return point != 0 && missBy == 0; }
};

// A jump back in TC.wav, the same jump counted once however often playback made it.
struct LoopFinding {
  LoopEdge left;     // the last TC.wav sample played before the jump
  LoopEdge resumed;  // the first one played after it
  int times = 1;
  std::vector<double> recordingSamples;  // where each jump lies in the recording
  bool honoured = false;                 // left at one point and resumed at another
};
