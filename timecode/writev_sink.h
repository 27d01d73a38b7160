// A sink that gathers the encoder's pieces and hands them to the kernel in writev batches,
// straight from the tone bank and the zero block: one system call per hundred-odd pieces
// instead of one per slot, and no copy on our side.
#pragma once

#include <sys/uio.h>

#include <array>
#include <climits>
#include <cstddef>
#include <cstdint>

#include "timecode/frame_encoder.h"

class WritevSink : public ByteSink {
 public:
  // Starts a new run on an open descriptor; forgets any earlier failure.
  void Begin(int fd);
  // Queues a piece, writing the batch once it is full. After a failure pieces are dropped.
  void Put(const std::uint8_t* bytes, std::size_t count) override;
  // Writes everything queued. False once any write has failed or stalled.
  bool Flush();
  bool Failed() const { return m_failed; }
  // Bytes the kernel has taken since Begin; it grows a batch at a time.
  std::uint64_t Written() const { return m_written; }

 private:
#ifdef IOV_MAX
  static constexpr int kBatchPieces = IOV_MAX < 1024 ? IOV_MAX : 1024;
#else
  static constexpr int kBatchPieces = _XOPEN_IOV_MAX;
#endif

  // Batches stay well inside a core's cache: measured here, writev calls of a few megabytes each
  // wrote the largest file four times slower than calls of half a megabyte, which match a plain
  // sequential write.
  static constexpr std::size_t kBatchBytes = 512 * 1024;

  std::array<iovec, kBatchPieces> m_batch{};
  int m_queued = 0;
  std::size_t m_queuedBytes = 0;
  int m_fd = -1;
  bool m_failed = false;
  std::uint64_t m_written = 0;
};
