#include "timecode/frame_encoder.h"

namespace {

// Each frame but the last ends with a gap and this much more silence, bringing it to 24,576
// samples.
constexpr std::size_t kFrameFillBytes = kFrameBytes - (kFrameSlots + 1) * kSlotBytes;
// Under method 1 the last frame stops short by the two extra gaps frame 1 carried; the tail
// makes up the rest of a full frame.
constexpr std::size_t kMethod1TailBytes = kFrameBytes - (kFrameSlots + 2) * kSlotBytes;
static_assert(kFrameFillBytes == 5952 && kMethod1TailBytes == 2352);

}  // namespace

void FrameEncoder::SetUp(const ToneBank& bank, const ZeroBlock& zeros, ByteSink& sink, int method,
                         int dtmfId, int sampleLength) {
  m_bank = &bank;
  m_zeros = &zeros;
  m_sink = &sink;
  m_method = method;
  m_dtmfId = dtmfId;
  m_frameCount = sampleLength / kFrameSamples;
  m_remainder = sampleLength % kFrameSamples;
  m_frame = 0;
}

void FrameEncoder::WriteNextFrame() {
  const int n = ++m_frame;
  const bool first = n == 1;
  const bool last = n == m_frameCount;
  const bool method1 = m_method == kMethod1;

  if (!first) {
    BurstThenGap(kFrameStartSymbol);
  } else {
    BurstThenGap(method1 ? kRunEdgeSymbol : kFirstFrameSymbol);
  }
  BurstThenGap(first && method1 ? kFirstFrameSymbol : DigitSymbol((n % 10000) / 1000));
  BurstThenGap(DigitSymbol((n % 1000) / 100));
  BurstThenGap(DigitSymbol((n % 100) / 10));
  BurstThenGap(DigitSymbol(n % 10));
  Burst(last && !method1 ? kRunEdgeSymbol : CheckSymbol(n, m_dtmfId));
  if (first && method1) {
    Silence(kSlotBytes);
    Silence(kSlotBytes);
  }
  if (!last) {
    Silence(kSlotBytes);
    Silence(kFrameFillBytes);
  }
}

void FrameEncoder::Finish() {
  if (m_method == kMethod1) {
    Silence(kMethod1TailBytes);
  } else {
    Silence(kSlotBytes);
    Silence(kFrameFillBytes);
  }
  // The remainder is counted in samples; two runs of R zero bytes make R silent samples.
  const auto remainder = static_cast<std::size_t>(m_remainder);
  Silence(remainder);
  Silence(remainder);
}

void FrameEncoder::WriteAll() {
  while (m_frame < m_frameCount) WriteNextFrame();
  Finish();
}

void FrameEncoder::Burst(int symbol) {
  m_sink->Put(m_bank->Burst(symbol), kSlotBytes);
}

void FrameEncoder::Silence(std::size_t bytes) {
  if (bytes > 0) m_sink->Put(m_zeros->data(), bytes);
}

void FrameEncoder::BurstThenGap(int symbol) {
  Burst(symbol);
  Silence(kSlotBytes);
}
