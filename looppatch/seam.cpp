#include "looppatch/seam.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace {

// The quietest signal still moves by a step of the sample grid: no median below one step, so
// digital silence joined to silence is not a click of infinite dB.
constexpr double kLeastSecondDifference = 1.0;
constexpr double kDbPerDecade = 20.0;

// Second differences of one channel of the joined signal; the join lies between index
// joinAt - 1 and joinAt of the joined samples.
double JoinDb(const std::vector<double>& x, std::size_t joinAt) {
  std::vector<double> around;
  double atJoin = 0;
  for (std::size_t i = 1; i + 1 < x.size(); ++i) {
    const double d2 = std::abs(x[i + 1] - 2 * x[i] + x[i - 1]);
    // The two second differences that straddle the join carry its step; the rest are the
    // signal's own movement.
    if (i == joinAt - 1 || i == joinAt) {
      atJoin = std::max(atJoin, d2);
    } else {
      around.push_back(d2);
    }
  }
  if (around.empty()) return 0;
  std::nth_element(around.begin(), around.begin() + static_cast<std::ptrdiff_t>(around.size() / 2),
                   around.end());
  const double median = std::max(around[around.size() / 2], kLeastSecondDifference);
  return kDbPerDecade * std::log10(std::max(atJoin, kLeastSecondDifference) / median);
}

}  // namespace

SeamScore ScoreJoin(const std::vector<std::int16_t>& before, const std::vector<std::int16_t>& after,
                    int channels) {
  SeamScore score;
  if (channels <= 0) return score;
  const auto n = static_cast<std::size_t>(channels);
  const std::size_t beforeFrames = before.size() / n;
  const std::size_t afterFrames = after.size() / n;
  if (beforeFrames < 2 || afterFrames < 2) return score;
  score.db = -HUGE_VAL;
  for (std::size_t c = 0; c < n; ++c) {
    std::vector<double> x;
    for (std::size_t f = 0; f < beforeFrames; ++f) x.push_back(before[f * n + c]);
    for (std::size_t f = 0; f < afterFrames; ++f) x.push_back(after[f * n + c]);
    score.db = std::max(score.db, JoinDb(x, beforeFrames));
  }
  score.click = score.db > kClickThresholdDb;
  return score;
}

std::vector<std::int16_t> SeamFrames(const SampleReader& reader, std::uint64_t start,
                                     std::uint64_t end) {
  const std::uint64_t first = end + 1 >= kSeamContextFrames ? end + 1 - kSeamContextFrames : 0;
  std::vector<std::int16_t> frames = reader.Read(first, end + 1 - first);
  const std::vector<std::int16_t> after = reader.Read(start, kSeamContextFrames);
  frames.insert(frames.end(), after.begin(), after.end());
  return frames;
}

SeamScore ScoreSeam(const SampleReader& reader, std::uint64_t start, std::uint64_t end) {
  const std::uint64_t first = end + 1 >= kSeamContextFrames ? end + 1 - kSeamContextFrames : 0;
  return ScoreJoin(reader.Read(first, end + 1 - first), reader.Read(start, kSeamContextFrames),
                   reader.Channels());
}

// A crossing counts where some channel rises through zero, the channels summed rise too, and
// the frame is where all channels together are quietest locally: in a mono file the frame at
// the crossing nearer zero; in a stereo file the crossing of the channel that sets the sound,
// not that of a quiet channel while the loud one is far from zero.
std::optional<std::uint64_t> NearestRisingZero(const SampleReader& reader, std::uint64_t frame,
                                               std::uint64_t maxDistance) {
  const std::uint64_t first = frame > maxDistance ? frame - maxDistance - 1 : 0;
  const std::vector<std::int16_t> s = reader.Read(first, frame + maxDistance + 2 - first);
  const auto n = static_cast<std::size_t>(reader.Channels());
  const std::size_t frames = s.size() / n;
  const auto loudness = [&](std::size_t f) {
    long total = 0;
    for (std::size_t c = 0; c < n; ++c) total += std::labs(s[f * n + c]);
    return total;
  };
  const auto rising = [&](std::size_t f) {
    long before = 0, after = 0;
    bool through = false;
    for (std::size_t c = 0; c < n; ++c) {
      before += s[(f - 1) * n + c];
      after += s[f * n + c];
      through = through || (s[(f - 1) * n + c] < 0 && s[f * n + c] >= 0);
    }
    return through && after > before;
  };
  std::optional<std::uint64_t> best;
  std::uint64_t bestDistance = 0;
  for (std::size_t f = 2; f + 1 < frames; ++f) {
    if (!rising(f)) continue;
    const std::size_t at = loudness(f - 1) < loudness(f) ? f - 1 : f;
    if (loudness(at) > loudness(at - 1) || loudness(at) > loudness(at + 1)) continue;
    const std::uint64_t candidate = first + at;
    const std::uint64_t distance = candidate > frame ? candidate - frame : frame - candidate;
    if (distance <= maxDistance && (!best || distance < bestDistance)) {
      best = candidate;
      bestDistance = distance;
    }
  }
  return best;
}

std::optional<EndCandidate> BestLoopEnd(const SampleReader& reader, std::uint64_t start,
                                        std::uint64_t end, std::uint64_t window) {
  const std::uint64_t low = std::max(end > window ? end - window : 0, start + 1);
  const std::uint64_t high = std::min(end + window, reader.Frames() - 1);
  if (reader.Frames() == 0 || low > high) return std::nullopt;
  const auto n = static_cast<std::size_t>(reader.Channels());
  // One read for every candidate's frames before the join, one for the frames after it.
  const std::uint64_t first = low + 1 >= kSeamContextFrames ? low + 1 - kSeamContextFrames : 0;
  const std::vector<std::int16_t> region = reader.Read(first, high + 1 - first);
  const std::vector<std::int16_t> after = reader.Read(start, kSeamContextFrames);
  std::optional<EndCandidate> best;
  for (std::uint64_t e = low; e <= high && (e - first + 1) * n <= region.size(); ++e) {
    const std::uint64_t from =
        e + 1 >= first + kSeamContextFrames ? e + 1 - kSeamContextFrames : first;
    const std::vector<std::int16_t> before(
        region.begin() + static_cast<std::ptrdiff_t>((from - first) * n),
        region.begin() + static_cast<std::ptrdiff_t>((e - first + 1) * n));
    const SeamScore score = ScoreJoin(before, after, reader.Channels());
    const auto distance = [end](std::uint64_t x) { return x > end ? x - end : end - x; };
    if (!best || score.db < best->score.db ||
        (score.db == best->score.db && distance(e) < distance(best->end))) {
      best = EndCandidate{e, score};
    }
  }
  return best;
}
