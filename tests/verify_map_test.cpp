#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "fault_sweep.h"
#include "recording_support.h"
#include "scratch_dir.h"
#include "verify/map/verifier.h"

namespace {

constexpr int kLength = 1000000;
constexpr int kFrames = 40;

int FrameStart(int n) {
  return static_cast<int>(FrameStartInTimecode(n, kMethod2));
}

class VerifierMap : public ::testing::Test {
 protected:
  const Recording& Timecode() {
    if (m_timecode.samples.empty()) {
      m_timecode = GenerateTimecode(m_dir.Path(), {kTypeF, kMethod2, kLength, 1});
    }
    return m_timecode;
  }
  VerifyReport Verify(const Recording& recording) {
    const std::string path = m_dir.File("recording.wav");
    WriteRecording(path, recording, SF_FORMAT_WAV | SF_FORMAT_FLOAT);
    return VerifyRecording(path, {});
  }

  ScratchDir m_dir;
  Recording m_timecode;
};

// Every number read lies in the run and is read once, in order.
void ExpectNoMadeUpFrame(const VerifyReport& report) {
  std::set<int> seen;
  int last = 0;
  for (const FoundFrame& frame : report.frames) {
    EXPECT_GE(frame.number, 1);
    EXPECT_LE(frame.number, kFrames);
    EXPECT_TRUE(seen.insert(frame.number).second) << "frame " << frame.number << " twice";
    EXPECT_GT(frame.number, last);
    last = frame.number;
  }
  EXPECT_TRUE(report.duplicated.empty());
  EXPECT_TRUE(report.outOfOrder.empty());
}

// Digits that read as another frame's number, their check symbol failing, are damage to the
// frame the grid expects there: never that other frame, never a jump.
struct Misread {
  int rate;       // the recording's
  int cut;        // samples cut, at the recording's rate, from inside frame 17's digits
  double within;  // where in frame 17, in timecode samples
  bool copy25;    // frame 25's digits copied over frame 26's
};

class MisreadDigits : public VerifierMap, public ::testing::WithParamInterface<Misread> {};

TEST_P(MisreadDigits, AreDamageToTheFrameExpected) {
  const Misread c = GetParam();
  Samples samples = Timecode().samples;
  if (c.copy25) {
    std::copy(samples.begin() + FrameStart(25) + 2 * kSlotSamples,
              samples.begin() + FrameStart(25) + 9 * kSlotSamples,
              samples.begin() + FrameStart(26) + 2 * kSlotSamples);
  }
  Recording recording{samples, 44100};
  if (c.rate != 44100) recording = {Resample(samples, 44100, c.rate), c.rate};
  const double scale = c.rate / 44100.0;
  const auto at = static_cast<std::ptrdiff_t>((FrameStart(17) + c.within) * scale);
  recording.samples.erase(recording.samples.begin() + at, recording.samples.begin() + at + c.cut);
  const VerifyReport report = Verify(recording);
  ExpectNoMadeUpFrame(report);
  EXPECT_TRUE(report.missing.empty());
  EXPECT_LE(report.unreadable.size(), c.copy25 ? 2u : 1u);
  if (c.copy25) {
    ASSERT_FALSE(report.unreadable.empty());
    EXPECT_EQ(report.unreadable.back().frame, 26);
  }
  EXPECT_TRUE(report.checkFailures.empty());
  ASSERT_EQ(report.discontinuities.size(), c.cut > 0 ? 1u : 0u);
  if (c.cut > 0) {
    EXPECT_NEAR(report.discontinuities[0].jumpSamples, -c.cut, 0.25);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, MisreadDigits,
    ::testing::Values(Misread{48000, 300, 2.5 * kSlotSamples, false},
                      Misread{48000, 1000, 4.2 * kSlotSamples, false},
                      Misread{48000, 2000, 2.1 * kSlotSamples, false},
                      Misread{48000, 3000, 5.5 * kSlotSamples, false},
                      Misread{48000, 1500, 6.7 * kSlotSamples, false},
                      Misread{44100, 2 * kSlotSamples, 6.0 * kSlotSamples, false},
                      Misread{44100, 0, 0.0, true}, Misread{48000, 0, 0.0, true}));

// A frame of another file, read whole and clear, with an unreadable frame soon after it: too few
// of that file to be one, so it is damage to the frame the grid expects there, and the frames
// after it keep their own numbers.
TEST_F(VerifierMap, AnotherFilesFrameAloneIsDamageNotANumber) {
  Samples samples = Timecode().samples;
  const std::filesystem::path two = m_dir.Path() / "two";
  std::filesystem::create_directories(two);
  const Samples other = GenerateTimecode(two, {kTypeF, kMethod2, kLength, 2}).samples;
  std::copy(other.begin() + FrameStart(30), other.begin() + FrameStart(31),
            samples.begin() + FrameStart(12));
  std::fill(samples.begin() + FrameStart(14), samples.begin() + FrameStart(15), 0.0f);
  const VerifyReport report = Verify({samples, 44100});
  ExpectNoMadeUpFrame(report);
  std::vector<int> unreadable;
  for (const FramePlace& place : report.unreadable) unreadable.push_back(place.frame);
  EXPECT_EQ(unreadable, (std::vector<int>{12, 14}));
  EXPECT_TRUE(report.missing.empty());
}

// What --follow tells while the recording is read is the summary's events, each once and in
// order: a frame heard again, a loop played twice over, a lost frame, a slip of one sample.
struct Played {
  const char* name;
  std::vector<std::pair<int, int>> frames;  // runs of frames played, first to last
  int slipInFrame = 0;                      // a sample dropped in this frame's digits
};

class FollowTells : public VerifierMap, public ::testing::WithParamInterface<Played> {};

TEST_P(FollowTells, TheSummarysEventsEachOnce) {
  const Played& c = GetParam();
  const Samples& timecode = Timecode().samples;
  Samples samples;
  for (const auto& [first, last] : c.frames) {
    samples.insert(samples.end(), timecode.begin() + FrameStart(first),
                   timecode.begin() + FrameStart(last + 1));
  }
  if (c.slipInFrame > 0) samples.erase(samples.begin() + FrameStart(c.slipInFrame) + 3000);
  const std::string path = m_dir.File("recording.wav");
  WriteRecording(path, Recording{samples, 44100}, SF_FORMAT_WAV | SF_FORMAT_FLOAT);
  std::vector<PlaybackEvent> told;
  VerifyOptions options;
  options.onEvent = [&told](const PlaybackEvent& e) { told.push_back(e); };
  const VerifyReport report = VerifyRecording(path, options);
  ASSERT_FALSE(report.map.events.empty());
  ASSERT_EQ(told.size(), report.map.events.size());
  for (std::size_t i = 0; i < told.size(); ++i) {
    EXPECT_EQ(told[i].frameAfter, report.map.events[i].frameAfter) << "event " << i;
    EXPECT_NEAR(told[i].jumpTimecode, report.map.events[i].jumpTimecode, 0.05) << "event " << i;
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, FollowTells,
                         ::testing::Values(Played{"HeardAgain", {{1, 7}, {5, 5}, {8, 14}}},
                                           Played{"LoopedTwice", {{1, 7}, {5, 7}, {5, 7}, {5, 14}}},
                                           Played{"FrameLost", {{1, 4}, {6, 14}}},
                                           Played{"Slip", {{1, 14}}, 10}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace

namespace {

// Takes of a few frames, each with one cut, repeat, insertion or zeroed stretch at a random
// sample, through each chain: every report holds the truth. At 0 dB a few in a hundred may
// miss it by a little or find no timecode (bench/verify_sweep counts them), but none reads a
// fault as clean and none reads a frame that was never played.
struct SweepCase {
  sweep::Chain chain;
  int takes;
  bool exact = true;
};

class Sweep : public VerifierMap, public ::testing::WithParamInterface<SweepCase> {};

TEST_P(Sweep, EveryReportHoldsTheTruth) {
  constexpr int kShort = 8 * kFrameSamples + 1000;
  const Samples timecode = GenerateTimecode(m_dir.Path(), {kTypeF, kMethod2, kShort, 1}).samples;
  const SweepCase c = GetParam();
  std::mt19937 random(static_cast<unsigned>(c.chain) + 11);
  for (int i = 0; i < c.takes; ++i) {
    const auto fault = static_cast<sweep::Fault>(i % 4);
    const sweep::Take take =
        sweep::MakeTake(timecode, 44100, fault, c.chain, random, m_dir.File("coded.ogg"));
    sweep::Verdict verdict;
    try {
      verdict = sweep::Judge(take, timecode, Verify(take.recording));
    } catch (const VerifyError& error) {
      verdict.why = error.what();
    }
    EXPECT_TRUE(c.exact ? verdict.right : !verdict.falseClean && !verdict.madeUpFrame)
        << sweep::FaultName(fault) << " of " << take.length << " at " << take.at << ": "
        << verdict.why << (verdict.falseClean ? " (clean)" : "")
        << (verdict.madeUpFrame ? " (made-up frame)" : "");
  }
}

INSTANTIATE_TEST_SUITE_P(Chains, Sweep,
                         ::testing::Values(SweepCase{sweep::Chain::clean, 120},
                                           SweepCase{sweep::Chain::resampled, 45},
                                           SweepCase{sweep::Chain::noise10, 45},
                                           SweepCase{sweep::Chain::opus, 40},
                                           SweepCase{sweep::Chain::noise0, 40, false}));

}  // namespace
