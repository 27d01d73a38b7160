// The chosen channels of a recording read block by block, the next block on the other core
// while this one is decoded, and handed over a piece at a time.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <mutex>
#include <thread>
#include <vector>

#include "verify/read/sound_file.h"

// A block of the recording as it was read, every channel interleaved: 16-bit samples as they are
// stored (half the bytes to carry from the core that reads them to the one that decodes them),
// other samples as floats; one channel alone is read straight as floats.
struct Block {
  std::vector<std::int16_t> shorts;
  std::vector<float> floats;
};

// One thread reads ahead for the whole reading: starting a thread for every block cost a tenth
// of the time.
class BlockReader {
 public:
  // channels: counted from 0, the first the one the report is about. Blocks hold at most
  // `blockFrames` frames (fewer where many channels would make them large), pieces `pieceFrames`.
  BlockReader(SoundFile& file, const std::vector<int>& channels, std::size_t blockFrames,
              std::size_t pieceFrames);
  ~BlockReader();
  BlockReader(const BlockReader&) = delete;
  BlockReader& operator=(const BlockReader&) = delete;

  // Makes the block read ahead the current one and starts reading the one after it; returns its
  // frames, 0 at the end.
  std::size_t Next();

  // A single channel's 16-bit samples from frame `from` of the current block on, as stored, or
  // null: the reader takes them as they are, with no copy between.
  const std::int16_t* Stored(std::size_t from) const {
    return m_shorts && m_width == 1 ? m_current.shorts.data() + from : nullptr;
  }

  // Channel i's samples from frame `from` of the current block on, at most a piece of them, as
  // floats the caller may change.
  float* Piece(std::size_t i, std::size_t from, std::size_t count);

 private:
  std::size_t Read(Block& into);
  void ReadWhenAsked();

  SoundFile& m_file;
  std::size_t m_width;
  bool m_shorts;
  bool m_alone;
  std::size_t m_block;
  std::vector<int> m_channels;
  std::vector<std::vector<float>> m_pieces;
  Block m_current, m_ahead;

  std::thread m_thread;
  std::mutex m_mutex;
  std::condition_variable m_changed;
  bool m_wanted = true;  // the thread is to read, or is reading, m_ahead
  bool m_quit = false;
  std::size_t m_got = 0;
  std::exception_ptr m_error;
};
