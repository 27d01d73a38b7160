#include "looppatch/loop_batch.h"

#include <cerrno>
#include <cstdio>
#include <optional>
#include <stdexcept>

#include "cli/exit_status.h"
#include "looppatch/loop_cli_files.h"
#include "looppatch/loop_table.h"
#include "looppatch/seam.h"
#include "looppatch/wave_loops.h"
#include "looppatch/wave_samples.h"

namespace {

// How far --snap moves a point.
constexpr std::uint64_t kSnapMs = 10;
constexpr std::uint64_t kMsPerSecond = 1000;

// The seam of points `first` and `first + 1` (counted from 0), when both are set.
struct PairSeam {
  std::size_t first = 0;
  std::optional<SeamScore> score;  // nothing when they make no loop inside the samples
};

struct FileScan {
  std::string refusal;  // not empty: the file was not scanned, and this is why
  int channels = 0;
  LoopPoints points{};
  WaveLoops own;
  std::vector<PairSeam> seams;
  bool Clicks() const {
    for (const PairSeam& seam : seams) {
      if (seam.score && seam.score->click) return true;
    }
    return false;
  }
};

// The seams of the pairs of points: A before B, B (the last frame played) a frame of the file.
std::vector<PairSeam> SeamsOf(const LoopPoints& points, const WaveFacts& facts,
                              const SampleReader& reader) {
  std::vector<PairSeam> seams;
  for (std::size_t i = 0; i + 1 < kLoopPointCount; i += 2) {
    if (points[i] <= 0 || points[i + 1] <= 0) continue;
    const auto a = static_cast<std::uint64_t>(points[i]);
    const auto b = static_cast<std::uint64_t>(points[i + 1]);
    PairSeam seam{i, std::nullopt};
    if (a < b && b < facts.frames) seam.score = ScoreSeam(reader, a, b, facts.sampleRate);
    seams.push_back(seam);
  }
  return seams;
}

// Reads what --scan tells about one file, opened as --show opens it.
FileScan ScanFile(const std::string& path, std::ostream& err) {
  CFile file;
  FileScan scan;
  scan.refusal = OpenForTable(file, path, CFile::modeRead | CFile::shareDenyNone);
  if (!scan.refusal.empty()) return scan;
  try {
    const LoopTable table = ReadLoopTable(file);
    for (const std::string& line : table.lookalikes) Refused(err, path, line);
    scan.channels = table.channelCount;
    scan.points = table.loopPoints;
    scan.own = ReadWaveLoops(file);
    const WaveFacts facts = ReadWaveFacts(file);
    SampleReader reader;
    if (!reader.Open(path, facts.channels, facts.frames)) throw CFileException(EIO);
    scan.seams = SeamsOf(scan.points, facts, reader);
  } catch (const CFileException& e) {
    scan.refusal = e.what();
  }
  return scan;
}

std::string PointList(const LoopPoints& points) {
  std::string list;
  for (std::size_t i = 0; i < kLoopPointCount; ++i) {
    if (i > 0) list += ',';
    list += std::to_string(points[i]);
  }
  return list;
}

std::string PairName(const PairSeam& seam) {
  return std::to_string(seam.first + 1) + "-" + std::to_string(seam.first + 2);
}

constexpr char kNoLoopText[] = "no loop (the start must come before the end, inside the samples)";

// "; loops 100-199, 300-399; cues 5, 10", each part only where the file has such points.
std::string OwnPart(const WaveLoops& own) {
  std::string part;
  for (std::size_t i = 0; i < own.loops.size(); ++i) {
    part += i == 0 ? "; loops " : ", ";
    part += std::to_string(own.loops[i].start) + "-" + std::to_string(own.loops[i].end);
  }
  for (std::size_t i = 0; i < own.cues.size(); ++i) {
    part += i == 0 ? "; cues " : ", ";
    part += std::to_string(own.cues[i]);
  }
  return part;
}

// "drums.wav: channels=2 points=1000,5000,0,...; loops 100-199; seam 1-2 smooth, level -0.2 dB".
std::string ScanLine(const std::string& path, const FileScan& scan) {
  std::string line = path + ": channels=" + std::to_string(scan.channels) +
                     " points=" + PointList(scan.points) + OwnPart(scan.own);
  for (const PairSeam& seam : scan.seams) {
    line += "; seam " + PairName(seam) + " " + (seam.score ? seam.score->Text() : kNoLoopText);
  }
  return line;
}

// A JSON string: quotes, backslashes and control characters escaped; other bytes as they are.
std::string JsonString(const std::string& text) {
  std::string json = "\"";
  for (const char c : text) {
    if (c == '"' || c == '\\') {
      json += '\\';
      json += c;
    } else if (static_cast<unsigned char>(c) < 0x20) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned>(c));
      json += escaped;
    } else {
      json += c;
    }
  }
  return json + "\"";
}

std::string JsonNumber(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f", value);
  return text;
}

std::string JsonSeam(const PairSeam& seam) {
  std::string json =
      "{\"points\":[" + std::to_string(seam.first + 1) + "," + std::to_string(seam.first + 2) + "]";
  if (!seam.score) return json + ",\"verdict\":null}";
  return json + ",\"verdict\":" + JsonString(seam.score->Verdict()) +
         ",\"click_db\":" + JsonNumber(seam.score->db) +
         ",\"level_db\":" + JsonNumber(seam.score->levelDb) + "}";
}

// {"file":"drums.wav","channels":2,"points":[...],"smpl":[[100,199]],"cue":[5],"seams":[...],
// "clicks":false}; a refused file is {"file":"x.wav","error":"TEXT"}.
std::string ScanJson(const std::string& path, const FileScan& scan) {
  if (!scan.refusal.empty()) {
    return "{\"file\":" + JsonString(path) + ",\"error\":" + JsonString(scan.refusal) + "}";
  }
  std::string json = "{\"file\":" + JsonString(path) +
                     ",\"channels\":" + std::to_string(scan.channels) + ",\"points\":[" +
                     PointList(scan.points) + "],\"smpl\":[";
  for (std::size_t i = 0; i < scan.own.loops.size(); ++i) {
    if (i > 0) json += ',';
    json += '[';
    json += std::to_string(scan.own.loops[i].start) + "," + std::to_string(scan.own.loops[i].end);
    json += ']';
  }
  json += "],\"cue\":[";
  for (std::size_t i = 0; i < scan.own.cues.size(); ++i) {
    if (i > 0) json += ',';
    json += std::to_string(scan.own.cues[i]);
  }
  json += "],\"seams\":[";
  for (std::size_t i = 0; i < scan.seams.size(); ++i) {
    if (i > 0) json += ',';
    json += JsonSeam(scan.seams[i]);
  }
  return json + "],\"clicks\":" + (scan.Clicks() ? "true" : "false") + "}";
}

// The points of the held file snapped; err names those with no rising zero crossing near.
LoopPoints Snapped(CFile& file, LoopPoints points, std::ostream& err) {
  const std::string& path = file.GetFilePath();
  const WaveFacts facts = ReadWaveFacts(file);
  SampleReader reader;
  if (!reader.Open(path, facts.channels, facts.frames)) throw CFileException(EIO);
  const std::uint64_t reach = facts.sampleRate * kSnapMs / kMsPerSecond;
  for (std::size_t i = 0; i < kLoopPointCount; ++i) {
    if (points[i] <= 0) continue;
    const auto zero = NearestRisingZero(reader, static_cast<std::uint64_t>(points[i]), reach);
    if (zero) {
      points[i] = static_cast<std::int32_t>(*zero);
    } else {
      Refused(err, path,
              "Loop point " + std::to_string(i + 1) + " has no rising zero crossing within 10 ms");
    }
  }
  return points;
}

// Snaps and patches one file; false when it was refused (the reason on err).
bool SnapFile(const std::string& path, std::ostream& out, std::ostream& err) {
  CFile file;
  if (const std::string refusal = OpenForTable(file, path, kPatchMode); !refusal.empty()) {
    Refused(err, path, refusal);
    return false;
  }
  try {
    const LoopTable table = ReadLoopTable(file);
    const LoopPoints points = Snapped(file, table.loopPoints, err);
    WriteLoopTable(file, table.channelByte, points);
    out << path << ": points=" << PointList(points) << "; " << kPatchedText << '\n';
  } catch (const std::invalid_argument& e) {
    Refused(err, path, e.what());
    return false;
  } catch (const CFileException& e) {
    Refused(err, path, e.what());
    return false;
  }
  return true;
}

}  // namespace

int ScanCommand(const std::vector<std::string>& paths, bool json, std::ostream& out,
                std::ostream& err) {
  int status = kExitSuccess;
  for (const std::string& path : paths) {
    const FileScan scan = ScanFile(path, err);
    if (!scan.refusal.empty()) Refused(err, path, scan.refusal);
    if (!scan.refusal.empty() || scan.Clicks()) status = kExitFailure;
    if (json) {
      out << ScanJson(path, scan) << '\n';
    } else if (scan.refusal.empty()) {
      out << ScanLine(path, scan) << '\n';
    }
  }
  return status;
}

int SnapCommand(const std::vector<std::string>& paths, std::ostream& out, std::ostream& err) {
  int status = kExitSuccess;
  for (const std::string& path : paths) {
    if (!SnapFile(path, out, err)) status = kExitFailure;
  }
  return status;
}
