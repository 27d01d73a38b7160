#include "verify/read/sample_copy.h"

#include "wave/wave_header.h"

void CopyChannel(const float* interleaved, std::size_t width, std::size_t channel, float* out,
                 std::size_t frames) {
  for (std::size_t i = 0; i < frames; ++i) out[i] = interleaved[i * width + channel];
}

void ScaleShorts(const std::int16_t* in, float* out, std::size_t count) {
  for (std::size_t i = 0; i < count; ++i) out[i] = Pcm16ToFloat(in[i]);
}
