// The canonical 44-byte RIFF/WAVE header of a PCM file, and the little-endian helpers every
// reader and writer of wave files here goes through. A canonical file is a "RIFF" chunk holding
// "WAVE", a 16-byte "fmt " chunk and the "data" chunk, so its samples start at byte 44.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

// Field offsets of the canonical header, chunk by chunk: the "RIFF" chunk's id, size and form
// type; the 16-byte "fmt " chunk; the "data" chunk's id and size, after which the samples start.
inline constexpr std::size_t kRiffIdOffset = 0, kRiffSizeOffset = 4, kWaveIdOffset = 8;
inline constexpr std::size_t kFmtIdOffset = 12, kFmtSizeOffset = 16, kFormatOffset = 20,
                             kChannelsOffset = 22, kSampleRateOffset = 24, kByteRateOffset = 28,
                             kBlockAlignOffset = 32, kBitsOffset = 34;
inline constexpr std::size_t kDataIdOffset = 36, kDataSizeOffset = 40, kWaveHeaderBytes = 44;

inline constexpr std::size_t kChunkIdBytes = 4;
inline constexpr std::size_t kChunkHeaderBytes = 8;  // id and size
inline constexpr std::uint32_t kPcmFmtChunkBytes = 16;
inline constexpr std::uint16_t kPcmFormat = 1;
inline constexpr std::uint16_t kExtensibleFormat = 0xFFFE;
// Full scale of a 16-bit sample: 2^15, the size of the most negative one. Over it every sample
// lies in [-1, 1), as libsndfile hands 16-bit samples out as floats, so the tone level the bank
// is made at, the level the verifier expects in what it reads and the height loop draws a
// sample at are all measured against the same value.
inline constexpr double kPcm16FullScale = 32768.0;

// A 16-bit sample in full scale, to the bit what libsndfile gives as a float.
inline float Pcm16ToFloat(std::int16_t sample) {
  return sample * static_cast<float>(1.0 / kPcm16FullScale);
}

using WaveHeader = std::array<std::uint8_t, kWaveHeaderBytes>;

std::uint16_t GetLe16(const std::uint8_t* at);
std::uint32_t GetLe32(const std::uint8_t* at);
void PutLe16(std::uint8_t* at, std::uint16_t value);
void PutLe32(std::uint8_t* at, std::uint32_t value);
// True when the four bytes at `at` spell the chunk id, e.g. "RIFF".
bool HasChunkId(const std::uint8_t* at, const char (&id)[5]);
void PutChunkId(std::uint8_t* at, const char (&id)[5]);

struct PcmFormat {
  std::uint16_t channels = 1;
  std::uint32_t sampleRate = 0;
  std::uint16_t bitsPerSample = 16;
};

// The header of a canonical file whose data chunk holds dataBytes bytes of samples, followed by
// trailingBytes of other chunks. Both size fields follow from these: the RIFF size counts
// everything after its own field.
WaveHeader BuildWaveHeader(const PcmFormat& format, std::uint32_t dataBytes,
                           std::uint32_t trailingBytes = 0);
