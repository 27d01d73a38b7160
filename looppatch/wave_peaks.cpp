#include "looppatch/wave_peaks.h"

#include <algorithm>
#include <limits>

#include "wave/wave_header.h"

namespace {

// Levels stop once a run spans the whole file many times over is pointless; a run of the
// coarsest level is at most this many finest runs.
constexpr std::uint64_t kLevelFactor = 2;
constexpr std::uint64_t kMinLevelRuns = 64;

Peak Merge(Peak a, Peak b) {
  return {std::min(a.min, b.min), std::max(a.max, b.max)};
}

}  // namespace

PeakOverview::PeakOverview(std::uint64_t frames, int channels)
    : m_frames(frames), m_channels(std::max(channels, 1)), m_runFrames(kMinRunFrames) {
  while ((m_frames + m_runFrames - 1) / m_runFrames > kMaxRuns) m_runFrames *= kLevelFactor;
  for (std::uint64_t runFrames = m_runFrames;; runFrames *= kLevelFactor) {
    const std::uint64_t runs = (m_frames + runFrames - 1) / runFrames;
    m_levels.push_back(
        {runFrames, std::vector<Peak>(runs * static_cast<std::uint64_t>(m_channels))});
    if (runs <= kMinLevelRuns) break;
  }
}

std::size_t PeakOverview::MemoryBytes() const {
  std::size_t bytes = 0;
  for (const Level& level : m_levels) bytes += level.peaks.size() * sizeof(Peak);
  return bytes;
}

void PeakOverview::Add(std::uint64_t first, const std::int16_t* samples, std::uint64_t frameCount) {
  Level& finest = m_levels.front();
  const auto channels = static_cast<std::uint64_t>(m_channels);
  const std::uint64_t end = std::min(first + frameCount, m_frames);
  for (std::uint64_t runStart = first; runStart < end; runStart += m_runFrames) {
    const std::uint64_t runEnd = std::min(runStart + m_runFrames, end);
    const std::uint64_t run = runStart / m_runFrames;
    for (std::uint64_t c = 0; c < channels; ++c) {
      std::int16_t lo = std::numeric_limits<std::int16_t>::max();
      std::int16_t hi = std::numeric_limits<std::int16_t>::min();
      const std::int16_t* s = samples + (runStart - first) * channels + c;
      for (std::uint64_t f = runStart; f < runEnd; ++f, s += channels) {
        lo = std::min(lo, *s);
        hi = std::max(hi, *s);
      }
      finest.peaks[run * channels + c] = {lo, hi};
    }
  }
  CompleteUpperRuns(first / m_runFrames, (end + m_runFrames - 1) / m_runFrames);
  m_framesDone.store(end, std::memory_order_release);
}

// A coarser run is filled once its last finer run is known (or the file ends in it).
void PeakOverview::CompleteUpperRuns(std::uint64_t fromRun, std::uint64_t toRun) {
  const auto channels = static_cast<std::uint64_t>(m_channels);
  for (std::size_t l = 1; l < m_levels.size(); ++l) {
    const Level& below = m_levels[l - 1];
    Level& level = m_levels[l];
    const std::uint64_t belowRuns = below.peaks.size() / channels;
    fromRun /= kLevelFactor;
    toRun = (toRun + kLevelFactor - 1) / kLevelFactor;
    for (std::uint64_t run = fromRun; run < toRun; ++run) {
      const std::uint64_t a = run * kLevelFactor;
      const std::uint64_t b = std::min(a + kLevelFactor, belowRuns);
      for (std::uint64_t c = 0; c < channels; ++c) {
        Peak p = below.peaks[a * channels + c];
        for (std::uint64_t r = a + 1; r < b; ++r) p = Merge(p, below.peaks[r * channels + c]);
        level.peaks[run * channels + c] = p;
      }
    }
  }
}

bool PeakOverview::PeakOf(int channel, std::uint64_t first, std::uint64_t last, Peak& peak) const {
  last = std::min({last, m_frames, FramesDone()});
  if (channel < 0 || channel >= m_channels || first >= last) return false;
  // Whole finest runs that touch the range, at the coarsest level whose runs still fit in it.
  std::size_t l = 0;
  while (l + 1 < m_levels.size() && m_levels[l + 1].runFrames * kLevelFactor <= last - first) ++l;
  const auto channels = static_cast<std::uint64_t>(m_channels);
  bool any = false;
  std::uint64_t f = first / m_runFrames * m_runFrames;
  while (f < last) {
    // Climb while the run at f is aligned at the coarser level and ends inside the range.
    std::size_t at = 0;
    while (at < l && f % m_levels[at + 1].runFrames == 0 && f + m_levels[at + 1].runFrames <= last)
      ++at;
    const Level& level = m_levels[at];
    const std::uint64_t run = f / level.runFrames;
    // A run at the ragged end is known only once its frames are.
    if (at == 0 && std::min(f + level.runFrames, m_frames) > FramesDone()) break;
    const Peak p = level.peaks[run * channels + static_cast<std::uint64_t>(channel)];
    peak = any ? Merge(peak, p) : p;
    any = true;
    f += level.runFrames;
  }
  return any;
}

OverviewBuilder::OverviewBuilder(SampleReader reader, std::shared_ptr<PeakOverview> overview)
    : m_reader(std::move(reader)), m_overview(std::move(overview)), m_thread([this] { Run(); }) {}

OverviewBuilder::~OverviewBuilder() {
  m_stop = true;
  Wait();
}

void OverviewBuilder::Wait() {
  if (m_thread.joinable()) m_thread.join();
}

void OverviewBuilder::Run() {
  PeakOverview& overview = *m_overview;
  const std::size_t frameBytes = static_cast<std::size_t>(overview.Channels()) * 2;
  // Whole runs per block, so each block publishes finished runs only.
  const std::uint64_t blockFrames =
      std::max<std::uint64_t>(kBlockBytes / frameBytes / overview.RunFrames(), 1) *
      overview.RunFrames();
  std::vector<std::uint8_t> bytes(blockFrames * frameBytes);
  std::vector<std::int16_t> samples(blockFrames * static_cast<std::uint64_t>(overview.Channels()));
  for (std::uint64_t first = 0; first < overview.Frames() && !m_stop; first += blockFrames) {
    const std::uint64_t want = std::min(blockFrames, overview.Frames() - first);
    const std::size_t got = m_reader.ReadBytes(first * frameBytes, bytes.data(), want * frameBytes);
    const std::uint64_t frames = got / frameBytes;
    for (std::size_t i = 0; i < frames * static_cast<std::uint64_t>(overview.Channels()); ++i) {
      samples[i] = static_cast<std::int16_t>(GetLe16(&bytes[i * 2]));
    }
    overview.Add(first, samples.data(), frames);
    if (frames < want) return;  // the file ended early or could not be read: show what there is
  }
}
