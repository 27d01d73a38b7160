// Writes the two tone banks vrellok reads: dtmf36.bin (36015 Hz) and dtmf44.bin (44100 Hz).
// Each bank is 16 bursts of 1800 samples of raw 16-bit little-endian mono PCM, no header;
// burst k is the DTMF key that stands for symbol k in a timecode frame.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <numbers>
#include <string>

#include "wave/wave_header.h"

namespace {

constexpr int kSymbolCount = 16;
constexpr int kBurstSamples = 1800;
constexpr int kBytesPerSample = 2;
constexpr double kFadeSeconds = 0.002;
constexpr double kFullScale = 32767.0;
// The two tones add up to about -3 dBFS at their common peak, so a burst never clips.
constexpr double kSumPeakDb = -3.0;

constexpr std::array<double, 4> kRowHz = {697.0, 770.0, 852.0, 941.0};
constexpr std::array<double, 4> kColumnHz = {1209.0, 1336.0, 1477.0, 1633.0};

struct Key {
  int row;
  int column;
};

// Symbols 1-9 are keys 1-9, then 0, *, #, A, B, C, D.
constexpr std::array<Key, kSymbolCount> kKeyOfSymbol = {{
    {0, 0},  // 1
    {0, 1},  // 2
    {0, 2},  // 3
    {1, 0},  // 4
    {1, 1},  // 5
    {1, 2},  // 6
    {2, 0},  // 7
    {2, 1},  // 8
    {2, 2},  // 9
    {3, 1},  // 0
    {3, 0},  // *
    {3, 2},  // #
    {0, 3},  // A
    {1, 3},  // B
    {2, 3},  // C
    {3, 3},  // D
}};

struct Bank {
  const char* fileName;
  int sampleRate;
};

constexpr std::array<Bank, 2> kBanks = {{{"dtmf36.bin", 36015}, {"dtmf44.bin", 44100}}};

// Raised-cosine fade at both ends: the burst starts and ends on zero, so slots placed side by
// side or next to silence make no click a decoder could mistake for energy.
double Envelope(int i, int fadeSamples) {
  const int fromEdge = std::min(i, kBurstSamples - 1 - i);
  if (fromEdge >= fadeSamples) return 1.0;
  return 0.5 * (1.0 - std::cos(std::numbers::pi * fromEdge / fadeSamples));
}

void PutSample(std::ostream& out, std::int16_t value) {
  std::uint8_t bytes[2];
  PutLe16(bytes, static_cast<std::uint16_t>(value));
  out.write(reinterpret_cast<const char*>(bytes), sizeof bytes);
}

void WriteBurst(std::ostream& out, const Key& key, int sampleRate) {
  const double toneAmplitude = kFullScale * std::pow(10.0, kSumPeakDb / 20.0) / 2.0;
  const int fadeSamples = static_cast<int>(std::lround(kFadeSeconds * sampleRate));
  const double rowStep = 2.0 * std::numbers::pi * kRowHz[key.row] / sampleRate;
  const double columnStep = 2.0 * std::numbers::pi * kColumnHz[key.column] / sampleRate;
  for (int i = 0; i < kBurstSamples; ++i) {
    const double tones = std::sin(rowStep * i) + std::sin(columnStep * i);
    const double value = toneAmplitude * Envelope(i, fadeSamples) * tones;
    PutSample(out, static_cast<std::int16_t>(std::lround(value)));
  }
}

bool WriteBank(const std::string& folder, const Bank& bank) {
  const std::string path = folder + "/" + bank.fileName;
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  for (const Key& key : kKeyOfSymbol) WriteBurst(out, key, bank.sampleRate);
  out.close();
  if (!out) std::fprintf(stderr, "tone_synth: cannot write %s\n", path.c_str());
  return static_cast<bool>(out);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: tone_synth <output folder>\n");
    return 2;
  }
  static_assert(kSymbolCount * kBurstSamples * kBytesPerSample == 57600);
  bool ok = true;
  for (const Bank& bank : kBanks) ok = WriteBank(argv[1], bank) && ok;
  return ok ? 0 : 1;
}
