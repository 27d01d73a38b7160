// A loop crossfaded into a copy: where no end joins its start smoothly, the last frames of the
// loop are faded over into the frames just before its start, so the end leads into the start as
// the frames before the start always did. The original file is only read; the copy is written
// unseen and renamed into place. No windows here.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "looppatch/loop_table.h"

inline constexpr std::uint32_t kLeastCrossfadeMs = 1;
inline constexpr std::uint32_t kMostCrossfadeMs = 500;

enum class FadeShape {
  linear,      // the two gains add up to 1: right for sound that matches on both sides
  equalPower,  // their squares add up to 1: no dip in level for sound that does not
};

struct Crossfade {
  std::uint64_t start = 0;  // A, the loop's first frame
  std::uint64_t end = 0;    // B, the last frame played
  std::uint32_t ms = 0;     // kLeastCrossfadeMs to kMostCrossfadeMs
  FadeShape shape = FadeShape::linear;
};

// `tail` holds the loop's last frames (ending with B), `lead` as many frames ending just before
// A, interleaved. Frame i of the tail becomes itself times the fading-out gain plus frame i of
// the lead times the fading-in gain; the fade-in reaches 1 at B, so B holds the frame before A
// and the jump back to A continues the sound as it always went on there.
void CrossfadeFrames(std::vector<std::int16_t>& tail, const std::vector<std::int16_t>& lead,
                     int channels, FadeShape shape);

// The frames a crossfade of `ms` spans at this rate.
std::uint64_t CrossfadeFramesOf(std::uint32_t ms, std::uint32_t sampleRate);

// Empty when the crossfade fits a file of this many frames at this rate; otherwise why not.
std::string CheckCrossfade(const Crossfade& fade, std::uint64_t frames, std::uint32_t sampleRate);

// How a crossfaded copy ended: empty text when it was made, otherwise why not and whether the
// reason is about the destination rather than the source.
struct CrossfadeOutcome {
  std::string text;
  bool aboutDestination = false;
  bool Made() const { return text.empty(); }
};

// Writes DEST: the canonical header and the samples of SOURCE (a file loop can patch), with the
// crossfade laid over the end of the loop and `table` stored in its loop table, both before the
// copy takes its name, through the same safe replacement as the plain copy: a failure leaves
// whatever was at DEST as it was, a link there is replaced, never written through, and a
// folder, FIFO or device there is refused.
CrossfadeOutcome WriteCrossfadedCopy(const std::string& source, const std::string& destination,
                                     const Crossfade& fade, const LoopPoints& table);
