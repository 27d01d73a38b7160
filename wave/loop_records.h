// The loop table's records as they lie in a wave file: up to ten 6-byte records over the first
// bytes of the sample data, directly behind the canonical 44-byte header. Plain bytes, so the
// program that writes the table and any program that reads it back decode it alike.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "wave/wave_header.h"

// Record i (counted from 0) lies at kLoopTableOffset + i * kLoopRecordBytes.
inline constexpr std::uint64_t kLoopTableOffset = kWaveHeaderBytes;
inline constexpr std::size_t kLoopRecordBytes = 6;
inline constexpr std::size_t kLoopPointCount = 10;

// Loop points count sample frames, records store byte offsets of 16-bit samples.
inline constexpr std::uint8_t kMonoChannelByte = 1;
inline constexpr std::uint32_t kMonoBytesPerFrame = 2;
inline constexpr std::uint32_t kOtherBytesPerFrame = 4;  // every channel byte but 1

using LoopPoints = std::array<std::int32_t, kLoopPointCount>;

// One record as it lies in the file: 'E', 'M', then the byte offset, unsigned little-endian.
struct LoopRecord {
  static constexpr std::uint8_t kMarkE = 0x45;
  static constexpr std::uint8_t kMarkM = 0x4D;
  static constexpr std::size_t kMarkEIndex = 0;
  static constexpr std::size_t kMarkMIndex = 1;
  static constexpr std::size_t kByteOffsetIndex = 2;

  std::array<std::uint8_t, kLoopRecordBytes> bytes{};

  static LoopRecord FromByteOffset(std::uint32_t byteOffset);
  // Either mark alone is enough for a slot to count as a record; both are not required.
  bool IsRecord() const;
  std::uint32_t ByteOffset() const;
};

// The loop points of the slots in `table` (the bytes from kLoopTableOffset, as many whole slots
// as lie inside the sample data) of a file with this channel byte and dataBytes of samples: a
// slot that reads as a record gives its byte offset over the bytes per frame (the channel byte
// read as a signed number: 1 is mono, anything else two bytes per channel of two), any other
// slot 0. A record that names a frame past the end of the samples reads 0 too, and its slot
// (counted from 0) goes to lookalikes where given: audio that happens to carry a mark byte.
LoopPoints LoopPointsOfTable(std::uint8_t channelByte, const std::uint8_t* table, std::size_t size,
                             std::uint64_t dataBytes,
                             std::vector<std::size_t>* lookalikes = nullptr);

// The same from the first `size` bytes of a wave file of fileBytes bytes: its channel byte, and
// the slots inside the sample data the header's data size declares (never past the file's end).
// All 0 where the bytes do not begin with the canonical header.
LoopPoints LoopPointsOfWaveStart(const std::uint8_t* head, std::size_t size,
                                 std::uint64_t fileBytes);
