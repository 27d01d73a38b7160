#include "looppatch/seam_search.h"

#include <algorithm>
#include <cstdio>
#include <memory>
#include <utility>

namespace {

constexpr std::uint32_t kMsPerSecond = 1000;
// Centres matched per read: the cancel is looked at between reads, so this keeps it prompt.
constexpr std::uint64_t kCentresPerRead = 32'768;
// Local peaks of the similarity kept for scoring: enough that five smooth ones survive among
// peaks whose seams click.
constexpr std::size_t kPeaksKept = 64;
// A peak of the similarity is exact to the frame, but where its join clicks (the two windows
// alike on the whole, the frames at the join not), a frame or two off may meet the other
// point's value and slope.
constexpr std::uint64_t kRefineFrames = 3;
// Below this energy in both windows (a sample of less than one step on average) both are
// silence, and silence joins silence seamlessly.
constexpr double kSilentEnergy = 1.0;

std::uint64_t FramesOfMs(std::uint32_t sampleRate, std::uint32_t ms) {
  return std::uint64_t{sampleRate} * ms / kMsPerSecond;
}

// Eight sums side by side, which the compiler turns into vector instructions: this loop is
// nearly all the search's time. On x86-64 a second copy for AVX2 is chosen at load time
// where the processor has it.
#if defined(__x86_64__) && defined(__GNUC__)
__attribute__((target_clones("avx2", "default")))
#endif
float Dot(const float* a, const float* b, std::size_t n) {
  constexpr std::size_t kLanes = 8;
  float lanes[kLanes] = {};
  std::size_t i = 0;
  for (; i + kLanes <= n; i += kLanes) {
    for (std::size_t k = 0; k < kLanes; ++k) lanes[k] += a[i + k] * b[i + k];
  }
  float sum = 0;
  for (; i < n; ++i) sum += a[i] * b[i];
  for (const float lane : lanes) sum += lane;
  return sum;
}

std::vector<float> FloatsOf(const std::vector<std::int16_t>& samples) {
  return std::vector<float>(samples.begin(), samples.end());
}

// A window of frames [centre - left, centre + right) around every centre compared with the one
// around the fixed point: 2 sum(ab) / (sum(a^2) + sum(b^2)), which is 1 for the same samples
// and falls both with a different shape and with a different level.
struct Matcher {
  const SampleSource& source;
  std::uint64_t left = 0;
  std::uint64_t right = 0;
  std::vector<float> model;
  double modelEnergy = 0;

  Matcher(const SampleSource& s, std::uint64_t fixed, std::uint64_t window)
      : source(s),
        left(std::min(window, fixed)),
        right(std::min(window, s.frames - std::min(fixed, s.frames))),
        model(FloatsOf(s.read(fixed - left, left + right))) {
    for (const float v : model) modelEnergy += static_cast<double>(v) * v;
  }

  // The similarity at each of the centres [first, first + count), which must all have their
  // whole window inside the samples.
  std::vector<float> Similarities(std::uint64_t first, std::uint64_t count) const {
    const auto n = static_cast<std::size_t>(source.channels);
    const std::vector<float> y = FloatsOf(source.read(first - left, count + left + right - 1));
    const std::size_t length = model.size();
    std::vector<float> out(
        y.size() >= length ? std::min<std::size_t>(count, (y.size() - length) / n + 1) : 0);
    // The energy of each window, slid along frame by frame.
    double energy = 0;
    for (std::size_t i = 0; i < length && i < y.size(); ++i)
      energy += static_cast<double>(y[i]) * y[i];
    for (std::size_t c = 0; c < out.size(); ++c) {
      const std::size_t at = c * n;
      const double both = modelEnergy + energy;
      out[c] = both < kSilentEnergy * static_cast<double>(length)
                   ? 1.0F
                   : static_cast<float>(2.0 * Dot(model.data(), y.data() + at, length) / both);
      for (std::size_t k = 0; k < n && at + length + k < y.size(); ++k) {
        energy += static_cast<double>(y[at + length + k]) * y[at + length + k] -
                  static_cast<double>(y[at + k]) * y[at + k];
      }
    }
    return out;
  }
};

struct Peak {
  std::uint64_t centre = 0;
  float similarity = 0;
};

// Keeps the best peaks, pruning now and then rather than at every insertion.
void KeepBest(std::vector<Peak>& peaks, std::size_t keep) {
  if (peaks.size() <= keep) return;
  std::nth_element(peaks.begin(), peaks.begin() + static_cast<std::ptrdiff_t>(keep), peaks.end(),
                   [](const Peak& a, const Peak& b) { return a.similarity > b.similarity; });
  peaks.resize(keep);
}

// The local peaks of the similarity over the centres [from, to], or nothing once cancelled.
std::optional<std::vector<Peak>> PeaksOf(const Matcher& matcher, std::uint64_t from,
                                         std::uint64_t to, const SearchProgress& progress) {
  std::vector<Peak> peaks;
  float before = -2, here = -2;  // the similarities at the two centres before the next
  std::uint64_t last = from;     // the centre of `here`
  for (std::uint64_t first = from; first <= to; first += kCentresPerRead) {
    if (progress &&
        !progress(static_cast<double>(first - from) / static_cast<double>(to + 1 - from))) {
      return std::nullopt;
    }
    const std::vector<float> s =
        matcher.Similarities(first, std::min(kCentresPerRead, to + 1 - first));
    for (std::size_t i = 0; i < s.size(); ++i) {
      // A peak: above the one before and not below the one after (a plateau counts once).
      if (here > before && here >= s[i]) peaks.push_back({first + i - 1, here});
      before = here;
      here = s[i];
      last = first + i;
    }
    if (s.size() < std::min(kCentresPerRead, to + 1 - first)) break;  // a short read ends it
    if (peaks.size() > 4 * kPeaksKept) KeepBest(peaks, kPeaksKept);
  }
  if (here > before) peaks.push_back({last, here});
  KeepBest(peaks, kPeaksKept);
  if (progress) progress(1.0);
  return peaks;
}

// How a search for one point of the loop goes: which window is fixed, where the candidates'
// windows are centred, and the seam a candidate makes.
struct SearchKind {
  std::uint64_t fixedCentre;
  std::uint64_t centreOfCandidate;  // added to a candidate frame
  std::function<SeamScore(std::uint64_t candidate)> seam;
};

// The frames a loop's seam is judged on, read from the source.
SeamScore SeamOf(const SampleSource& source, std::uint64_t start, std::uint64_t end) {
  const std::uint64_t frames = LevelFrames(source.sampleRate);
  const std::uint64_t first = end + 1 >= frames ? end + 1 - frames : 0;
  return ScoreJoin(source.read(first, end + 1 - first), source.read(start, frames),
                   source.channels);
}

// A peak whose join clicks moves to the frame within kRefineFrames whose join steps least.
LoopCandidate Refined(const SearchKind& kind, const SearchRegion& region, std::uint64_t frame,
                      float similarity) {
  LoopCandidate best{frame, similarity, kind.seam(frame)};
  if (!best.score.click) return best;
  const std::uint64_t low =
      std::max(region.from, frame > kRefineFrames ? frame - kRefineFrames : 0);
  for (std::uint64_t f = low; f <= std::min(region.to, frame + kRefineFrames); ++f) {
    if (f == frame) continue;
    const SeamScore score = kind.seam(f);
    if (score.db < best.score.db) best = {f, similarity, score};
  }
  return best;
}

// The kept peaks, refined and scored, smooth ones first and then the most alike; candidates
// that refine onto one already taken count once.
std::vector<LoopCandidate> Ranked(const SearchKind& kind, const SearchRegion& region,
                                  std::vector<Peak> peaks) {
  std::sort(peaks.begin(), peaks.end(),
            [](const Peak& a, const Peak& b) { return a.similarity > b.similarity; });
  std::vector<LoopCandidate> all;
  for (const Peak& peak : peaks) {
    const LoopCandidate c =
        Refined(kind, region, peak.centre - kind.centreOfCandidate, peak.similarity);
    const auto same = [&c](const LoopCandidate& o) {
      return (o.frame > c.frame ? o.frame - c.frame : c.frame - o.frame) <= kRefineFrames;
    };
    if (std::none_of(all.begin(), all.end(), same)) all.push_back(c);
  }
  std::stable_sort(all.begin(), all.end(), [](const LoopCandidate& a, const LoopCandidate& b) {
    return a.Smooth() != b.Smooth() ? a.Smooth() : a.similarity > b.similarity;
  });
  if (all.size() > kBestCandidates) all.resize(kBestCandidates);
  return all;
}

LoopSearch Search(const SampleSource& source, const SearchKind& kind, SearchRegion region,
                  const SearchProgress& progress) {
  LoopSearch search;
  if (source.channels <= 0 || source.frames == 0) return search;
  const Matcher matcher(source, kind.fixedCentre, FramesOfMs(source.sampleRate, kMatchWindowMs));
  const auto windowSamples =
      (matcher.left + matcher.right) * static_cast<std::uint64_t>(source.channels);
  if (matcher.model.empty() || matcher.model.size() != windowSamples) return search;
  // Only candidates whose window lies wholly inside the samples can be matched.
  const std::uint64_t lowest = matcher.left;
  const std::uint64_t highest = source.frames - matcher.right;
  std::uint64_t from = std::max(region.from + kind.centreOfCandidate, lowest);
  std::uint64_t to = std::min(region.to + kind.centreOfCandidate, highest);
  if (from > to) return search;
  const auto peaks = PeaksOf(matcher, from, to, progress);
  if (!peaks) {
    search.cancelled = true;
    return search;
  }
  region.to = std::min(region.to, source.frames - 1);
  search.best = Ranked(kind, region, *peaks);
  return search;
}

}  // namespace

std::string LoopCandidate::Text() const {
  char alike[48];
  std::snprintf(alike, sizeof alike, ", similarity %.2f, ", similarity);
  const std::string verdict = score.click ? score.Text().substr(0, score.Text().find(','))
                              : similarity < kSmoothSimilarity ? kUnlikeText
                                                               : kSmoothText;
  return verdict + alike + score.LevelText();
}

SampleSource SourceOf(const SampleReader& reader, std::uint32_t sampleRate) {
  return {
      reader.Channels(), sampleRate, reader.Frames(),
      [&reader](std::uint64_t first, std::uint64_t count) { return reader.Read(first, count); }};
}

std::optional<SampleSource> SourceOfFile(const std::string& path, const WaveFacts& facts) {
  auto reader = std::make_shared<SampleReader>();
  if (!reader->Open(path, facts.channels, facts.frames)) return std::nullopt;
  return SampleSource{
      facts.channels, facts.sampleRate, facts.frames,
      [reader](std::uint64_t first, std::uint64_t count) { return reader->Read(first, count); }};
}

SampleSource SourceOf(std::vector<std::int16_t> samples, int channels, std::uint32_t sampleRate) {
  const auto held = std::make_shared<const std::vector<std::int16_t>>(std::move(samples));
  const auto n = static_cast<std::uint64_t>(std::max(channels, 1));
  const std::uint64_t frames = held->size() / n;
  return {channels, sampleRate, frames,
          [held, n, frames](std::uint64_t first, std::uint64_t count) {
            const std::uint64_t from = std::min(first, frames);
            const std::uint64_t to = std::min(frames, from + count);
            return std::vector<std::int16_t>(held->begin() + static_cast<std::ptrdiff_t>(from * n),
                                             held->begin() + static_cast<std::ptrdiff_t>(to * n));
          }};
}

std::optional<SearchRegion> DefaultEndRegion(const SampleSource& source, std::uint64_t start) {
  const std::uint64_t from = start + FramesOfMs(source.sampleRate, kLeastLoopMs);
  if (source.frames == 0 || from > source.frames - 1) return std::nullopt;
  return SearchRegion{from, source.frames - 1};
}

std::optional<SearchRegion> DefaultStartRegion(const SampleSource& source, std::uint64_t end) {
  const std::uint64_t least = FramesOfMs(source.sampleRate, kLeastLoopMs);
  if (end < least || end >= source.frames) return std::nullopt;
  return SearchRegion{0, end - least};
}

LoopSearch SearchLoopEnd(const SampleSource& source, std::uint64_t start,
                         const SearchRegion& region, const SearchProgress& progress) {
  // The frames after the end must sound like those from the start: the window around the
  // candidate end + 1 is matched with the window around the start.
  const SearchKind kind{start, 1,
                        [&source, start](std::uint64_t end) { return SeamOf(source, start, end); }};
  SearchRegion ends = region;
  ends.from = std::max(ends.from, start + 1);
  if (ends.from > ends.to) return {};
  return Search(source, kind, ends, progress);
}

LoopSearch SearchLoopStart(const SampleSource& source, std::uint64_t end,
                           const SearchRegion& region, const SearchProgress& progress) {
  const SearchKind kind{end + 1, 0,
                        [&source, end](std::uint64_t start) { return SeamOf(source, start, end); }};
  SearchRegion starts = region;
  if (end == 0) return {};
  starts.to = std::min(starts.to, end - 1);
  if (starts.from > starts.to) return {};
  return Search(source, kind, starts, progress);
}
