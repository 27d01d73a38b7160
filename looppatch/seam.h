// How a loop joins: the seam a looping player makes when it jumps from the loop's end back to
// its start, scored for an audible click; and the frames near a point where a loop joins best.
// No windows here: plain samples in, numbers out.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "looppatch/wave_samples.h"

// Frames on each side of the join that the score looks at, and that the seam view draws.
inline constexpr std::uint64_t kSeamContextFrames = 32;
// Above this, the jump at the join stands out of the signal's own movement: a click.
inline constexpr double kClickThresholdDb = 12.0;
inline constexpr char kSmoothText[] = "smooth";
inline constexpr char kClickText[] = "click";

struct SeamScore {
  double db = 0;  // the jump at the join over the signal's usual second difference
  bool click = false;
  const char* Verdict() const { return click ? kClickText : kSmoothText; }
};

// The join of `before` (frames up to and including the loop's last frame) with `after` (frames
// from the loop's start), interleaved with `channels` channels. The second difference of the
// joined signal across the join holds both the step in value and the step in slope; it is set
// against the median second difference of the frames around it, channel by channel, and the
// worst channel counts.
SeamScore ScoreJoin(const std::vector<std::int16_t>& before, const std::vector<std::int16_t>& after,
                    int channels);

// The seam of the loop start..end (end: the last frame played) as stored in the file.
SeamScore ScoreSeam(const SampleReader& reader, std::uint64_t start, std::uint64_t end);

// The frames the seam view draws: kSeamContextFrames before the join (ending with `end`)
// and as many from `start`, interleaved.
std::vector<std::int16_t> SeamFrames(const SampleReader& reader, std::uint64_t start,
                                     std::uint64_t end);

// The nearest rising zero crossing within maxDistance frames of `frame`: the first frame at or
// above zero after one below it, of the channels summed, moved to whichever of the two frames
// around the crossing has all channels together closest to zero. Nothing when none is near.
std::optional<std::uint64_t> NearestRisingZero(const SampleReader& reader, std::uint64_t frame,
                                               std::uint64_t maxDistance);

// The loop end within `window` frames of `end` whose seam with `start` scores best (ties go
// to the end nearest the given one). Nothing when no end in the window lies after the start.
struct EndCandidate {
  std::uint64_t end = 0;
  SeamScore score;
};
std::optional<EndCandidate> BestLoopEnd(const SampleReader& reader, std::uint64_t start,
                                        std::uint64_t end, std::uint64_t window);
