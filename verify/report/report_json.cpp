#include "verify/report/report_json.h"

#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "verify/report/report_format.h"
#include "verify/report/report_reference.h"

namespace {

// Sub-sample positions are found to about a thousandth of a sample; a ten-thousandth keeps
// every digit that means something.
constexpr int kSampleDecimals = 4;
constexpr int kPpmDecimals = 4;
// Seconds to a tenth of a microsecond: a fraction of a sample at any rate this reads.
constexpr int kSecondsDecimals = 7;
constexpr int kLevelDecimals = 2;
// Recording samples per TC.wav sample, to a hundredth of a ppm.
constexpr int kSlopeDecimals = 10;

std::string String(const std::string& text) {
  return JsonString(text);
}

std::string Bool(bool value) {
  return value ? "true" : "false";
}

std::string Jumps(const VerifyReport& r) {
  return JsonArray(r.discontinuities, [&r](const Discontinuity& d) {
    return "{\"frame\": " + std::to_string(d.frame) +
           ", \"jump_samples\": " + JsonNumber(d.jumpSamples, kSampleDecimals) +
           ", \"sample\": " + JsonNumber(d.sample, kSampleDecimals) +
           ", \"time_s\": " + JsonNumber(d.sample / r.sampleRate, kSecondsDecimals) + "}";
  });
}

std::string Segments(const PlaybackMap& map) {
  return JsonArray(map.segments, [](const Segment& g) {
    return "{\"recording_first\": " + JsonNumber(g.recordingFirst, kSampleDecimals) +
           ", \"recording_last\": " + JsonNumber(g.recordingLast, kSampleDecimals) +
           ", \"tc_first\": " + JsonNumber(g.timecodeFirst, kSampleDecimals) +
           ", \"slope\": " + JsonNumber(g.slope, kSlopeDecimals) +
           ", \"first_frame\": " + std::to_string(g.firstFrame) +
           ", \"last_frame\": " + std::to_string(g.lastFrame) +
           ", \"frames_read\": " + std::to_string(g.framesRead) + "}";
  });
}

std::string Events(const PlaybackMap& map) {
  return JsonArray(map.events, [](const PlaybackEvent& e) {
    return "{\"kind\": " + String(EventName(e.kind)) +
           ", \"recording_first\": " + JsonNumber(e.recordingFirst, kSampleDecimals) +
           ", \"recording_last\": " + JsonNumber(e.recordingLast, kSampleDecimals) +
           ", \"exact\": " + Bool(e.Exact()) +
           ", \"left_tc\": " + JsonNumber(e.leftAt, kSampleDecimals) +
           ", \"resumed_tc\": " + JsonNumber(e.resumedAt, kSampleDecimals) +
           ", \"jump_tc\": " + JsonNumber(e.jumpTimecode, kSampleDecimals) +
           ", \"jump_recording\": " + JsonNumber(e.jumpRecording, kSampleDecimals) +
           ", \"jump_error\": " + JsonNumber(e.jumpError, kSampleDecimals) +
           ", \"frame_after\": " + std::to_string(e.frameAfter) +
           ", \"frames_unreadable\": " + std::to_string(e.framesHit) + "}";
  });
}

std::string Frames(const std::vector<FoundFrame>& frames) {
  return JsonArray(
      frames,
      [](const FoundFrame& f) {
        return "{\"frame\": " + std::to_string(f.number) +
               ", \"sample\": " + JsonNumber(f.foundSample, kSampleDecimals) +
               ", \"offset_samples\": " + JsonNumber(f.offsetSamples, kSampleDecimals) +
               ", \"check_ok\": " + Bool(f.checkOk) +
               ", \"level_dbfs\": " + JsonNumber(f.levelDbfs, kLevelDecimals) + "}";
      },
      true);
}

// Each other channel that carries the timecode, with its latency less that of "channel".
std::string Offsets(const std::vector<OtherChannel>& others) {
  return JsonArray(others, [](const OtherChannel& o) {
    return "{\"channel\": " + std::to_string(o.channel) +
           ", \"frames_found\": " + std::to_string(o.framesFound) +
           ", \"faults\": " + std::to_string(o.faults) +
           ", \"latency_samples\": " + JsonNumber(o.latencySamples, kSampleDecimals) +
           ", \"offset_samples\": " + JsonNumber(o.offsetSamples, kSampleDecimals) + "}";
  });
}

}  // namespace

void WriteJson(std::ostream& out, const VerifyReport& report) {
  std::vector<int> unreadable;
  for (const FramePlace& place : report.unreadable) unreadable.push_back(place.frame);
  const auto [judgedFirst, judgedLast] = JudgedRange(report);
  // Drift and jitter need a fit through enough frames; without one they are not numbers at all.
  const auto timing = [&report](double value, int decimals) {
    return report.timingMeasured ? JsonNumber(value, decimals) : std::string("null");
  };
  std::vector<std::pair<const char*, std::string>> fields = {
      {"file", String(report.file)},
      {"verdict", String(report.Clean() ? "clean" : "faults")},
      {"type", String(std::string(1, FactsOf(report.type).letter))},
      {"method", std::to_string(report.method)},
      {"method_assumed", Bool(report.methodAssumed)},
      {"dtmf_id", std::to_string(report.dtmfId)},
      {"sample_rate", std::to_string(report.sampleRate)},
      {"channel", std::to_string(report.channel)},
      {"channels", std::to_string(report.channels)},
      {"samples_declared",
       report.framesDeclared < 0 ? "null" : std::to_string(report.framesDeclared)},
      {"samples_read", std::to_string(report.framesRead)},
      {"truncated", Bool(report.Truncated())},
      {"length_undeclared", Bool(report.lengthUndeclared)},
      {"first_frame", std::to_string(report.firstFrame)},
      {"last_frame", std::to_string(report.lastFrame)},
      {"judged_first", std::to_string(judgedFirst)},
      {"judged_last", std::to_string(judgedLast)},
      {"frames_found", std::to_string(report.framesFound)},
      {"missing", JsonInts(report.missing)},
      {"unreadable", JsonInts(unreadable)},
      {"duplicated", JsonInts(report.duplicated)},
      {"out_of_order", JsonInts(report.outOfOrder)},
      {"check_failures", JsonInts(report.checkFailures)},
      {"non_finite_count", std::to_string(report.nonFiniteCount)},
      {"non_finite_samples", JsonInts(report.nonFiniteSamples)},
      {"latency_samples", JsonNumber(report.latencySamples, kSampleDecimals)},
      {"drift_ppm", timing(report.driftPpm, kPpmDecimals)},
      {"jitter_rms_samples", timing(report.jitterRmsSamples, kSampleDecimals)},
      {"jitter_max_samples", timing(report.jitterMaxSamples, kSampleDecimals)},
      {"threshold_samples", JsonNumber(report.thresholdSamples, kSampleDecimals)},
      {"sample_exact", Bool(report.sampleExact)},
      {"discontinuities", Jumps(report)},
      {"segments", Segments(report.map)},
      {"events", Events(report.map)},
      {"channel_offsets", Offsets(report.otherChannels)},
  };
  for (auto& field : ReferenceJsonFields(report)) fields.push_back(std::move(field));
  fields.emplace_back("frames", Frames(report.frames));
  out << "{\n";
  for (std::size_t i = 0; i < fields.size(); ++i) {
    out << "  " << String(fields[i].first) << ": " << fields[i].second
        << (i + 1 < fields.size() ? ",\n" : "\n");
  }
  out << "}\n";
}
