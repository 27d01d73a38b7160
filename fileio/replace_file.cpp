#include "fileio/replace_file.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/fs.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <random>
#include <utility>

#include "fileio/file.h"
#include "fileio/file_faults.h"
#include "fileio/write_all.h"

namespace {

// Hidden names for a new file on its way to NAME: ".NAME.", the writer's pid, "." and eight
// random letters. The writer holds an exclusive flock on the file for as long as it writes, so
// a later run can tell a file left by a killed writer (dead pid, lock free) from a live one.
constexpr int kNameAttempts = 100;
constexpr int kRandomLetters = 8;
constexpr char kLetters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
constexpr mode_t kNewFileMode = 0666;  // narrowed by the user's umask
constexpr mode_t kPermissionBits = 0777;
constexpr mode_t kWriteBits = 0222;

std::string HiddenPrefix(const std::string& finalName) {
  return "." + finalName + ".";
}

std::string HiddenName(const std::string& finalName) {
  std::random_device noise;
  std::uniform_int_distribution<unsigned> letter(0, sizeof kLetters - 2);
  std::string name = HiddenPrefix(finalName) + std::to_string(::getpid()) + ".";
  for (int i = 0; i < kRandomLetters; ++i) name += kLetters[letter(noise)];
  return name;
}

// --- Cleaning up after a signal -------------------------------------------------------------
// The signals that end a program by default. A handler unlinks every hidden file registered
// below (unlinkat is async-signal-safe), then lets the signal end the program as it would have.
constexpr int kEndingSignals[] = {SIGHUP, SIGINT, SIGQUIT, SIGPIPE, SIGTERM};
constexpr int kMostRegistered = 16;

struct Registered {
  std::atomic<bool> used{false};
  int folderFd = -1;
  char name[NAME_MAX + 1] = {};
};
Registered g_registered[kMostRegistered];

extern "C" void UnlinkRegisteredAndReraise(int signal) {
  const int error = errno;
  for (Registered& entry : g_registered) {
    if (entry.used.load(std::memory_order_acquire)) ::unlinkat(entry.folderFd, entry.name, 0);
  }
  errno = error;
  // SA_RESETHAND has put the default action back; the signal is blocked while this handler
  // runs, so it ends the program as soon as the handler returns.
  ::raise(signal);
}

// Installed once, for the signals nobody has claimed: a program that handles SIGINT itself (a
// Cancel) or ignores SIGPIPE keeps its own way.
void InstallSignalCleanup() {
  static std::once_flag installed;
  std::call_once(installed, [] {
    for (const int signal : kEndingSignals) {
      struct sigaction current {};
      if (::sigaction(signal, nullptr, &current) != 0 || current.sa_handler != SIG_DFL ||
          (current.sa_flags & SA_SIGINFO) != 0) {
        continue;
      }
      struct sigaction action {};
      action.sa_handler = UnlinkRegisteredAndReraise;
      action.sa_flags = SA_RESETHAND;
      sigemptyset(&action.sa_mask);
      ::sigaction(signal, &action, nullptr);
    }
  });
}

// While alive, none of the ending signals reach this thread: a name is made or registered, or
// renamed and forgotten, as one step a handler never sees half done.
class EndingSignalsHeld {
 public:
  EndingSignalsHeld() {
    sigset_t held;
    sigemptyset(&held);
    for (const int signal : kEndingSignals) sigaddset(&held, signal);
    ::pthread_sigmask(SIG_BLOCK, &held, &m_before);
  }
  ~EndingSignalsHeld() { ::pthread_sigmask(SIG_SETMASK, &m_before, nullptr); }
  EndingSignalsHeld(const EndingSignalsHeld&) = delete;
  EndingSignalsHeld& operator=(const EndingSignalsHeld&) = delete;

 private:
  sigset_t m_before{};
};

std::mutex g_registering;  // between threads; a handler only reads published entries

int Register(int folderFd, const std::string& name) {
  if (name.size() > NAME_MAX) return -1;
  const std::lock_guard<std::mutex> lock(g_registering);
  for (int slot = 0; slot < kMostRegistered; ++slot) {
    Registered& entry = g_registered[slot];
    if (entry.used.load(std::memory_order_relaxed)) continue;
    entry.folderFd = folderFd;
    std::memcpy(entry.name, name.c_str(), name.size() + 1);
    entry.used.store(true, std::memory_order_release);  // published once filled in
    return slot;
  }
  return -1;  // more files at once than slots: this one is only removed by the next run
}

void Unregister(int& slot) {
  if (slot < 0) return;
  const std::lock_guard<std::mutex> lock(g_registering);
  g_registered[slot].used.store(false, std::memory_order_release);
  slot = -1;
}

// --- What a new file may replace ------------------------------------------------------------

// The file system's own refusal to change a file or folder (chattr +i or +a): a rename over the
// name, or out of the folder, would fail only after the whole file has been written.
bool ImmutableOrAppendOnly(int fd) {
  int flags = 0;
  return ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0 &&
         (flags & (FS_IMMUTABLE_FL | FS_APPEND_FL)) != 0;
}

bool NameIsImmutableOrAppendOnly(int folderFd, const std::string& name) {
  const int fd =
      ::openat(folderFd, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat info {};
  const bool refused =
      ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && ImmutableOrAppendOnly(fd);
  ::close(fd);
  return refused;
}

// A hidden file ".NAME.PID.xxxxxxxx" whose writer is gone: no process has that pid and no one
// holds its lock. A live writer keeps both.
bool LeftByADeadWriter(int folderFd, const char* entry, const std::string& prefix) {
  if (std::strncmp(entry, prefix.c_str(), prefix.size()) != 0) return false;
  const char* pidText = entry + prefix.size();
  char* end = nullptr;
  errno = 0;
  const long pid = std::strtol(pidText, &end, 10);
  if (end == pidText || *end != '.' || std::strlen(end + 1) != kRandomLetters || errno != 0 ||
      pid <= 0 || pid > INT_MAX) {
    return false;
  }
  if (pid == ::getpid() || ::kill(static_cast<pid_t>(pid), 0) == 0 || errno != ESRCH) return false;
  const int fd = ::openat(folderFd, entry, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat info {};
  const bool free =
      ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && ::flock(fd, LOCK_EX | LOCK_NB) == 0;
  ::close(fd);
  return free;
}

// Removes what runs killed outright (SIGKILL, a power cut) left on their way to the name.
void RemoveLeftovers(int folderFd, const std::string& finalName) {
  const int listFd = ::openat(folderFd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (listFd < 0) return;
  DIR* folder = ::fdopendir(listFd);
  if (folder == nullptr) {
    ::close(listFd);
    return;
  }
  const std::string prefix = HiddenPrefix(finalName);
  while (const dirent* entry = ::readdir(folder)) {
    if (LeftByADeadWriter(folderFd, entry->d_name, prefix)) ::unlinkat(folderFd, entry->d_name, 0);
  }
  ::closedir(folder);
}

}  // namespace

int ReplacementFile::Create(const std::string& path) {
  const std::filesystem::path split(path);
  const std::string name = split.filename().string();
  if (name.empty()) {
    // "folder/" names a folder: an existing one is refused as a folder, a missing one as missing.
    struct stat info {};
    if (path.empty() || ::stat(path.c_str(), &info) != 0) return path.empty() ? ENOENT : errno;
    return S_ISDIR(info.st_mode) ? EISDIR : ENOTDIR;
  }
  const std::string folder = split.has_parent_path() ? split.parent_path().string() : ".";
  const int folderFd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (folderFd < 0) return errno;
  const int error = Create(folderFd, name);
  ::close(folderFd);
  return error;
}

int ReplacementFile::Create(int folderFd, const std::string& name) {
  Discard();
  m_flushed = false;
  // A folder at the name would refuse the rename only after the whole file has been written.
  struct stat existing {};
  if (::fstatat(folderFd, name.c_str(), &existing, AT_SYMLINK_NOFOLLOW) == 0 &&
      S_ISDIR(existing.st_mode)) {
    return EISDIR;
  }
  // What the name leads to, followed through links: its permissions pass to the new file.
  m_writeProtected = false;
  const bool exists = ::fstatat(folderFd, name.c_str(), &existing, 0) == 0;
  if (m_regularOnly && exists && !S_ISREG(existing.st_mode)) return ENODEV;
  // A file without any write permission is kept as it is, even for root, who may write anyway.
  if (exists && S_ISREG(existing.st_mode) && (existing.st_mode & kWriteBits) == 0) {
    m_writeProtected = true;
    return EACCES;
  }
  if (ImmutableOrAppendOnly(folderFd) || NameIsImmutableOrAppendOnly(folderFd, name)) return EPERM;
  m_folderFd = ::fcntl(folderFd, F_DUPFD_CLOEXEC, 0);
  if (m_folderFd < 0) return errno;
  m_finalName = name;
  InstallSignalCleanup();
  RemoveLeftovers(m_folderFd, name);
  const auto ready = [&] {
    // Held before anyone can see the file, so its lock says "being written" from the start.
    ::flock(m_fd, LOCK_EX | LOCK_NB);
    if (exists && S_ISREG(existing.st_mode)) {
      // The owner where the process may set it (root, or a group of its own), then the bits;
      // chown first, since it may clear set-id bits.
      if (::fchown(m_fd, existing.st_uid, existing.st_gid) != 0) {
        [[maybe_unused]] const int ignored =
            ::fchown(m_fd, static_cast<uid_t>(-1), existing.st_gid);
      }
      if (::fchmod(m_fd, existing.st_mode & kPermissionBits) != 0) return errno;
    }
    return 0;
  };
  m_fd = FileFaultDue(FileFault::unnamedFile)
             ? -1
             : ::openat(m_folderFd, ".", O_TMPFILE | O_RDWR | O_CLOEXEC, kNewFileMode);
  if (m_fd >= 0) {
    if (const int error = ready()) {
      Discard();
      return error;
    }
    return 0;
  }
  // Only a file system without unnamed files is worth a second try: any other refusal
  // (permissions, a read-only or full file system) would refuse a named file just the same.
  if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) {
    const int error = errno;
    Discard();
    return error;
  }
  for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
    std::string hidden = HiddenName(name);
    const EndingSignalsHeld held;  // the name exists only once it is registered
    m_fd =
        ::openat(m_folderFd, hidden.c_str(), O_CREAT | O_EXCL | O_RDWR | O_CLOEXEC, kNewFileMode);
    if (m_fd >= 0) {
      m_hiddenName = std::move(hidden);
      m_registered = Register(m_folderFd, m_hiddenName);
      if (const int error = ready()) {
        Discard();
        return error;
      }
      return 0;
    }
    if (errno != EEXIST) break;
  }
  const int error = errno;
  Discard();
  return error;
}

int ReplacementFile::Write(const void* bytes, std::size_t count) {
  m_flushed = false;
  if (FileFaultDue(FileFault::write)) return errno;
  return WriteAll(m_fd, bytes, count);
}

int ReplacementFile::Flush() {
  if (m_fd < 0) return EBADF;
  if (FileFaultDue(FileFault::flush) || ::fsync(m_fd) != 0) return errno;
  m_flushed = true;
  return 0;
}

int ReplacementFile::Commit() {
  if (m_fd < 0) return EBADF;
  // The data is on the disk before the name moves, or a power loss could leave the name on an
  // empty file.
  if (!m_flushed) {
    if (const int error = Flush()) return error;
  }
  if (m_hiddenName.empty()) {
    if (const int error = GiveName()) return error;
  }
  // The descriptor is gone even when close reports an error, so it is never closed twice.
  const int fd = std::exchange(m_fd, -1);
  const bool injected = FileFaultDue(FileFault::close);
  const int injectedError = errno;
  if (::close(fd) != 0) return errno;
  if (injected) return injectedError;
  // One rename replaces whatever had the name (a file, a link, a FIFO) without opening it. A
  // signal handler must never unlink the name once it belongs to the final file.
  {
    const EndingSignalsHeld held;
    if (::renameat(m_folderFd, m_hiddenName.c_str(), m_folderFd, m_finalName.c_str()) != 0) {
      return errno;
    }
    m_hiddenName.clear();
    Unregister(m_registered);
  }
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
    const EndingSignalsHeld held;  // the name exists only once it is registered
    // Through /proc for everyone; AT_EMPTY_PATH where /proc is missing (it needs privilege).
    if (::linkat(AT_FDCWD, self.c_str(), m_folderFd, hidden.c_str(), AT_SYMLINK_FOLLOW) == 0 ||
        (errno != EEXIST && ::linkat(m_fd, "", m_folderFd, hidden.c_str(), AT_EMPTY_PATH) == 0)) {
      m_hiddenName = std::move(hidden);
      m_registered = Register(m_folderFd, m_hiddenName);
      return 0;
    }
    if (errno != EEXIST) return errno;
  }
  return EEXIST;
}

void ReplacementFile::Discard() {
  const int error = errno;  // a cleanup must not hide the failure being reported
  if (m_fd >= 0) ::close(std::exchange(m_fd, -1));
  {
    const EndingSignalsHeld held;
    if (!m_hiddenName.empty()) ::unlinkat(m_folderFd, m_hiddenName.c_str(), 0);
    m_hiddenName.clear();
    Unregister(m_registered);
  }
  if (m_folderFd >= 0) ::close(std::exchange(m_folderFd, -1));
  m_finalName.clear();
  errno = error;
}
