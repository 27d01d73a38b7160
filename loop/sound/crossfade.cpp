#include "loop/sound/crossfade.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <numbers>

#include "fileio/replace_file.h"
#include "loop/format/copy_parts.h"
#include "loop/format/file_source.h"
#include "loop/format/plain_copy.h"
#include "loop/format/wave_samples.h"

namespace {

constexpr std::uint32_t kMsPerSecond = 1000;
constexpr std::size_t kCopyBlockBytes = 1 << 20;

std::int16_t Clamped(double value) {
  return static_cast<std::int16_t>(std::clamp(std::lround(value), -32768L, 32767L));
}

// A write to the copy failed: unlike a failed read, that is about the destination.
struct WriteFailure {
  int osError;
};

void ThrowIfWriteFailed(int osError) {
  if (osError != 0) throw WriteFailure{osError};
}

// count frames from `first` of the open canonical file, interleaved; fewer when it ends first.
std::vector<std::int16_t> ReadFrames(CFile& file, std::uint64_t first, std::uint64_t count,
                                     int channels) {
  const std::uint64_t frameBytes = static_cast<std::uint64_t>(channels) * kPcm16SampleBytes;
  std::vector<std::uint8_t> bytes(count * frameBytes);
  file.Seek(static_cast<std::int64_t>(kWaveHeaderBytes + first * frameBytes), CFile::begin);
  std::size_t got = 0;
  while (got < bytes.size()) {
    const std::size_t more = file.Read(bytes.data() + got, bytes.size() - got);
    if (more == 0) break;
    got += more;
  }
  std::vector<std::int16_t> samples(got / kPcm16SampleBytes);
  for (std::size_t i = 0; i < samples.size(); ++i) {
    samples[i] = static_cast<std::int16_t>(GetLe16(&bytes[i * kPcm16SampleBytes]));
  }
  return samples;
}

// The bytes that take the place of some of the copy's samples, at their offset in the data.
struct Overlay {
  std::uint64_t offset = 0;
  std::vector<std::uint8_t> bytes;
  // Lays the part of the overlay that falls in [at, at + block.size()) over the block.
  void Onto(std::vector<std::uint8_t>& block, std::uint64_t at, std::size_t size) const {
    const std::uint64_t from = std::max(at, offset);
    const std::uint64_t to = std::min<std::uint64_t>(at + size, offset + bytes.size());
    for (std::uint64_t i = from; i < to; ++i) block[i - at] = bytes[i - offset];
  }
};

Overlay OverlayOf(std::uint64_t firstFrame, const std::vector<std::int16_t>& samples,
                  int channels) {
  Overlay overlay{firstFrame * static_cast<std::uint64_t>(channels) * kPcm16SampleBytes,
                  std::vector<std::uint8_t>(samples.size() * kPcm16SampleBytes)};
  for (std::size_t i = 0; i < samples.size(); ++i) {
    PutLe16(&overlay.bytes[i * kPcm16SampleBytes], static_cast<std::uint16_t>(samples[i]));
  }
  return overlay;
}

// The samples of `from` behind the header, with the crossfaded tail and then the table laid
// over them on their way (the table last: its records lie over the first samples whatever
// they hold). False when the source ended early.
bool CopySamples(CFile& from, std::uint64_t dataBytes, ReplacementFile& to, const Overlay& tail,
                 std::uint8_t channelByte, const LoopPoints& table) {
  std::vector<std::uint8_t> block(kCopyBlockBytes);
  from.Seek(static_cast<std::int64_t>(kWaveHeaderBytes), CFile::begin);
  for (std::uint64_t at = 0; at < dataBytes;) {
    const auto want =
        static_cast<std::size_t>(std::min<std::uint64_t>(dataBytes - at, block.size()));
    std::size_t got = 0;
    while (got < want) {
      const std::size_t more = from.Read(block.data() + got, want - got);
      if (more == 0) return false;
      got += more;
    }
    tail.Onto(block, at, got);
    if (at == 0) {
      LayTableOverFirstBytes(block.data(), got, channelByte, table);
    }
    ThrowIfWriteFailed(to.Write(block.data(), got));
    at += got;
  }
  return true;
}

}  // namespace

std::uint64_t CrossfadeFramesOf(std::uint32_t ms, std::uint32_t sampleRate) {
  return std::uint64_t{sampleRate} * ms / kMsPerSecond;
}

void CrossfadeFrames(std::vector<std::int16_t>& tail, const std::vector<std::int16_t>& lead,
                     int channels, FadeShape shape) {
  const auto n = static_cast<std::size_t>(std::max(channels, 1));
  const std::size_t length = std::min(tail.size(), lead.size()) / n;
  for (std::size_t i = 0; i < length; ++i) {
    const double in = static_cast<double>(i + 1) / static_cast<double>(length);
    const double angle = in * std::numbers::pi / 2;
    const double gainIn = shape == FadeShape::linear ? in : std::sin(angle);
    const double gainOut = shape == FadeShape::linear ? 1 - in : std::cos(angle);
    for (std::size_t c = 0; c < n; ++c) {
      const std::size_t at = i * n + c;
      tail[at] = Clamped(tail[at] * gainOut + lead[at] * gainIn);
    }
  }
}

std::string CheckCrossfade(const Crossfade& fade, std::uint64_t frames, std::uint32_t sampleRate) {
  if (fade.ms < kLeastCrossfadeMs || fade.ms > kMostCrossfadeMs) {
    return "The crossfade must last 1 to 500 ms";
  }
  if (fade.start >= fade.end || fade.end >= frames) {
    return "The loop needs a start before its end, and the end inside the samples";
  }
  const std::uint64_t length = CrossfadeFramesOf(fade.ms, sampleRate);
  if (length == 0 || length > fade.start) {
    return "The crossfade needs " + std::to_string(fade.ms) + " ms before the loop's start";
  }
  if (length > fade.end + 1 - fade.start) {
    return "The crossfade is longer than the loop";
  }
  return {};
}

CrossfadeOutcome WriteCrossfadedCopy(const std::string& source, const std::string& destination,
                                     const Crossfade& fade, const LoopPoints& table) {
  CFile from;
  int osError = 0;
  // loop's window makes the copy while it holds the source under its own lock for patching;
  // patching changes only the table, which the copy writes afresh, so the read takes no lock.
  if (!from.Open(source, CFile::modeRead | CFile::shareDenyNone, &osError)) {
    return {std::string(kOpenErrorText) + ": " + OsErrorText(osError)};
  }
  if (from.RefersTo(destination)) return {kCopyOverSourceText, true};
  ReplacementFile to;  // removed again unless it has replaced the destination
  try {
    if (std::string refusal = CheckPatchable(from); !refusal.empty()) return {refusal};
    const WaveFacts facts = ReadWaveFacts(from);
    if (std::string refusal = CheckCrossfade(fade, facts.frames, facts.sampleRate);
        !refusal.empty()) {
      return {refusal};
    }
    const auto channelByte = static_cast<std::uint8_t>(facts.channels);
    const std::uint64_t dataBytes =
        facts.frames * static_cast<std::uint64_t>(facts.channels) * kPcm16SampleBytes;
    if (const LoopPointsCheck points = CheckPointsInSamples(channelByte, dataBytes, table);
        points.verdict != LoopPointsCheck::Verdict::fits) {
      return {LoopPointsText(points)};
    }
    // The chunks behind the samples (bext, LIST, smpl, ...) go with the copy, as in a plain copy.
    FileSource bytes(from);
    const std::vector<RiffChunk> kept = KeptChunks(ReadWaveLayout(bytes));
    if (dataBytes + KeptBytes(kept) > kMostCopyBytes) return {kTooLongText};
    const std::uint64_t length = CrossfadeFramesOf(fade.ms, facts.sampleRate);
    std::vector<std::int16_t> tail =
        ReadFrames(from, fade.end + 1 - length, length, facts.channels);
    CrossfadeFrames(tail, ReadFrames(from, fade.start - length, length, facts.channels),
                    facts.channels, fade.shape);

    to.OnlyReplaceRegularFiles();
    if (const int error = to.Create(destination)) {
      if (error == ENODEV) return {kNotRegularText, true};
      return {to.WriteProtected() ? kOpenErrorText : OsErrorText(error), true};
    }
    const WaveHeader header = BuildWaveHeader(
        {static_cast<std::uint16_t>(facts.channels), facts.sampleRate, kPcm16Bits},
        static_cast<std::uint32_t>(dataBytes), static_cast<std::uint32_t>(KeptBytes(kept)));
    ThrowIfWriteFailed(to.Write(header.data(), header.size()));
    if (!CopySamples(from, dataBytes, to, OverlayOf(fade.end + 1 - length, tail, facts.channels),
                     channelByte, table) ||
        !AppendChunks(from, kept, to)) {
      return {kSourceShrankText};
    }
    ThrowIfWriteFailed(to.Commit());
  } catch (const CFileException& e) {
    return {e.what()};
  } catch (const WriteFailure& e) {
    return {OsErrorText(e.osError), true};
  }
  return {};
}
