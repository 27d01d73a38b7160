// What vrellok-verify finds in a recording: the timecode's settings, every frame it read with
// the place it landed, and the fit of those places against the places the frames have in TC.wav.
// Positions are in samples of the recording, counted from its first sample.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "timecode_format/timecode_layout.h"
#include "verify/map/playback_map.h"
#include "verify/map/reference_findings.h"

struct FoundFrame {
  int number = 0;              // from its four digits
  double foundSample = 0.0;    // where sample 0 of its start-marker burst lies, sub-sample
  double offsetSamples = 0.0;  // found - (found(first) + (s(n) - s(first)) * r)
  bool checkOk = true;         // its check symbol agrees with the DTMF ID (always true for the
                               // '*' that ends the last frame under method 2)
  double levelDbfs = 0.0;      // RMS level of its start marker
  // Where sample 0 of each of its six bursts lies; NaN where a burst could not be placed.
  std::array<double, 6> bursts{};
  int checkId = 0;  // the DTMF ID its check symbol gives; 0: none does, or the '*'
};

struct Discontinuity {
  int frame = 0;             // the later frame of the break
  double jumpSamples = 0.0;  // found spacing - b * expected spacing
  double sample = 0.0;       // where the later frame's start marker lies in the recording
};

// A frame the verdict names, with where it lies (or would have lain) in the recording.
struct FramePlace {
  int frame = 0;
  double sample = 0.0;
};

// Another channel that carries the timecode, read and judged as the report's own channel is.
struct OtherChannel {
  int channel = 0;  // counted from 1
  int framesFound = 0;
  int faults = 0;  // frames missing, unreadable, duplicated, out of order, wrong checks and jumps
  double latencySamples = 0.0;
  double offsetSamples = 0.0;  // its latency less the latency of the report's own channel
};

struct VerifyReport {
  std::string file;  // the recording as named on the command line
  TimecodeType type = TimecodeType::dtmfF;
  int method = 2;
  bool methodAssumed = false;  // neither frame 1 nor the closing * was in the recording
  int dtmfId = 1;
  int sampleRate = 0;  // of the recording
  int channel = 1;     // counted from 1
  int channels = 1;    // in the recording
  std::vector<FoundFrame>
      frames;                   // in recording order; frames cut by the recording's ends left out
  int firstFrame = 0;           // number of the first frame in recording order
  int lastFrame = 0;            // number of the last frame in recording order
  int framesFound = 0;          // distinct frame numbers
  std::vector<int> missing;     // numbers between first and last never found
  std::vector<int> duplicated;  // numbers found more than once
  std::vector<int> outOfOrder;  // numbers found after a larger one
  std::vector<int> checkFailures;  // numbers whose check symbol disagrees with the DTMF ID
  double latencySamples = 0.0;     // where TC.wav's first sample would lie in the recording
  double driftPpm = 0.0;
  double jitterRmsSamples = 0.0;
  double jitterMaxSamples = 0.0;
  std::vector<Discontinuity> discontinuities;
  std::vector<FramePlace> missingPlaces;  // each of `missing`, in the same order, with its place
  std::vector<FramePlace> unreadable;     // in the grid, but its digits or check can't be read;
                                          // its number comes from its neighbours
  // Bursts of frames read that their burst does not wholly explain (a part of them lost or
  // overwritten), with where each burst begins.
  std::vector<FramePlace> damaged;
  int judgedFirst = 0;  // the frames the verdict covers
  int judgedLast = 0;
  bool rangeStated = false;         // the judged range came from --reference or --frames
  double thresholdSamples = 0.5;    // a jump larger than this is a discontinuity
  bool sampleExact = true;          // the scatter is small enough to tell a one-sample slip
  bool timingMeasured = true;       // enough frames for drift and jitter (else null in JSON)
  std::int64_t nonFiniteCount = 0;  // NaN or infinite samples, never used
  std::vector<std::int64_t> nonFiniteSamples;  // where the first of them lie
  std::int64_t framesDeclared = -1;            // sample frames the header declares; -1 for a stream
  std::int64_t framesRead = 0;                 // sample frames that could be read
  PlaybackMap map;  // the segments TC.wav played in and the events between them
  // Held against --reference where the recording is at TC.wav's own rate without drift; none
  // where it could not be (no reference, another rate, drift, a stream).
  std::optional<BitExactCheck> bitExact;
  std::vector<LoopFinding> loops;  // every jump back in TC.wav, against its loop table
  std::vector<int> loopsNotTaken;  // loop end points (2, 4, ...) played through, never looped at
  // Where a loop made on its points began a new pass through TC.wav, in recording order: a frame
  // heard again in a later pass is no duplicate.
  std::vector<double> passStarts;
  // A recording of several TC.wav files, one after the other, each with its own DTMF ID: each
  // file's own report, in recording order (empty for one file). file names its --reference
  // (empty without one); gapSamples is the recording samples from the end of the file before to
  // the start of this one (0: gapless), not known without the earlier file's --reference.
  std::vector<VerifyReport> files;
  std::optional<double> gapSamples;
  // The header declares no length (a recorder stopped before it wrote it): read to the end.
  bool lengthUndeclared = false;
  std::string stopReason;                   // why the decoder stopped before the end, or empty
  std::vector<OtherChannel> otherChannels;  // every other channel that carries the timecode

  bool Truncated() const { return framesDeclared >= 0 && framesRead < framesDeclared; }

  // Every frame from first to last once, in order, every check right, no discontinuity.
  bool Clean() const {
    return missing.empty() && duplicated.empty() && outOfOrder.empty() && checkFailures.empty() &&
           discontinuities.empty() && unreadable.empty() && map.events.empty() &&
           nonFiniteCount == 0 && !Truncated() && stopReason.empty() && loopsNotTaken.empty() &&
           std::all_of(otherChannels.begin(), otherChannels.end(),
                       [](const OtherChannel& other) { return other.faults == 0; });
  }
};
