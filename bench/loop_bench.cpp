// Times the overview loop's window builds of a 1 GiB stereo file against plainly reading the
// same file, both from the page cache (a first read puts it there); the two alternate so both
// meet the same cache state. Reports the median ratio and the peak memory of the process.
// With "search", times instead the search for a loop end over 10 s of stereo music-like noise
// read from a file, from 100 ms past a start near the beginning to the last frame.
//
//   loop_bench [folder [rounds]]    (folder defaults to the current directory)
//   loop_bench search [folder [rounds]]
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

#include "looppatch/seam_search.h"
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

constexpr std::uint32_t kSearchRate = 44100;
constexpr std::uint64_t kSearchFrames = 10 * kSearchRate;
constexpr std::uint64_t kSearchStart = kSearchRate / 10;

// Ten seconds of low-passed stereo noise: no end joins the start well, so every candidate is
// matched and none is cut short.
bool WriteSearchFile(const std::string& path) {
  std::vector<std::int16_t> samples;
  std::mt19937 random(2);
  std::normal_distribution<double> noise(0, 6000);
  double left = 0, right = 0;
  for (std::uint64_t f = 0; f < kSearchFrames; ++f) {
    left += 0.2 * (noise(random) - left);
    right += 0.2 * (noise(random) - right);
    samples.push_back(static_cast<std::int16_t>(left * 3));
    samples.push_back(static_cast<std::int16_t>(right * 3));
  }
  const auto dataBytes = static_cast<std::uint32_t>(samples.size() * sizeof(std::int16_t));
  const WaveHeader header = BuildWaveHeader({kChannels, kSearchRate, 16}, dataBytes);
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  bool ok = ::write(fd, header.data(), header.size()) == static_cast<ssize_t>(header.size());
  ok = ok && ::write(fd, samples.data(), dataBytes) == static_cast<ssize_t>(dataBytes);
  return ::close(fd) == 0 && ok;
}

int SearchBench(const fs::path& folder, int rounds) {
  const std::string path = (folder / "loop_search_bench.wav").string();
  SampleReader reader;
  if (!WriteSearchFile(path) || !reader.Open(path, kChannels, kSearchFrames)) {
    std::fprintf(stderr, "loop_bench: cannot write %s\n", path.c_str());
    return 1;
  }
  const SampleSource source = SourceOf(reader, kSearchRate);
  const SearchRegion region = *DefaultEndRegion(source, kSearchStart);
  std::vector<double> times;
  LoopSearch search;
  for (int i = 0; i < rounds; ++i) {
    const auto start = std::chrono::steady_clock::now();
    search = SearchLoopEnd(source, kSearchStart, region);
    times.push_back(SecondsSince(start));
  }
  fs::remove(path);
  std::printf("search: 10 s of 16-bit stereo at 44.1 kHz, ends %llu..%llu (%llu candidates)\n",
              static_cast<unsigned long long>(region.from),
              static_cast<unsigned long long>(region.to),
              static_cast<unsigned long long>(region.to + 1 - region.from));
  std::printf("search time: median %.3f s, slowest %.3f s over %d rounds (goal < 1 s)\n",
              Median(times), *std::max_element(times.begin(), times.end()), rounds);
  std::printf("best end %llu: %s; %s\n", static_cast<unsigned long long>(search.best.front().frame),
              search.best.front().Text().c_str(), search.Found() ? "found" : kNoSmoothEndText);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1 && std::string(argv[1]) == "search") {
    return SearchBench(argc > 2 ? argv[2] : ".",
                       argc > 3 ? std::max(1, std::atoi(argv[3])) : kDefaultRounds);
  }
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
