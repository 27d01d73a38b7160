#include "timecode/writev_sink.h"

#include <cerrno>

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
  iovec* next = m_batch.data();
  int left = m_queued;
  m_queued = 0;
  m_queuedBytes = 0;
  while (left > 0 && !m_failed) {
    const ssize_t written = ::writev(m_fd, next, left);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) {
      m_failed = true;
      break;
    }
    m_written += static_cast<std::uint64_t>(written);
    // The kernel may stop anywhere, even inside a piece: skip what it took, trim the rest.
    auto taken = static_cast<std::size_t>(written);
    while (left > 0 && taken >= next->iov_len) {
      taken -= next->iov_len;
      ++next;
      --left;
    }
    if (left > 0) {
      next->iov_base = static_cast<std::uint8_t*>(next->iov_base) + taken;
      next->iov_len -= taken;
    }
  }
  return !m_failed;
}
