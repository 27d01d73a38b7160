// Sums over runs of float samples, kept in eight lanes so the compiler holds them in vector
// registers: the verifier's inner loops, and most of its time.
#pragma once

#include <cstddef>

namespace lanes {

// Sum of x[i] * y[i].
inline double Dot(const float* x, const float* y, std::size_t n) {
  float acc[8] = {};
  std::size_t k = 0;
  for (; k + 8 <= n; k += 8) {
    for (std::size_t j = 0; j < 8; ++j) acc[j] += x[k + j] * y[k + j];
  }
  double total = 0.0;
  for (; k < n; ++k) total += static_cast<double>(x[k]) * y[k];
  for (const float a : acc) total += a;
  return total;
}

// Sum of x[i].
inline double Sum(const float* x, std::size_t n) {
  float acc[8] = {};
  std::size_t k = 0;
  for (; k + 8 <= n; k += 8) {
    for (std::size_t j = 0; j < 8; ++j) acc[j] += x[k + j];
  }
  double total = 0.0;
  for (; k < n; ++k) total += x[k];
  for (const float a : acc) total += a;
  return total;
}

// True when every sample is a number: NaN or infinity times zero is NaN, which the sum keeps.
inline bool AllFinite(const float* x, std::size_t n) {
  float acc[8] = {};
  std::size_t k = 0;
  for (; k + 8 <= n; k += 8) {
    for (std::size_t j = 0; j < 8; ++j) acc[j] += x[k + j] * 0.0f;
  }
  float total = 0.0f;
  for (; k < n; ++k) total += x[k] * 0.0f;
  for (const float a : acc) total += a;
  return total == 0.0f;
}

}  // namespace lanes
