#include "platform/replace_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <random>
#include <utility>

#include "platform/file.h"

namespace {

// Hidden names for a new file on its way to NAME: ".NAME." and eight random letters.
constexpr int kNameAttempts = 100;
constexpr int kRandomLetters = 8;
constexpr char kLetters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
constexpr mode_t kNewFileMode = 0666;  // narrowed by the user's umask

std::string HiddenName(const std::string& finalName) {
  std::random_device noise;
  std::uniform_int_distribution<unsigned> letter(0, sizeof kLetters - 2);
  std::string name = "." + finalName + ".";
  for (int i = 0; i < kRandomLetters; ++i) name += kLetters[letter(noise)];
  return name;
}

}  // namespace

int ReplacementFile::Create(const std::string& path) {
  const std::filesystem::path split(path);
  const std::string name = split.filename().string();
  if (name.empty()) return path.empty() ? ENOENT : EISDIR;  // "folder/" names a folder
  const std::string folder = split.has_parent_path() ? split.parent_path().string() : ".";
  const int folderFd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (folderFd < 0) return errno;
  const int error = Create(folderFd, name);
  ::close(folderFd);
  return error;
}

int ReplacementFile::Create(int folderFd, const std::string& name) {
  Discard();
  // A folder at the name would refuse the rename only after the whole file has been written.
  struct stat existing {};
  if (::fstatat(folderFd, name.c_str(), &existing, AT_SYMLINK_NOFOLLOW) == 0 &&
      S_ISDIR(existing.st_mode)) {
    return EISDIR;
  }
  if (m_regularOnly && ::fstatat(folderFd, name.c_str(), &existing, 0) == 0 &&
      !S_ISREG(existing.st_mode)) {
    return ENODEV;
  }
  m_folderFd = ::fcntl(folderFd, F_DUPFD_CLOEXEC, 0);
  if (m_folderFd < 0) return errno;
  m_finalName = name;
  if (!m_namedOnly) {
    m_fd = ::openat(m_folderFd, ".", O_TMPFILE | O_RDWR | O_CLOEXEC, kNewFileMode);
    if (m_fd >= 0) return 0;
    // Only a file system without unnamed files is worth a second try: any other refusal
    // (permissions, a read-only or full file system) would refuse a named file just the same.
    if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) {
      const int error = errno;
      Discard();
      return error;
    }
  }
  for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
    std::string hidden = HiddenName(name);
    m_fd =
        ::openat(m_folderFd, hidden.c_str(), O_CREAT | O_EXCL | O_RDWR | O_CLOEXEC, kNewFileMode);
    if (m_fd >= 0) {
      m_hiddenName = std::move(hidden);
      return 0;
    }
    if (errno != EEXIST) break;
  }
  const int error = errno;
  Discard();
  return error;
}

int ReplacementFile::Write(const void* bytes, std::size_t count) {
  if (CFile::InjectedFaultDue(CFile::Fault::write)) return errno;
  const auto* next = static_cast<const unsigned char*>(bytes);
  while (count > 0) {
    const ssize_t moved = ::write(m_fd, next, count);
    if (moved < 0 && errno == EINTR) continue;
    if (moved < 0) return errno;
    // A write that moves nothing will not move anything on a retry either: the device is full.
    if (moved == 0) return ENOSPC;
    next += moved;
    count -= static_cast<std::size_t>(moved);
  }
  return 0;
}

int ReplacementFile::Commit() {
  if (m_fd < 0) return EBADF;
  if (CFile::InjectedFaultDue(CFile::Fault::flush) || ::fsync(m_fd) != 0) return errno;
  if (m_hiddenName.empty()) {
    if (const int error = GiveName()) return error;
  }
  // The descriptor is gone even when close reports an error, so it is never closed twice.
  const int fd = std::exchange(m_fd, -1);
  const bool injected = CFile::InjectedFaultDue(CFile::Fault::close);
  const int injectedError = errno;
  if (::close(fd) != 0) return errno;
  if (injected) return injectedError;
  // One rename replaces whatever had the name (a file, a link, a FIFO) without opening it.
  if (::renameat(m_folderFd, m_hiddenName.c_str(), m_folderFd, m_finalName.c_str()) != 0) {
    return errno;
  }
  m_hiddenName.clear();
  // The rename is on the disk only once the folder's own entry list is.
  if (::fsync(m_folderFd) != 0) return errno;
  return 0;
}

// rename needs a name to move. The unnamed file gets a hidden one only now, a moment before the
// rename.
int ReplacementFile::GiveName() {
  const std::string self = "/proc/self/fd/" + std::to_string(m_fd);
  for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
    std::string hidden = HiddenName(m_finalName);
    // Through /proc for everyone; AT_EMPTY_PATH where /proc is missing (it needs privilege).
    if (::linkat(AT_FDCWD, self.c_str(), m_folderFd, hidden.c_str(), AT_SYMLINK_FOLLOW) == 0 ||
        (errno != EEXIST && ::linkat(m_fd, "", m_folderFd, hidden.c_str(), AT_EMPTY_PATH) == 0)) {
      m_hiddenName = std::move(hidden);
      return 0;
    }
    if (errno != EEXIST) return errno;
  }
  return EEXIST;
}

void ReplacementFile::Discard() {
  const int error = errno;  // a cleanup must not hide the failure being reported
  if (m_fd >= 0) ::close(std::exchange(m_fd, -1));
  if (!m_hiddenName.empty()) ::unlinkat(m_folderFd, m_hiddenName.c_str(), 0);
  m_hiddenName.clear();
  if (m_folderFd >= 0) ::close(std::exchange(m_folderFd, -1));
  m_finalName.clear();
  errno = error;
}
