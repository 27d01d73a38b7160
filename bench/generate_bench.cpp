// Times the largest TC.wav, which Generate flushes to the disk before it reports, against a plain
// sequential write of the same number of bytes to the same folder, also flushed (fsync) before it
// counts as done. The two alternate so both meet the same disk and cache state; the median ratio
// and the generator's peak memory are reported.
//
//   generate_bench [folder [rounds]]    (folder defaults to the current directory)
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "timecode/timecode_generator.h"
#include "wave/wave_header.h"

namespace fs = std::filesystem;

namespace {

constexpr TimecodeSettings kLargest = {TimecodeType::dtmfF, 2, kMaxSampleLength, 1};
constexpr TimecodeSettings kSmallest = {TimecodeType::dtmfF, 2, kMinSampleLength, 1};
constexpr std::size_t kFileBytes =
    kWaveHeaderBytes + 2 * static_cast<std::size_t>(kMaxSampleLength);
// The plain writer's buffer stays in the cache, as the generator's bank and zero block do: the
// fastest way to hand these bytes to the kernel.
constexpr std::size_t kPlainChunkBytes = 64 * 1024;
constexpr int kDefaultRounds = 5;
constexpr std::chrono::seconds kSettleTime{1};

double SecondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Lets the disk finish with the previous round: on a file system mounted with online discard,
// a deleted file's blocks are trimmed after the next journal commit, and a writer that starts
// at once pays for that trimming instead of its own writes.
void Settle() {
  ::sync();
  std::this_thread::sleep_for(kSettleTime);
  ::sync();
}

// The dialog's way of running it: progress reported after every batch, cancel asked each time.
class CountingProgress : public GenerateProgress {
 public:
  void Written(std::uint64_t done, std::uint64_t) override { last = done; }
  void Flushing() override {}
  bool CancelRequested() override { return false; }
  std::uint64_t last = 0;
};

double TimeGenerate(TimecodeGenerator& generator) {
  Settle();
  CountingProgress progress;
  const auto start = std::chrono::steady_clock::now();
  const GenerateOutcome outcome = generator.Generate(kLargest, progress);
  const double seconds = SecondsSince(start);
  if (outcome != GenerateOutcome::created || progress.last != kFileBytes) {
    std::fprintf(stderr, "generate failed: %s\n", GenerateText(outcome, kLargest.type));
    std::exit(1);
  }
  fs::remove("TC.wav");
  return seconds;
}

double TimePlainWrite() {
  static const std::array<char, kPlainChunkBytes> kChunk{};
  Settle();
  const auto start = std::chrono::steady_clock::now();
  const int fd = ::open("plain.bin", O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  for (std::size_t left = kFileBytes; left > 0;) {
    const ssize_t written = ::write(fd, kChunk.data(), std::min(left, kChunk.size()));
    if (written <= 0) {
      std::perror("plain write");
      std::exit(1);
    }
    left -= static_cast<std::size_t>(written);
  }
  if (::fsync(fd) != 0) std::perror("plain fsync");
  ::close(fd);
  const double seconds = SecondsSince(start);
  fs::remove("plain.bin");
  return seconds;
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const std::size_t middle = values.size() / 2;
  return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

long PeakKib() {
  rusage usage{};
  ::getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

// A scratch folder inside the given one, holding both tone banks.
fs::path MakeScratch(const fs::path& folder) {
  std::string pattern = (fs::absolute(folder) / "generate_bench.XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) {
    std::perror("mkdtemp");
    std::exit(1);
  }
  for (const char* bank : {"dtmf36.bin", "dtmf44.bin"}) {
    fs::copy_file(fs::path(TONE_BANK_DIR) / bank, fs::path(pattern) / bank);
  }
  return pattern;
}

}  // namespace

int main(int argc, char** argv) {
  const fs::path folder = argc > 1 ? argv[1] : ".";
  const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : kDefaultRounds;
  const fs::path scratch = MakeScratch(folder);
  const fs::path home = fs::current_path();
  fs::current_path(scratch);

  static TimecodeGenerator generator;  // the working storage a dialog would own
  generator.Generate(kSmallest);
  const long smallPeak = PeakKib();
  // An untimed first pair warms the page cache for both; memory is read before the plain writer
  // touches its buffer.
  TimeGenerate(generator);
  const long largestPeak = PeakKib();
  TimePlainWrite();

  std::printf("%zu bytes per file in %s, %d rounds, each flushed to the disk (fsync)\n", kFileBytes,
              scratch.c_str(), rounds);
  std::printf("round  generate s  plain s  ratio\n");
  std::vector<double> ratios;
  for (int round = 1; round <= rounds; ++round) {
    // Alternate which goes first, so neither always meets the other's leftover writeback.
    double generated = 0;
    double plain = 0;
    if (round % 2) {
      generated = TimeGenerate(generator);
      plain = TimePlainWrite();
    } else {
      plain = TimePlainWrite();
      generated = TimeGenerate(generator);
    }
    ratios.push_back(generated / plain);
    std::printf("%5d  %10.3f  %7.3f  %5.3f\n", round, generated, plain, ratios.back());
  }
  std::printf("median ratio generate/plain, both flushed: %.3f, target <= 1.15\n", Median(ratios));
  std::printf(
      "generator peak memory (maxrss): %ld KiB after a %d-sample file, %ld KiB after the "
      "largest\n",
      smallPeak, kMinSampleLength, largestPeak);

  fs::current_path(home);
  fs::remove_all(scratch);
}
