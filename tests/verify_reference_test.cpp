#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <string>
#include <vector>

#include "recording_support.h"
#include "scratch_dir.h"
#include "verify/verifier.h"
#include "wave/loop_records.h"

namespace {

constexpr int kLength = 1000000;
constexpr int kRate = 44100;
constexpr int kLead = 777;  // the recording's samples before TC.wav starts
// Frame 6 and frame 13 of TC.wav: a point in frame 6's start marker, one in the gap after it,
// and one in the gap after frame 13's start marker.
constexpr int kInMarker6 = 5 * 24576 + 1000;
constexpr int kInGap6 = 5 * 24576 + 2700;
constexpr int kInGap13 = 12 * 24576 + 3000;

// What the system played: TC.wav samples [from, to] inclusive, then `silence` zeros.
struct Piece {
  int from, to;
  int silence = 0;
};

struct LoopCase {
  const char* name;
  std::vector<std::int32_t> points;
  std::vector<Piece> played;
  bool clean;
  std::vector<int> notTaken;
  int times;  // of the one loop found, 0: none
  std::int64_t leftMiss;
  bool leftExact;  // else an interval in silence with the point inside it
};

class ReferenceCheck : public ::testing::Test {
 protected:
  // TC.wav with loop points written over its first samples, as loop writes them.
  Shorts Timecode(int dtmfId, const std::vector<std::int32_t>& points, const char* name) {
    const std::filesystem::path folder = m_dir.Path() / name;
    std::filesystem::create_directories(folder);
    GenerateTimecode(folder, {kTypeF, kMethod2, kLength, dtmfId});
    const std::string path = (folder / "TC.wav").string();
    std::fstream file(path, std::ios::in | std::ios::out | std::ios::binary);
    for (std::size_t i = 0; i < points.size(); ++i) {
      const LoopRecord record =
          LoopRecord::FromByteOffset(static_cast<std::uint32_t>(points[i] * 2));
      file.seekp(static_cast<std::streamoff>(kLoopTableOffset + i * kLoopRecordBytes));
      file.write(reinterpret_cast<const char*>(record.bytes.data()), kLoopRecordBytes);
    }
    file.close();
    return ReadShorts(path);
  }
  static Shorts Play(const Shorts& tc, const std::vector<Piece>& pieces) {
    Shorts out(kLead, 0);
    for (const Piece& p : pieces) {
      out.insert(out.end(), tc.begin() + p.from, tc.begin() + p.to + 1);
      out.insert(out.end(), static_cast<std::size_t>(p.silence), 0);
    }
    return out;
  }
  VerifyReport Verify(const Shorts& recording, const std::vector<std::string>& references) {
    const std::string path = m_dir.File("recording.wav");
    WriteShorts(path, recording, kRate);
    VerifyOptions options;
    options.referencePath = references.front();
    return VerifyRecording(path, options);
  }

  ScratchDir m_dir;
};

constexpr int kEnd = kLength - 1;

class Loops : public ReferenceCheck, public ::testing::WithParamInterface<LoopCase> {};

TEST_P(Loops, AreHeldAgainstTheTable) {
  const LoopCase& c = GetParam();
  const Shorts tc = Timecode(1, c.points, "played");
  const VerifyReport report = Verify(Play(tc, c.played), {m_dir.File("played/TC.wav")});
  EXPECT_EQ(report.Clean(), c.clean);
  EXPECT_EQ(report.loopsNotTaken, c.notTaken);
  ASSERT_EQ(report.loops.size(), c.times ? 1u : 0u);
  if (c.times == 0) return;
  const LoopFinding& loop = report.loops[0];
  EXPECT_EQ(loop.times, c.times);
  EXPECT_EQ(loop.left.point, 2);
  EXPECT_EQ(loop.left.missBy, c.leftMiss);
  EXPECT_EQ(loop.left.Exact(), c.leftExact);
  EXPECT_EQ(loop.resumed.point, 1);
  EXPECT_EQ(loop.resumed.missBy, 0);
  EXPECT_EQ(loop.honoured, c.leftMiss == 0);
  ASSERT_TRUE(report.bitExact);
  EXPECT_TRUE(report.bitExact->Exact());
}

INSTANTIATE_TEST_SUITE_P(
    Table, Loops,
    ::testing::Values(
        LoopCase{
            "BurstAndSilence3Times",
            {kInMarker6, kInGap13},
            {{0, kInGap13}, {kInMarker6, kInGap13}, {kInMarker6, kInGap13}, {kInMarker6, kEnd}},
            true,
            {},
            3,
            0,
            true},
        LoopCase{"BothInSilence",
                 {kInGap6, kInGap13},
                 {{0, kInGap13}, {kInGap6, kEnd}},
                 true,
                 {},
                 1,
                 0,
                 false},
        LoopCase{"Late264",
                 {kInMarker6, kInGap13},
                 {{0, kInGap13 + 264}, {kInMarker6, kEnd}},
                 false,
                 {},
                 1,
                 264,
                 true},
        LoopCase{"NotTaken", {kInMarker6, kInGap13}, {{0, kEnd}}, false, {2}, 0, 0, true}),
    [](const auto& info) { return std::string(info.param.name); });

const double kMinus1dB = std::pow(10.0, -1.0 / 20.0);

struct CopyCase {
  const char* name;
  double gain;    // applied to every sample
  int changedAt;  // a TC.wav sample changed by one step; -1: none
  bool exact;
  std::int64_t firstAt;  // the first recording sample that differs; -1: none; 0: not checked
  double largestLsb;     // the largest difference: so many LSB...
  double largestShare;   // ...and this share of TC.wav's loudest sample
};

class Copies : public ReferenceCheck, public ::testing::WithParamInterface<CopyCase> {};

TEST_P(Copies, AreComparedSampleForSample) {
  const CopyCase& c = GetParam();
  const Shorts tc = Timecode(1, {}, "played");
  Shorts recording = Play(tc, {{0, kEnd}});
  for (std::int16_t& x : recording) x = static_cast<std::int16_t>(std::lround(x * c.gain));
  if (c.changedAt >= 0) ++recording[static_cast<std::size_t>(kLead + c.changedAt)];
  const VerifyReport report = Verify(recording, {m_dir.File("played/TC.wav")});
  ASSERT_TRUE(report.bitExact);
  const BitExactCheck& check = *report.bitExact;
  EXPECT_EQ(check.Exact(), c.exact);
  EXPECT_EQ(check.compared, kLength);
  if (c.firstAt != 0) {
    EXPECT_EQ(check.firstRecordingSample, c.firstAt);
    EXPECT_EQ(check.firstTimecodeSample, c.firstAt < 0 ? -1 : c.firstAt - kLead);
  }
  const int loudest = *std::max_element(tc.begin(), tc.end());
  EXPECT_NEAR(check.largestDifference, c.largestLsb + c.largestShare * loudest, 1.0);
  EXPECT_TRUE(report.Clean());
}

INSTANTIATE_TEST_SUITE_P(
    Table, Copies,
    ::testing::Values(CopyCase{"BitExact", 1.0, -1, true, -1, 0.0, 0.0},
                      CopyCase{"OneSampleChanged", 1.0, 500000, false, kLead + 500000, 1.0, 0.0},
                      CopyCase{"Minus1dB", kMinus1dB, -1, false, 0, 0.0, 1.0 - kMinus1dB}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
