#include "verify/map/event_place.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "timecode_format/dtmf_burst.h"
#include "verify/signal/frame_parser.h"

namespace {

// The change lies where the two segments explain the samples best; every place whose fit is
// within this many times the noise power per sample of the best is as likely (a likelihood
// ratio of about e^3).
constexpr double kLikelyNoise = 20.0;
// ...or within this share of all the samples leave unexplained, where that is more.
constexpr double kLikelyShare = 0.002;
// A tie between a repeat and an insertion of silence this long or longer is an insertion.
constexpr std::size_t kShortestSilence = 16;
// Full scale of the 16-bit samples TC.wav holds.
constexpr double kFullScale = 32768.0;
constexpr std::size_t kBlock = 1 << 16;
constexpr std::int64_t kMostWindowFrames = 16;  // a few megabytes of working sums

// The symbol of burst k of frame n, as the generator lays it down.
int SymbolOf(const VerifyReport& report, int n, int k) {
  if (k == 0) {
    if (n != 1) return kFrameStartSymbol;
    return report.method == kMethod1 ? kRunEdgeSymbol : kFirstFrameSymbol;
  }
  if (n == 1 && k == 1 && report.method == kMethod1) return kFirstFrameSymbol;
  if (k == kBurstsPerFrame - 1) {
    const bool last = report.rangeStated && n == report.judgedLast && report.method == kMethod2;
    return last ? kCheckStar : CheckSymbol(n, report.dtmfId);
  }
  static constexpr int kPowers[] = {1000, 100, 10, 1};
  const int digit = n / kPowers[k - 1] % 10;
  return digit == 0 ? kZeroDigitSymbol : digit;
}

// TC.wav's sample at t, between its samples where t is not whole, in full scale.
double TimecodeValue(const VerifyReport& report, double t) {
  if (t < 0.0) return 0.0;
  int n = static_cast<int>(t / kFrameSamples) + 1;
  if (report.method == kMethod1 && n > 1 && t < FrameStartInTimecode(n, kMethod1)) --n;
  const double within = t - FrameStartInTimecode(n, report.method);
  const int slot = static_cast<int>(within / kSlotSamples);
  if (slot % 2 != 0 || slot >= kFrameBurstSlots) return 0.0;
  const int rate = TimecodeRate(report.type);
  const double i = within - slot * kSlotSamples;
  return dtmf_burst::BurstValue(SymbolOf(report, n, slot / 2), rate, i) / kFullScale;
}

struct Window {
  std::size_t event;
  std::int64_t first;  // recording samples [first, first + samples.size())
  std::vector<float> samples;
  const Segment* before;
  const Segment* after;
};

// What a segment's line puts at each sample of the window.
std::vector<double> Predicted(const VerifyReport& report, const Window& w, const Segment& s) {
  std::vector<double> out(w.samples.size());
  for (std::size_t i = 0; i < out.size(); ++i) {
    out[i] = TimecodeValue(report, s.TimecodeAt(static_cast<double>(w.first) + i));
  }
  return out;
}

// The gain (sign included) that fits `model` to the samples over the given stretch.
double Gain(const Window& w, const std::vector<double>& model, std::size_t from, std::size_t to,
            double& fit) {
  double across = 0.0, power = 0.0, own = 0.0;
  for (std::size_t i = from; i < std::min(to, model.size()); ++i) {
    across += w.samples[i] * model[i];
    power += model[i] * model[i];
    own += static_cast<double>(w.samples[i]) * w.samples[i];
  }
  fit = power > 0.0 && own > 0.0 ? std::abs(across) / std::sqrt(power * own) : 0.0;
  return power > 0.0 ? across / power : 0.0;
}

// The places x (first sample of the new segment) whose cost lies within `slack` of the least,
// as the first and last of them.
std::pair<std::size_t, std::size_t> Likeliest(const std::vector<double>& cost, double slack,
                                              double& least) {
  least = *std::min_element(cost.begin(), cost.end());
  const auto best =
      static_cast<std::size_t>(std::min_element(cost.begin(), cost.end()) - cost.begin());
  std::size_t lo = best, hi = best;
  while (lo > 0 && cost[lo - 1] <= least + slack) --lo;
  while (hi + 1 < cost.size() && cost[hi + 1] <= least + slack) ++hi;
  return {lo, hi};
}

void Place(const VerifyReport& report, Window& w, PlaybackEvent& event) {
  const std::size_t n = w.samples.size();
  const std::vector<double> old = Predicted(report, w, *w.before);
  const std::vector<double> now = Predicted(report, w, *w.after);
  const auto burst = static_cast<std::size_t>(kSlotSamples * w.before->slope);
  double fitOld = 0.0, fitNew = 0.0;
  const double gainOld = Gain(w, old, 0, burst, fitOld);
  const double gainNew = Gain(w, now, n - std::min(n, burst), n, fitNew);
  const double gain = fitOld >= fitNew ? gainOld : gainNew;
  // cost2[x]: the old line up to x, the new one from x; cost3[x]: silence for the samples the
  // jump adds from x on instead of the new line there.
  std::vector<double> before(n + 1, 0.0), after(n + 1, 0.0), quiet(n + 1, 0.0);
  for (std::size_t i = 0; i < n; ++i) {
    const double a = w.samples[i] - gain * old[i];
    before[i + 1] = before[i] + a * a;
    quiet[i + 1] = quiet[i] + static_cast<double>(w.samples[i]) * w.samples[i];
  }
  for (std::size_t i = n; i-- > 0;) {
    const double b = w.samples[i] - gain * now[i];
    after[i] = after[i + 1] + b * b;
  }
  std::vector<double> cost(n + 1);
  for (std::size_t x = 0; x <= n; ++x) cost[x] = before[x] + after[x];
  double least = 0.0;
  // The noise per sample is taken over the samples where TC.wav sounds: a lossy codec's error
  // lies under the bursts, and the silence between them it leaves nearly silent. That error
  // follows the signal, so it can favour a wrong line over a burst's faint fade by a share of
  // all it leaves unexplained, which white noise never does.
  const auto sounding = std::count_if(old.begin(), old.end(), [](double v) { return v != 0.0; });
  const double unexplained = *std::min_element(cost.begin(), cost.end());
  const double noise = unexplained / static_cast<double>(std::max<std::ptrdiff_t>(sounding, 1));
  const double slack = std::max(kLikelyNoise * noise, kLikelyShare * unexplained) + 1e-12;
  auto [lo, hi] = Likeliest(cost, slack, least);
  // Silence where TC.wav is silent too fits both a repeat of it and an insertion of silence; a
  // playback system inserts silence (a buffer run dry) far more often than it repeats some, so
  // a tie is an insertion, unless it is a few samples only: a slip that small is told from its
  // place as a repeat.
  if (event.kind == EventKind::repeat) {
    const auto added = static_cast<std::size_t>(std::lround(std::abs(event.jumpRecording)));
    if (added > 0 && added < n) {
      std::vector<double> inserted(n + 1 - added);
      for (std::size_t x = 0; x + added <= n; ++x) {
        inserted[x] = before[x] + (quiet[x + added] - quiet[x]) + after[x + added];
      }
      double leastInserted = 0.0;
      const auto [ilo, ihi] = Likeliest(inserted, slack, leastInserted);
      const bool clearly = leastInserted + slack < least;
      if (clearly || (leastInserted <= least + slack && added >= kShortestSilence)) {
        event.kind = EventKind::insertion;
        lo = ilo;
        hi = ihi;
      }
    }
  }
  event.recordingFirst = static_cast<double>(w.first + static_cast<std::int64_t>(lo));
  event.recordingLast = static_cast<double>(w.first + static_cast<std::int64_t>(hi));
  event.leftAt = w.before->TimecodeAt(event.recordingFirst);
  event.resumedAt = event.leftAt + event.jumpTimecode;
}

}  // namespace

void PlaceEvents(VerifyReport& report, SoundFile& file, int channel) {
  if (!file.CanRewind()) return;
  std::vector<Window> windows;
  const auto& segments = report.map.segments;
  for (std::size_t k = 1; k < segments.size(); ++k) {
    for (std::size_t e = 0; e < report.map.events.size(); ++e) {
      const PlaybackEvent& event = report.map.events[e];
      if (event.kind == EventKind::damage || event.frameAfter != segments[k].firstFrame ||
          event.frameSample != report.frames[segments[k].firstIndex].foundSample) {
        continue;
      }
      const auto first = static_cast<std::int64_t>(std::floor(event.searchFirst));
      const auto last = static_cast<std::int64_t>(std::ceil(event.searchLast));
      // A pause of an hour would want an hour of samples held at once: an event further than a
      // few frames from both neighbours keeps the interval its frames give.
      if (first < 0 || last <= first || last - first > kMostWindowFrames * kFrameSamples) break;
      windows.push_back({e, first, std::vector<float>(static_cast<std::size_t>(last - first)),
                         &segments[k - 1], &segments[k]});
      break;
    }
  }
  if (windows.empty()) return;
  // One more pass over the recording, taking each window's samples as they go by.
  file.Rewind(SoundFile::Replay::kDrop);
  std::vector<float> block(kBlock);
  std::int64_t at = 0;
  std::int64_t end = 0;
  for (const Window& w : windows)
    end = std::max<std::int64_t>(end, w.first + std::ssize(w.samples));
  while (at < end) {
    const std::size_t got = file.ReadChannel(channel, block.data(), kBlock);
    if (got == 0) break;
    for (Window& w : windows) {
      const std::int64_t from = std::max(at, w.first);
      const std::int64_t to =
          std::min(at + static_cast<std::int64_t>(got), w.first + std::ssize(w.samples));
      for (std::int64_t i = from; i < to; ++i) {
        // A sample that is no number is never used, here as on the first pass.
        const float x = block[static_cast<std::size_t>(i - at)];
        w.samples[static_cast<std::size_t>(i - w.first)] = std::isfinite(x) ? x : 0.0f;
      }
    }
    at += static_cast<std::int64_t>(got);
  }
  for (Window& w : windows) {
    if (w.first + std::ssize(w.samples) <= at) Place(report, w, report.map.events[w.event]);
  }
}
