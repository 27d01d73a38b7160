#include "verify/report_text.h"

#include <string>

#include "verify/report_format.h"

namespace {

constexpr double kMsPerSecond = 1000.0;
constexpr int kSampleDecimals = 2;
constexpr int kMsDecimals = 3;
constexpr int kJitterDecimals = 3;

void Line(std::ostream& out, const char* name, const std::string& value) {
  constexpr std::size_t kNameWidth = 17;
  std::string padded = name;
  padded.resize(kNameWidth, ' ');
  out << padded << value << '\n';
}

// A span of recording samples, also in milliseconds, the unit people think of latency in.
std::string SamplesAndMs(double samples, int rate, bool sign) {
  const double ms = rate > 0 ? samples * kMsPerSecond / rate : 0.0;
  const auto fixed = sign ? FormatSigned : FormatFixed;
  return fixed(samples, kSampleDecimals) + " samples (" + fixed(ms, kMsDecimals) + " ms)";
}

std::string MethodText(const VerifyReport& report) {
  std::string text = std::to_string(report.method);
  if (report.methodAssumed) {
    text += " (assumed: the recording holds neither frame 1 nor the * that ends the last frame)";
  }
  return text;
}

}  // namespace

void WriteSummary(std::ostream& out, const VerifyReport& report) {
  Line(out, "file", report.file);
  Line(out, "type", report.type == 'S' ? "DTMF-S" : "DTMF-F");
  Line(out, "method", MethodText(report));
  Line(out, "DTMF ID", std::to_string(report.dtmfId));
  Line(out, "sample rate", std::to_string(report.sampleRate) + " Hz");
  Line(out, "channel", std::to_string(report.channel) + " of " + std::to_string(report.channels));
  Line(out, "frames",
       std::to_string(report.firstFrame) + ".." + std::to_string(report.lastFrame) + ", " +
           std::to_string(report.framesFound) + " found");
  Line(out, "missing", FormatFrameList(report.missing));
  Line(out, "duplicated", FormatFrameList(report.duplicated));
  Line(out, "out of order", FormatFrameList(report.outOfOrder));
  Line(out, "check failures", FormatFrameList(report.checkFailures));
  Line(out, "latency", SamplesAndMs(report.latencySamples, report.sampleRate, false));
  Line(out, "drift", FormatSigned(report.driftPpm, kSampleDecimals) + " ppm");
  Line(out, "jitter",
       FormatFixed(report.jitterRmsSamples, kJitterDecimals) + " samples RMS, " +
           FormatFixed(report.jitterMaxSamples, kJitterDecimals) + " max");
  Line(out, "discontinuities",
       report.discontinuities.empty() ? "none" : std::to_string(report.discontinuities.size()));
  for (const Discontinuity& jump : report.discontinuities) {
    out << "  at frame " << jump.frame << ": "
        << SamplesAndMs(jump.jumpSamples, report.sampleRate, true) << '\n';
  }
  Line(out, "result", report.Clean() ? "clean" : "faults found");
}
