// Canonical 16-bit wave files with samples the test chooses: sines, clicks, silence.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <numbers>
#include <random>
#include <string>
#include <vector>

#include "tests/scratch_dir.h"
#include "wave/wave_header.h"

inline constexpr std::uint32_t kTestRate = 44100;

// A canonical file holding these interleaved samples.
inline Bytes WaveOfSamples(std::uint16_t channels, const std::vector<std::int16_t>& samples,
                           std::uint32_t rate = kTestRate) {
  const auto dataBytes = static_cast<std::uint32_t>(samples.size() * 2);
  const WaveHeader header = BuildWaveHeader({channels, rate, 16}, dataBytes);
  Bytes bytes(header.begin(), header.end());
  bytes.resize(header.size() + dataBytes);
  for (std::size_t i = 0; i < samples.size(); ++i) {
    PutLe16(&bytes[header.size() + 2 * i], static_cast<std::uint16_t>(samples[i]));
  }
  return bytes;
}

// frames of a sine with this period in frames (rising through zero at frame phase0), in every
// channel alike.
inline std::vector<std::int16_t> Sine(std::size_t frames, double period, int channels = 1,
                                      double amplitude = 20000, double phase0 = 0) {
  std::vector<std::int16_t> s;
  for (std::size_t f = 0; f < frames; ++f) {
    const double v = amplitude * std::sin(2 * std::numbers::pi * (f - phase0) / period);
    for (int c = 0; c < channels; ++c) s.push_back(static_cast<std::int16_t>(std::lround(v)));
  }
  return s;
}

// Stereo noise, low-passed so that it moves like music rather than hiss.
inline std::vector<std::int16_t> MusicLike(std::size_t frames, unsigned seed) {
  std::mt19937 random(seed);
  std::normal_distribution<double> noise(0, 6000);
  std::vector<std::int16_t> s;
  double left = 0, right = 0;
  for (std::size_t f = 0; f < frames; ++f) {
    left += 0.2 * (noise(random) - left);
    right += 0.2 * (noise(random) - right);
    s.push_back(static_cast<std::int16_t>(left * 3));
    s.push_back(static_cast<std::int16_t>(right * 3));
  }
  return s;
}

// The frames [from - half, from + half) copied to [to - half, to + half) of interleaved stereo:
// a loop ending at frame to - 1 then joins one starting at `from` without a seam.
inline void PlantSeamlessJoin(std::vector<std::int16_t>& stereo, std::size_t from, std::size_t to,
                              std::size_t half) {
  std::copy_n(stereo.begin() + static_cast<std::ptrdiff_t>((from - half) * 2), 4 * half,
              stereo.begin() + static_cast<std::ptrdiff_t>((to - half) * 2));
}
