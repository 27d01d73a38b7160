#include "fileio/write_all.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>

namespace {

#ifdef IOV_MAX
constexpr int kMostPieces = IOV_MAX;
#else
constexpr int kMostPieces = _XOPEN_IOV_MAX;
#endif

// at: the offset of the first byte for a positioned write, or null to write at the file position.
int PutAll(int fd, iovec* next, int left, const std::uint64_t* at, std::uint64_t* written) {
  std::uint64_t done = 0;
  while (true) {
    // An empty piece is no write: one left at the end would look like a full device.
    while (left > 0 && next->iov_len == 0) {
      ++next;
      --left;
    }
    if (left == 0) return 0;
    const int pieces = std::min(left, kMostPieces);
    const ssize_t moved = at ? ::pwritev(fd, next, pieces, static_cast<off_t>(*at + done))
                             : ::writev(fd, next, pieces);
    if (moved < 0 && errno == EINTR) continue;
    if (moved < 0) return errno;
    if (moved == 0) return ENOSPC;
    done += static_cast<std::uint64_t>(moved);
    if (written) *written += static_cast<std::uint64_t>(moved);
    // The kernel may stop anywhere, even inside a piece: skip what it took, trim the rest.
    auto taken = static_cast<std::size_t>(moved);
    while (left > 0 && taken >= next->iov_len) {
      taken -= next->iov_len;
      ++next;
      --left;
    }
    if (left > 0) {
      next->iov_base = static_cast<unsigned char*>(next->iov_base) + taken;
      next->iov_len -= taken;
    }
  }
}

// writev only reads through iov_base; the cast merely fits its C signature.
iovec Piece(const void* bytes, std::size_t count) {
  return iovec{const_cast<void*>(bytes), count};
}

}  // namespace

int WriteAll(int fd, iovec* pieces, int count, std::uint64_t* written) {
  return PutAll(fd, pieces, count, nullptr, written);
}

int WriteAll(int fd, const void* bytes, std::size_t count) {
  iovec piece = Piece(bytes, count);
  return PutAll(fd, &piece, 1, nullptr, nullptr);
}

int WriteAllAt(int fd, std::uint64_t offset, const void* bytes, std::size_t count) {
  iovec piece = Piece(bytes, count);
  return PutAll(fd, &piece, 1, &offset, nullptr);
}
