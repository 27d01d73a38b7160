// The one walk over the chunks of a RIFF/WAVE file (or RF64/BW64), for every reader here. It
// reads bytes through a small source, a file or memory, so it knows nothing of files itself.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>

#include "wave/wave_header.h"

// Where the walk reads from. Failures are the source's to report (by throwing).
class ByteSource {
 public:
  virtual ~ByteSource() = default;
  virtual std::uint64_t Length() = 0;
  // Up to count bytes from offset; fewer only at the end.
  virtual std::size_t ReadAt(std::uint64_t offset, void* buffer, std::size_t count) = 0;
};

inline constexpr std::size_t kRiffPreambleBytes = 12;  // "RIFF", its size, "WAVE"
// What streaming writers leave in a size field until they go back to fill it in, and what an
// RF64 file keeps there for a size held in its ds64 chunk.
inline constexpr std::uint32_t kSizeUnset = 0xFFFFFFFF;

enum class RiffForm { kNone, kRiff, kRf64 };  // kRf64: RF64 or BW64, with sizes in ds64

// One chunk met on the walk: its id, where its header and body start and the size it
// declares (for the data chunk of an RF64 or BW64 file, the size from the ds64 chunk).
struct RiffChunk {
  std::array<std::uint8_t, kChunkIdBytes> id{};
  std::uint64_t header = 0;
  std::uint64_t body = 0;
  std::uint64_t size = 0;
  std::uint64_t fileLength = 0;
  // A data chunk whose header gives no size (0 or 0xFFFFFFFF, as a recorder killed before it
  // finished leaves it) with samples behind it: size is then what the file holds.
  bool sizeUnset = false;
  bool Is(const char (&name)[5]) const;
  bool RunsPastEnd() const { return body + size > fileLength; }
  // The bytes of the body the file really holds.
  std::uint64_t Held() const { return RunsPastEnd() ? fileLength - body : size; }
  // The chunk as it lies in the file, header, body and pad byte, as far as the file holds it.
  std::uint64_t End() const;
};
enum class RiffWalk { kGoOn, kStop };

RiffForm RiffFormOf(ByteSource& source);

// Walks the chunks in file order, calling visit with each until it says stop, and returns the
// form of the file (kNone, and no visit, when it is no RIFF/WAVE at all). The walk reads a few
// bytes per chunk and stops at the first one that cannot be real (no printable id, a run of
// empty chunks, more chunks than any real file has), so it takes no longer on a crafted 4 GiB
// file than on an everyday one. A chunk whose size runs past the end of the file is skipped by
// looking for the data chunk's id behind it (a recorder killed before it finished a LIST chunk
// leaves 0xFFFFFFFF there); nothing is visited after a data chunk cut short.
RiffForm WalkRiffChunks(ByteSource& source, const std::function<RiffWalk(const RiffChunk&)>& visit);

// True when the bytes from `at` are whole chunks up to the end of the file: printable ids and
// sizes that fit. Behind an empty data chunk this tells real chunks from samples whose first
// bytes happen to be printable.
bool ChunksRunToEnd(ByteSource& source, std::uint64_t at);

// The first "data" id in [from, to), at any byte, looked for in the first 64 KiB only.
std::optional<std::uint64_t> FindDataId(ByteSource& source, std::uint64_t from, std::uint64_t to);
