// What vrellok-verify finds in a recording: the timecode's settings, every frame it read with
// the place it landed, and the fit of those places against the places the frames have in TC.wav.
// Positions are in samples of the recording, counted from its first sample.
#pragma once

#include <string>
#include <vector>

struct FoundFrame {
  int number = 0;              // from its four digits
  double foundSample = 0.0;    // where sample 0 of its start-marker burst lies, sub-sample
  double offsetSamples = 0.0;  // found - (found(first) + (s(n) - s(first)) * r)
  bool checkOk = true;         // its check symbol agrees with the DTMF ID (always true for the
                               // '*' that ends the last frame under method 2)
  double levelDbfs = 0.0;      // RMS level of its start marker
};

struct Discontinuity {
  int frame = 0;             // the later frame of the break
  double jumpSamples = 0.0;  // found spacing - b * expected spacing
};

struct VerifyReport {
  std::string file;  // the recording as named on the command line
  char type = 'F';   // 'F': DTMF-F, 44100 Hz; 'S': DTMF-S, 36015 Hz
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

  // Every frame from first to last once, in order, every check right, no discontinuity.
  bool Clean() const {
    return missing.empty() && duplicated.empty() && outOfOrder.empty() && checkFailures.empty() &&
           discontinuities.empty();
  }
};
