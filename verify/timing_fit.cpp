#include "verify/timing_fit.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <set>
#include <vector>

#include "verify/frame_parser.h"

namespace {

// Neighbours further from the common spacing than this are a break.
constexpr double kBreakSamples = 1.0;

double Median(std::vector<double> values) {
  const auto middle = values.begin() + static_cast<std::ptrdiff_t>(values.size() / 2);
  std::nth_element(values.begin(), middle, values.end());
  return *middle;
}

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
  const int low = std::min(report.firstFrame, report.lastFrame);
  const int high = std::max(report.firstFrame, report.lastFrame);
  for (int number = low + 1; number < high; ++number) {
    if (!seen.contains(number)) report.missing.push_back(number);
  }
}

}  // namespace

void FitTiming(VerifyReport& report, double rateRatio) {
  std::vector<FoundFrame>& frames = report.frames;
  if (frames.empty()) return;
  CountNumbers(report);

  const std::size_t n = frames.size();
  std::vector<double> s(n);
  std::vector<double> p(n);
  for (std::size_t i = 0; i < n; ++i) {
    s[i] = FrameStartInTimecode(frames[i].number, report.method);
    p[i] = frames[i].foundSample;
    frames[i].offsetSamples = p[i] - (p[0] + (s[i] - s[0]) * rateRatio);
  }

  // A robust slope first, so a dropout cannot bend the test for breaks.
  std::vector<double> ratios;
  for (std::size_t i = 1; i < n; ++i) {
    if (s[i] > s[i - 1]) ratios.push_back((p[i] - p[i - 1]) / (s[i] - s[i - 1]));
  }
  const double robust = ratios.empty() ? rateRatio : Median(ratios);
  std::vector<std::size_t> stretchStart = {0};
  for (std::size_t i = 1; i < n; ++i) {
    const double ds = s[i] - s[i - 1];
    if (std::abs((p[i] - p[i - 1]) - ds * robust) > kBreakSamples) stretchStart.push_back(i);
  }
  stretchStart.push_back(n);

  // One slope for all stretches, one intercept each: least squares about each stretch's means.
  const std::size_t stretches = stretchStart.size() - 1;
  std::vector<double> meanS(stretches), meanP(stretches);
  double across = 0.0, spread = 0.0;
  for (std::size_t k = 0; k < stretches; ++k) {
    const std::size_t from = stretchStart[k], to = stretchStart[k + 1];
    for (std::size_t i = from; i < to; ++i) {
      meanS[k] += s[i] - s[from];
      meanP[k] += p[i] - p[from];
    }
    meanS[k] = meanS[k] / static_cast<double>(to - from) + s[from];
    meanP[k] = meanP[k] / static_cast<double>(to - from) + p[from];
    for (std::size_t i = from; i < to; ++i) {
      across += (s[i] - meanS[k]) * (p[i] - meanP[k]);
      spread += (s[i] - meanS[k]) * (s[i] - meanS[k]);
    }
  }
  const double slope = spread > 0.0 ? across / spread : robust;

  double squares = 0.0, largest = 0.0;
  for (std::size_t k = 0; k < stretches; ++k) {
    for (std::size_t i = stretchStart[k]; i < stretchStart[k + 1]; ++i) {
      const double residual = p[i] - (meanP[k] + slope * (s[i] - meanS[k]));
      squares += residual * residual;
      largest = std::max(largest, std::abs(residual));
    }
  }
  report.latencySamples = meanP[0] - slope * meanS[0];
  report.driftPpm = (slope / rateRatio - 1.0) * 1e6;
  report.jitterRmsSamples = std::sqrt(squares / static_cast<double>(n));
  report.jitterMaxSamples = largest;
  for (std::size_t k = 1; k < stretches; ++k) {
    const std::size_t i = stretchStart[k];
    report.discontinuities.push_back(
        {frames[i].number, (p[i] - p[i - 1]) - slope * (s[i] - s[i - 1])});
  }
}
