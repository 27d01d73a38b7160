#include "verify/map/reference_check.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "timecode_format/timecode_layout.h"
#include "verify/map/loop_check.h"
#include "verify/map/timing_fit.h"
#include "verify/read/pcm_channel.h"
#include "verify/read/sound_file.h"

namespace {

// The comparison streams both files in blocks of this many samples, so memory stays flat.
constexpr std::size_t kBlock = std::size_t{1} << 16;
// Drift this small moves no sample of the longest recording by half a sample.
constexpr double kHalfSample = 0.5;
constexpr double kPerMillion = 1e-6;
// A change is placed from the samples where the recording, less its gain, stays this close to
// TC.wav: half a step when the copy is exact, a few times what is left over otherwise...
constexpr double kExactTolerance = 0.5;
constexpr double kResidualTimes = 6.0;
// ...and only where what is left over is this small against the burst itself.
constexpr double kMostResidual = 0.05;

bool Comparable(const VerifyReport& report, const PcmChannel& reference) {
  const double drifted =
      std::abs(report.driftPpm) * kPerMillion * static_cast<double>(report.framesRead);
  return report.sampleRate == TimecodeRate(report.type) &&
         reference.SampleRate() == report.sampleRate && drifted < kHalfSample &&
         !report.frames.empty();
}

// How the recording relates to TC.wav around a place: recording = gain * TC.wav, give or take
// the tolerance.
struct Match {
  double gain = 1.0;
  double tolerance = kExactTolerance;
  bool placed = true;

  bool Same(float recorded, float played) const {
    return std::abs(recorded - gain * played) <= tolerance;
  }
};

// Both files' samples over [at, at + n) of the recording, at an alignment.
struct Window {
  std::vector<float> recorded, played;
};

Window ReadWindow(PcmChannel& recording, PcmChannel& reference, std::int64_t at, std::size_t n,
                  std::int64_t offset) {
  Window w{std::vector<float>(n, 0.0f), std::vector<float>(n, 0.0f)};
  if (at < 0) return w;
  w.recorded.resize(recording.ReadLsb(at, w.recorded.data(), n));
  // TC.wav's samples before its first and past its last are silence.
  const std::int64_t t = at - offset;
  const auto skip =
      static_cast<std::size_t>(std::clamp<std::int64_t>(-t, 0, static_cast<std::int64_t>(n)));
  reference.ReadLsb(t + static_cast<std::int64_t>(skip), w.played.data() + skip, n - skip);
  w.played.resize(w.recorded.size(), 0.0f);
  return w;
}

// The gain and what is left over, from a burst where the stretch's alignment holds.
Match MatchAt(PcmChannel& recording, PcmChannel& reference, double markerAt, std::int64_t offset) {
  const auto at = static_cast<std::int64_t>(std::llround(markerAt));
  const Window w = ReadWindow(recording, reference, at, kSlotSamples, offset);
  double across = 0.0, power = 0.0;
  for (std::size_t i = 0; i < w.recorded.size(); ++i) {
    across += static_cast<double>(w.recorded[i]) * w.played[i];
    power += static_cast<double>(w.played[i]) * w.played[i];
  }
  Match match;
  if (!(power > 0.0)) return {1.0, kExactTolerance, false};
  match.gain = across / power;
  double left = 0.0;
  for (std::size_t i = 0; i < w.recorded.size(); ++i) {
    const double d = w.recorded[i] - match.gain * w.played[i];
    left += d * d;
  }
  const double rms = std::sqrt(left / static_cast<double>(w.recorded.size()));
  const double level = std::sqrt(power / static_cast<double>(w.recorded.size()));
  if (std::abs(match.gain - 1.0) < kPerMillion && rms == 0.0) match.gain = 1.0;
  match.tolerance = kExactTolerance + kResidualTimes * rms;
  match.placed = rms <= kMostResidual * level;
  return match;
}

// The first recording sample from `from` on (before `to`) that is not the stretch's.
std::int64_t FirstOther(PcmChannel& recording, PcmChannel& reference, const Match& match,
                        std::int64_t offset, std::int64_t from, std::int64_t to) {
  for (std::int64_t at = from; at < to; at += static_cast<std::int64_t>(kBlock)) {
    const auto n = static_cast<std::size_t>(std::min<std::int64_t>(kBlock, to - at));
    const Window w = ReadWindow(recording, reference, at, n, offset);
    for (std::size_t i = 0; i < w.recorded.size(); ++i) {
      if (!match.Same(w.recorded[i], w.played[i])) return at + static_cast<std::int64_t>(i);
    }
    if (w.recorded.size() < n) return at + static_cast<std::int64_t>(w.recorded.size());
  }
  return to;
}

// One past the last recording sample before `to` (from `from` on) that is not the stretch's.
std::int64_t LastOther(PcmChannel& recording, PcmChannel& reference, const Match& match,
                       std::int64_t offset, std::int64_t from, std::int64_t to) {
  for (std::int64_t end = to; end > from; end -= static_cast<std::int64_t>(kBlock)) {
    const std::int64_t at = std::max(from, end - static_cast<std::int64_t>(kBlock));
    const Window w =
        ReadWindow(recording, reference, at, static_cast<std::size_t>(end - at), offset);
    for (std::size_t i = w.recorded.size(); i-- > 0;) {
      if (!match.Same(w.recorded[i], w.played[i])) return at + static_cast<std::int64_t>(i) + 1;
    }
  }
  return from;
}

// Where the first frame's check symbol, its last burst, lies.
double CheckSymbolAt(const PlayedStretch& stretch) {
  return stretch.firstFrameAt + (kFrameSlots - 1) * kSlotSamples;
}

// Frames found between two places of the recording that the samples put at another alignment.
struct Moved {
  double from = 0.0;
  double to = 0.0;
  std::int64_t offset = 0;
};

// A stretch whose own alignment the samples do not bear out, where a neighbour's does, is part
// of that neighbour: a frame a fault inside it (or the loop table over frame 1's marker) placed
// part-way between its old and new place. Returns the frames so moved.
std::vector<Moved> SettleStretches(PcmChannel& recording, PcmChannel& reference,
                                   std::vector<PlayedStretch>& stretches, int method) {
  auto holds = [&](const PlayedStretch& at, std::int64_t offset) {
    return MatchAt(recording, reference, CheckSymbolAt(at), offset).placed;
  };
  auto place = [method](int frame, std::int64_t offset) {
    return FrameStartInTimecode(frame, method) + static_cast<double>(offset);
  };
  std::vector<Moved> moved;
  for (std::size_t k = 0; k < stretches.size() && stretches.size() > 1;) {
    const PlayedStretch s = stretches[k];
    PlayedStretch* into = nullptr;
    if (holds(s, s.offset)) {
      ++k;
      continue;
    }
    if (k + 1 < stretches.size() && holds(s, stretches[k + 1].offset)) {
      into = &stretches[k + 1];
      into->firstFrameAt = place(s.firstFrame, into->offset);
      into->firstFrame = s.firstFrame;
    } else if (k > 0 && holds(s, stretches[k - 1].offset)) {
      into = &stretches[k - 1];
      into->lastFrameAt = place(s.lastFrame, into->offset);
      into->lastFrame = s.lastFrame;
    } else {
      ++k;
      continue;
    }
    moved.push_back({s.firstFrameAt, s.lastFrameAt, into->offset});
    stretches.erase(stretches.begin() + static_cast<std::ptrdiff_t>(k));
  }
  return moved;
}

// The frames moved take their places from their new alignment, and the fit is made again.
void PlaceMovedFrames(VerifyReport& report, const std::vector<Moved>& moved,
                      std::optional<double> tolerance) {
  if (moved.empty()) return;
  for (FoundFrame& frame : report.frames) {
    for (const Moved& m : moved) {
      if (!frame.checkOk || frame.foundSample < m.from - kHalfSample ||
          frame.foundSample > m.to + kHalfSample) {
        continue;
      }
      frame.foundSample =
          FrameStartInTimecode(frame.number, report.method) + static_cast<double>(m.offset);
    }
  }
  FitTiming(report, 1.0, tolerance);
}

// Where the recording stops being `before` and starts being `after`: from the last frame of the
// one to the start marker of the other, the samples that match each.
StretchChange PlaceChange(PcmChannel& recording, PcmChannel& reference, const PlayedStretch& before,
                          const PlayedStretch& after) {
  const auto from = static_cast<std::int64_t>(std::llround(before.lastFrameAt));
  const auto to = static_cast<std::int64_t>(std::llround(after.firstFrameAt)) + kSlotSamples;
  const Match early = MatchAt(recording, reference, before.lastFrameAt, before.offset);
  // The later stretch's first frame may have lost the start of its marker to the change; its
  // check symbol, the last burst, was read where the stretch holds.
  const Match late = MatchAt(recording, reference, CheckSymbolAt(after), after.offset);
  if (!early.placed || !late.placed) {
    const auto at = static_cast<std::int64_t>(std::llround(after.firstFrameAt));
    return {at, at, false};
  }
  return {FirstOther(recording, reference, early, before.offset, from, to),
          LastOther(recording, reference, late, after.offset, from, to), true};
}

// Holds each stretch's samples against TC.wav's, in blocks: 16-bit files compare as bytes
// first, and only a block that differs is gone through sample by sample.
class Comparison {
 public:
  Comparison(PcmChannel& recording, PcmChannel& reference)
      : m_recording(recording),
        m_reference(reference),
        m_shorts(recording.HoldsShorts() && reference.HoldsShorts()) {}

  void Stretch(std::int64_t begin, std::int64_t end, std::int64_t offset) {
    for (std::int64_t at = begin; at < end;) {
      const auto n = static_cast<std::size_t>(std::min<std::int64_t>(kBlock, end - at));
      const std::size_t got = m_shorts ? Shorts(at, n, offset) : Floats(at, n, offset);
      if (got == 0) return;
      at += static_cast<std::int64_t>(got);
    }
  }
  const BitExactCheck& Result() const { return m_result; }

 private:
  std::size_t Shorts(std::int64_t at, std::size_t n, std::int64_t offset) {
    m_r16.resize(n);
    m_t16.resize(n);
    n = std::min(m_recording.ReadShorts(at, m_r16.data(), n),
                 m_reference.ReadShorts(at - offset, m_t16.data(), n));
    m_result.compared += static_cast<std::int64_t>(n);
    if (std::memcmp(m_r16.data(), m_t16.data(), n * sizeof(std::int16_t)) == 0) return n;
    for (std::size_t i = 0; i < n; ++i)
      Count(at + static_cast<std::int64_t>(i), offset, m_r16[i], m_t16[i]);
    return n;
  }
  std::size_t Floats(std::int64_t at, std::size_t n, std::int64_t offset) {
    m_r.resize(n);
    m_t.resize(n);
    n = std::min(m_recording.ReadLsb(at, m_r.data(), n),
                 m_reference.ReadLsb(at - offset, m_t.data(), n));
    m_result.compared += static_cast<std::int64_t>(n);
    for (std::size_t i = 0; i < n; ++i) {
      if (m_r[i] != m_t[i]) Count(at + static_cast<std::int64_t>(i), offset, m_r[i], m_t[i]);
    }
    return n;
  }
  void Count(std::int64_t at, std::int64_t offset, double recorded, double played) {
    if (recorded == played) return;
    if (m_result.differing++ == 0) {
      m_result.firstRecordingSample = at;
      m_result.firstTimecodeSample = at - offset;
      m_result.recordingValue = recorded;
      m_result.timecodeValue = played;
    }
    m_result.largestDifference = std::max(m_result.largestDifference, std::abs(recorded - played));
  }

  PcmChannel& m_recording;
  PcmChannel& m_reference;
  bool m_shorts;
  std::vector<std::int16_t> m_r16, m_t16;
  std::vector<float> m_r, m_t;
  BitExactCheck m_result;
};

}  // namespace

std::vector<PlayedStretch> StretchesOfFrames(const VerifyReport& report) {
  std::vector<PlayedStretch> stretches;
  double alignment = 0.0;
  for (const FoundFrame& frame : report.frames) {
    if (!frame.checkOk) continue;
    const double offset = frame.foundSample - FrameStartInTimecode(frame.number, report.method);
    if (stretches.empty() || std::abs(offset - alignment) > kHalfSample) {
      alignment = offset;
      PlayedStretch stretch;
      stretch.offset = std::llround(offset);
      stretch.firstFrameAt = frame.foundSample;
      stretch.firstFrame = frame.number;
      stretches.push_back(stretch);
    }
    PlayedStretch& stretch = stretches.back();
    stretch.lastFrameAt = frame.foundSample;
    stretch.lastFrame = frame.number;
    stretch.begin = std::llround(stretch.firstFrameAt);
    stretch.end = std::llround(stretch.lastFrameAt) + kFrameSamples;
  }
  return stretches;
}

void CheckAgainstReference(VerifyReport& report, const std::string& recording,
                           const std::string& reference, std::optional<double> tolerance) {
  if (recording.empty() || recording == kStandardInput) return;
  PcmChannel played(reference, 0);
  if (!Comparable(report, played)) return;
  PcmChannel recorded(recording, report.channel - 1);
  std::vector<PlayedStretch> stretches = StretchesOfFrames(report);
  if (stretches.empty()) return;
  PlaceMovedFrames(report, SettleStretches(recorded, played, stretches, report.method), tolerance);
  std::vector<StretchChange> changes;
  for (std::size_t k = 0; k + 1 < stretches.size(); ++k) {
    const StretchChange change = PlaceChange(recorded, played, stretches[k], stretches[k + 1]);
    stretches[k].end = change.leave;
    stretches[k + 1].begin = std::max(change.join, change.leave);
    changes.push_back(change);
  }
  // The first and last stretches reach as far as TC.wav and the recording both go.
  stretches.front().begin = std::max<std::int64_t>(0, stretches.front().offset);
  stretches.back().end = std::min(recorded.Frames(), stretches.back().offset + played.Frames());
  Comparison comparison(recorded, played);
  for (const PlayedStretch& stretch : stretches) {
    const std::int64_t begin = std::max(stretch.begin, stretch.offset);
    const std::int64_t end = std::min(stretch.end, stretch.offset + played.Frames());
    comparison.Stretch(begin, end, stretch.offset);
  }
  report.bitExact = comparison.Result();
  JudgeLoops(report, stretches, changes, ReadLoopPoints(reference));
}
