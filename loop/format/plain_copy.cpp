#include "loop/format/plain_copy.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdint>
#include <filesystem>
#include <limits>
#include <optional>
#include <vector>

#include "fileio/replace_file.h"
#include "loop/format/copy_parts.h"
#include "loop/format/file_source.h"
#include "loop/format/loop_table.h"
#include "wave/wave_header.h"

namespace {

constexpr char kPlainSuffix[] = "-plain.wav";

struct Samples {
  PcmFormat format;
  std::uint64_t offset = 0;  // of the first sample byte
  std::uint64_t bytes = 0;   // as many as the file holds
  bool sizeUnset = false;    // the header gave none: the samples run to the end of the file
};

bool IsPcm16(const std::optional<FmtFields>& fmt) {
  return fmt && fmt->tag == kPcmFormat && (fmt->channels == 1 || fmt->channels == 2) &&
         fmt->bits == kPcm16Bits && fmt->blockAlign == fmt->channels * kPcm16SampleBytes;
}

// The samples of a layout without faults whose format the table can count.
std::optional<Samples> Pcm16Samples(const WaveLayout& layout) {
  if (layout.fault != LayoutFault::kNone || !IsPcm16(layout.fmt)) return std::nullopt;
  const PcmFormat format{layout.fmt->channels, layout.fmt->sampleRate, kPcm16Bits};
  return Samples{format, layout.data->body, layout.data->Held(), layout.data->sizeUnset};
}

WaveLayout LayoutOf(CFile& file) {
  FileSource source(file);
  return ReadWaveLayout(source);
}

std::optional<Samples> FindPcm16Samples(CFile& file) {
  return Pcm16Samples(LayoutOf(file));
}

// The copy's samples: whole frames only, since a frame cut short by the end of the file is no
// sample.
std::uint64_t WholeFrameBytes(const Samples& samples) {
  return samples.bytes - samples.bytes % (samples.format.channels * kPcm16SampleBytes);
}

}  // namespace

bool CanMakePlainCopy(CFile& file) {
  return FindPcm16Samples(file).has_value();
}

std::string TableRefusal(CFile& file) {
  std::string refusal = CheckPatchable(file);
  if (refusal != kNotCanonicalText && refusal != kNotPcm16Text) return refusal;
  const WaveLayout layout = LayoutOf(file);
  if (layout.fault != LayoutFault::kNone) return LayoutFaultText(layout);
  if (std::string fmt = FmtFaultText(layout); !fmt.empty()) return fmt;
  return IsPcm16(layout.fmt) ? refusal : kNotPcm16Text;
}

std::string FmtFaultText(const WaveLayout& layout) {
  if (!layout.fmt) return kShortFmtText;
  const FmtFields& fmt = *layout.fmt;
  const auto frameBytes = static_cast<std::uint16_t>(fmt.channels * kPcm16SampleBytes);
  if (fmt.tag != kPcmFormat || fmt.bits != kPcm16Bits || (fmt.channels != 1 && fmt.channels != 2) ||
      fmt.blockAlign == frameBytes) {
    return {};
  }
  return "The fmt chunk gives " + std::to_string(fmt.blockAlign) +
         " bytes per frame, but 16-bit samples in " + std::to_string(fmt.channels) +
         (fmt.channels == 1 ? " channel take " : " channels take ") + std::to_string(frameBytes);
}

std::string SwallowedText(const std::string& chunkId) {
  return "The size of the " + chunkId + " chunk takes in the data chunk behind it";
}

std::string LayoutFaultText(const WaveLayout& layout) {
  switch (layout.fault) {
    case LayoutFault::kNone:
      break;
    case LayoutFault::kNotWave:
      return kNotCanonicalText;
    case LayoutFault::kBadDs64:
      return kBadDs64Text;
    case LayoutFault::kNoData:
      return kNoDataText;
    case LayoutFault::kSwallowed:
      return SwallowedText(layout.swallower);
    case LayoutFault::kNoFmt:
      return kNoFmtText;
    case LayoutFault::kFmtAfterData:
      return kFmtAfterDataText;
  }
  return {};
}

std::string PlainCopyName(const std::string& source) {
  std::filesystem::path path(source);
  const std::string stem = path.stem().string();
  return (path.parent_path() / (stem + kPlainSuffix)).string();
}

std::vector<std::string> KeptChunkNames(CFile& file) {
  std::vector<std::string> names;
  for (const RiffChunk& chunk : KeptChunks(LayoutOf(file))) names.push_back(ChunkName(chunk));
  return names;
}

std::string KeptChunksText(const std::vector<std::string>& names) {
  if (names.empty()) return {};
  std::string list;
  for (const std::string& name : names) list += (list.empty() ? "" : ", ") + name;
  return "The copy keeps the file's other chunks behind its samples: " + list;
}

std::string KeptChunksTextOf(const std::string& source) {
  CFile file;
  if (!file.Open(source, CFile::modeRead | CFile::shareDenyNone)) return {};
  try {
    return KeptChunksText(KeptChunkNames(file));
  } catch (const CFileException&) {
    return {};  // the copy itself will say what failed
  }
}

std::optional<PlainCopySamples> PlainCopySamplesOf(CFile& file) {
  const std::optional<Samples> samples = FindPcm16Samples(file);
  if (!samples) return std::nullopt;
  return PlainCopySamples{
      samples->format.channels,
      WholeFrameBytes(*samples) / (samples->format.channels * kPcm16SampleBytes)};
}

std::string PlainCopyText(const PlainCopyOutcome& outcome) {
  using Kind = PlainCopyOutcome::Kind;
  switch (outcome.kind) {
    case Kind::copied:
      break;
    case Kind::overSource:
      return kCopyOverSourceText;
    case Kind::sourceUnopened:
    case Kind::destinationLocked:
      return kOpenErrorText;
    case Kind::notPcm16:
      return kNotPcm16Text;
    case Kind::notWave:
      return kNotCanonicalText;
    case Kind::damaged:
      return outcome.damage;
    case Kind::tooLong:
      return kTooLongText;
    case Kind::notRegular:
      return kNotRegularText;
    case Kind::sourceShrank:
      return kSourceShrankText;
    case Kind::destinationFailed:
    case Kind::fileFailed:
      return OsErrorText(outcome.osError);
    case Kind::pointsRefused:
      return LoopPointsText(outcome.points);
  }
  return {};
}

std::optional<PlainCopyOutcome> OpenCopySource(const std::string& source,
                                               const std::string& destination, CFile& from) {
  using Kind = PlainCopyOutcome::Kind;
  if (SameFile(source, destination)) return PlainCopyOutcome{Kind::overSource};
  if (int error = 0; !from.Open(source, CFile::modeRead, &error)) {
    return PlainCopyOutcome{Kind::sourceUnopened, error};
  }
  return std::nullopt;
}

std::optional<PlainCopyOutcome> CreateDestination(ReplacementFile& to,
                                                  const std::string& destination) {
  using Kind = PlainCopyOutcome::Kind;
  to.OnlyReplaceRegularFiles();
  const int error = to.Create(destination);
  if (error == 0) return std::nullopt;
  if (error == ENODEV) return PlainCopyOutcome{Kind::notRegular};
  if (to.WriteProtected()) return PlainCopyOutcome{Kind::destinationLocked};
  return PlainCopyOutcome{Kind::destinationFailed, error};
}

PlainCopyOutcome WritePlainCopy(const std::string& source, const std::string& destination,
                                std::string* note, const LoopPoints& table) {
  using Kind = PlainCopyOutcome::Kind;
  CFile from;
  if (auto refused = OpenCopySource(source, destination, from)) return *refused;
  ReplacementFile to;  // removed again unless it has replaced the destination
  try {
    const WaveLayout layout = LayoutOf(from);
    if (layout.fault == LayoutFault::kNotWave) return {Kind::notWave};
    if (layout.fault != LayoutFault::kNone) return {Kind::damaged, 0, {}, LayoutFaultText(layout)};
    const std::optional<Samples> samples = Pcm16Samples(layout);
    if (!samples) {
      const std::string fmt = FmtFaultText(layout);
      return fmt.empty() ? PlainCopyOutcome{Kind::notPcm16}
                         : PlainCopyOutcome{Kind::damaged, 0, {}, fmt};
    }
    const std::uint64_t dataBytes = WholeFrameBytes(*samples);
    const std::vector<RiffChunk> kept = KeptChunks(layout);
    if (dataBytes + KeptBytes(kept) > kMostCopyBytes) return {Kind::tooLong};
    // The plain copy's channel byte is its channel count, 1 or 2.
    const auto channelByte = static_cast<std::uint8_t>(samples->format.channels);
    if (const LoopPointsCheck points = CheckPointsInSamples(channelByte, dataBytes, table);
        points.verdict != LoopPointsCheck::Verdict::fits) {
      return {Kind::pointsRefused, 0, points};
    }

    if (auto refused = CreateDestination(to, destination)) return *refused;
    const WaveHeader header =
        BuildWaveHeader(samples->format, static_cast<std::uint32_t>(dataBytes),
                        static_cast<std::uint32_t>(KeptBytes(kept)));
    ThrowIfFailed(to.Write(header.data(), header.size()));
    if (!CopyBytes(from, samples->offset, dataBytes, to, channelByte, table) ||
        !AppendChunks(from, kept, to)) {
      return {Kind::sourceShrank};
    }
    ThrowIfFailed(to.Commit());
    if (note != nullptr && samples->sizeUnset) *note = kSizeUnsetText;
    PlainCopyOutcome made;
    for (const RiffChunk& chunk : kept) made.kept.push_back(ChunkName(chunk));
    return made;
  } catch (const CFileException& e) {
    return {Kind::fileFailed, e.m_lOsError};
  }
  return {};
}
