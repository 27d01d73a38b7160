#include "timecode/writev_sink.h"

#include <utility>

#include "fileio/write_all.h"

void WritevSink::Begin(int fd) {
  m_fd = fd;
  m_queued = 0;
  m_queuedBytes = 0;
  m_failed = false;
  m_written = 0;
}

void WritevSink::Put(const std::uint8_t* bytes, std::size_t count) {
  if (m_failed || count == 0) return;
  // writev only reads through iov_base; the cast merely fits its C signature.
  m_batch[m_queued++] = iovec{const_cast<std::uint8_t*>(bytes), count};
  m_queuedBytes += count;
  if (m_queued == kBatchPieces || m_queuedBytes >= kBatchBytes) Flush();
}

bool WritevSink::Flush() {
  const int queued = std::exchange(m_queued, 0);
  m_queuedBytes = 0;
  if (!m_failed) m_failed = WriteAll(m_fd, m_batch.data(), queued, &m_written) != 0;
  return !m_failed;
}
