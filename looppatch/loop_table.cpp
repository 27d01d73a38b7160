#include "looppatch/loop_table.h"

#include <algorithm>
#include <limits>
#include <optional>
#include <stdexcept>
#include <vector>

namespace {

// Reading divides the stored byte offset by the bytes per frame with a shift.
constexpr unsigned kMonoFrameShift = 1;
constexpr unsigned kOtherFrameShift = 2;
static_assert((1u << kMonoFrameShift) == kMonoBytesPerFrame);
static_assert((1u << kOtherFrameShift) == kOtherBytesPerFrame);

using Slots = std::array<LoopRecord, kLoopPointCount>;

// How many of count bytes at offset the file holds.
std::size_t ReadAt(CFile& file, std::uint64_t offset, void* buffer, std::size_t count) {
  file.Seek(static_cast<std::int64_t>(offset), CFile::begin);
  return file.Read(buffer, count);
}

std::uint64_t SlotOffset(std::size_t index) {
  return kLoopTableOffset + index * kLoopRecordBytes;
}

// The sample data runs from byte 44 for the size the data chunk declares, but never past the
// end of the file: a truncated file declares more than it holds, and a file with chunks after
// the data holds more than its samples. Before byte 44 there is none at all.
std::uint64_t SampleDataEnd(CFile& file) {
  const std::uint64_t length = file.GetLength();
  if (length < kCanonicalHeaderBytes) return kLoopTableOffset;
  std::uint8_t size[sizeof(std::uint32_t)] = {};
  ReadAt(file, kDataSizeOffset, size, sizeof size);
  return std::min(length, kCanonicalHeaderBytes + GetLe32(size));
}

// The ten slots as they stand. A slot not wholly inside the sample data stays blank, so nothing
// from another slot or another file can show through.
Slots ReadSlots(CFile& file) {
  const std::uint64_t dataEnd = SampleDataEnd(file);
  Slots slots{};
  for (std::size_t i = 0; i < kLoopPointCount && SlotOffset(i + 1) <= dataEnd; ++i) {
    LoopRecord slot;
    if (ReadAt(file, SlotOffset(i), slot.bytes.data(), kLoopRecordBytes) == kLoopRecordBytes) {
      slots[i] = slot;
    }
  }
  return slots;
}

// The byte offset a loop point is stored as, or nothing when it has none in 32 bits.
std::optional<std::uint32_t> ByteOffsetOf(std::int32_t loopPoint, std::uint32_t bytesPerFrame) {
  if (loopPoint < 0) return std::nullopt;
  const std::uint64_t offset = static_cast<std::uint64_t>(loopPoint) * bytesPerFrame;
  if (offset > std::numeric_limits<std::uint32_t>::max()) return std::nullopt;
  return static_cast<std::uint32_t>(offset);
}

// Records are stored for the points before the first empty one.
std::size_t LeadingRun(const LoopPoints& loopPoints) {
  return static_cast<std::size_t>(std::find(loopPoints.begin(), loopPoints.end(), 0) -
                                  loopPoints.begin());
}

std::string BoxRefusal(std::size_t index, const char* what) {
  return "Loop point " + std::to_string(index + 1) + what;
}

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

std::uint32_t BytesPerFrame(std::uint8_t channelByte) {
  return channelByte == kMonoChannelByte ? kMonoBytesPerFrame : kOtherBytesPerFrame;
}

bool IsCanonicalWave(CFile& file) {
  if (file.GetLength() < kCanonicalHeaderBytes) return false;
  std::uint8_t header[kCanonicalHeaderBytes] = {};
  if (ReadAt(file, 0, header, sizeof header) != sizeof header) return false;
  return HasChunkId(header + kRiffIdOffset, "RIFF") && HasChunkId(header + kWaveIdOffset, "WAVE") &&
         HasChunkId(header + kFmtIdOffset, "fmt ") && HasChunkId(header + kDataIdOffset, "data");
}

LoopTable ReadLoopTable(CFile& file) {
  LoopTable table{};
  if (file.GetLength() > kChannelByteOffset) {
    ReadAt(file, kChannelByteOffset, &table.channelByte, sizeof table.channelByte);
  }
  table.channelCount = static_cast<std::int8_t>(table.channelByte);
  const unsigned shift = table.channelCount == 1 ? kMonoFrameShift : kOtherFrameShift;
  const Slots slots = ReadSlots(file);
  for (std::size_t i = 0; i < kLoopPointCount; ++i) {
    table.loopPoints[i] =
        slots[i].IsRecord() ? static_cast<std::int32_t>(slots[i].ByteOffset() >> shift) : 0;
  }
  return table;
}

std::string CheckLoopPoints(CFile& file, std::uint8_t channelByte, const LoopPoints& loopPoints) {
  const std::uint32_t bytesPerFrame = BytesPerFrame(channelByte);
  bool emptySeen = false;
  for (std::size_t i = 0; i < kLoopPointCount; ++i) {
    if (!ByteOffsetOf(loopPoints[i], bytesPerFrame)) return BoxRefusal(i, " is out of range");
    if (loopPoints[i] == 0) {
      emptySeen = true;
    } else if (emptySeen) {
      return BoxRefusal(i, " follows an empty loop point");
    }
  }
  // Records beyond the sample data would overwrite whatever chunk follows it.
  const std::size_t count = LeadingRun(loopPoints);
  if (count > 0 && SlotOffset(count) > SampleDataEnd(file)) {
    return "The file is too short for " + std::to_string(count) + " loop points";
  }
  return {};
}

void WriteLoopTable(CFile& file, std::uint8_t channelByte, const LoopPoints& loopPoints) {
  const std::string refusal = CheckLoopPoints(file, channelByte, loopPoints);
  if (!refusal.empty()) throw std::invalid_argument(refusal);

  const std::uint32_t bytesPerFrame = BytesPerFrame(channelByte);
  const std::size_t count = LeadingRun(loopPoints);
  const Slots old = ReadSlots(file);
  std::vector<std::uint8_t> records(count * kLoopRecordBytes);
  for (std::size_t i = 0; i < count; ++i) {
    const LoopRecord record =
        LoopRecord::FromByteOffset(*ByteOffsetOf(loopPoints[i], bytesPerFrame));
    std::copy(record.bytes.begin(), record.bytes.end(), records.begin() + i * kLoopRecordBytes);
  }
  if (count > 0) {
    file.Seek(kLoopTableOffset, CFile::begin);
    file.Write(records.data(), records.size());
  }
  // A cleared loop point must not come back on the next read, so records left behind the new
  // table are blanked; slots that never held a record are sample data and stay as they are.
  const LoopRecord blank;
  for (std::size_t i = count; i < kLoopPointCount; ++i) {
    if (!old[i].IsRecord()) continue;
    file.Seek(static_cast<std::int64_t>(SlotOffset(i)), CFile::begin);
    file.Write(blank.bytes.data(), kLoopRecordBytes);
  }
  file.Flush();
  file.Close();
}
