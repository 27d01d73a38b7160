#include "verify/report/report_text.h"

#include <cmath>
#include <string>

#include "verify/report/report_format.h"
#include "verify/report/report_reference.h"

namespace {

constexpr double kMsPerSecond = 1000.0;
constexpr int kSampleDecimals = 2;
constexpr int kMsDecimals = 3;
constexpr int kJitterDecimals = 3;
constexpr char kNotMeasurable[] = "not measurable (too few frames)";

constexpr std::size_t kNameWidth = 17;

void Line(std::ostream& out, const char* name, const std::string& value) {
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

// Where something lies in the recording: the time a player shows, and the sample an editor does.
std::string Place(double sample, int rate) {
  return FormatSeconds(sample, rate) + " s, sample " + FormatFixed(sample, kSampleDecimals);
}

std::string MethodText(const VerifyReport& report) {
  std::string text = std::to_string(report.method);
  if (report.methodAssumed) {
    text += " (assumed: the recording holds neither frame 1 nor the * that ends the last frame)";
  }
  return text;
}

std::string LengthText(const VerifyReport& r) {
  const auto read = static_cast<double>(r.framesRead);
  std::string text =
      std::to_string(r.framesRead) + " samples (" + FormatSeconds(read, r.sampleRate) + " s)";
  if (r.Truncated()) {
    const auto lost = static_cast<double>(r.framesDeclared - r.framesRead);
    text += "; reading stopped there, " + std::to_string(r.framesDeclared - r.framesRead) +
            " samples (" + FormatSeconds(lost, r.sampleRate) + " s) short of the " +
            std::to_string(r.framesDeclared) + " the header declares";
  }
  if (!r.stopReason.empty()) text += " (" + r.stopReason + ")";
  if (r.lengthUndeclared) {
    text +=
        "; the header declares no length (the recorder never closed the file): read to the "
        "end of the file";
  }
  return text;
}

std::string JudgedText(const VerifyReport& r) {
  const auto [first, last] = JudgedRange(r);
  std::string text = "frames " + std::to_string(first) + ".." + std::to_string(last) + " judged";
  if (!r.rangeStated) text += "; frames outside them were not judged";
  return text;
}

// Frame numbers as runs, then each with its place when the reader gave one.
void FaultList(std::ostream& out, const char* name, const std::vector<int>& numbers,
               const std::vector<FramePlace>& places, int rate) {
  Line(out, name, FormatFrameList(numbers));
  for (const FramePlace& place : places) {
    out << "  frame " << place.frame << " at " << Place(place.sample, rate) << '\n';
  }
}

std::string NonFiniteText(const VerifyReport& r) {
  if (r.nonFiniteCount == 0) return "none";
  std::string text = std::to_string(r.nonFiniteCount) + " samples (NaN or infinite), at";
  for (std::size_t i = 0; i < r.nonFiniteSamples.size(); ++i) {
    const auto sample = static_cast<double>(r.nonFiniteSamples[i]);
    text += (i ? ", " : " ") + FormatSeconds(sample, r.sampleRate) + " s (sample " +
            std::to_string(r.nonFiniteSamples[i]) + ")";
  }
  if (static_cast<std::int64_t>(r.nonFiniteSamples.size()) < r.nonFiniteCount) text += ", ...";
  return text;
}

std::string JumpsText(const VerifyReport& r) {
  if (r.discontinuities.empty()) return "none";
  double sum = 0.0;
  double largest = 0.0;
  for (const Discontinuity& jump : r.discontinuities) {
    sum += jump.jumpSamples;
    if (std::abs(jump.jumpSamples) > std::abs(largest)) largest = jump.jumpSamples;
  }
  return std::to_string(r.discontinuities.size()) + ", sum " +
         SamplesAndMs(sum, r.sampleRate, true) + ", largest " +
         SamplesAndMs(largest, r.sampleRate, true);
}

// The other channels that carry the timecode, each with its offset from this one.
void WriteOtherChannels(std::ostream& out, const VerifyReport& report) {
  const int rate = report.sampleRate;
  if (report.otherChannels.empty()) return;
  std::string channels;
  for (const OtherChannel& other : report.otherChannels) {
    channels += (channels.empty() ? "" : ", ") + std::to_string(other.channel);
  }
  Line(out, "other channels", channels);
  for (const OtherChannel& other : report.otherChannels) {
    out << "  channel " << other.channel << ": " << SamplesAndMs(other.offsetSamples, rate, true)
        << " from channel " << report.channel << ", " << other.framesFound << " found, "
        << (other.faults == 0 ? std::string("no fault") : std::to_string(other.faults) + " faults")
        << '\n';
  }
}

// Drift and jitter, where the fit could measure them.
void WriteTiming(std::ostream& out, const VerifyReport& report) {
  if (report.timingMeasured) {
    Line(out, "drift", FormatSigned(report.driftPpm, kSampleDecimals) + " ppm");
    Line(out, "jitter",
         FormatFixed(report.jitterRmsSamples, kJitterDecimals) + " samples RMS, " +
             FormatFixed(report.jitterMaxSamples, kJitterDecimals) + " max");
  } else {
    Line(out, "drift", kNotMeasurable);
    Line(out, "jitter", kNotMeasurable);
  }
}

}  // namespace

void WriteSummary(std::ostream& out, const VerifyReport& report) {
  const int rate = report.sampleRate;
  Line(out, "file", report.file);
  Line(out, "type", FactsOf(report.type).reportName);
  Line(out, "method", MethodText(report));
  Line(out, "DTMF ID", DtmfIdText(report));
  Line(out, "sample rate", std::to_string(rate) + " Hz");
  Line(out, "channel", std::to_string(report.channel) + " of " + std::to_string(report.channels));
  Line(out, "length", LengthText(report));
  Line(out, "frame length", SamplesAndMs(FrameLengthSamples(report), rate, false));
  Line(out, "frames",
       std::to_string(report.firstFrame) + ".." + std::to_string(report.lastFrame) + ", " +
           std::to_string(report.framesFound) + " found");
  Line(out, "judged", JudgedText(report));
  FaultList(out, "missing", report.missing, report.missingPlaces, rate);
  std::vector<int> unreadable;
  for (const FramePlace& place : report.unreadable) unreadable.push_back(place.frame);
  FaultList(out, "unreadable", unreadable, report.unreadable, rate);
  FaultList(out, "duplicated", report.duplicated, DuplicatedPlaces(report), rate);
  FaultList(out, "out of order", report.outOfOrder, OutOfOrderPlaces(report), rate);
  std::vector<FramePlace> wrongChecks;
  for (const FoundFrame& frame : report.frames) {
    if (!frame.checkOk) wrongChecks.push_back({frame.number, frame.foundSample});
  }
  FaultList(out, "check failures", report.checkFailures, wrongChecks, rate);
  Line(out, "non-finite", NonFiniteText(report));
  Line(out, "latency", SamplesAndMs(report.latencySamples, rate, false));
  WriteOtherChannels(out, report);
  WriteTiming(out, report);
  Line(out, "threshold", FormatFixed(report.thresholdSamples, kSampleDecimals) + " samples");
  if (!report.sampleExact) {
    out << "  single-sample slips cannot be told from noise in this recording\n";
  }
  Line(out, "discontinuities", JumpsText(report));
  for (const Discontinuity& jump : report.discontinuities) {
    out << "  at frame " << jump.frame << ": " << SamplesAndMs(jump.jumpSamples, rate, true)
        << ", at " << Place(jump.sample, rate) << '\n';
  }
  const auto& events = report.map.events;
  Line(out, "events", events.empty() ? "none" : std::to_string(events.size()));
  for (const PlaybackEvent& event : events) out << "  " << EventText(event) << '\n';
  WriteReferenceLines(out, report, kNameWidth);
  Line(out, "result", report.Clean() ? "clean" : "faults found");
}
