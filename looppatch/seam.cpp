#include "looppatch/seam.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace {

// The quietest signal still moves by a step of the sample grid: no movement or level below one
// step, so digital silence joined to silence is not a click of infinite dB.
constexpr double kLeastMovement = 1.0;
constexpr double kDbPerDecade = 20.0;
constexpr std::uint32_t kMsPerSecond = 1000;

double Db(double ratio) {
  return kDbPerDecade * std::log10(ratio);
}

double Median(std::vector<double> values) {
  if (values.empty()) return 0;
  const auto middle = values.begin() + static_cast<std::ptrdiff_t>(values.size() / 2);
  std::nth_element(values.begin(), middle, values.end());
  return *middle;
}

struct ChannelJoin {
  double step = 0;      // the larger of the steps in value and in slope across the join
  double movement = 0;  // the median sample-to-sample movement around it
  double level = 0;     // the RMS around it
};

// One channel of the joined signal; the join lies between x[joinAt - 1] and x[joinAt], with
// at least two samples on each side. Each side is carried half a sample on by its own slope:
// where they meet the signal should continue, so the gap between them is the step in value and
// the change of slope the step in slope.
ChannelJoin JoinOf(const std::vector<double>& x, std::size_t joinAt) {
  ChannelJoin join;
  const double slopeBefore = x[joinAt - 1] - x[joinAt - 2];
  const double slopeAfter = x[joinAt + 1] - x[joinAt];
  const double valueStep =
      std::abs((x[joinAt] - slopeAfter / 2) - (x[joinAt - 1] + slopeBefore / 2));
  join.step = std::max(valueStep, std::abs(slopeAfter - slopeBefore));
  std::vector<double> moves;
  double energy = 0;
  for (std::size_t i = 0; i < x.size(); ++i) {
    energy += x[i] * x[i];
    if (i > 0 && i != joinAt) moves.push_back(std::abs(x[i] - x[i - 1]));
  }
  join.movement = std::max(Median(moves), kLeastMovement);
  join.level = std::sqrt(energy / static_cast<double>(x.size()));
  return join;
}

// The RMS of every sample of a block, at least one step of the grid.
double Rms(const std::vector<std::int16_t>& samples) {
  double energy = 0;
  for (const std::int16_t v : samples) energy += static_cast<double>(v) * v;
  return samples.empty()
             ? kLeastMovement
             : std::max(std::sqrt(energy / static_cast<double>(samples.size())), kLeastMovement);
}

// The frames before a join ending with `end`, at most `count` of them.
std::vector<std::int16_t> FramesBefore(const SampleReader& reader, std::uint64_t end,
                                       std::uint64_t count) {
  const std::uint64_t first = end + 1 >= count ? end + 1 - count : 0;
  return reader.Read(first, end + 1 - first);
}

// "+0.3" and "-1.2"; a level that rounds to nothing has no sign.
std::string SignedDb(double db) {
  char text[32];
  std::snprintf(text, sizeof text, std::abs(db) < 0.05 ? "%.1f" : "%+.1f",
                std::abs(db) < 0.05 ? 0.0 : db);
  return text;
}

}  // namespace

std::string SeamScore::Text() const {
  char clickDb[32];
  std::snprintf(clickDb, sizeof clickDb, " %.1f dB", db);
  return std::string(Verdict()) + (click ? clickDb : "") + ", " + LevelText();
}

std::string SeamScore::LevelText() const {
  return "level " + SignedDb(levelDb) + " dB";
}

std::uint64_t LevelFrames(std::uint32_t sampleRate) {
  return std::max<std::uint64_t>(std::uint64_t{sampleRate} * kLevelWindowMs / kMsPerSecond,
                                 kClickContextFrames);
}

SeamScore ScoreJoin(const std::vector<std::int16_t>& before, const std::vector<std::int16_t>& after,
                    int channels) {
  SeamScore score;
  if (channels <= 0) return score;
  const auto n = static_cast<std::size_t>(channels);
  const std::size_t beforeFrames = before.size() / n;
  const std::size_t afterFrames = after.size() / n;
  if (beforeFrames < 2 || afterFrames < 2) return score;
  const std::size_t left = std::min<std::size_t>(beforeFrames, kClickContextFrames);
  const std::size_t right = std::min<std::size_t>(afterFrames, kClickContextFrames);
  score.db = -HUGE_VAL;
  for (std::size_t c = 0; c < n; ++c) {
    std::vector<double> x;
    for (std::size_t f = beforeFrames - left; f < beforeFrames; ++f) x.push_back(before[f * n + c]);
    for (std::size_t f = 0; f < right; ++f) x.push_back(after[f * n + c]);
    const ChannelJoin join = JoinOf(x, left);
    score.db = std::max(score.db, Db(std::max(join.step, kLeastMovement) / join.movement));
    score.click = score.click || (join.step > kClickMovementFactor * join.movement &&
                                  join.step > kClickLevelShare * join.level);
  }
  score.levelDb = Db(Rms(before) / Rms(after));
  return score;
}

std::vector<std::int16_t> SeamFrames(const SampleReader& reader, std::uint64_t start,
                                     std::uint64_t end) {
  std::vector<std::int16_t> frames = FramesBefore(reader, end, kSeamContextFrames);
  const std::vector<std::int16_t> after = reader.Read(start, kSeamContextFrames);
  frames.insert(frames.end(), after.begin(), after.end());
  return frames;
}

SeamScore ScoreSeam(const SampleReader& reader, std::uint64_t start, std::uint64_t end,
                    std::uint32_t sampleRate) {
  const std::uint64_t frames = LevelFrames(sampleRate);
  return ScoreJoin(FramesBefore(reader, end, frames), reader.Read(start, frames),
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
