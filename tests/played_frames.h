// What the audition sends to the output, taken from a PlayStream as samples, to compare with
// what the file holds.
#pragma once

#include <cstdint>
#include <cstring>
#include <vector>

#include "loop/format/loop_table.h"
#include "loop/format/wave_samples.h"
#include "loop/sound/play_stream.h"

// Up to `frames` frames of the stream as samples.
inline std::vector<std::int16_t> TakeFrames(PlayStream stream, std::uint64_t frames) {
  if (!stream.Valid()) return {};
  std::vector<std::uint8_t> bytes(static_cast<std::size_t>(frames) * stream.FrameBytes());
  std::size_t filled = 0;
  while (filled < bytes.size()) {
    const std::size_t n = stream.Read(bytes.data() + filled, bytes.size() - filled);
    if (n == 0) break;
    filled += n;
  }
  std::vector<std::int16_t> samples(filled / kPcm16SampleBytes);
  std::memcpy(samples.data(), bytes.data(), filled);  // Read gave the machine's own order
  return samples;
}

// "Play": the frames from `from` to the end of the file, at most maxFrames of them.
inline std::vector<std::int16_t> PlayFromFrames(const SampleReader& reader, std::uint64_t from,
                                                std::uint64_t maxFrames) {
  return TakeFrames(PlayStream::From(reader, from), maxFrames);
}

// "Loop": the frames [start, end] (end being the last frame played), `rounds` times over.
// Empty when the range holds no frame.
inline std::vector<std::int16_t> LoopFrames(const SampleReader& reader, std::uint64_t start,
                                            std::uint64_t end, unsigned rounds) {
  const PlayStream stream = PlayStream::Loop(reader, start, end);
  return TakeFrames(stream, stream.PassFrames() * rounds);
}
