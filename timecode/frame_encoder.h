// The frame encoder: turns a sample length into numbered frames of DTMF bursts and silence.
// It only emits pieces (pointers into the tone bank or the zero block) to a sink; whoever owns
// the sink owns the file.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "timecode/tone_bank.h"
#include "timecode_format/timecode_layout.h"

// Every gap, tail and remainder is cut from this block of zeros; the wave header is also
// assembled in its first bytes once the data is written.
inline constexpr std::size_t kZeroBlockBytes = 24576;
using ZeroBlock = std::array<std::uint8_t, kZeroBlockBytes>;

// Receives the encoder's output in order. Each piece stays valid until the run ends, so a sink
// may queue pieces instead of copying them.
class ByteSink {
 public:
  virtual void Put(const std::uint8_t* bytes, std::size_t count) = 0;

 protected:
  ~ByteSink() = default;
};

class FrameEncoder {
 public:
  // Any method other than 1 frames as method 2. The sample length must give at least one frame.
  void SetUp(const ToneBank& bank, const ZeroBlock& zeros, ByteSink& sink, int method, int dtmfId,
             int sampleLength);

  int FrameCount() const { return m_frameCount; }

  // Appends the next frame, 1 to FrameCount() in turn.
  void WriteNextFrame();
  // Appends the closing tail and the remainder, once, after the last frame.
  void Finish();
  // All frames, then Finish.
  void WriteAll();

 private:
  void Burst(int symbol);
  void Silence(std::size_t bytes);
  void BurstThenGap(int symbol);

  const ToneBank* m_bank = nullptr;
  const ZeroBlock* m_zeros = nullptr;
  ByteSink* m_sink = nullptr;
  int m_method = kMethod2;
  int m_dtmfId = 1;
  int m_frameCount = 0;
  int m_remainder = 0;
  int m_frame = 0;  // the frame last written
};
