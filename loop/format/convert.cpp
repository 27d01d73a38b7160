#include "loop/format/convert.h"

#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <limits>
#include <memory>
#include <vector>

#include "loop/format/copy_parts.h"
#include "loop/format/file_source.h"
#include "wave/wave_header.h"
#include "wave/wave_layout.h"

namespace {

constexpr char kConvertedSuffix[] = "-16bit.wav";
constexpr sf_count_t kBlockFrames = 16384;
constexpr std::uint16_t kALawTag = 6, kMuLawTag = 7, kFloatTag = 3;

std::string CodingOf(const FmtFields& fmt) {
  if (fmt.tag == kALawTag) return "A-law";
  if (fmt.tag == kMuLawTag) return "mu-law";
  return std::to_string(fmt.bits) + (fmt.tag == kFloatTag ? "-bit float" : "-bit integer");
}

struct SndFileCloser {
  void operator()(SNDFILE* sound) const { sf_close(sound); }
};
using SoundFile = std::unique_ptr<SNDFILE, SndFileCloser>;

// Two independent uniform draws of half a step each side sum to TPDF dither: the rounding
// error it leaves no longer follows the signal, at the cost of a little more noise.
class Dither {
 public:
  double Next() { return Uniform() + Uniform(); }

 private:
  double Uniform() {
    m_state ^= m_state << 13;
    m_state ^= m_state >> 7;
    m_state ^= m_state << 17;
    return static_cast<double>(m_state >> 11) * 0x1.0p-53 - 0.5;
  }
  std::uint64_t m_state = 0x9E3779B97F4A7C15ull;  // fixed, so a conversion is repeatable
};

std::int16_t ToPcm16(double sample, Dither& dither) {
  const double scaled = std::nearbyint(sample * kPcm16FullScale + dither.Next());
  return static_cast<std::int16_t>(std::clamp(scaled, -kPcm16FullScale, kPcm16FullScale - 1));
}

// The copy's samples, little-endian 16-bit, in blocks; false when the source ended early.
bool WriteSamples(SNDFILE* sound, int sourceChannels, const ChannelPair& pick, int outChannels,
                  bool dithered, std::uint64_t frames, const LoopPoints& table,
                  ReplacementFile& to) {
  std::vector<short> shorts(static_cast<std::size_t>(kBlockFrames * sourceChannels));
  std::vector<double> doubles(dithered ? shorts.size() : 0);
  std::vector<std::uint8_t> bytes;
  Dither dither;
  bool first = true;
  while (frames > 0) {
    const auto want = static_cast<sf_count_t>(std::min<std::uint64_t>(frames, kBlockFrames));
    const sf_count_t got = dithered ? sf_readf_double(sound, doubles.data(), want)
                                    : sf_readf_short(sound, shorts.data(), want);
    if (got <= 0) return false;
    bytes.assign(static_cast<std::size_t>(got * outChannels) * kPcm16SampleBytes, 0);
    for (sf_count_t f = 0; f < got; ++f) {
      for (int c = 0; c < outChannels; ++c) {
        const auto at = static_cast<std::size_t>(f * sourceChannels + pick[c]);
        const std::int16_t value = dithered ? ToPcm16(doubles[at], dither) : shorts[at];
        PutLe16(&bytes[static_cast<std::size_t>((f * outChannels + c) * kPcm16SampleBytes)],
                static_cast<std::uint16_t>(value));
      }
    }
    if (first) {
      LayTableOverFirstBytes(bytes.data(), bytes.size(), static_cast<std::uint8_t>(outChannels),
                             table);
      first = false;
    }
    ThrowIfFailed(to.Write(bytes.data(), bytes.size()));
    frames -= static_cast<std::uint64_t>(got);
  }
  return true;
}

}  // namespace

std::optional<SourceFormat> ConvertibleFormat(CFile& file) {
  FileSource source(file);
  const WaveLayout layout = ReadWaveLayout(source);
  if (layout.fault != LayoutFault::kNone || !layout.fmt || layout.fmt->channels == 0 ||
      layout.fmt->blockAlign == 0) {
    return std::nullopt;
  }
  const FmtFields& fmt = *layout.fmt;
  const bool pcm16 =
      fmt.tag == kPcmFormat && fmt.bits == kPcm16Bits && (fmt.channels == 1 || fmt.channels == 2);
  if (pcm16) return std::nullopt;
  SourceFormat format;
  format.coding = CodingOf(fmt);
  format.channels = fmt.channels;
  format.frames = layout.data->Held() / fmt.blockAlign;
  format.dithered = fmt.tag != kALawTag && fmt.tag != kMuLawTag && fmt.bits > kPcm16Bits;
  return format;
}

std::string SourceFormatText(const SourceFormat& format) {
  return format.coding + " samples in " + std::to_string(format.channels) +
         (format.channels == 1 ? " channel" : " channels");
}

std::string ConvertedCopyName(const std::string& source) {
  const std::filesystem::path path(source);
  return (path.parent_path() / (path.stem().string() + kConvertedSuffix)).string();
}

PlainCopyOutcome WriteConvertedCopy(const std::string& source, const std::string& destination,
                                    const ChannelPair& channels, const LoopPoints& table) {
  using Kind = PlainCopyOutcome::Kind;
  CFile from;
  if (auto refused = OpenCopySource(source, destination, from)) return *refused;
  ReplacementFile to;  // removed again unless it has replaced the destination
  try {
    FileSource bytes(from);
    const WaveLayout layout = ReadWaveLayout(bytes);
    if (layout.fault != LayoutFault::kNone) {
      return {layout.fault == LayoutFault::kNotWave ? Kind::notWave : Kind::damaged,
              0,
              {},
              LayoutFaultText(layout)};
    }
    SF_INFO info{};
    const SoundFile sound(sf_open(source.c_str(), SFM_READ, &info));
    if (!sound) return {Kind::damaged, 0, {}, std::string("libsndfile: ") + sf_strerror(nullptr)};
    const int outChannels = std::min(info.channels, 2);
    const ChannelPair pick = info.channels > 2 ? channels : kFirstTwoChannels;
    if (const int highest = std::max(pick[0], pick[1]);
        info.channels > 2 && highest >= info.channels) {
      return {Kind::damaged, 0, {}, "The file has no channel " + std::to_string(highest + 1)};
    }
    const auto frames = static_cast<std::uint64_t>(info.frames);
    const std::uint64_t dataBytes = frames * static_cast<std::uint64_t>(outChannels) * 2;
    const std::vector<RiffChunk> kept = KeptChunks(layout);
    if (dataBytes + KeptBytes(kept) > kMostCopyBytes) return {Kind::tooLong};
    const auto channelByte = static_cast<std::uint8_t>(outChannels);
    if (const LoopPointsCheck points = CheckPointsInSamples(channelByte, dataBytes, table);
        points.verdict != LoopPointsCheck::Verdict::fits) {
      return {Kind::pointsRefused, 0, points};
    }
    // A 16-bit source in one or two channels is copied as libsndfile reads it.
    const std::optional<SourceFormat> format = ConvertibleFormat(from);
    if (auto refused = CreateDestination(to, destination)) return *refused;
    const WaveHeader header = BuildWaveHeader(
        {static_cast<std::uint16_t>(outChannels), static_cast<std::uint32_t>(info.samplerate),
         kPcm16Bits},
        static_cast<std::uint32_t>(dataBytes), static_cast<std::uint32_t>(KeptBytes(kept)));
    ThrowIfFailed(to.Write(header.data(), header.size()));
    if (!WriteSamples(sound.get(), info.channels, pick, outChannels, format && format->dithered,
                      frames, table, to) ||
        !AppendChunks(from, kept, to)) {
      return {Kind::sourceShrank};
    }
    ThrowIfFailed(to.Commit());
    PlainCopyOutcome made;
    for (const RiffChunk& chunk : kept) made.kept.push_back(ChunkName(chunk));
    return made;
  } catch (const CFileException& e) {
    return {Kind::fileFailed, e.m_lOsError};
  }
}
