// Reads the largest TC.wav back with the verifier and reports the real-time factor and peak
// memory (against a short TC.wav, to show memory does not grow with the length). In the same
// rounds, alternating with the verifier, the same file is read from the page cache into memory
// once and dropped: the ratio of the two says what the verifier costs against merely getting
// the file's bytes (goal: at most 3; at most 5 with the file as its own reference, every sample
// compared). libsndfile's own float read, the earlier yardstick, moved
// by half from run to run on one machine, too much to hold a goal. Where sox and multimon-ng
// are installed, it times them decoding the same file's keys the
// way a user would and prints the verifier's share of their time (goal: at most a quarter).
//
//   verify_bench [folder [rounds]]    (folder defaults to the current directory)
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "timecode/timecode_generator.h"
#include "verify/map/verifier.h"

namespace fs = std::filesystem;

namespace {

constexpr TimecodeSettings kLargest = {TimecodeType::dtmfF, 2, kMaxSampleLength, 1};
constexpr TimecodeSettings kShort = {TimecodeType::dtmfF, 2, 10000000, 1};
constexpr double kRate = 44100.0;
constexpr int kDefaultRounds = 3;
constexpr double kGoalOverPlainRead = 3.0;
constexpr double kGoalWithReference = 5.0;
constexpr double kGoalShareOfMultimon = 0.25;
// What a user runs: multimon-ng reads raw 16-bit mono at 22050 Hz, so sox converts on the way.
constexpr const char* kMultimon =
    "sox TC.wav -t raw -r 22050 -e signed -b 16 -c 1 - | multimon-ng -q -a DTMF -t raw -";

struct Run {
  double seconds = 0.0;
  double cpuSeconds =
      0.0;  // user and system time of all its threads: less swayed by a busy machine
  long peakKb = 0;
  std::string said;  // what the run found
};

double SecondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

void Generate(const TimecodeSettings& settings, const char* name) {
  const GenerateOutcome outcome = TimecodeGenerator().Generate(settings);
  if (outcome != GenerateOutcome::created) {
    std::fprintf(stderr, "generate failed: %s\n", GenerateText(outcome, settings.type));
    std::exit(1);
  }
  if (std::strcmp(name, "TC.wav") != 0) fs::rename("TC.wav", name);
}

// Reads the file once so every timed run meets it in the page cache.
void Warm(const char* path) {
  std::ifstream in(path, std::ios::binary);
  std::vector<char> buffer(1 << 20);
  while (in.read(buffer.data(), static_cast<std::streamsize>(buffer.size()))) {
  }
}

double Seconds(const timeval& time) {
  constexpr double kPerMicrosecond = 1e-6;
  return static_cast<double>(time.tv_sec) + static_cast<double>(time.tv_usec) * kPerMicrosecond;
}

// Runs work() in a child process of its own, so its peak memory is its alone; what it returns
// comes back through a pipe.
template <typename Work>
Run TimeChild(Work work) {
  int pipeFds[2];
  if (::pipe(pipeFds) != 0) std::exit(1);
  const auto start = std::chrono::steady_clock::now();
  const pid_t child = ::fork();
  if (child == 0) {
    ::close(pipeFds[0]);
    const std::string said = work();
    const ssize_t ignored = ::write(pipeFds[1], said.data(), said.size());
    (void)ignored;
    ::_exit(0);
  }
  ::close(pipeFds[1]);
  Run run;
  char buffer[256];
  ssize_t got = 0;
  while ((got = ::read(pipeFds[0], buffer, sizeof buffer)) > 0) run.said.append(buffer, got);
  ::close(pipeFds[0]);
  int status = 0;
  struct rusage usage {};
  ::wait4(child, &status, 0, &usage);
  run.seconds = SecondsSince(start);
  run.peakKb = usage.ru_maxrss;
  run.cpuSeconds = Seconds(usage.ru_utime) + Seconds(usage.ru_stime);
  return run;
}

// With a reference, the recording's samples are also held against it, sample for sample.
Run TimeVerify(const char* path, const char* reference = nullptr) {
  return TimeChild([path, reference] {
    try {
      VerifyOptions options;
      if (reference != nullptr) options.referencePath = reference;
      const VerifyReport report = VerifyRecording(path, options);
      std::string said = std::to_string(report.framesFound) + " frames, " +
                         (report.Clean() ? "clean" : "faults") + ", jitter " +
                         std::to_string(report.jitterMaxSamples) + " samples at most";
      if (report.bitExact) {
        said += report.bitExact->Exact() ? ", bit-exact over " : ", NOT bit-exact over ";
        said += std::to_string(report.bitExact->compared) + " samples";
      }
      return said;
    } catch (const VerifyError& error) {
      return std::string(error.what());
    }
  });
}

// Every byte of the file from the page cache into memory once, a block at a time into one
// buffer, and dropped: what no reader of the file can do with less. A sum of a byte a page keeps
// the compiler from skipping it. (One buffer as large as the file would time the kernel handing
// out its pages rather than the reading.)
Run TimePlainRead(const char* path) {
  return TimeChild([path] {
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return std::string("cannot open ") + path;
    constexpr std::size_t kBlock = std::size_t{1} << 20;
    constexpr std::size_t kPage = 4096;
    std::vector<char> block(kBlock);
    long sum = 0;
    long long total = 0;
    ssize_t got = 0;
    while ((got = ::read(fd, block.data(), kBlock)) > 0) {
      for (std::size_t i = 0; i < static_cast<std::size_t>(got); i += kPage) sum += block[i];
      total += got;
    }
    ::close(fd);
    return std::to_string(total) + " bytes read (sum of a byte a page " + std::to_string(sum) + ")";
  });
}

double ChildrenCpuSeconds() {
  struct rusage usage {};
  ::getrusage(RUSAGE_CHILDREN, &usage);
  return Seconds(usage.ru_utime) + Seconds(usage.ru_stime);
}

Run TimeMultimon() {
  Run run;
  const double cpuBefore = ChildrenCpuSeconds();
  const auto start = std::chrono::steady_clock::now();
  FILE* out = ::popen(kMultimon, "r");
  if (out == nullptr) return run;
  char line[256];
  long keys = 0;
  while (std::fgets(line, sizeof line, out) != nullptr) keys += std::strncmp(line, "DTMF:", 5) == 0;
  ::pclose(out);
  run.seconds = SecondsSince(start);
  // The shell waits for sox and multimon-ng, so their time counts among its own children's.
  run.cpuSeconds = ChildrenCpuSeconds() - cpuBefore;
  run.said = std::to_string(keys) + " keys";
  return run;
}

bool Installed(const char* program) {
  const std::string command = std::string("command -v ") + program + " >/dev/null 2>&1";
  return std::system(command.c_str()) == 0;
}

Run Median(std::vector<Run> runs) {
  std::sort(runs.begin(), runs.end(),
            [](const Run& a, const Run& b) { return a.seconds < b.seconds; });
  return runs[runs.size() / 2];
}

template <typename Timer>
Run Median(int rounds, Timer timer) {
  std::vector<Run> runs;
  for (int i = 0; i < rounds; ++i) runs.push_back(timer());
  return Median(runs);
}

const char* Verdict(bool met) {
  return met ? "met" : "NOT met";
}

void PrintAgainstPlain(const char* what, const Run& run, const Run& plain, double goal) {
  const double ratio = run.seconds / plain.seconds;
  std::printf(
      "%s %.2fx as long as reading the file from the page cache (goal <= %.1f: %s); cpu %.2fx\n",
      what, ratio, goal, Verdict(ratio <= goal), run.cpuSeconds / plain.cpuSeconds);
}

}  // namespace

int main(int argc, char** argv) {
  const fs::path folder = argc > 1 ? fs::path(argv[1]) : fs::current_path();
  const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : kDefaultRounds;
  fs::current_path(folder);
  for (const char* bank : {"dtmf36.bin", "dtmf44.bin"}) {
    fs::copy_file(fs::path(TONE_BANK_DIR) / bank, bank, fs::copy_options::overwrite_existing);
  }
  Generate(kShort, "short.wav");
  Generate(kLargest, "TC.wav");
  Warm("short.wav");
  Warm("TC.wav");

  const double audioSeconds = kLargest.sampleLength / kRate;
  std::printf("TC.wav: %d samples at 44100 Hz, %.1f s of audio; median of %d rounds\n",
              kLargest.sampleLength, audioSeconds, rounds);
  const Run small = TimeVerify("short.wav");
  // Side by side: each round reads the file plainly, then verifies it, so both meet the same
  // state of the machine.
  std::vector<Run> plainRuns;
  std::vector<Run> ourRuns;
  std::vector<Run> referenceRuns;
  for (int i = 0; i < rounds; ++i) {
    plainRuns.push_back(TimePlainRead("TC.wav"));
    ourRuns.push_back(TimeVerify("TC.wav"));
    referenceRuns.push_back(TimeVerify("TC.wav", "TC.wav"));
  }
  const Run plain = Median(plainRuns);
  const Run ours = Median(ourRuns);
  const Run referenced = Median(referenceRuns);
  std::printf(
      "page cache:  %6.2f s  %7.0fx real time  cpu %.2f s  peak memory %.1f MB (the file read "
      "once)\n",
      plain.seconds, audioSeconds / plain.seconds, plain.cpuSeconds, plain.peakKb / 1024.0);
  std::printf("             %s\n", plain.said.c_str());
  std::printf(
      "verifier:    %6.2f s  %7.0fx real time  cpu %.2f s  peak memory %.1f MB (%.1f MB for %d "
      "samples)\n",
      ours.seconds, audioSeconds / ours.seconds, ours.cpuSeconds, ours.peakKb / 1024.0,
      small.peakKb / 1024.0, kShort.sampleLength);
  std::printf("             %s\n", ours.said.c_str());
  PrintAgainstPlain("the verifier takes", ours, plain, kGoalOverPlainRead);
  std::printf("--reference: %6.2f s  %7.0fx real time  cpu %.2f s  peak memory %.1f MB\n",
              referenced.seconds, audioSeconds / referenced.seconds, referenced.cpuSeconds,
              referenced.peakKb / 1024.0);
  std::printf("             %s\n", referenced.said.c_str());
  PrintAgainstPlain("with --reference it takes", referenced, plain, kGoalWithReference);
  if (Installed("sox") && Installed("multimon-ng")) {
    const Run theirs = Median(rounds, TimeMultimon);
    std::printf("multimon-ng: %6.2f s  %7.0fx real time  cpu %.2f s  (%s)\n", theirs.seconds,
                audioSeconds / theirs.seconds, theirs.cpuSeconds, kMultimon);
    std::printf("             %s\n", theirs.said.c_str());
    const double share = ours.seconds / theirs.seconds;
    std::printf(
        "multimon-ng takes %.2fx as long as the verifier; the verifier takes %.2f of its time "
        "(goal <= %.2f: %s); cpu %.2f\n",
        theirs.seconds / ours.seconds, share, kGoalShareOfMultimon,
        Verdict(share <= kGoalShareOfMultimon), ours.cpuSeconds / theirs.cpuSeconds);
  } else {
    std::printf("multimon-ng or sox not installed: no comparison\n");
  }
  fs::remove("short.wav");
  fs::remove("TC.wav");
  return 0;
}
