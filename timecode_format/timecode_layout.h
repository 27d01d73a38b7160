// The layout of TC.wav, shared by the generator that writes it and the verifier that reads a
// recording of it back: sample rates, slots, frames and the symbols that mark them. Constants and
// arithmetic only, so any part of the project may include it.
#pragma once

#include <array>
#include <cstddef>
#include <optional>

// The two kinds of timecode. Each one has its own sample rate and tone bank; the dialog, the
// command lines and the verifier's reports name it as the table below says.
enum class TimecodeType { dtmfS, dtmfF };

struct TimecodeTypeFacts {
  TimecodeType type;
  int sampleRate;            // of TC.wav and of the bank
  const char* bankFile;      // the tone bank on disk, lower case
  const char* bankNotFound;  // the messages name the banks in capitals
  const char* bankTooShort;
  int radioIndex;  // the type group's buttons, counted in template order
  char letter;     // --type on the command lines, in either case
  const char* reportName;
};

inline constexpr std::array<TimecodeTypeFacts, 2> kTimecodeTypes = {{
    {TimecodeType::dtmfS, 36015, "dtmf36.bin", "ERROR-> DTMF36.bin not found",
     "ERROR-> DTMF36.bin is too short", 0, 'S', "DTMF-S"},
    {TimecodeType::dtmfF, 44100, "dtmf44.bin", "ERROR-> DTMF44.bin not found",
     "ERROR-> DTMF44.bin is too short", 1, 'F', "DTMF-F"},
}};

// FactsOf looks a type up by its value.
static_assert(kTimecodeTypes[0].type == TimecodeType::dtmfS &&
              kTimecodeTypes[1].type == TimecodeType::dtmfF);

constexpr const TimecodeTypeFacts& FactsOf(TimecodeType type) {
  return kTimecodeTypes[static_cast<std::size_t>(type)];
}

constexpr int TimecodeRate(TimecodeType type) {
  return FactsOf(type).sampleRate;
}

// The type of a radio index or a --type letter (either case); none for anything else.
constexpr std::optional<TimecodeType> TimecodeTypeOfRadio(int index) {
  for (const TimecodeTypeFacts& facts : kTimecodeTypes) {
    if (facts.radioIndex == index) return facts.type;
  }
  return std::nullopt;
}
// The letters --type takes, as the table above gives them, in the order the usage errors name
// them.
inline constexpr char kTimecodeTypeLetters[] = "FS";
static_assert(kTimecodeTypeLetters[0] == kTimecodeTypes[1].letter &&
              kTimecodeTypeLetters[1] == kTimecodeTypes[0].letter);

constexpr std::optional<TimecodeType> TimecodeTypeOfLetter(char letter) {
  for (const TimecodeTypeFacts& facts : kTimecodeTypes) {
    if (facts.letter == letter || facts.letter == letter - 'a' + 'A') return facts.type;
  }
  return std::nullopt;
}

// Every burst and every gap fills one slot of 16-bit mono samples.
inline constexpr int kSlotSamples = 1800;
inline constexpr int kBytesPerSample = 2;
inline constexpr std::size_t kSlotBytes = kSlotSamples * kBytesPerSample;
// One frame, the last aside, lasts 24,576 samples.
inline constexpr int kFrameSamples = 24576;
inline constexpr std::size_t kFrameBytes = kFrameSamples * kBytesPerSample;
// A frame opens with its start marker, then four digits and the check symbol, a gap after each
// burst but the last.
inline constexpr int kFrameBursts = 6;
inline constexpr int kFrameSlots = 2 * kFrameBursts - 1;

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

// The tone bank holds one burst for each symbol, numbered from 1.
inline constexpr int kSymbolCount = 16;

// Symbols of the tone bank: 1 to 9 are the digits and 10 the digit 0; frame 1 opens with 11 under
// method 1 and 13 under method 2, every later frame with 12; under method 2 the last frame closes
// with 11 instead of its check symbol, and under method 1 frame 1 carries 13 in place of its
// thousands digit.
inline constexpr int kZeroDigitSymbol = 10;
inline constexpr int kRunEdgeSymbol = 11;
inline constexpr int kFrameStartSymbol = 12;
inline constexpr int kFirstFrameSymbol = 13;

// The symbol that stands for a digit of a frame number.
constexpr int DigitSymbol(int digit) {
  return digit == 0 ? kZeroDigitSymbol : digit;
}

// Check symbol of frame n: tops the digit sum up to a multiple of ten, shifted by the DTMF ID.
int CheckSymbol(int frame, int dtmfId);
