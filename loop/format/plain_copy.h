// Plain copies: the samples of an everyday wave file (16-bit PCM in one or two channels, but
// with more than the 44-byte header: a LIST or bext chunk before the data, a longer fmt chunk,
// the extensible format) behind the canonical header, the one layout the loop table fits.
// No windows here: the functions take paths and an open file and return what to show.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "fileio/file.h"
#include "fileio/replace_file.h"
#include "loop/format/loop_table.h"
#include "wave/wave_header.h"
#include "wave/wave_layout.h"

inline constexpr char kCopyOverSourceText[] = "The copy cannot replace the file it is made from";
inline constexpr char kSourceShrankText[] = "The file became shorter while it was copied";
inline constexpr char kTooLongText[] =
    "The samples are too long for a wave file with the plain header";
inline constexpr char kNotRegularText[] = "The copy can only replace a regular file";
inline constexpr char kSizeUnsetText[] =
    "The header gives no size for the samples: the copy holds them up to the end of the file";
// What is wrong with a wave file whose samples cannot be found or read.
inline constexpr char kBadDs64Text[] =
    "The ds64 chunk of this RF64 file cannot be right, so the size of its samples is unknown";
inline constexpr char kNoDataText[] = "The file has no data chunk, so it holds no samples";
inline constexpr char kNoFmtText[] =
    "The file has no fmt chunk, so the format of its samples is unknown";
inline constexpr char kFmtAfterDataText[] =
    "The fmt chunk lies behind the data chunk: the samples come before their format";
inline constexpr char kShortFmtText[] = "The fmt chunk is too short to describe the samples";
// "The size of the LIST chunk takes in the data chunk behind it"
std::string SwallowedText(const std::string& chunkId);

// True when the file is RIFF/WAVE (or RF64/BW64) with 16-bit PCM samples in one or two channels
// (format 1, or the extensible format with the PCM subformat) and a data chunk, whatever else it
// holds. The walk over the chunks reads a few bytes per chunk and stops at the first one that
// cannot be real, so it takes no longer on a crafted 4 GiB file than on an everyday one.
bool CanMakePlainCopy(CFile& file);

// CheckPatchable's text, except that a wave file whose samples are not 16-bit PCM in one or two
// channels gets kNotPcm16Text whatever its header layout (plain or extensible, with or without
// other chunks), not the text for a longer header, and a wave file whose samples cannot be found
// or read is told what is wrong with its layout.
std::string TableRefusal(CFile& file);

// What is wrong with the fmt chunk of a layout without faults: too short, or 16-bit PCM in one
// or two channels whose block size does not fit them; "" when nothing is.
std::string FmtFaultText(const WaveLayout& layout);

// The text for a layout's fault; empty for none, and kNotCanonicalText for a file that is no
// wave file at all.
std::string LayoutFaultText(const WaveLayout& layout);

// The name proposed for the copy: "NAME-plain.wav" in the source's folder.
std::string PlainCopyName(const std::string& source);

// How a plain copy ended.
struct PlainCopyOutcome {
  enum class Kind {
    copied,
    overSource,         // the destination is the source itself
    sourceUnopened,     // "Error Opening File"; osError says why
    notPcm16,           // a wave file, but not 16-bit PCM in one or two channels
    damaged,            // damage: a wave file whose samples cannot be found or read
    notWave,            // no wave file at all
    tooLong,            // more samples than the plain header's sizes can count
    notRegular,         // a folder, FIFO or device at the destination
    destinationLocked,  // "Error Opening File": the destination's folder takes no new file
    destinationFailed,  // osError: no new file could be made at the destination
    sourceShrank,
    fileFailed,     // osError: a read, write or flush failed on the way
    pointsRefused,  // points: the loop points asked for do not fit the copy
  };
  Kind kind = Kind::copied;
  int osError = 0;
  LoopPointsCheck points{};
  std::string damage{};
  std::vector<std::string> kept{};  // copied: the chunks kept behind the samples, by name
};

// Makes the copy's unseen file in the destination's folder; the refusal when it cannot be made
// (a folder, FIFO or device at the name, a folder that takes no new file, another failure).
// Opens the source of a copy for reading, refusing a copy over its own source first; the
// refusal, if any.
std::optional<PlainCopyOutcome> OpenCopySource(const std::string& source,
                                               const std::string& destination, CFile& from);
std::optional<PlainCopyOutcome> CreateDestination(ReplacementFile& to,
                                                  const std::string& destination);

// The text to show for an outcome; empty for a copy made.
std::string PlainCopyText(const PlainCopyOutcome& outcome);

// The names of the chunks a copy of this file keeps behind its samples, in their order: every
// chunk but fmt, data and ds64 (which the canonical header replaces) and one cut short by the
// end of the file. "cue " is named "cue".
std::vector<std::string> KeptChunkNames(CFile& file);
// "The copy keeps the file's other chunks behind its samples: bext, LIST"; "" for none.
std::string KeptChunksText(const std::vector<std::string>& names);
// The same for the file at source, read without a lock; "" when it cannot be read.
std::string KeptChunksTextOf(const std::string& source);

// Writes the copy: the canonical header, then the source's data chunk byte for byte (a data
// size beyond the end of the file is clipped to what is there), then the kept chunks
// (KeptChunkNames) byte for byte in their order, the RIFF size covering them.
// The copy is written unseen in the destination's folder, flushed and renamed into place, so a
// failure, or a kill, leaves whatever was at the destination as it was and nothing else behind
// (unless only the folder's flush after the rename fails: then the copy is in place, and the
// error is still returned). A link to a file at the destination is replaced, never written
// through; a folder, FIFO or device there is refused. Samples that the plain header's 32-bit
// sizes cannot describe are refused rather than cut short. The source is only read, and never
// replaced; should it become shorter during the copy, the copy fails. A source whose header gives
// no data size (0 or 0xFFFFFFFF, as a recorder killed before it finished leaves it) with samples
// behind it is copied up to the end of the file in whole frames, and then note (if given) receives
// kSizeUnsetText. A table with points other than 0 is written over the copy's first sample bytes
// before the copy takes its name, so the copy appears with its loop points or not at all; points
// the copy cannot hold are refused as CheckLoopPoints would refuse them.
PlainCopyOutcome WritePlainCopy(const std::string& source, const std::string& destination,
                                std::string* note = nullptr, const LoopPoints& table = {});

// What a plain copy of this file would hold: its channel count and whole frames. Nothing when
// the file can have no plain copy.
struct PlainCopySamples {
  std::uint16_t channels = 0;
  std::uint64_t frames = 0;
};
std::optional<PlainCopySamples> PlainCopySamplesOf(CFile& file);
