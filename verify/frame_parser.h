// Reads frames out of the bursts of a recording: a start marker and five bursts one slot apart,
// exactly as the frame encoder lays them down.
#pragma once

#include <deque>

#include "verify/burst_tracker.h"

// Timecode sample where frame n's start marker lies in TC.wav: frames are 24,576 samples apart,
// and under method 1 frame 1 carries two extra gaps.
double FrameStartInTimecode(int frame, int method);

// Timecode rates of the two types, and the slot every burst and gap fills.
inline constexpr int kRateF = 44100;
inline constexpr int kRateS = 36015;
inline constexpr int kSlotSamples = 1800;
// From the start marker to the end of the check symbol: eleven slots.
inline constexpr int kFrameBurstSlots = 11;

inline constexpr int kCheckStar = 11;  // '*' in place of the last frame's check under method 2

struct RawFrame {
  int number = 0;
  int marker = 0;        // 11, 12 or 13
  int secondSymbol = 0;  // 13 in frame 1 under method 1, else the thousands digit
  int check = 0;         // 1 to 10, or 11 for the '*' that ends the run under method 2
  Burst start;           // the start marker
};

class FrameParser {
 public:
  // slotSamples: one slot at the recording's rate; blockSamples: the blocks the keys were told
  // from, which place each burst's centre to half a block.
  FrameParser(double slotSamples, int blockSamples) : m_slot(slotSamples), m_block(blockSamples) {}

  // Feeds the next burst; true when it completes a frame, which is then in `frame`.
  bool Add(const Burst& burst, RawFrame& frame);

 private:
  bool Match(RawFrame& frame) const;

  double m_slot;
  double m_block;
  std::deque<Burst> m_recent;
};
