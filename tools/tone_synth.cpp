// Writes the tone bank of each timecode type, at that type's rate, under its file name.
// Each bank is 16 bursts of 1800 samples of raw 16-bit little-endian mono PCM, no header;
// burst k is the DTMF key that stands for symbol k in a timecode frame.
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <string>

#include "timecode_format/dtmf_burst.h"
#include "timecode_format/timecode_layout.h"
#include "wave/wave_header.h"

namespace {

using dtmf_burst::kBurstSamples;

void PutSample(std::ostream& out, std::int16_t value) {
  std::uint8_t bytes[2];
  PutLe16(bytes, static_cast<std::uint16_t>(value));
  out.write(reinterpret_cast<const char*>(bytes), sizeof bytes);
}

void WriteBurst(std::ostream& out, int symbol, int sampleRate) {
  for (int i = 0; i < kBurstSamples; ++i) {
    const double value = dtmf_burst::BurstValue(symbol, sampleRate, i);
    PutSample(out, static_cast<std::int16_t>(std::lround(value)));
  }
}

bool WriteBank(const std::string& folder, const TimecodeTypeFacts& bank) {
  const std::string path = folder + "/" + bank.bankFile;
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  for (int symbol = 1; symbol <= kSymbolCount; ++symbol) WriteBurst(out, symbol, bank.sampleRate);
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
  bool ok = true;
  for (const TimecodeTypeFacts& bank : kTimecodeTypes) ok = WriteBank(argv[1], bank) && ok;
  return ok ? 0 : 1;
}
