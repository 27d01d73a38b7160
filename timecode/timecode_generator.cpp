#include "timecode/timecode_generator.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <filesystem>

#include "platform/replace_file.h"
#include "platform/trace.h"
#include "wave/wave_header.h"

namespace {

constexpr const char* kOutputName = "TC.wav";

constexpr const char* kCreatedText = "TC.wav Created";
constexpr const char* kOutOfRangeText = "ERROR-> out of range";
constexpr const char* kDtmfIdOutOfRangeText = "DTMF ID#-> out of range";
constexpr const char* kCannotOpenText = "ERROR-> cannot open output file";
constexpr const char* kCannotWriteText = "ERROR-> cannot write output file";

// The data goes to the disk in steps, each one started while the one before is waited for, so
// the disk always has work queued and a cancel is heard after each step. Steps are sized by how
// long the disk takes: large on a fast disk (few calls), small on a slow stick, so that no wait
// lasts much longer than a tenth of a second.
constexpr off_t kFirstFlushStepBytes = 1024 * 1024;
constexpr off_t kLeastFlushStepBytes = 512 * 1024;
constexpr off_t kMostFlushStepBytes = 64 * 1024 * 1024;
constexpr auto kLongestFlushWait = std::chrono::milliseconds(100);
constexpr auto kShortFlushWait = kLongestFlushWait / 4;

enum class Flush { done, failed, cancelled };

Flush FlushToDisk(int fd, const TimecodeSettings& settings, GenerateProgress& progress) {
  const auto length =
      static_cast<off_t>(kWaveHeaderBytes + 2 * static_cast<std::uint64_t>(settings.sampleLength));
  constexpr unsigned kWaitAll =
      SYNC_FILE_RANGE_WAIT_BEFORE | SYNC_FILE_RANGE_WRITE | SYNC_FILE_RANGE_WAIT_AFTER;
  // Only a hint to the kernel when to write: errors, and durability, are fsync's business below.
  off_t step = kFirstFlushStepBytes;
  off_t waitingFrom = 0;  // the step started last time round, waited for this time
  off_t waitingBytes = 0;
  for (off_t start = 0; start < length;) {
    const off_t bytes = step;
    ::sync_file_range(fd, start, bytes, SYNC_FILE_RANGE_WRITE);
    if (waitingBytes > 0) {
      const auto before = std::chrono::steady_clock::now();
      ::sync_file_range(fd, waitingFrom, waitingBytes, kWaitAll);
      const auto waited = std::chrono::steady_clock::now() - before;
      if (waited > kLongestFlushWait && step > kLeastFlushStepBytes) step /= 2;
      if (waited < kShortFlushWait && step < kMostFlushStepBytes) step *= 2;
    }
    waitingFrom = start;
    waitingBytes = bytes;
    start += bytes;
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

}  // namespace

std::string InstalledBankFolder() {
  std::error_code error;
  const std::filesystem::path program = std::filesystem::read_symlink("/proc/self/exe", error);
  if (error) return {};
  return (program.parent_path() / VRELLOK_BANKS_FROM_BIN).lexically_normal().string();
}

const char* GenerateText(GenerateOutcome outcome, TimecodeType type) {
  switch (outcome) {
    case GenerateOutcome::created:
      return kCreatedText;
    case GenerateOutcome::cancelled:
      break;
    case GenerateOutcome::bankNotFound:
      return FactsOf(type).bankNotFound;
    case GenerateOutcome::bankTooShort:
      return FactsOf(type).bankTooShort;
    case GenerateOutcome::lengthOutOfRange:
      return kOutOfRangeText;
    case GenerateOutcome::dtmfIdOutOfRange:
      return kDtmfIdOutOfRangeText;
    case GenerateOutcome::cannotOpen:
      return kCannotOpenText;
    case GenerateOutcome::cannotWrite:
      return kCannotWriteText;
  }
  return "";
}

GenerateOutcome TimecodeGenerator::Generate(const TimecodeSettings& settings) {
  NoProgress quiet;
  return Generate(settings, quiet);
}

GenerateOutcome TimecodeGenerator::Generate(const TimecodeSettings& settings,
                                            GenerateProgress& progress, const char* folder,
                                            const char* output) {
  const TimecodeTypeFacts& type = FactsOf(settings.type);
  TRACE("timecode=%s\n", type.reportName);
  // Banks and TC.wav are found through one descriptor of the folder, so they stay together even
  // if the folder is renamed meanwhile. A folder that cannot be opened holds no bank.
  const OwnedFd folderFd(::open(folder, O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  ToneBank::LoadResult loaded = folderFd.Get() < 0 ? ToneBank::LoadResult::notFound
                                                   : m_toneBank.Load(folderFd.Get(), type.bankFile);
  if (loaded == ToneBank::LoadResult::notFound) {
    // Only a missing bank is looked for among the installed ones: a short one in the folder is
    // the user's to mend, not to be passed over silently.
    const OwnedFd installedFd(
        ::open(InstalledBankFolder().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (installedFd.Get() >= 0) loaded = m_toneBank.Load(installedFd.Get(), type.bankFile);
  }
  switch (loaded) {
    case ToneBank::LoadResult::notFound:
      return GenerateOutcome::bankNotFound;
    case ToneBank::LoadResult::tooShort:
      return GenerateOutcome::bankTooShort;
    case ToneBank::LoadResult::loaded:
      break;
  }
  TRACE("method=%d\n", settings.method);
  if (settings.sampleLength < kMinSampleLength || settings.sampleLength > kMaxSampleLength) {
    return GenerateOutcome::lengthOutOfRange;
  }
  if (settings.dtmfId < kMinDtmfId || settings.dtmfId > kMaxDtmfId) {
    return GenerateOutcome::dtmfIdOutOfRange;
  }
  return Replace(folderFd.Get(), output, settings, type.sampleRate, progress);
}

GenerateOutcome TimecodeGenerator::Replace(int folderFd, const char* output,
                                           const TimecodeSettings& settings, int sampleRate,
                                           GenerateProgress& progress) {
  // A folder named TC.wav, or a folder that takes no new file, is refused before any write.
  ReplacementFile file;
  file.UseNamedFileOnly(m_namedTemporaryOnly);
  // A name the user typed may lead anywhere: a FIFO or a device there is left alone.
  if (output) file.OnlyReplaceRegularFiles();
  if ((output ? file.Create(output) : file.Create(folderFd, kOutputName)) != 0) {
    return GenerateOutcome::cannotOpen;
  }
  m_fd = file.Fd();
  m_cancelled = false;
  const bool written = WriteOutput(settings, sampleRate, progress);
  m_fd = -1;
  if (m_cancelled) return GenerateOutcome::cancelled;
  if (!written) return GenerateOutcome::cannotWrite;

  // "Created" is said only once the data and the new name are on the disk: a stick pulled out
  // right after the message still holds the whole file.
  progress.Flushing();
  switch (FlushToDisk(file.Fd(), settings, progress)) {
    case Flush::failed:
      return GenerateOutcome::cannotWrite;
    case Flush::cancelled:
      return GenerateOutcome::cancelled;
    case Flush::done:
      break;
  }
  // Should only the folder's flush fail, the new TC.wav is in place already but its name may
  // not survive a power loss: that is still a failure to report.
  if (file.Commit() != 0) return GenerateOutcome::cannotWrite;
  return GenerateOutcome::created;
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
