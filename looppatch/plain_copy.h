// Plain copies: the samples of an everyday wave file (16-bit PCM in one or two channels, but
// with more than the 44-byte header: a LIST or bext chunk before the data, a longer fmt chunk,
// the extensible format) behind the canonical header, the one layout the loop table fits.
// No windows here: the functions take paths and an open file and return what to show.
#pragma once

#include <string>

#include "platform/file.h"

inline constexpr char kCopyOverSourceText[] = "The copy cannot replace the file it is made from";

// True when the file is RIFF/WAVE with 16-bit PCM samples in one or two channels (format 1, or
// the extensible format with the PCM subformat) and a data chunk, whatever else it holds.
bool CanMakePlainCopy(CFile& file);

// The name proposed for the copy: "NAME-plain.wav" in the source's folder.
std::string PlainCopyName(const std::string& source);

// Writes the copy: the canonical header, then the source's data chunk byte for byte (a data
// size beyond the end of the file is clipped to what is there; every other chunk is dropped).
// The copy is written to a temporary file in the destination's folder, flushed and renamed into
// place, so a failure leaves whatever was at the destination as it was; a link at the
// destination is replaced, never followed. The source is only read, and never replaced.
// Returns "" on success, or the text to show.
std::string WritePlainCopy(const std::string& source, const std::string& destination);
