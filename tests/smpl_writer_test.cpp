// Standard loops written behind the samples: libsndfile reads them back as the instrument's
// loops and cue points, nothing before them moves, and a write stopped between any two of its
// steps leaves a file every reader reads as before or as after.
#include "loop/format/smpl_writer.h"

#include <gtest/gtest.h>
#include <sndfile.h>

#include <cerrno>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

#include "loop/format/wave_loops.h"
#include "tests/file_faults.h"
#include "tests/loop_wave.h"
#include "tests/riff_builder.h"
#include "tests/scratch_dir.h"

namespace {

constexpr std::size_t kDataBytes = 4000;  // 1000 stereo frames

// What a reader finds: libsndfile's loops (start, the frame after the end) and cue frames, and
// loop's own reading of the first smpl and cue chunks.
struct Seen {
  std::vector<std::pair<unsigned, unsigned>> loops;
  std::vector<unsigned> cues;
  int basenote = 0;
  std::string own;
  bool operator==(const Seen&) const = default;
  // What libsndfile alone finds.
  Seen Sndfile() const { return {loops, cues, basenote, {}}; }
};

Seen Read(const std::string& path) {
  Seen seen;
  SF_INFO info{};
  SNDFILE* sound = sf_open(path.c_str(), SFM_READ, &info);
  EXPECT_NE(sound, nullptr) << sf_strerror(nullptr);
  if (sound == nullptr) return seen;
  SF_INSTRUMENT instrument{};
  if (sf_command(sound, SFC_GET_INSTRUMENT, &instrument, sizeof instrument) == SF_TRUE) {
    seen.basenote = instrument.basenote;
    for (int i = 0; i < instrument.loop_count; ++i) {
      seen.loops.push_back({instrument.loops[i].start, instrument.loops[i].end});
    }
  }
  SF_CUES cues{};
  if (sf_command(sound, SFC_GET_CUE, &cues, sizeof cues) == SF_TRUE) {
    for (unsigned i = 0; i < cues.cue_count; ++i)
      seen.cues.push_back(cues.cue_points[i].sample_offset);
  }
  sf_close(sound);
  CFile file;
  EXPECT_TRUE(file.Open(path, CFile::modeRead));
  seen.own = OwnLoopsLine(ReadWaveLoops(file));
  return seen;
}

class SmplWriterTest : public ::testing::Test {
 protected:
  // Writes the points into the file at path and says what went wrong, "" when nothing did.
  std::string Write(const std::string& path, const LoopPoints& points) {
    CFile file;
    EXPECT_TRUE(file.Open(path, kPatchMode));
    try {
      WriteStandardLoops(file, 2, points);
    } catch (const std::invalid_argument& refusal) {
      return refusal.what();
    } catch (const CFileException& e) {
      return e.what();
    }
    return "";
  }
  ScratchDir m_dir;
};

// A canonical file, or one whose editor already left a smpl (with its own unity note) and a cue
// chunk behind the samples: the new loops replace those, the sampler's fields stay.
TEST_F(SmplWriterTest, PairsBecomeLoopsAndAnOddLastPointACuePoint) {
  const Bytes canonical = WaveWithRecords(2, {}, kDataBytes, 0x11);
  Bytes smpl = SmplBody({{5, 9}});
  PutLe32(&smpl[12], 72);
  const Bytes edited = WithChunksBehind(
      canonical, Concat(ChunkBytes("smpl", smpl), ChunkBytes("cue ", CueBody({7, 8}))));
  struct Case {
    Bytes file;
    LoopPoints points;
    Seen seen;
  };
  const std::vector<Case> cases = {
      {canonical,
       {100, 199, 300, 399, 500},
       {{{100, 200}, {300, 400}}, {500}, 60, "loops 100-199, 300-399; cues 500"}},
      {canonical, {100, 199}, {{{100, 200}}, {}, 60, "loops 100-199"}},
      {edited, {10, 20, 30}, {{{10, 21}}, {30}, 72, "loops 10-20; cues 30"}},
      {edited, {}, {{}, {}, 72, ""}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.seen.own);
    const std::string path = m_dir.File("take.wav");
    WriteBytes(path, c.file);
    ASSERT_EQ(Write(path, c.points), "");
    EXPECT_EQ(Read(path), c.seen);
    const Bytes after = ReadBytes(path);
    // Nothing before the end of the samples moves; only the RIFF size grows.
    EXPECT_TRUE(std::equal(c.file.begin() + kWaveIdOffset, c.file.begin() + kWaveHeaderBytes,
                           after.begin() + kWaveIdOffset));
    EXPECT_TRUE(std::equal(canonical.begin() + kWaveHeaderBytes, canonical.end(),
                           after.begin() + kWaveHeaderBytes));
    EXPECT_EQ(GetLe32(&after[kRiffSizeOffset]), after.size() - 8);
  }
}

TEST_F(SmplWriterTest, WhatCannotBeWrittenIsRefusedAndTheFileKept) {
  Bytes unset = WaveWithRecords(2, {}, kDataBytes, 0x11);
  PutLe32(&unset[kDataSizeOffset], 0);
  // A tag behind the last chunk, and a chunk whose size runs past the end: loops appended there
  // would overwrite the tag, or hide inside the chunk.
  Bytes tagged = WaveWithRecords(2, {}, kDataBytes, 0x11);
  for (const char c : std::string("ID3\x03\x00\x00tag bytes"))
    tagged.push_back(static_cast<std::uint8_t>(c));
  Bytes swallowing = WaveWithRecords(2, {}, kDataBytes, 0x11);
  for (const char c : std::string("LIST\xff\xff\xff\xffINFO"))
    swallowing.push_back(static_cast<std::uint8_t>(c));
  const std::vector<std::tuple<Bytes, LoopPoints, std::string>> cases = {
      {WaveWithRecords(2, {}, kDataBytes, 0x11),
       {300, 200},
       "Loop point 2 lies before loop point 1, so the two make no standard loop"},
      {WaveWithRecords(2, {}, kDataBytes, 0x11),
       {300, 1001},
       "Loop point 2 is past the end of the samples"},
      {WaveWithRecords(2, {}, kDataBytes, 0x11),
       {300, 1000},
       "Loop point 2 is the end of the samples, one past the last frame a standard loop can play"},
      {unset, {300, 400}, kNoRoomForLoopsText},
      {tagged, {300, 400}, kUnwalkedTailText},
      {swallowing, {300, 400}, kUnwalkedTailText},
  };
  for (const auto& [bytes, points, text] : cases) {
    const std::string path = m_dir.File("take.wav");
    WriteBytes(path, bytes);
    EXPECT_EQ(Write(path, points), text);
    EXPECT_EQ(ReadBytes(path), bytes);
  }
  // Samples that leave no room below 4 GiB for the chunks: a sparse file, never rewritten.
  const std::string big = m_dir.File("big.wav");
  Bytes header = WaveWithRecords(2, {}, 0, 0);
  PutLe32(&header[kDataSizeOffset], 0xFFFFFFC0u);
  PutLe32(&header[kRiffSizeOffset], 0xFFFFFFE4u);
  WriteBytes(big, header);
  std::filesystem::resize_file(big, kWaveHeaderBytes + 0xFFFFFFC0ull);
  EXPECT_EQ(Write(big, {100, 200}), kLoopsTooLongText);
  EXPECT_EQ(std::filesystem::file_size(big), kWaveHeaderBytes + 0xFFFFFFC0ull);
}

// Each write and each flush made to fail in turn stops the steps there, as a kill would: every
// reader then finds the loops as they were or as they were to be, never a mixture. libsndfile
// reads chunks past the RIFF size and takes the last smpl chunk; loop takes the first.
TEST_F(SmplWriterTest, AWriteStoppedBetweenItsStepsLeavesTheFileAsBeforeOrAsAfter) {
  const FaultGuard guard;
  const Bytes old = WithChunksBehind(
      WaveWithRecords(2, {}, kDataBytes, 0x11),
      Concat(ChunkBytes("smpl", SmplBody({{5, 9}})), ChunkBytes("cue ", CueBody({7}))));
  const std::string path = m_dir.File("take.wav");
  WriteBytes(path, old);
  const Seen before = Read(path);
  ASSERT_EQ(Write(path, {100, 199, 300}), "");
  const Seen after = Read(path);
  ASSERT_NE(before, after);
  for (const FileFault fault : {FileFault::write, FileFault::flush}) {
    for (unsigned step = 0; step < 3; ++step) {
      SCOPED_TRACE(step);
      WriteBytes(path, old);
      InjectFileFault(fault, EIO, step);
      EXPECT_EQ(Write(path, {100, 199, 300}), OsErrorText(EIO));
      const Seen seen = Read(path);
      EXPECT_TRUE(seen.Sndfile() == before.Sndfile() || seen.Sndfile() == after.Sndfile());
      EXPECT_TRUE(seen.own == before.own || seen.own == after.own) << seen.own;
    }
  }
}

}  // namespace
