#include "verify/map/loop_check.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <set>

namespace {

// A frame's bursts end this many samples after its start.
constexpr double kBurstsEnd = kFrameSlots * kSlotSamples;
constexpr std::size_t kHeadBytes = kLoopTableOffset + kLoopPointCount * kLoopRecordBytes;

// Any recording sample in [first, last] may be the first of the later stretch.
struct ChangeSpan {
  std::int64_t first = 0;
  std::int64_t last = 0;
};

ChangeSpan SpanOf(const StretchChange& change, const PlayedStretch& before,
                  const PlayedStretch& after) {
  if (!change.placed) {
    return {std::llround(before.lastFrameAt) + 1, std::llround(after.firstFrameAt)};
  }
  if (change.join <= change.leave) return {change.join, change.leave};
  return {change.leave, change.join};  // inserted samples between
}

// The point nearest to an edge, and how far the edge lies from it.
void MatchPoint(LoopEdge& edge, const LoopPoints& points) {
  std::int64_t best = -1;
  for (std::size_t i = 0; i < points.size(); ++i) {
    if (points[i] == 0) continue;
    const std::int64_t p = points[i];
    const std::int64_t miss = p < edge.first ? edge.first - p : p > edge.last ? edge.last - p : 0;
    if (best < 0 || std::abs(miss) < best) {
      best = std::abs(miss);
      edge.point = static_cast<int>(i) + 1;
      edge.pointSample = p;
      edge.missBy = miss;
    }
  }
}

LoopFinding FindingOf(const StretchChange& change, const PlayedStretch& before,
                      const PlayedStretch& after, const LoopPoints& points) {
  LoopFinding loop;
  if (change.placed && change.join > change.leave) {
    loop.left = {change.leave - 1 - before.offset, change.leave - 1 - before.offset};
    loop.resumed = {change.join - after.offset, change.join - after.offset};
  } else {
    const ChangeSpan span = SpanOf(change, before, after);
    loop.left = {span.first - 1 - before.offset, span.last - 1 - before.offset};
    loop.resumed = {span.first - after.offset, span.last - after.offset};
  }
  MatchPoint(loop.left, points);
  MatchPoint(loop.resumed, points);
  loop.honoured = change.placed && loop.left.OnPoint() && loop.resumed.OnPoint();
  loop.recordingSamples.push_back(
      static_cast<double>(change.placed ? change.leave : SpanOf(change, before, after).last));
  return loop;
}

bool SameLoop(const LoopFinding& a, const LoopFinding& b) {
  return a.left.first == b.left.first && a.left.last == b.left.last &&
         a.resumed.first == b.resumed.first && a.resumed.last == b.resumed.last;
}

// A loop's pair of points: start 2i - 1, end 2i (counted from 1). An end point that playback
// played through, with no jump back ever made near it, is a loop not taken.
void FindLoopsNotTaken(VerifyReport& report, const std::vector<PlayedStretch>& stretches,
                       const LoopPoints& points) {
  for (std::size_t i = 0; i + 1 < points.size(); i += 2) {
    const std::int64_t start = points[i], end = points[i + 1];
    if (start == 0 || end <= start) continue;
    const int endPoint = static_cast<int>(i) + 2;
    const bool looped = std::any_of(report.loops.begin(), report.loops.end(),
                                    [&](const LoopFinding& l) { return l.left.point == endPoint; });
    const bool playedThrough =
        std::any_of(stretches.begin(), stretches.end(), [&](const PlayedStretch& s) {
          return s.begin - s.offset <= end && end + 1 < s.end - s.offset;
        });
    if (!looped && playedThrough) report.loopsNotTaken.push_back(endPoint);
  }
}

// A recording place that lies in a seam of an honoured loop: after the last frame before it,
// up to the first frame after it.
struct Seam {
  double after = 0.0;
  double upTo = 0.0;
};

bool InSeam(const std::vector<Seam>& seams, double place) {
  return std::any_of(seams.begin(), seams.end(),
                     [place](const Seam& s) { return place > s.after && place < s.upTo; });
}

// The frames lists again, each honoured loop starting a new pass through TC.wav.
void RejudgeFrames(VerifyReport& report, const std::vector<Seam>& seams) {
  std::erase_if(report.discontinuities,
                [&](const Discontinuity& d) { return InSeam(seams, d.sample - 0.5); });
  std::erase_if(report.unreadable, [&](const FramePlace& f) { return InSeam(seams, f.sample); });
  // The loop's own jump, and any damage in its seam, is no event of the playback map.
  std::erase_if(report.map.events, [&](const PlaybackEvent& e) {
    return InSeam(seams, e.kind == EventKind::damage ? e.frameSample : e.frameSample - 0.5);
  });
  std::erase_if(report.frames,
                [&](const FoundFrame& f) { return !f.checkOk && InSeam(seams, f.foundSample); });
  report.checkFailures.clear();
  report.duplicated.clear();
  report.outOfOrder.clear();
  std::set<int> duplicated, late;
  std::set<int> seen;
  int largest = 0;
  std::size_t pass = 0;
  for (const FoundFrame& frame : report.frames) {
    while (pass < seams.size() && frame.foundSample >= seams[pass].upTo - 0.5) {
      ++pass;
      seen.clear();
      largest = 0;
    }
    if (!frame.checkOk) report.checkFailures.push_back(frame.number);
    if (!seen.insert(frame.number).second) duplicated.insert(frame.number);
    if (frame.number < largest) late.insert(frame.number);
    largest = std::max(largest, frame.number);
  }
  report.duplicated.assign(duplicated.begin(), duplicated.end());
  report.outOfOrder.assign(late.begin(), late.end());
}

// Frames past an honoured loop's end that no stretch reached are not missing.
void DropUnreached(VerifyReport& report, const std::vector<PlayedStretch>& stretches,
                   std::int64_t loopEnd) {
  std::int64_t reached = 0;
  for (const PlayedStretch& s : stretches) reached = std::max(reached, s.end - s.offset);
  std::vector<int> missing;
  std::vector<FramePlace> places;
  for (std::size_t i = 0; i < report.missing.size(); ++i) {
    // A frame that ends past the loop's end was never wholly played before it.
    const double end = FrameStartInTimecode(report.missing[i], report.method) + kBurstsEnd;
    if (end > static_cast<double>(loopEnd) && end > static_cast<double>(reached)) continue;
    missing.push_back(report.missing[i]);
    if (i < report.missingPlaces.size()) places.push_back(report.missingPlaces[i]);
  }
  report.missing = missing;
  report.missingPlaces = places;
}

}  // namespace

LoopPoints ReadLoopPoints(const std::string& path) {
  std::error_code error;
  const std::uintmax_t size = std::filesystem::file_size(path, error);
  std::ifstream in(path, std::ios::binary);
  if (error || !in) return {};
  std::array<std::uint8_t, kHeadBytes> head{};
  in.read(reinterpret_cast<char*>(head.data()), head.size());
  return LoopPointsOfWaveStart(head.data(), static_cast<std::size_t>(in.gcount()), size);
}

void JudgeLoops(VerifyReport& report, const std::vector<PlayedStretch>& stretches,
                const std::vector<StretchChange>& changes, const LoopPoints& points) {
  std::vector<Seam> seams;
  std::int64_t loopEnd = -1;
  for (std::size_t k = 0; k < changes.size(); ++k) {
    const PlayedStretch& before = stretches[k];
    const PlayedStretch& after = stretches[k + 1];
    if (after.offset <= before.offset) continue;  // playback went on forward: no loop
    const LoopFinding loop = FindingOf(changes[k], before, after, points);
    // Samples that are none of TC.wav's, put in where playback went on: no TC.wav sample was
    // played twice.
    if (loop.resumed.first > loop.left.last) continue;
    if (loop.honoured) {
      seams.push_back({before.lastFrameAt, after.firstFrameAt});
      loopEnd = std::max(loopEnd, loop.left.last);
    }
    const auto same = std::find_if(report.loops.begin(), report.loops.end(),
                                   [&](const LoopFinding& l) { return SameLoop(l, loop); });
    if (same == report.loops.end()) {
      report.loops.push_back(loop);
    } else {
      ++same->times;
      same->recordingSamples.push_back(loop.recordingSamples.front());
    }
  }
  FindLoopsNotTaken(report, stretches, points);
  if (seams.empty()) return;
  for (const Seam& seam : seams) report.passStarts.push_back(seam.upTo);
  RejudgeFrames(report, seams);
  DropUnreached(report, stretches, loopEnd);
}
