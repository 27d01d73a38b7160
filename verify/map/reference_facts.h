// What the reader learns of a TC.wav given with --reference, which the playlist judges each
// played file against.
#pragma once

#include <cstdint>
#include <string>

#include "timecode_format/timecode_layout.h"

struct ReferenceFacts {
  std::string path;
  TimecodeType type = TimecodeType::dtmfF;
  int method = kMethod2;
  int dtmfId = 1;
  int lastFrame = 0;
  std::int64_t samples = 0;
};
