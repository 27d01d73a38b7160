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

// Sum of x[i], of x[i]^2 and of x[i] * y[t][i] for each of the K runs y[t], in one pass over x:
// each sum is taken exactly as Sum and Dot take it, so the results are the same to the bit, at
// a fraction of the passes.
template <std::size_t K>
struct Sums {
  double sum = 0.0;
  double squares = 0.0;
  double dot[K] = {};
};

template <std::size_t K>
inline Sums<K> SumsWith(const float* x, const float* const (&y)[K], std::size_t n) {
  float accSum[8] = {}, accSquares[8] = {}, accDot[K][8] = {};
  std::size_t k = 0;
  for (; k + 8 <= n; k += 8) {
    for (std::size_t j = 0; j < 8; ++j) {
      const float v = x[k + j];
      accSum[j] += v;
      accSquares[j] += v * v;
      for (std::size_t t = 0; t < K; ++t) accDot[t][j] += v * y[t][k + j];
    }
  }
  Sums<K> out;
  for (; k < n; ++k) {
    out.sum += x[k];
    out.squares += static_cast<double>(x[k]) * x[k];
    for (std::size_t t = 0; t < K; ++t) out.dot[t] += static_cast<double>(x[k]) * y[t][k];
  }
  for (std::size_t j = 0; j < 8; ++j) {
    out.sum += accSum[j];
    out.squares += accSquares[j];
    for (std::size_t t = 0; t < K; ++t) out.dot[t] += accDot[t][j];
  }
  return out;
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
