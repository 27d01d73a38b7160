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

#include "looppatch/loop_table.h"
#include "platform/file.h"
#include "wave/wave_header.h"

inline constexpr char kCopyOverSourceText[] = "The copy cannot replace the file it is made from";
inline constexpr char kSourceShrankText[] = "The file became shorter while it was copied";
inline constexpr char kTooLongText[] =
    "The samples are too long for a wave file with the plain header";
inline constexpr char kNotRegularText[] = "The copy can only replace a regular file";
inline constexpr char kSizeUnsetText[] =
    "The header gives no size for the samples: the copy holds them up to the end of the file";

// One chunk met on a walk over a RIFF/WAVE file: its id, where its body starts and the size it
// declares (for the data chunk of an RF64 or BW64 file, the size from the ds64 chunk).
struct RiffChunk {
  std::array<std::uint8_t, kChunkIdBytes> id{};
  std::uint64_t body = 0;
  std::uint64_t size = 0;
  std::uint64_t fileLength = 0;
  bool Is(const char (&name)[5]) const;
  bool RunsPastEnd() const { return body + size > fileLength; }
  // The bytes of the body the file really holds.
  std::uint64_t Held() const { return RunsPastEnd() ? fileLength - body : size; }
};
enum class RiffWalk { kGoOn, kStop };

// Walks the chunks of a RIFF/WAVE file (or RF64/BW64) in file order, calling visit with each
// until it says stop; false when the file is no RIFF/WAVE at all. The walk reads a few bytes per
// chunk and stops at the first one that cannot be real, so it takes no longer on a crafted
// 4 GiB file than on an everyday one. A chunk whose size runs past the end of the file is
// skipped by looking for the data chunk's id behind it (a recorder killed before it finished a
// LIST chunk leaves 0xFFFFFFFF there); nothing is visited after a data chunk cut short.
bool WalkRiffChunks(CFile& file, const std::function<RiffWalk(const RiffChunk&)>& visit);

// True when the file is RIFF/WAVE (or RF64/BW64) with 16-bit PCM samples in one or two channels
// (format 1, or the extensible format with the PCM subformat) and a data chunk, whatever else it
// holds. The walk over the chunks reads a few bytes per chunk and stops at the first one that
// cannot be real, so it takes no longer on a crafted 4 GiB file than on an everyday one.
bool CanMakePlainCopy(CFile& file);

// CheckPatchable's text, except that a wave file whose samples are not 16-bit PCM in one or two
// channels gets kNotPcm16Text whatever its header layout (plain or extensible, with or without
// other chunks), not the text for a longer header.
std::string TableRefusal(CFile& file);

// The name proposed for the copy: "NAME-plain.wav" in the source's folder.
std::string PlainCopyName(const std::string& source);

// How a plain copy ended.
struct PlainCopyOutcome {
  enum class Kind {
    copied,
    overSource,         // the destination is the source itself
    sourceUnopened,     // "Error Opening File"
    notPcm16,           // a wave file, but not 16-bit PCM in one or two channels
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
};

// The text to show for an outcome; empty for a copy made.
std::string PlainCopyText(const PlainCopyOutcome& outcome);

// Writes the copy: the canonical header, then the source's data chunk byte for byte (a data
// size beyond the end of the file is clipped to what is there; every other chunk is dropped).
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
