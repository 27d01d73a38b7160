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
};

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

bool IsRiffWave(CFile& file) {
  std::uint8_t preamble[kRiffPreambleBytes] = {};
  file.Seek(0, CFile::begin);
  return file.Read(preamble, sizeof preamble) == sizeof preamble &&
         HasChunkId(preamble + kRiffIdOffset, "RIFF") &&
         HasChunkId(preamble + kWaveIdOffset, "WAVE");
}

// Walks the chunks of a RIFF/WAVE file, bounded by the file's length rather than the sizes it
// declares (streaming writers leave 0 or 0xFFFFFFFF there). Chunks of odd size carry a pad byte.
std::optional<Samples> FindPcm16Samples(CFile& file) {
  const std::uint64_t length = file.GetLength();
  if (!IsRiffWave(file)) return std::nullopt;
  std::optional<PcmFormat> format;
  for (std::uint64_t at = kRiffPreambleBytes; at + kChunkHeaderBytes <= length;) {
    std::uint8_t chunk[kChunkHeaderBytes] = {};
    file.Seek(static_cast<std::int64_t>(at), CFile::begin);
    if (file.Read(chunk, sizeof chunk) != sizeof chunk) break;
    const std::uint32_t size = GetLe32(chunk + kChunkIdBytes);
    const std::uint64_t body = at + kChunkHeaderBytes;
    if (HasChunkId(chunk, "fmt ")) {
      std::array<std::uint8_t, kExtensibleFmtBytes> fmt{};
      const std::size_t want = std::min<std::size_t>(size, fmt.size());
      if (file.Read(fmt.data(), want) != want) break;
      format = Pcm16FormatOf(fmt.data(), size);
      if (!format) return std::nullopt;
    } else if (HasChunkId(chunk, "data")) {
      if (!format) return std::nullopt;  // samples before their format cannot be read
      return Samples{*format, body, std::min<std::uint64_t>(size, length - body)};
    }
    at = body + size + (size & 1u);
  }
  return std::nullopt;
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
// first would claim samples the copy does not hold.
bool CopyBytes(CFile& from, std::uint64_t offset, std::uint64_t count, ReplacementFile& to) {
  std::vector<std::uint8_t> block(kCopyBlockBytes);
  from.Seek(static_cast<std::int64_t>(offset), CFile::begin);
  while (count > 0) {
    const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(count, block.size()));
    const std::size_t got = from.Read(block.data(), want);
    if (got == 0) return false;
    ThrowIfFailed(to.Write(block.data(), got));
    count -= got;
  }
  return true;
}

}  // namespace

bool CanMakePlainCopy(CFile& file) {
  return FindPcm16Samples(file).has_value();
}

std::string PlainCopyName(const std::string& source) {
  std::filesystem::path path(source);
  const std::string stem = path.stem().string();
  return (path.parent_path() / (stem + kPlainSuffix)).string();
}

std::string WritePlainCopy(const std::string& source, const std::string& destination) {
  if (SameFile(source, destination)) return kCopyOverSourceText;
  CFile from;
  if (!from.Open(source, CFile::modeRead)) return kOpenErrorText;
  ReplacementFile to;  // removed again unless it has replaced the destination
  try {
    const std::optional<Samples> samples = FindPcm16Samples(from);
    if (!samples) return IsRiffWave(from) ? kNotPcm16Text : kNotCanonicalText;
    // Whole frames only: a frame cut short by the end of the file is no sample.
    std::uint64_t dataBytes = samples->bytes;
    dataBytes -= dataBytes % (samples->format.channels * kPcm16SampleBytes);
    if (dataBytes > kMostDataBytes) return kTooLongText;

    to.OnlyReplaceRegularFiles();
    if (const int error = to.Create(destination)) {
      return error == ENODEV ? kNotRegularText : OsErrorText(error);
    }
    const WaveHeader header =
        BuildWaveHeader(samples->format, static_cast<std::uint32_t>(dataBytes));
    ThrowIfFailed(to.Write(header.data(), header.size()));
    if (!CopyBytes(from, samples->offset, dataBytes, to)) return kSourceShrankText;
    ThrowIfFailed(to.Commit());
  } catch (const CFileException& e) {
    return e.what();
  }
  return {};
}
