// How a loop joins: the seam a looping player makes when it jumps from the loop's end back to
// its start, scored in two numbers (a click, and the step in level); and the frames near a point
// where a loop joins best. No windows here: plain samples in, numbers out.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "looppatch/wave_samples.h"

// Frames on each side of the join that the seam view draws.
inline constexpr std::uint64_t kSeamContextFrames = 32;
// Frames on each side of the join whose sample-to-sample movement sets the scale of a click.
inline constexpr std::uint64_t kClickContextFrames = 64;
// A click: the step across the join is over 8 times the median sample-to-sample movement around
// it (a step the waveform itself never takes) and over 2% of the local level (so the grid's
// last bit in near silence is no click).
inline constexpr double kClickMovementFactor = 8.0;
inline constexpr double kClickLevelShare = 0.02;
// The level step compares this much before the join with as much after it.
inline constexpr std::uint32_t kLevelWindowMs = 20;
inline constexpr char kSmoothText[] = "smooth";
inline constexpr char kClickText[] = "click";

struct SeamScore {
  // The step in value and slope across the join, in dB over the median sample-to-sample
  // movement around it; the worst channel counts.
  double db = 0;
  // The RMS of the frames before the end against that of the frames from the start, in dB: a
  // loop over a decaying tone steps up in level each time it jumps back, and reads negative.
  double levelDb = 0;
  bool click = false;
  const char* Verdict() const { return click ? kClickText : kSmoothText; }
  // "smooth, level -1.2 dB", or "click 27.4 dB, level +0.3 dB".
  std::string Text() const;
  // "level -1.2 dB".
  std::string LevelText() const;
};

// The frames the level step compares on each side of a join at this rate.
std::uint64_t LevelFrames(std::uint32_t sampleRate);

// The join of `before` (frames up to and including the loop's last frame) with `after` (frames
// from the loop's start), interleaved with `channels` channels. The click is judged on the
// kClickContextFrames nearest the join on each side, the level step on all frames given (pass
// LevelFrames of them for the 20 ms it stands for).
SeamScore ScoreJoin(const std::vector<std::int16_t>& before, const std::vector<std::int16_t>& after,
                    int channels);

// The seam of the loop start..end (end: the last frame played) as stored in the file.
SeamScore ScoreSeam(const SampleReader& reader, std::uint64_t start, std::uint64_t end,
                    std::uint32_t sampleRate);

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
