#include "verify/report/report_labels.h"

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "verify/report/report_format.h"

namespace {

// Audacity reads label times in seconds; nine decimals keep a thousandth of a sample at 1 MHz,
// so a label lands where the frame was found, not on the nearest sample.
constexpr int kSecondsDecimals = 9;
constexpr int kJumpDecimals = 2;
constexpr double kPerMillion = 1e-6;

struct Label {
  double start;
  double end;
  std::string text;
};

// A fault's point label, or none where the frame's own label shows it.
std::optional<Label> FaultLabel(const PlacedFault& fault, const VerifyReport& report) {
  std::string text;
  double end = fault.sample;
  switch (fault.kind) {
    case PlacedFault::Kind::event: {
      // Over the samples it may lie in; a point where it is exact.
      const PlaybackEvent& event = report.map.events[fault.event];
      end = event.recordingLast;
      text = EventName(event.kind);
      if (event.kind != EventKind::damage) {
        text += " " + FormatSigned(event.jumpTimecode, kJumpDecimals) + ", TC.wav " +
                FormatSampleCount(event.leftAt) + " to " + FormatSampleCount(event.resumedAt);
      }
      break;
    }
    case PlacedFault::Kind::jump:
      text = "jump " + FormatSigned(fault.jumpSamples, kJumpDecimals);
      break;
    case PlacedFault::Kind::missing:
      text = "missing " + std::to_string(fault.frame);
      break;
    case PlacedFault::Kind::unreadable:
      text = "unreadable " + std::to_string(fault.frame);
      break;
    case PlacedFault::Kind::duplicated:
      text = "duplicated " + std::to_string(fault.frame);
      break;
    case PlacedFault::Kind::outOfOrder:
      text = "out of order " + std::to_string(fault.frame);
      break;
    case PlacedFault::Kind::nonFinite:
      text = "non-finite sample";
      break;
    case PlacedFault::Kind::stopped:
      text = "reading stopped, " + std::to_string(report.framesDeclared - report.framesRead) +
             " samples lost";
      break;
    case PlacedFault::Kind::check:
      return std::nullopt;  // the frame's own label is there; the CSV and summary name the check
  }
  return Label{fault.sample, end, text};
}

}  // namespace

void WriteLabels(std::ostream& out, const VerifyReport& report) {
  if (report.sampleRate <= 0) return;
  // A frame's length in the recording: its length in TC.wav, scaled by the rates and stretched
  // by the drift the fit found.
  const double drift = report.timingMeasured ? report.driftPpm * kPerMillion : 0.0;
  const double scale =
      static_cast<double>(report.sampleRate) / TimecodeRate(report.type) * (1.0 + drift);
  std::vector<Label> labels;
  const auto& frames = report.frames;
  for (std::size_t i = 0; i < frames.size(); ++i) {
    const double start = frames[i].foundSample;
    double end = start + TimecodeFrameSpacing(frames[i].number, report.method) * scale;
    // A dropout shortens the frame to where the next one begins; a gap after it (frames
    // missing, or a frame out of order) does not lengthen it.
    if (i + 1 < frames.size() && frames[i + 1].foundSample > start) {
      end = std::min(end, frames[i + 1].foundSample);
    }
    labels.push_back({start, end, std::to_string(frames[i].number)});
  }
  // Faults are point labels, so they show as marks of their own beside the frames' stretches.
  for (const PlacedFault& fault : PlacedFaults(report)) {
    if (const std::optional<Label> label = FaultLabel(fault, report)) labels.push_back(*label);
  }
  std::stable_sort(labels.begin(), labels.end(),
                   [](const Label& a, const Label& b) { return a.start < b.start; });
  for (const Label& label : labels) {
    out << FormatFixed(label.start / report.sampleRate, kSecondsDecimals) << '\t'
        << FormatFixed(label.end / report.sampleRate, kSecondsDecimals) << '\t' << label.text
        << '\n';
  }
}
