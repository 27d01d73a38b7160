// The reader's measures: block sizes, how far the frames may stray before they count as a
// jump, how much a match must explain, and the small helpers the steps of reading share.
#pragma once

#include <array>
#include <cmath>
#include <cstddef>
#include <cstdio>
#include <string>

#include "timecode_format/timecode_layout.h"
#include "verify/signal/lane_sums.h"

inline constexpr int kMinSampleRate = 8000;
inline constexpr std::size_t kBlockFrames = 1 << 18;
// Pushed to the tracker a piece at a time, so that it still holds the whole of a frame, and half
// a frame before it, when the frame's last burst has been heard.
inline constexpr std::size_t kPieceFrames = 1 << 13;
// The first look stops once a channel has shown this many whole frames.
inline constexpr int kProbeFrames = 8;
// Start markers stand one frame apart; a spacing this close to it counts for a type (the two
// types' frames differ by a fifth), and tells the speed the recording was played at.
inline constexpr double kSpacingTolerance = 0.05;
// A spacing of start markers that strays this far from the median spacing (in samples, or in
// median strays where the places scatter more) holds a cut or a gap.
inline constexpr double kSpeedBreakSamples = 8.0;
inline constexpr double kSpeedBreakDeviations = 6.0;
// A start marker matches the known burst at least this well, whatever the gain: a burst cut by
// the start of the recording, or drowned in something else, does not.
inline constexpr double kMinCorrelation = 0.8;
// A whole frame matched under noise: noise alone matches a frame's bursts to a few hundredths at
// the best of a block's starts, and the bursts under noise ten times their power to about 0.3.
inline constexpr double kMinFrameCorrelation = 0.1;
// A frame the keys told this near (in frames) where the grid expects it is the frame expected.
inline constexpr double kNearGrid = 0.25;
// Until this many frames are read the frame's length is known only roughly.
inline constexpr std::size_t kYoungGrid = 3;
// While it is young, the grid takes a spacing this many standard errors of the first look's
// frame length from it (and a few samples) for that length; a larger one is a jump.
inline constexpr double kSpeedErrors = 4.0;
// The first frame found under noise is placed again from the line through its bursts, which
// needs this many of them placed, each within this many samples of the line, a few times over.
inline constexpr double kRefineBursts = 3.0;
inline constexpr double kRefineScatter = 1.5;
inline constexpr int kRefinePasses = 3;
// The frames before the first whose keys were heard are sought this many frames back at most.
inline constexpr double kLookBackFrames = 6.0;
// How far the first look may be off the slot's length, from where the keys were heard.
inline constexpr double kSlotUncertainty = 0.004;
// The first frame found under noise is sought over at least this error of the slot, this many
// standard errors of the first look's frame length, and at most the last.
inline constexpr double kFirstSlotError = 0.01;
inline constexpr double kFirstLookErrors = 6.0;
inline constexpr double kMostSlotError = 0.025;
// Where the places of a frame's bursts disagree by more than this (or than a few times their
// scatter), the frame holds a slip, and its place is that of the bursts with its start marker.
inline constexpr double kBurstAgreement = 0.3;
inline constexpr double kBurstDeviations = 5.0;
// A frame this far from where the grid expects it is a jump the moment it is seen.
inline constexpr double kCertainJump = 3.0;
// A frame whose bursts fit their samples less than this share of the recent frames' fit was
// placed where it no longer lies.
inline constexpr double kWeakFit = 0.6;
// Frame spacings are followed this quickly, so a prediction over a lost frame stays on a sample.
inline constexpr double kSpacingFollow = 0.25;
// A burst whose fit lies this share below the recording's usual fit, and this many deviations of
// the fits, lost a part of its samples.
inline constexpr double kLeastLoss = 0.002;
inline constexpr double kLossDeviations = 6.0;
// A slip smaller than kCertainJump is told the moment it is seen once this many frames stood
// steady, when it is at least this large and this many times how far they strayed.
inline constexpr int kSteadyFrames = 3;
inline constexpr double kSlipSamples = 0.5;
inline constexpr double kSlipStrays = 8.0;
// A playlist's next file shows by at least this many frames in a row whose check symbols give
// its DTMF ID; fewer are misread frames of the file playing.
inline constexpr std::size_t kFileFrames = 3;
// Where the first of the samples that are no number lie, for the report.
inline constexpr std::size_t kKeptNonFinite = 100;
// Rates a header may name in place of the true one; only tried when nothing is found at the
// named rate, over the first half minute.
inline constexpr int kRateF = TimecodeRate(TimecodeType::dtmfF);
inline constexpr int kRateS = TimecodeRate(TimecodeType::dtmfS);
inline constexpr std::array<int, 13> kCommonRates = {
    kRateF, kRateS, 48000, 32000, 22050, 24000, 16000, 11025, 8000, 88200, 96000, 176400, 192000};
inline constexpr double kRateProbeSeconds = 30.0;
// Timecode at another rate shows the header is wrong only when it plays at its own speed there.
inline constexpr double kOwnSpeedTolerance = 0.01;

inline double SlotSamples(int sampleRate, TimecodeType type) {
  return kSlotSamples * static_cast<double>(sampleRate) / TimecodeRate(type);
}

inline std::string Seconds(double sample, int rate) {
  char text[32];
  std::snprintf(text, sizeof text, "%.3f s", sample / rate);
  return text;
}

// As the summary prints it: a whole sample as it is, a found position to two decimals.
inline std::string SampleText(double sample) {
  char text[40];
  std::snprintf(text, sizeof text, sample == std::floor(sample) ? "sample %.0f" : "sample %.2f",
                sample);
  return text;
}

// Sets every NaN or infinite sample to 0, so no arithmetic meets one, and calls found(i) with
// each one's index.
template <typename Found>
inline void ClearNonFinite(float* x, std::size_t n, Found&& found) {
  if (lanes::AllFinite(x, n)) return;
  for (std::size_t i = 0; i < n; ++i) {
    if (!std::isfinite(x[i])) {
      x[i] = 0.0f;
      found(i);
    }
  }
}

// The DTMF ID that gives this check symbol to this frame, or 0 when none does.
inline int IdFromCheck(int frame, int check) {
  for (int id = 1; id <= kMaxDtmfId; ++id) {
    if (CheckSymbol(frame, id) == check) return id;
  }
  return 0;
}
