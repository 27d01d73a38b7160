// The shape of every tone bank burst: which DTMF key stands for each symbol, the two tones' level
// and the fade at both ends. The bank synthesiser writes these bursts rounded to 16 bits; the
// verifier evaluates the same curve between samples to find where a recorded burst begins.
#pragma once

#include <algorithm>
#include <array>
#include <cmath>
#include <numbers>

#include "timecode_format/timecode_layout.h"
#include "wave/wave_header.h"

namespace dtmf_burst {

// Each burst fills a slot.
inline constexpr int kBurstSamples = kSlotSamples;
inline constexpr double kFadeSeconds = 0.002;
// The two tones add up to about -3 dBFS at their common peak, so a burst never clips.
inline constexpr double kSumPeakDb = -3.0;

inline constexpr std::array<double, 4> kRowHz = {697.0, 770.0, 852.0, 941.0};
inline constexpr std::array<double, 4> kColumnHz = {1209.0, 1336.0, 1477.0, 1633.0};

struct Key {
  int row;
  int column;
};

// Timecode symbol of each key by [row][column]: digits 1-9, 0 as 10, * 11, # 12, A-D 13-16.
inline constexpr int kSymbolOfKey[4][4] = {
    {1, 2, 3, 13}, {4, 5, 6, 14}, {7, 8, 9, 15}, {11, 10, 12, 16}};

// The key of each symbol, symbol 1 first: the table above read the other way.
inline constexpr std::array<Key, kSymbolCount> kKeyOfSymbol = [] {
  std::array<Key, kSymbolCount> keys{};
  for (int row = 0; row < 4; ++row) {
    for (int column = 0; column < 4; ++column) {
      keys[static_cast<std::size_t>(kSymbolOfKey[row][column] - 1)] = {row, column};
    }
  }
  return keys;
}();

// Peak of each of the two tones, in 16-bit sample units. The level is taken against the largest
// positive sample, 2^15 - 1, as the tone banks have always been made: measuring it against 2^15
// would move samples of every bank, and so of every TC.wav, by one step.
inline double ToneAmplitude() {
  return (kPcm16FullScale - 1.0) * std::pow(10.0, kSumPeakDb / 20.0) / 2.0;
}

inline int FadeSamples(int sampleRate) {
  return static_cast<int>(std::lround(kFadeSeconds * sampleRate));
}

// Raised-cosine fade at both ends: the burst starts and ends on zero, so slots placed side by
// side or next to silence make no click a decoder could mistake for energy. t is the sample
// index within the burst and may lie between samples.
inline double Envelope(double t, int fadeSamples) {
  const double fromEdge = std::min(t, kBurstSamples - 1 - t);
  if (fromEdge >= fadeSamples) return 1.0;
  if (fromEdge <= 0.0) return 0.0;
  return 0.5 * (1.0 - std::cos(std::numbers::pi * fromEdge / fadeSamples));
}

// Value of the burst of `symbol` (1..16) at sample index t of a bank at sampleRate.
inline double BurstValue(int symbol, int sampleRate, double t) {
  const Key key = kKeyOfSymbol[static_cast<std::size_t>(symbol - 1)];
  const double rowStep =
      2.0 * std::numbers::pi * kRowHz[static_cast<std::size_t>(key.row)] / sampleRate;
  const double columnStep =
      2.0 * std::numbers::pi * kColumnHz[static_cast<std::size_t>(key.column)] / sampleRate;
  const double tones = std::sin(rowStep * t) + std::sin(columnStep * t);
  return ToneAmplitude() * Envelope(t, FadeSamples(sampleRate)) * tones;
}

}  // namespace dtmf_burst
