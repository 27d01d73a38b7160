#include "verify/report_labels.h"

#include <algorithm>

#include "verify/report_format.h"

namespace {

// Audacity reads label times in seconds; six decimals resolve a single sample at any rate.
constexpr int kSecondsDecimals = 6;
constexpr double kPerMillion = 1e-6;

}  // namespace

void WriteLabels(std::ostream& out, const VerifyReport& report) {
  if (report.sampleRate <= 0) return;
  // A frame's length in the recording: its length in TC.wav, scaled by the rates and stretched
  // by the drift the fit found.
  const double scale = static_cast<double>(report.sampleRate) / TimecodeRate(report.type) *
                       (1.0 + report.driftPpm * kPerMillion);
  const auto& frames = report.frames;
  for (std::size_t i = 0; i < frames.size(); ++i) {
    const double start = frames[i].foundSample;
    double end = start + TimecodeFrameSpacing(frames[i].number, report.method) * scale;
    // A dropout shortens the frame to where the next one begins; a gap after it (frames
    // missing, or a frame out of order) does not lengthen it.
    if (i + 1 < frames.size() && frames[i + 1].foundSample > start) {
      end = std::min(end, frames[i + 1].foundSample);
    }
    out << FormatFixed(start / report.sampleRate, kSecondsDecimals) << '\t'
        << FormatFixed(end / report.sampleRate, kSecondsDecimals) << '\t' << frames[i].number
        << '\n';
  }
}
