// A small Goertzel DTMF decoder, the way a user's decoder meets a timecode file: it knows the
// eight standard tones and nothing about slots or frames.
#pragma once

#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <fstream>
#include <numbers>
#include <string>
#include <vector>

namespace dtmf {

inline constexpr std::array<double, 4> kRowHz = {697.0, 770.0, 852.0, 941.0};
inline constexpr std::array<double, 4> kColumnHz = {1209.0, 1336.0, 1477.0, 1633.0};

// Timecode symbol of each key by [row][column]: digits 1-9, 0 as 10, * 11, # 12, A-D 13-16.
inline constexpr int kSymbolOfKey[4][4] = {
    {1, 2, 3, 13}, {4, 5, 6, 14}, {7, 8, 9, 15}, {11, 10, 12, 16}};

// Half a burst: long enough to tell 697 Hz from 770 Hz apart, and every burst holds one whole
// block wherever the blocks fall.
inline constexpr std::size_t kBlockSamples = 900;
inline constexpr double kSilenceRms = 100.0;
// Each tone of a clean key carries about half of the block's energy.
inline constexpr double kMinToneShare = 0.3;
// The runner-up tone of a group must be this far below the winner.
inline constexpr double kMinDominance = 8.0;

// Share of the block's energy at frequency hz; 1 for a block holding only that sine.
inline double ToneShare(const std::int16_t* samples, std::size_t count, double hz, double rate,
                        double energy) {
  const double coefficient = 2.0 * std::cos(2.0 * std::numbers::pi * hz / rate);
  double s1 = 0.0;
  double s2 = 0.0;
  for (std::size_t i = 0; i < count; ++i) {
    const double s0 = samples[i] + coefficient * s1 - s2;
    s2 = s1;
    s1 = s0;
  }
  const double power = s1 * s1 + s2 * s2 - coefficient * s1 * s2;
  return 2.0 * power / (static_cast<double>(count) * energy);
}

// Index of the strongest tone of a group, or -1 when it is weak or not clearly ahead.
inline int StrongestTone(const std::array<double, 4>& group, const std::int16_t* samples,
                         std::size_t count, double rate, double energy) {
  std::array<double, 4> share{};
  int best = 0;
  for (int i = 0; i < 4; ++i) {
    share[i] = ToneShare(samples, count, group[i], rate, energy);
    if (share[i] > share[best]) best = i;
  }
  if (share[best] < kMinToneShare) return -1;
  for (int i = 0; i < 4; ++i) {
    if (i != best && share[i] * kMinDominance > share[best]) return -1;
  }
  return best;
}

// Symbol of the key heard in the block, 0 for silence or anything that is not one clean key.
inline int DetectSymbol(const std::int16_t* samples, std::size_t count, double rate) {
  double energy = 0.0;
  for (std::size_t i = 0; i < count; ++i) energy += static_cast<double>(samples[i]) * samples[i];
  if (count == 0 || energy < kSilenceRms * kSilenceRms * static_cast<double>(count)) return 0;
  const int row = StrongestTone(kRowHz, samples, count, rate, energy);
  const int column = StrongestTone(kColumnHz, samples, count, rate, energy);
  return row < 0 || column < 0 ? 0 : kSymbolOfKey[row][column];
}

// Reads a 16-bit mono wave file with the canonical 44-byte header, block by block, and returns
// the keys in the order heard; a key held over several blocks counts once.
inline std::vector<int> DecodeWaveFile(const std::string& path) {
  constexpr std::size_t kHeaderBytes = 44;
  constexpr std::size_t kSampleRateOffset = 24;
  std::ifstream in(path, std::ios::binary);
  std::array<std::uint8_t, kHeaderBytes> header{};
  in.read(reinterpret_cast<char*>(header.data()), header.size());
  const auto* rateBytes = header.data() + kSampleRateOffset;
  const double rate = rateBytes[0] | rateBytes[1] << 8 | rateBytes[2] << 16 | rateBytes[3] << 24;

  std::vector<int> symbols;
  std::array<std::uint8_t, kBlockSamples * 2> bytes{};
  std::array<std::int16_t, kBlockSamples> block{};
  int previous = 0;
  while (in.read(reinterpret_cast<char*>(bytes.data()), bytes.size()) || in.gcount() > 0) {
    const std::size_t count = static_cast<std::size_t>(in.gcount()) / 2;
    for (std::size_t i = 0; i < count; ++i) {
      block[i] = static_cast<std::int16_t>(bytes[2 * i] | bytes[2 * i + 1] << 8);
    }
    const int symbol = DetectSymbol(block.data(), count, rate);
    if (symbol != 0 && symbol != previous) symbols.push_back(symbol);
    previous = symbol;
  }
  return symbols;
}

}  // namespace dtmf
