#include "verify/dtmf_detector.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "layout/dtmf_burst.h"
#include "verify/sound_file.h"

namespace dtmf {

namespace {

// The filters run at no less than this rate: twice the highest tone with a wide margin.
constexpr int kLowestFilteredRate = 16000;
// Quieter than -60 dBFS is silence, whatever it holds.
constexpr double kSilenceRms = 0.001;
// Each tone of a clean key carries about half of the block's energy; a tape played 2 % fast moves
// the highest tone half a filter width off, where it still shows more than a fifth.
constexpr double kMinToneShare = 0.2;
// The runner-up tone of a group must be this far below the winner.
constexpr double kMinDominance = 8.0;
// Under broadband noise a key's tones hold only a small share of the block, yet each still
// stands far above what noise puts into a tone's filter, which the six other filters tell. Noise
// alone lifts one filter of a group this high in about one block of a thousand, and both groups'
// at once almost never; a key ten times weaker than the noise still passes nearly every block.
constexpr double kMinNoiseRatio = 9.0;
constexpr double kMinNoisyDominance = 3.0;

// Index of the strongest tone of a group, or -1 when it is weak (below least) or not clearly ahead
// of the others (by dominance).
int StrongestTone(const double* share, double least = kMinToneShare,
                  double dominance = kMinDominance) {
  int best = 0;
  for (int i = 1; i < 4; ++i) {
    if (share[i] > share[best]) best = i;
  }
  if (share[best] < least) return -1;
  for (int i = 0; i < 4; ++i) {
    if (i != best && share[i] * dominance > share[best]) return -1;
  }
  return best;
}

}  // namespace

int BlockSamples(int sampleRate) {
  return static_cast<int>(std::lround(kBlockSeconds * sampleRate));
}

KeyDetector::KeyDetector(int sampleRate)
    : m_decimation(std::max(1, static_cast<int>(sampleRate / kLowestFilteredRate))) {
  const double rate = static_cast<double>(sampleRate) / m_decimation;
  for (int i = 0; i < kTones; ++i) {
    const double hz = i < 4 ? dtmf_burst::kRowHz[static_cast<std::size_t>(i)]
                            : dtmf_burst::kColumnHz[static_cast<std::size_t>(i - 4)];
    m_coefficient[static_cast<std::size_t>(i)] =
        static_cast<float>(2.0 * std::cos(2.0 * std::numbers::pi * hz / rate));
  }
}

bool KeyDetector::Loud(const float* samples, std::size_t count, float& mean, double& energy) {
  if (count == 0) return false;
  // Eight running sums the compiler can keep in vector registers.
  float sums[8] = {};
  float squares[8] = {};
  std::size_t i = 0;
  for (; i + 8 <= count; i += 8) {
    for (std::size_t j = 0; j < 8; ++j) {
      sums[j] += samples[i + j];
      squares[j] += samples[i + j] * samples[i + j];
    }
  }
  double sum = 0.0;
  double square = 0.0;
  for (; i < count; ++i) {
    sum += samples[i];
    square += static_cast<double>(samples[i]) * samples[i];
  }
  for (std::size_t j = 0; j < 8; ++j) {
    sum += sums[j];
    square += squares[j];
  }
  const double n = static_cast<double>(count);
  mean = static_cast<float>(sum / n);
  energy = square - sum * sum / n;
  return energy >= kSilenceRms * kSilenceRms * n;
}

int KeyDetector::Decide(const double* share) {
  const int row = StrongestTone(share);
  const int column = StrongestTone(share + 4);
  if (row >= 0 && column >= 0) return dtmf_burst::kSymbolOfKey[row][column];
  // The noise level: the mean of the six filters that hold no winner.
  int rowBest = 0, columnBest = 4;
  for (int i = 1; i < 4; ++i) {
    if (share[i] > share[rowBest]) rowBest = i;
    if (share[4 + i] > share[columnBest]) columnBest = 4 + i;
  }
  double rest = 0.0;
  for (int i = 0; i < kTones; ++i) {
    if (i != rowBest && i != columnBest) rest += share[i];
  }
  const double noise = rest / (kTones - 2);
  const int noisyRow = StrongestTone(share, kMinNoiseRatio * noise, kMinNoisyDominance);
  const int noisyColumn = StrongestTone(share + 4, kMinNoiseRatio * noise, kMinNoisyDominance);
  return noisyRow < 0 || noisyColumn < 0 ? 0 : dtmf_burst::kSymbolOfKey[noisyRow][noisyColumn];
}

int KeyDetector::Detect(const float* samples, std::size_t count) const {
  int symbol = 0;
  DetectRun(samples, 1, count, &symbol);
  return symbol;
}

void KeyDetector::DetectRun(const float* samples, std::size_t blocks, std::size_t width,
                            int* symbols) const {
  std::size_t block = 0;
  while (block < blocks) {
    // Gather up to kLanes loud blocks; silent ones are settled at once.
    const float* lane[kLanes];
    float mean[kLanes];
    double energy[kLanes];
    std::size_t index[kLanes];
    std::size_t lanes = 0;
    for (; block < blocks && lanes < kLanes; ++block) {
      const float* start = samples + block * width;
      symbols[block] = 0;
      if (!Loud(start, width, mean[lanes], energy[lanes])) continue;
      lane[lanes] = start;
      index[lanes] = block;
      ++lanes;
    }
    if (lanes == 0) continue;
    // Idle lanes repeat the first one, so every lane reads real samples.
    for (std::size_t l = lanes; l < kLanes; ++l) {
      lane[l] = lane[0];
      mean[l] = mean[0];
    }

    // Every filter of every lane advances one step per m_decimation samples, fed their mean:
    // the tones lie far below the lowered Nyquist frequency and lose under 2 % to the averaging.
    float s1[kLanes][kTones] = {};
    float s2[kLanes][kTones] = {};
    float squares[kLanes] = {};
    float c[kTones];
    for (int k = 0; k < kTones; ++k) c[k] = m_coefficient[static_cast<std::size_t>(k)];
    const auto step = static_cast<std::size_t>(m_decimation);
    const std::size_t steps = width / step;
    const float scale = 1.0f / static_cast<float>(step);
    for (std::size_t i = 0; i < steps; ++i) {
      for (std::size_t l = 0; l < kLanes; ++l) {
        float sum = 0.0f;
        for (std::size_t d = 0; d < step; ++d) sum += lane[l][i * step + d];
        const float x = sum * scale - mean[l];
        squares[l] += x * x;
        for (int k = 0; k < kTones; ++k) {
          const float s0 = (x - s2[l][k]) + c[k] * s1[l][k];
          s2[l][k] = s1[l][k];
          s1[l][k] = s0;
        }
      }
    }
    const double n = static_cast<double>(steps);
    for (std::size_t l = 0; l < lanes; ++l) {
      double share[kTones];
      for (int k = 0; k < kTones; ++k) {
        const double a = s1[l][k], b = s2[l][k];
        const double power = a * a + b * b - c[k] * a * b;
        share[k] = squares[l] > 0.0f ? 2.0 * power / (n * squares[l]) : 0.0;
      }
      symbols[index[l]] = Decide(share);
    }
  }
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
