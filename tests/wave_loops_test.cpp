// A wave file's own loops and cue points: read wherever their chunks lie, bounded by the chunk
// and the file however large the counts they declare, and mapped onto the ten loop points of
// a plain copy, which then holds them in its table.
#include "looppatch/wave_loops.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "looppatch/plain_copy.h"
#include "tests/instrument_wave.h"
#include "tests/riff_builder.h"
#include "tests/scratch_dir.h"

namespace {

Bytes Audio(std::size_t bytes) {
  return Bytes(bytes, 0x11);
}

class WaveLoopsTest : public ::testing::Test {
 protected:
  WaveLoops LoopsOf(const Bytes& bytes) {
    const std::string path = m_dir.File("own.wav");
    WriteBytes(path, bytes);
    CFile file;
    EXPECT_TRUE(file.Open(path, CFile::modeRead));
    return ReadWaveLoops(file);
  }
  ScratchDir m_dir;
};

TEST_F(WaveLoopsTest, LoopsAndCuePointsAreReadInFileOrderBeforeOrAfterTheSamples) {
  const WaveLoops before = LoopsOf(RiffBuilder()
                                       .Fmt(1, 2, 16)
                                       .Chunk("smpl", SmplBody({{100, 199}, {300, 399}}))
                                       .Chunk("cue ", CueBody({50, 10}))
                                       .Chunk("data", Audio(4000))
                                       .Done());
  EXPECT_EQ(OwnLoopsLine(before), "loops 100-199, 300-399; cues 50, 10");
  EXPECT_EQ(OwnLoopsText(before), "loops 100-199, 300-399; cue points 50, 10");

  // Editors that append their chunks behind the samples; only the first of each counts.
  const WaveLoops after = LoopsOf(RiffBuilder()
                                      .Fmt(1, 1, 16)
                                      .Chunk("data", Audio(4001), -1, false)
                                      .Chunk("LIST", {'a', 'd', 't', 'l'})
                                      .Chunk("cue ", CueBody({7}))
                                      .Chunk("smpl", SmplBody({{1, 2}}))
                                      .Chunk("smpl", SmplBody({{3, 4}}))
                                      .Done());
  EXPECT_EQ(OwnLoopsLine(after), "loops 1-2; cues 7");

  const WaveLoops none =
      LoopsOf(RiffBuilder().Fmt(1, 1, 16).Chunk("smpl", SmplBody({})).Chunk("data", {}).Done());
  EXPECT_TRUE(none.Empty());
  EXPECT_EQ(OwnLoopsLine(none), "");
  EXPECT_EQ(OwnLoopsText(none), "");
  EXPECT_TRUE(LoopsOf(Bytes(200, 'x')).Empty());
}

TEST_F(WaveLoopsTest, CountsLargerThanTheChunkAreCutToWhatItHolds) {
  // The chunk holds two loops but claims four billion; the bytes behind it are another chunk
  // that would read as loops.
  Bytes behind = SmplBody({{5, 6}, {7, 8}});
  behind.erase(behind.begin(), behind.begin() + 36);
  const WaveLoops huge = LoopsOf(RiffBuilder()
                                     .Fmt(1, 1, 16)
                                     .Chunk("smpl", SmplBody({{1, 2}, {3, 4}}, 0xFFFFFFFF))
                                     .Chunk("JUNK", behind)
                                     .Chunk("cue ", CueBody({9}, 0x7FFFFFFF))
                                     .Chunk("data", Audio(100))
                                     .Done());
  EXPECT_EQ(OwnLoopsLine(huge), "loops 1-2, 3-4; cues 9");

  // A chunk cut short by the end of the file: the loop it holds whole, not the half one.
  Bytes cut = RiffBuilder()
                  .Fmt(1, 1, 16)
                  .Chunk("data", Audio(100))
                  .Chunk("smpl", SmplBody({{10, 20}, {30, 40}}))
                  .Done();
  cut.resize(cut.size() - 12);
  EXPECT_EQ(OwnLoopsLine(LoopsOf(cut)), "loops 10-20");
  // Shorter than its own fields, or declaring a size past the end: nothing invented.
  Bytes stub = RiffBuilder().Fmt(1, 1, 16).Chunk("data", Audio(100)).Done();
  RiffBuilder::AppendChunk(stub, "smpl", Bytes(20, 0xFF), 0x7FFFFFF0);
  EXPECT_TRUE(LoopsOf(stub).Empty());

  // Real counts are bounded too: a chunk of 3000 loops yields the first kMostOwnLoops.
  std::vector<std::pair<std::uint32_t, std::uint32_t>> many(3000, {1, 2});
  const WaveLoops bounded =
      LoopsOf(RiffBuilder().Fmt(1, 1, 16).Chunk("smpl", SmplBody(many)).Done());
  EXPECT_EQ(bounded.loops.size(), kMostOwnLoops);
}

// Each loop is taken whole, start and end side by side, or left out whole, so the pairs stay
// pairs; the cue points fill the slots left.
TEST_F(WaveLoopsTest, LoopsAreTakenAsPairsThenCuesAndTheRestAreNamed) {
  WaveLoops own;
  own.loops = {{100, 199}, {0, 50}, {300, 2001}, {400, 350}, {500, 600}};
  own.cues = {5, 6, 7, 8, 9, 10, 11, 12};
  const TakenOver taken = TakeOverPoints(own, 1, 2000);
  EXPECT_EQ(taken.points, (LoopPoints{100, 199, 500, 600, 5, 6, 7, 8, 9, 10}));
  EXPECT_EQ(TakenText(taken), "loops 100-199, 500-600; cues 5, 6, 7, 8, 9, 10");
  EXPECT_EQ(taken.leftOver, (std::vector<std::string>{
                                "loop 2 0-50 (0 means no loop point)",
                                "loop 3 300-2001 (past the end of the samples)",
                                "loop 4 400-350 (its end lies before its start)",
                                "cue point 7 at 11 (more than ten points)",
                                "cue point 8 at 12 (more than ten points)",
                            }));
  EXPECT_EQ(LeftOverText(taken).rfind("Not taken over: loop 2 0-50 (", 0), 0u);

  // Ten mono frames hold three records of six bytes.
  own.loops = {{1, 2}, {3, 4}};
  own.cues.clear();
  const TakenOver shortCopy = TakeOverPoints(own, 1, 10);
  EXPECT_EQ(shortCopy.points, (LoopPoints{1, 2}));
  EXPECT_EQ(shortCopy.leftOver,
            (std::vector<std::string>{"loop 2 3-4 (the samples are too short for more records)"}));
  EXPECT_EQ(LeftOverText(TakeOverPoints(own, 2, 10)), "");
}

// The file a sampler's editor writes through libsndfile's instrument chunk: its loops reach the
// copy's table, and the copy holds every other sample of the source as it was (its chunks
// follow the samples).
TEST_F(WaveLoopsTest, AnInstrumentChunkFromLibsndfileBecomesTheCopysTable) {
  const std::string path = m_dir.File("instrument.wav");
  std::vector<short> samples(2 * 5000);
  for (std::size_t i = 0; i < samples.size(); ++i) samples[i] = static_cast<short>(i * 13);
  ASSERT_TRUE(WriteInstrumentWave(path, 2, samples, {{1000, 3000}, {4000, 4500}}));

  const std::optional<OwnPointsPlan> plan = PlanOwnPoints(path);
  ASSERT_TRUE(plan.has_value());
  // libsndfile is given the frame after the loop and stores the last frame played.
  EXPECT_EQ(OwnLoopsLine(plan->own), "loops 1000-2999, 4000-4499");
  EXPECT_EQ(plan->taken.points, (LoopPoints{1000, 2999, 4000, 4499}));

  const std::string copy = m_dir.File("instrument-plain.wav");
  ASSERT_EQ(PlainCopyText(WritePlainCopy(path, copy, nullptr, plan->taken.points)), "");
  CFile copied;
  ASSERT_TRUE(copied.Open(copy, kPatchMode));
  EXPECT_EQ(ReadLoopTable(copied).loopPoints, plan->taken.points);
  const Bytes bytes = ReadBytes(copy);
  ASSERT_EQ(GetLe32(&bytes[kDataSizeOffset]), 2 * samples.size());
  for (std::size_t i = 4 * kLoopRecordBytes / 2; i < samples.size(); ++i) {
    ASSERT_EQ(static_cast<short>(GetLe16(&bytes[kWaveHeaderBytes + 2 * i])), samples[i]) << i;
  }
}

}  // namespace
