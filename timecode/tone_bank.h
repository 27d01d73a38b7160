// The tone bank: 16 pre-recorded DTMF bursts, one slot each, copied into the timecode unchanged.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "timecode_format/timecode_layout.h"

inline constexpr std::size_t kToneBankBytes = kSlotBytes * kSymbolCount;

class ToneBank {
 public:
  enum class LoadResult { loaded, notFound, tooShort };

  // Reads the first kToneBankBytes of the file name inside the open folder folderFd (AT_FDCWD:
  // the current one); anything after them is ignored. A file that is too short leaves the bank
  // cleared rather than half old, half new. Only a regular file (or a link to one) is a bank: a
  // FIFO, socket, device or folder of that name is not found, at once.
  LoadResult Load(int folderFd, const char* name);

  // Burst of symbol 1..16.
  const std::uint8_t* Burst(int symbol) const {
    return m_bytes.data() + static_cast<std::size_t>(symbol - 1) * kSlotBytes;
  }

 private:
  std::array<std::uint8_t, kToneBankBytes> m_bytes{};
};
