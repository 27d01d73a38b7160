// The loop table against real wave files: golden record bytes, round trips, every refusal
// leaving the file as it was, a file replaced under the open one, injected file faults, a file
// past 4 GiB, and a randomised write-then-read check.
#include "looppatch/loop_table.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <stdexcept>

#include "tests/file_faults.h"
#include "tests/read_gate.h"
#include "tests/sample_wave.h"
#include "tests/scratch_dir.h"

namespace {

constexpr std::uint8_t kAudioByte = 0x11;  // plain sample data, never a record mark
constexpr unsigned kPatchMode = CFile::modeReadWrite | CFile::shareExclusive;

// A canonical header with the given channel byte, dataBytes of audio, and optionally a declared
// data size that differs from what follows (a truncated file, or a chunk after the data).
Bytes Wave(std::uint8_t channelByte, std::size_t dataBytes, std::int64_t declared = -1) {
  return CanonicalWave(channelByte, dataBytes, kAudioByte, declared);
}

void PutSlot(Bytes& bytes, std::size_t index, const LoopRecord& record) {
  std::copy(record.bytes.begin(), record.bytes.end(),
            bytes.begin() + kLoopTableOffset + index * kLoopRecordBytes);
}

Bytes BytesOf(const LoopRecord& record) {
  return Bytes(record.bytes.begin(), record.bytes.end());
}

Bytes Slot(const Bytes& bytes, std::size_t index) {
  const auto at = bytes.begin() + kLoopTableOffset + index * kLoopRecordBytes;
  return Bytes(at, at + kLoopRecordBytes);
}

LoopRecord RecordAt(const Bytes& bytes, std::size_t index) {
  LoopRecord record;
  const Bytes slot = Slot(bytes, index);
  std::copy(slot.begin(), slot.end(), record.bytes.begin());
  return record;
}

class LoopTableTest : public ::testing::Test {
 protected:
  CFile Open() {
    CFile file;
    EXPECT_TRUE(file.Open(m_path, kPatchMode));
    return file;
  }
  LoopTable Read(const Bytes& bytes) {
    WriteBytes(m_path, bytes);
    CFile file = Open();
    return ReadLoopTable(file);
  }
  // The channel byte goes to the write as the Channels box gives it. The file must stay
  // patchable, so one with another channel count is written as stereo and its own header put
  // back on what is read after: the write never touches the header.
  Bytes Patch(const Bytes& bytes, const LoopPoints& points) {
    Bytes patchable = bytes;
    if (GetLe16(&bytes[kChannelsOffset]) != 1 && GetLe16(&bytes[kChannelsOffset]) != 2) {
      PutLe16(&patchable[kChannelsOffset], 2);
      PutLe16(&patchable[kBlockAlignOffset], 2 * kPcm16SampleBytes);
    }
    WriteBytes(m_path, patchable);
    CFile file = Open();
    WriteLoopTable(file, bytes[kChannelsOffset], points);
    EXPECT_FALSE(file.IsOpen());
    Bytes after = ReadBytes(m_path);
    std::copy_n(bytes.begin(), kWaveHeaderBytes, after.begin());
    return after;
  }
  // The refusal text, after proving that neither the check nor the write touch the file.
  std::string Refusal(const Bytes& bytes, const LoopPoints& points) {
    WriteBytes(m_path, bytes);
    CFile file = Open();
    const std::string text = LoopPointsText(CheckLoopPoints(file, bytes[kChannelsOffset], points));
    try {
      WriteLoopTable(file, bytes[kChannelsOffset], points);
      ADD_FAILURE() << "write accepted refused points";
    } catch (const std::invalid_argument& e) {
      EXPECT_EQ(text, e.what());
    }
    EXPECT_TRUE(file.IsOpen());
    EXPECT_EQ(ReadBytes(m_path), bytes);
    return text;
  }

  ScratchDir m_dir;
  std::string m_path = m_dir.File("loop.wav");
};

TEST_F(LoopTableTest, GoldenRecordsForMonoAndStereoReadBack) {
  const Bytes mono = Patch(Wave(1, 4000), {1000});
  EXPECT_EQ(Slot(mono, 0), (Bytes{0x45, 0x4D, 0xD0, 0x07, 0x00, 0x00}));
  EXPECT_EQ(Read(mono).loopPoints[0], 1000);

  const Bytes stereo = Patch(Wave(2, 4000), {1000});
  EXPECT_EQ(Slot(stereo, 0), (Bytes{0x45, 0x4D, 0xA0, 0x0F, 0x00, 0x00}));
  EXPECT_EQ(Read(stereo).loopPoints[0], 1000);
}

TEST_F(LoopTableTest, EveryChannelByteButOneUsesFourBytesPerFrame) {
  struct Case {
    std::uint8_t channelByte;
    std::uint32_t bytesPerFrame;
    int channelCount;
  };
  const LoopPoints points{1, 2, 3, 4, 5, 6, 7, 8, 9, 1000};
  for (const Case& c :
       {Case{1, 2, 1}, Case{2, 4, 2}, Case{6, 4, 6}, Case{0, 4, 0}, Case{0xFF, 4, -1}}) {
    SCOPED_TRACE(int{c.channelByte});
    const Bytes patched = Patch(Wave(c.channelByte, 4000), points);
    EXPECT_EQ(Slot(patched, 9), BytesOf(LoopRecord::FromByteOffset(1000 * c.bytesPerFrame)));
    const LoopTable table = Read(patched);
    EXPECT_EQ(table.channelCount, c.channelCount);
    EXPECT_EQ(table.loopPoints, points);
  }
}

TEST_F(LoopTableTest, OffsetsRoundDown) {
  Bytes stereo = Wave(2, 4004);
  PutSlot(stereo, 0, LoopRecord::FromByteOffset(4001));
  EXPECT_EQ(Read(stereo).loopPoints[0], 1000);
}

TEST_F(LoopTableTest, EitherMarkMakesARecordAndGapsDoNotEndTheRead) {
  Bytes bytes = Wave(1, 100);
  PutSlot(bytes, 0, LoopRecord{{0x45, 0x00, 0x10, 0, 0, 0}});
  PutSlot(bytes, 2, LoopRecord{{0x00, 0x4D, 0x20, 0, 0, 0}});
  PutSlot(bytes, 3, LoopRecord{{0x44, 0x4C, 0x30, 0, 0, 0}});  // near misses on both marks
  PutSlot(bytes, 9, LoopRecord::FromByteOffset(0x40));
  EXPECT_EQ(Read(bytes).loopPoints, (LoopPoints{8, 0, 16, 0, 0, 0, 0, 0, 0, 32}));
}

TEST_F(LoopTableTest, SlotsOutsideTheSampleDataReadAsNone) {
  Bytes trailingChunk = Wave(1, 60, 12);  // two slots of samples, then another chunk
  for (std::size_t i = 0; i < kLoopPointCount; ++i) {
    PutSlot(trailingChunk, i, LoopRecord::FromByteOffset(2));
  }
  EXPECT_EQ(Read(trailingChunk).loopPoints, (LoopPoints{1, 1}));

  Bytes truncated = Wave(1, 11, 1000);  // the second slot is cut short by the end of the file
  PutSlot(truncated, 0, LoopRecord::FromByteOffset(2));
  std::fill(truncated.begin() + 50, truncated.end(), 0x45);
  EXPECT_EQ(Read(truncated).loopPoints, (LoopPoints{1}));

  Bytes headerOnly = Wave(2, 0);
  headerOnly.resize(30);
  const LoopTable header = Read(headerOnly);
  EXPECT_EQ(header.channelCount, 2);
  EXPECT_EQ(header.loopPoints, LoopPoints{});

  const LoopTable tiny = Read(Bytes(22, 0x45));  // no channel byte at all
  EXPECT_EQ(tiny.channelCount, 0);
  EXPECT_EQ(tiny.loopPoints, LoopPoints{});
}

TEST_F(LoopTableTest, OnlyFilesWithTheCanonicalHeaderQualify) {
  const auto canonical = [&](const Bytes& bytes) {
    WriteBytes(m_path, bytes);
    CFile file = Open();
    return IsCanonicalWave(file);
  };
  EXPECT_TRUE(canonical(Wave(1, 0)));
  for (std::uint64_t id : {kRiffIdOffset, kWaveIdOffset, kFmtIdOffset, kDataIdOffset}) {
    Bytes bytes = Wave(1, 10);
    bytes[id + 3] ^= 0x20;
    EXPECT_FALSE(canonical(bytes)) << id;
  }
  Bytes shortHeader = Wave(1, 0);
  shortHeader.pop_back();
  EXPECT_FALSE(canonical(shortHeader));
}

// Only 16-bit PCM in one or two channels has frames of 2 or 4 bytes, the only sizes the
// records count in.
TEST_F(LoopTableTest, OnlySixteenBitPcmInOneOrTwoChannelsIsPatchable) {
  const auto check = [&](const Bytes& bytes) {
    WriteBytes(m_path, bytes);
    CFile file = Open();
    return CheckPatchable(file);
  };
  const auto withFormat = [](std::uint16_t channels, std::uint16_t tag, std::uint16_t bits,
                             std::uint16_t blockAlign) {
    Bytes bytes = Wave(static_cast<std::uint8_t>(channels), 100);
    PutLe16(&bytes[kFormatOffset], tag);
    PutLe16(&bytes[kBitsOffset], bits);
    PutLe16(&bytes[kBlockAlignOffset], blockAlign);
    return bytes;
  };
  EXPECT_EQ(check(Wave(1, 100)), "");
  EXPECT_EQ(check(Wave(2, 100)), "");
  EXPECT_EQ(check(withFormat(1, 1, 8, 1)), kNotPcm16Text);    // 8-bit
  EXPECT_EQ(check(withFormat(2, 1, 24, 6)), kNotPcm16Text);   // 24-bit
  EXPECT_EQ(check(withFormat(2, 3, 32, 8)), kNotPcm16Text);   // float
  EXPECT_EQ(check(withFormat(1, 6, 8, 1)), kNotPcm16Text);    // A-law
  EXPECT_EQ(check(withFormat(6, 1, 16, 12)), kNotPcm16Text);  // six channels
  EXPECT_EQ(check(withFormat(0, 1, 16, 0)), kNotPcm16Text);
  EXPECT_EQ(check(withFormat(2, 1, 16, 2)), kNotPcm16Text);       // block align of mono
  EXPECT_EQ(check(withFormat(1, 0xFFFE, 16, 2)), kNotPcm16Text);  // no room for its extension
  Bytes list = Wave(2, 100);
  PutChunkId(&list[kDataIdOffset], "LIST");
  EXPECT_EQ(check(list), kNotCanonicalText);
  EXPECT_EQ(check({}), kNotCanonicalText);
}

TEST_F(LoopTableTest, RefusalsNameTheFirstFailingBoxAndLeaveTheFileUnchanged) {
  const Bytes stereo = Wave(2, 200);
  EXPECT_EQ(Refusal(stereo, {5, 6, -1}), "Loop point 3 is out of range");
  EXPECT_EQ(Refusal(stereo, {5, 1073741824}), "Loop point 2 is out of range");  // 2^32 bytes
  EXPECT_EQ(Refusal(stereo, {5, 7, 0, 9}), "Loop point 4 follows an empty loop point");
  EXPECT_EQ(Refusal(stereo, {0, -1, 0, 9}), "Loop point 2 is out of range");
  EXPECT_EQ(Refusal(stereo, {0, 0, 9, -1}), "Loop point 3 follows an empty loop point");
  EXPECT_EQ(Refusal(Wave(1, 500, 17), {1, 2, 3}), "The file is too short for 3 loop points");
  EXPECT_EQ(Refusal(Wave(1, 11), {1, 2}), "The file is too short for 2 loop points");
  EXPECT_EQ(Refusal(Wave(1, 20), {1, 0, 0, 0, -4}), "Loop point 5 is out of range");
  EXPECT_EQ(Refusal(stereo, {5, 51, 0, 9}), "Loop point 2 is past the end of the samples");
  EXPECT_EQ(Refusal(stereo, {5, 0, 51}), "Loop point 3 follows an empty loop point");
}

// 200 bytes hold 100 mono frames or 50 stereo ones; the point after the last frame is the end of
// the samples and may be stored, one further may not. A truncated file ends where its bytes do.
TEST_F(LoopTableTest, APointMayNameTheEndOfTheSamplesButNothingPastIt) {
  EXPECT_EQ(Read(Patch(Wave(1, 200), {1, 100})).loopPoints, (LoopPoints{1, 100}));
  EXPECT_EQ(Refusal(Wave(1, 200), {1, 101}), "Loop point 2 is past the end of the samples");
  EXPECT_EQ(Read(Patch(Wave(2, 200), {50})).loopPoints, (LoopPoints{50}));
  EXPECT_EQ(Refusal(Wave(2, 200), {51}), "Loop point 1 is past the end of the samples");
  EXPECT_EQ(Refusal(Wave(2, 200, 1000), {51}), "Loop point 1 is past the end of the samples");
  EXPECT_EQ(Refusal(Wave(2, 200, 100), {26}), "Loop point 1 is past the end of the samples");
  EXPECT_EQ(Refusal(Wave(1, 200), {1, 2, 3, 4, 5, 6, 7, 8, 9, INT32_MAX}),
            "Loop point 10 is past the end of the samples");
}

TEST_F(LoopTableTest, AcceptedPointsPassTheCheckExactlyWhenTheyFit) {
  WriteBytes(m_path, Wave(1, 12));
  CFile file = Open();
  EXPECT_EQ(CheckLoopPoints(file, 1, {1, 2}).verdict, LoopPointsCheck::Verdict::fits);
  EXPECT_EQ(CheckLoopPoints(file, 1, {}).verdict, LoopPointsCheck::Verdict::fits);
  EXPECT_EQ(CheckLoopPoints(file, 1, {6, 6}).verdict, LoopPointsCheck::Verdict::fits);
}

// A refusal names the box the dialog should point at, counted from 0, and how many records
// would not fit.
TEST_F(LoopTableTest, ARefusalCarriesItsBox) {
  using Verdict = LoopPointsCheck::Verdict;
  WriteBytes(m_path, Wave(1, 12));
  CFile file = Open();
  struct Case {
    LoopPoints points;
    Verdict verdict;
    std::size_t box;
  };
  for (const Case& c :
       {Case{{1, -1}, Verdict::outOfRange, 1}, Case{{1, 0, 2}, Verdict::followsEmpty, 2},
        Case{{7}, Verdict::pastTheEnd, 0}}) {
    const LoopPointsCheck check = CheckLoopPoints(file, 1, c.points);
    EXPECT_EQ(check.verdict, c.verdict);
    EXPECT_EQ(check.box, c.box);
  }
  const LoopPointsCheck tooShort = CheckLoopPoints(file, 1, {1, 2, 3});
  EXPECT_EQ(tooShort.verdict, Verdict::tooShort);
  EXPECT_EQ(tooShort.count, 3u);
}

TEST_F(LoopTableTest, ClearedPointsBlankOldRecordsAndNothingElse) {
  Bytes bytes = Wave(2, 200);
  for (std::size_t i = 0; i < 4; ++i) PutSlot(bytes, i, LoopRecord::FromByteOffset(40 + 4 * i));
  PutSlot(bytes, 6, LoopRecord{{0x01, 0x4D, 9, 9, 9, 9}});
  const Bytes patched = Patch(bytes, {5, 7});

  Bytes expected = bytes;
  PutSlot(expected, 0, LoopRecord::FromByteOffset(20));
  PutSlot(expected, 1, LoopRecord::FromByteOffset(28));
  PutSlot(expected, 2, LoopRecord{});
  PutSlot(expected, 3, LoopRecord{});
  PutSlot(expected, 6, LoopRecord{});
  EXPECT_EQ(patched, expected);
  EXPECT_EQ(Read(patched).loopPoints, (LoopPoints{5, 7}));
}

// Audio whose bytes in a slot carry a mark and name a frame past the end: no point, one line
// about it, and Patch blanks it. Points inside the samples, up to the end itself, read as ever.
TEST_F(LoopTableTest, SampleBytesThatLookLikeARecordPastTheEndShowEmptyAndPatchClearsThem) {
  Bytes music = WaveOfSamples(2, Sine(1000, 441 / 7.0, 2, 9000));
  const LoopRecord lookalike{{0x4D, 0x4D, 0xC4, 0x13, 0x00, 0x0F}};  // frame 62,919,921
  PutSlot(music, 5, lookalike);
  const LoopTable shown = Read(music);
  EXPECT_EQ(shown.loopPoints, LoopPoints{});
  EXPECT_EQ(shown.lookalikes,
            std::vector<std::string>{"slot 6 holds sample bytes that look like a record; it is "
                                     "shown empty and Patch clears it"});
  Bytes clean = music;
  PutSlot(clean, 5, LoopRecord{});
  EXPECT_EQ(Patch(music, {}), clean);

  PutSlot(music, 0, LoopRecord::FromByteOffset(4000));  // the end of the samples itself
  PutSlot(music, 1, LoopRecord::FromByteOffset(4004));  // one frame past it
  PutSlot(music, 5, LoopRecord{});
  EXPECT_EQ(Read(music).loopPoints, (LoopPoints{1000}));
  const Bytes written = Patch(music, {250, 1000});
  EXPECT_EQ(Read(written).loopPoints, (LoopPoints{250, 1000}));
  EXPECT_TRUE(Read(written).lookalikes.empty());
}

TEST_F(LoopTableTest, NoPointsOnAFileWithoutRecordsWritesNothingAndCloses) {
  const Bytes bytes = Wave(1, 200);
  EXPECT_EQ(Patch(bytes, {}), bytes);
}

TEST_F(LoopTableTest, ReadErrorsReachTheCallerWithTheirCode) {
  const FaultGuard guard;
  WriteBytes(m_path, Wave(1, 200));
  CFile file = Open();
  InjectFileFault(FileFault::read, EIO, 1);
  try {
    ReadLoopTable(file);
    FAIL() << "a failed read gave a loop table";
  } catch (const CFileException& e) {
    EXPECT_EQ(e.m_lOsError, EIO);
  }
}

// Editors and sync tools save by renaming a new file over the old name: the table must then go
// nowhere, neither into the replaced file nobody will read again nor into the new one.
// `cat c24.wav > gl.wav` keeps the inode, so only the header read again right before the write
// shows that the records would now count 24-bit or four-channel frames, or land in a fmt chunk.
TEST_F(LoopTableTest, AFileRewrittenInPlaceIntoAnotherFormatIsRefusedAndNotWritten) {
  Bytes wide = Wave(2, 200);
  PutLe16(&wide[kBitsOffset], 24);
  PutLe16(&wide[kBlockAlignOffset], 6);
  Bytes fourChannels = Wave(4, 200);
  PutLe16(&fourChannels[kChannelsOffset], 4);
  PutLe16(&fourChannels[kBlockAlignOffset], 8);
  Bytes longerFmt = Wave(2, 200);
  std::copy_n("LIST", 4, longerFmt.begin() + kDataIdOffset);
  const std::vector<std::pair<const char*, Bytes>> rewrites = {
      {"24-bit", wide}, {"four channels", fourChannels}, {"not canonical", longerFmt}};
  for (const auto& [what, rewritten] : rewrites) {
    SCOPED_TRACE(what);
    WriteBytes(m_path, Wave(2, 200));
    CFile file = Open();
    const std::uint8_t channelByte = ReadLoopTable(file).channelByte;
    {
      std::ofstream inPlace(m_path, std::ios::binary | std::ios::in | std::ios::out);
      inPlace.write(reinterpret_cast<const char*>(rewritten.data()),
                    static_cast<std::streamsize>(rewritten.size()));
    }
    const std::string expected = rewritten == longerFmt ? kNotCanonicalText : kNotPcm16Text;
    EXPECT_EQ(LoopPointsText(CheckLoopPoints(file, channelByte, {5})), expected);
    try {
      WriteLoopTable(file, channelByte, {5});
      ADD_FAILURE() << "written";
    } catch (const std::invalid_argument& refusal) {
      EXPECT_EQ(refusal.what(), expected);
    }
    EXPECT_EQ(ReadBytes(m_path), rewritten);
  }
}

TEST_F(LoopTableTest, AFileReplacedMovedOrRemovedAfterOpeningIsNeverWritten) {
  const Bytes original = Wave(2, 200);
  const Bytes other = Wave(1, 300);
  const std::string kept = m_dir.File("kept.wav");  // a second name for the original's bytes
  const std::string newer = m_dir.File("newer.wav");
  const std::string moved = m_dir.File("moved.wav");
  const std::vector<std::pair<const char*, std::function<void()>>> changes = {
      {"replaced", [&] { WriteBytes(newer, other), std::filesystem::rename(newer, m_path); }},
      {"moved", [&] { std::filesystem::rename(m_path, moved); }},
      {"removed", [&] { std::filesystem::remove(m_path); }},
  };
  for (const auto& [what, change] : changes) {
    SCOPED_TRACE(what);
    WriteBytes(m_path, original);
    std::filesystem::remove(kept);
    std::filesystem::create_hard_link(m_path, kept);
    CFile file = Open();
    change();
    EXPECT_EQ(CheckLoopPoints(file, 2, {5}).verdict, LoopPointsCheck::Verdict::replaced);
    EXPECT_EQ(CheckLoopPoints(file, 2, {-1}).verdict,
              LoopPointsCheck::Verdict::replaced);  // before any box
    EXPECT_FALSE(StillAtItsPath(file));
    EXPECT_THROW(WriteLoopTable(file, 2, {5}), std::invalid_argument);
    EXPECT_EQ(ReadBytes(kept), original);
    if (std::filesystem::exists(m_path)) {
      EXPECT_EQ(ReadBytes(m_path), other);
    }
    if (std::filesystem::exists(moved)) {
      EXPECT_EQ(ReadBytes(moved), original);
    }
    std::filesystem::remove(moved);
  }
}

// The new records and the cleared slots go out in one write: a write fault armed for the second
// write never fires, and one armed for the first leaves every byte as it was.
TEST_F(LoopTableTest, TheTableGoesOutInOneWriteThatEitherHappensOrNot) {
  const FaultGuard guard;
  Bytes before = Wave(2, 200);
  for (std::size_t i = 0; i < 5; ++i) PutSlot(before, i, LoopRecord::FromByteOffset(8 * (i + 1)));
  const LoopPoints points{7, 9};

  WriteBytes(m_path, before);
  CFile file = Open();
  InjectFileFault(FileFault::write, EIO);
  try {
    WriteLoopTable(file, 2, points);
    ADD_FAILURE() << "the injected write fault did not surface";
  } catch (const CFileException& e) {
    EXPECT_EQ(e.m_lOsError, EIO);
  }
  EXPECT_TRUE(file.IsOpen());
  EXPECT_EQ(ReadBytes(m_path), before);

  InjectFileFault(FileFault::write, EIO, 1);
  WriteLoopTable(file, 2, points);
  Bytes expected = before;
  PutSlot(expected, 0, LoopRecord::FromByteOffset(28));
  PutSlot(expected, 1, LoopRecord::FromByteOffset(36));
  for (std::size_t i = 2; i < 5; ++i) PutSlot(expected, i, LoopRecord{});
  EXPECT_EQ(ReadBytes(m_path), expected);
}

TEST_F(LoopTableTest, FailedReadsFlushesAndClosesReachTheCallerWithTheirCode) {
  const FaultGuard guard;
  const Bytes before = Wave(1, 200);
  WriteBytes(m_path, before);
  CFile file = Open();
  InjectFileFault(FileFault::read, EIO);
  EXPECT_THROW(ReadLoopTable(file), CFileException);

  InjectFileFault(FileFault::flush, ENOSPC);
  try {
    WriteLoopTable(file, 1, {3});
    ADD_FAILURE() << "the injected flush fault did not surface";
  } catch (const CFileException& e) {
    EXPECT_EQ(e.m_lOsError, ENOSPC);
  }
  EXPECT_TRUE(file.IsOpen());  // so the patch can be tried again

  InjectFileFault(FileFault::close, EIO);
  EXPECT_THROW(WriteLoopTable(file, 1, {4}), CFileException);
  EXPECT_FALSE(file.IsOpen());  // a failed close has let go all the same
  EXPECT_EQ(Read(ReadBytes(m_path)).loopPoints, (LoopPoints{4}));
}

// The lock is only advisory: another program may cut the file short after its table was read.
// Wherever among the write's own reads that happens, the write refuses and writes nothing, in
// particular nothing past the new end from a table buffer that came back short.
TEST_F(LoopTableTest, AFileCutShortAfterReadingIsRefusedWhereverTheCutLands) {
  Bytes before = Wave(2, 200);
  for (std::size_t i = 0; i < 3; ++i) PutSlot(before, i, LoopRecord::FromByteOffset(8 * (i + 1)));
  const std::size_t cutTo = kWaveHeaderBytes + kLoopRecordBytes;
  for (int cutAt = 0;; ++cutAt) {
    SCOPED_TRACE(cutAt);
    WriteBytes(m_path, before);
    bool refused = false;
    int reads = 0;
    {
      // The gate is set before the open: a file opened while nobody watches is never held.
      std::atomic<int> first{INT_MAX};  // the write's first read
      ReadGate gate(m_path, [&](int read) {
        if (read == first + cutAt) {
          EXPECT_EQ(::truncate(m_path.c_str(), static_cast<off_t>(cutTo)), 0);
        }
      });
      if (!gate.Armed()) GTEST_SKIP() << "fanotify permission events need CAP_SYS_ADMIN";
      CFile file = Open();
      ReadLoopTable(file);
      first = gate.Reads();
      try {
        WriteLoopTable(file, 2, {5, 7, 9});
      } catch (const std::invalid_argument&) {
        refused = true;
      }
      reads = gate.Reads() - first;
    }
    if (reads <= cutAt) break;  // the write reads no more: every place has been tried
    EXPECT_TRUE(refused);
    EXPECT_EQ(ReadBytes(m_path), Bytes(before.begin(), before.begin() + cutTo));
  }
}

// A sparse file of 4 GiB + 1 KiB: its length needs more than 32 bits, its declared data size
// is the largest a header holds, and the last frame that size reaches can be stored.
TEST_F(LoopTableTest, AFileBeyondFourGibibytesPatchesLikeAnyOther) {
  constexpr std::uint64_t kBigLength = (std::uint64_t{1} << 32) + 1024;
  WriteBytes(m_path, Wave(1, 200, UINT32_MAX));
  ASSERT_EQ(::truncate(m_path.c_str(), static_cast<off_t>(kBigLength)), 0);
  CFile file = Open();
  ASSERT_EQ(file.GetLength(), kBigLength);
  EXPECT_EQ(CheckPatchable(file), "");
  EXPECT_EQ(CheckLoopPoints(file, 1, {5, INT32_MAX}).verdict,
            LoopPointsCheck::Verdict::fits);  // 2^32 - 1 bytes: the last frame
  WriteLoopTable(file, 1, {5, 1000000, 2000000000});
  ASSERT_TRUE(file.Open(m_path, kPatchMode));
  EXPECT_EQ(ReadLoopTable(file).loopPoints, (LoopPoints{5, 1000000, 2000000000}));
  EXPECT_EQ(file.GetLength(), kBigLength);
}

// Random canonical files, some truncated and some with a chunk after the data, each holding
// random old records; random valid points written and read back. No byte outside the written
// records and the old records behind them may change.
TEST_F(LoopTableTest, RandomFilesRoundTripAndKeepEveryOtherByte) {
  std::mt19937 random(20240611);
  const auto below = [&](std::uint64_t n) {
    return std::uniform_int_distribution<std::uint64_t>(0, n - 1)(random);
  };
  for (int round = 0; round < 300; ++round) {
    const auto channelByte = static_cast<std::uint8_t>(below(4) == 0 ? 1 : below(256));
    const std::size_t dataBytes = below(120);
    Bytes bytes =
        Wave(channelByte, dataBytes, below(2) ? -1 : static_cast<std::int64_t>(below(120)));
    for (std::size_t i = kWaveHeaderBytes; i < bytes.size(); ++i) {
      bytes[i] = static_cast<std::uint8_t>(below(3) == 0 ? 0x45 : below(256));
    }
    // A size of 0 with bytes behind it that are no chunks leaves the samples unbounded.
    const std::uint32_t declared = GetLe32(&bytes[kDataSizeOffset]);
    const std::uint64_t dataEnd = std::min<std::uint64_t>(
        bytes.size(), declared == 0 ? bytes.size() : kWaveHeaderBytes + declared);
    const std::size_t room =
        std::min<std::uint64_t>(kLoopPointCount, (dataEnd - kWaveHeaderBytes) / kLoopRecordBytes);
    const std::size_t count = below(room + 1);
    const std::uint64_t frames = (dataEnd - kWaveHeaderBytes) / BytesPerFrame(channelByte);
    LoopPoints points{};
    for (std::size_t i = 0; i < count; ++i) {
      points[i] = static_cast<std::int32_t>(1 + below(frames));
    }

    const Bytes after = Patch(bytes, points);
    ASSERT_EQ(Read(after).loopPoints, points) << "round " << round;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
      const std::size_t slot = (i - kLoopTableOffset) / kLoopRecordBytes;
      const bool inTable = i >= kLoopTableOffset && slot < kLoopPointCount;
      const bool written = inTable && slot < count;
      const bool oldRecord = inTable && slot < room && RecordAt(bytes, slot).IsRecord();
      if (!written) {
        ASSERT_EQ(after[i], oldRecord ? 0 : bytes[i]) << "round " << round << " byte " << i;
      }
    }
  }
}

}  // namespace
