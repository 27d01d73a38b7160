// Times the overview loop's window builds of a 1 GiB stereo file against plainly reading the
// same file, both from the page cache (a first read puts it there); the two alternate so both
// meet the same cache state. Reports the median ratio and the peak memory of the process.
//
//   loop_bench [folder [rounds]]    (folder defaults to the current directory)
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "looppatch/wave_peaks.h"
#include "looppatch/wave_samples.h"
#include "wave/wave_header.h"

namespace fs = std::filesystem;

namespace {

constexpr std::uint64_t kDataBytes = std::uint64_t{1} << 30;
constexpr int kChannels = 2;
constexpr std::uint64_t kFrames = kDataBytes / (2 * kChannels);
constexpr std::size_t kChunkBytes = OverviewBuilder::kBlockBytes;
constexpr int kDefaultRounds = 5;

double SecondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// A stereo file of noise: every block differs, so nothing is cheaper than the real thing.
bool WriteFile(const std::string& path) {
  const WaveHeader header = BuildWaveHeader({kChannels, 44100, 16}, kDataBytes);
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  bool ok = ::write(fd, header.data(), header.size()) == static_cast<ssize_t>(header.size());
  std::mt19937 random(1);
  std::vector<std::uint32_t> block(kChunkBytes / sizeof(std::uint32_t));
  for (std::uint64_t done = 0; ok && done < kDataBytes; done += kChunkBytes) {
    for (auto& word : block) word = random();
    ok = ::write(fd, block.data(), kChunkBytes) == static_cast<ssize_t>(kChunkBytes);
  }
  return ::close(fd) == 0 && ok;
}

// The plain read: every byte into a buffer, one word of each block looked at so the reads
// cannot be left out.
double TimePlainRead(const std::string& path, std::uint64_t& checksum) {
  const auto start = std::chrono::steady_clock::now();
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  std::vector<char> buffer(kChunkBytes);
  ssize_t n = 0;
  while ((n = ::read(fd, buffer.data(), buffer.size())) > 0) checksum += buffer[0];
  ::close(fd);
  return SecondsSince(start);
}

double TimeOverview(const std::string& path, std::size_t& overviewBytes) {
  const auto start = std::chrono::steady_clock::now();
  SampleReader reader;
  if (!reader.Open(path, kChannels, kFrames)) return -1;
  auto overview = std::make_shared<PeakOverview>(kFrames, kChannels);
  OverviewBuilder(std::move(reader), overview).Wait();
  overviewBytes = overview->MemoryBytes();
  return overview->Complete() ? SecondsSince(start) : -1;
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  const fs::path folder = argc > 1 ? argv[1] : ".";
  const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : kDefaultRounds;
  const std::string path = (folder / "loop_bench.wav").string();
  if (!WriteFile(path)) {
    std::fprintf(stderr, "loop_bench: cannot write %s\n", path.c_str());
    return 1;
  }
  std::uint64_t checksum = 0;
  TimePlainRead(path, checksum);  // into the page cache
  std::vector<double> plain, overview, ratios;
  std::size_t overviewBytes = 0;
  for (int i = 0; i < rounds; ++i) {
    plain.push_back(TimePlainRead(path, checksum));
    overview.push_back(TimeOverview(path, overviewBytes));
    if (overview.back() < 0) {
      std::fprintf(stderr, "loop_bench: the overview did not complete\n");
      return 1;
    }
    ratios.push_back(overview.back() / plain.back());
  }
  fs::remove(path);
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  std::printf("file: 1 GiB, 16-bit stereo, %llu frames, from the page cache\n",
              static_cast<unsigned long long>(kFrames));
  std::printf("plain read:  median %.3f s (%.0f MB/s)\n", Median(plain),
              kDataBytes / Median(plain) / 1e6);
  std::printf("overview:    median %.3f s (%.0f MB/s)\n", Median(overview),
              kDataBytes / Median(overview) / 1e6);
  std::printf("ratio:       median %.2f (goal <= 1.5)  [checksum %llu]\n", Median(ratios),
              static_cast<unsigned long long>(checksum % 10));
  std::printf("overview memory: %.1f MB; peak memory of the process: %.1f MB (goal < 64 MB)\n",
              overviewBytes / 1e6, usage.ru_maxrss / 1024.0);
  return 0;
}
