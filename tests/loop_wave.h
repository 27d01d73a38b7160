// Wave files as loop finds them: a canonical 16-bit PCM file whose first sample bytes hold loop
// records.
#pragma once

#include <algorithm>
#include <cstdint>
#include <vector>

#include "loop/format/loop_table.h"
#include "tests/scratch_dir.h"

// A canonical file with dataBytes of fill, with records holding the given byte offsets from
// slot 1 on.
inline Bytes WaveWithRecords(std::uint16_t channels, const std::vector<std::uint32_t>& byteOffsets,
                             std::size_t dataBytes, std::uint8_t fill) {
  Bytes bytes = CanonicalWave(channels, dataBytes, fill);
  for (std::size_t i = 0; i < byteOffsets.size(); ++i) {
    const LoopRecord record = LoopRecord::FromByteOffset(byteOffsets[i]);
    std::copy(record.bytes.begin(), record.bytes.end(),
              bytes.begin() + kLoopTableOffset + i * kLoopRecordBytes);
  }
  return bytes;
}
