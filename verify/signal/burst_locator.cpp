#include "verify/signal/burst_locator.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>
#include <optional>

#include "timecode_format/dtmf_burst.h"
#include "verify/signal/float_vector.h"
#include "wave/wave_header.h"

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
        kPcm16FullScale;
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

BurstLocator::Placement BurstLocator::Place(const SampleView& view, double tau) const {
  Placement at;
  const auto first = static_cast<std::int64_t>(std::ceil(tau));
  const auto last = static_cast<std::int64_t>(std::floor(tau + kLastBurstSample * m_ratio));
  if (last < first) return at;
  at.x = view.At(first);
  at.n = static_cast<std::size_t>(last - first + 1);
  for (std::size_t i = 0; i < at.n; ++i) at.mean += at.x[i];
  at.mean /= static_cast<double>(at.n);
  at.du = 1.0 / m_ratio;
  at.u0 = (static_cast<double>(first) - tau) * at.du;
  at.rowCos = std::cos(m_rowStep * at.u0);
  at.rowSin = std::sin(m_rowStep * at.u0);
  at.columnCos = std::cos(m_columnStep * at.u0);
  at.columnSin = std::sin(m_columnStep * at.u0);
  return at;
}

void BurstLocator::AddFading(const Placement& at, std::size_t i, Sums& sums) const {
  const double a = m_rowStep, b = m_columnStep;
  // The two tones at sample i: the tabled ones turned by the tones' angles at the first sample.
  const double rc = at.rowCos * m_rowCos[i] - at.rowSin * m_rowSin[i];
  const double rs = at.rowSin * m_rowCos[i] + at.rowCos * m_rowSin[i];
  const double cc = at.columnCos * m_columnCos[i] - at.columnSin * m_columnSin[i];
  const double cs = at.columnSin * m_columnCos[i] + at.columnCos * m_columnSin[i];
  // Tones s, and their first and second derivatives in the burst's own time.
  const double s = rs + cs;
  const double s1 = a * rc + b * cc;
  const double s2 = -a * a * rs - b * b * cs;
  // The raised-cosine fade e and its derivatives; the burst is their product.
  const double w = std::numbers::pi / m_fadeSamples;
  double e = 0.0, e1 = 0.0, e2 = 0.0;
  const double fromStart = at.u0 + static_cast<double>(i) * at.du;
  const double fromEnd = kLastBurstSample - fromStart;
  const double fromEdge = std::min(fromStart, fromEnd);
  if (fromEdge > 0.0) {
    const double sign = fromStart <= fromEnd ? 1.0 : -1.0;
    const double c = std::cos(w * fromEdge);
    e = 0.5 * (1.0 - c);
    e1 = sign * 0.5 * w * std::sin(w * fromEdge);
    e2 = 0.5 * w * w * c;
  }
  const double amplitude = dtmf_burst::ToneAmplitude() / kPcm16FullScale;
  const double f = amplitude * e * s;
  const double f1 = amplitude * (e1 * s + e * s1);
  const double f2 = amplitude * (e2 * s + 2.0 * e1 * s1 + e * s2);
  const double xi = at.x[i] - at.mean;
  sums.xf += xi * f;
  sums.xf1 += xi * f1;
  sums.xf2 += xi * f2;
  sums.ff += f * f;
  sums.xx += xi * xi;
}

void BurstLocator::AddMiddle(const Placement& at, std::size_t from, std::size_t to,
                             Sums& sums) const {
  // The same sums as AddFading with the envelope at 1, two samples at a time in vector
  // registers; the amplitude is applied once at the end.
  const double a = m_rowStep, b = m_columnStep;
  const double aa = a * a, bb = b * b;
  const double* tableRowCos = m_rowCos.data();
  const double* tableRowSin = m_rowSin.data();
  const double* tableColCos = m_columnCos.data();
  const double* tableColSin = m_columnSin.data();
  const double rowCos = at.rowCos, rowSin = at.rowSin;
  const double colCos = at.columnCos, colSin = at.columnSin;
  const float* x = at.x;
  const double mean = at.mean;
  Doubles2 xf = {}, xf1 = {}, xf2 = {}, ff = {}, xx = {};
  std::size_t i = from;
  for (; i + 2 <= to; i += 2) {
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
  for (; i < to; ++i) {
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
  const double amplitude = dtmf_burst::ToneAmplitude() / kPcm16FullScale;
  sums.xf += amplitude * middle[0];
  sums.xf1 += amplitude * middle[1];
  sums.xf2 += amplitude * middle[2];
  sums.ff += amplitude * amplitude * middle[3];
  sums.xx += middle[4];
}

BurstLocator::Sums BurstLocator::Evaluate(const SampleView& view, double tau) const {
  Sums sums;
  const Placement at = Place(view, tau);
  if (at.n == 0) return sums;
  auto inFade = [&](std::size_t i) {
    const double u = at.u0 + static_cast<double>(i) * at.du;
    return std::min(u, kLastBurstSample - u) < m_fadeSamples;
  };
  // Samples [middleFrom, middleTo) lie between the fades, where the envelope is 1.
  std::size_t middleFrom = 0;
  while (middleFrom < at.n && inFade(middleFrom)) ++middleFrom;
  std::size_t middleTo = at.n;
  while (middleTo > middleFrom && inFade(middleTo - 1)) --middleTo;
  for (std::size_t i = 0; i < middleFrom; ++i) AddFading(at, i, sums);
  for (std::size_t i = middleTo; i < at.n; ++i) AddFading(at, i, sums);
  AddMiddle(at, middleFrom, middleTo, sums);
  sums.count = static_cast<int>(at.n);
  return sums;
}

std::optional<double> BurstLocator::WholePeak(const SampleView& view, double guess) const {
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
  if (best == 0 || best + 1 == c.size() || c[best] == 0.0) return std::nullopt;
  const double sign = c[best] > 0 ? 1.0 : -1.0;
  const double left = sign * c[best - 1], mid = sign * c[best], right = sign * c[best + 1];
  const double curvature = left - 2.0 * mid + right;
  double tau = static_cast<double>(lo + static_cast<std::int64_t>(best));
  // The vertex of the parabola through the three matches at -1, 0 and +1.
  if (curvature < 0.0) tau += 0.5 * (left - right) / curvature;
  return tau;
}

BurstMatch BurstLocator::Locate(const SampleView& view, double guess) const {
  BurstMatch match;
  const std::optional<double> peak = WholePeak(view, guess);
  if (!peak) return match;
  // Newton's method on the continuous match: its slope is zero at the true start. Each step
  // squares the error, so the last step's sums serve for the correlation and level as well.
  double tau = *peak;
  Sums sums;
  for (int step = 0; step < kNewtonSteps; ++step) {
    sums = Evaluate(view, tau);
    if (sums.xf2 == 0.0) break;
    // The match M(tau) sums x(i) f((i - tau) / ratio), so M' = -xf1 / ratio and
    // M'' = xf2 / ratio^2, and Newton's tau - M' / M'' moves tau by ratio * xf1 / xf2.
    const double move = m_ratio * sums.xf1 / sums.xf2;
    // Newton stays within a sample of the integer peak, inside what NeedFrom and NeedTo cover.
    if (!std::isfinite(move) || std::abs(tau + move - *peak) > 1.0) break;
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
