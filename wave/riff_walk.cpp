#include "wave/riff_walk.h"

#include <algorithm>
#include <vector>

#include "wave/wave_fields.h"

namespace {

// A real file has a handful of chunks; a walk that has read this many is over a crafted or
// damaged one, and stops there rather than run on through gigabytes of tiny chunks.
constexpr int kMostChunks = 4096;
// Zero-size chunks in a row: a run of zero bytes (a sparse or cleared file) reads as one.
constexpr int kMostEmptyChunksInARow = 16;
// How many chunks may lie behind an empty data chunk for them to count as chunks.
constexpr int kMostTrailingChunks = 64;
// How far the walk looks for a data chunk's id behind a chunk whose size runs past the end.
constexpr std::size_t kResyncBytes = 64 * 1024;

// Chunk ids are four printable ASCII characters; anything else (zero bytes above all) is no
// chunk header.
bool IsChunkId(const std::uint8_t* id) {
  return std::all_of(id, id + kChunkIdBytes, [](std::uint8_t c) { return c >= 0x20 && c <= 0x7E; });
}

struct ChunkHeader {
  std::uint8_t bytes[kChunkHeaderBytes] = {};
  std::uint32_t Size() const { return GetLe32(bytes + kChunkIdBytes); }
};

// The chunk header at `at`, when the file holds one there that could be real.
std::optional<ChunkHeader> ChunkAt(ByteSource& source, std::uint64_t at) {
  if (at + kChunkHeaderBytes > source.Length()) return std::nullopt;
  ChunkHeader chunk;
  if (source.ReadAt(at, chunk.bytes, sizeof chunk.bytes) != sizeof chunk.bytes) return std::nullopt;
  if (!IsChunkId(chunk.bytes)) return std::nullopt;
  return chunk;
}

// Where the chunk after one of size bytes at body starts. An odd chunk is followed by a pad
// byte, but some writers leave it out: then the next id starts right at the end of the body.
std::uint64_t NextChunk(ByteSource& source, std::uint64_t body, std::uint64_t size) {
  const std::uint64_t end = body + size;
  if ((size & 1u) == 0) return end;
  if (!ChunkAt(source, end + 1) && ChunkAt(source, end)) return end;
  return end + 1;
}

// The 64-bit data size of an RF64 or BW64 file, from its ds64 chunk.
std::optional<std::uint64_t> Ds64DataSize(ByteSource& source) {
  const std::optional<ChunkHeader> chunk = ChunkAt(source, kRiffPreambleBytes);
  if (!chunk || !HasChunkId(chunk->bytes, "ds64") || chunk->Size() < kDs64LeastBytes) {
    return std::nullopt;
  }
  std::uint8_t sizes[kDs64DataSizeAt + sizeof(std::uint64_t)] = {};
  if (source.ReadAt(kRiffPreambleBytes + kChunkHeaderBytes, sizes, sizeof sizes) != sizeof sizes) {
    return std::nullopt;
  }
  return GetLe32(sizes + kDs64DataSizeAt) |
         (std::uint64_t{GetLe32(sizes + kDs64DataSizeAt + sizeof(std::uint32_t))} << 32);
}

// A data chunk's id found behind a chunk that runs past the end counts only with a size that
// fits the file, or none at all: text that happens to spell "data" is no chunk.
std::optional<std::uint64_t> ResyncedData(ByteSource& source, std::uint64_t from) {
  // The search never looks further than kResyncBytes from where it began, however many ids
  // with sizes that do not fit it meets: a file of nothing else costs one window, not one each.
  const std::uint64_t length = source.Length();
  const std::uint64_t limit = std::min(length, from + kResyncBytes);
  while (const std::optional<std::uint64_t> at = FindDataId(source, from, limit)) {
    const std::optional<ChunkHeader> header = ChunkAt(source, *at);
    if (!header) return std::nullopt;
    const std::uint32_t size = header->Size();
    if (size == 0 || size == kSizeUnset || *at + kChunkHeaderBytes + size <= length) return at;
    from = *at + 1;
  }
  return std::nullopt;
}

// Fills in what the header of a data chunk leaves out: the size from ds64, or, with no size
// given and samples behind it, the samples up to the end of the file.
void SizeDataChunk(ByteSource& source, RiffChunk& chunk, std::optional<std::uint64_t> ds64Size) {
  const std::uint64_t held = chunk.fileLength - chunk.body;
  if (chunk.size == kSizeUnset && ds64Size) {
    chunk.size = *ds64Size;
  } else if (chunk.size == kSizeUnset && held < chunk.size) {
    chunk.sizeUnset = true;
  } else if (chunk.size == 0 && held > 0 && !ChunksRunToEnd(source, chunk.body)) {
    chunk.size = held;
    chunk.sizeUnset = true;
  }
}

}  // namespace

bool RiffChunk::Is(const char (&name)[5]) const {
  return HasChunkId(id.data(), name);
}

std::uint64_t RiffChunk::End() const {
  return std::min(fileLength, body + size + (size & 1u));
}

RiffForm RiffFormOf(ByteSource& source) {
  std::uint8_t preamble[kRiffPreambleBytes] = {};
  if (source.ReadAt(0, preamble, sizeof preamble) != sizeof preamble ||
      !HasChunkId(preamble + kWaveIdOffset, "WAVE")) {
    return RiffForm::kNone;
  }
  if (HasChunkId(preamble + kRiffIdOffset, "RIFF")) return RiffForm::kRiff;
  if (HasChunkId(preamble + kRiffIdOffset, "RF64") ||
      HasChunkId(preamble + kRiffIdOffset, "BW64")) {
    return RiffForm::kRf64;
  }
  return RiffForm::kNone;
}

std::optional<std::uint64_t> FindDataId(ByteSource& source, std::uint64_t from, std::uint64_t to) {
  if (from >= to) return std::nullopt;
  std::vector<std::uint8_t> window(
      static_cast<std::size_t>(std::min<std::uint64_t>(kResyncBytes, to - from)));
  window.resize(source.ReadAt(from, window.data(), window.size()));
  static constexpr char kDataId[] = "data";
  const auto found = std::search(window.begin(), window.end(), kDataId, kDataId + kChunkIdBytes);
  if (found == window.end()) return std::nullopt;
  return from + static_cast<std::uint64_t>(found - window.begin());
}

bool ChunksRunToEnd(ByteSource& source, std::uint64_t at) {
  const std::uint64_t length = source.Length();
  for (int chunks = 0; chunks < kMostTrailingChunks; ++chunks) {
    if (at == length) return true;
    const std::optional<ChunkHeader> header = ChunkAt(source, at);
    if (!header) return false;
    const std::uint64_t end = at + kChunkHeaderBytes + header->Size();
    if (end > length) return false;
    // The last chunk's pad byte may be missing.
    if (end == length || (end + 1 == length && (header->Size() & 1u) != 0)) return true;
    at = NextChunk(source, at + kChunkHeaderBytes, header->Size());
  }
  return false;
}

// Every step reads one chunk header and jumps over the body, bounded by the file's length
// rather than the sizes it declares, so the walk's time follows what it reads, never the file's
// size.
RiffForm WalkRiffChunks(ByteSource& source,
                        const std::function<RiffWalk(const RiffChunk&)>& visit) {
  const RiffForm form = RiffFormOf(source);
  if (form == RiffForm::kNone) return form;
  const std::uint64_t length = source.Length();
  const std::optional<std::uint64_t> ds64Size =
      form == RiffForm::kRf64 ? Ds64DataSize(source) : std::nullopt;
  int emptyInARow = 0;
  std::uint64_t at = kRiffPreambleBytes;
  for (int chunks = 0; chunks < kMostChunks && emptyInARow < kMostEmptyChunksInARow; ++chunks) {
    const std::optional<ChunkHeader> header = ChunkAt(source, at);
    if (!header) break;
    RiffChunk chunk;
    std::copy_n(header->bytes, kChunkIdBytes, chunk.id.begin());
    chunk.header = at;
    chunk.body = at + kChunkHeaderBytes;
    chunk.size = header->Size();
    chunk.fileLength = length;
    const bool data = chunk.Is("data");
    if (data) SizeDataChunk(source, chunk, ds64Size);
    if (visit(chunk) == RiffWalk::kStop) break;
    if (chunk.RunsPastEnd()) {
      // Samples cut short by the end of the file have nothing behind them.
      if (data) break;
      // No other real chunk runs past the end; the data chunk may still follow its header.
      const std::optional<std::uint64_t> dataAt = ResyncedData(source, chunk.body);
      if (!dataAt) break;
      at = *dataAt;
      continue;
    }
    emptyInARow = chunk.size == 0 ? emptyInARow + 1 : 0;
    at = NextChunk(source, chunk.body, chunk.size);
  }
  return form;
}
