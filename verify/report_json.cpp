#include "verify/report_json.h"

#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "verify/report_format.h"

namespace {

// Sub-sample positions are found to about a thousandth of a sample; a ten-thousandth keeps
// every digit that means something.
constexpr int kSampleDecimals = 4;
constexpr int kPpmDecimals = 4;
// Seconds to a tenth of a microsecond: a fraction of a sample at any rate this reads.
constexpr int kSecondsDecimals = 7;
constexpr int kLevelDecimals = 2;

// JSON has no NaN or infinity: a value the fit could not give is null.
std::string Number(double value, int decimals) {
  return std::isfinite(value) ? FormatFixed(value, decimals) : "null";
}

// The length of the well-formed UTF-8 sequence at text[at], or 0 where none starts: no
// overlong form, no surrogate, nothing past U+10FFFF (the table of RFC 3629).
std::size_t Utf8Length(const std::string& text, std::size_t at) {
  const auto byte = [&](std::size_t i) {
    return at + i < text.size() ? static_cast<unsigned char>(text[at + i]) : 0u;
  };
  const unsigned lead = byte(0);
  std::size_t length = 0;
  unsigned low = 0x80, high = 0xBF;  // the range of the second byte
  if (lead >= 0xC2 && lead <= 0xDF) length = 2;
  if (lead >= 0xE0 && lead <= 0xEF) length = 3;
  if (lead >= 0xF0 && lead <= 0xF4) length = 4;
  if (lead == 0xE0) low = 0xA0;
  if (lead == 0xED) high = 0x9F;
  if (lead == 0xF0) low = 0x90;
  if (lead == 0xF4) high = 0x8F;
  if (length == 0 || byte(1) < low || byte(1) > high) return 0;
  for (std::size_t i = 2; i < length; ++i) {
    if (byte(i) < 0x80 || byte(i) > 0xBF) return 0;
  }
  return length;
}

// A JSON string is UTF-8: a file name may hold any bytes, so one that is not UTF-8 is given as
// U+FFFD, and the document stays one a reader takes.
std::string String(const std::string& text) {
  std::string out = "\"";
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    const auto byte = static_cast<unsigned char>(c);
    if (byte >= 0x80) {
      const std::size_t length = Utf8Length(text, i);
      out += length ? text.substr(i, length) : "\\ufffd";
      i += length ? length - 1 : 0;
    } else if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (byte < 0x20) {
      constexpr char kHex[] = "0123456789abcdef";
      out += "\\u00";
      out += kHex[byte >> 4];
      out += kHex[byte & 0xF];
    } else {
      out += c;
    }
  }
  return out + "\"";
}

std::string List(const std::vector<int>& numbers) {
  std::string out = "[";
  for (std::size_t i = 0; i < numbers.size(); ++i) {
    out += (i ? ", " : "") + std::to_string(numbers[i]);
  }
  return out + "]";
}

std::string Bool(bool value) {
  return value ? "true" : "false";
}

std::string Jumps(const VerifyReport& r) {
  const auto& jumps = r.discontinuities;
  std::string out = "[";
  for (std::size_t i = 0; i < jumps.size(); ++i) {
    out += (i ? ", " : "");
    out += "{\"frame\": " + std::to_string(jumps[i].frame) +
           ", \"jump_samples\": " + Number(jumps[i].jumpSamples, kSampleDecimals) +
           ", \"sample\": " + Number(jumps[i].sample, kSampleDecimals) +
           ", \"time_s\": " + Number(jumps[i].sample / r.sampleRate, kSecondsDecimals) + "}";
  }
  return out + "]";
}

std::string Frames(const std::vector<FoundFrame>& frames) {
  std::string out = "[";
  for (std::size_t i = 0; i < frames.size(); ++i) {
    const FoundFrame& f = frames[i];
    out += (i ? ",\n    " : "\n    ");
    out += "{\"frame\": " + std::to_string(f.number) +
           ", \"sample\": " + Number(f.foundSample, kSampleDecimals) +
           ", \"offset_samples\": " + Number(f.offsetSamples, kSampleDecimals) +
           ", \"check_ok\": " + Bool(f.checkOk) +
           ", \"level_dbfs\": " + Number(f.levelDbfs, kLevelDecimals) + "}";
  }
  return out + (frames.empty() ? "]" : "\n  ]");
}

std::string Samples(const std::vector<std::int64_t>& samples) {
  std::string out = "[";
  for (std::size_t i = 0; i < samples.size(); ++i) {
    out += (i ? ", " : "") + std::to_string(samples[i]);
  }
  return out + "]";
}

}  // namespace

void WriteJson(std::ostream& out, const VerifyReport& report) {
  std::vector<int> unreadable;
  for (const FramePlace& place : report.unreadable) unreadable.push_back(place.frame);
  const auto [judgedFirst, judgedLast] = JudgedRange(report);
  // Drift and jitter need a fit through enough frames; without one they are not numbers at all.
  const auto timing = [&report](double value, int decimals) {
    return report.timingMeasured ? Number(value, decimals) : std::string("null");
  };
  const std::vector<std::pair<const char*, std::string>> fields = {
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
      {"first_frame", std::to_string(report.firstFrame)},
      {"last_frame", std::to_string(report.lastFrame)},
      {"judged_first", std::to_string(judgedFirst)},
      {"judged_last", std::to_string(judgedLast)},
      {"frames_found", std::to_string(report.framesFound)},
      {"missing", List(report.missing)},
      {"unreadable", List(unreadable)},
      {"duplicated", List(report.duplicated)},
      {"out_of_order", List(report.outOfOrder)},
      {"check_failures", List(report.checkFailures)},
      {"non_finite_count", std::to_string(report.nonFiniteCount)},
      {"non_finite_samples", Samples(report.nonFiniteSamples)},
      {"latency_samples", Number(report.latencySamples, kSampleDecimals)},
      {"drift_ppm", timing(report.driftPpm, kPpmDecimals)},
      {"jitter_rms_samples", timing(report.jitterRmsSamples, kSampleDecimals)},
      {"jitter_max_samples", timing(report.jitterMaxSamples, kSampleDecimals)},
      {"threshold_samples", Number(report.thresholdSamples, kSampleDecimals)},
      {"sample_exact", Bool(report.sampleExact)},
      {"discontinuities", Jumps(report)},
      {"frames", Frames(report.frames)},
  };
  out << "{\n";
  for (std::size_t i = 0; i < fields.size(); ++i) {
    out << "  " << String(fields[i].first) << ": " << fields[i].second
        << (i + 1 < fields.size() ? ",\n" : "\n");
  }
  out << "}\n";
}
