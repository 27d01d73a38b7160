// Finds where a known tone bank burst begins in a recording, to a fraction of a sample: the
// burst is matched against the recording around a first guess, and the best match is refined
// on the burst's own continuous curve, so the answer holds at any recording rate.
#pragma once

#include <cstdint>
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

  // Recording samples the burst covers, and how far from the guess its start is searched.
  int Span() const { return static_cast<int>(m_reference.size()); }
  int Radius() const { return m_radius; }
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
  // The match and its first two derivatives at a sub-sample start tau.
  Sums Evaluate(const SampleView& view, double tau) const;
  double MatchAt(const SampleView& view, std::int64_t tau) const;

  double m_ratio;    // recording rate / timecode rate
  double m_rowStep;  // radians per timecode sample
  double m_columnStep;
  int m_fadeSamples;  // in timecode samples
  int m_radius;
  int m_stride;                    // of the first, coarse search
  std::vector<float> m_reference;  // sampled at the recording's rate, mean removed
  // Each tone's cosine and sine at whole recording samples from 0, so that Evaluate, wherever
  // tau falls, only turns them by one angle: row tone, then column tone.
  std::vector<double> m_rowCos, m_rowSin, m_columnCos, m_columnSin;
};
