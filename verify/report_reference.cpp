#include "verify/report_reference.h"

#include "verify/report_format.h"

namespace {

constexpr int kLsbDecimals = 2;
constexpr int kSampleDecimals = 4;

std::string Count(std::int64_t n) {
  return std::to_string(n);
}

// "at TC.wav sample 297912 (point 2, exact)", "at 298176 (264 samples after point 2)", or for
// silence "between TC.wav samples 297000 and 298500 (silence; point 2 at 297912 lies inside)".
std::string EdgeText(const LoopEdge& edge, bool namesFile) {
  std::string text =
      edge.Exact() ? std::string("at ") + (namesFile ? "TC.wav sample " : "") + Count(edge.first)
                   : std::string("between ") + (namesFile ? "TC.wav samples " : "") +
                         Count(edge.first) + " and " + Count(edge.last);
  if (edge.point == 0) return text;
  const std::string point = "point " + std::to_string(edge.point);
  if (edge.Exact()) {
    if (edge.missBy == 0) return text + " (" + point + ", exact)";
    const std::int64_t by = edge.missBy < 0 ? -edge.missBy : edge.missBy;
    return text + " (" + Count(by) + (by == 1 ? " sample " : " samples ") +
           (edge.missBy > 0 ? "after " : "before ") + point + ")";
  }
  text += " (silence; " + point + " at " + Count(edge.pointSample);
  return text + (edge.missBy == 0 ? " lies inside)" : " lies outside)");
}

std::string BitExactText(const BitExactCheck& check) {
  if (check.Exact()) return "bit-exact (" + Count(check.compared) + " samples held against TC.wav)";
  if (check.compared == 0) return "not compared (no sample of TC.wav in the recording)";
  return "not bit-exact: recording sample " + Count(check.firstRecordingSample) + " is " +
         FormatFixed(check.recordingValue, kLsbDecimals) + ", TC.wav sample " +
         Count(check.firstTimecodeSample) + " is " +
         FormatFixed(check.timecodeValue, kLsbDecimals) + "; " + Count(check.differing) + " of " +
         Count(check.compared) + " samples differ, by at most " +
         FormatFixed(check.largestDifference, kLsbDecimals) + " LSB";
}

std::string JsonEdge(const char* name, const LoopEdge& edge) {
  const std::string prefix = std::string("\"") + name + "_";
  return prefix + "first\": " + Count(edge.first) + ", " + prefix + "last\": " + Count(edge.last) +
         ", " + prefix + "point\": " + (edge.point ? std::to_string(edge.point) : "null") + ", " +
         prefix + "miss_samples\": " + (edge.point ? Count(edge.missBy) : "null");
}

std::string JsonLoops(const std::vector<LoopFinding>& loops) {
  std::string out = "[";
  for (std::size_t i = 0; i < loops.size(); ++i) {
    const LoopFinding& loop = loops[i];
    std::string places = "[";
    for (std::size_t k = 0; k < loop.recordingSamples.size(); ++k) {
      places += (k ? ", " : "") + FormatFixed(loop.recordingSamples[k], kSampleDecimals);
    }
    out += (i ? ", " : "") + std::string("{") + JsonEdge("left", loop.left) + ", " +
           JsonEdge("resumed", loop.resumed) + ", \"times\": " + std::to_string(loop.times) +
           ", \"honoured\": " + (loop.honoured ? "true" : "false") +
           ", \"recording_samples\": " + places + "]}";
  }
  return out + "]";
}

std::string JsonBitExact(const std::optional<BitExactCheck>& check) {
  if (!check) return "null";
  return "{\"compared\": " + Count(check->compared) +
         ", \"differing\": " + Count(check->differing) + ", \"first_recording_sample\": " +
         (check->differing ? Count(check->firstRecordingSample) : "null") +
         ", \"first_timecode_sample\": " +
         (check->differing ? Count(check->firstTimecodeSample) : "null") +
         ", \"recording_value\": " +
         (check->differing ? FormatFixed(check->recordingValue, kLsbDecimals) : "null") +
         ", \"timecode_value\": " +
         (check->differing ? FormatFixed(check->timecodeValue, kLsbDecimals) : "null") +
         ", \"largest_difference_lsb\": " + FormatFixed(check->largestDifference, kLsbDecimals) +
         "}";
}

}  // namespace

std::string LoopText(const LoopFinding& loop) {
  std::string text =
      "loop: left " + EdgeText(loop.left, true) + ", resumed " + EdgeText(loop.resumed, false);
  if (loop.times > 1) text += ", " + std::to_string(loop.times) + " times";
  return text;
}

void WriteReferenceLines(std::ostream& out, const VerifyReport& report, std::size_t nameWidth) {
  auto line = [&](const char* name, const std::string& value) {
    std::string padded = name;
    padded.resize(nameWidth, ' ');
    out << padded << value << '\n';
  };
  if (report.bitExact) line("copy", BitExactText(*report.bitExact));
  if (report.loops.empty() && report.loopsNotTaken.empty()) return;
  std::size_t honoured = 0;
  for (const LoopFinding& loop : report.loops) honoured += loop.honoured ? 1 : 0;
  line("loops",
       std::to_string(report.loops.size()) + ", " + std::to_string(honoured) + " on their points");
  for (const LoopFinding& loop : report.loops) out << "  " << LoopText(loop) << '\n';
  for (const int point : report.loopsNotTaken) {
    out << "  loop point " << point << " played through, never looped at\n";
  }
}

std::vector<std::pair<const char*, std::string>> ReferenceJsonFields(const VerifyReport& report) {
  std::string notTaken = "[";
  for (std::size_t i = 0; i < report.loopsNotTaken.size(); ++i) {
    notTaken += (i ? ", " : "") + std::to_string(report.loopsNotTaken[i]);
  }
  return {
      {"bit_exact", report.bitExact ? (report.bitExact->Exact() ? "true" : "false") : "null"},
      {"bit_exact_check", JsonBitExact(report.bitExact)},
      {"loops", JsonLoops(report.loops)},
      {"loops_not_taken", notTaken + "]"},
  };
}
