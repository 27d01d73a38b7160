// The verifier under noise and a narrow channel: white noise as loud as the bursts and ten times
// louder, a telephone-band copy and a copy played fast must each be read whole, and a fault
// inside them still found where it lies.
#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <string>
#include <vector>

#include "recording_support.h"
#include "scratch_dir.h"
#include "verify/map/verifier.h"

namespace {

// Sixteen whole frames: enough for the scatter to set the threshold, short enough to be quick.
constexpr int kLength = 400000;
constexpr int kFrames = 16;

double FrameStart(int n) {
  return FrameStartInTimecode(n, kMethod2);
}

// 300 Hz to 3400 Hz at 8000 Hz, as a telephone line passes it: resampled, then a windowed-sinc
// band-pass (the low-pass to 3400 Hz less the one to 300 Hz).
Samples TelephoneBand(const Samples& in, int rate) {
  const Samples narrow = Resample(in, rate, 8000);
  constexpr int kHalf = 200;
  std::vector<double> taps(2 * kHalf + 1);
  for (int k = -kHalf; k <= kHalf; ++k) {
    auto lowPass = [k](double hz) {
      const double f = hz / 8000.0;
      return k == 0 ? 2.0 * f : std::sin(2.0 * std::numbers::pi * f * k) / (std::numbers::pi * k);
    };
    const double window = 0.5 * (1.0 + std::cos(std::numbers::pi * k / (kHalf + 1)));
    taps[static_cast<std::size_t>(k + kHalf)] = (lowPass(3400.0) - lowPass(300.0)) * window;
  }
  Samples out(narrow.size());
  for (std::size_t i = 0; i < narrow.size(); ++i) {
    double sum = 0.0;
    for (int k = -kHalf; k <= kHalf; ++k) {
      const auto j = static_cast<long>(i) - k;
      if (j >= 0 && j < static_cast<long>(narrow.size()))
        sum += taps[static_cast<std::size_t>(k + kHalf)] * narrow[static_cast<std::size_t>(j)];
    }
    out[i] = static_cast<float>(sum);
  }
  return out;
}

// Every frame of the timecode read, none missing, unreadable or wrongly checked, no jump, and the
// drift of the speed it was played at.
void ExpectReadWhole(const VerifyReport& report, double speed) {
  EXPECT_EQ(report.type, kTypeF);
  EXPECT_EQ(report.framesFound, kFrames);
  EXPECT_EQ(report.firstFrame, 1);
  EXPECT_EQ(report.lastFrame, kFrames);
  EXPECT_TRUE(report.missing.empty());
  EXPECT_TRUE(report.unreadable.empty());
  EXPECT_TRUE(report.checkFailures.empty());
  EXPECT_TRUE(report.discontinuities.empty());
  EXPECT_NEAR(report.driftPpm, (1.0 / speed - 1.0) * 1e6, 3.0);
}

class VerifierUnderNoise : public ::testing::Test {
 protected:
  void SetUp() override {
    m_timecode = GenerateTimecode(m_dir.Path(), {kTypeF, kMethod2, kLength, 1});
    // Scaled down so the bursts with noise ten times their power stay far from full scale.
    for (float& x : m_timecode.samples) x *= 0.25f;
  }
  // Also keeps the lines --follow would print.
  VerifyReport Verify(const Recording& recording, VerifyOptions options = {}) {
    const std::string path = m_dir.File("recording.wav");
    WriteRecording(path, recording, SF_FORMAT_WAV | SF_FORMAT_FLOAT);
    m_faultLines.clear();
    options.onFault = [this](const std::string& line) { m_faultLines.push_back(line); };
    try {
      return VerifyRecording(path, options);
    } catch (const VerifyError& error) {
      ADD_FAILURE() << error.what();
      return {};
    }
  }
  Recording Noisy(double snrDb, unsigned seed) const {
    return {WithWhiteNoise(m_timecode.samples, snrDb, seed), m_timecode.rate};
  }

  ScratchDir m_dir;
  Recording m_timecode;
  std::vector<std::string> m_faultLines;
};

TEST_F(VerifierUnderNoise, EveryFrameIsReadInNoiseThroughATelephoneAndPlayedFast) {
  struct Case {
    const char* name;
    Recording recording;
    double speed;
  };
  const Case cases[] = {
      {"white noise at 0 dB", Noisy(0.0, 1), 1.0},
      {"telephone band", {TelephoneBand(m_timecode.samples, m_timecode.rate), 8000}, 1.0},
      {"1.5 % fast", {Resample(m_timecode.samples, 44100, 44100, 1.015), 44100}, 1.015},
      {"1.5 % fast at 0 dB",
       {WithWhiteNoise(Resample(m_timecode.samples, 44100, 44100, 1.015), 0.0, 3), 44100},
       1.015},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const VerifyReport report = Verify(c.recording);
    ExpectReadWhole(report, c.speed);
    EXPECT_TRUE(report.Clean());
    EXPECT_TRUE(m_faultLines.empty()) << m_faultLines[0];
  }
}

// Noise ten times the bursts' power, in a few noises of its own: the first frames' keys drown
// (up to the first four), a digit or two of some frame, the first look's speed is a percent
// off, and one frame's place at the start or the end scatters most. Every frame is still read
// where it lies, none is judged a jump, and however far the places scatter a jump of more than
// half a sample is still a discontinuity: the threshold stops there.
TEST_F(VerifierUnderNoise, EveryFrameIsReadInNoiseTenTimesLouder) {
  for (const unsigned seed : {2u, 3u, 4u, 6u, 17u, 24u, 41u, 80u}) {
    SCOPED_TRACE(seed);
    const VerifyReport report = Verify(Noisy(-10.0, seed));
    ExpectReadWhole(report, 1.0);
    EXPECT_TRUE(m_faultLines.empty()) << m_faultLines[0];
    EXPECT_NEAR(report.latencySamples, 0.0, 1.0);
    EXPECT_FALSE(report.sampleExact);
    EXPECT_EQ(report.thresholdSamples, 0.5);
  }
}

TEST_F(VerifierUnderNoise, DigitsOverwrittenByNoiseAreUnreadableWhereTheyLie) {
  Recording recording = Noisy(0.0, 4);
  // Frame 7's hundreds, tens and units digits drowned in noise a hundred times their power.
  std::mt19937 random(5);
  std::normal_distribution<float> loud(0.0f, 0.9f);
  const auto from = static_cast<std::size_t>(FrameStart(7)) + 4 * kSlotSamples;
  for (std::size_t i = 0; i < 5 * kSlotSamples; ++i) recording.samples[from + i] = loud(random);
  const VerifyReport report = Verify(recording);
  ASSERT_EQ(report.unreadable.size(), 1u);
  EXPECT_EQ(report.unreadable[0].frame, 7);
  EXPECT_NEAR(report.unreadable[0].sample, FrameStart(7), 0.5);
  EXPECT_TRUE(report.missing.empty());
  EXPECT_TRUE(report.discontinuities.empty());
  EXPECT_EQ(report.framesFound, kFrames - 1);
  EXPECT_FALSE(report.Clean());
}

TEST_F(VerifierUnderNoise, OneSampleDroppedInNoiseIsOneJumpAtItsFrame) {
  Samples samples = m_timecode.samples;
  // In the gap after frame 9's units digit.
  samples.erase(samples.begin() + static_cast<long>(FrameStart(9)) + 9 * kSlotSamples + 300);
  const VerifyReport report = Verify({WithWhiteNoise(samples, 0.0, 6), m_timecode.rate});
  EXPECT_EQ(report.framesFound, kFrames);
  ASSERT_EQ(report.discontinuities.size(), 1u);
  EXPECT_EQ(report.discontinuities[0].frame, 10);
  EXPECT_NEAR(report.discontinuities[0].jumpSamples, -1.0, 0.05);
  EXPECT_TRUE(report.unreadable.empty());
  EXPECT_TRUE(report.missing.empty());
}

}  // namespace
