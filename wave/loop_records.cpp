#include "wave/loop_records.h"

#include <algorithm>

namespace {

// Reading divides the stored byte offset by the bytes per frame with a shift.
constexpr unsigned kMonoFrameShift = 1;
constexpr unsigned kOtherFrameShift = 2;
static_assert((1u << kMonoFrameShift) == kMonoBytesPerFrame);
static_assert((1u << kOtherFrameShift) == kOtherBytesPerFrame);

}  // namespace

LoopRecord LoopRecord::FromByteOffset(std::uint32_t byteOffset) {
  LoopRecord record;
  record.bytes[kMarkEIndex] = kMarkE;
  record.bytes[kMarkMIndex] = kMarkM;
  PutLe32(&record.bytes[kByteOffsetIndex], byteOffset);
  return record;
}

bool LoopRecord::IsRecord() const {
  return bytes[kMarkEIndex] == kMarkE || bytes[kMarkMIndex] == kMarkM;
}

std::uint32_t LoopRecord::ByteOffset() const {
  return GetLe32(&bytes[kByteOffsetIndex]);
}

LoopPoints LoopPointsOfTable(std::uint8_t channelByte, const std::uint8_t* table, std::size_t size,
                             std::uint64_t dataBytes, std::vector<std::size_t>* lookalikes) {
  const bool mono = static_cast<std::int8_t>(channelByte) == 1;
  const unsigned shift = mono ? kMonoFrameShift : kOtherFrameShift;
  // A point may name the end of the samples itself, but no frame after it.
  const std::uint64_t frames = dataBytes >> shift;
  LoopPoints points{};
  for (std::size_t i = 0; i < kLoopPointCount && (i + 1) * kLoopRecordBytes <= size; ++i) {
    LoopRecord slot;
    std::copy_n(table + i * kLoopRecordBytes, kLoopRecordBytes, slot.bytes.begin());
    if (!slot.IsRecord()) continue;
    const std::uint32_t frame = slot.ByteOffset() >> shift;
    if (frame <= frames) {
      points[i] = static_cast<std::int32_t>(frame);
    } else if (lookalikes != nullptr) {
      lookalikes->push_back(i);
    }
  }
  return points;
}

LoopPoints LoopPointsOfWaveStart(const std::uint8_t* head, std::size_t size,
                                 std::uint64_t fileBytes) {
  if (size < kWaveHeaderBytes || !HasChunkId(head + kRiffIdOffset, "RIFF") ||
      !HasChunkId(head + kWaveIdOffset, "WAVE") || !HasChunkId(head + kFmtIdOffset, "fmt ") ||
      !HasChunkId(head + kDataIdOffset, "data")) {
    return {};
  }
  const std::uint64_t dataEnd =
      std::min<std::uint64_t>(fileBytes, kWaveHeaderBytes + GetLe32(head + kDataSizeOffset));
  const std::uint64_t end = std::min<std::uint64_t>(size, dataEnd);
  if (end < kLoopTableOffset) return {};
  const std::uint64_t inside = end - kLoopTableOffset;
  const std::size_t slots = static_cast<std::size_t>(inside / kLoopRecordBytes);
  return LoopPointsOfTable(head[kChannelsOffset], head + kLoopTableOffset, slots * kLoopRecordBytes,
                           dataEnd - kLoopTableOffset);
}
