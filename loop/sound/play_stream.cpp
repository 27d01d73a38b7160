#include "loop/sound/play_stream.h"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <utility>

#include "loop/format/loop_table.h"

PlayStream::PlayStream(const SampleReader& reader, std::uint64_t first, std::uint64_t last,
                       bool loop)
    : m_reader(&reader), m_first(first), m_last(last), m_next(first), m_loop(loop) {
  m_valid = reader.IsOpen() && first <= last && last < reader.Frames();
  m_done = !m_valid;
}

PlayStream PlayStream::From(const SampleReader& reader, std::uint64_t from) {
  const std::uint64_t frames = reader.Frames();
  return PlayStream(reader, from, frames == 0 ? 0 : frames - 1, false);
}

PlayStream PlayStream::Loop(const SampleReader& reader, std::uint64_t start, std::uint64_t end) {
  return PlayStream(reader, start, end, true);
}

std::size_t PlayStream::FrameBytes() const {
  return static_cast<std::size_t>(m_reader->Channels()) * kPcm16SampleBytes;
}

std::uint64_t PlayStream::RemainingBytes() const {
  if (m_done) return 0;
  if (m_loop) return UINT64_MAX;
  return (m_last - m_next + 1) * FrameBytes();
}

std::size_t PlayStream::Read(void* buffer, std::size_t bytes) {
  const std::size_t frameBytes = FrameBytes();
  auto* at = static_cast<std::uint8_t*>(buffer);
  std::size_t filled = 0;
  while (!m_done && bytes - filled >= frameBytes) {
    const std::uint64_t frames =
        std::min<std::uint64_t>((bytes - filled) / frameBytes, m_last - m_next + 1);
    const std::size_t want = static_cast<std::size_t>(frames) * frameBytes;
    const std::size_t got = m_reader->ReadBytes(m_next * frameBytes, at + filled, want);
    filled += got / frameBytes * frameBytes;
    m_next += got / frameBytes;
    m_delivered += got / frameBytes;
    if (got < want) {
      m_done = true;  // a file cut short or a failed read: what was read still plays
    } else if (m_next > m_last) {
      m_next = m_first;
      m_done = !m_loop;
    }
  }
  // The output takes the machine's own 16-bit order.
  if constexpr (std::endian::native == std::endian::big) {
    for (std::size_t i = 0; i + 1 < filled; i += kPcm16SampleBytes) std::swap(at[i], at[i + 1]);
  }
  return filled;
}

std::optional<std::uint64_t> PlayStream::FrameAfter(std::uint64_t played) const {
  if (!m_valid) return std::nullopt;
  const std::uint64_t pass = PassFrames();
  if (m_loop) return m_first + played % pass;
  if (played >= pass) return std::nullopt;
  return m_first + played;
}
