// The verifier on any bytes: it must answer with a report or a one-line refusal, never crash or
// run away with memory. The first byte chooses how the rest is given to it, the way a user's
// options would:
//   bit 0  --raw: the rest are headerless samples, in the format the second byte names
//          (bits 0-1 the sample format, bits 2-3 the channels: 1, 2, 3 or 6, bits 4-5 the rate:
//          8000, 16000, 44100 or 48000 Hz), and the samples follow it
//   bit 1  read from standard input as a stream, the way `vrellok-verify -` reads a pipe
//   bit 2  --follow: every fault line and status line is asked for as the reading goes
//   bit 3  --reference: the recording is also its own TC.wav, read for its facts (type, method,
//          DTMF ID, last frame) and held against the recording
// The other bits mean nothing.
#include <fcntl.h>
#include <pthread.h>
#include <unistd.h>

#include <array>
#include <csignal>
#include <cstdint>
#include <string>

#include "fuzz_input.h"
#include "verify/map/verifier.h"
#include "verify/read/sound_file.h"

namespace {

constexpr std::uint8_t kRaw = 1, kStandardInputBit = 2, kFollow = 4, kReference = 8;
constexpr std::array<RawSample, 4> kRawSamples = {RawSample::s16le, RawSample::s24le,
                                                  RawSample::s32le, RawSample::f32le};
constexpr std::array<int, 4> kRawChannels = {1, 2, 3, 6};
constexpr std::array<int, 4> kRawRates = {8000, 16000, 44100, 48000};

RawFormat RawOf(std::uint8_t format) {
  return {kRawRates[(format >> 4) & 3], kRawChannels[(format >> 2) & 3], kRawSamples[format & 3]};
}

// Holds Ctrl+C back from this thread (and from the threads it starts) or lets it through.
void HoldInterrupt(bool hold) {
  sigset_t interrupt;
  sigemptyset(&interrupt);
  sigaddset(&interrupt, SIGINT);
  ::pthread_sigmask(hold ? SIG_BLOCK : SIG_UNBLOCK, &interrupt, nullptr);
}

// Standard input is the laid file for the length of one verification. The reader takes Ctrl+C
// for the end of its stream and keeps no word of it; so Ctrl+C is held back meanwhile, and once
// the fuzzer's own handler is back it arrives there and ends the run.
class FileAsStandardInput {
 public:
  explicit FileAsStandardInput(const std::string& path) {
    HoldInterrupt(true);
    ::sigaction(SIGINT, nullptr, &m_interrupt);
    m_saved = ::fcntl(STDIN_FILENO, F_DUPFD_CLOEXEC, 0);
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0 || ::dup2(fd, STDIN_FILENO) < 0) std::abort();
    ::close(fd);
  }
  ~FileAsStandardInput() {
    if (m_saved >= 0) {
      ::dup2(m_saved, STDIN_FILENO);
      ::close(m_saved);
    } else {
      ::close(STDIN_FILENO);
    }
    ::sigaction(SIGINT, &m_interrupt, nullptr);
    HoldInterrupt(false);
  }
  FileAsStandardInput(const FileAsStandardInput&) = delete;
  FileAsStandardInput& operator=(const FileAsStandardInput&) = delete;

 private:
  int m_saved = -1;
  struct sigaction m_interrupt {};
};

}  // namespace

// Before the fuzzer starts its own threads: they never take Ctrl+C, which then always reaches a
// thread that holds it back while a stream is read.
extern "C" int LLVMFuzzerInitialize(int*, char***) {
  HoldInterrupt(true);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const FuzzFolder folder;
  static const bool interruptible = (HoldInterrupt(false), true);
  (void)interruptible;
  if (size == 0) return 0;
  const std::uint8_t mode = data[0];
  VerifyOptions options;
  std::size_t skip = 1;
  if ((mode & kRaw) != 0) {
    if (size < 2) return 0;
    options.raw = RawOf(data[1]);
    skip = 2;
  }
  const std::string path = folder.Lay("recording", data + skip, size - skip);
  std::size_t lines = 0;
  if ((mode & kFollow) != 0) {
    options.onFault = [&lines](const std::string& line) { lines += line.size(); };
    options.onStatus = [&lines](const std::string& line) { lines += line.size(); };
  }
  if ((mode & kReference) != 0) options.referencePath = path;
  try {
    if ((mode & kStandardInputBit) != 0) {
      const FileAsStandardInput input(path);
      (void)VerifyRecording(kStandardInput, options);
    } else {
      (void)VerifyRecording(path, options);
    }
  } catch (const VerifyError&) {
    // refused with a reason: the expected answer to most inputs
  }
  return 0;
}
