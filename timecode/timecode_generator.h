// The generate operation of vrellok: loads the tone bank of the chosen timecode type, checks the
// settings and writes "TC.wav" in the current directory, header and timecode data.
#pragma once

#include <string>

#include "timecode/frame_encoder.h"
#include "timecode/tone_bank.h"
#include "timecode/writev_sink.h"

struct TimecodeSettings {
  int timecode;      // 1: 36015 Hz with dtmf36.bin, 2: 44100 Hz with dtmf44.bin
  int method;        // framing method, 1 or 2
  int sampleLength;  // samples of timecode data
  int dtmfId;        // 1 to 10, enters every check symbol
};

inline constexpr int kMinSampleLength = 100000;
inline constexpr int kMaxSampleLength = 245735424;  // 9999 full frames
inline constexpr int kMinDtmfId = 1;
inline constexpr int kMaxDtmfId = 10;

// Holds all working storage of a run, fixed in size, so a dialog can own one and generate again
// and again without allocating.
class TimecodeGenerator {
 public:
  TimecodeGenerator() = default;
  TimecodeGenerator(const TimecodeGenerator&) = delete;
  TimecodeGenerator& operator=(const TimecodeGenerator&) = delete;

  // Writes "TC.wav" and returns the text for the user: "TC.wav Created" or the error. Any
  // failure before the file is created leaves an existing TC.wav untouched; a failure while
  // writing removes the incomplete file.
  std::string Generate(const TimecodeSettings& settings);

 private:
  bool WriteOutput(const TimecodeSettings& settings, int sampleRate);

  ToneBank m_toneBank;
  ZeroBlock m_zeroBlock{};
  int m_fd = -1;
  FrameEncoder m_encoder;  // method, frame count and current frame
  WritevSink m_sink;
};
