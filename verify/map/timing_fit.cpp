#include "verify/map/timing_fit.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <set>
#include <vector>

#include "verify/signal/frame_parser.h"

namespace {

// A neighbour this far from the common spacing is a break whatever the scatter: no recording
// the verifier reads places frames that loosely.
constexpr double kCertainBreakSamples = 3.0;
// Smaller jumps are told from the scatter by the mean of a few frames either side, so one
// frame's noise cannot pass for a slip.
constexpr std::size_t kStepWindow = 4;
constexpr double kEdgeDeviations = 4.5;
// The threshold: this many robust deviations of the frame places, within these bounds.
constexpr double kThresholdDeviations = 8.0;
constexpr double kLowestThreshold = 0.25;
constexpr double kHighestThreshold = 0.5;
// A one-sample slip is told from noise while half a sample lies beyond this many deviations.
constexpr double kExactDeviations = 5.0;
constexpr double kHalfSample = 0.5;
// Drift and jitter need a line through at least this many frames and something left over.
constexpr std::size_t kTimedFrames = 3;
// The small breaks are sought again about the line they leave at most this many times.
constexpr int kBreakPasses = 4;

void CountNumbers(VerifyReport& report) {
  const std::vector<FoundFrame>& frames = report.frames;
  report.firstFrame = frames.front().number;
  report.lastFrame = frames.back().number;
  std::map<int, int> seen;
  std::set<int> late;
  int largest = 0;
  for (const FoundFrame& frame : frames) {
    ++seen[frame.number];
    if (frame.number < largest && late.insert(frame.number).second) {
      report.outOfOrder.push_back(frame.number);
    }
    largest = std::max(largest, frame.number);
  }
  report.framesFound = static_cast<int>(seen.size());
  for (const auto& [number, times] : seen) {
    if (times > 1) report.duplicated.push_back(number);
  }
  std::set<int> unreadable;
  for (const FramePlace& place : report.unreadable) unreadable.insert(place.frame);
  if (!report.rangeStated) {
    report.judgedFirst = seen.begin()->first;
    report.judgedLast = seen.rbegin()->first;
    if (!unreadable.empty()) {
      report.judgedFirst = std::min(report.judgedFirst, *unreadable.begin());
      report.judgedLast = std::max(report.judgedLast, *unreadable.rbegin());
    }
  }
  for (int number = report.judgedFirst; number <= report.judgedLast; ++number) {
    if (!seen.contains(number) && !unreadable.contains(number)) report.missing.push_back(number);
  }
}

// Robust deviation of the frame places: from the differences between neighbours within each
// stretch, which a step between them moves only once.
double Scatter(const std::vector<double>& residual, const std::vector<std::size_t>& starts) {
  std::vector<double> steps;
  for (std::size_t k = 0; k + 1 < starts.size(); ++k) {
    for (std::size_t i = starts[k] + 1; i < starts[k + 1]; ++i) {
      steps.push_back(residual[i] - residual[i - 1]);
    }
  }
  if (steps.size() < 2) return 0.0;
  const double centre = Median(steps);
  for (double& step : steps) step = std::abs(step - centre);
  return kMadToSd * Median(steps) / std::sqrt(2.0);
}

// Inside each stretch, the frames where the mean place of the frames after differs from the
// mean of those before by more than the threshold, and by more than at its neighbours. Near the
// ends of a stretch fewer frames make each mean: there the step must also stand kEdgeDeviations
// of its own scatter (from the frames' `deviation`) above nothing, so one noisy frame at the
// start is no jump.
std::vector<std::size_t> SmallBreaks(const std::vector<double>& residual,
                                     const std::vector<std::size_t>& starts, double threshold,
                                     double deviation) {
  std::vector<std::size_t> breaks;
  for (std::size_t k = 0; k + 1 < starts.size(); ++k) {
    const std::size_t from = starts[k], to = starts[k + 1];
    std::vector<double> step(to - from, 0.0);
    std::vector<double> needed(to - from, threshold);
    for (std::size_t i = from + 1; i < to; ++i) {
      const std::size_t before = std::max(from, i >= kStepWindow ? i - kStepWindow : 0);
      const std::size_t after = std::min(to, i + kStepWindow);
      double early = 0.0, late = 0.0;
      for (std::size_t j = before; j < i; ++j) early += residual[j];
      for (std::size_t j = i; j < after; ++j) late += residual[j];
      step[i - from] =
          late / static_cast<double>(after - i) - early / static_cast<double>(i - before);
      needed[i - from] = std::max(threshold, kEdgeDeviations * deviation *
                                                 std::sqrt(1.0 / static_cast<double>(after - i) +
                                                           1.0 / static_cast<double>(i - before)));
    }
    for (std::size_t i = from + 1; i < to; ++i) {
      const double size = std::abs(step[i - from]);
      if (size <= needed[i - from]) continue;
      bool largest = true;
      for (std::size_t j = std::max(from + 1, i >= kStepWindow ? i - kStepWindow + 1 : 0);
           j < std::min(to, i + kStepWindow); ++j) {
        const double other = std::abs(step[j - from]);
        if (other > size || (other == size && j < i)) largest = false;
      }
      if (largest) breaks.push_back(i);
    }
  }
  return breaks;
}

// One slope for all stretches and one intercept each: least squares about each stretch's means.
struct StretchLines {
  double slope = 0.0;
  std::vector<double> meanS, meanP;  // each stretch's centre, in the timecode and the recording

  double Intercept(std::size_t k) const { return meanP[k] - slope * meanS[k]; }
  double At(std::size_t k, double s) const { return meanP[k] + slope * (s - meanS[k]); }
};

// The lines through the stretches, each from stretchStart[k] to stretchStart[k + 1]; `fallback`
// is the slope where no stretch holds two frames.
StretchLines FitStretches(const std::vector<double>& s, const std::vector<double>& p,
                          const std::vector<std::size_t>& stretchStart, double fallback) {
  const std::size_t stretches = stretchStart.size() - 1;
  StretchLines lines;
  lines.meanS.assign(stretches, 0.0);
  lines.meanP.assign(stretches, 0.0);
  double across = 0.0, spread = 0.0;
  for (std::size_t k = 0; k < stretches; ++k) {
    const std::size_t from = stretchStart[k], to = stretchStart[k + 1];
    double& meanS = lines.meanS[k];
    double& meanP = lines.meanP[k];
    for (std::size_t i = from; i < to; ++i) {
      meanS += s[i] - s[from];
      meanP += p[i] - p[from];
    }
    meanS = meanS / static_cast<double>(to - from) + s[from];
    meanP = meanP / static_cast<double>(to - from) + p[from];
    for (std::size_t i = from; i < to; ++i) {
      across += (s[i] - meanS) * (p[i] - meanP);
      spread += (s[i] - meanS) * (s[i] - meanS);
    }
  }
  // A slope that is not above 0 (frames a damaged recording put in no order) places nothing.
  lines.slope = spread > 0.0 && across > 0.0 ? across / spread : fallback;
  return lines;
}

// The median ratio of neighbouring spacings: a slope no dropout can bend.
double RobustSlope(const std::vector<double>& s, const std::vector<double>& p, double fallback) {
  std::vector<double> ratios;
  for (std::size_t i = 1; i < s.size(); ++i) {
    if (s[i] > s[i - 1]) ratios.push_back((p[i] - p[i - 1]) / (s[i] - s[i - 1]));
  }
  return ratios.empty() ? fallback : Median(ratios);
}

// Where each stretch starts that a certain break (neighbours further than `certain` off the
// robust line) begins, with the frame count at the end.
std::vector<std::size_t> CertainStretches(const std::vector<double>& s,
                                          const std::vector<double>& p, double robust,
                                          double certain) {
  std::vector<std::size_t> stretchStart = {0};
  for (std::size_t i = 1; i < s.size(); ++i) {
    if (std::abs((p[i] - p[i - 1]) - (s[i] - s[i - 1]) * robust) > certain) {
      stretchStart.push_back(i);
    }
  }
  stretchStart.push_back(s.size());
  return stretchStart;
}

std::vector<double> ResidualsAbout(const std::vector<double>& s, const std::vector<double>& p,
                                   double line) {
  std::vector<double> residual(s.size());
  for (std::size_t i = 0; i < s.size(); ++i) residual[i] = (p[i] - p[0]) - line * (s[i] - s[0]);
  return residual;
}

// The certain stretches split again at the small breaks. Under noise the median of neighbouring
// spacings is off by a few ppm, and that tilt looks like a step; a step left in the line tilts it
// in turn. So the small breaks are sought about the robust line first, then again about the
// least-squares line through the stretches they make, until they stay the same.
std::vector<std::size_t> WithSmallBreaks(const std::vector<double>& s, const std::vector<double>& p,
                                         const std::vector<std::size_t>& certain, double robust,
                                         double threshold, double deviation) {
  std::vector<double> residual = ResidualsAbout(s, p, robust);
  std::vector<std::size_t> breaks = certain;
  std::vector<std::size_t> small;
  for (int pass = 0; pass < kBreakPasses; ++pass) {
    std::vector<std::size_t> found = SmallBreaks(residual, certain, threshold, deviation);
    if (pass > 0 && found == small) break;
    small = std::move(found);
    breaks = certain;
    breaks.insert(breaks.end(), small.begin(), small.end());
    std::sort(breaks.begin(), breaks.end());
    residual = ResidualsAbout(s, p, FitStretches(s, p, breaks, robust).slope);
  }
  return breaks;
}

// Each stretch is a segment of the playback map: TC.wav played on through it, on its line.
// `scatter` is how far single frames stray from their line.
void AddSegments(VerifyReport& report, const std::vector<double>& p,
                 const std::vector<std::size_t>& stretchStart, const StretchLines& lines,
                 double scatter) {
  report.map.segments.clear();
  const double slope = lines.slope;
  for (std::size_t k = 0; k + 1 < stretchStart.size(); ++k) {
    const std::size_t from = stretchStart[k], last = stretchStart[k + 1] - 1;
    Segment segment;
    segment.recordingFirst = p[from];
    segment.recordingLast = p[last] + kFrameBurstSlots * kSlotSamples * slope;
    segment.timecodeFirst = (p[from] - lines.Intercept(k)) / slope;
    segment.slope = slope;
    segment.firstFrame = report.frames[from].number;
    segment.lastFrame = report.frames[last].number;
    segment.framesRead = static_cast<int>(last - from + 1);
    segment.firstIndex = from;
    segment.interceptError = scatter / std::sqrt(static_cast<double>(segment.framesRead));
    report.map.segments.push_back(segment);
  }
}

// Latency, drift and jitter from the lines, each frame's offset from where the timecode's own
// rate would put it after the first, and the jump at each break.
void MeasureTiming(VerifyReport& report, const std::vector<double>& s, const std::vector<double>& p,
                   const std::vector<std::size_t>& stretchStart, const StretchLines& lines,
                   double rateRatio) {
  std::vector<FoundFrame>& frames = report.frames;
  const std::size_t stretches = stretchStart.size() - 1;
  const std::size_t n = frames.size();
  double squares = 0.0, largest = 0.0;
  for (std::size_t k = 0; k < stretches; ++k) {
    for (std::size_t i = stretchStart[k]; i < stretchStart[k + 1]; ++i) {
      const double residualHere = p[i] - lines.At(k, s[i]);
      squares += residualHere * residualHere;
      largest = std::max(largest, std::abs(residualHere));
    }
  }
  for (std::size_t i = 0; i < frames.size(); ++i) {
    frames[i].offsetSamples = p[i] - (p[0] + (s[i] - s[0]) * rateRatio);
  }
  const bool measured = report.timingMeasured;
  report.latencySamples = lines.Intercept(0);
  report.driftPpm = measured ? (lines.slope / rateRatio - 1.0) * 1e6 : 0.0;
  report.jitterRmsSamples = measured ? std::sqrt(squares / static_cast<double>(frames.size())) : 0;
  report.jitterMaxSamples = measured ? largest : 0.0;
  for (std::size_t k = 1; k < stretches; ++k) {
    const std::size_t i = stretchStart[k];
    report.discontinuities.push_back(
        {frames[i].number, lines.Intercept(k) - lines.Intercept(k - 1), p[i]});
  }
  AddSegments(report, p, stretchStart, lines, std::sqrt(squares / static_cast<double>(n)));
}

// A missing frame would have lain on the last stretch that holds a smaller number, the stretch
// it fell out of; with none, before the first.
void PlaceMissing(VerifyReport& report, const std::vector<std::size_t>& stretchStart,
                  const StretchLines& lines) {
  const std::size_t stretches = stretchStart.size() - 1;
  for (const int number : report.missing) {
    std::size_t stretch = 0;
    for (std::size_t k = 0; k < stretches; ++k) {
      for (std::size_t i = stretchStart[k]; i < stretchStart[k + 1]; ++i) {
        if (report.frames[i].number < number) stretch = k;
      }
    }
    report.missingPlaces.push_back(
        {number,
         lines.Intercept(stretch) + lines.slope * FrameStartInTimecode(number, report.method)});
  }
}

}  // namespace

double Median(std::vector<double> values) {
  const auto middle = values.begin() + static_cast<std::ptrdiff_t>(values.size() / 2);
  std::nth_element(values.begin(), middle, values.end());
  return *middle;
}

double FitTiming(VerifyReport& report, double rateRatio, std::optional<double> tolerance) {
  report.missing.clear();
  report.duplicated.clear();
  report.outOfOrder.clear();
  report.discontinuities.clear();
  report.missingPlaces.clear();
  report.map = {};
  const std::vector<FoundFrame>& frames = report.frames;
  report.timingMeasured = frames.size() >= kTimedFrames;
  if (frames.empty()) return rateRatio;
  CountNumbers(report);

  // Each frame's place in the timecode (s) and in the recording (p).
  const std::size_t n = frames.size();
  std::vector<double> s(n);
  std::vector<double> p(n);
  for (std::size_t i = 0; i < n; ++i) {
    s[i] = FrameStartInTimecode(frames[i].number, report.method);
    p[i] = frames[i].foundSample;
  }

  const double robust = RobustSlope(s, p, rateRatio);
  // A tolerance the user gives above the certain break is the certain break.
  const std::vector<std::size_t> certain =
      CertainStretches(s, p, robust, std::max(kCertainBreakSamples, tolerance.value_or(0.0)));
  const double deviation = Scatter(ResidualsAbout(s, p, robust), certain);
  report.thresholdSamples =
      tolerance ? *tolerance
                : std::clamp(kThresholdDeviations * deviation, kLowestThreshold, kHighestThreshold);
  report.sampleExact = kExactDeviations * deviation <= kHalfSample;

  const std::vector<std::size_t> stretchStart =
      WithSmallBreaks(s, p, certain, robust, report.thresholdSamples, tolerance ? 0.0 : deviation);
  const StretchLines lines = FitStretches(s, p, stretchStart, robust);
  MeasureTiming(report, s, p, stretchStart, lines, rateRatio);
  PlaceMissing(report, stretchStart, lines);
  return lines.slope;
}
