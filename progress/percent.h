// The share of a long job that is done, as both progress displays (the dialog's window and the
// bar on a terminal) show it: whole percent, rounded down, so 100 only once everything is done.
#pragma once

#include <cstdint>

inline constexpr int kPercent = 100;

inline int PercentDone(std::uint64_t done, std::uint64_t total) {
  if (total == 0) return 0;
  return done >= total ? kPercent : static_cast<int>(done * kPercent / total);
}
