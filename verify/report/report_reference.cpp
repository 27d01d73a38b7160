#include "verify/report/report_reference.h"

#include <cmath>

#include "verify/report/report_format.h"

namespace {

constexpr int kLsbDecimals = 2;
constexpr int kSampleDecimals = 4;
constexpr double kHalfSample = 0.5;  // a gap smaller than this is none

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
  if (check.differing == 0) {
    const int left = check.filesNotCompared;
    return "bit-exact where compared (" + Count(check.compared) + " samples), but " +
           std::to_string(left) + (left == 1 ? " file was" : " files were") +
           " not compared (no --reference, or not at TC.wav's own rate)";
  }
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
  return JsonArray(loops, [](const LoopFinding& loop) {
    const std::string places =
        JsonArray(loop.recordingSamples, [](double at) { return JsonNumber(at, kSampleDecimals); });
    return std::string("{") + JsonEdge("left", loop.left) + ", " +
           JsonEdge("resumed", loop.resumed) + ", \"times\": " + std::to_string(loop.times) +
           ", \"honoured\": " + (loop.honoured ? "true" : "false") +
           ", \"recording_samples\": " + places + "}";
  });
}

std::string JsonBitExact(const std::optional<BitExactCheck>& check) {
  if (!check) return "null";
  return "{\"compared\": " + Count(check->compared) +
         ", \"differing\": " + Count(check->differing) + ", \"first_recording_sample\": " +
         (check->differing ? Count(check->firstRecordingSample) : "null") +
         ", \"first_timecode_sample\": " +
         (check->differing ? Count(check->firstTimecodeSample) : "null") +
         ", \"recording_value\": " +
         (check->differing ? JsonNumber(check->recordingValue, kLsbDecimals) : "null") +
         ", \"timecode_value\": " +
         (check->differing ? JsonNumber(check->timecodeValue, kLsbDecimals) : "null") +
         ", \"largest_difference_lsb\": " + JsonNumber(check->largestDifference, kLsbDecimals) +
         ", \"files_not_compared\": " + std::to_string(check->filesNotCompared) + "}";
}

std::vector<int> Numbers(const std::vector<FramePlace>& places) {
  std::vector<int> numbers;
  for (const FramePlace& place : places) numbers.push_back(place.frame);
  return numbers;
}

std::string GapText(const VerifyReport& file, std::size_t index) {
  if (index == 0) return "";
  if (!file.gapSamples)
    return ", gap unknown (no --reference for file " + std::to_string(index) + ")";
  if (std::abs(*file.gapSamples) < kHalfSample) return ", gapless";
  return ", " + FormatFixed(*file.gapSamples, kLsbDecimals) + " samples after file " +
         std::to_string(index);
}

// "clean", or each kind of fault the file shows with its frames.
std::string FileFaults(const VerifyReport& file) {
  if (file.Clean()) return "clean";
  std::string text = "faults:";
  const std::pair<const char*, std::vector<int>> lists[] = {
      {"missing", file.missing},
      {"unreadable", Numbers(file.unreadable)},
      {"duplicated", file.duplicated},
      {"out of order", file.outOfOrder},
      {"check failures", file.checkFailures}};
  const char* separator = " ";
  for (const auto& [name, numbers] : lists) {
    if (numbers.empty()) continue;
    text += separator + std::string(name) + " " + FormatFrameList(numbers);
    separator = "; ";
  }
  if (!file.discontinuities.empty()) {
    text += separator + std::to_string(file.discontinuities.size()) + " discontinuities";
  }
  return text;
}

std::string FileText(const VerifyReport& file, std::size_t index) {
  return "file " + std::to_string(index + 1) + ": DTMF ID " + std::to_string(file.dtmfId) +
         (file.file.empty() ? "" : " (" + file.file + ")") + ", frames " +
         std::to_string(file.firstFrame) + ".." + std::to_string(file.lastFrame) + ", " +
         std::to_string(file.framesFound) + " found, from sample " +
         FormatFixed(file.latencySamples, kLsbDecimals) + GapText(file, index) + ": " +
         FileFaults(file);
}

std::string JsonFiles(const std::vector<VerifyReport>& files) {
  return JsonArray(
      files,
      [](const VerifyReport& f) {
        const std::string jumps = JsonArray(f.discontinuities, [](const Discontinuity& d) {
          return "{\"frame\": " + std::to_string(d.frame) +
                 ", \"jump_samples\": " + JsonNumber(d.jumpSamples, kSampleDecimals) +
                 ", \"sample\": " + JsonNumber(d.sample, kSampleDecimals) + "}";
        });
        return "{\"dtmf_id\": " + std::to_string(f.dtmfId) +
               ", \"reference\": " + (f.file.empty() ? "null" : JsonString(f.file)) +
               ", \"verdict\": \"" + (f.Clean() ? "clean" : "faults") +
               "\", \"first_frame\": " + std::to_string(f.firstFrame) +
               ", \"last_frame\": " + std::to_string(f.lastFrame) +
               ", \"judged_first\": " + std::to_string(f.judgedFirst) +
               ", \"judged_last\": " + std::to_string(f.judgedLast) +
               ", \"frames_found\": " + std::to_string(f.framesFound) +
               ", \"missing\": " + JsonInts(f.missing) +
               ", \"unreadable\": " + JsonInts(Numbers(f.unreadable)) +
               ", \"duplicated\": " + JsonInts(f.duplicated) +
               ", \"out_of_order\": " + JsonInts(f.outOfOrder) +
               ", \"check_failures\": " + JsonInts(f.checkFailures) +
               ", \"discontinuities\": " + jumps +
               ", \"latency_samples\": " + JsonNumber(f.latencySamples, kSampleDecimals) +
               ", \"gap_samples\": " +
               (f.gapSamples ? JsonNumber(*f.gapSamples, kSampleDecimals) : "null") +
               ", \"bit_exact\": " +
               (f.bitExact ? (f.bitExact->Exact() ? "true" : "false") : "null") + "}";
      },
      true);
}

}  // namespace

std::string DtmfIdText(const VerifyReport& report) {
  if (report.files.empty()) return std::to_string(report.dtmfId);
  std::string text;
  for (const VerifyReport& file : report.files) {
    text += (text.empty() ? "" : ", ") + std::to_string(file.dtmfId);
  }
  return text + " (one per file)";
}

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
  if (!report.files.empty()) {
    line("files", std::to_string(report.files.size()) + " played one after the other");
    for (std::size_t i = 0; i < report.files.size(); ++i) {
      out << "  " << FileText(report.files[i], i) << '\n';
    }
  }
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
      {"files", JsonFiles(report.files)},
  };
}
