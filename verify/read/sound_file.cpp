#include "verify/read/sound_file.h"

#include <fcntl.h>
#include <poll.h>
#include <sndfile.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <limits>
#include <utility>

#include "verify/read/declared_data.h"
#include "verify/read/sample_copy.h"
#include "verify/read/sample_format.h"
#include "verify/read/verify_error.h"

namespace {

// One block of every channel: a stereo file's 262144 frames of floats. A file of many channels
// is read in fewer frames at a time instead of in more memory.
constexpr std::size_t kMaxBlockBytes = std::size_t{1} << 21;
// A stream's first bytes stay at hand, so libsndfile can look at the header and go back over it
// as it does on a file; FLAC's metadata (pictures included) fits.
constexpr std::size_t kHeadBytes = std::size_t{1} << 20;
// A stream's samples read before Rewind are replayed from memory; more than this and the
// stream cannot be rewound.
constexpr std::size_t kMaxReplayBytes = std::size_t{64} << 20;
// A stream is read this many sample frames at a time.
constexpr std::size_t kStreamPieceFrames = 4096;
// A header may step over a chunk it does not need (a list of tags, padding) up to this long.
constexpr std::size_t kMaxSkipBytes = std::size_t{1} << 16;

[[noreturn]] void Fail(const std::string& path, const std::string& reason) {
  throw VerifyError(path + ": " + reason);
}

// Ctrl+C on a stream ends the reading as if the stream had ended, so the report of what came in
// is still given.
// A lock-free atomic: safe to set in the handler, and read on the thread that reads ahead.
std::atomic<bool> g_interrupted{false};
static_assert(std::atomic<bool>::is_always_lock_free);

void OnInterrupt(int) {
  g_interrupted = true;
}

void StopOnInterrupt() {
  struct sigaction action {};
  action.sa_handler = OnInterrupt;
  sigemptyset(&action.sa_mask);
  action.sa_flags = 0;  // no SA_RESTART: a read blocked on the pipe returns at once
  ::sigaction(SIGINT, &action, nullptr);
}

// Decoders inside libsndfile (the MP3 one) print their own complaints on stderr, which would
// break the rule of one line from vrellok-verify per failure: while one of them runs, stderr
// goes to /dev/null.
class QuietStderr {
 public:
  explicit QuietStderr(bool quiet) {
    if (!quiet) return;
    const int null = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (null < 0) return;
    std::fflush(stderr);
    m_saved = ::fcntl(STDERR_FILENO, F_DUPFD_CLOEXEC, 0);
    if (m_saved >= 0) ::dup2(null, STDERR_FILENO);
    ::close(null);
  }
  ~QuietStderr() {
    if (m_saved < 0) return;
    std::fflush(stderr);
    ::dup2(m_saved, STDERR_FILENO);
    ::close(m_saved);
  }
  QuietStderr(const QuietStderr&) = delete;
  QuietStderr& operator=(const QuietStderr&) = delete;

 private:
  int m_saved = -1;
};

// The descriptor of the regular file at path; refuses anything else. Opened non-blocking, so a
// FIFO returns at once and is refused instead of waited on.
int OpenRegular(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) Fail(path, std::strerror(errno));
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    Fail(path, "not a regular file");
  }
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  return fd;
}

// libsndfile's raw format for headerless samples, little-endian as every capture tool on this
// system writes them.
int RawSfFormat(RawSample sample) {
  switch (sample) {
    case RawSample::s16le:
      return SF_FORMAT_RAW | SF_FORMAT_PCM_16 | SF_ENDIAN_LITTLE;
    case RawSample::s24le:
      return SF_FORMAT_RAW | SF_FORMAT_PCM_24 | SF_ENDIAN_LITTLE;
    case RawSample::s32le:
      return SF_FORMAT_RAW | SF_FORMAT_PCM_32 | SF_ENDIAN_LITTLE;
    case RawSample::f32le:
      return SF_FORMAT_RAW | SF_FORMAT_FLOAT | SF_ENDIAN_LITTLE;
  }
  return 0;
}

SF_INFO RawInfo(int format, int rate, int channels) {
  SF_INFO info{};
  info.format = format;
  info.samplerate = rate;
  info.channels = channels;
  return info;
}

}  // namespace

// Standard input through libsndfile's virtual I/O: a pipe cannot seek, but libsndfile reads a
// header and steps back over it (FLAC's reader does so at the start), so the first bytes are
// kept; a seek forward reads on and drops what it passes.
struct SoundFile::Stream {
  int fd = STDIN_FILENO;
  std::vector<char> head;  // the stream's first bytes, up to kHeadBytes
  sf_count_t position = 0;
  sf_count_t pulled = 0;  // bytes taken from the pipe so far

  // Up to count bytes from the pipe; 0 at its end or at Ctrl+C.
  sf_count_t Pull(char* into, sf_count_t count) {
    // Ctrl+C may land on another thread than this reader: a blocked read would then wait for
    // more of the stream, so the pipe is watched in short waits that look at the flag.
    constexpr int kWaitMs = 100;
    for (;;) {
      if (g_interrupted) return 0;
      pollfd watch{fd, POLLIN, 0};
      const int ready = ::poll(&watch, 1, kWaitMs);
      if (ready == 0 || (ready < 0 && errno == EINTR)) continue;
      const ssize_t got = ::read(fd, into, static_cast<std::size_t>(count));
      if (got >= 0) {
        const auto n = static_cast<sf_count_t>(got);
        const auto keep = std::min<sf_count_t>(
            n, std::max<sf_count_t>(0, static_cast<sf_count_t>(kHeadBytes) - pulled));
        head.insert(head.end(), into, into + keep);
        pulled += n;
        return n;
      }
      if (errno != EINTR && errno != EAGAIN) return 0;
    }
  }

  sf_count_t Read(char* out, sf_count_t count) {
    sf_count_t done = 0;
    char scratch[1 << 16];
    while (done < count) {
      if (position < pulled) {
        // Going over what came already: only the head is still there.
        if (position >= static_cast<sf_count_t>(head.size())) break;
        const sf_count_t n =
            std::min(count - done, static_cast<sf_count_t>(head.size()) - position);
        std::memcpy(out + done, head.data() + position, static_cast<std::size_t>(n));
        position += n;
        done += n;
      } else if (position > pulled) {
        if (Pull(scratch, std::min<sf_count_t>(position - pulled, sizeof scratch)) == 0) break;
      } else {
        const sf_count_t n = Pull(out + done, count - done);
        if (n == 0) break;
        position += n;
        done += n;
      }
    }
    return done;
  }

  sf_count_t Seek(sf_count_t offset, int whence) {
    const sf_count_t target = whence == SEEK_SET   ? offset
                              : whence == SEEK_CUR ? position + offset
                                                   : -1;
    // The end of a pipe is unknown, and what went past the head is gone. A seek beyond the head
    // is refused too: it would read the pipe on to there and lose the way back. So is a long
    // skip forward: a WAV reader stepping over the samples to look for chunks after them would
    // otherwise wait for the whole stream before giving its first sample.
    const auto kept = static_cast<sf_count_t>(kHeadBytes);
    const auto skip = static_cast<sf_count_t>(kMaxSkipBytes);
    if (target < 0 || (target > kept && target != pulled) || target > pulled + skip ||
        (target < pulled && target > static_cast<sf_count_t>(head.size()))) {
      return -1;
    }
    position = target;
    return position;
  }
};

namespace {

sf_count_t StreamLength(void*) {
  // Unknown until the end: as long as anything a header may declare.
  return SF_COUNT_MAX;
}
sf_count_t StreamSeek(sf_count_t offset, int whence, void* stream) {
  return static_cast<SoundFile::Stream*>(stream)->Seek(offset, whence);
}
sf_count_t StreamRead(void* into, sf_count_t count, void* stream) {
  return static_cast<SoundFile::Stream*>(stream)->Read(static_cast<char*>(into), count);
}
sf_count_t StreamWrite(const void*, sf_count_t, void*) {
  return 0;
}
sf_count_t StreamTell(void* stream) {
  return static_cast<SoundFile::Stream*>(stream)->position;
}

}  // namespace

SoundFile::SoundFile(const std::string& path, const std::optional<RawFormat>& raw) : m_path(path) {
  if (raw) {
    m_rawFormat = RawSfFormat(raw->sample);
    m_sampleRate = raw->rate;
    m_channels = raw->channels;
  }
  SF_INFO info{};
  if (path == kStandardInput) {
    m_stream = std::make_unique<Stream>();
    StopOnInterrupt();
    static SF_VIRTUAL_IO io = {StreamLength, StreamSeek, StreamRead, StreamWrite, StreamTell};
    const QuietStderr quiet(true);
    if (raw) info = RawInfo(m_rawFormat, m_sampleRate, m_channels);
    m_file = sf_open_virtual(&io, SFM_READ, &info, m_stream.get());
  } else {
    const int fd = OpenRegular(path);
    // A copy of the descriptor opens the same file again where a decoder cannot seek back.
    m_reopen = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
    m_file = OpenFd(fd);
  }
  if (m_file == nullptr) {
    const std::string reason = sf_strerror(nullptr);
    CloseReopen();
    Fail(path, reason);
  }
  if (!m_stream) {
    sf_command(m_file, SFC_GET_CURRENT_SF_INFO, &info, sizeof info);
    m_frames = info.frames;
  }
  m_sampleRate = info.samplerate;
  m_channels = info.channels;
  m_quietDecoder = (info.format & SF_FORMAT_TYPEMASK) == SF_FORMAT_MPEG;
  // A constructor that throws runs no destructor: the file is closed here first.
  const auto refuse = [&](const std::string& reason) {
    sf_close(std::exchange(m_file, nullptr));
    CloseReopen();
    Fail(path, reason);
  };
  if (m_sampleRate > kMaxSampleRate) {
    refuse("sample rate " + std::to_string(m_sampleRate) + " Hz is above " +
           std::to_string(kMaxSampleRate) + " Hz: the header is damaged");
  }
  if (m_channels < 1) refuse("the header names no channel");
  // Integer samples are scaled to [-1, 1) exactly; float files are read as they are.
  sf_command(m_file, SFC_SET_NORM_FLOAT, nullptr, SF_TRUE);
  const SampleFormat kind = SampleFormatOf(info.format);
  m_readsShorts = kind.shorts;
  m_onlyNumbers = kind.onlyNumbers;
  if (!m_stream && m_rawFormat == 0) TakeDeclaredLength(info.format);
}

// Opens the file on fd (taking it over) as its header says, or as the raw samples named.
SNDFILE* SoundFile::OpenFd(int fd) {
  SF_INFO info{};
  if (m_rawFormat != 0) info = RawInfo(m_rawFormat, m_sampleRate, m_channels);
  SNDFILE* file = nullptr;
  {
    const QuietStderr quiet(true);
    file = sf_open_fd(fd, SFM_READ, &info, SF_TRUE);
  }
  if (file != nullptr && m_rawOffset > 0) {
    sf_count_t offset = m_rawOffset;
    sf_command(file, SFC_SET_RAW_START_OFFSET, &offset, sizeof offset);
  }
  return file;
}

// libsndfile counts the frames a WAV, AIFF or W64 file holds, not those its header declares:
// the header's own data size is taken, so a file cut short reads as truncated. A WAV whose
// header never got its data size is read to the end of the file.
void SoundFile::TakeDeclaredLength(int format) {
  const int width = SampleFormatOf(format).bytes;
  const std::optional<DeclaredData> data = width > 0 ? ReadDeclaredData(m_reopen) : std::nullopt;
  if (!data) return;
  const auto frameBytes = static_cast<std::int64_t>(width) * m_channels;
  if (!data->unsized) {
    m_frames =
        std::max<std::int64_t>(m_frames, static_cast<std::int64_t>(data->bytes / frameBytes));
    return;
  }
  struct stat st {};
  if (::fstat(m_reopen, &st) != 0 || st.st_size <= data->offset) return;
  m_lengthUndeclared = true;
  m_frames = -1;
  if (data->bytes != 0) return;  // libsndfile itself reads an unsized 0xFFFFFFFF to the end
  // A size of 0 is taken at its word: the samples behind it are read as raw ones.
  m_rawFormat = SF_FORMAT_RAW | (format & SF_FORMAT_SUBMASK) | SF_ENDIAN_LITTLE;
  m_rawOffset = data->offset;
  const int fd = ::fcntl(m_reopen, F_DUPFD_CLOEXEC, 0);
  if (fd < 0 || ::lseek(fd, 0, SEEK_SET) != 0) {
    if (fd >= 0) ::close(fd);
    return;
  }
  if (SNDFILE* file = OpenFd(fd)) sf_close(std::exchange(m_file, file));
}

SoundFile::~SoundFile() {
  if (m_file != nullptr) sf_close(m_file);
  CloseReopen();
}

void SoundFile::CloseReopen() {
  if (m_reopen >= 0) ::close(std::exchange(m_reopen, -1));
}

std::size_t SoundFile::BlockFrames(std::size_t wanted) const {
  const std::size_t bound = kMaxBlockBytes / (sizeof(float) * static_cast<std::size_t>(m_channels));
  return std::max<std::size_t>(1, std::min(wanted, bound));
}

std::size_t SoundFile::MostPerRead() const {
  return m_stream ? kStreamPieceFrames : std::numeric_limits<std::size_t>::max();
}

std::int64_t SoundFile::Checked(std::int64_t got) {
  // A damaged file ends where it can no longer be read; the report then says how much of what
  // the header declares is missing.
  if (got <= 0 && sf_error(m_file) != SF_ERR_NO_ERROR) {
    m_stopReason = sf_strerror(m_file);
    return 0;
  }
  return std::max<std::int64_t>(got, 0);
}

std::size_t SoundFile::ReadFromFile(float* interleaved, std::size_t frames) {
  // After Ctrl+C a stream gives what already came in, and nothing more from the pipe.
  if (!m_stopReason.empty()) return 0;
  if (m_readsShorts) {
    m_shorts.resize(frames * static_cast<std::size_t>(m_channels));
    const std::size_t got = ReadShortsFromFile(m_shorts.data(), frames);
    const std::size_t count = got * static_cast<std::size_t>(m_channels);
    ScaleShorts(m_shorts.data(), interleaved, count);
    return got;
  }
  const QuietStderr quiet(m_quietDecoder);
  return static_cast<std::size_t>(
      Checked(sf_readf_float(m_file, interleaved, static_cast<sf_count_t>(frames))));
}

std::size_t SoundFile::ReadShortsFromFile(std::int16_t* interleaved, std::size_t frames) {
  if (!m_stopReason.empty()) return 0;
  const QuietStderr quiet(m_quietDecoder);
  return static_cast<std::size_t>(
      Checked(sf_readf_short(m_file, interleaved, static_cast<sf_count_t>(frames))));
}

std::size_t SoundFile::ReadShorts(std::int16_t* interleaved, std::size_t frames) {
  const std::size_t got = ReadShortsFromFile(interleaved, frames);
  m_position += static_cast<std::int64_t>(got);
  m_framesRead = std::max(m_framesRead, m_position);
  return got;
}

std::size_t SoundFile::Read(float* interleaved, std::size_t frames) {
  // libsndfile waits until a stream has given all it asks for: small requests keep what is
  // known about a live capture a fraction of a second behind it.
  frames = std::min(frames, MostPerRead());
  const auto channels = static_cast<std::size_t>(m_channels);
  std::size_t got = 0;
  const auto replayFrames = static_cast<std::int64_t>(m_replay.size() / channels);
  if (m_stream && m_position < replayFrames) {
    // After Rewind a stream first gives again what it gave before.
    got = std::min(frames, static_cast<std::size_t>(replayFrames - m_position));
    const auto from = m_replay.begin() + static_cast<std::ptrdiff_t>(m_position) *
                                             static_cast<std::ptrdiff_t>(channels);
    std::copy(from, from + static_cast<std::ptrdiff_t>(got * channels), interleaved);
  } else {
    if (!m_replayComplete && !m_replay.empty()) std::vector<float>().swap(m_replay);
    got = ReadFromFile(interleaved, frames);
    if (m_stream && m_position == m_framesRead && m_replayComplete) {
      if ((m_replay.size() + got * channels) * sizeof(float) <= kMaxReplayBytes) {
        m_replay.insert(m_replay.end(), interleaved, interleaved + got * channels);
      } else {
        m_replayComplete = false;
        std::vector<float>().swap(m_replay);
      }
    }
  }
  m_position += static_cast<std::int64_t>(got);
  m_framesRead = std::max(m_framesRead, m_position);
  return got;
}

std::size_t SoundFile::ReadChannel(int channel, float* samples, std::size_t frames) {
  if (m_channels == 1) return Read(samples, frames);
  const auto channels = static_cast<std::size_t>(m_channels);
  const std::size_t block = BlockFrames(frames);
  m_interleaved.resize(block * channels);
  std::size_t done = 0;
  while (done < frames) {
    const std::size_t got = Read(m_interleaved.data(), std::min(block, frames - done));
    CopyChannel(m_interleaved.data(), channels, static_cast<std::size_t>(channel), samples + done,
                got);
    done += got;
    if (got == 0 || m_stream) break;
  }
  return done;
}

void SoundFile::Rewind(Replay replay) {
  if (m_stream) {
    if (!m_replayComplete) {
      Fail(m_path, "no timecode in the first " +
                       std::to_string(kMaxReplayBytes / sizeof(float) /
                                      static_cast<std::size_t>(m_channels) /
                                      static_cast<std::size_t>(std::max(m_sampleRate, 1))) +
                       " s of the stream");
    }
    // For the last reading, whatever comes after the replay is read from the stream, not kept.
    if (replay == Replay::kDrop) m_replayComplete = false;
    m_position = 0;
    return;
  }
  // A decoder that met damage (FLAC cut short or zeroed) may refuse to seek back: the file is
  // then opened again from its first byte.
  if (!m_stopReason.empty() || sf_seek(m_file, 0, SEEK_SET) != 0) {
    SF_INFO info{};
    const int fd = m_reopen < 0 ? -1 : ::fcntl(m_reopen, F_DUPFD_CLOEXEC, 0);
    if (fd < 0 || ::lseek(fd, 0, SEEK_SET) != 0) {
      if (fd >= 0) ::close(fd);
      Fail(m_path, "cannot return to the start");
    }
    sf_close(std::exchange(m_file, nullptr));
    m_file = OpenFd(fd);
    if (m_file != nullptr) sf_command(m_file, SFC_GET_CURRENT_SF_INFO, &info, sizeof info);
    if (m_file == nullptr || info.samplerate != m_sampleRate || info.channels != m_channels) {
      Fail(m_path, "cannot return to the start");
    }
    sf_command(m_file, SFC_SET_NORM_FLOAT, nullptr, SF_TRUE);
  }
  m_position = 0;
  m_stopReason.clear();
}
