#include "verify/signal/slot_reader.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "timecode_format/dtmf_burst.h"
#include "verify/signal/lane_sums.h"
#include "wave/wave_header.h"

namespace {

using lanes::Dot;
using lanes::Sum;

// The refinement is a Taylor step from the nearest sample; a guess further off than this moves
// to another sample first.
constexpr double kStepLimit = 0.75;
constexpr int kMaxMoves = 3;
constexpr int kMargin = 4;  // samples read either side of the burst, for the moves
// A shape is taken when it stands this many noise deviations above the runner-up: in white
// noise ten times the bursts' power a clean read misses about once in ten thousand slots.
constexpr double kDecisionSigmas = 3.0;
// The shape the grid expects there (the next frame's digits) is taken on a smaller lead: a
// wrong shape must then both win and be the one expected.
constexpr double kExpectedSigmas = 1.0;

// A slot confirmed without being read against the other bursts matches the one expected at
// least this well: what else it holds then has a fifth of its power at most, so no other burst
// could have won it.
constexpr double kClearMatch = 0.9;

// Whether view holds the `count` samples from `from` on: a slot read or placed past the samples
// at hand (a damaged recording can put a frame's grid there) reads as nothing.
// A burst is checked for a lost stretch in windows of this share of it, half overlapping, those
// that hold at least this share of a window's mean energy of it; a window lost holds less than
// this share of what the whole burst's match predicts, by this many deviations of the noise.
constexpr std::size_t kLossWindows = 40;
constexpr double kLossWindowEnergy = 0.5;
constexpr double kMostHeld = 0.4;
constexpr double kLostDeviations = 6.0;

bool Holds(const SampleView& view, std::int64_t from, std::size_t count) {
  return from >= view.first && from + static_cast<std::int64_t>(count) <= view.first + view.count;
}

// The burst's envelope at timecode sample u of a burst whose last sample is `last`, faded in
// and out over `fade` samples, and its first three derivatives.
void EnvelopeAt(double u, double last, int fade, double (&e)[4]) {
  const double w = std::numbers::pi / fade;
  const double fromStart = u, fromEnd = last - u;
  const double edge = std::min(fromStart, fromEnd);
  e[0] = 1.0;
  e[1] = e[2] = e[3] = 0.0;
  if (edge <= 0.0) {
    e[0] = 0.0;
  } else if (edge < fade) {
    const double sign = fromStart <= fromEnd ? 1.0 : -1.0;
    const double c = std::cos(w * edge), s = std::sin(w * edge);
    e[0] = 0.5 * (1.0 - c);
    e[1] = sign * 0.5 * w * s;
    e[2] = 0.5 * w * w * c;
    e[3] = -sign * 0.5 * w * w * w * s;
  }
}

}  // namespace

SlotReader::SlotReader(int timecodeRate, double samplesPerTimecodeSample)
    : m_ratio(samplesPerTimecodeSample) {
  const int fade = dtmf_burst::FadeSamples(timecodeRate);
  const double last = dtmf_burst::kBurstSamples - 1;
  const auto span = static_cast<std::size_t>(std::floor(last * m_ratio)) + 1;
  std::array<double, 8> tcOmega{};
  for (std::size_t t = 0; t < 8; ++t) {
    const double hz = t < 4 ? dtmf_burst::kRowHz[t] : dtmf_burst::kColumnHz[t - 4];
    tcOmega[t] = 2.0 * std::numbers::pi * hz / timecodeRate;
    m_omega[t] = tcOmega[t] / m_ratio;
    m_sin[t].resize(span);
    m_cos[t].resize(span);
  }
  for (Shape& shape : m_shapes) {
    shape.d1.resize(span);
    shape.d2.resize(span);
    shape.d3.resize(span);
  }
  const double amplitude = dtmf_burst::ToneAmplitude() / kPcm16FullScale;
  for (std::size_t m = 0; m < span; ++m) {
    const double u = static_cast<double>(m) / m_ratio;
    double e[4];
    EnvelopeAt(u, last, fade, e);
    // Each tone's sine and cosine once, for the sixteen bursts made of them.
    std::array<double, 8> sine{}, cosine{};
    for (std::size_t t = 0; t < 8; ++t) {
      sine[t] = std::sin(tcOmega[t] * u);
      cosine[t] = std::cos(tcOmega[t] * u);
      m_sin[t][m] = static_cast<float>(e[0] * sine[t]);
      m_cos[t][m] = static_cast<float>(e[0] * cosine[t]);
      m_norm[t] += e[0] * e[0] * sine[t] * sine[t];
    }
    for (std::size_t symbol = 0; symbol < m_shapes.size(); ++symbol) {
      const dtmf_burst::Key key = dtmf_burst::kKeyOfSymbol[symbol];
      m_bursts[symbol].push_back(m_sin[static_cast<std::size_t>(key.row)][m] +
                                 m_sin[4 + static_cast<std::size_t>(key.column)][m]);
      // Derivatives of the two tones together, then of their product with the envelope, each
      // carried from timecode samples to recording samples.
      double s[4] = {};
      for (const std::size_t t :
           {static_cast<std::size_t>(key.row), 4 + static_cast<std::size_t>(key.column)}) {
        const double a = tcOmega[t];
        s[0] += sine[t];
        s[1] += a * cosine[t];
        s[2] -= a * a * sine[t];
        s[3] -= a * a * a * cosine[t];
      }
      const double f1 = e[1] * s[0] + e[0] * s[1];
      const double f2 = e[2] * s[0] + 2.0 * e[1] * s[1] + e[0] * s[2];
      const double f3 = e[3] * s[0] + 3.0 * e[2] * s[1] + 3.0 * e[1] * s[2] + e[0] * s[3];
      Shape& shape = m_shapes[symbol];
      shape.d1[m] = static_cast<float>(amplitude * f1 / m_ratio);
      shape.d2[m] = static_cast<float>(amplitude * f2 / (m_ratio * m_ratio));
      shape.d3[m] = static_cast<float>(amplitude * f3 / (m_ratio * m_ratio * m_ratio));
    }
  }
  for (std::size_t symbol = 0; symbol < m_bursts.size(); ++symbol) {
    m_burstEnergy[symbol] = Dot(m_bursts[symbol].data(), m_bursts[symbol].data(), span);
  }
}

std::int64_t SlotReader::NeedFrom(double guess) const {
  return static_cast<std::int64_t>(std::floor(guess)) - kMargin - 1;
}

std::int64_t SlotReader::NeedTo(double guess) const {
  return static_cast<std::int64_t>(std::floor(guess)) + Span() + kMargin + 2;
}

lanes::Sums<4> SlotReader::SumsAt(const float* x, std::size_t index) const {
  const Shape& shape = m_shapes[index];
  const float* const runs[4] = {m_bursts[index].data(), shape.d1.data(), shape.d2.data(),
                                shape.d3.data()};
  return lanes::SumsWith(x, runs, static_cast<std::size_t>(Span()));
}

double SlotReader::FitFrom(const lanes::Sums<4>& at, std::size_t index, double d,
                           double polarity) const {
  // The burst moved by d, from its derivatives: to a millionth of its match within half a sample.
  const double match = polarity * (at.dot[0] - d * at.dot[1] + d * d / 2.0 * at.dot[2] -
                                   d * d * d / 6.0 * at.dot[3]);
  const double energy = at.squares - at.sum * at.sum / static_cast<double>(Span());
  if (match <= 0.0 || energy <= 0.0) return 0.0;
  return match * match / (energy * m_burstEnergy[index]);
}

SlotRead SlotReader::Place(const SampleView& view, int symbol, double guess,
                           double polarity) const {
  return PlaceFrom(view, symbol, guess, polarity, nullptr);
}

// `first`, where given, holds the sums at the sample nearest the guess, already taken.
SlotRead SlotReader::PlaceFrom(const SampleView& view, int symbol, double guess, double polarity,
                               const lanes::Sums<4>* first) const {
  SlotRead read;
  read.symbol = symbol;
  const auto index = static_cast<std::size_t>(symbol - 1);
  const auto n = static_cast<std::size_t>(Span());
  auto n0 = static_cast<std::int64_t>(std::lround(guess));
  const std::int64_t lowest = static_cast<std::int64_t>(std::floor(guess)) - kMargin;
  const std::int64_t highest = lowest + 2 * kMargin;
  for (int move = 0; move <= kMaxMoves; ++move) {
    if (!Holds(view, n0, n)) return read;
    const lanes::Sums<4> at = move == 0 && first != nullptr ? *first : SumsAt(view.At(n0), index);
    const double f1 = at.dot[1], f2 = at.dot[2], f3 = at.dot[3];
    // At the match's peak its second derivative has the sign of the burst's polarity reversed.
    if (f2 == 0.0 || polarity * f2 >= 0.0) return read;
    // The match's slope, as a Taylor series about n0, is zero at n0 + delta.
    const double firstStep = f1 / f2;
    const double delta = (f1 + 0.5 * firstStep * firstStep * f3) / f2;
    if (!std::isfinite(delta)) return read;
    if (std::abs(delta) <= kStepLimit) {
      read.position = static_cast<double>(n0) + delta;
      read.placed = true;
      // The sums at hand give the fit too, where the place rounds to the sample they were
      // taken at.
      if (std::lround(read.position) == n0) {
        read.fit = FitFrom(at, index, read.position - static_cast<double>(n0), polarity);
      }
      return read;
    }
    n0 += static_cast<std::int64_t>(std::lround(delta));
    if (n0 < lowest || n0 > highest) return read;
  }
  return read;
}

SlotRead SlotReader::Confirm(const SampleView& view, int symbol, double guess,
                             double polarity) const {
  if (symbol < 1 || symbol > static_cast<int>(m_bursts.size())) return {};
  const auto n = static_cast<std::size_t>(Span());
  const auto index = static_cast<std::size_t>(symbol - 1);
  if (!Holds(view, std::lround(guess), n)) return {};
  const lanes::Sums<4> at = SumsAt(view.At(std::lround(guess)), index);
  const double energy = at.squares - at.sum * at.sum / static_cast<double>(n);
  const double match = polarity * at.dot[0];
  if (match <= 0.0 || match * match < kClearMatch * kClearMatch * energy * m_burstEnergy[index]) {
    return {};
  }
  return PlaceFrom(view, symbol, guess, polarity, &at);
}

double SlotReader::Fit(const SampleView& view, int symbol, double position, double polarity) const {
  if (symbol < 1 || symbol > static_cast<int>(m_bursts.size())) return 0.0;
  const auto index = static_cast<std::size_t>(symbol - 1);
  const auto n0 = std::lround(position);
  // A burst the samples at hand do not hold (cut by the end of what was read) is not known to
  // be damaged: it has no fit.
  if (!Holds(view, n0, static_cast<std::size_t>(Span()))) return std::nan("");
  return FitFrom(SumsAt(view.At(n0), index), index, position - static_cast<double>(n0), polarity);
}

bool SlotReader::LostStretch(const SampleView& view, int symbol, double position,
                             double polarity) const {
  if (symbol < 1 || symbol > static_cast<int>(m_bursts.size())) return false;
  const auto index = static_cast<std::size_t>(symbol - 1);
  const auto n = static_cast<std::size_t>(Span());
  const auto n0 = std::lround(position);
  if (!Holds(view, n0, n)) return false;
  const double d = position - static_cast<double>(n0);
  const float* x = view.At(n0);
  const Shape& shape = m_shapes[index];
  // The burst moved by d, sample by sample, and the gain that matches it to the samples.
  std::vector<double> burst(n);
  double across = 0.0, energy = 0.0;
  for (std::size_t i = 0; i < n; ++i) {
    burst[i] = polarity * (m_bursts[index][i] - d * shape.d1[i] + d * d / 2.0 * shape.d2[i]);
    across += x[i] * burst[i];
    energy += burst[i] * burst[i];
  }
  if (!(across > 0.0 && energy > 0.0)) return false;
  const double gain = across / energy;
  double noise = 0.0;
  for (std::size_t i = 0; i < n; ++i) noise += (x[i] - gain * burst[i]) * (x[i] - gain * burst[i]);
  const double deviation = std::sqrt(noise / static_cast<double>(n));
  const std::size_t window = std::max<std::size_t>(n / kLossWindows, 1);
  const double meanEnergy = energy * static_cast<double>(window) / static_cast<double>(n);
  for (std::size_t from = 0; from + window <= n; from += window / 2 + 1) {
    double part = 0.0, partEnergy = 0.0;
    for (std::size_t i = from; i < from + window; ++i) {
      part += x[i] * burst[i];
      partEnergy += burst[i] * burst[i];
    }
    // The burst's fades hold too little of it to tell against the noise.
    if (partEnergy < kLossWindowEnergy * meanEnergy) continue;
    const double held = part / (gain * partEnergy);
    const double deviations = (gain * partEnergy - part) / (deviation * std::sqrt(partEnergy));
    if (held < kMostHeld && deviations > kLostDeviations) return true;
  }
  return false;
}

SlotRead SlotReader::Read(const SampleView& view, double guess, double polarity,
                          int expected) const {
  const auto n0 = static_cast<std::int64_t>(std::floor(guess));
  const double d = guess - static_cast<double>(n0);
  const auto n = static_cast<std::size_t>(Span());
  if (!Holds(view, n0, n)) return {};
  const float* x = view.At(n0);
  double sum = 0.0, squares = 0.0;
  for (std::size_t i = 0; i < n; ++i) {
    sum += x[i];
    squares += static_cast<double>(x[i]) * x[i];
  }
  const double mean = sum / static_cast<double>(n);
  const double energy = squares - sum * mean;
  // Each tone matched at the guessed sub-sample start: the shifted sine is a mix of the
  // tabulated sine and cosine.
  std::array<double, 8> tone{};
  for (std::size_t t = 0; t < 8; ++t) {
    const double s = Dot(x, m_sin[t].data(), n);
    const double c = Dot(x, m_cos[t].data(), n);
    tone[t] = polarity * (std::cos(m_omega[t] * d) * s - std::sin(m_omega[t] * d) * c);
  }
  int best = 0, second = 0;
  std::array<double, 16> score{};
  for (std::size_t symbol = 0; symbol < score.size(); ++symbol) {
    const dtmf_burst::Key key = dtmf_burst::kKeyOfSymbol[symbol];
    score[symbol] =
        tone[static_cast<std::size_t>(key.row)] + tone[4 + static_cast<std::size_t>(key.column)];
  }
  for (std::size_t symbol = 1; symbol < score.size(); ++symbol) {
    if (score[symbol] > score[static_cast<std::size_t>(best)]) best = static_cast<int>(symbol);
  }
  second = best == 0 ? 1 : 0;
  for (std::size_t symbol = 0; symbol < score.size(); ++symbol) {
    if (static_cast<int>(symbol) != best && score[symbol] > score[static_cast<std::size_t>(second)])
      second = static_cast<int>(symbol);
  }
  const dtmf_burst::Key key = dtmf_burst::kKeyOfSymbol[static_cast<std::size_t>(best)];
  const auto row = static_cast<std::size_t>(key.row);
  const auto column = 4 + static_cast<std::size_t>(key.column);
  // What the two tones do not explain is noise; the runner-up differs from the winner by one
  // tone's match at least, whose noise has this deviation.
  const double explained =
      tone[row] * tone[row] / m_norm[row] + tone[column] * tone[column] / m_norm[column];
  const double noise = std::max(0.0, energy - explained) / static_cast<double>(n);
  const double deviation = std::sqrt(noise * (m_norm[row] + m_norm[column]));
  const double lead =
      score[static_cast<std::size_t>(best)] - score[static_cast<std::size_t>(second)];
  SlotRead read;
  const double needed = best + 1 == expected ? kExpectedSigmas : kDecisionSigmas;
  if (score[static_cast<std::size_t>(best)] <= 0.0 || lead <= needed * deviation) {
    return read;
  }
  return Place(view, best + 1, guess, polarity);
}

std::int64_t SlotReader::FrameReach(std::size_t bursts, double slot, int radius,
                                    double slotError) const {
  // As LocateBursts reads: the last burst from its place 2k slots on, give or take the radius
  // and k drifts of a pair of slots, each drift rounded up on its own.
  const auto last = static_cast<std::int64_t>(bursts) - 1;
  const auto drift = static_cast<std::int64_t>(std::ceil(2.0 * slot * slotError));
  return std::lround(2.0 * static_cast<double>(last) * slot) + last * drift + radius + Span() + 2;
}

double SlotReader::LocateBursts(const SampleView& view, const int* symbols, std::size_t count,
                                double guess, int radius, double slotError, double& slot,
                                double& correlation) const {
  const auto n = static_cast<std::size_t>(Span());
  const auto origin = static_cast<std::int64_t>(std::lround(guess));
  // Each burst matched at every start it may take: burst k lies 2k slots on, give or take k
  // times the drift of one pair of slots.
  const auto drift = static_cast<int>(std::ceil(2.0 * slot * slotError));
  std::vector<std::vector<double>> match(count);
  std::vector<std::int64_t> from(count);
  double templateEnergy = 0.0;
  for (std::size_t k = 0; k < count; ++k) {
    const std::vector<float>& burst = m_bursts[static_cast<std::size_t>(symbols[k] - 1)];
    templateEnergy += Dot(burst.data(), burst.data(), n);
    const auto reach = radius + static_cast<int>(k) * drift;
    from[k] = origin + std::lround(2.0 * static_cast<double>(k) * slot) - reach;
    match[k].resize(static_cast<std::size_t>(2 * reach + 1));
    for (std::size_t i = 0; i < match[k].size(); ++i) {
      match[k][i] = Dot(view.At(from[k] + static_cast<std::int64_t>(i)), burst.data(), n);
    }
  }
  double best = 0.0;
  std::int64_t bestAt = origin;
  int bestDrift = 0;
  for (int d = -drift; d <= drift; ++d) {
    for (int t = -radius; t <= radius; ++t) {
      double sum = 0.0;
      for (std::size_t k = 0; k < count; ++k) {
        const auto reach = radius + static_cast<int>(k) * drift;
        sum += match[k][static_cast<std::size_t>(t + static_cast<int>(k) * d + reach)];
      }
      if (std::abs(sum) > std::abs(best)) {
        best = sum;
        bestAt = origin + t;
        bestDrift = d;
      }
    }
  }
  double energy = 0.0;
  for (std::size_t k = 0; k < count; ++k) {
    const auto reach = radius + static_cast<int>(k) * drift;
    const float* x = view.At(from[k] + (bestAt - origin) + static_cast<int>(k) * bestDrift + reach);
    energy += Dot(x, x, n);
  }
  correlation = energy > 0.0 ? best / std::sqrt(energy * templateEnergy) : 0.0;
  slot += 0.5 * bestDrift;
  return static_cast<double>(bestAt);
}
