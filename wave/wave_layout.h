// What a walk over a RIFF/WAVE file finds: its format, where its samples lie, every other chunk
// in file order, and, for a file whose samples cannot be found or read, what is wrong with it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "wave/riff_walk.h"

// The fields of a fmt chunk that say how the samples are coded.
struct FmtFields {
  std::uint16_t tag = 0;  // the plain tag, or for the extensible format its subformat's
  std::uint16_t channels = 0;
  std::uint32_t sampleRate = 0;
  std::uint16_t blockAlign = 0;
  std::uint16_t bits = 0;
  bool extensible = false;
};

// Why the samples of a RIFF/WAVE file cannot be found or read.
enum class LayoutFault {
  kNone,
  kNotWave,       // no RIFF/WAVE (or RF64/BW64) preamble
  kBadDs64,       // an RF64 or BW64 file without a ds64 chunk that can be right
  kNoData,        // no data chunk
  kSwallowed,     // a chunk's size takes in the data chunk behind it
  kNoFmt,         // samples, but no fmt chunk
  kFmtAfterData,  // the fmt chunk lies behind the samples it describes
};

struct WaveLayout {
  RiffForm form = RiffForm::kNone;
  LayoutFault fault = LayoutFault::kNone;
  std::string swallower;          // kSwallowed: the id of the chunk that takes in the data
  std::optional<FmtFields> fmt;   // of the first fmt chunk, when it holds the plain 16 bytes
  std::optional<RiffChunk> data;  // the first data chunk
  std::vector<RiffChunk> chunks;  // every chunk met, in file order, fmt and data among them
};

WaveLayout ReadWaveLayout(ByteSource& source);
