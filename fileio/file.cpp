#include "fileio/file.h"

#include <cerrno>
#include <cstring>
#include <utility>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "fileio/file_faults.h"
#include "fileio/write_all.h"

namespace {

constexpr std::size_t kErrorTextBytes = 256;

// strerror_r comes in two shapes: the XSI one returns an int and fills the buffer, the GNU one
// returns a pointer that may or may not be the buffer. Overloading on the result type takes
// whichever the C library declares.
[[maybe_unused]] const char* ErrorTextFrom(int result, const char* buffer) {
  return result == 0 ? buffer : "";
}
[[maybe_unused]] const char* ErrorTextFrom(const char* result, const char*) {
  return result;
}

[[noreturn]] void ThrowLastError() {
  throw CFileException(errno);
}

int OpenFlagsFor(unsigned flags) {
  // Opening a FIFO that happens to carry the expected name must not wait for a writer.
  const int osFlags = O_CLOEXEC | O_NONBLOCK;
  return osFlags | ((flags & CFile::modeReadWrite) ? O_RDWR : O_RDONLY);
}

int WhenceFor(CFile::SeekPosition from) {
  switch (from) {
    case CFile::begin:
      return SEEK_SET;
    case CFile::current:
      return SEEK_CUR;
    case CFile::end:
      return SEEK_END;
  }
  return SEEK_SET;
}

}  // namespace

std::string OsErrorText(int osError) {
  char buffer[kErrorTextBytes] = {};
  return ErrorTextFrom(strerror_r(osError, buffer, sizeof buffer), buffer);
}

CFileException::CFileException(int osError) : m_lOsError(osError), m_text(OsErrorText(osError)) {}

CFile::CFile(CFile&& other) noexcept
    : m_fd(std::exchange(other.m_fd, -1)), m_path(std::move(other.m_path)) {}

CFile& CFile::operator=(CFile&& other) noexcept {
  if (this != &other) {
    Abort();
    m_fd = std::exchange(other.m_fd, -1);
    m_path = std::move(other.m_path);
  }
  return *this;
}

CFile::~CFile() {
  Abort();
}

bool CFile::Open(const std::string& path, unsigned flags, int* osError) {
  // Reopening lets go of the file held so far, so a failed open leaves nothing open.
  Abort();
  const int fd = ::open(path.c_str(), OpenFlagsFor(flags));
  // A device or FIFO that happens to carry a wave file's name is no file to read or patch: the
  // first bytes of a disk may well look like a canonical header.
  struct stat info {};
  bool ok = fd >= 0 && ::fstat(fd, &info) == 0;
  if (ok && !S_ISREG(info.st_mode)) {
    errno = S_ISDIR(info.st_mode) ? EISDIR : ENODEV;
    ok = false;
  }
  // A file without any write permission bit is write-protected for everyone: root, whom the
  // kernel lets open it read-write all the same, must not patch it either.
  constexpr mode_t kWriteBits = 0222;
  if (ok && (flags & modeReadWrite) && (info.st_mode & kWriteBits) == 0) {
    errno = EACCES;
    ok = false;
  }
  // Every CFile takes an advisory lock; an exclusive one conflicts with any other CFile on the
  // same file, in this process or another, because each open has its own open file description.
  const int lock = (flags & shareExclusive) ? LOCK_EX : LOCK_SH;
  ok = ok && ((flags & shareDenyNone) || ::flock(fd, lock | LOCK_NB) == 0);
  if (!ok) {
    const int error = errno;
    if (fd >= 0) ::close(fd);
    if (osError) *osError = error;
    return false;
  }
  m_fd = fd;
  m_path = path;
  return true;
}

std::uint64_t CFile::GetLength() const {
  struct stat info {};
  if (::fstat(m_fd, &info) != 0) ThrowLastError();
  return static_cast<std::uint64_t>(info.st_size);
}

std::uint64_t CFile::Seek(std::int64_t offset, SeekPosition from) {
  const off_t position = ::lseek(m_fd, static_cast<off_t>(offset), WhenceFor(from));
  if (position < 0) ThrowLastError();
  return static_cast<std::uint64_t>(position);
}

std::size_t CFile::Read(void* buffer, std::size_t count) {
  auto* bytes = static_cast<unsigned char*>(buffer);
  std::size_t done = 0;
  if (FileFaultDue(FileFault::read)) ThrowLastError();
  while (done < count) {
    const ssize_t got = ::read(m_fd, bytes + done, count - done);
    if (got == 0) break;
    if (got < 0) {
      if (errno == EINTR) continue;
      ThrowLastError();
    }
    done += static_cast<std::size_t>(got);
  }
  return done;
}

void CFile::Write(const void* buffer, std::size_t count) {
  if (FileFaultDue(FileFault::write)) ThrowLastError();
  if (const int error = WriteAll(m_fd, buffer, count)) throw CFileException(error);
}

void CFile::WriteAt(std::uint64_t offset, const void* buffer, std::size_t count) {
  if (FileFaultDue(FileFault::write)) ThrowLastError();
  if (const int error = WriteAllAt(m_fd, offset, buffer, count)) throw CFileException(error);
}

void CFile::Flush() {
  if (FileFaultDue(FileFault::flush) || ::fsync(m_fd) != 0) ThrowLastError();
}

void CFile::Close() {
  if (m_fd < 0) return;
  // The descriptor is gone even when close reports an error, so it is never closed twice.
  const int fd = std::exchange(m_fd, -1);
  m_path.clear();
  const bool injected = FileFaultDue(FileFault::close);
  const int error = errno;
  if (::close(fd) != 0) ThrowLastError();
  if (injected) throw CFileException(error);
}

void CFile::Abort() {
  if (m_fd < 0) return;
  ::close(std::exchange(m_fd, -1));
  m_path.clear();
}

bool CFile::RefersTo(const std::string& path) const {
  struct stat held {};
  struct stat named {};
  return m_fd >= 0 && ::fstat(m_fd, &held) == 0 && ::stat(path.c_str(), &named) == 0 &&
         held.st_dev == named.st_dev && held.st_ino == named.st_ino;
}
