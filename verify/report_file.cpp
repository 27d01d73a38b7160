#include "verify/report_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

namespace {

constexpr mode_t kNewFileMode = 0666;  // narrowed by the umask, as any new file

[[noreturn]] void Fail(const std::string& path, int error) {
  throw ReportFileError("cannot write " + path + ": " + std::strerror(error));
}

std::string FolderOf(const std::string& path) {
  const std::filesystem::path folder = std::filesystem::path(path).parent_path();
  return folder.empty() ? "." : folder.string();
}

// Renaming over a device or a link would replace the node itself, not write into it.
void RefuseOddTarget(const std::string& path) {
  struct stat info {};
  if (::lstat(path.c_str(), &info) == 0 && !S_ISREG(info.st_mode)) {
    throw ReportFileError("cannot write " + path + ": not a regular file");
  }
}

// A hidden, uniquely named file in the target's folder, so the rename stays on one file system.
std::string HiddenTemplate(const std::string& path) {
  std::string name = ".";
  name += std::filesystem::path(path).filename().string();
  name += ".XXXXXX";
  return (std::filesystem::path(FolderOf(path)) / name).string();
}

bool WriteAll(int fd, const std::string& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

}  // namespace

void ReplaceFile(const std::string& path, const std::string& bytes) {
  RefuseOddTarget(path);
  std::string hidden = HiddenTemplate(path);
  const int fd = ::mkstemp(hidden.data());
  if (fd < 0) Fail(path, errno);
  const mode_t mask = ::umask(0);
  ::umask(mask);
  const bool written =
      ::fchmod(fd, kNewFileMode & ~mask) == 0 && WriteAll(fd, bytes) && ::fsync(fd) == 0;
  const int error = errno;
  if (::close(fd) != 0 || !written || ::rename(hidden.c_str(), path.c_str()) != 0) {
    const int failure = written ? errno : error;
    ::unlink(hidden.c_str());
    Fail(path, failure);
  }
  // The rename is durable only once the folder itself is on the disk.
  const int folder = ::open(FolderOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (folder >= 0) {
    ::fsync(folder);
    ::close(folder);
  }
}

void CheckReplaceable(const std::string& path) {
  RefuseOddTarget(path);
  std::string hidden = HiddenTemplate(path);
  const int fd = ::mkstemp(hidden.data());
  if (fd < 0) Fail(path, errno);
  ::close(fd);
  ::unlink(hidden.c_str());
}
