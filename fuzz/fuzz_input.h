// What the three fuzz targets share: each input is laid down as a real file, since the readers
// under test take paths and file objects, not buffers. The folder is in memory (/dev/shm where it
// exists), so the flushes of a plain copy cost nothing; scripts/fuzz.sh names a folder of its own
// to hold it (FUZZ_FOLDER_PARENT) and removes that on any exit. Whatever the folder, it goes
// when the target ends normally.
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>

class FuzzFolder {
 public:
  FuzzFolder() {
    const char* parent = std::getenv("FUZZ_FOLDER_PARENT");
    std::string pattern = parent != nullptr && *parent != '\0' ? parent
                          : ::access("/dev/shm", W_OK) == 0    ? "/dev/shm"
                                                               : "/tmp";
    pattern += "/fuzz.XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) std::abort();
    m_path = pattern;
  }
  ~FuzzFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(m_path, ignored);
  }
  FuzzFolder(const FuzzFolder&) = delete;
  FuzzFolder& operator=(const FuzzFolder&) = delete;
  std::string File(const char* name) const { return m_path + "/" + name; }

  // Writes the input as the file `name`, replacing what the last input left.
  std::string Lay(const char* name, const std::uint8_t* data, std::size_t size) const {
    const std::string path = File(name);
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) std::abort();
    for (std::size_t done = 0; done < size;) {
      const ssize_t wrote = ::write(fd, data + done, size - done);
      if (wrote <= 0) std::abort();
      done += static_cast<std::size_t>(wrote);
    }
    ::close(fd);
    return path;
  }

 private:
  std::string m_path;
};
