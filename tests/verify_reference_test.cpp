#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <string>
#include <vector>

#include "recording_support.h"
#include "scratch_dir.h"
#include "verify/map/verifier.h"
#include "verify/report/report_reference.h"
#include "wave/loop_records.h"

namespace {

constexpr int kLength = 1000000;
constexpr int kRate = 44100;
constexpr int kLead = 777;  // the recording's samples before TC.wav starts
// Frame 6 and frame 13 of TC.wav: a point in frame 6's start marker, one in the gap after it,
// and one in the gap after frame 13's start marker.
constexpr int kInMarker6 = 5 * kFrameSamples + 1000;
constexpr int kInGap6 = 5 * kFrameSamples + 2700;
constexpr int kInGap13 = 12 * kFrameSamples + 3000;

// What the system played: samples [from, to] (inclusive) of one TC.wav, then `silence` zeros.
struct Piece {
  int from, to;
  int silence = 0;
  std::size_t file = 0;  // which TC.wav
};

struct LoopCase {
  const char* name;
  std::vector<std::int32_t> points;
  std::vector<Piece> played;
  bool clean;
  std::vector<int> notTaken;
  int times;  // of the one loop found, 0: none
  std::int64_t leftMiss;
  bool leftExact;    // else an interval in silence with the point inside it
  const char* text;  // the summary's line
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
  static Shorts Play(const std::vector<Shorts>& files, const std::vector<Piece>& pieces) {
    Shorts out(kLead, 0);
    for (const Piece& p : pieces) {
      const Shorts& tc = files[p.file];
      out.insert(out.end(), tc.begin() + p.from, tc.begin() + p.to + 1);
      out.insert(out.end(), static_cast<std::size_t>(p.silence), 0);
    }
    return out;
  }
  VerifyReport Verify(const Shorts& recording, const std::vector<std::string>& references) {
    const std::string path = m_dir.File("recording.wav");
    WriteShorts(path, recording, kRate);
    VerifyOptions options;
    if (!references.empty()) {
      options.referencePath = references.front();
      options.laterReferences.assign(references.begin() + 1, references.end());
    }
    return VerifyRecording(path, options);
  }

  ScratchDir m_dir;
};

constexpr int kEnd = kLength - 1;

class Loops : public ReferenceCheck, public ::testing::WithParamInterface<LoopCase> {};

TEST_P(Loops, AreHeldAgainstTheTable) {
  const LoopCase& c = GetParam();
  const Shorts tc = Timecode(1, c.points, "played");
  const VerifyReport report = Verify(Play({tc}, c.played), {m_dir.File("played/TC.wav")});
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
  EXPECT_EQ(LoopText(loop), c.text);
  ASSERT_TRUE(report.bitExact);
  EXPECT_TRUE(report.bitExact->Exact());
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Table, Loops, ::testing::Values(
    LoopCase{"BurstAndSilence3Times", {kInMarker6, kInGap13},
             {{0, kInGap13}, {kInMarker6, kInGap13}, {kInMarker6, kInGap13}, {kInMarker6, kEnd}},
             true, {}, 3, 0, true,
             "loop: left at TC.wav sample 297912 (point 2, exact), resumed at 123880 (point 1, "
             "exact), 3 times"},
    // These records, over frame 1's start marker, move the place its bursts give.
    LoopCase{"RecordsOverFrame1", {49658, 124719},
             {{0, 124719}, {49658, 124719}, {49658, 124719}, {49658, kEnd}}, true, {}, 3, 0, true,
             "loop: left at TC.wav sample 124719 (point 2, exact), resumed at 49658 (point 1, "
             "exact), 3 times"},
    // The recording ends in the loop: the frames past its end were never due.
    LoopCase{"EndsLooping", {kInMarker6, kInGap13},
             {{0, kInGap13}, {kInMarker6, kInGap13}, {kInMarker6, kInGap13}, {kInMarker6, kInGap13}},
             true, {}, 3, 0, true,
             "loop: left at TC.wav sample 297912 (point 2, exact), resumed at 123880 (point 1, "
             "exact), 3 times"},
    LoopCase{"BothInSilence", {kInGap6, kInGap13}, {{0, kInGap13}, {kInGap6, kEnd}},
             true, {}, 1, 0, false,
             "loop: left between TC.wav samples 297011 and 298512 (silence; point 2 at 297912 "
             "lies inside), resumed between 124679 and 126180 (silence; point 1 at 125580 lies "
             "inside)"},
    LoopCase{"Late264", {kInMarker6, kInGap13}, {{0, kInGap13 + 264}, {kInMarker6, kEnd}},
             false, {}, 1, 264, true,
             "loop: left at TC.wav sample 298176 (264 samples after point 2), resumed at 123880 "
             "(point 1, exact)"},
    // Silence put into frame 9's start marker: a fault, but no TC.wav sample played twice.
    LoopCase{"InsertionIsNoLoop", {}, {{0, 8 * kFrameSamples + 1000, 500}, {8 * kFrameSamples + 1001, kEnd}},
             false, {}, 0, 0, true, ""},
    LoopCase{"NotTaken", {kInMarker6, kInGap13}, {{0, kEnd}}, false, {2}, 0, 0, true, ""}),
    [](const auto& info) { return std::string(info.param.name); });
// clang-format on

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
  Shorts recording = Play({tc}, {{0, kEnd}});
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

struct PlaylistCase {
  const char* name;
  std::vector<Piece> played;  // of the files with IDs 1 and 2
  bool bothReferences;        // else only the first file's
  double gap;                 // between them, in samples
  std::vector<int> missingInSecond;
};

class Playlists : public ReferenceCheck, public ::testing::WithParamInterface<PlaylistCase> {};

TEST_P(Playlists, AreReportedFileByFile) {
  const PlaylistCase& c = GetParam();
  const std::vector<Shorts> files = {Timecode(1, {}, "one"), Timecode(2, {}, "two")};
  std::vector<std::string> references = {m_dir.File("one/TC.wav"), m_dir.File("two/TC.wav")};
  if (!c.bothReferences) references.pop_back();
  const VerifyReport report = Verify(Play(files, c.played), references);
  ASSERT_EQ(report.files.size(), 2u);
  EXPECT_EQ(report.files[0].dtmfId, 1);
  EXPECT_EQ(report.files[1].dtmfId, 2);
  EXPECT_TRUE(report.files[0].Clean());
  EXPECT_EQ(report.files[1].missing, c.missingInSecond);
  EXPECT_EQ(report.Clean(), c.missingInSecond.empty());
  EXPECT_TRUE(report.duplicated.empty());
  EXPECT_TRUE(report.checkFailures.empty());
  ASSERT_TRUE(report.files[1].gapSamples);
  EXPECT_NEAR(*report.files[1].gapSamples, c.gap, 0.05);
  EXPECT_EQ(report.files[1].bitExact.has_value(), c.bothReferences);
  // The whole recording is a bit-exact copy only where every file was held against its TC.wav.
  ASSERT_TRUE(report.bitExact);
  EXPECT_EQ(report.bitExact->filesNotCompared, c.bothReferences ? 0 : 1);
  EXPECT_TRUE(c.bothReferences || !report.bitExact->Exact());
}

constexpr int kFrame10 = 9 * kFrameSamples;

// Frames 11-15 of another file spliced into the playback of the first, no --reference given:
// three files, each after the first judged from its frame 1, so never clean.
TEST_F(ReferenceCheck, ABlockOfAnotherFileSplicedInIsAFault) {
  const std::vector<Shorts> files = {Timecode(1, {}, "one"), Timecode(2, {}, "two")};
  const int frame11 = 10 * kFrameSamples, frame16 = 15 * kFrameSamples;
  const VerifyReport report =
      Verify(Play(files, {{0, frame11 - 1}, {frame11, frame16 - 1, 0, 1}, {frame16, kEnd}}), {});
  ASSERT_EQ(report.files.size(), 3u);
  EXPECT_EQ(report.files[1].missing, (std::vector<int>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10}));
  EXPECT_EQ(report.files[2].missing.size(), 15u);
  EXPECT_FALSE(report.Clean());
}

INSTANTIATE_TEST_SUITE_P(
    Table, Playlists,
    ::testing::Values(PlaylistCase{"Gapless", {{0, kEnd}, {0, kEnd, 1000, 1}}, true, 0.0, {}},
                      PlaylistCase{"Gap", {{0, kEnd, 4321}, {0, kEnd, 1000, 1}}, false, 4321.0, {}},
                      PlaylistCase{"FrameLostInTheSecond",
                                   {{0, kEnd},
                                    {0, kFrame10 - 1, 0, 1},
                                    {kFrame10 + kFrameSamples, kEnd, 1000, 1}},
                                   true,
                                   0.0,
                                   {10}},
                      // Without its reference, a file after the first is still judged from its
                      // first frame: one that begins later lost its start.
                      PlaylistCase{"SecondStartsLate",
                                   {{0, kEnd}, {kFrame10, kEnd, 1000, 1}},
                                   false,
                                   -kFrame10,
                                   {1, 2, 3, 4, 5, 6, 7, 8, 9}}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
