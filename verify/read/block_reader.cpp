#include "verify/read/block_reader.h"

#include <algorithm>
#include <utility>

#include "verify/read/sample_copy.h"
#include "wave/wave_header.h"

BlockReader::BlockReader(SoundFile& file, const std::vector<int>& channels, std::size_t blockFrames,
                         std::size_t pieceFrames)
    : m_file(file),
      m_width(static_cast<std::size_t>(file.Channels())),
      m_shorts(file.ReadsShorts()),
      m_alone(channels.size() == 1 && !m_shorts),
      m_block(m_alone ? blockFrames : file.BlockFrames(blockFrames)),
      m_channels(channels) {
  // A piece is never longer than a block, which many channels make short.
  m_pieces.assign(channels.size(), std::vector<float>(std::min(pieceFrames, m_block)));
  m_thread = std::thread([this] { ReadWhenAsked(); });
}

BlockReader::~BlockReader() {
  {
    std::unique_lock lock(m_mutex);
    m_changed.wait(lock, [this] { return !m_wanted; });
    m_quit = true;
  }
  m_changed.notify_all();
  m_thread.join();
}

std::size_t BlockReader::Next() {
  std::size_t got = 0;
  {
    std::unique_lock lock(m_mutex);
    m_changed.wait(lock, [this] { return !m_wanted; });
    if (m_error) std::rethrow_exception(std::exchange(m_error, nullptr));
    got = m_got;
    std::swap(m_current, m_ahead);
    m_wanted = got > 0;
  }
  m_changed.notify_all();
  return got;
}

float* BlockReader::Piece(std::size_t i, std::size_t from, std::size_t count) {
  if (m_alone) return m_current.floats.data() + from;
  float* piece = m_pieces[i].data();
  const auto c = static_cast<std::size_t>(m_channels[i]);
  if (m_shorts) {
    const std::int16_t* x = m_current.shorts.data() + from * m_width + c;
    for (std::size_t f = 0; f < count; ++f) piece[f] = Pcm16ToFloat(x[f * m_width]);
  } else {
    CopyChannel(m_current.floats.data() + from * m_width, m_width, c, piece, count);
  }
  return piece;
}

std::size_t BlockReader::Read(Block& into) {
  if (m_shorts) {
    into.shorts.resize(m_block * m_width);
    return m_file.ReadShorts(into.shorts.data(), m_block);
  }
  if (m_alone) {
    into.floats.resize(m_block);
    return m_file.ReadChannel(m_channels[0], into.floats.data(), m_block);
  }
  into.floats.resize(m_block * m_width);
  return m_file.Read(into.floats.data(), m_block);
}

void BlockReader::ReadWhenAsked() {
  std::unique_lock lock(m_mutex);
  for (;;) {
    m_changed.wait(lock, [this] { return m_wanted || m_quit; });
    if (m_quit) return;
    lock.unlock();
    std::size_t got = 0;
    std::exception_ptr error;
    try {
      got = Read(m_ahead);
    } catch (...) {
      error = std::current_exception();
    }
    lock.lock();
    m_got = got;
    m_error = error;
    m_wanted = false;
    m_changed.notify_all();
  }
}
