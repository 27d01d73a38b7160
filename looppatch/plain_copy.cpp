#include "looppatch/plain_copy.h"

#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdint>
#include <filesystem>
#include <limits>
#include <optional>
#include <vector>

#include "looppatch/loop_table.h"
#include "platform/replace_file.h"
#include "wave/wave_header.h"

namespace {

// The fmt chunk's fields, counted from the start of its body.
constexpr std::size_t kFmtTagAt = 0;
constexpr std::size_t kFmtChannelsAt = 2;
constexpr std::size_t kFmtRateAt = 4;
constexpr std::size_t kFmtBlockAlignAt = 12;
constexpr std::size_t kFmtBitsAt = 14;
constexpr std::size_t kFmtExtensionSizeAt = 16;
constexpr std::size_t kFmtSubformatAt = 24;
constexpr std::uint32_t kPlainFmtBytes = 16;
constexpr std::uint32_t kExtensibleFmtBytes = 40;
constexpr std::uint16_t kExtensionBytes = 22;
// The extensible format names its sample coding by GUID; this one is integer PCM.
constexpr std::array<std::uint8_t, 16> kPcmSubformat = {
    0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};
constexpr std::size_t kRiffPreambleBytes = 12;  // "RIFF", its size, "WAVE"
// Both size fields of the plain header are 32 bits and the RIFF size counts the 36 header
// bytes after it, so this much data is the most one copy can describe.
constexpr std::uint64_t kMostDataBytes =
    std::numeric_limits<std::uint32_t>::max() - (kWaveHeaderBytes - kChunkHeaderBytes);
constexpr std::size_t kCopyBlockBytes = 1 << 20;
constexpr char kPlainSuffix[] = "-plain.wav";

struct Samples {
  PcmFormat format;
  std::uint64_t offset = 0;  // of the first sample byte
  std::uint64_t bytes = 0;   // as many as the file holds
  bool sizeUnset = false;    // the header gave none: the samples run to the end of the file
};

// What a walk over the chunks found: the samples, or whether the file was a RIFF/WAVE at all.
struct Walk {
  bool riffWave = false;
  bool otherFormat = false;  // its fmt chunk names samples other than 16-bit PCM in 1 or 2 channels
  std::optional<Samples> samples;
};

// A real file has a handful of chunks; a walk that has read this many is over a crafted or
// damaged one, and stops there rather than run on through gigabytes of tiny chunks.
constexpr int kMostChunks = 4096;
// Zero-size chunks in a row: a run of zero bytes (a sparse or cleared file) reads as one.
constexpr int kMostEmptyChunksInARow = 16;
// How far behind a chunk whose size runs past the end the walk looks for the data chunk: a
// recorder killed before it finished a LIST chunk leaves 0xFFFFFFFF in its size.
constexpr std::size_t kResyncBytes = 64 * 1024;
// RF64 and BW64 keep the sizes past 4 GiB in a ds64 chunk right behind the preamble.
constexpr std::size_t kDs64DataSizeAt = 8;
constexpr std::uint32_t kDs64LeastBytes = 24;
constexpr std::uint32_t kSizeUnset = 0xFFFFFFFF;

std::optional<PcmFormat> Pcm16FormatOf(const std::uint8_t* fmt, std::uint32_t size) {
  if (size < kPlainFmtBytes) return std::nullopt;
  const std::uint16_t tag = GetLe16(fmt + kFmtTagAt);
  const bool extensiblePcm =
      tag == kExtensibleFormat && size >= kExtensibleFmtBytes &&
      GetLe16(fmt + kFmtExtensionSizeAt) >= kExtensionBytes &&
      std::equal(kPcmSubformat.begin(), kPcmSubformat.end(), fmt + kFmtSubformatAt);
  const std::uint16_t channels = GetLe16(fmt + kFmtChannelsAt);
  if ((tag != kPcmFormat && !extensiblePcm) || (channels != 1 && channels != 2) ||
      GetLe16(fmt + kFmtBitsAt) != kPcm16Bits ||
      GetLe16(fmt + kFmtBlockAlignAt) != channels * kPcm16SampleBytes) {
    return std::nullopt;
  }
  return PcmFormat{channels, GetLe32(fmt + kFmtRateAt), kPcm16Bits};
}

// "RIFF", "RF64" or "BW64", then "WAVE"; 0 when the file is none of them, else the preamble's id
// (first letter) so the caller knows whether a ds64 chunk is to follow.
char RiffWaveKind(CFile& file) {
  std::uint8_t preamble[kRiffPreambleBytes] = {};
  file.Seek(0, CFile::begin);
  if (file.Read(preamble, sizeof preamble) != sizeof preamble ||
      !HasChunkId(preamble + kWaveIdOffset, "WAVE")) {
    return 0;
  }
  if (HasChunkId(preamble + kRiffIdOffset, "RIFF")) return 'R';
  if (HasChunkId(preamble + kRiffIdOffset, "RF64") ||
      HasChunkId(preamble + kRiffIdOffset, "BW64")) {
    return '6';
  }
  return 0;
}

bool IsRiffWave(CFile& file) {
  return RiffWaveKind(file) != 0;
}

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
std::optional<ChunkHeader> ChunkAt(CFile& file, std::uint64_t at, std::uint64_t length) {
  if (at + kChunkHeaderBytes > length) return std::nullopt;
  ChunkHeader chunk;
  file.Seek(static_cast<std::int64_t>(at), CFile::begin);
  if (file.Read(chunk.bytes, sizeof chunk.bytes) != sizeof chunk.bytes) return std::nullopt;
  if (!IsChunkId(chunk.bytes)) return std::nullopt;
  return chunk;
}

// Where the chunk after one of size bytes at body starts. An odd chunk is followed by a pad
// byte, but some writers leave it out: then the next id starts right at the end of the body.
std::uint64_t NextChunk(CFile& file, std::uint64_t body, std::uint64_t size, std::uint64_t length) {
  const std::uint64_t end = body + size;
  if ((size & 1u) == 0) return end;
  if (!ChunkAt(file, end + 1, length) && ChunkAt(file, end, length)) return end;
  return end + 1;
}

// The first "data" chunk id within kResyncBytes after `from`, at any byte.
std::optional<std::uint64_t> FindDataId(CFile& file, std::uint64_t from, std::uint64_t length) {
  if (from >= length) return std::nullopt;
  std::vector<std::uint8_t> window(
      static_cast<std::size_t>(std::min<std::uint64_t>(kResyncBytes, length - from)));
  file.Seek(static_cast<std::int64_t>(from), CFile::begin);
  window.resize(file.Read(window.data(), window.size()));
  static constexpr char kDataId[] = "data";
  const auto found = std::search(window.begin(), window.end(), kDataId, kDataId + kChunkIdBytes);
  if (found == window.end()) return std::nullopt;
  return from + static_cast<std::uint64_t>(found - window.begin());
}

// The 64-bit data size of an RF64 or BW64 file, from its ds64 chunk.
std::optional<std::uint64_t> Ds64DataSize(CFile& file, std::uint64_t length) {
  const std::optional<ChunkHeader> chunk = ChunkAt(file, kRiffPreambleBytes, length);
  if (!chunk || !HasChunkId(chunk->bytes, "ds64") || chunk->Size() < kDs64LeastBytes) {
    return std::nullopt;
  }
  std::uint8_t sizes[kDs64DataSizeAt + sizeof(std::uint64_t)] = {};
  if (file.Read(sizes, sizeof sizes) != sizeof sizes) return std::nullopt;
  return GetLe32(sizes + kDs64DataSizeAt) |
         (std::uint64_t{GetLe32(sizes + kDs64DataSizeAt + sizeof(std::uint32_t))} << 32);
}

// The samples of a data chunk of the declared size at body. Streaming writers leave 0 or
// 0xFFFFFFFF there until they finish; with samples behind such a size (and no chunk header
// right behind an empty data chunk), the samples run to the end of the file.
Samples DataChunk(CFile& file, const PcmFormat& format, std::uint64_t body, std::uint64_t declared,
                  std::uint64_t length) {
  const std::uint64_t held = length - body;
  const bool unset = (declared == 0 && held > 0 && !ChunkAt(file, body, length)) ||
                     (declared == kSizeUnset && held < declared);
  if (unset) return Samples{format, body, held, true};
  return Samples{format, body, std::min(declared, held), false};
}

// The plain copy's view of the walk: the fmt chunk, then the data chunk, where it stops.
Walk WalkChunks(CFile& file) {
  Walk walk;
  std::optional<PcmFormat> format;
  walk.riffWave = WalkRiffChunks(file, [&](const RiffChunk& chunk) {
    if (chunk.Is("fmt ")) {
      std::array<std::uint8_t, kExtensibleFmtBytes> fmt{};
      const std::size_t want =
          static_cast<std::size_t>(std::min<std::uint64_t>(chunk.size, fmt.size()));
      file.Seek(static_cast<std::int64_t>(chunk.body), CFile::begin);
      if (file.Read(fmt.data(), want) != want) return RiffWalk::kStop;
      format = Pcm16FormatOf(fmt.data(), static_cast<std::uint32_t>(chunk.size));
      walk.otherFormat = !format;
      return format && !chunk.RunsPastEnd() ? RiffWalk::kGoOn : RiffWalk::kStop;
    }
    if (chunk.Is("data")) {
      // Samples before their format cannot be read.
      if (format) walk.samples = DataChunk(file, *format, chunk.body, chunk.size, chunk.fileLength);
      return RiffWalk::kStop;
    }
    return RiffWalk::kGoOn;
  });
  return walk;
}

std::optional<Samples> FindPcm16Samples(CFile& file) {
  return WalkChunks(file).samples;
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
      std::vector<std::uint8_t> slots(
          block.begin(), block.begin() + static_cast<std::ptrdiff_t>(
                                             std::min(got, kLoopPointCount * kLoopRecordBytes)));
      LayLoopTable(slots, channelByte, table);
      std::copy(slots.begin(), slots.end(), block.begin());
      first = false;
    }
    ThrowIfFailed(to.Write(block.data(), got));
    count -= got;
  }
  return true;
}

// The copy's samples: whole frames only, since a frame cut short by the end of the file is no
// sample.
std::uint64_t WholeFrameBytes(const Samples& samples) {
  return samples.bytes - samples.bytes % (samples.format.channels * kPcm16SampleBytes);
}

}  // namespace

bool RiffChunk::Is(const char (&name)[5]) const {
  return HasChunkId(id.data(), name);
}

// Every step reads one chunk header and jumps over the body, bounded by the file's length
// rather than the sizes it declares, and the walk stops at the first chunk that cannot be real
// (no chunk id, a run of empty chunks, too many chunks), so its time follows what it reads,
// never the file's size.
bool WalkRiffChunks(CFile& file, const std::function<RiffWalk(const RiffChunk&)>& visit) {
  const std::uint64_t length = file.GetLength();
  const char kind = RiffWaveKind(file);
  if (kind == 0) return false;
  const std::optional<std::uint64_t> ds64DataSize =
      kind == '6' ? Ds64DataSize(file, length) : std::nullopt;
  int emptyInARow = 0;
  std::uint64_t at = kRiffPreambleBytes;
  for (int chunks = 0; chunks < kMostChunks && emptyInARow < kMostEmptyChunksInARow; ++chunks) {
    const std::optional<ChunkHeader> header = ChunkAt(file, at, length);
    if (!header) break;
    RiffChunk chunk;
    std::copy_n(header->bytes, kChunkIdBytes, chunk.id.begin());
    chunk.body = at + kChunkHeaderBytes;
    chunk.size = header->Size();
    chunk.fileLength = length;
    const bool data = chunk.Is("data");
    if (data && chunk.size == kSizeUnset && ds64DataSize) chunk.size = *ds64DataSize;
    if (visit(chunk) == RiffWalk::kStop) break;
    if (chunk.RunsPastEnd()) {
      // Samples cut short by the end of the file have nothing behind them.
      if (data) break;
      // No other real chunk runs past the end; the data chunk may still follow its header.
      const std::optional<std::uint64_t> dataAt = FindDataId(file, chunk.body, length);
      if (!dataAt) break;
      at = *dataAt;
      continue;
    }
    emptyInARow = chunk.size == 0 ? emptyInARow + 1 : 0;
    at = NextChunk(file, chunk.body, chunk.size, length);
  }
  return true;
}

bool CanMakePlainCopy(CFile& file) {
  return FindPcm16Samples(file).has_value();
}

std::string TableRefusal(CFile& file) {
  std::string refusal = CheckPatchable(file);
  if (refusal != kNotCanonicalText) return refusal;
  const Walk walk = WalkChunks(file);
  return walk.otherFormat ? kNotPcm16Text : refusal;
}

std::string PlainCopyName(const std::string& source) {
  std::filesystem::path path(source);
  const std::string stem = path.stem().string();
  return (path.parent_path() / (stem + kPlainSuffix)).string();
}

std::optional<PlainCopySamples> PlainCopySamplesOf(CFile& file) {
  const std::optional<Samples> samples = FindPcm16Samples(file);
  if (!samples) return std::nullopt;
  return PlainCopySamples{
      samples->format.channels,
      WholeFrameBytes(*samples) / (samples->format.channels * kPcm16SampleBytes)};
}

std::string PlainCopyText(const PlainCopyOutcome& outcome) {
  using Kind = PlainCopyOutcome::Kind;
  switch (outcome.kind) {
    case Kind::copied:
      break;
    case Kind::overSource:
      return kCopyOverSourceText;
    case Kind::sourceUnopened:
    case Kind::destinationLocked:
      return kOpenErrorText;
    case Kind::notPcm16:
      return kNotPcm16Text;
    case Kind::notWave:
      return kNotCanonicalText;
    case Kind::tooLong:
      return kTooLongText;
    case Kind::notRegular:
      return kNotRegularText;
    case Kind::sourceShrank:
      return kSourceShrankText;
    case Kind::destinationFailed:
    case Kind::fileFailed:
      return OsErrorText(outcome.osError);
    case Kind::pointsRefused:
      return LoopPointsText(outcome.points);
  }
  return {};
}

PlainCopyOutcome WritePlainCopy(const std::string& source, const std::string& destination,
                                std::string* note, const LoopPoints& table) {
  using Kind = PlainCopyOutcome::Kind;
  if (SameFile(source, destination)) return {Kind::overSource};
  CFile from;
  if (!from.Open(source, CFile::modeRead)) return {Kind::sourceUnopened};
  ReplacementFile to;  // removed again unless it has replaced the destination
  try {
    const std::optional<Samples> samples = FindPcm16Samples(from);
    if (!samples) return {IsRiffWave(from) ? Kind::notPcm16 : Kind::notWave};
    const std::uint64_t dataBytes = WholeFrameBytes(*samples);
    if (dataBytes > kMostDataBytes) return {Kind::tooLong};
    // The plain copy's channel byte is its channel count, 1 or 2.
    const auto channelByte = static_cast<std::uint8_t>(samples->format.channels);
    if (const LoopPointsCheck points = CheckPointsInSamples(channelByte, dataBytes, table);
        points.verdict != LoopPointsCheck::Verdict::fits) {
      return {Kind::pointsRefused, 0, points};
    }

    to.OnlyReplaceRegularFiles();
    if (const int error = to.Create(destination)) {
      if (error == ENODEV) return {Kind::notRegular};
      if (to.WriteProtected()) return {Kind::destinationLocked};
      return {Kind::destinationFailed, error};
    }
    const WaveHeader header =
        BuildWaveHeader(samples->format, static_cast<std::uint32_t>(dataBytes));
    ThrowIfFailed(to.Write(header.data(), header.size()));
    if (!CopyBytes(from, samples->offset, dataBytes, to, channelByte, table)) {
      return {Kind::sourceShrank};
    }
    ThrowIfFailed(to.Commit());
    if (note != nullptr && samples->sizeUnset) *note = kSizeUnsetText;
  } catch (const CFileException& e) {
    return {Kind::fileFailed, e.m_lOsError};
  }
  return {};
}
