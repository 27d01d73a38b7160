#include "verify/frame_parser.h"

#include <cmath>

#include "timecode/timecode_layout.h"

namespace {

constexpr int kBurstsPerFrame = 6;
// A burst may stray this far from its slot, a dropout inside the frame included, and still
// never be taken for its neighbour one gap away.
constexpr double kSlotTolerance = 0.5;

bool IsDigit(int symbol) {
  return symbol >= 1 && symbol <= kZeroDigitSymbol;
}

int DigitOf(int symbol) {
  return symbol == kZeroDigitSymbol ? 0 : symbol;
}

}  // namespace

bool FrameParser::Add(const Burst& burst, RawFrame& frame) {
  m_recent.push_back(burst);
  if (m_recent.size() > kBurstsPerFrame) m_recent.pop_front();
  if (m_recent.size() < kBurstsPerFrame || !Match(frame)) return false;
  m_recent.clear();
  return true;
}

bool FrameParser::Match(RawFrame& frame) const {
  const Burst& marker = m_recent[0];
  if (marker.symbol < kRunEdgeSymbol || marker.symbol > kFirstFrameSymbol) return false;
  if (!marker.hasOnset) return false;
  for (int k = 1; k < kBurstsPerFrame; ++k) {
    // Bursts stand every second slot: a burst, then a gap.
    const double expected = marker.onset + (2.0 * k + 0.5) * m_slot;
    const double off = m_recent[static_cast<std::size_t>(k)].centre - expected;
    if (std::abs(off) > kSlotTolerance * m_slot + 0.5 * m_block) return false;
  }
  const int second = m_recent[1].symbol;
  const bool method1First = marker.symbol == kRunEdgeSymbol && second == kFirstFrameSymbol;
  if (!method1First && !IsDigit(second)) return false;
  for (int k = 2; k <= 4; ++k) {
    if (!IsDigit(m_recent[static_cast<std::size_t>(k)].symbol)) return false;
  }
  const int check = m_recent[5].symbol;
  if (!IsDigit(check) && check != kCheckStar) return false;

  const int thousands = method1First ? 0 : DigitOf(second);
  const int number = thousands * 1000 + DigitOf(m_recent[2].symbol) * 100 +
                     DigitOf(m_recent[3].symbol) * 10 + DigitOf(m_recent[4].symbol);
  // Only frame 1 opens with * or A; every later frame with #.
  if (number == 0 || (number == 1) != (marker.symbol != kFrameStartSymbol)) return false;
  if (marker.symbol == kRunEdgeSymbol && !method1First) return false;

  frame.number = number;
  frame.marker = marker.symbol;
  frame.secondSymbol = second;
  frame.check = check;
  frame.start = marker;
  return true;
}
