#include "timecode/tone_bank.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace {

// The bank is read as two halves of eight bursts each.
constexpr std::size_t kReadBytes = kToneBankBytes / 2;

// Reads exactly count bytes unless the file ends or fails first.
bool ReadFully(int fd, std::uint8_t* into, std::size_t count) {
  while (count > 0) {
    const ssize_t got = ::read(fd, into, count);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;
    into += got;
    count -= static_cast<std::size_t>(got);
  }
  return true;
}

}  // namespace

ToneBank::LoadResult ToneBank::Load(int folderFd, const char* name) {
  // Looked at before it is opened, so a device of that name is never opened at all; opened
  // without blocking, so a FIFO put there since cannot hold the program until a writer comes.
  struct stat info {};
  if (::fstatat(folderFd, name, &info, 0) != 0 || !S_ISREG(info.st_mode)) {
    return LoadResult::notFound;
  }
  const int fd = ::openat(folderFd, name, O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (fd < 0) return LoadResult::notFound;
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    ::close(fd);
    return LoadResult::notFound;
  }
  const bool complete = ReadFully(fd, m_bytes.data(), kReadBytes) &&
                        ReadFully(fd, m_bytes.data() + kReadBytes, kReadBytes);
  ::close(fd);
  if (complete) return LoadResult::loaded;
  m_bytes.fill(0);
  return LoadResult::tooShort;
}
