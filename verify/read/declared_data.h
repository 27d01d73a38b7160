// Where the samples of a WAV, AIFF or W64 file lie and how many bytes of them its header
// declares. libsndfile trims its frame count to the bytes the file holds, so a file cut short
// would look whole by that count: the header's own size is read here instead.
#pragma once

#include <cstdint>
#include <optional>

struct DeclaredData {
  std::int64_t offset = 0;  // the first byte of the first sample
  std::uint64_t bytes = 0;  // of samples, as the header declares them
  // A WAV whose data size is 0 or 0xFFFFFFFF: written by a recorder that was stopped before it
  // could go back and fill in the size. Its samples run to the end of the file.
  bool unsized = false;
};

// The data chunk of the file open on fd (read with pread, the file position is left alone);
// none when the file is no WAV, AIFF or W64 or no data chunk is found before the file ends.
std::optional<DeclaredData> ReadDeclaredData(int fd);
