#include "looppatch/wave_loops.h"

#include <algorithm>
#include <limits>

#include "looppatch/convert.h"
#include "looppatch/file_source.h"
#include "looppatch/plain_copy.h"
#include "wave/riff_walk.h"
#include "wave/wave_fields.h"
#include "wave/wave_header.h"

namespace {

// The records that follow a count field: as many as the count says, but only those wholly
// inside the bytes the file holds of the chunk, and never more than kMostOwnLoops.
std::vector<std::uint8_t> ReadRecords(CFile& file, const RiffChunk& chunk, std::uint64_t fields,
                                      std::size_t countAt, std::size_t recordBytes) {
  const std::uint64_t held = chunk.Held();
  if (held < fields) return {};
  std::uint8_t count[sizeof(std::uint32_t)] = {};
  file.Seek(static_cast<std::int64_t>(chunk.body + countAt), CFile::begin);
  if (file.Read(count, sizeof count) != sizeof count) return {};
  const std::uint64_t records =
      std::min<std::uint64_t>({GetLe32(count), (held - fields) / recordBytes, kMostOwnLoops});
  std::vector<std::uint8_t> bytes(static_cast<std::size_t>(records) * recordBytes);
  file.Seek(static_cast<std::int64_t>(chunk.body + fields), CFile::begin);
  bytes.resize(file.Read(bytes.data(), bytes.size()) / recordBytes * recordBytes);
  return bytes;
}

std::string Joined(const std::vector<std::string>& items, const char* separator) {
  std::string text;
  for (const std::string& item : items) text += (text.empty() ? "" : separator) + item;
  return text;
}

std::vector<std::string> LoopItems(const WaveLoops& own) {
  std::vector<std::string> items;
  for (const SampleLoop& loop : own.loops) {
    items.push_back(std::to_string(loop.start) + "-" + std::to_string(loop.end));
  }
  return items;
}

std::vector<std::string> CueItems(const WaveLoops& own) {
  std::vector<std::string> items;
  for (const std::uint32_t cue : own.cues) items.push_back(std::to_string(cue));
  return items;
}

// "loops 100-199, 300-399; <cueLabel> 5, 10", or "" when there are none.
std::string PairsText(const WaveLoops& own, const char* cueLabel) {
  std::vector<std::string> parts;
  if (!own.loops.empty()) parts.push_back("loops " + Joined(LoopItems(own), ", "));
  if (!own.cues.empty()) parts.push_back(cueLabel + Joined(CueItems(own), ", "));
  return Joined(parts, "; ");
}

// Why a loop cannot be a pair of the copy's points, or nullptr when it can. room: the points
// the table has left.
const char* LoopRefusal(const SampleLoop& loop, std::uint64_t frames, std::size_t room,
                        bool tableFull) {
  if (loop.start == 0) return " (0 means no loop point)";
  if (loop.end < loop.start) return " (its end lies before its start)";
  if (loop.end > frames ||
      loop.end > static_cast<std::uint32_t>(std::numeric_limits<std::int32_t>::max())) {
    return " (past the end of the samples)";
  }
  if (room < 2)
    return tableFull ? " (more than ten points)" : " (the samples are too short for more records)";
  return nullptr;
}

}  // namespace

WaveLoops ReadWaveLoops(CFile& file) {
  WaveLoops own;
  bool smplSeen = false;
  bool cueSeen = false;
  FileSource source(file);
  WalkRiffChunks(source, [&](const RiffChunk& chunk) {
    if (chunk.Is("smpl") && !smplSeen) {
      smplSeen = true;
      const std::vector<std::uint8_t> loops =
          ReadRecords(file, chunk, kSmplFieldsBytes, kSmplLoopCountAt, kSmplLoopBytes);
      for (std::size_t at = 0; at < loops.size(); at += kSmplLoopBytes) {
        own.loops.push_back(
            {GetLe32(&loops[at + kSmplLoopStartAt]), GetLe32(&loops[at + kSmplLoopEndAt])});
      }
    } else if (chunk.Is("cue ") && !cueSeen) {
      cueSeen = true;
      const std::vector<std::uint8_t> cues =
          ReadRecords(file, chunk, kCueCountBytes, 0, kCuePointBytes);
      for (std::size_t at = 0; at < cues.size(); at += kCuePointBytes) {
        own.cues.push_back(GetLe32(&cues[at + kCueFrameAt]));
      }
    }
    return RiffWalk::kGoOn;
  });
  return own;
}

std::string OwnLoopsLine(const WaveLoops& own) {
  return PairsText(own, "cues ");
}

std::string OwnLoopsText(const WaveLoops& own) {
  return PairsText(own, "cue points ");
}

std::string TakenText(const TakenOver& taken) {
  return OwnLoopsLine(WaveLoops{taken.loops, taken.cues});
}

// Each loop takes two slots, its start and its end, so that the table holds it as a pair; a loop
// that cannot be one is left out whole, and the next loop moves up. Cue points fill the slots
// left, one each.
TakenOver TakeOverPoints(const WaveLoops& own, int channels, std::uint64_t frames) {
  // Every record takes six bytes of the copy's samples, and there are ten slots.
  const std::uint64_t dataBytes = frames * static_cast<std::uint64_t>(channels) * kPcm16SampleBytes;
  const auto slots = static_cast<std::size_t>(
      std::min<std::uint64_t>(kLoopPointCount, dataBytes / kLoopRecordBytes));
  const bool tableFull = slots == kLoopPointCount;
  TakenOver taken;
  std::size_t count = 0;
  for (std::size_t i = 0; i < own.loops.size(); ++i) {
    const SampleLoop& loop = own.loops[i];
    if (const char* why = LoopRefusal(loop, frames, slots - count, tableFull)) {
      taken.leftOver.push_back("loop " + std::to_string(i + 1) + " " + std::to_string(loop.start) +
                               "-" + std::to_string(loop.end) + why);
      continue;
    }
    taken.points[count++] = static_cast<std::int32_t>(loop.start);
    taken.points[count++] = static_cast<std::int32_t>(loop.end);
    taken.loops.push_back(loop);
  }
  for (std::size_t i = 0; i < own.cues.size(); ++i) {
    const std::uint32_t cue = own.cues[i];
    const char* why = nullptr;
    if (cue == 0) {
      why = " (0 means no loop point)";
    } else if (cue > frames ||
               cue > static_cast<std::uint32_t>(std::numeric_limits<std::int32_t>::max())) {
      why = " (past the end of the samples)";
    } else if (count == slots) {
      why = tableFull ? " (more than ten points)" : " (the samples are too short for more records)";
    } else {
      taken.points[count++] = static_cast<std::int32_t>(cue);
      taken.cues.push_back(cue);
      continue;
    }
    taken.leftOver.push_back("cue point " + std::to_string(i + 1) + " at " + std::to_string(cue) +
                             why);
  }
  return taken;
}

std::optional<OwnPointsPlan> PlanOwnPoints(const std::string& source) {
  CFile file;
  // Only read, so a dialog holding the file does not keep it out.
  if (!file.Open(source, CFile::modeRead | CFile::shareDenyNone)) return std::nullopt;
  std::optional<PlainCopySamples> samples = PlainCopySamplesOf(file);
  // A file to be converted: its copy holds two channels at most, and as many frames.
  if (const std::optional<SourceFormat> format = samples ? std::nullopt : ConvertibleFormat(file)) {
    samples =
        PlainCopySamples{static_cast<std::uint16_t>(std::min(format->channels, 2)), format->frames};
  }
  if (!samples) return std::nullopt;
  OwnPointsPlan plan;
  plan.own = ReadWaveLoops(file);
  plan.taken = TakeOverPoints(plan.own, samples->channels, samples->frames);
  return plan;
}

std::string LeftOverText(const TakenOver& taken) {
  return taken.leftOver.empty() ? std::string() : "Not taken over: " + Joined(taken.leftOver, ", ");
}
