#include "verify/map/frame_judge.h"

#include <algorithm>
#include <cmath>
#include <utility>

#include "timecode_format/dtmf_burst.h"
#include "verify/map/playback_map.h"
#include "verify/map/reader_tuning.h"
#include "verify/map/timing_fit.h"

namespace {

// Where a frame begins, from all of its bursts: each burst's place less its slots at the
// measured slope. The bursts that agree with the start marker count; where a slip inside the
// frame splits them, the frame lies where its start marker and the bursts with it lie.
double CombinedPlace(const GridFrame& frame, double slope, double agreement) {
  std::vector<double> places;
  for (std::size_t k = 0; k < kBurstsPerFrame; ++k) {
    if (std::isnan(frame.at[k])) continue;
    places.push_back(frame.at[k] - static_cast<double>(2 * k * kSlotSamples) * slope);
  }
  if (places.size() < 2) return frame.at[0];
  // Groups of places that lie within `agreement` of their neighbours.
  const double marker = places[0];
  std::sort(places.begin(), places.end());
  std::vector<std::pair<std::size_t, std::size_t>> groups;
  std::size_t from = 0;
  for (std::size_t i = 1; i <= places.size(); ++i) {
    if (i == places.size() || places[i] - places[i - 1] > agreement) {
      groups.emplace_back(from, i);
      from = i;
    }
  }
  auto size = [](const std::pair<std::size_t, std::size_t>& g) { return g.second - g.first; };
  auto mean = [&](const std::pair<std::size_t, std::size_t>& g) {
    double sum = 0.0;
    for (std::size_t i = g.first; i < g.second; ++i) sum += places[i];
    return sum / static_cast<double>(size(g));
  };
  if (groups.size() == 1) return mean(groups[0]);
  auto holdsMarker = [&](const std::pair<std::size_t, std::size_t>& g) {
    return places[g.first] <= marker && marker <= places[g.second - 1];
  };
  // A slip inside the frame: a burst it cut through is placed part-way and may join either
  // group, so the marker alone places the frame where it stands with another burst or no group
  // is larger; else the largest group does (the slip cut the marker itself).
  auto chosen = *std::max_element(groups.begin(), groups.end(), [&](const auto& a, const auto& b) {
    return size(a) != size(b) ? size(a) < size(b) : holdsMarker(b);
  });
  for (const auto& group : groups) {
    if (holdsMarker(group) && (size(group) >= 2 || size(group) == size(chosen))) return marker;
  }
  return mean(chosen);
}

// How far the bursts of a frame scatter about the frame's own mean, over the whole recording.
double BurstScatter(const std::vector<GridFrame>& frames, double slope) {
  std::vector<double> deviations;
  for (const GridFrame& frame : frames) {
    std::vector<double> places;
    for (std::size_t k = 0; k < kBurstsPerFrame; ++k) {
      if (!std::isnan(frame.at[k]))
        places.push_back(frame.at[k] - static_cast<double>(2 * k * kSlotSamples) * slope);
    }
    if (places.size() < 2) continue;
    const double centre = Median(places);
    for (const double place : places) deviations.push_back(std::abs(place - centre));
  }
  return deviations.empty() ? 0.0 : kMadToSd * Median(deviations);
}

// The bursts of frames read whose samples their burst explains clearly less well than the
// recording's bursts mostly are: a part of them was lost (zeroed, overwritten). Noise lowers
// every burst's fit alike, so only the fits that stray below the rest count.
// `slope` places a burst that could not be placed itself: from its frame's start marker.
std::vector<FramePlace> DamagedBursts(const std::vector<GridFrame>& frames, double slope) {
  std::vector<double> fits;
  for (const GridFrame& frame : frames) {
    for (std::size_t k = 0; k < kBurstsPerFrame && !frame.unreadable; ++k) {
      if (!std::isnan(frame.fit[k])) fits.push_back(frame.fit[k]);
    }
  }
  if (fits.empty()) return {};
  const double typical = Median(fits);
  for (double& fit : fits) fit = std::abs(fit - typical);
  const double deviation = kMadToSd * Median(fits);
  const double least = typical - std::max(kLeastLoss * typical, kLossDeviations * deviation);
  std::vector<FramePlace> damaged;
  for (const GridFrame& frame : frames) {
    for (std::size_t k = 0; k < kBurstsPerFrame && !frame.unreadable; ++k) {
      // A loop table is written over the first samples of TC.wav, inside frame 1's marker.
      const bool underTable = frame.raw.number == 1 && k == 0;
      if ((frame.fit[k] < least || frame.lost[k]) &&
          !underTable) {  // never for a fit of NaN (no known symbol)
        const double at = std::isnan(frame.at[k])
                              ? frame.at[0] + static_cast<double>(2 * k * kSlotSamples) * slope
                              : frame.at[k];
        damaged.push_back({frame.raw.number, at});
      }
    }
  }
  return damaged;
}

// Frame 1's markers tell the method; failing that, the '*' in place of the last check symbol.
int FindMethod(const std::vector<GridFrame>& frames, bool& assumed) {
  assumed = false;
  for (const GridFrame& frame : frames) {
    if (frame.raw.number == 1) return frame.raw.marker == kCheckStar ? kMethod1 : kMethod2;
  }
  for (const GridFrame& frame : frames) {
    if (!frame.unreadable && frame.raw.check == kCheckStar) return kMethod2;
  }
  assumed = true;
  return kMethod2;
}

// The ID most check symbols agree on; the '*' ending the run is no check symbol.
int FindDtmfId(const std::vector<GridFrame>& frames) {
  std::array<int, kMaxDtmfId + 1> votes{};
  for (const GridFrame& frame : frames) {
    if (!frame.unreadable && frame.raw.check != kCheckStar)
      ++votes[static_cast<std::size_t>(IdFromCheck(frame.raw.number, frame.raw.check))];
  }
  const auto best = std::max_element(votes.begin() + 1, votes.end());
  return static_cast<int>(best - votes.begin());
}

}  // namespace

void CheckOptions(const VerifyOptions& options, int channels, const std::string& path) {
  if (options.channel && (*options.channel < 1 || *options.channel > channels)) {
    throw VerifyError(path + ": has no channel " + std::to_string(*options.channel));
  }
  if (options.method && *options.method != kMethod1 && *options.method != kMethod2) {
    throw VerifyError("the method is 1 or 2");
  }
  if (options.dtmfId && (*options.dtmfId < 1 || *options.dtmfId > kMaxDtmfId)) {
    throw VerifyError("the DTMF ID is 1 to 10");
  }
}

bool AnyReadable(const std::vector<GridFrame>& frames) {
  return std::any_of(frames.begin(), frames.end(),
                     [](const GridFrame& f) { return !f.unreadable; });
}

// Fills the report from one channel's frames: the method and DTMF ID where not given, every
// frame with its place from all of its bursts, and the fit.
void Judge(VerifyReport& report, const ChannelFrames& read, const VerifyOptions& options) {
  report.channel = read.channel + 1;
  report.method = options.method ? *options.method : FindMethod(read.frames, report.methodAssumed);
  report.dtmfId = options.dtmfId ? *options.dtmfId : FindDtmfId(read.frames);
  for (const GridFrame& frame : read.frames) {
    if (frame.unreadable) {
      report.unreadable.push_back({frame.raw.number, frame.at[0]});
      continue;
    }
    FoundFrame found;
    found.number = frame.raw.number;
    found.foundSample = frame.at[0];
    found.levelDbfs = frame.raw.start.match.levelDbfs;
    if (frame.raw.check != kCheckStar) {
      found.checkId = IdFromCheck(frame.raw.number, frame.raw.check);
    }
    found.checkOk = frame.raw.check == kCheckStar
                        ? report.method == kMethod2
                        : CheckSymbol(frame.raw.number, report.dtmfId) == frame.raw.check;
    if (!found.checkOk) report.checkFailures.push_back(frame.raw.number);
    report.frames.push_back(found);
  }
  const double ratio = static_cast<double>(report.sampleRate) / TimecodeRate(report.type);
  // The start markers alone give the slope; with it every burst gives the place of its frame.
  const double slope = FitTiming(report, ratio, options.toleranceSamples);
  const double agreement =
      std::max(kBurstAgreement, kBurstDeviations * BurstScatter(read.frames, slope));
  // The bursts were matched stretched to the speed first heard; a burst matched at the wrong
  // stretch is placed by its middle, so every place moves by half a burst times the difference.
  const double centre = 0.5 * (dtmf_burst::kBurstSamples - 1);
  const double moved = centre * (read.stretch - slope);
  std::size_t next = 0;
  for (const GridFrame& frame : read.frames) {
    if (frame.unreadable) continue;
    FoundFrame& found = report.frames[next++];
    found.foundSample = CombinedPlace(frame, slope, agreement) + moved;
    for (std::size_t k = 0; k < kBurstsPerFrame; ++k) found.bursts[k] = frame.at[k] + moved;
  }
  for (FramePlace& place : report.unreadable) place.sample += moved;
  report.damaged = DamagedBursts(read.frames, slope);
  for (FramePlace& place : report.damaged) place.sample += moved;
  FitTiming(report, ratio, options.toleranceSamples);
  BuildEvents(report);
}

// Another channel's report, summed up against the report of the first.
OtherChannel SumUp(const VerifyReport& other, const VerifyReport& first) {
  OtherChannel summary;
  summary.channel = other.channel;
  summary.framesFound = other.framesFound;
  summary.faults = static_cast<int>(other.missing.size() + other.unreadable.size() +
                                    other.duplicated.size() + other.outOfOrder.size() +
                                    other.checkFailures.size() + other.discontinuities.size());
  summary.latencySamples = other.latencySamples;
  summary.offsetSamples = other.latencySamples - first.latencySamples;
  return summary;
}
