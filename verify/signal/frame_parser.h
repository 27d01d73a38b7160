// Reads frames out of the bursts of a recording: a start marker and five bursts one slot apart,
// exactly as the frame encoder lays them down.
#pragma once

#include <array>
#include <deque>

#include "timecode_format/timecode_layout.h"
#include "verify/signal/burst_tracker.h"

// From the start marker to the end of the check symbol: eleven slots.
inline constexpr int kFrameBurstSlots = 11;

inline constexpr int kCheckStar =
    kRunEdgeSymbol;  // '*' in place of the last frame's check under method 2

struct RawFrame {
  int number = 0;
  int marker = 0;                // 11, 12 or 13
  int secondSymbol = 0;          // 13 in frame 1 under method 1, else the thousands digit
  int check = 0;                 // 1 to 10, or 11 for the '*' that ends the run under method 2
  Burst start;                   // the start marker
  std::array<int, 6> symbols{};  // of its six bursts, in order
};

inline constexpr int kBurstsPerFrame = 6;

// The frame six symbols spell, or false when they spell none.
bool ComposeFrame(const std::array<int, kBurstsPerFrame>& symbols, RawFrame& frame);

class FrameParser {
 public:
  // slotSamples: one slot at the recording's rate; blockSamples: the blocks the keys were told
  // from, which place each burst's centre to half a block.
  FrameParser(double slotSamples, int blockSamples) : m_slot(slotSamples), m_block(blockSamples) {}

  // Feeds the next burst; true when it completes a frame, which is then in `frame`.
  bool Add(const Burst& burst, RawFrame& frame);
  // Drops the bursts heard so far: the frame they began was read without them.
  void Forget() { m_recent.clear(); }

 private:
  bool Match(RawFrame& frame) const;
  // Where a start marker begins: its energy's rise, or half a slot before its middle where noise
  // hid the rise.
  double MarkerStart(const Burst& marker) const;

  double m_slot;
  double m_block;
  std::deque<Burst> m_recent;
};
