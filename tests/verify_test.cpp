#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "recording_support.h"
#include "scratch_dir.h"
#include "timecode/frame_encoder.h"
#include "timecode_format/dtmf_burst.h"
#include "verify/map/timing_fit.h"
#include "verify/map/verifier.h"
#include "verify/read/sound_file.h"
#include "verify/signal/frame_parser.h"

namespace {

// Short runs keep the suite quick: 40 whole frames and a remainder.
constexpr int kLength = 1000000;
constexpr int kFrames = 40;

// Where frame n's start marker lies in TC.wav.
int FrameStart(int n, int method) {
  return static_cast<int>(FrameStartInTimecode(n, method));
}

double LargestOffset(const VerifyReport& report) {
  double largest = 0.0;
  for (const FoundFrame& frame : report.frames) {
    largest = std::max(largest, std::abs(frame.offsetSamples));
  }
  return largest;
}

class Verifier : public ::testing::Test {
 protected:
  Recording Timecode(TimecodeType type, int method, int dtmfId = 1) {
    return GenerateTimecode(m_dir.Path(), {type, method, kLength, dtmfId});
  }
  VerifyReport Verify(const Recording& recording, const VerifyOptions& options = {},
                      int format = SF_FORMAT_WAV | SF_FORMAT_PCM_16) {
    const std::string path = m_dir.File("recording");
    WriteRecording(path, recording, format);
    return VerifyRecording(path, options);
  }

  ScratchDir m_dir;
};

TEST_F(Verifier, TimecodeStraightFromTheGeneratorIsPerfect) {
  for (const TimecodeType type : {kTypeS, kTypeF}) {
    for (const int method : {kMethod1, kMethod2}) {
      for (const int id : {1, 10}) {
        SCOPED_TRACE(testing::Message()
                     << FactsOf(type).reportName << " method " << method << " id " << id);
        Timecode(type, method, id);
        const VerifyReport report = VerifyRecording(m_dir.File("TC.wav"), {});
        EXPECT_EQ(report.type, type);
        EXPECT_EQ(report.sampleRate, TimecodeRate(type));
        EXPECT_EQ(report.method, method);
        EXPECT_FALSE(report.methodAssumed);
        EXPECT_EQ(report.dtmfId, id);
        EXPECT_EQ(report.channel, 1);
        ASSERT_EQ(report.frames.size(), static_cast<std::size_t>(kFrames));
        EXPECT_EQ(report.firstFrame, 1);
        EXPECT_EQ(report.lastFrame, kFrames);
        EXPECT_EQ(report.framesFound, kFrames);
        EXPECT_TRUE(report.Clean());
        for (const FoundFrame& frame : report.frames) {
          EXPECT_NEAR(frame.foundSample, FrameStart(frame.number, method), 0.005) << frame.number;
          EXPECT_TRUE(frame.checkOk);
          // Each of the two tones peaks at -9 dBFS; their sum holds twice the power of one.
          EXPECT_NEAR(frame.levelDbfs, -9.0, 0.5);
        }
        EXPECT_LT(LargestOffset(report), 0.005);
        EXPECT_NEAR(report.latencySamples, 0.0, 0.005);
        EXPECT_NEAR(report.driftPpm, 0.0, 0.001);
        EXPECT_LT(report.jitterMaxSamples, 0.005);
      }
    }
  }
}

TEST_F(Verifier, LeadingSilenceIsTheLatency) {
  Recording recording = Timecode(kTypeF, kMethod2);
  recording.samples.insert(recording.samples.begin(), 12345, 0.0f);
  const VerifyReport report = Verify(recording);
  ASSERT_EQ(report.frames.size(), static_cast<std::size_t>(kFrames));
  EXPECT_NEAR(report.latencySamples, 12345.0, 0.005);
  EXPECT_NEAR(report.frames[0].foundSample, 12345.0, 0.005);
  EXPECT_LT(LargestOffset(report), 0.005);
  EXPECT_TRUE(report.Clean());
}

// Remembers every progress report.
class ProgressLog : public VerifyProgress {
 public:
  void Update(std::uint64_t done, std::uint64_t total) override {
    if (!steps.empty()) {
      EXPECT_GE(done, steps.back()) << "progress went back";
    }
    steps.push_back(done);
    totals.push_back(total);
  }
  std::vector<std::uint64_t> steps;
  std::vector<std::uint64_t> totals;
};

TEST_F(Verifier, ProgressRunsToTheEndOfTheRecording) {
  Timecode(kTypeS, kMethod2);
  ProgressLog progress;
  VerifyRecording(m_dir.File("TC.wav"), {}, &progress);
  ASSERT_GE(progress.steps.size(), 3u);
  EXPECT_EQ(progress.steps.back(), static_cast<std::uint64_t>(kLength));
  for (const std::uint64_t total : progress.totals) EXPECT_EQ(total, kLength);
}

TEST_F(Verifier, ResampledAndDriftingPlaybackIsMeasured) {
  const Recording timecode = Timecode(kTypeF, kMethod2);
  for (const int rate : {48000, 22050}) {
    for (const double speed : {1.0, 1.0001}) {
      SCOPED_TRACE(testing::Message() << rate << " Hz, speed " << speed);
      const Recording recording{Resample(timecode.samples, 44100, rate, speed), rate};
      const VerifyReport report = Verify(recording);
      EXPECT_EQ(report.type, kTypeF);
      EXPECT_EQ(report.frames.size(), static_cast<std::size_t>(kFrames));
      EXPECT_TRUE(report.Clean());
      // Played fast, the frames lie closer together than TC.wav says: negative drift.
      EXPECT_NEAR(report.driftPpm, (1.0 / speed - 1.0) * 1e6, 0.1);
      EXPECT_LT(report.jitterRmsSamples, 0.05);
      EXPECT_LT(report.jitterMaxSamples, 0.15);
      EXPECT_NEAR(report.latencySamples, 0.0, 0.5);
    }
  }
}

// The rate of a recording says nothing about the type: each is told by its slot length.
TEST_F(Verifier, TypeComesFromTheSpacingNotTheRate) {
  const Recording slow = Timecode(kTypeS, kMethod2);
  const VerifyReport atFastRate = Verify({Resample(slow.samples, 36015, 44100), 44100});
  EXPECT_EQ(atFastRate.type, kTypeS);
  EXPECT_EQ(atFastRate.framesFound, kFrames);
  EXPECT_NEAR(atFastRate.driftPpm, 0.0, 0.1);

  const Recording fast = Timecode(kTypeF, kMethod2);
  const VerifyReport atSlowRate = Verify({Resample(fast.samples, 44100, 36015), 36015});
  EXPECT_EQ(atSlowRate.type, kTypeF);
  EXPECT_EQ(atSlowRate.framesFound, kFrames);
  EXPECT_NEAR(atSlowRate.driftPpm, 0.0, 0.1);
}

TEST_F(Verifier, DropoutIsOneDiscontinuity) {
  // 661 samples out of frame 10: from the gap between its hundreds and tens digits, and from
  // the middle of the frame, inside the tens digit's burst.
  for (const int method : {kMethod1, kMethod2}) {
    for (const int within : {5 * kSlotSamples + 400, kFrameSamples / 2}) {
      SCOPED_TRACE(testing::Message() << "method " << method << ", cut at " << within);
      Recording recording = Timecode(kTypeF, method);
      const auto cut = recording.samples.begin() + FrameStart(10, method) + within;
      recording.samples.erase(cut, cut + 661);
      const VerifyReport report = Verify(recording);
      EXPECT_EQ(report.framesFound, kFrames);
      ASSERT_EQ(report.discontinuities.size(), 1u);
      EXPECT_EQ(report.discontinuities[0].frame, 11);
      EXPECT_NEAR(report.discontinuities[0].jumpSamples, -661.0, 0.5);
      EXPECT_NEAR(report.driftPpm, 0.0, 0.001);
      EXPECT_LT(report.jitterMaxSamples, 0.005);
      EXPECT_NEAR(report.latencySamples, 0.0, 0.005);
      // Offsets follow the frames: after the cut they come 661 samples early.
      EXPECT_NEAR(report.frames[9].offsetSamples, 0.0, 0.005);
      EXPECT_NEAR(report.frames[10].offsetSamples, -661.0, 0.005);
      EXPECT_FALSE(report.Clean());
    }
  }
}

// A cut in the gap right behind a frame's check symbol makes the next frame's marker begin
// early, where a long run of frames read on time leads nobody to listen: still one
// discontinuity, at that frame, and nothing unreadable, whether the cut takes most of the gap
// or a whole frame with it.
TEST_F(Verifier, ACutRightBehindACheckSymbolIsOneDiscontinuity) {
  for (const TimecodeType type : {kTypeF, kTypeS}) {
    for (const int removed : {3600, 4500, kFrameSamples + 4200}) {
      SCOPED_TRACE(testing::Message()
                   << "rate " << TimecodeRate(type) << ", " << removed << " samples cut");
      Recording recording = Timecode(type, kMethod2);
      const auto cut =
          recording.samples.begin() + FrameStart(10, kMethod2) + kFrameBurstSlots * kSlotSamples;
      recording.samples.erase(cut, cut + removed);
      const VerifyReport report = Verify(recording);
      const bool frameLost = removed > kFrameSamples;
      EXPECT_TRUE(report.unreadable.empty());
      EXPECT_EQ(report.missing, frameLost ? std::vector<int>{11} : std::vector<int>{});
      ASSERT_EQ(report.discontinuities.size(), 1u);
      EXPECT_EQ(report.discontinuities[0].frame, frameLost ? 12 : 11);
      EXPECT_NEAR(report.discontinuities[0].jumpSamples, -removed, 0.5);
    }
  }
}

// At a telephone's rate a burst's tones repeat every few samples, so a frame read from where the
// grid expected it may settle a whole cycle off after a slip of a sample or three: a slip behind
// a check symbol or in the gap is still one jump, at the next frame, of just that many samples.
TEST_F(Verifier, AFewSamplesLostAtLowRatesAreOneJumpAtTheNextFrame) {
  for (const TimecodeType type : {kTypeF, kTypeS}) {
    const Recording timecode = Timecode(type, kMethod2);
    for (const int rate : {8000, 16000}) {
      const double scale = rate / static_cast<double>(TimecodeRate(type));
      const Recording resampled{Resample(timecode.samples, TimecodeRate(type), rate), rate};
      for (const int frame : {8, 30}) {
        for (const int within : {kFrameBurstSlots * kSlotSamples - 100, 22000}) {
          for (const int lost : {1, 3}) {
            SCOPED_TRACE(testing::Message()
                         << TimecodeRate(type) << " Hz at " << rate << " Hz, frame " << frame << "+"
                         << within << ", " << lost << " lost");
            Recording recording = resampled;
            const auto cut =
                recording.samples.begin() +
                static_cast<std::ptrdiff_t>((FrameStart(frame, kMethod2) + within) * scale);
            recording.samples.erase(cut, cut + lost);
            const VerifyReport report = Verify(recording);
            EXPECT_TRUE(report.missing.empty());
            EXPECT_TRUE(report.unreadable.empty());
            ASSERT_EQ(report.discontinuities.size(), 1u);
            EXPECT_EQ(report.discontinuities[0].frame, frame + 1);
            EXPECT_NEAR(report.discontinuities[0].jumpSamples, -lost, 0.1);
          }
        }
      }
    }
  }
}

// A cut among the first frames, which the first look and the young grid measure the speed from,
// bends neither: one discontinuity, told once while reading, and the drift stays nil.
TEST_F(Verifier, ACutAmongTheFirstFramesIsOneDiscontinuity) {
  const Recording timecode = Timecode(kTypeF, kMethod2);
  for (const int frame : {2, 3, 5}) {
    for (const int removed : {45, 661}) {
      SCOPED_TRACE(testing::Message() << removed << " samples out of frame " << frame);
      Recording recording = timecode;
      const auto cut = recording.samples.begin() + FrameStart(frame, kMethod2) + kFrameSamples / 2;
      recording.samples.erase(cut, cut + removed);
      std::vector<std::string> lines;
      VerifyOptions options;
      options.onFault = [&](const std::string& line) { lines.push_back(line); };
      const VerifyReport report = Verify(recording, options);
      EXPECT_EQ(report.framesFound, kFrames);
      ASSERT_EQ(report.discontinuities.size(), 1u);
      EXPECT_EQ(report.discontinuities[0].frame, frame + 1);
      EXPECT_NEAR(report.discontinuities[0].jumpSamples, -removed, 0.05);
      EXPECT_NEAR(report.driftPpm, 0.0, 0.01);
      EXPECT_LT(report.jitterMaxSamples, 0.01);
      ASSERT_EQ(lines.size(), 1u);
      EXPECT_EQ(lines[0].rfind("discontinuity at frame " + std::to_string(frame + 1), 0), 0u)
          << lines[0];
    }
  }
}

TEST_F(Verifier, RepeatedAndSkippedFramesAreListed) {
  const Recording timecode = Timecode(kTypeF, kMethod2);
  auto frame = [&](int n) { return timecode.samples.begin() + FrameStart(n, kMethod2); };
  // Frame 10 played twice, frame 20 never.
  Recording recording{{frame(1), frame(11)}, timecode.rate};
  recording.samples.insert(recording.samples.end(), frame(10), frame(20));
  recording.samples.insert(recording.samples.end(), frame(21), timecode.samples.end());
  const VerifyReport report = Verify(recording);
  EXPECT_EQ(report.framesFound, kFrames - 1);
  EXPECT_EQ(report.duplicated, std::vector<int>{10});
  EXPECT_EQ(report.missing, std::vector<int>{20});
  EXPECT_TRUE(report.outOfOrder.empty());
  ASSERT_EQ(report.discontinuities.size(), 2u);
  EXPECT_EQ(report.discontinuities[0].frame, 10);
  EXPECT_NEAR(report.discontinuities[0].jumpSamples, kFrameSamples, 0.01);
  EXPECT_EQ(report.discontinuities[1].frame, 21);
  EXPECT_NEAR(report.discontinuities[1].jumpSamples, -kFrameSamples, 0.01);
  EXPECT_NEAR(report.driftPpm, 0.0, 0.001);
  EXPECT_FALSE(report.Clean());
}

TEST_F(Verifier, WrongCheckSymbolIsOneCheckFailure) {
  Recording recording = Timecode(kTypeS, kMethod2, 4);
  // Frame 17's check symbol (slot 10 of the frame) replaced by another digit's burst.
  const int check = CheckSymbol(17, 4);
  const int other = check % 10 + 1;
  const int at = FrameStart(17, kMethod2) + 10 * kSlotSamples;
  for (int i = 0; i < kSlotSamples; ++i) {
    recording.samples[static_cast<std::size_t>(at + i)] =
        static_cast<float>(std::lround(dtmf_burst::BurstValue(other, 36015, i)) / 32768.0);
  }
  const VerifyReport report = Verify(recording);
  EXPECT_EQ(report.dtmfId, 4);
  EXPECT_EQ(report.checkFailures, std::vector<int>{17});
  EXPECT_FALSE(report.frames[16].checkOk);
  EXPECT_EQ(report.framesFound, kFrames);
  EXPECT_TRUE(report.discontinuities.empty());
  EXPECT_FALSE(report.Clean());
}

TEST_F(Verifier, GainPolarityOffsetAndNoiseLeaveEveryFrame) {
  const Recording timecode = Timecode(kTypeF, kMethod1, 7);
  std::mt19937 random(11);
  // Each tone peaks at 0.354 of full scale: the two together have an RMS of 0.354.
  std::normal_distribution<float> noise(0.0f, 0.0354f);
  struct Change {
    const char* name;
    float gain;
    float offset;
    bool noisy;
    int format;
  };
  const Change changes[] = {
      {"-30 dB", 0.0316f, 0.0f, false, SF_FORMAT_FLAC | SF_FORMAT_PCM_16},
      {"inverted", -1.0f, 0.0f, false, SF_FORMAT_WAV | SF_FORMAT_FLOAT},
      {"DC offset", 1.0f, 0.2f, false, SF_FORMAT_AIFF | SF_FORMAT_PCM_24},
      {"noise 20 dB below", 1.0f, 0.0f, true, SF_FORMAT_WAV | SF_FORMAT_PCM_16},
  };
  for (const Change& change : changes) {
    SCOPED_TRACE(change.name);
    Recording recording = timecode;
    for (float& sample : recording.samples) {
      sample = sample * change.gain + change.offset + (change.noisy ? noise(random) : 0.0f);
    }
    const VerifyReport report = Verify(recording, {}, change.format);
    EXPECT_EQ(report.frames.size(), static_cast<std::size_t>(kFrames));
    EXPECT_EQ(report.dtmfId, 7);
    EXPECT_EQ(report.method, kMethod1);
    EXPECT_TRUE(report.checkFailures.empty());
    EXPECT_TRUE(report.Clean());
    EXPECT_LT(report.jitterMaxSamples, change.noisy ? 0.1 : 0.01);
  }
}

TEST_F(Verifier, TimecodeIsFoundOnTheChannelThatDecodes) {
  const Recording timecode = Timecode(kTypeS, kMethod2);
  // Louder than the timecode on channel 1: a chord that changes every quarter second, over noise.
  Samples music(timecode.samples.size());
  std::mt19937 random(5);
  std::normal_distribution<float> noise(0.0f, 0.05f);
  const double notes[] = {220.0, 277.2, 329.6, 440.0, 554.4, 659.3, 880.0, 1108.7};
  for (std::size_t i = 0; i < music.size(); ++i) {
    const std::size_t bar = i / 9000;
    double value = 0.0;
    for (std::size_t k = 0; k < 3; ++k) {
      value += 0.25 * std::sin(2.0 * std::numbers::pi * notes[(bar + 3 * k) % 8] * i / 36015.0);
    }
    music[i] = static_cast<float>(value) + noise(random);
  }
  const std::string path = m_dir.File("stereo.wav");
  WriteRecording(path, {music, timecode.samples}, 36015, SF_FORMAT_WAV | SF_FORMAT_PCM_24);
  VerifyReport report = VerifyRecording(path, {});
  EXPECT_EQ(report.channel, 2);
  EXPECT_EQ(report.channels, 2);
  EXPECT_EQ(report.framesFound, kFrames);
  EXPECT_TRUE(report.Clean());

  // Told to read channel 1, there is nothing there.
  VerifyOptions options;
  options.channel = 1;
  EXPECT_THROW(VerifyRecording(path, options), VerifyError);
  options.channel = 3;
  EXPECT_THROW(VerifyRecording(path, options), VerifyError);
}

// A loopback: the timecode on one channel and again 12.34 samples later on another, with a
// channel of noise that carries none. Every channel with timecode is read, and the offset
// between them is measured to a hundredth of a sample, whichever channel the report is of.
TEST_F(Verifier, EveryChannelWithTimecodeIsReadAndTheirOffsetMeasured) {
  constexpr double kOffset = 12.34;
  const Recording timecode = Timecode(kTypeF, kMethod2);
  const Samples& played = timecode.samples;
  const Samples later = Delayed(played, kOffset);
  Samples noise(played.size());
  std::mt19937 random(7);
  std::normal_distribution<float> hiss(0.0f, 0.1f);
  for (float& x : noise) x = hiss(random);
  struct Case {
    std::vector<Samples> channels;
    std::optional<int> asked;
    int channel;               // of the report
    std::optional<int> other;  // the other channel with timecode
    double offset;             // its latency less the report's
  };
  const Case cases[] = {
      {{played, noise, later}, std::nullopt, 1, 3, kOffset},
      {{later, played}, std::nullopt, 1, 2, -kOffset},
      {{played, later}, 2, 2, std::nullopt, 0.0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.channels.size());
    const std::string path = m_dir.File("loopback.wav");
    WriteRecording(path, c.channels, timecode.rate, SF_FORMAT_WAV | SF_FORMAT_FLOAT);
    VerifyOptions options;
    options.channel = c.asked;
    const VerifyReport report = VerifyRecording(path, options);
    EXPECT_EQ(report.channel, c.channel);
    EXPECT_EQ(report.framesFound, kFrames);
    EXPECT_TRUE(report.Clean());
    ASSERT_EQ(report.otherChannels.size(), c.other ? 1u : 0u);
    if (!c.other) continue;
    const OtherChannel& other = report.otherChannels[0];
    EXPECT_EQ(other.channel, *c.other);
    EXPECT_EQ(other.framesFound, kFrames);
    EXPECT_EQ(other.faults, 0);
    EXPECT_NEAR(other.offsetSamples, c.offset, 0.01);
    EXPECT_NEAR(other.offsetSamples, other.latencySamples - report.latencySamples, 1e-9);
  }
}

TEST_F(Verifier, FramesCutByTheRecordingsEndsAreLeftOut) {
  const Recording timecode = Timecode(kTypeF, kMethod2);
  struct Cut {
    int from;  // first sample kept
    int to;    // one past the last
    int first;
    int last;
  };
  const Cut cuts[] = {
      // In the middle of frame 3's digits to the middle of frame 30's.
      {FrameStart(3, kMethod2) + 4 * kSlotSamples, FrameStart(30, kMethod2) + 6 * kSlotSamples, 4,
       29},
      // Inside frame 3's start marker to inside frame 30's check symbol.
      {FrameStart(3, kMethod2) + 500, FrameStart(30, kMethod2) + 10 * kSlotSamples + 900, 4, 29},
      // Exactly at frame 3's start marker to exactly after frame 30's check symbol.
      {FrameStart(3, kMethod2), FrameStart(30, kMethod2) + 11 * kSlotSamples, 3, 30},
  };
  for (const Cut& cut : cuts) {
    SCOPED_TRACE(testing::Message() << cut.from << " to " << cut.to);
    Recording recording{{timecode.samples.begin() + cut.from, timecode.samples.begin() + cut.to},
                        timecode.rate};
    const VerifyReport report = Verify(recording);
    EXPECT_EQ(report.firstFrame, cut.first);
    EXPECT_EQ(report.lastFrame, cut.last);
    EXPECT_EQ(report.framesFound, cut.last - cut.first + 1);
    EXPECT_TRUE(report.Clean());
    // Neither frame 1 nor the last frame is there to tell the method.
    EXPECT_TRUE(report.methodAssumed);
    EXPECT_NEAR(report.frames[0].foundSample, FrameStart(cut.first, kMethod2) - cut.from, 0.005);
    EXPECT_NEAR(report.latencySamples, -cut.from, 0.005);
  }
}

TEST_F(Verifier, OptionsOverrideEveryGuess) {
  Timecode(kTypeS, kMethod1, 3);
  VerifyOptions options;
  options.dtmfId = 4;
  options.method = kMethod2;
  options.type = kTypeS;
  const VerifyReport report = VerifyRecording(m_dir.File("TC.wav"), options);
  EXPECT_EQ(report.dtmfId, 4);
  EXPECT_EQ(report.method, kMethod2);
  // Every check symbol now disagrees; frame 1's extra gaps are no longer expected, so frame 2
  // comes two slots late against it.
  EXPECT_EQ(report.checkFailures.size(), static_cast<std::size_t>(kFrames));
  ASSERT_EQ(report.discontinuities.size(), 1u);
  EXPECT_EQ(report.discontinuities[0].frame, 2);
  EXPECT_NEAR(report.discontinuities[0].jumpSamples, 2 * kSlotSamples, 0.01);
}

TEST_F(Verifier, UnreadableFilesAndFilesWithoutTimecodeAreRefused) {
  auto refused = [](const std::string& path) {
    try {
      VerifyRecording(path, {});
    } catch (const VerifyError& error) {
      return std::string(error.what());
    }
    return std::string("read");
  };
  EXPECT_NE(refused(m_dir.File("missing.wav")).find("No such file"), std::string::npos);
  WriteBytes(m_dir.File("text.wav"), Bytes(1000, 'x'));
  EXPECT_NE(refused(m_dir.File("text.wav")), "read");
  WriteRecording(m_dir.File("silence.wav"), Recording{Samples(200000, 0.0f), 44100});
  EXPECT_NE(refused(m_dir.File("silence.wav")).find("no timecode"), std::string::npos);
  WriteRecording(m_dir.File("slow.wav"), Recording{Samples(20000, 0.0f), 4000});
  EXPECT_NE(refused(m_dir.File("slow.wav")).find("8000"), std::string::npos);
  // A FIFO with nobody writing to it would block a plain open.
  ASSERT_EQ(::mkfifo(m_dir.File("fifo.wav").c_str(), 0600), 0);
  EXPECT_NE(refused(m_dir.File("fifo.wav")).find("not a regular file"), std::string::npos);
}

TEST_F(Verifier, EverySingleSampleSlipIsOneDiscontinuity) {
  struct Case {
    TimecodeType type;
    int rate;  // of the recording
  };
  for (const Case c : {Case{kTypeF, 44100}, Case{kTypeS, 36015}, Case{kTypeF, 96000}}) {
    const Recording timecode = Timecode(c.type, kMethod2);
    const int own = timecode.rate;
    // In the gap after frame 10's hundreds digit, and inside frame 24's tens digit burst.
    for (const int sign : {-1, 1}) {
      SCOPED_TRACE(testing::Message() << c.rate << " Hz, slip " << sign);
      Samples samples = timecode.samples;
      for (const int at : {FrameStart(24, kMethod2) + 6 * kSlotSamples + 900,
                           FrameStart(10, kMethod2) + 5 * kSlotSamples + 400}) {
        const auto where = samples.begin() + at;
        if (sign < 0) {
          samples.erase(where);
        } else {
          samples.insert(where, *where);
        }
      }
      Recording recording{samples, own};
      if (c.rate != own) recording = {Resample(samples, own, c.rate), c.rate};
      // --follow tells each slip the moment it is read, as the summary does.
      std::vector<std::string> lines;
      VerifyOptions options;
      options.onFault = [&](const std::string& line) { lines.push_back(line); };
      const VerifyReport report = Verify(recording, options);
      EXPECT_EQ(report.framesFound, kFrames);
      ASSERT_EQ(report.discontinuities.size(), 2u);
      const double scale = static_cast<double>(c.rate) / own;
      ASSERT_EQ(lines.size(), 2u) << (lines.empty() ? "" : lines[0]);
      for (std::size_t i = 0; i < 2; ++i) {
        char jump[64];
        std::snprintf(jump, sizeof jump, "discontinuity at frame %d: jump %+.2f samples, ",
                      report.discontinuities[i].frame, report.discontinuities[i].jumpSamples);
        EXPECT_EQ(lines[i].rfind(jump, 0), 0u) << lines[i] << " vs " << jump;
      }
      EXPECT_EQ(report.discontinuities[0].frame, 11);
      EXPECT_NEAR(report.discontinuities[0].jumpSamples, sign * scale, 0.05);
      EXPECT_EQ(report.discontinuities[1].frame, 25);
      EXPECT_NEAR(report.discontinuities[1].jumpSamples, sign * scale, 0.05);
      EXPECT_TRUE(report.sampleExact);
      EXPECT_GE(report.thresholdSamples, 0.25);
      EXPECT_LE(report.thresholdSamples, 0.5);
      EXPECT_FALSE(report.Clean());
    }
  }
}

TEST_F(Verifier, DrownedDigitsAreUnreadableAndALostFrameIsMissing) {
  const Recording timecode = Timecode(kTypeF, kMethod2);
  Recording recording = timecode;
  std::mt19937 random(3);
  std::normal_distribution<float> noise(0.0f, 0.3f);
  // Frame 15's tens and units digits overwritten by loud noise; frame 30 cut out whole.
  const int from = FrameStart(15, kMethod2) + 6 * kSlotSamples;
  for (int i = 0; i < 3 * kSlotSamples; ++i) {
    recording.samples[static_cast<std::size_t>(from + i)] = noise(random);
  }
  recording.samples.erase(recording.samples.begin() + FrameStart(30, kMethod2),
                          recording.samples.begin() + FrameStart(31, kMethod2));
  const VerifyReport report = Verify(recording);
  ASSERT_EQ(report.unreadable.size(), 1u);
  EXPECT_EQ(report.unreadable[0].frame, 15);
  EXPECT_NEAR(report.unreadable[0].sample, FrameStart(15, kMethod2), 0.05);
  EXPECT_EQ(report.missing, std::vector<int>{30});
  ASSERT_EQ(report.missingPlaces.size(), 1u);
  EXPECT_NEAR(report.missingPlaces[0].sample, FrameStart(30, kMethod2), 0.05);
  ASSERT_EQ(report.discontinuities.size(), 1u);
  EXPECT_EQ(report.discontinuities[0].frame, 31);
  EXPECT_NEAR(report.discontinuities[0].jumpSamples, -kFrameSamples, 0.05);
  EXPECT_TRUE(report.checkFailures.empty());
  EXPECT_FALSE(report.Clean());
}

TEST_F(Verifier, TheReferenceOrTheFramesStatedJudgeTheEnds) {
  const Recording timecode = Timecode(kTypeF, kMethod2, 5);
  const std::string reference = m_dir.File("played.wav");
  WriteRecording(reference, timecode);
  // The recording starts inside frame 1 and ends inside the last frame.
  const Recording cut{{timecode.samples.begin() + 300,
                       timecode.samples.begin() + FrameStart(kFrames, kMethod2) + 5000},
                      timecode.rate};
  const VerifyReport unjudged = Verify(cut);
  EXPECT_FALSE(unjudged.rangeStated);
  EXPECT_EQ(unjudged.judgedFirst, 2);
  EXPECT_EQ(unjudged.judgedLast, kFrames - 1);
  EXPECT_TRUE(unjudged.Clean());

  VerifyOptions options;
  options.referencePath = reference;
  const VerifyReport judged = Verify(cut, options);
  EXPECT_TRUE(judged.rangeStated);
  EXPECT_EQ(judged.judgedFirst, 1);
  EXPECT_EQ(judged.judgedLast, kFrames);
  EXPECT_EQ(judged.dtmfId, 5);
  EXPECT_FALSE(judged.methodAssumed);
  EXPECT_EQ(judged.missing, (std::vector<int>{1, kFrames}));
  ASSERT_EQ(judged.missingPlaces.size(), 2u);
  EXPECT_NEAR(judged.missingPlaces[0].sample, -300.0, 0.05);
  EXPECT_FALSE(judged.Clean());

  VerifyOptions stated;
  stated.expectedFirst = 2;
  stated.expectedLast = 45;
  const VerifyReport beyond = Verify(cut, stated);
  EXPECT_EQ(beyond.missing.size(), 45u - kFrames + 1u);
  EXPECT_EQ(beyond.missing.front(), kFrames);
}

TEST_F(Verifier, ARateTheHeaderNamesWronglyIsRefusedWithTheRateThatFits) {
  const Recording timecode = Timecode(kTypeF, kMethod2);
  const std::string path = m_dir.File("labelled48k.wav");
  WriteRecording(path, std::vector<Samples>{timecode.samples}, 48000);
  try {
    VerifyRecording(path, {});
    ADD_FAILURE() << "read";
  } catch (const VerifyError& error) {
    const std::string what = error.what();
    EXPECT_NE(what.find("sample rate looks wrong"), std::string::npos) << what;
    EXPECT_NE(what.find("fits 44100 Hz"), std::string::npos) << what;
  }
  // Timecode on channel 2, asked for on channel 1: the message names the channel that has it.
  WriteRecording(path, {Samples(timecode.samples.size(), 0.0f), timecode.samples}, 44100);
  VerifyOptions options;
  options.channel = 1;
  try {
    VerifyRecording(path, options);
    ADD_FAILURE() << "read";
  } catch (const VerifyError& error) {
    EXPECT_NE(std::string(error.what()).find("no timecode on channel 1 (channel 2 carries it)"),
              std::string::npos)
        << error.what();
  }
}

TEST_F(Verifier, SamplesThatAreNoNumberAreCountedAndTheFramesAroundThemRead) {
  Recording recording = Timecode(kTypeF, kMethod2);
  const std::size_t marker = FrameStart(1, kMethod2) + 700;
  recording.samples[marker] = std::nanf("");
  recording.samples[marker + 5] = INFINITY;
  recording.samples[FrameStart(12, kMethod2) + 100] = -INFINITY;
  std::vector<std::string> lines;
  VerifyOptions options;
  options.onFault = [&](const std::string& line) { lines.push_back(line); };
  const VerifyReport report = Verify(recording, options, SF_FORMAT_WAV | SF_FORMAT_FLOAT);
  EXPECT_EQ(report.nonFiniteCount, 3);
  EXPECT_EQ(report.nonFiniteSamples,
            (std::vector<std::int64_t>{static_cast<std::int64_t>(marker),
                                       static_cast<std::int64_t>(marker + 5),
                                       FrameStart(12, kMethod2) + 100}));
  EXPECT_EQ(report.firstFrame, 1);
  EXPECT_EQ(report.framesFound, kFrames);
  EXPECT_TRUE(report.discontinuities.empty());
  EXPECT_FALSE(report.Clean());
  EXPECT_FALSE(lines.empty());
}

TEST_F(Verifier, FewFramesAreNotTimedAndLatencyHoldsAtAnySpeed) {
  const Recording timecode = Timecode(kTypeF, kMethod2);
  for (const int frames : {1, 2}) {
    const Recording few{{timecode.samples.begin() + FrameStart(5, kMethod2),
                         timecode.samples.begin() + FrameStart(5 + frames, kMethod2)},
                        timecode.rate};
    const VerifyReport report = Verify(few);
    EXPECT_EQ(report.framesFound, frames);
    EXPECT_FALSE(report.timingMeasured);
  }
  // Played 0.2 % slow and fast from TC.wav's first sample: latency 0, frame 1 kept.
  for (const double speed : {0.998, 1.002}) {
    SCOPED_TRACE(speed);
    const VerifyReport report = Verify({Resample(timecode.samples, 44100, 44100, speed), 44100});
    EXPECT_EQ(report.firstFrame, 1);
    EXPECT_TRUE(report.timingMeasured);
    EXPECT_NEAR(report.latencySamples, 0.0, 0.1);
    EXPECT_NEAR(report.driftPpm, (1.0 / speed - 1.0) * 1e6, 1.0);
    EXPECT_TRUE(report.Clean());
  }
}

TEST_F(Verifier, FastAndSlowPlaybackLoseNoFrame) {
  const Recording timecode = Timecode(kTypeF, kMethod2);
  const Recording slow{Resample(timecode.samples, 44100, 44100, 0.985), 44100};
  const Recording fast{Resample(timecode.samples, 44100, 44100, 1.015), 44100};
  struct Case {
    const char* name;
    const Recording* recording;
    double speed;
  };
  for (const Case& c : {Case{"1.5 % slow", &slow, 0.985}, Case{"1.5 % fast", &fast, 1.015}}) {
    SCOPED_TRACE(c.name);
    const VerifyReport report = Verify(*c.recording, {}, SF_FORMAT_WAV | SF_FORMAT_FLOAT);
    EXPECT_EQ(report.framesFound, kFrames);
    EXPECT_TRUE(report.unreadable.empty());
    EXPECT_TRUE(report.discontinuities.empty());
    EXPECT_NEAR(report.driftPpm, (1.0 / c.speed - 1.0) * 1e6, 5.0);
    EXPECT_TRUE(report.Clean());
  }
}

// Tape or varispeed at the ends of the range read: 2 % slow and 2 % fast, with silence before the
// timecode and a dropout in it. Every frame is read, the drift is the speed's to a few ppm, the
// latency is the silence, and the dropout is one jump of its own size.
TEST_F(Verifier, TwoPercentSlowAndFastAreReadWholeWithTheirDrift) {
  const Recording timecode = Timecode(kTypeF, kMethod2);
  constexpr int kSilence = 1000;
  constexpr int kRemoved = 661;
  for (const double speed : {0.98, 1.02}) {
    SCOPED_TRACE(speed);
    const Samples played = Resample(timecode.samples, 44100, 44100, speed);
    Samples samples(kSilence, 0.0f);
    samples.insert(samples.end(), played.begin(), played.end());
    const VerifyReport report = Verify({samples, 44100}, {}, SF_FORMAT_WAV | SF_FORMAT_FLOAT);
    EXPECT_EQ(report.firstFrame, 1);
    EXPECT_EQ(report.lastFrame, kFrames);
    EXPECT_EQ(report.framesFound, kFrames);
    EXPECT_TRUE(report.unreadable.empty());
    EXPECT_TRUE(report.discontinuities.empty());
    EXPECT_NEAR(report.driftPpm, (1.0 / speed - 1.0) * 1e6, 3.0);
    EXPECT_NEAR(report.latencySamples, kSilence, 0.1);
    EXPECT_TRUE(report.Clean());

    // Inside frame 20, between its tens and units digits, at the recording's own clock.
    const auto at = static_cast<std::ptrdiff_t>(
        kSilence + (FrameStart(20, kMethod2) + 7 * kSlotSamples + 900) / speed);
    samples.erase(samples.begin() + at, samples.begin() + at + kRemoved);
    const VerifyReport cut = Verify({samples, 44100}, {}, SF_FORMAT_WAV | SF_FORMAT_FLOAT);
    EXPECT_EQ(cut.framesFound, kFrames);
    ASSERT_EQ(cut.discontinuities.size(), 1u);
    EXPECT_EQ(cut.discontinuities[0].frame, 21);
    EXPECT_NEAR(cut.discontinuities[0].jumpSamples, -kRemoved, 0.05);
    EXPECT_NEAR(cut.driftPpm, (1.0 / speed - 1.0) * 1e6, 3.0);
  }
}

TEST_F(Verifier, FaultLinesComeWhileReadingAndTheToleranceIsTheUsers) {
  Recording recording = Timecode(kTypeF, kMethod2);
  const auto cut = recording.samples.begin() + FrameStart(10, kMethod2) + 5 * kSlotSamples + 400;
  recording.samples.erase(cut, cut + 661);
  std::vector<std::string> lines;
  VerifyOptions options;
  options.onFault = [&](const std::string& line) { lines.push_back(line); };
  options.toleranceSamples = 700.0;
  const VerifyReport report = Verify(recording, options);
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].rfind("discontinuity at frame 11: jump -661.00 samples, ", 0), 0u) << lines[0];
  // The jump lies within the tolerance given, so the fit calls it none.
  EXPECT_EQ(report.thresholdSamples, 700.0);
  EXPECT_TRUE(report.discontinuities.empty());
}

// Small integer samples are read as they are stored and scaled by the reader itself: every
// value of every such format must come out exactly as libsndfile's own floats, on the channel
// asked for, across the reads' block boundaries.
TEST(SoundFileTest, IntegerSamplesComeOutAsLibsndfilesOwnFloats) {
  ScratchDir dir;
  constexpr std::size_t kValues = 65536;
  std::vector<short> interleaved(2 * kValues);
  for (std::size_t i = 0; i < kValues; ++i) {
    interleaved[2 * i] = static_cast<short>(i * 7919);  // another channel, another order
    interleaved[2 * i + 1] = static_cast<short>(static_cast<int>(i) - 32768);
  }
  for (const int format : {SF_FORMAT_WAV | SF_FORMAT_PCM_16, SF_FORMAT_WAV | SF_FORMAT_PCM_U8,
                           SF_FORMAT_AIFF | SF_FORMAT_PCM_S8, SF_FORMAT_FLAC | SF_FORMAT_PCM_16,
                           SF_FORMAT_WAV | SF_FORMAT_PCM_24}) {
    SCOPED_TRACE(format);
    const std::string path = dir.File("integers");
    SF_INFO info{};
    info.samplerate = 44100;
    info.channels = 2;
    info.format = format;
    SNDFILE* out = sf_open(path.c_str(), SFM_WRITE, &info);
    ASSERT_NE(out, nullptr) << sf_strerror(nullptr);
    sf_writef_short(out, interleaved.data(), kValues);
    sf_close(out);

    SF_INFO readInfo{};
    SNDFILE* in = sf_open(path.c_str(), SFM_READ, &readInfo);
    ASSERT_NE(in, nullptr);
    std::vector<float> expected(2 * kValues);
    ASSERT_EQ(sf_readf_float(in, expected.data(), kValues), static_cast<sf_count_t>(kValues));
    sf_close(in);

    SoundFile file(path);
    EXPECT_TRUE(file.OnlyNumbers());
    std::vector<float> got(kValues);
    std::size_t done = 0;
    while (done < kValues) {
      const std::size_t n =
          file.ReadChannel(1, got.data() + done, std::min<std::size_t>(1000, kValues - done));
      if (n == 0) break;
      done += n;
    }
    ASSERT_EQ(done, kValues);
    std::size_t wrong = 0;
    for (std::size_t i = 0; i < kValues; ++i) wrong += got[i] != expected[2 * i + 1] ? 1 : 0;
    EXPECT_EQ(wrong, 0u);
  }
}

// The fit's bookkeeping on frames placed by hand.
TEST(TimingFit, DuplicatedOutOfOrderAndMissingFrames) {
  VerifyReport report;
  report.method = kMethod2;
  const double r = 2.0;  // a recording at twice the timecode's rate
  for (const int n : {5, 6, 7, 9, 9, 8, 10, 12}) {
    report.frames.push_back({n, 100.0 + (n - 5) * kFrameSamples * r, 0.0, true, 0.0});
  }
  FitTiming(report, r);
  EXPECT_EQ(report.firstFrame, 5);
  EXPECT_EQ(report.lastFrame, 12);
  EXPECT_EQ(report.framesFound, 7);
  EXPECT_EQ(report.duplicated, std::vector<int>{9});
  EXPECT_EQ(report.outOfOrder, std::vector<int>{8});
  EXPECT_EQ(report.missing, std::vector<int>{11});
  // Every frame lies where it belongs; a repeat and a step back are no jump in time.
  EXPECT_NEAR(report.latencySamples, 100.0 - 4 * kFrameSamples * r, 1e-6);
  EXPECT_NEAR(report.driftPpm, 0.0, 1e-6);
  EXPECT_TRUE(report.discontinuities.empty());
}

TEST(TimingFit, DriftAndJumpsAgainstOneSlope) {
  VerifyReport report;
  report.method = kMethod1;
  const double slope = 1.00002;  // 20 ppm slow
  for (int n = 1; n <= 30; ++n) {
    double at = 50.0 + FrameStart(n, kMethod1) * slope;
    if (n >= 12) at += 300.0;  // the recorder caught 300 samples of something else
    if (n >= 20) at -= 25.5;   // and later lost some
    report.frames.push_back({n, at, 0.0, true, 0.0});
  }
  FitTiming(report, 1.0);
  EXPECT_NEAR(report.driftPpm, 20.0, 1e-6);
  EXPECT_NEAR(report.latencySamples, 50.0, 1e-6);
  EXPECT_LT(report.jitterMaxSamples, 1e-6);
  ASSERT_EQ(report.discontinuities.size(), 2u);
  EXPECT_EQ(report.discontinuities[0].frame, 12);
  EXPECT_NEAR(report.discontinuities[0].jumpSamples, 300.0, 1e-6);
  EXPECT_EQ(report.discontinuities[1].frame, 20);
  EXPECT_NEAR(report.discontinuities[1].jumpSamples, -25.5, 1e-6);
  // Offsets against a perfect playback from frame 1 grow with the drift and carry the jumps.
  EXPECT_NEAR(report.frames[29].offsetSamples, FrameStart(30, kMethod1) * 2e-5 + 274.5, 1e-6);
}

// Places scattered as loud noise scatters them (0.2 samples): the median spacing then tilts the
// line by several ppm and the first frame may stray furthest; neither is a jump. A one-sample
// slip in the same scatter still is.
TEST(TimingFit, ScatterAloneIsNoJumpButASlipInItIs) {
  std::mt19937 random(11);
  std::normal_distribution<double> scatter(0.0, 0.2);
  std::vector<double> noise(20);
  for (double& x : noise) x = scatter(random);
  noise[0] = 0.6;  // the first frame, furthest off
  for (const double slip : {0.0, -1.0}) {
    SCOPED_TRACE(slip);
    VerifyReport report;
    report.method = kMethod2;
    for (int n = 1; n <= 20; ++n) {
      const double at =
          FrameStart(n, kMethod2) + noise[static_cast<std::size_t>(n - 1)] + (n >= 11 ? slip : 0.0);
      report.frames.push_back({n, at, 0.0, true, 0.0});
    }
    FitTiming(report, 1.0);
    EXPECT_NEAR(report.driftPpm, 0.0, 1.0);
    EXPECT_FALSE(report.sampleExact);
    if (slip == 0.0) {
      EXPECT_TRUE(report.discontinuities.empty());
    } else {
      ASSERT_EQ(report.discontinuities.size(), 1u);
      EXPECT_EQ(report.discontinuities[0].frame, 11);
      EXPECT_NEAR(report.discontinuities[0].jumpSamples, -1.0, 0.3);
    }
  }
}

}  // namespace
