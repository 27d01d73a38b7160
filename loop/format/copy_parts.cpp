#include "loop/format/copy_parts.h"

#include <sys/stat.h>

#include <algorithm>

namespace {

constexpr std::size_t kCopyBlockBytes = 1 << 20;

}  // namespace

// The chunks a copy carries behind its samples: all but those the canonical header replaces
// (fmt, data, an RF64 file's ds64) and those the end of the file cuts short, which would be no
// chunks in the copy.
std::vector<RiffChunk> KeptChunks(const WaveLayout& layout) {
  std::vector<RiffChunk> kept;
  for (const RiffChunk& chunk : layout.chunks) {
    if (!chunk.Is("fmt ") && !chunk.Is("data") && !chunk.Is("ds64") && !chunk.RunsPastEnd()) {
      kept.push_back(chunk);
    }
  }
  return kept;
}

// The chunks' bytes in the copy: each header and body, with the pad byte RIFF demands behind
// an odd body, whether or not the source had it.
std::uint64_t KeptBytes(const std::vector<RiffChunk>& kept) {
  std::uint64_t bytes = 0;
  for (const RiffChunk& chunk : kept) bytes += kChunkHeaderBytes + chunk.size + (chunk.size & 1u);
  return bytes;
}

std::string ChunkName(const RiffChunk& chunk) {
  std::string id(chunk.id.begin(), chunk.id.end());
  return id.substr(0, id.find_last_not_of(' ') + 1);  // "cue " is the cue chunk
}

bool SameFile(const std::string& a, const std::string& b) {
  struct stat first {};
  struct stat second {};
  return ::stat(a.c_str(), &first) == 0 && ::stat(b.c_str(), &second) == 0 &&
         first.st_dev == second.st_dev && first.st_ino == second.st_ino;
}

void ThrowIfFailed(int osError) {
  if (osError != 0) throw CFileException(osError);
}

// False when the source ended before count bytes: it shrank under us, and the header written
// first would claim samples the copy does not hold. A table with points is laid over the first
// bytes on their way, so the copy never holds the source's bytes there, even for a moment.
bool CopyBytes(CFile& from, std::uint64_t offset, std::uint64_t count, ReplacementFile& to,
               std::uint8_t channelByte, const LoopPoints& table) {
  std::vector<std::uint8_t> block(kCopyBlockBytes);
  bool first = std::any_of(table.begin(), table.end(), [](std::int32_t p) { return p != 0; });
  from.Seek(static_cast<std::int64_t>(offset), CFile::begin);
  while (count > 0) {
    const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(count, block.size()));
    std::size_t got = from.Read(block.data(), want);
    // The table needs its bytes in one piece: a short read there is finished first.
    while (first && got < std::min(want, kLoopPointCount * kLoopRecordBytes)) {
      const std::size_t more = from.Read(block.data() + got, want - got);
      if (more == 0) return false;
      got += more;
    }
    if (got == 0) return false;
    if (first) {
      LayTableOverFirstBytes(block.data(), got, channelByte, table);
      first = false;
    }
    ThrowIfFailed(to.Write(block.data(), got));
    count -= got;
  }
  return true;
}

void LayTableOverFirstBytes(std::uint8_t* bytes, std::size_t count, std::uint8_t channelByte,
                            const LoopPoints& table) {
  std::vector<std::uint8_t> slots(bytes,
                                  bytes + std::min(count, kLoopPointCount * kLoopRecordBytes));
  LayLoopTable(slots, channelByte, table);
  std::copy(slots.begin(), slots.end(), bytes);
}

// The kept chunks behind the samples, in their order; false when the source shrank.
bool AppendChunks(CFile& from, const std::vector<RiffChunk>& kept, ReplacementFile& to) {
  for (const RiffChunk& chunk : kept) {
    std::uint8_t header[kChunkHeaderBytes] = {};
    std::copy(chunk.id.begin(), chunk.id.end(), header);
    PutLe32(header + kChunkIdBytes, static_cast<std::uint32_t>(chunk.size));
    ThrowIfFailed(to.Write(header, sizeof header));
    if (!CopyBytes(from, chunk.body, chunk.size, to, 0, LoopPoints{})) return false;
    static constexpr std::uint8_t kPad = 0;
    if ((chunk.size & 1u) != 0) ThrowIfFailed(to.Write(&kPad, 1));
  }
  return true;
}
