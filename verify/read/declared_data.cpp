#include "verify/read/declared_data.h"

#include <unistd.h>

#include <array>
#include <cstring>

#include "wave/wave_header.h"

namespace {

// A header that walks this many chunks without meeting the samples is not read further.
constexpr int kMostChunks = 4096;
constexpr std::uint32_t kUnsizedWav = 0xFFFFFFFF;
// The 16-byte ids of Sony Wave64: "riff" and "data" followed by the same 12 bytes of the GUID
// family, and "wave" as the form type.
constexpr std::array<std::uint8_t, 12> kW64Tail = {0x2E, 0x91, 0xCF, 0x11, 0xA5, 0xD6,
                                                   0x28, 0xDB, 0x04, 0xC1, 0x00, 0x00};
constexpr std::array<std::uint8_t, 12> kW64DataTail = {0xF3, 0xAC, 0xD3, 0x11, 0x8C, 0xD1,
                                                       0x00, 0xC0, 0x4F, 0x8E, 0xDB, 0x8A};
constexpr std::size_t kW64ChunkHeader = 24;  // a 16-byte id and a 64-bit size that counts it
constexpr std::size_t kW64Align = 8;
// AIFF's "SSND" chunk starts with two fields before the samples: an offset into the block that
// follows them, and a block size.
constexpr std::size_t kSsndFields = 8;

bool ReadAt(int fd, std::int64_t at, std::uint8_t* into, std::size_t count) {
  return ::pread(fd, into, count, static_cast<off_t>(at)) == static_cast<ssize_t>(count);
}

std::uint32_t GetBe32(const std::uint8_t* at) {
  return (static_cast<std::uint32_t>(at[0]) << 24) | (static_cast<std::uint32_t>(at[1]) << 16) |
         (static_cast<std::uint32_t>(at[2]) << 8) | at[3];
}

std::uint64_t GetLe64(const std::uint8_t* at) {
  return GetLe32(at) | (static_cast<std::uint64_t>(GetLe32(at + 4)) << 32);
}

// RIFF and FORM: chunks of a 4-byte id and a 4-byte size (little-endian in RIFF, big-endian in
// FORM), each padded to an even length, after the 12 bytes that open the file.
std::optional<DeclaredData> WalkChunks(int fd, bool bigEndian) {
  std::int64_t at = 12;
  for (int chunk = 0; chunk < kMostChunks; ++chunk) {
    std::array<std::uint8_t, kChunkHeaderBytes + kSsndFields> header{};
    if (!ReadAt(fd, at, header.data(), kChunkHeaderBytes)) return std::nullopt;
    const std::uint32_t size = bigEndian ? GetBe32(&header[4]) : GetLe32(&header[4]);
    const std::int64_t body = at + static_cast<std::int64_t>(kChunkHeaderBytes);
    if (!bigEndian && HasChunkId(header.data(), "data")) {
      return DeclaredData{body, size, size == 0 || size == kUnsizedWav};
    }
    if (bigEndian && HasChunkId(header.data(), "SSND")) {
      if (size < kSsndFields || !ReadAt(fd, body, &header[8], kSsndFields)) return std::nullopt;
      const std::uint32_t skip = GetBe32(&header[8]);
      if (skip > size - kSsndFields) return std::nullopt;
      return DeclaredData{body + static_cast<std::int64_t>(kSsndFields + skip),
                          size - kSsndFields - skip, false};
    }
    at = body + static_cast<std::int64_t>(size) + (size & 1);
  }
  return std::nullopt;
}

std::optional<DeclaredData> WalkW64(int fd) {
  std::int64_t at = 40;  // past "riff", its size and "wave"
  for (int chunk = 0; chunk < kMostChunks; ++chunk) {
    std::array<std::uint8_t, kW64ChunkHeader> header{};
    if (!ReadAt(fd, at, header.data(), header.size())) return std::nullopt;
    const std::uint64_t size = GetLe64(&header[16]);
    if (size < kW64ChunkHeader || size > (std::uint64_t{1} << 62)) return std::nullopt;
    if (HasChunkId(header.data(), "data") &&
        std::memcmp(&header[4], kW64DataTail.data(), kW64DataTail.size()) == 0) {
      return DeclaredData{at + static_cast<std::int64_t>(kW64ChunkHeader), size - kW64ChunkHeader,
                          false};
    }
    at += static_cast<std::int64_t>((size + kW64Align - 1) / kW64Align * kW64Align);
  }
  return std::nullopt;
}

}  // namespace

std::optional<DeclaredData> ReadDeclaredData(int fd) {
  std::array<std::uint8_t, 16> start{};
  if (!ReadAt(fd, 0, start.data(), start.size())) return std::nullopt;
  if (HasChunkId(start.data(), "RIFF") && HasChunkId(&start[8], "WAVE")) {
    return WalkChunks(fd, false);
  }
  if (HasChunkId(start.data(), "FORM") &&
      (HasChunkId(&start[8], "AIFF") || HasChunkId(&start[8], "AIFC"))) {
    return WalkChunks(fd, true);
  }
  if (HasChunkId(start.data(), "riff") &&
      std::memcmp(&start[4], kW64Tail.data(), kW64Tail.size()) == 0) {
    return WalkW64(fd);
  }
  return std::nullopt;
}
