// The loops that carry every sample from libsndfile's buffers into the reader's: one channel
// taken out of interleaved frames, and 16-bit samples turned into floats. They live in a file of
// their own, out of line, so the fuzz build can leave them untraced (fuzz/coverage_ignorelist.txt):
// they branch on nothing but their length.
#pragma once

#include <cstddef>
#include <cstdint>

// out[i] = interleaved[i * width + channel] for each of `frames` sample frames.
void CopyChannel(const float* interleaved, std::size_t width, std::size_t channel, float* out,
                 std::size_t frames);

// out[i] = in[i] / 2^15, exactly what libsndfile gives as floats for a 16-bit sample.
void ScaleShorts(const std::int16_t* in, float* out, std::size_t count);
