// The canonical 44-byte RIFF/WAVE header of a PCM file, and the little-endian helpers every
// reader and writer of wave files here goes through. A canonical file is a "RIFF" chunk holding
// "WAVE", a 16-byte "fmt " chunk and the "data" chunk, so its samples start at byte 44.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

// Field offsets of the canonical header.
inline constexpr std::size_t kRiffIdOffset = 0;
inline constexpr std::size_t kRiffSizeOffset = 4;
inline constexpr std::size_t kWaveIdOffset = 8;
inline constexpr std::size_t kFmtIdOffset = 12;
inline constexpr std::size_t kFmtSizeOffset = 16;
inline constexpr std::size_t kFormatOffset = 20;
inline constexpr std::size_t kChannelsOffset = 22;
inline constexpr std::size_t kSampleRateOffset = 24;
inline constexpr std::size_t kByteRateOffset = 28;
inline constexpr std::size_t kBlockAlignOffset = 32;
inline constexpr std::size_t kBitsOffset = 34;
inline constexpr std::size_t kDataIdOffset = 36;
inline constexpr std::size_t kDataSizeOffset = 40;
inline constexpr std::size_t kWaveHeaderBytes = 44;  // where the sample data starts

inline constexpr std::size_t kChunkIdBytes = 4;
inline constexpr std::size_t kChunkHeaderBytes = 8;  // id and size
inline constexpr std::uint32_t kPcmFmtChunkBytes = 16;
inline constexpr std::uint16_t kPcmFormat = 1;
inline constexpr std::uint16_t kExtensibleFormat = 0xFFFE;

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

// The header of a canonical file whose data chunk holds dataBytes bytes of samples. Both size
// fields follow from dataBytes: the RIFF size counts everything after its own field.
WaveHeader BuildWaveHeader(const PcmFormat& format, std::uint32_t dataBytes);
