// Reads one slot of a frame whose place the grid of frames already gives: which of the sixteen
// bursts it holds, decided by matching the whole burst against every shape at that place, and
// where the burst begins to a fraction of a sample. Much cheaper than a search: the place is
// known to about a sample, so one match per shape and one refinement step are enough.
#pragma once

#include <array>
#include <cmath>
#include <vector>

#include "verify/signal/burst_locator.h"
#include "verify/signal/lane_sums.h"

struct SlotRead {
  int symbol = 0;             // 1 to 16; 0 when no shape stands clearly above the others
  double position = 0.0;      // where burst sample 0 lies, refined from the guess
  bool placed = false;        // position holds a refined place
  double fit = std::nan("");  // as SlotReader::Fit gives it at position, where known already
};

class SlotReader {
 public:
  // samplesPerTimecodeSample: the recording's rate over the timecode's, times the speed the
  // recording was played at, so the shapes are stretched the way the recording stretched them.
  SlotReader(int timecodeRate, double samplesPerTimecodeSample);

  // Samples read around a guess: from NeedFrom(guess) to one before NeedTo(guess).
  std::int64_t NeedFrom(double guess) const;
  std::int64_t NeedTo(double guess) const;

  // The burst of a known symbol, placed; polarity is -1 for an inverted recording.
  SlotRead Place(const SampleView& view, int symbol, double guess, double polarity) const;
  // The burst of `symbol`, placed, where the slot holds it clearly (a clean copy at any gain
  // and nearly nothing else); not placed, and symbol 0, otherwise. A few times quicker than Read.
  SlotRead Confirm(const SampleView& view, int symbol, double guess, double polarity) const;
  // How well the burst of `symbol` placed at `position` explains the samples there: the squared
  // normalised correlation, 1 for a clean copy at any gain; a part of the burst lost (zeroed,
  // or overwritten) lowers it by about the share of the burst's energy lost.
  // NaN where the samples at hand do not hold the whole burst.
  double Fit(const SampleView& view, int symbol, double position, double polarity) const;
  // Whether a stretch of the burst of `symbol` placed at `position` was lost (zeroed, or
  // overwritten), however loud the noise: the burst is matched a few dozen samples at a time
  // against what its whole match predicts, and a stretch that holds far less of it than that, by
  // many times the noise, was lost.
  bool LostStretch(const SampleView& view, int symbol, double position, double polarity) const;
  // Which burst the slot holds, then placed; `expected`, where not 0, is the symbol the frame
  // grid expects there, taken on less evidence than any other.
  SlotRead Read(const SampleView& view, double guess, double polarity, int expected = 0) const;

  // Where a frame whose symbols are known begins, to the nearest sample, when only a rough guess
  // is known (noise hides where its keys begin) and the slot only to `slotError` of its length:
  // its bursts, every second slot, are matched together at each start within radius of the
  // guess and each spacing within the error, so the whole frame's energy speaks against the
  // noise. `correlation` gets the best match, normalised (1 for a clean copy at any gain,
  // negative for an inverted one), and `slot` the slot length that match found.
  template <std::size_t N>
  double LocateFrame(const SampleView& view, const std::array<int, N>& symbols, double guess,
                     int radius, double slotError, double& slot, double& correlation) const {
    return LocateBursts(view, symbols.data(), N, guess, radius, slotError, slot, correlation);
  }
  // The most samples LocateFrame reads after its guess.
  std::int64_t FrameReach(std::size_t bursts, double slot, int radius, double slotError) const;

 private:
  struct Shape {
    std::vector<float> d1, d2, d3;  // first three derivatives of the burst, per sample
  };
  int Span() const { return static_cast<int>(m_sin[0].size()); }
  // The samples of a burst's span from x on, summed, squared, and matched against the burst of
  // `index` and its three derivatives, in one pass.
  lanes::Sums<4> SumsAt(const float* x, std::size_t index) const;
  // Fit's answer from the sums at a sample and the burst's offset d from it.
  double FitFrom(const lanes::Sums<4>& at, std::size_t index, double d, double polarity) const;
  SlotRead PlaceFrom(const SampleView& view, int symbol, double guess, double polarity,
                     const lanes::Sums<4>* first) const;
  double LocateBursts(const SampleView& view, const int* symbols, std::size_t count, double guess,
                      int radius, double slotError, double& slot, double& correlation) const;

  double m_ratio;
  std::array<double, 8> m_omega{};  // radians per recording sample, rows then columns
  std::array<std::vector<float>, 8> m_sin, m_cos;  // each tone under the burst's fade
  std::array<double, 8> m_norm{};                  // energy of each faded tone
  std::array<Shape, 16> m_shapes;
  std::array<std::vector<float>, 16> m_bursts;  // each symbol's burst, row and column tone
  std::array<double, 16> m_burstEnergy{};
};
