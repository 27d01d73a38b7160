#include "verify/map/playback_map.h"

#include <algorithm>
#include <cmath>
#include <tuple>

#include "verify/map/verify_report.h"
#include "verify/signal/frame_parser.h"

namespace {

// A burst belongs to a segment where it lies within this share of the jump of that segment's
// line and nearer to it than to the other; a burst the fault cut through belongs to neither.
constexpr double kShareOfJump = 1.0 / 3.0;
// ...and within this many samples of the line, however large the jump.
constexpr double kMostStray = 3.0;

// A frame alone between two jumps whose bursts stray this far from one line was cut by the
// fault (its bursts were placed where parts of them matched), not played on its own.
constexpr double kLoneFrameStray = 1.0;

// A jump's change is sought past at most this many frames that it cut, either side.
constexpr int kMostCutFrames = 3;

// Every burst of the frame placed on one line from its start marker.
bool Whole(const FoundFrame& frame, double slope) {
  for (std::size_t b = 0; b < frame.bursts.size(); ++b) {
    const double line = frame.foundSample + static_cast<double>(2 * b * kSlotSamples) * slope;
    if (!(std::abs(frame.bursts[b] - line) <= kLoneFrameStray)) return false;
  }
  return true;
}

// Damage to frame `place.frame` over `length` recording samples from place.sample.
PlaybackEvent Damage(const VerifyReport& report, const FramePlace& place, double length) {
  PlaybackEvent event;
  event.kind = EventKind::damage;
  event.recordingFirst = std::floor(place.sample);
  event.recordingLast = std::ceil(place.sample + length);
  event.leftAt = event.resumedAt = FrameStartInTimecode(place.frame, report.method);
  event.frameAfter = place.frame;
  event.frameSample = place.sample;
  return event;
}

// Where burst k of frame `number` begins in TC.wav.
double BurstInTimecode(const VerifyReport& report, int number, std::size_t k) {
  return FrameStartInTimecode(number, report.method) + static_cast<double>(2 * k * kSlotSamples);
}

// Where in the recording the change from segment `before` to `after` lies: after the end of the
// last burst that still lies on the old line, before the start of the first on the new one.
// The bursts of the last frame of the old segment and the first of the new one tell it; where
// none of them tells, the change lies anywhere from the old frame's start to the new one's end.
std::pair<double, double> ChangeInterval(const VerifyReport& report, const Segment& before,
                                         const Segment& after, const FoundFrame& last,
                                         const FoundFrame& first, double jump) {
  const double slope = before.slope;
  const double burst = kSlotSamples * slope;
  const double allowed = std::min(kMostStray, kShareOfJump * std::abs(jump));
  double lo = last.foundSample;
  double hi = first.foundSample + burst;
  bool anyNew = false;
  for (const FoundFrame* frame : {&last, &first}) {
    for (std::size_t k = 0; k < frame->bursts.size(); ++k) {
      const double at = frame->bursts[k];
      if (std::isnan(at)) continue;
      const double t = BurstInTimecode(report, frame->number, k);
      const double old = at - (before.recordingFirst + (t - before.timecodeFirst) * slope);
      const double now = at - (after.recordingFirst + (t - after.timecodeFirst) * slope);
      if (std::abs(old) <= allowed && std::abs(old) < std::abs(now) && !anyNew) {
        lo = std::max(lo, at + burst);
      } else if (std::abs(now) <= allowed && std::abs(now) < std::abs(old) && !anyNew) {
        anyNew = true;
        hi = at;
      }
    }
  }
  lo = std::floor(lo);
  hi = std::max(lo, std::ceil(hi));
  return {lo, hi};
}

PlaybackEvent Jump(const VerifyReport& report, std::size_t k, const FoundFrame& last,
                   const FoundFrame& first) {
  const Segment& before = report.map.segments[k - 1];
  const Segment& after = report.map.segments[k];
  // Where each line puts TC.wav's sample 0 in the recording.
  const double fromBefore = before.recordingFirst - before.timecodeFirst * before.slope;
  const double fromAfter = after.recordingFirst - after.timecodeFirst * after.slope;
  PlaybackEvent event;
  event.jumpRecording = fromBefore - fromAfter;
  event.jumpTimecode = event.jumpRecording / before.slope;
  event.kind = event.jumpTimecode > 0.0 ? EventKind::cut : EventKind::repeat;
  const auto [lo, hi] = ChangeInterval(report, before, after, last, first, event.jumpRecording);
  event.recordingFirst = lo;
  event.recordingLast = hi;
  event.leftAt = before.TimecodeAt(lo);
  event.resumedAt = event.leftAt + event.jumpTimecode;
  event.jumpError = std::hypot(before.interceptError, after.interceptError) / before.slope;
  event.frameAfter = first.number;
  event.frameSample = first.foundSample;
  return event;
}

// Frames in place but unreadable, one event for each run of neighbours, and frames read whose
// bursts lost part of their samples, one event each. `between`: for each jump so far, the
// places of the frames read either side of it; a frame unreadable or damaged there was broken
// by the jump, which tells it.
void AddDamage(VerifyReport& report, const std::vector<std::pair<double, double>>& between) {
  const double slope = report.map.segments.empty() ? 1.0 : report.map.segments.front().slope;
  const double frame = kFrameBurstSlots * kSlotSamples * slope;
  const double burst = kSlotSamples * slope;
  auto& events = report.map.events;
  const std::size_t jumps = events.size();
  // A burst lost in part is the jump's own up to the end of the first frame after it: that
  // frame may lie on the new line by its later bursts, the fault after its start marker.
  auto byJump = [&](double sample, bool ends) {
    for (std::size_t j = 0; j < between.size(); ++j) {
      const bool inside = ends ? between[j].first <= sample && sample <= between[j].second + frame
                               : between[j].first < sample && sample < between[j].second;
      if (inside) return j;
    }
    return between.size();
  };
  for (const FramePlace& place : report.unreadable) {
    if (const std::size_t j = byJump(place.sample, false); j < between.size()) {
      ++events[j].framesHit;
      continue;
    }
    if (events.size() > jumps &&
        events.back().frameAfter + events.back().framesHit == place.frame) {
      events.back().recordingLast = std::ceil(place.sample + frame);
      ++events.back().framesHit;
      continue;
    }
    events.push_back(Damage(report, place, frame));
    events.back().framesHit = 1;
  }
  // Bursts of frames read that lost part of their samples: one event for each frame.
  for (const FramePlace& place : report.damaged) {
    if (byJump(place.sample, true) < between.size()) continue;
    const auto same = std::find_if(
        events.begin() + static_cast<std::ptrdiff_t>(jumps), events.end(),
        [&](const PlaybackEvent& e) { return e.framesHit == 0 && e.frameAfter == place.frame; });
    if (same != events.end()) {
      same->recordingFirst = std::min(same->recordingFirst, std::floor(place.sample));
      same->recordingLast = std::max(same->recordingLast, std::ceil(place.sample + burst));
      continue;
    }
    events.push_back(Damage(report, place, burst));
  }
}

// A segment of one frame that the fault cut through (some of its bursts could not be placed, or
// not on one line) is no segment: the playback left the old one and resumed in the new one
// across that frame, one event. Its frame stays among the frames read, in no segment.
void DropCutFrames(VerifyReport& report) {
  auto& segments = report.map.segments;
  for (std::size_t k = 1; k + 1 < segments.size(); ++k) {
    const FoundFrame& frame = report.frames[segments[k].firstIndex];
    if (segments[k].framesRead == 1 && !Whole(frame, segments[k].slope)) {
      segments.erase(segments.begin() + static_cast<std::ptrdiff_t>(k--));
    }
  }
}

// Neighbouring segments on one line (a frame the fault cut stood between them, and no jump) are
// one segment: what lay between them was damage, not a change of playback.
void JoinSameLines(VerifyReport& report) {
  auto& segments = report.map.segments;
  for (std::size_t k = 1; k < segments.size(); ++k) {
    Segment& before = segments[k - 1];
    const Segment& after = segments[k];
    const double fromBefore = before.recordingFirst - before.timecodeFirst * before.slope;
    const double fromAfter = after.recordingFirst - after.timecodeFirst * after.slope;
    if (std::abs(fromAfter - fromBefore) > report.thresholdSamples) continue;
    before.framesRead = static_cast<int>(after.firstIndex - before.firstIndex) + after.framesRead;
    before.lastFrame = after.lastFrame;
    before.recordingLast = after.recordingLast;
    segments.erase(segments.begin() + static_cast<std::ptrdiff_t>(k--));
  }
}

// A frame missing from within a segment, with frames on both sides played on one line, was in
// place and silent (zeroed, or drowned): unreadable, damage where it lies, not missing.
void SilentInPlace(VerifyReport& report) {
  std::vector<int> missing;
  std::vector<FramePlace> places;
  for (std::size_t i = 0; i < report.missingPlaces.size(); ++i) {
    const FramePlace& place = report.missingPlaces[i];
    const bool inside = std::any_of(
        report.map.segments.begin(), report.map.segments.end(),
        [&](const Segment& s) { return s.firstFrame < place.frame && place.frame < s.lastFrame; });
    if (inside) {
      report.unreadable.push_back(place);
    } else {
      missing.push_back(report.missing[i]);
      places.push_back(place);
    }
  }
  report.missing = std::move(missing);
  report.missingPlaces = std::move(places);
  std::stable_sort(report.unreadable.begin(), report.unreadable.end(),
                   [](const FramePlace& a, const FramePlace& b) { return a.sample < b.sample; });
}

// Where the change from segment k - 1 to k must lie: from the last frame before it that lies
// whole on its line (a frame the fault cut may sit on the old line with the fault before it) to
// the end of the first whole frame after it, at most a few frames either way.
std::pair<double, double> SearchStretch(const VerifyReport& report, std::size_t k) {
  const Segment& before = report.map.segments[k - 1];
  const Segment& after = report.map.segments[k];
  std::size_t last = before.firstIndex + static_cast<std::size_t>(before.framesRead) - 1;
  for (int back = 0; back < kMostCutFrames && last > before.firstIndex; ++back) {
    if (Whole(report.frames[last], before.slope)) break;
    --last;
  }
  std::size_t first = after.firstIndex;
  const std::size_t end = after.firstIndex + static_cast<std::size_t>(after.framesRead);
  for (int on = 0; on < kMostCutFrames && first + 1 < end; ++on) {
    if (Whole(report.frames[first], after.slope)) break;
    ++first;
  }
  const double frame = kFrameBurstSlots * kSlotSamples * after.slope;
  return {report.frames[last].foundSample, report.frames[first].foundSample + frame};
}

// The lines again from whole frames only: a frame the fault cut at either end of a segment is
// placed by part of its bursts, a little off its line, and would tilt the slope and move the
// jump. One slope for all segments, an intercept each, as the fit has it.
void RefitSegments(VerifyReport& report) {
  auto& segments = report.map.segments;
  struct Points {
    std::vector<double> s, p;
    double ms = 0.0, mp = 0.0;
  };
  std::vector<Points> points(segments.size());
  double across = 0.0, spread = 0.0;
  bool changed = false;
  for (std::size_t k = 0; k < segments.size(); ++k) {
    Points& q = points[k];
    for (int i = 0; i < segments[k].framesRead; ++i) {
      const FoundFrame& frame = report.frames[segments[k].firstIndex + static_cast<std::size_t>(i)];
      if (!Whole(frame, segments[k].slope)) {
        changed = true;
        continue;
      }
      q.s.push_back(FrameStartInTimecode(frame.number, report.method));
      q.p.push_back(frame.foundSample);
    }
    if (q.s.empty()) continue;
    for (std::size_t i = 0; i < q.s.size(); ++i) {
      q.ms += q.s[i] / static_cast<double>(q.s.size());
      q.mp += q.p[i] / static_cast<double>(q.s.size());
    }
    for (std::size_t i = 0; i < q.s.size(); ++i) {
      across += (q.s[i] - q.ms) * (q.p[i] - q.mp);
      spread += (q.s[i] - q.ms) * (q.s[i] - q.ms);
    }
  }
  if (!changed) return;
  // Every place divides by it: one that is not above 0 keeps the slope the fit gave.
  const double slope = spread > 0.0 && across > 0.0 ? across / spread : segments.front().slope;
  for (std::size_t k = 0; k < segments.size(); ++k) {
    Segment& segment = segments[k];
    const double scatter =
        segment.interceptError * std::sqrt(static_cast<double>(segment.framesRead));
    const double origin = points[k].s.empty()
                              ? segment.recordingFirst - segment.timecodeFirst * segment.slope
                              : points[k].mp - slope * points[k].ms;
    segment.slope = slope;
    segment.timecodeFirst = (segment.recordingFirst - origin) / slope;
    const auto whole = static_cast<double>(std::max<std::size_t>(points[k].s.size(), 1));
    segment.interceptError = scatter / std::sqrt(whole);
  }
}

}  // namespace

void BuildEvents(VerifyReport& report) {
  PlaybackMap& map = report.map;
  map.events.clear();
  DropCutFrames(report);
  JoinSameLines(report);
  RefitSegments(report);
  SilentInPlace(report);
  std::vector<std::pair<double, double>>
      between;  // from the frame before each jump to the one after
  for (std::size_t k = 1; k < map.segments.size(); ++k) {
    const Segment& before = map.segments[k - 1];
    const FoundFrame& last = report.frames[before.firstIndex + before.framesRead - 1];
    const FoundFrame& first = report.frames[map.segments[k].firstIndex];
    map.events.push_back(Jump(report, k, last, first));
    std::tie(map.events.back().searchFirst, map.events.back().searchLast) =
        SearchStretch(report, k);
    between.emplace_back(last.foundSample, first.foundSample);
  }
  AddDamage(report, between);
  std::stable_sort(map.events.begin(), map.events.end(),
                   [](const PlaybackEvent& a, const PlaybackEvent& b) {
                     return a.recordingFirst < b.recordingFirst;
                   });
  // The breaks every report lists are the jumps of the map.
  report.discontinuities.clear();
  for (const PlaybackEvent& event : map.events) {
    if (event.kind == EventKind::damage) continue;
    report.discontinuities.push_back({event.frameAfter, -event.jumpRecording, event.frameSample});
  }
}
