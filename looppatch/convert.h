// 16-bit copies of wave files whose samples loop cannot count (24- and 32-bit integers, floats,
// A-law, mu-law, 8-bit, more than two channels): read through libsndfile, written as 16-bit PCM
// behind the canonical header, with the source's other chunks kept behind the samples. No
// windows here.
#pragma once

#include <array>
#include <optional>
#include <string>

#include "fileio/file.h"
#include "looppatch/loop_table.h"
#include "looppatch/plain_copy.h"

// What a file to be converted holds, as the offer names it.
struct SourceFormat {
  std::string coding;  // "24-bit integer", "32-bit float", "A-law", ...
  int channels = 0;
  std::uint64_t frames = 0;
  bool dithered = false;  // its samples need more than 16 bits, so the copy is dithered
};

// The format of a wave file whose layout is sound but whose samples the table cannot count;
// nothing for any other file (a 16-bit file in one or two channels, a damaged one, no wave).
std::optional<SourceFormat> ConvertibleFormat(CFile& file);

// "24-bit integer samples in 2 channels"
std::string SourceFormatText(const SourceFormat& format);

// The name proposed for the copy: "NAME-16bit.wav" in the source's folder.
std::string ConvertedCopyName(const std::string& source);

// Which two channels of a source with more than two go into the copy, counted from 0; a
// source with one or two keeps them all.
using ChannelPair = std::array<int, 2>;
inline constexpr ChannelPair kFirstTwoChannels = {0, 1};

// Writes the 16-bit copy the way WritePlainCopy writes a plain one (unseen, flushed, renamed
// into place; the same refusals; the table laid over the first samples before the copy takes
// its name; the other chunks kept behind the samples, named in the outcome). Samples of more
// than 16 bits (24- and 32-bit integers, floats) are rounded to 16 bits with TPDF dither of one
// step peak; 8-bit, 16-bit, A-law and mu-law samples are taken exactly as libsndfile decodes
// them. A source libsndfile cannot read is refused as damaged with its words.
PlainCopyOutcome WriteConvertedCopy(const std::string& source, const std::string& destination,
                                    const ChannelPair& channels = kFirstTwoChannels,
                                    const LoopPoints& table = {});
