// Standard loops: the loop points written a second time, as the smpl chunk (and cue chunk) that
// samplers, editors and libraries read, behind the samples of a canonical file. No windows here.
#pragma once

#include <cstdint>
#include <vector>

#include "fileio/file.h"
#include "loop/format/loop_table.h"

inline constexpr char kLoopsTooLongText[] =
    "The file would pass 4 GiB with standard loops behind its samples";
inline constexpr char kUnwalkedTailText[] =
    "The file holds bytes behind its last chunk that are no chunk (a tag, or a chunk whose size "
    "runs past the end), so standard loops cannot be added behind them without overwriting them";
inline constexpr char kNoRoomForLoopsText[] =
    "The header gives no end for the samples, so standard loops behind them would be read as "
    "samples";

// What the points say as standard loops: pairs of points (1-2, 3-4, ...) as loops, each end
// the last frame played, and an odd last point as a cue point.
struct StandardLoops {
  std::vector<std::pair<std::uint32_t, std::uint32_t>> loops;
  std::vector<std::uint32_t> cues;
};
StandardLoops PairPoints(const LoopPoints& points);

// Writes the points as a smpl chunk, with a cue chunk for an odd last point, behind everything
// the file holds, without moving a byte of it. The sampler's own fields (maker, product, sample
// period, unity note, pitch fraction, SMPTE time) come from the file's smpl chunk where it has
// one, and every smpl and cue chunk it had is retired (renamed JUNK), so a reader finds only
// the new ones.
//
// The steps are ordered so that a kill at any moment leaves a file every reader reads as
// before or as after: the new chunks are appended past the end the RIFF size declares and
// flushed (no reader looks there yet); the RIFF size taking them in is written and flushed
// (a reader that takes the first smpl chunk still finds the old one, a reader that takes the
// last already finds the new one); then one write renames every old chunk, flushed. Points that
// CheckLoopPoints refuses, a pair whose end lies before its start, samples with no known end and
// a file that would pass 4 GiB throw std::invalid_argument with the text to show, the file
// untouched. The file stays open.
void WriteStandardLoops(CFile& file, std::uint8_t channelByte, const LoopPoints& points);
