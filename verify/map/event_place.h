// Places each jump of the playback map from the recording's own samples: up to the change the
// recording holds TC.wav as the old segment plays it, from there on as the new one does. The
// burst places tell only which bursts lie on which line; the samples tell the sample.
#pragma once

#include "verify/map/verify_report.h"
#include "verify/read/sound_file.h"

// Reads `channel` (counted from 0) of `file` once more, from its start, around every jump in
// report.map and places each: exactly where the two segments' samples differ there, or the
// silent interval where neither tells them apart; a backward jump whose samples between the two
// segments are silence where TC.wav is not is an insertion. A stream longer than it keeps to
// read again keeps the places the bursts gave.
void PlaceEvents(VerifyReport& report, SoundFile& file, int channel);
