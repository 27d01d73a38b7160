#include "verify/burst_locator.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "layout/dtmf_burst.h"

namespace {

// The energy onset that gives the guess is good to a few samples, to a few more in noise.
constexpr double kSearchSeconds = 0.0004;
constexpr int kSearchMargin = 6;
// Near the true start the match stays within a few percent of its peak for an eighth of a
// cycle of the highest tone either way, while its other peaks fall far lower: a search at that
// stride cannot miss the right peak.
constexpr double kHighestHz = 1633.0;
constexpr double kStrideCycles = 8.0;
constexpr int kNewtonSteps = 4;
// A step this small leaves an error far below a thousandth of a sample.
constexpr double kConverged = 1e-3;
// The level given to a burst of digital silence, finite so every output can print it.
constexpr double kSilentDbfs = -200.0;
constexpr double kLastBurstSample = dtmf_burst::kBurstSamples - 1;

}  // namespace

BurstLocator::BurstLocator(int symbol, int timecodeRate, int recordingRate, double speed)
    : m_ratio(static_cast<double>(recordingRate) / timecodeRate / speed),
      m_fadeSamples(dtmf_burst::FadeSamples(timecodeRate)),
      m_radius(static_cast<int>(std::ceil(kSearchSeconds * recordingRate)) + kSearchMargin),
      m_stride(std::max(1, static_cast<int>(recordingRate / (kStrideCycles * kHighestHz)))) {
  const dtmf_burst::Key key = dtmf_burst::kKeyOfSymbol[static_cast<std::size_t>(symbol - 1)];
  m_rowStep =
      2.0 * std::numbers::pi * dtmf_burst::kRowHz[static_cast<std::size_t>(key.row)] / timecodeRate;
  m_columnStep = 2.0 * std::numbers::pi *
                 dtmf_burst::kColumnHz[static_cast<std::size_t>(key.column)] / timecodeRate;

  const auto span = static_cast<std::size_t>(std::floor(kLastBurstSample * m_ratio)) + 1;
  m_reference.resize(span);
  double sum = 0.0;
  for (std::size_t k = 0; k < span; ++k) {
    const double value =
        dtmf_burst::BurstValue(symbol, timecodeRate, static_cast<double>(k) / m_ratio) /
        dtmf_burst::kFullScale;
    m_reference[k] = static_cast<float>(value);
    sum += value;
  }
  // Without its mean the match ignores any DC offset in the recording.
  const auto mean = static_cast<float>(sum / static_cast<double>(span));
  for (float& value : m_reference) value -= mean;
}

std::int64_t BurstLocator::NeedFrom(double guess) const {
  return static_cast<std::int64_t>(std::floor(guess)) - m_radius - 2;
}

std::int64_t BurstLocator::NeedTo(double guess) const {
  return static_cast<std::int64_t>(std::floor(guess)) + m_radius + Span() + 3;
}

double BurstLocator::MatchAt(const SampleView& view, std::int64_t tau) const {
  const float* x = view.At(tau);
  const float* ref = m_reference.data();
  const std::size_t n = m_reference.size();
  // Eight running sums the compiler can keep in one or two vector registers.
  float acc[8] = {};
  std::size_t k = 0;
  for (; k + 8 <= n; k += 8) {
    for (int j = 0; j < 8; ++j) acc[j] += x[k + j] * ref[k + j];
  }
  double total = 0.0;
  for (; k < n; ++k) total += static_cast<double>(x[k]) * ref[k];
  for (const float a : acc) total += a;
  return total;
}

BurstLocator::Sums BurstLocator::Evaluate(const SampleView& view, double tau) const {
  const auto first = static_cast<std::int64_t>(std::ceil(tau));
  const auto last = static_cast<std::int64_t>(std::floor(tau + kLastBurstSample * m_ratio));
  Sums sums;
  if (last < first) return sums;
  const float* x = view.At(first);
  const auto n = static_cast<std::size_t>(last - first + 1);
  double mean = 0.0;
  for (std::size_t i = 0; i < n; ++i) mean += x[i];
  mean /= static_cast<double>(n);

  // Both tones advance by rotation, so only the fades call the trigonometric functions.
  const double du = 1.0 / m_ratio;
  const double u0 = (static_cast<double>(first) - tau) * du;
  const double rowCos = std::cos(m_rowStep * du), rowSin = std::sin(m_rowStep * du);
  const double colCos = std::cos(m_columnStep * du), colSin = std::sin(m_columnStep * du);
  double rc = std::cos(m_rowStep * u0), rs = std::sin(m_rowStep * u0);
  double cc = std::cos(m_columnStep * u0), cs = std::sin(m_columnStep * u0);
  const double a = m_rowStep, b = m_columnStep;
  const double w = std::numbers::pi / m_fadeSamples;
  const double amplitude = dtmf_burst::ToneAmplitude() / dtmf_burst::kFullScale;
  for (std::size_t i = 0; i < n; ++i) {
    const double u = u0 + static_cast<double>(i) * du;
    const double s = rs + cs;
    const double s1 = a * rc + b * cc;
    const double s2 = -a * a * rs - b * b * cs;
    double e = 1.0, e1 = 0.0, e2 = 0.0;
    const double fromStart = u, fromEnd = kLastBurstSample - u;
    const double fromEdge = std::min(fromStart, fromEnd);
    if (fromEdge <= 0.0) {
      e = 0.0;
    } else if (fromEdge < m_fadeSamples) {
      const double sign = fromStart <= fromEnd ? 1.0 : -1.0;
      const double c = std::cos(w * fromEdge);
      e = 0.5 * (1.0 - c);
      e1 = sign * 0.5 * w * std::sin(w * fromEdge);
      e2 = 0.5 * w * w * c;
    }
    const double f = amplitude * e * s;
    const double f1 = amplitude * (e1 * s + e * s1);
    const double f2 = amplitude * (e2 * s + 2.0 * e1 * s1 + e * s2);
    const double xi = x[i] - mean;
    sums.xf += xi * f;
    sums.xf1 += xi * f1;
    sums.xf2 += xi * f2;
    sums.ff += f * f;
    sums.xx += xi * xi;

    const double nrc = rc * rowCos - rs * rowSin;
    rs = rs * rowCos + rc * rowSin;
    rc = nrc;
    const double ncc = cc * colCos - cs * colSin;
    cs = cs * colCos + cc * colSin;
    cc = ncc;
  }
  sums.count = static_cast<int>(n);
  return sums;
}

BurstMatch BurstLocator::Locate(const SampleView& view, double guess) const {
  BurstMatch match;
  const auto centre = static_cast<std::int64_t>(std::floor(guess));
  const std::int64_t lo = centre - m_radius;
  const std::int64_t hi = centre + m_radius;
  // Every m_stride-th start first, then every start around the best of them.
  std::vector<double> c(static_cast<std::size_t>(hi - lo + 1), 0.0);
  std::vector<bool> done(c.size(), false);
  auto at = [&](std::size_t k) {
    if (!done[k]) {
      c[k] = MatchAt(view, lo + static_cast<std::int64_t>(k));
      done[k] = true;
    }
    return std::abs(c[k]);
  };
  std::size_t best = 0;
  for (std::size_t k = 0; k < c.size(); k += static_cast<std::size_t>(m_stride)) {
    if (at(k) > at(best)) best = k;
  }
  const std::size_t coarse = best;
  const std::size_t from = coarse >= static_cast<std::size_t>(m_stride) ? coarse - m_stride + 1 : 0;
  const std::size_t to = std::min(c.size() - 1, coarse + m_stride - 1);
  for (std::size_t k = from; k <= to; ++k) {
    if (at(k) > at(best)) best = k;
  }
  if (best > 0) at(best - 1);
  if (best + 1 < c.size()) at(best + 1);
  // A peak on the edge of the search lies outside it: the guess was wrong.
  if (best == 0 || best + 1 == c.size() || c[best] == 0.0) return match;
  const double sign = c[best] > 0 ? 1.0 : -1.0;
  const double left = sign * c[best - 1], mid = sign * c[best], right = sign * c[best + 1];
  const double curvature = left - 2.0 * mid + right;
  double tau = static_cast<double>(lo + static_cast<std::int64_t>(best));
  if (curvature < 0.0) tau += 0.5 * (left - right) / curvature;

  // Newton's method on the continuous match: its slope is zero at the true start. Each step
  // squares the error, so the last step's sums serve for the correlation and level as well.
  const double start = tau;
  Sums sums;
  for (int step = 0; step < kNewtonSteps; ++step) {
    sums = Evaluate(view, tau);
    if (sums.xf2 == 0.0) break;
    const double move = m_ratio * sums.xf1 / sums.xf2;
    // Newton stays within a sample of the integer peak, inside what NeedFrom and NeedTo cover.
    if (!std::isfinite(move) || std::abs(tau + move - start) > 1.0) break;
    tau += move;
    if (std::abs(move) < kConverged) break;
  }
  if (sums.count == 0 || sums.ff <= 0.0) return match;
  match.found = true;
  match.position = tau;
  match.correlation = sums.xx > 0.0 ? sums.xf / std::sqrt(sums.xx * sums.ff) : 0.0;
  const double meanSquare = sums.xx / sums.count;
  match.levelDbfs = meanSquare > 0.0 ? 10.0 * std::log10(meanSquare) : kSilentDbfs;
  return match;
}
