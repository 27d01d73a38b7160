// Finding a loop: every candidate end in a region (or start, with the end fixed) ranked by how
// well the sound around it matches the sound around the other point, the best few scored as
// seams. No windows here: the search runs on whatever thread calls it, reports its progress
// through a callback that may cancel it, and takes its samples from a reader function, so a
// test can feed it an array and the window a file.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "looppatch/seam.h"
#include "looppatch/wave_samples.h"

// Interleaved 16-bit frames to search: frames [first, first + count) clipped to `frames`.
struct SampleSource {
  int channels = 0;
  std::uint32_t sampleRate = 0;
  std::uint64_t frames = 0;
  std::function<std::vector<std::int16_t>(std::uint64_t first, std::uint64_t count)> read;
};

// A source over a reader; the reader must outlive it. Its reads may run on another thread.
SampleSource SourceOf(const SampleReader& reader, std::uint32_t sampleRate);
// A source with a reader of its own over the file at path, for a search on a worker thread
// that must not depend on the window's reader (which a newly opened file replaces). Nothing
// when the file cannot be opened for reading.
std::optional<SampleSource> SourceOfFile(const std::string& path, const WaveFacts& facts);
// A source over samples held in memory (copied in).
SampleSource SourceOf(std::vector<std::int16_t> samples, int channels, std::uint32_t sampleRate);

// The candidate frames a search looks at, both ends included.
struct SearchRegion {
  std::uint64_t from = 0;
  std::uint64_t to = 0;
};

// The region searched when the user names none: for an end, from the start + 100 ms to the last
// frame; for a start, from the first frame to the end - 100 ms. Nothing when it holds no frame.
inline constexpr std::uint32_t kLeastLoopMs = 100;
std::optional<SearchRegion> DefaultEndRegion(const SampleSource& source, std::uint64_t start);
std::optional<SearchRegion> DefaultStartRegion(const SampleSource& source, std::uint64_t end);

// How alike the sound around a candidate is to the sound around the fixed point: 1 for the
// same samples, 0 for unrelated ones. A candidate joins smoothly when it is at least this alike
// and its seam is no click.
inline constexpr double kSmoothSimilarity = 0.9;
// How much sound on each side of the points is compared.
inline constexpr std::uint32_t kMatchWindowMs = 5;
// How many candidates a search reports.
inline constexpr std::size_t kBestCandidates = 5;

inline constexpr char kNoSmoothEndText[] = "no smooth end in this region";
inline constexpr char kNoSmoothStartText[] = "no smooth start in this region";
inline constexpr char kUnlikeText[] = "unlike";

struct LoopCandidate {
  std::uint64_t frame = 0;  // the loop's end (last frame played) or its start
  double similarity = 0;
  SeamScore score;  // the seam of the loop with this candidate in place
  bool Smooth() const { return similarity >= kSmoothSimilarity && !score.click; }
  // "smooth, similarity 0.98, level -0.3 dB"; "click 24.1 dB, ..." for a seam that clicks;
  // "unlike, ..." for one whose sound does not match the other point's.
  std::string Text() const;
};

struct LoopSearch {
  std::vector<LoopCandidate> best;  // up to kBestCandidates, best first, smooth ones first
  bool cancelled = false;
  // True when the best candidate joins smoothly; otherwise the region holds no smooth one.
  bool Found() const { return !best.empty() && best.front().Smooth(); }
};

// Called now and then with the share of the work done (0 to 1); returning false cancels the
// search, which then returns at once with `cancelled` set and no candidates.
using SearchProgress = std::function<bool(double done)>;

// The ends in `region` that best close a loop from `start`.
LoopSearch SearchLoopEnd(const SampleSource& source, std::uint64_t start,
                         const SearchRegion& region, const SearchProgress& progress = {});
// The starts in `region` that best open a loop closed by `end` (the last frame played).
LoopSearch SearchLoopStart(const SampleSource& source, std::uint64_t end,
                           const SearchRegion& region, const SearchProgress& progress = {});
