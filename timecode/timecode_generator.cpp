#include "timecode/timecode_generator.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <random>

#include "platform/trace.h"
#include "wave/wave_header.h"

namespace {

constexpr const char* kOutputName = "TC.wav";

constexpr const char* kCreatedText = "TC.wav Created";
constexpr const char* kOutOfRangeText = "ERROR-> out of range";
constexpr const char* kDtmfIdOutOfRangeText = "DTMF ID#-> out of range";
constexpr const char* kCannotOpenText = "ERROR-> cannot open output file";
constexpr const char* kCannotWriteText = "ERROR-> cannot write output file";

// What goes with each timecode type. The messages name the banks in capitals, the files on disk
// are lower case.
struct TimecodeType {
  const char* bankFile;
  const char* notFoundText;
  const char* tooShortText;
  int sampleRate;
};

constexpr TimecodeType kSlowType = {"dtmf36.bin", "ERROR-> DTMF36.bin not found",
                                    "ERROR-> DTMF36.bin is too short", 36015};
constexpr TimecodeType kFastType = {"dtmf44.bin", "ERROR-> DTMF44.bin not found",
                                    "ERROR-> DTMF44.bin is too short", 44100};

// Hidden names for a new file on its way to TC.wav: ".TC.wav." and eight random letters.
constexpr int kNameAttempts = 100;
constexpr int kRandomLetters = 8;
constexpr char kLetters[] = "abcdefghijklmnopqrstuvwxyz0123456789";

std::string HiddenName() {
  std::random_device noise;
  std::uniform_int_distribution<unsigned> letter(0, sizeof kLetters - 2);
  std::string name = std::string(".") + kOutputName + ".";
  for (int i = 0; i < kRandomLetters; ++i) name += kLetters[letter(noise)];
  return name;
}

// The data goes to the disk in steps this large, each one started while the one before is
// waited for: the disk always has work queued, and a cancel is heard after each step even when
// a slow stick takes seconds per step.
constexpr off_t kFlushStepBytes = 16 * 1024 * 1024;

enum class Flush { done, failed, cancelled };

Flush FlushToDisk(int fd, const TimecodeSettings& settings, GenerateProgress& progress) {
  const auto length =
      static_cast<off_t>(kWaveHeaderBytes + 2 * static_cast<std::uint64_t>(settings.sampleLength));
  constexpr unsigned kWaitAll =
      SYNC_FILE_RANGE_WAIT_BEFORE | SYNC_FILE_RANGE_WRITE | SYNC_FILE_RANGE_WAIT_AFTER;
  // Only a hint to the kernel when to write: errors, and durability, are fsync's business below.
  for (off_t start = 0; start < length; start += kFlushStepBytes) {
    ::sync_file_range(fd, start, kFlushStepBytes, SYNC_FILE_RANGE_WRITE);
    if (start > 0) ::sync_file_range(fd, start - kFlushStepBytes, kFlushStepBytes, kWaitAll);
    if (progress.CancelRequested()) return Flush::cancelled;
  }
  if (::fsync(fd) != 0) return Flush::failed;
  // The last chance to refuse before the new file takes TC.wav's place.
  return progress.CancelRequested() ? Flush::cancelled : Flush::done;
}

class NoProgress : public GenerateProgress {
 public:
  void Written(std::uint64_t, std::uint64_t) override {}
  void Flushing() override {}
  bool CancelRequested() override { return false; }
};

// A descriptor closed when it goes out of scope.
class OwnedFd {
 public:
  explicit OwnedFd(int fd) : m_fd(fd) {}
  ~OwnedFd() {
    if (m_fd >= 0) ::close(m_fd);
  }
  OwnedFd(const OwnedFd&) = delete;
  OwnedFd& operator=(const OwnedFd&) = delete;
  int Get() const { return m_fd; }

 private:
  int m_fd;
};

// The new file while it is written: unnamed (O_TMPFILE) where the file system allows, so that
// even a killed run leaves nothing behind, else under a hidden unique name created with O_EXCL.
// Unless Commit succeeds, the destructor throws it away.
class TemporaryFile {
 public:
  explicit TemporaryFile(int folderFd) : m_folderFd(folderFd) {}
  ~TemporaryFile() {
    if (m_fd >= 0) ::close(m_fd);
    if (!m_name.empty()) ::unlinkat(m_folderFd, m_name.c_str(), 0);
  }
  TemporaryFile(const TemporaryFile&) = delete;
  TemporaryFile& operator=(const TemporaryFile&) = delete;

  // False when the folder takes no new file. The mode is that of any new file, 0666 less the
  // umask.
  bool Create(bool namedOnly) {
    if (!namedOnly) {
      m_fd = ::openat(m_folderFd, ".", O_TMPFILE | O_RDWR | O_CLOEXEC, 0666);
      if (m_fd >= 0) return true;
      // Only a file system without unnamed files is worth a second try: any other refusal
      // (permissions, a read-only or full file system) would refuse a named file just the same.
      if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) return false;
    }
    for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
      std::string name = HiddenName();
      m_fd = ::openat(m_folderFd, name.c_str(), O_CREAT | O_EXCL | O_RDWR | O_CLOEXEC, 0666);
      if (m_fd >= 0) {
        m_name = std::move(name);
        return true;
      }
      if (errno != EEXIST) return false;
    }
    return false;
  }

  int Fd() const { return m_fd; }

  // Puts the flushed file in place of finalName with one rename, which replaces whatever had
  // that name (a file, a link, a FIFO) without opening it.
  bool Commit(const char* finalName) {
    if (m_name.empty() && !GiveName()) return false;
    const int fd = m_fd;
    m_fd = -1;
    if (::close(fd) != 0) return false;
    if (::renameat(m_folderFd, m_name.c_str(), m_folderFd, finalName) != 0) return false;
    m_name.clear();
    return true;
  }

 private:
  // rename needs a name to move. The unnamed file gets a hidden one only now, a moment before
  // the rename.
  bool GiveName() {
    const std::string self = "/proc/self/fd/" + std::to_string(m_fd);
    for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
      std::string name = HiddenName();
      // Through /proc for everyone; AT_EMPTY_PATH where /proc is missing (it needs privilege).
      if (::linkat(AT_FDCWD, self.c_str(), m_folderFd, name.c_str(), AT_SYMLINK_FOLLOW) == 0 ||
          (errno != EEXIST && ::linkat(m_fd, "", m_folderFd, name.c_str(), AT_EMPTY_PATH) == 0)) {
        m_name = std::move(name);
        return true;
      }
      if (errno != EEXIST) return false;
    }
    return false;
  }

  int m_folderFd;
  int m_fd = -1;
  std::string m_name;  // empty while the file is unnamed
};

}  // namespace

std::string TimecodeGenerator::Generate(const TimecodeSettings& settings) {
  NoProgress quiet;
  return Generate(settings, quiet);
}

std::string TimecodeGenerator::Generate(const TimecodeSettings& settings,
                                        GenerateProgress& progress, const char* folder) {
  TRACE("timecode=%d\n", settings.timecode);
  const TimecodeType& type = settings.timecode == 1 ? kSlowType : kFastType;
  // Banks and TC.wav are found through one descriptor of the folder, so they stay together even
  // if the folder is renamed meanwhile. A folder that cannot be opened holds no bank.
  const OwnedFd folderFd(::open(folder, O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  const ToneBank::LoadResult loaded = folderFd.Get() < 0
                                          ? ToneBank::LoadResult::notFound
                                          : m_toneBank.Load(folderFd.Get(), type.bankFile);
  switch (loaded) {
    case ToneBank::LoadResult::notFound:
      return type.notFoundText;
    case ToneBank::LoadResult::tooShort:
      return type.tooShortText;
    case ToneBank::LoadResult::loaded:
      break;
  }
  TRACE("method=%d\n", settings.method);
  if (settings.sampleLength < kMinSampleLength || settings.sampleLength > kMaxSampleLength) {
    return kOutOfRangeText;
  }
  if (settings.dtmfId < kMinDtmfId || settings.dtmfId > kMaxDtmfId) return kDtmfIdOutOfRangeText;
  return Replace(folderFd.Get(), settings, type.sampleRate, progress);
}

std::string TimecodeGenerator::Replace(int folderFd, const TimecodeSettings& settings,
                                       int sampleRate, GenerateProgress& progress) {
  // A folder named TC.wav would survive the rename only as a failure after the whole write.
  struct stat existing {};
  if (::fstatat(folderFd, kOutputName, &existing, AT_SYMLINK_NOFOLLOW) == 0 &&
      S_ISDIR(existing.st_mode)) {
    return kCannotOpenText;
  }
  TemporaryFile file(folderFd);
  if (!file.Create(m_namedTemporaryOnly)) return kCannotOpenText;
  m_fd = file.Fd();
  m_cancelled = false;
  const bool written = WriteOutput(settings, sampleRate, progress);
  m_fd = -1;
  if (m_cancelled) return {};
  if (!written) return kCannotWriteText;

  // "Created" is said only once the data and the new name are on the disk: a stick pulled out
  // right after the message still holds the whole file.
  progress.Flushing();
  switch (FlushToDisk(file.Fd(), settings, progress)) {
    case Flush::failed:
      return kCannotWriteText;
    case Flush::cancelled:
      return {};
    case Flush::done:
      break;
  }
  if (!file.Commit(kOutputName)) return kCannotWriteText;
  if (::fsync(folderFd) != 0) return kCannotWriteText;
  return kCreatedText;
}

bool TimecodeGenerator::WriteOutput(const TimecodeSettings& settings, int sampleRate,
                                    GenerateProgress& progress) {
  const std::uint64_t total =
      kWaveHeaderBytes + 2 * static_cast<std::uint64_t>(settings.sampleLength);
  m_zeroBlock.fill(0);
  m_sink.Begin(m_fd);
  // A zero placeholder holds the header's place until the file's length is known.
  m_sink.Put(m_zeroBlock.data(), kWaveHeaderBytes);
  m_encoder.SetUp(m_toneBank, m_zeroBlock, m_sink, settings.method, settings.dtmfId,
                  settings.sampleLength);
  // Frame by frame, so that a failed write stops the run at once and a batch that has gone out
  // is reported and gives the user a chance to cancel.
  std::uint64_t reported = 0;
  for (int frame = 0; frame < m_encoder.FrameCount() && !m_sink.Failed(); ++frame) {
    m_encoder.WriteNextFrame();
    if (m_sink.Written() == reported) continue;
    reported = m_sink.Written();
    progress.Written(reported, total);
    if (progress.CancelRequested()) {
      m_cancelled = true;
      return false;
    }
  }
  m_encoder.Finish();
  // The queued pieces point into the zero block, so they must be out before the header goes in.
  if (!m_sink.Flush()) return false;

  const off_t length = ::lseek(m_fd, 0, SEEK_END);
  if (length < 0) return false;
  // Both size fields come from the length the file really has, read back after the data.
  const WaveHeader header =
      BuildWaveHeader({1, static_cast<std::uint32_t>(sampleRate), 16},
                      static_cast<std::uint32_t>(length - static_cast<off_t>(kWaveHeaderBytes)));
  if (::lseek(m_fd, 0, SEEK_SET) != 0) return false;
  m_sink.Put(header.data(), header.size());
  if (!m_sink.Flush()) return false;
  progress.Written(static_cast<std::uint64_t>(length), total);
  return true;
}
