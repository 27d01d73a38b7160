// Four floats that the compiler keeps in one vector register, for the inner loops that run over
// every sample. Each lane does exactly what a plain float loop would do for it, so the results
// are the same to the last bit, only four at a time.
#pragma once

#include <cstring>

namespace float_vector {

typedef float Floats4 __attribute__((vector_size(16)));

inline Floats4 Load4(const float* from) {
  Floats4 value;
  std::memcpy(&value, from, sizeof value);
  return value;
}

inline void Store4(float* to, Floats4 value) {
  std::memcpy(to, &value, sizeof value);
}

}  // namespace float_vector
