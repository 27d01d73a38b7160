// What the three fuzz targets share: each input is laid down as a real file, since the readers
// under test take paths and file objects, not buffers. The folder is in memory (/dev/shm where it
// exists), so the flushes of a plain copy cost nothing.
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

class FuzzFolder {
 public:
  FuzzFolder() {
    std::string pattern = (::access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp");
    pattern += "/fuzz.XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) std::abort();
    m_path = pattern;
  }
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
