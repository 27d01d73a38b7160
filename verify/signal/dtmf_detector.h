// The project's DTMF decoder: a Goertzel detector that knows the eight standard tones and
// nothing about slots or frames. The verifier builds on it; the tests use it to read TC.wav back
// the way a user's decoder would.
#pragma once

#include <array>
#include <cstddef>
#include <string>
#include <vector>

namespace dtmf {

// Blocks of 20 ms: fine enough to tell 697 Hz from 770 Hz, short enough that every burst (41 ms
// in the fast timecode) holds one whole block wherever the blocks fall.
inline constexpr double kBlockSeconds = 0.02;

int BlockSamples(int sampleRate);

// Tells which key a block of samples holds, at one sample rate.
class KeyDetector {
 public:
  explicit KeyDetector(int sampleRate);

  // Symbol of the key heard in the block, 0 for silence or anything that is not one clean key.
  // A DC offset in the block is ignored.
  int Detect(const float* samples, std::size_t count) const;
  // The same for `blocks` blocks of `width` samples that follow each other; symbols[i] gets
  // block i's key.
  void DetectRun(const float* samples, std::size_t blocks, std::size_t width, int* symbols) const;

 private:
  static constexpr int kTones = 8;  // four rows, then four columns
  // Blocks filtered side by side: each filter waits on its own previous output, so several
  // independent blocks keep the processor busy while one would leave it waiting.
  static constexpr std::size_t kLanes = 4;

  // Loud blocks gathered to be filtered side by side.
  struct Lanes {
    const float* start[kLanes];
    float mean[kLanes];
    std::size_t block[kLanes];  // which block of the run each lane holds
    std::size_t count = 0;
  };

  // Mean and energy about the mean of a block; false for silence.
  static bool Loud(const float* samples, std::size_t count, float& mean, double& energy);
  // Each lane's share of its energy in each tone; `input` is scratch space.
  void Filter(Lanes& lanes, std::size_t width, std::vector<float>& input,
              double (*share)[kTones]) const;
  static int Decide(const double* share);
  int m_decimation;  // samples averaged into each filter step
  std::array<float, kTones> m_coefficient{};
};

// Reads a sound file block by block and returns the keys heard on one channel (counted from 1),
// in order; a key held over several blocks counts once. Throws VerifyError when the file cannot
// be read.
std::vector<int> DecodeKeys(const std::string& path, int channel = 1);

}  // namespace dtmf
