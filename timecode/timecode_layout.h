// The layout of TC.wav, shared by the generator that writes it and the verifier that reads a
// recording of it back: sample rates, slots, frames and the symbols that mark them. Constants and
// arithmetic only, so any part of the project may include it.
#pragma once

// TC.wav's sample rate: 44100 Hz for DTMF-F, 36015 Hz for DTMF-S.
inline constexpr int kRateF = 44100;
inline constexpr int kRateS = 36015;

// The rate for the type as the verifier names it, 'F' or 'S'.
constexpr int TimecodeRate(char type) {
  return type == 'S' ? kRateS : kRateF;
}

// Every burst and every gap fills one slot.
inline constexpr int kSlotSamples = 1800;
// One frame, the last aside, lasts 24,576 samples.
inline constexpr int kFrameSamples = 24576;

inline constexpr int kMethod1 = 1;
inline constexpr int kMethod2 = 2;

// Sample of TC.wav where frame n's start marker begins: frames are 24,576 samples apart, and
// under method 1 frame 1 carries two extra gaps.
constexpr double FrameStartInTimecode(int frame, int method) {
  double start = static_cast<double>(frame - 1) * kFrameSamples;
  if (method == kMethod1 && frame >= 2) start += 2 * kSlotSamples;
  return start;
}

// The DTMF ID enters every check symbol.
inline constexpr int kMinDtmfId = 1;
inline constexpr int kMaxDtmfId = 10;

// Symbols of the tone bank: 1 to 9 are the digits and 10 the digit 0; frame 1 opens with 11 under
// method 1 and 13 under method 2, every later frame with 12; under method 2 the last frame closes
// with 11 instead of its check symbol, and under method 1 frame 1 carries 13 in place of its
// thousands digit.
inline constexpr int kZeroDigitSymbol = 10;
inline constexpr int kRunEdgeSymbol = 11;
inline constexpr int kFrameStartSymbol = 12;
inline constexpr int kFirstFrameSymbol = 13;
