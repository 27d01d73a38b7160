#include "verify/signal/frame_parser.h"

#include <cmath>

#include "timecode_format/timecode_layout.h"

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
  // A key heard in two pieces, its middle lost in noise, is one burst.
  if (!m_recent.empty() && m_recent.back().symbol == burst.symbol &&
      burst.centre - m_recent.back().centre < m_slot) {
    Burst& whole = m_recent.back();
    whole.centre = 0.5 * (whole.centre + burst.centre);
    if (!whole.hasOnset && burst.hasOnset) {
      whole.hasOnset = true;
      whole.onset = burst.onset;
    }
  } else {
    m_recent.push_back(burst);
  }
  // Older bursts than a frame's length cannot belong to a frame that ends with this one.
  const double oldest = m_recent.back().centre - (kFrameBurstSlots + 1) * m_slot - m_block;
  while (m_recent.front().centre < oldest) m_recent.pop_front();
  if (!Match(frame)) return false;
  m_recent.clear();
  return true;
}

double FrameParser::MarkerStart(const Burst& marker) const {
  // The energy's rise, where noise left it close to where the blocks heard the burst begin.
  const double fromBlocks = marker.centre - 0.5 * m_slot;
  if (marker.hasOnset && std::abs(marker.onset - fromBlocks) <= 0.5 * (m_slot + m_block)) {
    return marker.onset;
  }
  return fromBlocks;
}

bool FrameParser::Match(RawFrame& frame) const {
  // The newest burst must be the check symbol of a frame whose marker is among the older ones;
  // a stray key heard in noise between them is passed over.
  const double tolerance = kSlotTolerance * m_slot + 0.5 * m_block;
  const Burst& last = m_recent.back();
  for (const Burst& marker : m_recent) {
    if (marker.symbol < kRunEdgeSymbol || marker.symbol > kFirstFrameSymbol) continue;
    const double start = MarkerStart(marker);
    auto expected = [&](int k) { return start + (2.0 * k + 0.5) * m_slot; };
    if (std::abs(last.centre - expected(kBurstsPerFrame - 1)) > tolerance) continue;
    std::array<int, kBurstsPerFrame> symbols{};
    symbols[0] = marker.symbol;
    symbols[kBurstsPerFrame - 1] = last.symbol;
    for (int k = 1; k + 1 < kBurstsPerFrame; ++k) {
      // Bursts stand every second slot: a burst, then a gap.
      double nearest = tolerance;
      for (const Burst& burst : m_recent) {
        const double off = std::abs(burst.centre - expected(k));
        if (off <= nearest) {
          nearest = off;
          symbols[static_cast<std::size_t>(k)] = burst.symbol;
        }
      }
    }
    if (!ComposeFrame(symbols, frame)) continue;
    frame.start = marker;
    frame.start.onset = start;
    frame.start.hasOnset = true;
    return true;
  }
  return false;
}
