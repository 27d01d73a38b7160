#include "loop/app/loop_cli_sound.h"

#include <optional>
#include <string_view>

#include "cli/exit_status.h"
#include "cli/options.h"
#include "loop/app/loop_cli_files.h"
#include "loop/format/loop_table.h"
#include "loop/format/wave_samples.h"
#include "loop/sound/crossfade.h"
#include "loop/sound/seam_search.h"

namespace {

// A file's samples, open for reading beside the handle that proved it patchable.
struct OpenSamples {
  CFile file;
  WaveFacts facts;
  SampleReader reader;
};

// Opens path for reading as --show does; empty with the refusal printed when it cannot be.
std::optional<OpenSamples> OpenForSamples(const std::string& path, std::ostream& err) {
  OpenSamples open;
  std::string refusal = OpenForTable(open.file, path, CFile::modeRead | CFile::shareDenyNone);
  if (refusal.empty()) {
    open.facts = ReadWaveFacts(open.file);
    if (!open.reader.Open(path, open.facts.channels, open.facts.frames)) refusal = kOpenErrorText;
  }
  if (!refusal.empty()) {
    Refused(err, path, refusal);
    return std::nullopt;
  }
  return open;
}

std::uint64_t FrameValue(std::string_view text, const char* usage) {
  const std::optional<int> value = ParseInteger(text);
  if (!value || *value < 0) throw UsageError(usage);
  return static_cast<std::uint64_t>(*value);
}

struct SearchRequest {
  std::uint64_t start = 0;
  std::optional<SearchRegion> region;
};

// "START" or "START,FROM-TO".
SearchRequest ParseSearch(std::string_view value) {
  constexpr char kUsage[] = "--search takes START or START,FROM-TO in sample frames";
  SearchRequest parsed;
  const std::size_t comma = value.find(',');
  parsed.start = FrameValue(value.substr(0, comma), kUsage);
  if (comma == std::string_view::npos) return parsed;
  const std::string_view range = value.substr(comma + 1);
  const std::size_t dash = range.find('-');
  if (dash == std::string_view::npos) throw UsageError(kUsage);
  parsed.region = SearchRegion{FrameValue(range.substr(0, dash), kUsage),
                               FrameValue(range.substr(dash + 1), kUsage)};
  if (parsed.region->from > parsed.region->to) throw UsageError(kUsage);
  return parsed;
}

// "220499 0:00:04.999 smooth, similarity 0.98, level -0.3 dB".
std::string CandidateLine(const LoopCandidate& candidate, std::uint32_t sampleRate) {
  return std::to_string(candidate.frame) + ' ' + FrameTime(candidate.frame, sampleRate) + ' ' +
         candidate.Text();
}

// "MS" or "MS,linear" or "MS,power".
Crossfade ParseCrossfade(std::string_view value, const LoopPoints& points) {
  constexpr char kUsage[] = "--crossfade takes MS[,linear|power], MS from 1 to 500";
  Crossfade fade;
  const std::size_t comma = value.find(',');
  const std::optional<int> ms = ParseInteger(value.substr(0, comma));
  if (!ms || *ms < static_cast<int>(kLeastCrossfadeMs) ||
      *ms > static_cast<int>(kMostCrossfadeMs)) {
    throw UsageError(kUsage);
  }
  fade.ms = static_cast<std::uint32_t>(*ms);
  const std::string_view shape =
      comma == std::string_view::npos ? "linear" : value.substr(comma + 1);
  if (shape != "linear" && shape != "power") throw UsageError(kUsage);
  fade.shape = shape == "power" ? FadeShape::equalPower : FadeShape::linear;
  if (points[0] <= 0 || points[1] <= 0) throw UsageError("--crossfade needs --set A,B");
  fade.start = static_cast<std::uint64_t>(points[0]);
  fade.end = static_cast<std::uint64_t>(points[1]);
  return fade;
}

}  // namespace

int SearchCommand(const std::string& value, const std::string& path, std::ostream& out,
                  std::ostream& err) {
  const SearchRequest parsed = ParseSearch(value);
  std::optional<OpenSamples> open = OpenForSamples(path, err);
  if (!open) return kExitFailure;
  if (parsed.start >= open->facts.frames) {
    return Refused(err, path,
                   "The start " + std::to_string(parsed.start) + " is past the end of the samples");
  }
  const SampleSource source = SourceOf(open->reader, open->facts.sampleRate);
  const std::optional<SearchRegion> region =
      parsed.region ? parsed.region : DefaultEndRegion(source, parsed.start);
  const LoopSearch search = region ? SearchLoopEnd(source, parsed.start, *region) : LoopSearch{};
  for (const LoopCandidate& candidate : search.best) {
    out << CandidateLine(candidate, open->facts.sampleRate) << '\n';
  }
  return search.Found() ? kExitSuccess : Refused(err, path, kNoSmoothEndText);
}

int CrossfadeCommand(const std::string& value, const LoopPoints& points, const std::string& source,
                     const std::string& destination, std::ostream& out, std::ostream& err) {
  const Crossfade fade = ParseCrossfade(value, points);
  const CrossfadeOutcome outcome = WriteCrossfadedCopy(source, destination, fade, points);
  if (!outcome.Made()) {
    return Refused(err, outcome.aboutDestination ? destination : source, outcome.text);
  }
  std::optional<OpenSamples> copy = OpenForSamples(destination, err);
  if (!copy) return kExitFailure;
  out << "seam of the copy: "
      << ScoreSeam(copy->reader, fade.start, fade.end, copy->facts.sampleRate).Text() << '\n';
  return kExitSuccess;
}
