#include "verify/burst_locator.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>

#include "layout/dtmf_burst.h"
#include "verify/float_vector.h"

namespace {

using float_vector::Floats4;
using float_vector::Load4;

// Two doubles in one vector register.
typedef double Doubles2 __attribute__((vector_size(16)));

Doubles2 Load2(const double* from) {
  Doubles2 value;
  std::memcpy(&value, from, sizeof value);
  return value;
}

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

  const double du = 1.0 / m_ratio;
  for (std::size_t k = 0; k <= span; ++k) {
    const double u = static_cast<double>(k) * du;
    m_rowCos.push_back(std::cos(m_rowStep * u));
    m_rowSin.push_back(std::sin(m_rowStep * u));
    m_columnCos.push_back(std::cos(m_columnStep * u));
    m_columnSin.push_back(std::sin(m_columnStep * u));
  }
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
  // Eight running sums, held as two vectors of four: every sum gets the same products in the
  // same order as a plain loop would give it, only four at a time.
  Floats4 low = {}, high = {};
  std::size_t k = 0;
  for (; k + 8 <= n; k += 8) {
    low += Load4(x + k) * Load4(ref + k);
    high += Load4(x + k + 4) * Load4(ref + k + 4);
  }
  double total = 0.0;
  for (; k < n; ++k) total += static_cast<double>(x[k]) * ref[k];
  for (int j = 0; j < 4; ++j) total += low[j];
  for (int j = 0; j < 4; ++j) total += high[j];
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

  // Each tone at sample i is its tabled value at i turned by the tone's angle at u0, so no
  // sample waits on the one before it; only the fades call the trigonometric functions.
  const double du = 1.0 / m_ratio;
  const double u0 = (static_cast<double>(first) - tau) * du;
  const double a = m_rowStep, b = m_columnStep;
  const double rowCos = std::cos(a * u0), rowSin = std::sin(a * u0);
  const double colCos = std::cos(b * u0), colSin = std::sin(b * u0);
  const double w = std::numbers::pi / m_fadeSamples;
  const double amplitude = dtmf_burst::ToneAmplitude() / dtmf_burst::kFullScale;
  const double* tableRowCos = m_rowCos.data();
  const double* tableRowSin = m_rowSin.data();
  const double* tableColCos = m_columnCos.data();
  const double* tableColSin = m_columnSin.data();
  const double fade = m_fadeSamples;
  auto fromStartAt = [&](std::size_t i) { return u0 + static_cast<double>(i) * du; };
  auto inFade = [&](std::size_t i) {
    const double u = fromStartAt(i);
    return std::min(u, kLastBurstSample - u) < fade;
  };
  // Samples [middleFrom, middleTo) lie between the fades, where the envelope is 1.
  std::size_t middleFrom = 0;
  while (middleFrom < n && inFade(middleFrom)) ++middleFrom;
  std::size_t middleTo = n;
  while (middleTo > middleFrom && inFade(middleTo - 1)) --middleTo;

  auto edge = [&](std::size_t i) {
    const double rc = rowCos * tableRowCos[i] - rowSin * tableRowSin[i];
    const double rs = rowSin * tableRowCos[i] + rowCos * tableRowSin[i];
    const double cc = colCos * tableColCos[i] - colSin * tableColSin[i];
    const double cs = colSin * tableColCos[i] + colCos * tableColSin[i];
    const double s = rs + cs;
    const double s1 = a * rc + b * cc;
    const double s2 = -a * a * rs - b * b * cs;
    double e = 0.0, e1 = 0.0, e2 = 0.0;
    const double fromStart = fromStartAt(i), fromEnd = kLastBurstSample - fromStart;
    const double fromEdge = std::min(fromStart, fromEnd);
    if (fromEdge > 0.0) {
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
  };
  for (std::size_t i = 0; i < middleFrom; ++i) edge(i);
  for (std::size_t i = middleTo; i < n; ++i) edge(i);

  // Between the fades, two samples at a time in vector registers; the amplitude is applied
  // once at the end.
  Doubles2 xf = {}, xf1 = {}, xf2 = {}, ff = {}, xx = {};
  const double aa = a * a, bb = b * b;
  std::size_t i = middleFrom;
  for (; i + 2 <= middleTo; i += 2) {
    const Doubles2 xi = Doubles2{x[i], x[i + 1]} - mean;
    const Doubles2 trc = Load2(tableRowCos + i), trs = Load2(tableRowSin + i);
    const Doubles2 tcc = Load2(tableColCos + i), tcs = Load2(tableColSin + i);
    const Doubles2 rc = rowCos * trc - rowSin * trs;
    const Doubles2 rs = rowSin * trc + rowCos * trs;
    const Doubles2 cc = colCos * tcc - colSin * tcs;
    const Doubles2 cs = colSin * tcc + colCos * tcs;
    const Doubles2 s = rs + cs;
    xf += xi * s;
    xf1 += xi * (a * rc + b * cc);
    xf2 += xi * (-aa * rs - bb * cs);
    ff += s * s;
    xx += xi * xi;
  }
  double middle[5] = {xf[0] + xf[1], xf1[0] + xf1[1], xf2[0] + xf2[1], ff[0] + ff[1],
                      xx[0] + xx[1]};
  for (; i < middleTo; ++i) {
    const double xi = x[i] - mean;
    const double rc = rowCos * tableRowCos[i] - rowSin * tableRowSin[i];
    const double rs = rowSin * tableRowCos[i] + rowCos * tableRowSin[i];
    const double cc = colCos * tableColCos[i] - colSin * tableColSin[i];
    const double cs = colSin * tableColCos[i] + colCos * tableColSin[i];
    const double s = rs + cs;
    middle[0] += xi * s;
    middle[1] += xi * (a * rc + b * cc);
    middle[2] += xi * (-aa * rs - bb * cs);
    middle[3] += s * s;
    middle[4] += xi * xi;
  }
  sums.xf += amplitude * middle[0];
  sums.xf1 += amplitude * middle[1];
  sums.xf2 += amplitude * middle[2];
  sums.ff += amplitude * amplitude * middle[3];
  sums.xx += middle[4];
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
