#include "loop/format/smpl_writer.h"

#include <algorithm>
#include <cerrno>
#include <iterator>
#include <limits>
#include <stdexcept>
#include <string>

#include "loop/format/file_source.h"
#include "wave/wave_fields.h"
#include "wave/wave_header.h"
#include "wave/wave_layout.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

// The sampler's fields a fresh smpl chunk gets: middle C as the unity note, and the sample
// period in nanoseconds.
constexpr std::uint32_t kUnityNote = 60;
constexpr double kNanosecondsPerSecond = 1e9;
// The fields before the loop count that describe the sampler, kept from an old chunk.
constexpr std::size_t kSamplerFieldsBytes = kSmplLoopCountAt;
constexpr std::uint64_t kMostRetiredSpan = 16 << 20;

void AppendChunk(Bytes& bytes, const char (&id)[5], const Bytes& body) {
  const std::size_t at = bytes.size();
  bytes.resize(at + kChunkHeaderBytes);
  PutChunkId(&bytes[at], id);
  PutLe32(&bytes[at + kChunkIdBytes], static_cast<std::uint32_t>(body.size()));
  bytes.insert(bytes.end(), body.begin(), body.end());
}

Bytes SmplBody(const Bytes& samplerFields, const StandardLoops& standard) {
  Bytes body(kSmplFieldsBytes + standard.loops.size() * kSmplLoopBytes, 0);
  std::copy(samplerFields.begin(), samplerFields.end(), body.begin());
  PutLe32(&body[kSmplLoopCountAt], static_cast<std::uint32_t>(standard.loops.size()));
  for (std::size_t i = 0; i < standard.loops.size(); ++i) {
    std::uint8_t* loop = &body[kSmplFieldsBytes + i * kSmplLoopBytes];
    PutLe32(loop + kSmplLoopIdAt, static_cast<std::uint32_t>(i));
    PutLe32(loop + kSmplLoopStartAt, standard.loops[i].first);
    PutLe32(loop + kSmplLoopEndAt, standard.loops[i].second);
  }
  return body;  // type 0 (forward), no fraction, play count 0 (for ever), no sampler data
}

Bytes CueBody(const StandardLoops& standard) {
  Bytes body(kCueCountBytes + standard.cues.size() * kCuePointBytes, 0);
  PutLe32(&body[0], static_cast<std::uint32_t>(standard.cues.size()));
  for (std::size_t i = 0; i < standard.cues.size(); ++i) {
    std::uint8_t* point = &body[kCueCountBytes + i * kCuePointBytes];
    PutLe32(point + kCueIdAt, static_cast<std::uint32_t>(i + 1));
    PutLe32(point + kCuePositionAt, standard.cues[i]);
    PutChunkId(point + kCueChunkAt, "data");
    PutLe32(point + kCueFrameAt, standard.cues[i]);
  }
  return body;
}

// The old smpl chunk's sampler fields, or fresh ones for this rate.
Bytes SamplerFields(CFile& file, const WaveLayout& layout) {
  Bytes fields(kSamplerFieldsBytes, 0);
  const auto old = std::find_if(layout.chunks.begin(), layout.chunks.end(),
                                [](const RiffChunk& c) { return c.Is("smpl"); });
  if (old != layout.chunks.end() && old->Held() >= kSamplerFieldsBytes) {
    file.Seek(static_cast<std::int64_t>(old->body), CFile::begin);
    if (file.Read(fields.data(), fields.size()) == fields.size()) return fields;
  }
  std::fill(fields.begin(), fields.end(), 0);
  const std::uint32_t rate = layout.fmt ? layout.fmt->sampleRate : 0;
  if (rate > 0) {
    PutLe32(&fields[kSmplSamplePeriodAt],
            static_cast<std::uint32_t>(kNanosecondsPerSecond / rate + 0.5));
  }
  PutLe32(&fields[kSmplUnityNoteAt], kUnityNote);
  return fields;
}

// The first pair whose end lies before its start, as its two boxes counted from 1.
void CheckPairs(const StandardLoops& standard) {
  for (std::size_t i = 0; i < standard.loops.size(); ++i) {
    if (standard.loops[i].second < standard.loops[i].first) {
      throw std::invalid_argument("Loop point " + std::to_string(2 * i + 2) +
                                  " lies before loop point " + std::to_string(2 * i + 1) +
                                  ", so the two make no standard loop");
    }
  }
}

// The old smpl and cue chunks renamed JUNK in one write, which also carries the bytes between
// them unchanged: no reader sees one retired without the other. Only a chunk of many megabytes
// between them (no everyday file has one behind its samples) makes it one write each.
void RetireOldChunks(CFile& file, const std::vector<RiffChunk>& old) {
  if (old.empty()) return;
  const std::uint64_t first = old.front().header;
  if (old.back().header - first > kMostRetiredSpan) {
    for (const RiffChunk& chunk : old) RetireOldChunks(file, {chunk});
    return;
  }
  Bytes span(static_cast<std::size_t>(old.back().header + kChunkIdBytes - first));
  file.Seek(static_cast<std::int64_t>(first), CFile::begin);
  if (file.Read(span.data(), span.size()) != span.size()) throw CFileException(EIO);
  for (const RiffChunk& chunk : old) PutChunkId(&span[chunk.header - first], "JUNK");
  file.WriteAt(first, span.data(), span.size());
  file.Flush();
}

}  // namespace

StandardLoops PairPoints(const LoopPoints& points) {
  StandardLoops standard;
  std::size_t count = 0;
  while (count < points.size() && points[count] != 0) ++count;
  for (std::size_t i = 0; i + 1 < count; i += 2) {
    standard.loops.push_back(
        {static_cast<std::uint32_t>(points[i]), static_cast<std::uint32_t>(points[i + 1])});
  }
  if (count % 2 == 1) standard.cues.push_back(static_cast<std::uint32_t>(points[count - 1]));
  return standard;
}

void WriteStandardLoops(CFile& file, std::uint8_t channelByte, const LoopPoints& points) {
  const LoopPointsCheck check = CheckLoopPoints(file, channelByte, points);
  if (check.verdict != LoopPointsCheck::Verdict::fits) {
    throw std::invalid_argument(LoopPointsText(check));
  }
  const StandardLoops standard = PairPoints(points);
  CheckPairs(standard);
  FileSource source(file);
  const WaveLayout layout = ReadWaveLayout(source);
  // Behind samples without a known end, new chunks would be read as samples.
  if (layout.fault != LayoutFault::kNone || layout.data->sizeUnset || layout.data->RunsPastEnd()) {
    throw std::invalid_argument(kNoRoomForLoopsText);
  }
  // A standard loop's end is the last frame it plays, so the frame count itself names none.
  const std::uint64_t frames =
      layout.data->size / std::max<std::uint16_t>(layout.fmt ? layout.fmt->blockAlign : 1, 1);
  for (std::size_t i = 0; i < standard.loops.size(); ++i) {
    if (standard.loops[i].second >= frames) {
      throw std::invalid_argument("Loop point " + std::to_string(2 * i + 2) +
                                  " is the end of the samples, one past the last frame a "
                                  "standard loop can play");
    }
  }
  Bytes chunks;
  AppendChunk(chunks, "smpl", SmplBody(SamplerFields(file, layout), standard));
  if (!standard.cues.empty()) AppendChunk(chunks, "cue ", CueBody(standard));
  // New chunks go at the very end of the file, on an even offset as RIFF demands. Whatever the
  // walk could not read as chunks (a trailing tag, a chunk whose size runs past the end) would
  // be overwritten or would swallow them: such a file is refused, never patched over.
  const bool swallowing = std::any_of(layout.chunks.begin(), layout.chunks.end(),
                                      [](const RiffChunk& c) { return c.RunsPastEnd(); });
  const std::uint64_t walked = layout.chunks.back().End();
  if (swallowing || walked < file.GetLength()) throw std::invalid_argument(kUnwalkedTailText);
  const std::uint64_t end = walked + (walked & 1u);  // a missing pad byte reads as zero
  // The RIFF size leaves out "RIFF" and the size field itself.
  const std::uint64_t riffSize = end + chunks.size() - kChunkHeaderBytes;
  if (riffSize > std::numeric_limits<std::uint32_t>::max()) {
    throw std::invalid_argument(kLoopsTooLongText);
  }
  std::vector<RiffChunk> old;
  std::copy_if(layout.chunks.begin(), layout.chunks.end(), std::back_inserter(old),
               [](const RiffChunk& c) { return c.Is("smpl") || c.Is("cue "); });

  file.WriteAt(end, chunks.data(), chunks.size());
  file.Flush();
  std::uint8_t size[sizeof(std::uint32_t)] = {};
  PutLe32(size, static_cast<std::uint32_t>(riffSize));
  file.WriteAt(kRiffSizeOffset, size, sizeof size);
  file.Flush();
  RetireOldChunks(file, old);
}
