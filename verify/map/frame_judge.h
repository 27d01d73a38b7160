// A channel's frames made into its report: the method and DTMF ID where not given, every frame
// placed from all of its bursts, the fit, the events; and the other channels summed up.
#pragma once

#include <string>
#include <vector>

#include "verify/map/frame_reader.h"
#include "verify/map/read_frames.h"
#include "verify/map/verifier.h"

// Throws VerifyError where the options ask for a channel, method or DTMF ID there cannot be.
void CheckOptions(const VerifyOptions& options, int channels, const std::string& path);

bool AnyReadable(const std::vector<GridFrame>& frames);

// Fills the report from one channel's frames: the method and DTMF ID where not given, every
// frame with its place from all of its bursts, and the fit.
void Judge(VerifyReport& report, const ChannelFrames& read, const VerifyOptions& options);

// Another channel's report, summed up against the report of the first.
OtherChannel SumUp(const VerifyReport& other, const VerifyReport& first);
