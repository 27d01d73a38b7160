// What every copy loop writes is made of: the source's other chunks kept behind the samples,
// and bytes copied block by block with the loop table laid over the first samples on their
// way. No windows here.
#pragma once

#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "fileio/file.h"
#include "fileio/replace_file.h"
#include "loop/format/loop_table.h"
#include "wave/wave_layout.h"

// Both size fields of the plain header are 32 bits and the RIFF size counts the 36 header
// bytes after it, so this many bytes of samples and kept chunks are the most a copy can describe.
inline constexpr std::uint64_t kMostCopyBytes =
    std::numeric_limits<std::uint32_t>::max() - (kWaveHeaderBytes - kChunkHeaderBytes);

// The chunks a copy carries behind its samples: all but those the canonical header replaces
// (fmt, data, an RF64 file's ds64) and those the end of the file cuts short, in file order.
std::vector<RiffChunk> KeptChunks(const WaveLayout& layout);
// Their bytes in the copy, each with the pad byte RIFF demands behind an odd body.
std::uint64_t KeptBytes(const std::vector<RiffChunk>& kept);
// The chunk's id as a name: "cue " is "cue".
std::string ChunkName(const RiffChunk& chunk);

// True when both paths lead to the same file.
bool SameFile(const std::string& a, const std::string& b);
// Throws CFileException for a failure the replacement file reported as an errno value.
void ThrowIfFailed(int osError);

// Lays the table's records over the first of count bytes of samples (at most the table's 60),
// as they go to a copy.
void LayTableOverFirstBytes(std::uint8_t* bytes, std::size_t count, std::uint8_t channelByte,
                            const LoopPoints& table);

// Copies count bytes from offset; false when the source ended before them (it shrank under
// us, and the header written first would claim bytes the copy does not hold). A table with
// points is laid over the first bytes on their way, so the copy never holds the source's bytes
// there, even for a moment.
bool CopyBytes(CFile& from, std::uint64_t offset, std::uint64_t count, ReplacementFile& to,
               std::uint8_t channelByte, const LoopPoints& table);

// The kept chunks behind the samples, in their order; false when the source shrank.
bool AppendChunks(CFile& from, const std::vector<RiffChunk>& kept, ReplacementFile& to);
