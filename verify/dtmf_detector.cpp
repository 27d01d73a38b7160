#include "verify/dtmf_detector.h"

#include <cmath>
#include <numbers>

#include "tools/dtmf_burst.h"
#include "verify/sound_file.h"

namespace dtmf {

namespace {

// Quieter than -60 dBFS is silence, whatever it holds.
constexpr double kSilenceRms = 0.001;
// Each tone of a clean key carries about half of the block's energy.
constexpr double kMinToneShare = 0.3;
// The runner-up tone of a group must be this far below the winner.
constexpr double kMinDominance = 8.0;

// Index of the strongest tone of a group, or -1 when it is weak or not clearly ahead.
int StrongestTone(const double* share) {
  int best = 0;
  for (int i = 1; i < 4; ++i) {
    if (share[i] > share[best]) best = i;
  }
  if (share[best] < kMinToneShare) return -1;
  for (int i = 0; i < 4; ++i) {
    if (i != best && share[i] * kMinDominance > share[best]) return -1;
  }
  return best;
}

}  // namespace

int BlockSamples(int sampleRate) {
  return static_cast<int>(std::lround(kBlockSeconds * sampleRate));
}

KeyDetector::KeyDetector(int sampleRate) {
  for (int i = 0; i < kTones; ++i) {
    const double hz = i < 4 ? dtmf_burst::kRowHz[static_cast<std::size_t>(i)]
                            : dtmf_burst::kColumnHz[static_cast<std::size_t>(i - 4)];
    m_coefficient[static_cast<std::size_t>(i)] =
        static_cast<float>(2.0 * std::cos(2.0 * std::numbers::pi * hz / sampleRate));
  }
}

int KeyDetector::Detect(const float* samples, std::size_t count) const {
  if (count == 0) return 0;
  double sum = 0.0;
  double squares = 0.0;
  for (std::size_t i = 0; i < count; ++i) {
    sum += samples[i];
    squares += static_cast<double>(samples[i]) * samples[i];
  }
  const double n = static_cast<double>(count);
  const double mean = sum / n;
  const double energy = squares - n * mean * mean;
  if (energy < kSilenceRms * kSilenceRms * n) return 0;

  // All eight Goertzel filters advance together, one sample at a time.
  const float dc = static_cast<float>(mean);
  float s1[kTones] = {};
  float s2[kTones] = {};
  for (std::size_t i = 0; i < count; ++i) {
    const float x = samples[i] - dc;
    for (int k = 0; k < kTones; ++k) {
      const float s0 = x + m_coefficient[static_cast<std::size_t>(k)] * s1[k] - s2[k];
      s2[k] = s1[k];
      s1[k] = s0;
    }
  }
  double share[kTones];
  for (int k = 0; k < kTones; ++k) {
    const double c = m_coefficient[static_cast<std::size_t>(k)];
    const double power = double{s1[k]} * s1[k] + double{s2[k]} * s2[k] - c * s1[k] * s2[k];
    share[k] = 2.0 * power / (n * energy);
  }
  const int row = StrongestTone(share);
  const int column = StrongestTone(share + 4);
  return row < 0 || column < 0 ? 0 : kSymbolOfKey[row][column];
}

std::vector<int> DecodeKeys(const std::string& path, int channel) {
  SoundFile file(path);
  const KeyDetector detector(file.SampleRate());
  const auto block = static_cast<std::size_t>(BlockSamples(file.SampleRate()));
  std::vector<float> samples(block);
  std::vector<int> symbols;
  int previous = 0;
  std::size_t got = 0;
  while ((got = file.ReadChannel(channel - 1, samples.data(), block)) > 0) {
    const int symbol = detector.Detect(samples.data(), got);
    if (symbol != 0 && symbol != previous) symbols.push_back(symbol);
    previous = symbol;
  }
  return symbols;
}

}  // namespace dtmf
