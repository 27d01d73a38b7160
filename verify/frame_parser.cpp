#include "verify/frame_parser.h"

#include <cmath>

#include "layout/timecode_layout.h"

namespace {

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

bool ComposeFrame(const std::array<int, kBurstsPerFrame>& symbols, RawFrame& frame) {
  const int marker = symbols[0];
  if (marker < kRunEdgeSymbol || marker > kFirstFrameSymbol) return false;
  const int second = symbols[1];
  const bool method1First = marker == kRunEdgeSymbol && second == kFirstFrameSymbol;
  if (!method1First && !IsDigit(second)) return false;
  for (std::size_t k = 2; k <= 4; ++k) {
    if (!IsDigit(symbols[k])) return false;
  }
  const int check = symbols[5];
  if (!IsDigit(check) && check != kCheckStar) return false;

  const int thousands = method1First ? 0 : DigitOf(second);
  const int number =
      thousands * 1000 + DigitOf(symbols[2]) * 100 + DigitOf(symbols[3]) * 10 + DigitOf(symbols[4]);
  // Only frame 1 opens with * or A; every later frame with #.
  if (number == 0 || (number == 1) != (marker != kFrameStartSymbol)) return false;
  if (marker == kRunEdgeSymbol && !method1First) return false;

  frame.number = number;
  frame.marker = marker;
  frame.secondSymbol = second;
  frame.check = check;
  frame.symbols = symbols;
  return true;
}

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
  std::array<int, kBurstsPerFrame> symbols{};
  for (std::size_t k = 0; k < symbols.size(); ++k) symbols[k] = m_recent[k].symbol;
  if (!ComposeFrame(symbols, frame)) return false;
  frame.start = marker;
  return true;
}
