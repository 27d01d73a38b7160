// The overview of a wave file: the smallest and largest sample of each channel over fixed
// runs of frames, kept at a few resolutions (each level's runs twice as long as the one below),
// so a view of any width finds its peaks without reading the file again. The number of runs
// at the finest level is capped, so the overview of any file fits in a few megabytes. It is
// built on a worker thread that reads each byte of the samples once, and may be read while it
// fills in.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <thread>
#include <vector>

#include "looppatch/wave_samples.h"

struct Peak {
  std::int16_t min = 0;
  std::int16_t max = 0;
};

class PeakOverview {
 public:
  // At most this many runs at the finest level: two channels of them take 4 MB.
  static constexpr std::uint64_t kMaxRuns = std::uint64_t{1} << 20;
  static constexpr std::uint64_t kMinRunFrames = 16;

  PeakOverview(std::uint64_t frames, int channels);

  std::uint64_t Frames() const { return m_frames; }
  int Channels() const { return m_channels; }
  // Frames per run at the finest level: a power of two.
  std::uint64_t RunFrames() const { return m_runFrames; }
  // Frames from the start whose peaks are known so far.
  std::uint64_t FramesDone() const { return m_framesDone.load(std::memory_order_acquire); }
  bool Complete() const { return FramesDone() >= m_frames; }
  // True once the file ended before its samples did (cut short while it was read): the
  // overview then stops at FramesDone, and nothing after it is known.
  bool CutShort() const { return m_cutShort.load(std::memory_order_acquire); }
  // The peak of a channel over frames [first, last), from the coarsest runs that fit in the
  // range (finer runs at its ragged ends are left out only when they are not known yet).
  // False when no known run lies in the range.
  bool PeakOf(int channel, std::uint64_t first, std::uint64_t last, Peak& peak) const;
  std::size_t MemoryBytes() const;

  // The builder's side: fills the finest runs from interleaved frames that start at frame
  // `first` (a multiple of RunFrames, except for the last block) and publishes them.
  void Add(std::uint64_t first, const std::int16_t* samples, std::uint64_t frameCount);
  void MarkCutShort() { m_cutShort.store(true, std::memory_order_release); }

 private:
  struct Level {
    std::uint64_t runFrames;
    std::vector<Peak> peaks;  // run-major, channels interleaved
  };
  void CompleteUpperRuns(std::uint64_t fromRun, std::uint64_t toRun);

  std::uint64_t m_frames;
  int m_channels;
  std::uint64_t m_runFrames;
  std::vector<Level> m_levels;  // finest first
  std::atomic<std::uint64_t> m_framesDone{0};
  std::atomic<bool> m_cutShort{false};
};

// Reads the samples block by block on a thread of its own, into an overview the caller can
// read at any time. Dropping the builder stops the thread at the next block.
class OverviewBuilder {
 public:
  static constexpr std::size_t kBlockBytes = std::size_t{256} << 10;  // fits the cache

  OverviewBuilder(SampleReader reader, std::shared_ptr<PeakOverview> overview);
  ~OverviewBuilder();
  OverviewBuilder(const OverviewBuilder&) = delete;
  OverviewBuilder& operator=(const OverviewBuilder&) = delete;

  // For callers that want the whole overview before going on (the benchmark, tests).
  void Wait();

 private:
  void Run();

  SampleReader m_reader;
  std::shared_ptr<PeakOverview> m_overview;
  std::atomic<bool> m_stop{false};
  std::thread m_thread;
};
