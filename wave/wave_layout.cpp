#include "wave/wave_layout.h"

#include <algorithm>
#include <array>

#include "wave/wave_fields.h"

namespace {

// The subformat GUID of the extensible format, apart from the tag in its first two bytes.
bool IsSubformatGuid(const std::uint8_t* guid) {
  return std::equal(kPcmSubformat.begin() + 2, kPcmSubformat.end(), guid + 2);
}

std::optional<FmtFields> ReadFmt(ByteSource& source, const RiffChunk& chunk) {
  std::array<std::uint8_t, kExtensibleFmtBytes> fmt{};
  const auto want = static_cast<std::size_t>(std::min<std::uint64_t>(chunk.Held(), fmt.size()));
  if (want < kPlainFmtBytes || source.ReadAt(chunk.body, fmt.data(), want) != want) {
    return std::nullopt;
  }
  FmtFields fields;
  fields.tag = GetLe16(&fmt[kFmtTagAt]);
  fields.channels = GetLe16(&fmt[kFmtChannelsAt]);
  fields.sampleRate = GetLe32(&fmt[kFmtRateAt]);
  fields.blockAlign = GetLe16(&fmt[kFmtBlockAlignAt]);
  fields.bits = GetLe16(&fmt[kFmtBitsAt]);
  if (fields.tag == kExtensibleFormat) {
    fields.extensible = true;
    const bool guid = want >= kExtensibleFmtBytes &&
                      GetLe16(&fmt[kFmtExtensionSizeAt]) >= kFmtExtensionBytes &&
                      IsSubformatGuid(&fmt[kFmtSubformatAt]);
    // An extension that names no known coding leaves the tag saying "extensible".
    if (guid) fields.tag = GetLe16(&fmt[kFmtSubformatAt]);
  }
  return fields;
}

// An RF64 or BW64 file keeps its sizes in a ds64 chunk right behind the preamble; one that is
// too short for them, or runs past the end of the file, cannot be right.
bool Ds64CanBeRight(const WaveLayout& layout) {
  if (layout.chunks.empty()) return false;
  const RiffChunk& ds64 = layout.chunks.front();
  return ds64.Is("ds64") && ds64.size >= kDs64LeastBytes && !ds64.RunsPastEnd();
}

// Without a data chunk: the last chunk met, when its body holds a data chunk's id. Only the
// last can have taken in the data chunk, since the walk went on behind every other one.
std::optional<std::string> Swallower(ByteSource& source, const WaveLayout& layout) {
  if (layout.chunks.empty()) return std::nullopt;
  const RiffChunk& chunk = layout.chunks.back();
  if (!FindDataId(source, chunk.body, chunk.body + chunk.Held())) return std::nullopt;
  return std::string(chunk.id.begin(), chunk.id.end());
}

LayoutFault FaultOf(ByteSource& source, WaveLayout& layout, std::optional<std::size_t> fmtIndex,
                    std::optional<std::size_t> dataIndex) {
  if (layout.form == RiffForm::kNone) return LayoutFault::kNotWave;
  if (layout.form == RiffForm::kRf64 && !Ds64CanBeRight(layout)) return LayoutFault::kBadDs64;
  if (!dataIndex) {
    const std::optional<std::string> swallower = Swallower(source, layout);
    if (!swallower) return LayoutFault::kNoData;
    layout.swallower = *swallower;
    return LayoutFault::kSwallowed;
  }
  if (!fmtIndex) return LayoutFault::kNoFmt;
  return *fmtIndex > *dataIndex ? LayoutFault::kFmtAfterData : LayoutFault::kNone;
}

}  // namespace

WaveLayout ReadWaveLayout(ByteSource& source) {
  WaveLayout layout;
  std::optional<std::size_t> fmtIndex;
  std::optional<std::size_t> dataIndex;
  layout.form = WalkRiffChunks(source, [&](const RiffChunk& chunk) {
    if (chunk.Is("fmt ") && !fmtIndex) {
      fmtIndex = layout.chunks.size();
      layout.fmt = ReadFmt(source, chunk);
    } else if (chunk.Is("data") && !dataIndex) {
      dataIndex = layout.chunks.size();
      layout.data = chunk;
    }
    layout.chunks.push_back(chunk);
    return RiffWalk::kGoOn;
  });
  layout.fault = FaultOf(source, layout, fmtIndex, dataIndex);
  return layout;
}
