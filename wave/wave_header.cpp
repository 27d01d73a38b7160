#include "wave/wave_header.h"

namespace {

constexpr unsigned kBitsPerByte = 8;
constexpr std::uint32_t kRiffSizeExcludes = 8;  // "RIFF" and the size field itself

}  // namespace

std::uint16_t GetLe16(const std::uint8_t* at) {
  return static_cast<std::uint16_t>(at[0] | (at[1] << kBitsPerByte));
}

std::uint32_t GetLe32(const std::uint8_t* at) {
  return GetLe16(at) | (static_cast<std::uint32_t>(GetLe16(at + 2)) << (2 * kBitsPerByte));
}

void PutLe16(std::uint8_t* at, std::uint16_t value) {
  at[0] = static_cast<std::uint8_t>(value);
  at[1] = static_cast<std::uint8_t>(value >> kBitsPerByte);
}

void PutLe32(std::uint8_t* at, std::uint32_t value) {
  PutLe16(at, static_cast<std::uint16_t>(value));
  PutLe16(at + 2, static_cast<std::uint16_t>(value >> (2 * kBitsPerByte)));
}

bool HasChunkId(const std::uint8_t* at, const char (&id)[5]) {
  for (std::size_t i = 0; i < kChunkIdBytes; ++i) {
    if (at[i] != static_cast<std::uint8_t>(id[i])) return false;
  }
  return true;
}

void PutChunkId(std::uint8_t* at, const char (&id)[5]) {
  for (std::size_t i = 0; i < kChunkIdBytes; ++i) at[i] = static_cast<std::uint8_t>(id[i]);
}

WaveHeader BuildWaveHeader(const PcmFormat& format, std::uint32_t dataBytes,
                           std::uint32_t trailingBytes) {
  const auto blockAlign =
      static_cast<std::uint16_t>(format.channels * (format.bitsPerSample / kBitsPerByte));
  WaveHeader header{};
  std::uint8_t* h = header.data();
  PutChunkId(h + kRiffIdOffset, "RIFF");
  PutLe32(h + kRiffSizeOffset, static_cast<std::uint32_t>(kWaveHeaderBytes - kRiffSizeExcludes +
                                                          dataBytes + trailingBytes));
  PutChunkId(h + kWaveIdOffset, "WAVE");
  PutChunkId(h + kFmtIdOffset, "fmt ");
  PutLe32(h + kFmtSizeOffset, kPcmFmtChunkBytes);
  PutLe16(h + kFormatOffset, kPcmFormat);
  PutLe16(h + kChannelsOffset, format.channels);
  PutLe32(h + kSampleRateOffset, format.sampleRate);
  PutLe32(h + kByteRateOffset, format.sampleRate * blockAlign);
  PutLe16(h + kBlockAlignOffset, blockAlign);
  PutLe16(h + kBitsOffset, format.bitsPerSample);
  PutChunkId(h + kDataIdOffset, "data");
  PutLe32(h + kDataSizeOffset, dataBytes);
  return header;
}
