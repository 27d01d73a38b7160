#include "verify/report_json.h"

#include <cmath>
#include <string>
#include <vector>

#include "verify/report_format.h"

namespace {

// Sub-sample positions are found to about a thousandth of a sample; a ten-thousandth keeps
// every digit that means something.
constexpr int kSampleDecimals = 4;
constexpr int kPpmDecimals = 4;

// JSON has no NaN or infinity: a value the fit could not give is null.
std::string Number(double value, int decimals) {
  return std::isfinite(value) ? FormatFixed(value, decimals) : "null";
}

std::string String(const std::string& text) {
  std::string out = "\"";
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (byte < 0x20) {
      constexpr char kHex[] = "0123456789abcdef";
      out += "\\u00";
      out += kHex[byte >> 4];
      out += kHex[byte & 0xF];
    } else {
      out += c;  // UTF-8 passes through as it is
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

std::string Jumps(const std::vector<Discontinuity>& jumps) {
  std::string out = "[";
  for (std::size_t i = 0; i < jumps.size(); ++i) {
    out += (i ? ", " : "");
    out += "{\"frame\": " + std::to_string(jumps[i].frame) +
           ", \"jump_samples\": " + Number(jumps[i].jumpSamples, kSampleDecimals) + "}";
  }
  return out + "]";
}

}  // namespace

void WriteJson(std::ostream& out, const VerifyReport& report) {
  const std::vector<std::pair<const char*, std::string>> fields = {
      {"type", String(std::string(1, report.type))},
      {"method", std::to_string(report.method)},
      {"dtmf_id", std::to_string(report.dtmfId)},
      {"sample_rate", std::to_string(report.sampleRate)},
      {"channel", std::to_string(report.channel)},
      {"first_frame", std::to_string(report.firstFrame)},
      {"last_frame", std::to_string(report.lastFrame)},
      {"frames_found", std::to_string(report.framesFound)},
      {"missing", List(report.missing)},
      {"duplicated", List(report.duplicated)},
      {"out_of_order", List(report.outOfOrder)},
      {"check_failures", List(report.checkFailures)},
      {"latency_samples", Number(report.latencySamples, kSampleDecimals)},
      {"drift_ppm", Number(report.driftPpm, kPpmDecimals)},
      {"jitter_rms_samples", Number(report.jitterRmsSamples, kSampleDecimals)},
      {"jitter_max_samples", Number(report.jitterMaxSamples, kSampleDecimals)},
      {"discontinuities", Jumps(report.discontinuities)},
  };
  out << "{\n";
  for (std::size_t i = 0; i < fields.size(); ++i) {
    out << "  " << String(fields[i].first) << ": " << fields[i].second
        << (i + 1 < fields.size() ? ",\n" : "\n");
  }
  out << "}\n";
}
