// One pass over the recording: every frame of each chosen channel read as the samples arrive,
// the next block read on the other core meanwhile, and --follow's status lines on the way.
#pragma once

#include <vector>

#include "verify/map/channel_choice.h"
#include "verify/map/frame_reader.h"
#include "verify/map/verifier.h"
#include "verify/read/sound_file.h"

// One channel's frames as read, and the stretch its bursts were matched at.
struct ChannelFrames {
  int channel = 0;  // counted from 0
  std::vector<GridFrame> frames;
  double stretch = 1.0;
};

// Every frame of each chosen channel, each burst placed to a fraction of a sample, in one pass
// over the recording; counts the samples of the first channel that are no number into the
// report. Only the first channel's faults are told as they come.
std::vector<ChannelFrames> ReadFrames(SoundFile& file, const std::vector<Choice>& choices,
                                      const VerifyOptions& given, VerifyProgress* progress,
                                      VerifyReport& report);
