// The frames loop's audition sends to the sound output, read from the file as it plays: from a
// frame to the end of the samples, or a loop's frames over and over. No windows and no sound
// here, so what is heard can be checked byte for byte; the file is never held in memory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

#include "looppatch/wave_samples.h"

class PlayStream {
 public:
  // The frames from `from` to the last one of the file, once.
  static PlayStream From(const SampleReader& reader, std::uint64_t from);
  // The frames start..end (end being the last frame played) again and again.
  static PlayStream Loop(const SampleReader& reader, std::uint64_t start, std::uint64_t end);

  // False when the range holds no frame of the file: nothing to play.
  bool Valid() const { return m_valid; }
  // True once a single pass has delivered its last frame, or a read failed.
  bool Done() const { return m_done; }
  std::size_t FrameBytes() const;
  // The frames one pass plays; a loop plays them without end.
  std::uint64_t PassFrames() const { return m_valid ? m_last - m_first + 1 : 0; }
  // The bytes still to come: for a loop, without end.
  std::uint64_t RemainingBytes() const;
  // The frames Read has delivered so far.
  std::uint64_t Delivered() const { return m_delivered; }

  // Fills the buffer with the next whole frames, as the file stores them (16-bit little-endian,
  // interleaved); returns the bytes filled, 0 when done.
  std::size_t Read(void* buffer, std::size_t bytes);
  // The file's frame heard once `played` frames have gone out; nothing once a single pass is
  // over.
  std::optional<std::uint64_t> FrameAfter(std::uint64_t played) const;

 private:
  PlayStream(const SampleReader& reader, std::uint64_t first, std::uint64_t last, bool loop);

  const SampleReader* m_reader;
  std::uint64_t m_first = 0;
  std::uint64_t m_last = 0;  // the last frame of a pass
  std::uint64_t m_next = 0;  // the next frame to read
  std::uint64_t m_delivered = 0;
  bool m_loop = false;
  bool m_valid = false;
  bool m_done = false;
};
