// Finds where a known tone bank burst begins in a recording, to a fraction of a sample: the
// burst is matched against the recording around a first guess, and the best match is refined
// on the burst's own continuous curve, so the answer holds at any recording rate.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

// Samples of the recording from absolute index `first` on. Whoever builds a view makes sure it
// covers what Locate reads; outside the recording it holds zeros.
struct SampleView {
  const float* data = nullptr;
  std::int64_t first = 0;
  std::int64_t count = 0;

  const float* At(std::int64_t index) const { return data + (index - first); }
};

struct BurstMatch {
  bool found = false;
  double position = 0.0;     // recording sample where burst sample 0 lies
  double correlation = 0.0;  // normalised, 1 for a perfect copy at any gain; negative if inverted
  double levelDbfs = 0.0;    // RMS of the recording over the burst
};

class BurstLocator {
 public:
  // speed: how much faster than its rate the timecode was played; the burst is stretched to it.
  BurstLocator(int symbol, int timecodeRate, int recordingRate, double speed = 1.0);

  // Recording samples the burst covers.
  int Span() const { return static_cast<int>(m_reference.size()); }
  // First and one past the last index Locate reads for a guess.
  std::int64_t NeedFrom(double guess) const;
  std::int64_t NeedTo(double guess) const;

  BurstMatch Locate(const SampleView& view, double guess) const;

  // The burst itself at the recording's rate, for calibrating other estimators.
  const std::vector<float>& Reference() const { return m_reference; }

 private:
  struct Sums {
    double xf = 0.0;   // recording times burst
    double xf1 = 0.0;  // ... times its first derivative
    double xf2 = 0.0;  // ... times its second derivative
    double ff = 0.0;
    double xx = 0.0;
    int count = 0;
  };
  // The samples a burst starting at tau covers, their mean, and each tone's angle at the
  // first of them: each tone at sample i is then its tabled value turned by that angle, so no
  // sample waits on the one before it.
  struct Placement {
    const float* x = nullptr;
    std::size_t n = 0;
    double mean = 0.0;
    double u0 = 0.0;  // the first sample's place in the burst, in timecode samples
    double du = 0.0;  // timecode samples per recording sample
    double rowCos = 1.0, rowSin = 0.0, columnCos = 1.0, columnSin = 0.0;
  };

  // The match and its first two derivatives at a sub-sample start tau.
  Sums Evaluate(const SampleView& view, double tau) const;
  Placement Place(const SampleView& view, double tau) const;
  // Sample i of the placement in a fade, and samples [from, to) between the fades.
  void AddFading(const Placement& at, std::size_t i, Sums& sums) const;
  void AddMiddle(const Placement& at, std::size_t from, std::size_t to, Sums& sums) const;
  double MatchAt(const SampleView& view, std::int64_t tau) const;
  // The best whole-sample start within the radius of the guess, refined to the vertex of the
  // parabola through its neighbours; none where the best lies on the edge of the search.
  std::optional<double> WholePeak(const SampleView& view, double guess) const;

  double m_ratio;    // recording rate / timecode rate
  double m_rowStep;  // radians per timecode sample
  double m_columnStep;
  int m_fadeSamples;               // in timecode samples
  int m_radius;                    // how far from the guess a burst's start is searched
  int m_stride;                    // of the first, coarse search
  std::vector<float> m_reference;  // sampled at the recording's rate, mean removed
  // Each tone's cosine and sine at whole recording samples from 0, so that Evaluate, wherever
  // tau falls, only turns them by one angle: row tone, then column tone.
  std::vector<double> m_rowCos, m_rowSin, m_columnCos, m_columnSin;
};
