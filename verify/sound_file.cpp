#include "verify/sound_file.h"

#include <fcntl.h>
#include <sndfile.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "verify/verifier.h"

namespace {

[[noreturn]] void Fail(const std::string& path, const std::string& reason) {
  throw VerifyError(path + ": " + reason);
}

}  // namespace

SoundFile::SoundFile(const std::string& path) : m_path(path) {
  // Non-blocking, so opening a FIFO returns at once and is refused below.
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) Fail(path, std::strerror(errno));
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    Fail(path, "not a regular file");
  }
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  SF_INFO info{};
  m_file = sf_open_fd(fd, SFM_READ, &info, SF_TRUE);
  if (m_file == nullptr) {
    const std::string reason = sf_strerror(nullptr);
    Fail(path, reason);
  }
  m_sampleRate = info.samplerate;
  m_channels = info.channels;
  m_frames = info.frames;
  // Integer samples are scaled to [-1, 1) exactly; float files are read as they are.
  sf_command(m_file, SFC_SET_NORM_FLOAT, nullptr, SF_TRUE);
}

SoundFile::~SoundFile() {
  if (m_file != nullptr) sf_close(m_file);
}

std::size_t SoundFile::Read(float* interleaved, std::size_t frames) {
  const sf_count_t got = sf_readf_float(m_file, interleaved, static_cast<sf_count_t>(frames));
  if (got < 0) Fail(m_path, sf_strerror(m_file));
  if (got == 0 && sf_error(m_file) != SF_ERR_NO_ERROR) Fail(m_path, sf_strerror(m_file));
  return static_cast<std::size_t>(got);
}

std::size_t SoundFile::ReadChannel(int channel, float* samples, std::size_t frames) {
  if (m_channels == 1) return Read(samples, frames);
  const auto channels = static_cast<std::size_t>(m_channels);
  m_interleaved.resize(frames * channels);
  const std::size_t got = Read(m_interleaved.data(), frames);
  for (std::size_t i = 0; i < got; ++i) {
    samples[i] = m_interleaved[i * channels + static_cast<std::size_t>(channel)];
  }
  return got;
}

void SoundFile::Rewind() {
  if (sf_seek(m_file, 0, SEEK_SET) != 0) Fail(m_path, "cannot return to the start");
}
