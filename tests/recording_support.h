// Recordings for the verifier's tests: TC.wav made by the project's own generator, changed the
// way a playback chain changes it (resampled, shifted, cut, mixed), written through libsndfile.
#pragma once

#include <gtest/gtest.h>
#include <sndfile.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <numbers>
#include <random>
#include <string>
#include <vector>

#include "timecode/timecode_generator.h"

using Samples = std::vector<float>;

// One channel of samples at a rate.
// Short names for the two types, which nearly every recording here names.
inline constexpr TimecodeType kTypeS = TimecodeType::dtmfS;
inline constexpr TimecodeType kTypeF = TimecodeType::dtmfF;

struct Recording {
  Samples samples;
  int rate = 0;
};

// Reads a whole (short) file's first channel.
inline Recording ReadRecording(const std::string& path) {
  SF_INFO info{};
  SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
  if (file == nullptr) return {};
  Samples all(static_cast<std::size_t>(info.frames * info.channels));
  sf_readf_float(file, all.data(), info.frames);
  sf_close(file);
  Recording recording;
  recording.rate = info.samplerate;
  for (std::size_t i = 0; i < all.size(); i += static_cast<std::size_t>(info.channels)) {
    recording.samples.push_back(all[i]);
  }
  return recording;
}

// Writes channels of equal length, interleaved, in the given libsndfile format.
inline void WriteRecording(const std::string& path, const std::vector<Samples>& channels, int rate,
                           int format = SF_FORMAT_WAV | SF_FORMAT_PCM_16) {
  SF_INFO info{};
  info.samplerate = rate;
  info.channels = static_cast<int>(channels.size());
  info.format = format;
  SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
  ASSERT_NE(file, nullptr) << sf_strerror(nullptr);
  // Integer formats clip instead of wrapping when a sample reaches full scale.
  sf_command(file, SFC_SET_CLIPPING, nullptr, SF_TRUE);
  const std::size_t frames = channels[0].size();
  Samples interleaved(frames * channels.size());
  for (std::size_t f = 0; f < frames; ++f) {
    for (std::size_t c = 0; c < channels.size(); ++c) {
      interleaved[f * channels.size() + c] = channels[c][f];
    }
  }
  EXPECT_EQ(sf_writef_float(file, interleaved.data(), static_cast<sf_count_t>(frames)),
            static_cast<sf_count_t>(frames));
  sf_close(file);
}

inline void WriteRecording(const std::string& path, const Recording& recording,
                           int format = SF_FORMAT_WAV | SF_FORMAT_PCM_16) {
  WriteRecording(path, std::vector<Samples>{recording.samples}, recording.rate, format);
}

// Runs vrellok's generate operation in `folder` (which gets both tone banks) and returns TC.wav.
inline Recording GenerateTimecode(const std::filesystem::path& folder,
                                  const TimecodeSettings& settings) {
  namespace fs = std::filesystem;
  for (const char* bank : {"dtmf36.bin", "dtmf44.bin"}) {
    if (!fs::exists(folder / bank)) fs::copy_file(fs::path(TONE_BANK_DIR) / bank, folder / bank);
  }
  const fs::path home = fs::current_path();
  fs::current_path(folder);
  const GenerateOutcome outcome = TimecodeGenerator().Generate(settings);
  fs::current_path(home);
  EXPECT_EQ(outcome, GenerateOutcome::created);
  return ReadRecording((folder / "TC.wav").string());
}

// Windowed-sinc resampler, as a playback chain at another rate would do it. `speed` above 1
// plays the timecode fast: the input is read that much quicker than its rate says.
inline Samples Resample(const Samples& in, double inRate, double outRate, double speed = 1.0) {
  constexpr int kHalfTaps = 32;
  constexpr int kPhases = 1024;
  const double step = inRate / outRate * speed;
  // Below both Nyquist frequencies, with room for the window's transition band.
  const double cutoff = 0.9 * std::min(1.0, 1.0 / step);
  const int half = static_cast<int>(std::ceil(kHalfTaps / std::min(1.0, cutoff)));
  // Kernel tabulated at kPhases points per input sample, read with linear interpolation.
  std::vector<double> table(static_cast<std::size_t>(half * kPhases + 2));
  for (std::size_t i = 0; i < table.size(); ++i) {
    const double x = static_cast<double>(i) / kPhases;
    const double y = cutoff * x;
    const double sinc = y == 0.0 ? 1.0 : std::sin(std::numbers::pi * y) / (std::numbers::pi * y);
    const double w = x >= half ? 0.0 : 0.5 * (1.0 + std::cos(std::numbers::pi * x / half));
    table[i] = cutoff * sinc * w * w;
  }
  auto kernel = [&](double x) {
    const double at = std::abs(x) * kPhases;
    const auto i = static_cast<std::size_t>(at);
    if (i + 1 >= table.size()) return 0.0;
    const double frac = at - static_cast<double>(i);
    return table[i] + frac * (table[i + 1] - table[i]);
  };
  const auto count = static_cast<std::size_t>(static_cast<double>(in.size()) / step);
  Samples out(count);
  for (std::size_t j = 0; j < count; ++j) {
    const double t = static_cast<double>(j) * step;
    const auto centre = static_cast<long>(std::floor(t));
    double sum = 0.0;
    for (long k = centre - half + 1; k <= centre + half; ++k) {
      if (k < 0 || k >= static_cast<long>(in.size())) continue;
      sum += in[static_cast<std::size_t>(k)] * kernel(t - static_cast<double>(k));
    }
    out[j] = static_cast<float>(sum);
  }
  return out;
}

// The samples `delay` samples later (a fraction included), as another channel of a loopback
// carries them: a windowed sinc of 64 taps each side, exact to far below a hundredth of a sample
// for tones well below the Nyquist frequency.
inline Samples Delayed(const Samples& in, double delay) {
  constexpr int kHalfTaps = 64;
  const auto whole = static_cast<long>(std::floor(delay));
  const double fraction = delay - static_cast<double>(whole);
  std::vector<double> taps;
  for (int k = -kHalfTaps; k <= kHalfTaps; ++k) {
    const double x = k - fraction;
    const double sinc = x == 0.0 ? 1.0 : std::sin(std::numbers::pi * x) / (std::numbers::pi * x);
    const double w = 0.5 * (1.0 + std::cos(std::numbers::pi * x / (kHalfTaps + 1)));
    taps.push_back(sinc * w * w);
  }
  Samples out(in.size());
  for (long j = 0; j < static_cast<long>(in.size()); ++j) {
    double sum = 0.0;
    for (int k = -kHalfTaps; k <= kHalfTaps; ++k) {
      const long m = j - whole - k;
      if (m >= 0 && m < static_cast<long>(in.size())) {
        sum += in[static_cast<std::size_t>(m)] * taps[static_cast<std::size_t>(k + kHalfTaps)];
      }
    }
    out[static_cast<std::size_t>(j)] = static_cast<float>(sum);
  }
  return out;
}

// Mean square of the non-zero samples: the level of the bursts, leaving the gaps out.
inline double BurstPower(const Samples& samples) {
  double squares = 0.0;
  std::size_t count = 0;
  for (const float x : samples) {
    if (x == 0.0f) continue;
    squares += static_cast<double>(x) * x;
    ++count;
  }
  return count == 0 ? 0.0 : squares / static_cast<double>(count);
}

// Adds Gaussian white noise `snrDb` below the bursts' power (negative: louder than the bursts),
// from a fixed seed so every run hears the same noise.
inline Samples WithWhiteNoise(const Samples& samples, double snrDb, unsigned seed) {
  std::mt19937 random(seed);
  const double deviation = std::sqrt(BurstPower(samples) * std::pow(10.0, -snrDb / 10.0));
  std::normal_distribution<double> noise(0.0, deviation);
  Samples noisy(samples.size());
  for (std::size_t i = 0; i < samples.size(); ++i) {
    noisy[i] = static_cast<float>(samples[i] + noise(random));
  }
  return noisy;
}

// 16-bit samples exactly as stored, for recordings that must be TC.wav's own bits (floats go
// through libsndfile's scale of 32767 on the way out, which changes the loudest of them).
using Shorts = std::vector<std::int16_t>;

inline Shorts ReadShorts(const std::string& path) {
  SF_INFO info{};
  SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
  if (file == nullptr) return {};
  Shorts samples(static_cast<std::size_t>(info.frames));
  sf_read_short(file, samples.data(), info.frames);
  sf_close(file);
  return samples;
}

inline void WriteShorts(const std::string& path, const Shorts& samples, int rate) {
  SF_INFO info{};
  info.samplerate = rate;
  info.channels = 1;
  info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
  SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
  ASSERT_NE(file, nullptr) << sf_strerror(nullptr);
  const auto count = static_cast<sf_count_t>(samples.size());
  EXPECT_EQ(sf_write_short(file, samples.data(), count), count);
  sf_close(file);
}
