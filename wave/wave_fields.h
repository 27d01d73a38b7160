// Where the fields of the chunks loop reads and writes lie, counted from the start of each
// chunk's body. Every reader and writer of these chunks takes its offsets from here.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

// "fmt ": the format tag, channels, rate, byte rate, block align and bits; the extensible
// format adds its extension's size, valid bits, speaker mask and a GUID naming the coding.
inline constexpr std::size_t kFmtTagAt = 0, kFmtChannelsAt = 2, kFmtRateAt = 4, kFmtByteRateAt = 8,
                             kFmtBlockAlignAt = 12, kFmtBitsAt = 14, kFmtExtensionSizeAt = 16,
                             kFmtSubformatAt = 24;
inline constexpr std::uint32_t kPlainFmtBytes = 16;
inline constexpr std::uint32_t kExtensibleFmtBytes = 40;
inline constexpr std::uint16_t kFmtExtensionBytes = 22;
// The extensible format's GUIDs differ only in their first two bytes, which repeat the plain
// format tag (1 integer PCM, 3 float, 6 A-law, 7 mu-law).
inline constexpr std::array<std::uint8_t, 16> kPcmSubformat = {
    0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};

// "smpl": nine 32-bit fields (maker, product, sample period, unity note, pitch fraction, SMPTE
// format and offset, the loop count, the sampler data's size), then the loops, 24 bytes each:
// cue point id, type, start, end (the last frame played), fraction, play count.
inline constexpr std::size_t kSmplFieldsBytes = 36;
inline constexpr std::size_t kSmplLoopCountAt = 28;
inline constexpr std::size_t kSmplSamplerDataAt = 32;
inline constexpr std::size_t kSmplLoopBytes = 24;
inline constexpr std::size_t kSmplLoopIdAt = 0, kSmplLoopTypeAt = 4, kSmplLoopStartAt = 8,
                             kSmplLoopEndAt = 12;

// "cue ": the point count, then the points, 24 bytes each: id, play-order position, the chunk
// it lies in ("data"), that chunk's start, the block's start and the frame within it.
inline constexpr std::size_t kCueCountBytes = 4;
inline constexpr std::size_t kCuePointBytes = 24;
inline constexpr std::size_t kCueIdAt = 0, kCuePositionAt = 4, kCueChunkAt = 8,
                             kCueChunkStartAt = 12, kCueBlockStartAt = 16, kCueFrameAt = 20;

// "ds64", first behind the preamble of an RF64 or BW64 file: the 64-bit RIFF size, data size
// and sample count (then a table of other sizes), each as two 32-bit halves, low first.
inline constexpr std::size_t kDs64RiffSizeAt = 0, kDs64DataSizeAt = 8;
inline constexpr std::uint32_t kDs64LeastBytes = 24;
