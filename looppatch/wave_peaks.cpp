#include "looppatch/wave_peaks.h"

#include <algorithm>
#include <bit>
#include <iterator>
#include <limits>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

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

namespace {

// Min and max over a run of interleaved samples, kLanes at a time: lane j always holds channel
// j % channels (kLanes is a multiple of both 1 and 2); the lanes are folded into channels at
// the end of the run. On x86-64 the lanes are SSE2 registers, eight samples each.
constexpr std::size_t kLanes = 16;

void FoldLanes(const std::int16_t* lo, const std::int16_t* hi, std::size_t channels, Peak* out) {
  for (std::size_t c = 0; c < channels; ++c) {
    Peak p{lo[c], hi[c]};
    for (std::size_t j = c + channels; j < kLanes; j += channels) p = Merge(p, {lo[j], hi[j]});
    out[c] = p;
  }
}

void PeakOfRun(const std::int16_t* samples, std::size_t count, std::size_t channels, Peak* out) {
  alignas(16) std::int16_t lo[kLanes], hi[kLanes];
  std::size_t i = 0;
#if defined(__SSE2__)
  __m128i lo0 = _mm_set1_epi16(std::numeric_limits<std::int16_t>::max()), lo1 = lo0;
  __m128i hi0 = _mm_set1_epi16(std::numeric_limits<std::int16_t>::min()), hi1 = hi0;
  for (; i + kLanes <= count; i += kLanes) {
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(samples + i));
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(samples + i + kLanes / 2));
    lo0 = _mm_min_epi16(lo0, a);
    hi0 = _mm_max_epi16(hi0, a);
    lo1 = _mm_min_epi16(lo1, b);
    hi1 = _mm_max_epi16(hi1, b);
  }
  _mm_store_si128(reinterpret_cast<__m128i*>(lo), lo0);
  _mm_store_si128(reinterpret_cast<__m128i*>(lo + kLanes / 2), lo1);
  _mm_store_si128(reinterpret_cast<__m128i*>(hi), hi0);
  _mm_store_si128(reinterpret_cast<__m128i*>(hi + kLanes / 2), hi1);
#else
  std::fill(std::begin(lo), std::end(lo), std::numeric_limits<std::int16_t>::max());
  std::fill(std::begin(hi), std::end(hi), std::numeric_limits<std::int16_t>::min());
#endif
  for (std::size_t j = 0; i < count; ++i, ++j) {
    lo[j] = std::min(lo[j], samples[i]);
    hi[j] = std::max(hi[j], samples[i]);
  }
  FoldLanes(lo, hi, channels, out);
}

}  // namespace

void PeakOverview::Add(std::uint64_t first, const std::int16_t* samples, std::uint64_t frameCount) {
  Level& finest = m_levels.front();
  const auto channels = static_cast<std::uint64_t>(m_channels);
  const std::uint64_t end = std::min(first + frameCount, m_frames);
  for (std::uint64_t runStart = first; runStart < end; runStart += m_runFrames) {
    const std::uint64_t runEnd = std::min(runStart + m_runFrames, end);
    PeakOfRun(samples + (runStart - first) * channels, (runEnd - runStart) * channels, channels,
              &finest.peaks[runStart / m_runFrames * channels]);
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

// The samples are read straight into 16-bit numbers: the file stores them little-endian, as
// the machines loop runs on do.
void OverviewBuilder::Run() {
  static_assert(std::endian::native == std::endian::little);
  PeakOverview& overview = *m_overview;
  const auto channels = static_cast<std::uint64_t>(overview.Channels());
  const std::uint64_t frameBytes = channels * sizeof(std::int16_t);
  // Whole runs per block, so each block publishes finished runs only.
  const std::uint64_t blockFrames =
      std::max<std::uint64_t>(kBlockBytes / frameBytes / overview.RunFrames(), 1) *
      overview.RunFrames();
  std::vector<std::int16_t> samples(blockFrames * channels);
  for (std::uint64_t first = 0; first < overview.Frames() && !m_stop; first += blockFrames) {
    const std::uint64_t want = std::min(blockFrames, overview.Frames() - first);
    std::uint64_t frames = want;
    // A hole of a sparse file is silence the disk never stored: nothing to read.
    if (m_reader.IsHole(first * frameBytes, want * frameBytes)) {
      std::fill(samples.begin(), samples.end(), 0);
    } else {
      frames =
          m_reader.ReadBytes(first * frameBytes, samples.data(), want * frameBytes) / frameBytes;
    }
    overview.Add(first, samples.data(), frames);
    if (frames < want) {
      // The file ended early or could not be read: show what there is, and say so.
      overview.MarkCutShort();
      return;
    }
  }
}
