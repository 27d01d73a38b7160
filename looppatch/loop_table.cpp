#include "looppatch/loop_table.h"

#include <algorithm>
#include <limits>
#include <optional>
#include <stdexcept>
#include <vector>

#include "looppatch/file_source.h"
#include "wave/riff_walk.h"

namespace {

using Slots = std::array<LoopRecord, kLoopPointCount>;

// How many of count bytes at offset the file holds.
std::size_t ReadAt(CFile& file, std::uint64_t offset, void* buffer, std::size_t count) {
  file.Seek(static_cast<std::int64_t>(offset), CFile::begin);
  return file.Read(buffer, count);
}

std::uint64_t SlotOffset(std::size_t index) {
  return kLoopTableOffset + index * kLoopRecordBytes;
}

}  // namespace

std::uint64_t SampleDataEnd(CFile& file) {
  const std::uint64_t length = file.GetLength();
  if (length < kWaveHeaderBytes) return kLoopTableOffset;
  if (DataSizeUnset(file)) return length;
  std::uint8_t size[sizeof(std::uint32_t)] = {};
  ReadAt(file, kDataSizeOffset, size, sizeof size);
  return std::min(length, kWaveHeaderBytes + GetLe32(size));
}

bool DataSizeUnset(CFile& file) {
  const std::uint64_t length = file.GetLength();
  std::uint8_t size[sizeof(std::uint32_t)] = {};
  if (length <= kWaveHeaderBytes ||
      ReadAt(file, kDataSizeOffset, size, sizeof size) != sizeof size) {
    return false;
  }
  // An empty data chunk may be followed by other chunks; samples there are what a recorder
  // killed before it went back to its header leaves.
  FileSource source(file);
  return GetLe32(size) == 0 && !ChunksRunToEnd(source, kWaveHeaderBytes);
}

namespace {

// The table's bytes as they stand: from kLoopTableOffset up to the end of the last slot wholly
// inside the sample data, read in one go. Slots beyond stay out, so nothing from another chunk
// or another file can show through, and nothing is ever written there.
std::vector<std::uint8_t> ReadTableBytes(CFile& file) {
  const std::uint64_t dataEnd = SampleDataEnd(file);
  std::size_t slotCount = 0;
  while (slotCount < kLoopPointCount && SlotOffset(slotCount + 1) <= dataEnd) ++slotCount;
  std::vector<std::uint8_t> bytes(slotCount * kLoopRecordBytes);
  if (!bytes.empty()) bytes.resize(ReadAt(file, kLoopTableOffset, bytes.data(), bytes.size()));
  return bytes;
}

Slots SlotsOf(const std::vector<std::uint8_t>& tableBytes) {
  Slots slots{};
  for (std::size_t i = 0; (i + 1) * kLoopRecordBytes <= tableBytes.size(); ++i) {
    std::copy_n(tableBytes.begin() + static_cast<std::ptrdiff_t>(i * kLoopRecordBytes),
                kLoopRecordBytes, slots[i].bytes.begin());
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

std::string TooShortText(std::size_t count) {
  return "The file is too short for " + std::to_string(count) + " loop points";
}

std::string BoxRefusal(std::size_t index, const char* what) {
  return "Loop point " + std::to_string(index + 1) + what;
}

using Verdict = LoopPointsCheck::Verdict;

// Every check reads the header fields it needs from these bytes.
bool ReadHeader(CFile& file, WaveHeader& header) {
  return file.GetLength() >= kWaveHeaderBytes &&
         ReadAt(file, 0, header.data(), header.size()) == header.size();
}

// The chunk ids of the canonical layout, each where it must be for the samples to start at 44.
bool HasCanonicalIds(const WaveHeader& header) {
  const std::uint8_t* h = header.data();
  return HasChunkId(h + kRiffIdOffset, "RIFF") && HasChunkId(h + kWaveIdOffset, "WAVE") &&
         HasChunkId(h + kFmtIdOffset, "fmt ") && HasChunkId(h + kDataIdOffset, "data");
}

}  // namespace

std::uint32_t BytesPerFrame(std::uint8_t channelByte) {
  return channelByte == kMonoChannelByte ? kMonoBytesPerFrame : kOtherBytesPerFrame;
}

bool IsCanonicalWave(CFile& file) {
  WaveHeader header{};
  return ReadHeader(file, header) && HasCanonicalIds(header);
}

namespace {

// CheckPatchable's answer, as CheckLoopPoints gives it.
Verdict PatchableVerdict(CFile& file) {
  WaveHeader header{};
  if (!ReadHeader(file, header) || !HasCanonicalIds(header)) return Verdict::notCanonical;
  const std::uint16_t channels = GetLe16(&header[kChannelsOffset]);
  const bool pcm16 = GetLe16(&header[kFormatOffset]) == kPcmFormat &&
                     GetLe16(&header[kBitsOffset]) == kPcm16Bits &&
                     (channels == 1 || channels == 2) &&
                     GetLe16(&header[kBlockAlignOffset]) == channels * kPcm16SampleBytes;
  return pcm16 ? Verdict::fits : Verdict::notPcm16;
}

}  // namespace

std::string CheckPatchable(CFile& file) {
  return LoopPointsText({PatchableVerdict(file)});
}

std::string LoopPointsText(const LoopPointsCheck& check) {
  switch (check.verdict) {
    case Verdict::fits:
      break;
    case Verdict::replaced:
      return kReplacedText;
    case Verdict::notCanonical:
      return kNotCanonicalText;
    case Verdict::notPcm16:
      return kNotPcm16Text;
    case Verdict::outOfRange:
      return BoxRefusal(check.box, " is out of range");
    case Verdict::followsEmpty:
      return BoxRefusal(check.box, " follows an empty loop point");
    case Verdict::pastTheEnd:
      return BoxRefusal(check.box, " is past the end of the samples");
    case Verdict::tooShort:
      return TooShortText(check.count);
  }
  return {};
}

bool StillAtItsPath(const CFile& file) {
  return file.RefersTo(file.GetFilePath());
}

std::string LookalikeText(std::size_t index) {
  return "slot " + std::to_string(index + 1) +
         " holds sample bytes that look like a record; it is shown empty and Patch clears it";
}

LoopTable ReadLoopTable(CFile& file) {
  LoopTable table{};
  if (file.GetLength() > kChannelsOffset) {
    ReadAt(file, kChannelsOffset, &table.channelByte, sizeof table.channelByte);
  }
  table.channelCount = static_cast<std::int8_t>(table.channelByte);
  // One mark byte is enough for a record, so one slot in 128 of plain audio reads as one; its
  // offset then names a frame at random, nearly always far past the last: no loop point.
  const std::vector<std::uint8_t> bytes = ReadTableBytes(file);
  std::vector<std::size_t> lookalikes;
  table.loopPoints = LoopPointsOfTable(table.channelByte, bytes.data(), bytes.size(),
                                       SampleDataEnd(file) - kLoopTableOffset, &lookalikes);
  for (const std::size_t slot : lookalikes) table.lookalikes.push_back(LookalikeText(slot));
  return table;
}

LoopPointsCheck CheckLoopPoints(CFile& file, std::uint8_t channelByte,
                                const LoopPoints& loopPoints) {
  if (!StillAtItsPath(file)) return {Verdict::replaced};
  // The lock is only advisory: the file may have been rewritten in place since it was opened
  // (same inode, another format), and records in it would then count the wrong frames.
  if (const Verdict patchable = PatchableVerdict(file); patchable != Verdict::fits) {
    return {patchable};
  }
  return CheckPointsInSamples(channelByte, SampleDataEnd(file) - kLoopTableOffset, loopPoints);
}

LoopPointsCheck CheckPointsInSamples(std::uint8_t channelByte, std::uint64_t dataBytes,
                                     const LoopPoints& loopPoints) {
  const std::uint32_t bytesPerFrame = BytesPerFrame(channelByte);
  // A point may name the end of the samples itself (a loop running to the last frame), but
  // no frame after it.
  const std::uint64_t frames = dataBytes / bytesPerFrame;
  bool emptySeen = false;
  for (std::size_t i = 0; i < kLoopPointCount; ++i) {
    if (!ByteOffsetOf(loopPoints[i], bytesPerFrame)) return {Verdict::outOfRange, i};
    if (loopPoints[i] == 0) {
      emptySeen = true;
    } else if (emptySeen) {
      return {Verdict::followsEmpty, i};
    } else if (static_cast<std::uint64_t>(loopPoints[i]) > frames) {
      return {Verdict::pastTheEnd, i};
    }
  }
  // Records beyond the sample data would overwrite whatever chunk follows it.
  const std::size_t count = LeadingRun(loopPoints);
  if (count > 0 && SlotOffset(count) > kLoopTableOffset + dataBytes) {
    return {Verdict::tooShort, 0, count};
  }
  return {};
}

std::size_t LayLoopTable(std::vector<std::uint8_t>& table, std::uint8_t channelByte,
                         const LoopPoints& loopPoints) {
  // Records for the leading run, blanks over later slots that still read as records (or a
  // cleared point would come back on the next read), and every other slot as it was, since
  // there the bytes are samples.
  const std::uint32_t bytesPerFrame = BytesPerFrame(channelByte);
  const std::size_t count = LeadingRun(loopPoints);
  const Slots old = SlotsOf(table);
  std::size_t changed = count;  // slots from the first up to the last one that changes
  for (std::size_t i = 0; i < kLoopPointCount && (i + 1) * kLoopRecordBytes <= table.size(); ++i) {
    LoopRecord slot;
    if (i < count) {
      slot = LoopRecord::FromByteOffset(*ByteOffsetOf(loopPoints[i], bytesPerFrame));
    } else if (!old[i].IsRecord()) {
      continue;
    } else {
      changed = i + 1;
    }
    std::copy(slot.bytes.begin(), slot.bytes.end(),
              table.begin() + static_cast<std::ptrdiff_t>(i * kLoopRecordBytes));
  }
  return changed * kLoopRecordBytes;
}

void WriteLoopTable(CFile& file, std::uint8_t channelByte, const LoopPoints& loopPoints) {
  const LoopPointsCheck check = CheckLoopPoints(file, channelByte, loopPoints);
  if (check.verdict != Verdict::fits) throw std::invalid_argument(LoopPointsText(check));

  // The new table is built over the bytes just read, under the lock.
  const std::size_t count = LeadingRun(loopPoints);
  std::vector<std::uint8_t> table = ReadTableBytes(file);
  // The lock is only advisory: another program may have cut the file short since the check.
  if (table.size() < count * kLoopRecordBytes) {
    throw std::invalid_argument(LoopPointsText({Verdict::tooShort, 0, count}));
  }
  const std::size_t changed = LayLoopTable(table, channelByte, loopPoints) / kLoopRecordBytes;
  // One write, so an interruption leaves either the old table or the new one on the disk.
  if (changed > 0) file.WriteAt(kLoopTableOffset, table.data(), changed * kLoopRecordBytes);
  file.Flush();
  file.Close();
}
