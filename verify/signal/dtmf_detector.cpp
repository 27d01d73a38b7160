#include "verify/signal/dtmf_detector.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "timecode_format/dtmf_burst.h"
#include "verify/read/sound_file.h"
#include "verify/signal/float_vector.h"

namespace dtmf {

namespace {

using float_vector::Floats4;
using float_vector::Load4;
using float_vector::Store4;

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

// Averages each of the four lanes' samples `step` at a time, less the lane's mean, into input (lane
// beside lane, step by step), and sums each lane's squares. The lanes run side by side so that no
// lane's running sum waits on its own last addition. Step is fixed at compile time where it is
// given (not 0), so the common rates need no inner loop.
template <std::size_t Step>
void Decimate(const float* const* lane, const float* mean, std::size_t steps, std::size_t step,
              float scale, float* input, float* squares) {
  const std::size_t width = Step != 0 ? Step : step;
  const Floats4 means = {mean[0], mean[1], mean[2], mean[3]};
  Floats4 sums = {};
  for (std::size_t i = 0; i < steps; ++i) {
    const std::size_t at = i * width;
    Floats4 sum = {};
    for (std::size_t d = 0; d < width; ++d) {
      sum += Floats4{lane[0][at + d], lane[1][at + d], lane[2][at + d], lane[3][at + d]};
    }
    const Floats4 x = sum * scale - means;
    sums += x * x;
    Store4(input + i * 4, x);
  }
  for (std::size_t l = 0; l < 4; ++l) squares[l] = sums[l];
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
  // Eight running sums, held as two vectors of four.
  Floats4 sumLow = {}, sumHigh = {};
  Floats4 squareLow = {}, squareHigh = {};
  std::size_t i = 0;
  for (; i + 8 <= count; i += 8) {
    const Floats4 low = Load4(samples + i);
    const Floats4 high = Load4(samples + i + 4);
    sumLow += low;
    sumHigh += high;
    squareLow += low * low;
    squareHigh += high * high;
  }
  double sum = 0.0;
  double square = 0.0;
  for (; i < count; ++i) {
    sum += samples[i];
    square += static_cast<double>(samples[i]) * samples[i];
  }
  for (int j = 0; j < 4; ++j) {
    sum += sumLow[j];
    square += squareLow[j];
  }
  for (int j = 0; j < 4; ++j) {
    sum += sumHigh[j];
    square += squareHigh[j];
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
  std::vector<float> input;  // the filters' input, lane beside lane
  std::size_t block = 0;
  while (block < blocks) {
    // Gather up to kLanes loud blocks; silent ones are settled at once.
    Lanes lanes;
    for (; block < blocks && lanes.count < kLanes; ++block) {
      const float* start = samples + block * width;
      symbols[block] = 0;
      double energy = 0.0;
      if (!Loud(start, width, lanes.mean[lanes.count], energy)) continue;
      lanes.start[lanes.count] = start;
      lanes.block[lanes.count] = block;
      ++lanes.count;
    }
    if (lanes.count == 0) continue;
    double share[kLanes][kTones];
    Filter(lanes, width, input, share);
    for (std::size_t l = 0; l < lanes.count; ++l) symbols[lanes.block[l]] = Decide(share[l]);
  }
}

void KeyDetector::Filter(Lanes& lanes, std::size_t width, std::vector<float>& input,
                         double (*share)[kTones]) const {
  // Idle lanes repeat the first one, so every lane reads real samples.
  for (std::size_t l = lanes.count; l < kLanes; ++l) {
    lanes.start[l] = lanes.start[0];
    lanes.mean[l] = lanes.mean[0];
  }

  // Every filter of every lane advances one step per m_decimation samples, fed their mean:
  // the tones lie far below the lowered Nyquist frequency and lose under 2 % to the averaging.
  // The lanes' inputs are first laid side by side, step by step, so that one vector operation
  // advances the same tone of all four lanes.
  const auto step = static_cast<std::size_t>(m_decimation);
  const std::size_t steps = width / step;
  const float scale = 1.0f / static_cast<float>(step);
  static_assert(kLanes == 4, "the lanes are filtered as one vector of four floats");
  input.resize(steps * kLanes);
  float squares[kLanes] = {};
  switch (step) {
    case 1:
      Decimate<1>(lanes.start, lanes.mean, steps, step, scale, input.data(), squares);
      break;
    case 2:
      Decimate<2>(lanes.start, lanes.mean, steps, step, scale, input.data(), squares);
      break;
    default:
      Decimate<0>(lanes.start, lanes.mean, steps, step, scale, input.data(), squares);
      break;
  }
  // Goertzel's recurrence, s0 = x + 2 cos(w) s1 - s2, for each tone of all lanes at once.
  Floats4 s1[kTones] = {};
  Floats4 s2[kTones] = {};
  float c[kTones];
  for (int k = 0; k < kTones; ++k) c[k] = m_coefficient[static_cast<std::size_t>(k)];
  for (std::size_t i = 0; i < steps; ++i) {
    const Floats4 x = Load4(input.data() + i * kLanes);
    for (int k = 0; k < kTones; ++k) {
      const Floats4 s0 = (x - s2[k]) + c[k] * s1[k];
      s2[k] = s1[k];
      s1[k] = s0;
    }
  }
  // The tone's power |X|^2 = s1^2 + s2^2 - 2 cos(w) s1 s2 as a share of the block's energy: a
  // pure tone of amplitude A over n steps gives |X|^2 = (A n / 2)^2 and a sum of squares of
  // A^2 n / 2, so 2 |X|^2 / (n * squares) is 1 for it, and about a half for each of a key's two.
  const double n = static_cast<double>(steps);
  for (std::size_t l = 0; l < lanes.count; ++l) {
    for (int k = 0; k < kTones; ++k) {
      const double a = s1[k][l], b = s2[k][l];
      const double power = a * a + b * b - c[k] * a * b;
      share[l][k] = squares[l] > 0.0f ? 2.0 * power / (n * squares[l]) : 0.0;
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
