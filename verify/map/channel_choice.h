// Which channels of a recording carry timecode, of which type, and how fast it was played:
// the first look at a few frames, taken before the whole recording is read.
#pragma once

#include <cstddef>
#include <limits>
#include <string>
#include <vector>

#include "timecode_format/timecode_layout.h"
#include "verify/map/verifier.h"
#include "verify/read/sound_file.h"

struct Choice {
  int channel = 0;  // counted from 0
  TimecodeType type = TimecodeType::dtmfF;
  double speed = 1.0;  // how much faster than its rate the timecode was played
  // How far one frame's length at that speed may be off, in samples of the recording.
  double frameError = std::numeric_limits<double>::infinity();
};

// The frames read at a time: kBlockFrames, or a short recording's length, or a stream's piece.
std::size_t BlockFor(const SoundFile& file);

// The channels to read, the first of them the one the report is about, each with the type and
// speed its first frames show. Throws VerifyError when no channel holds timecode.
std::vector<Choice> Choose(SoundFile& file, const VerifyOptions& options, const std::string& path);
