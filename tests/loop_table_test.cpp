// The loop table against real wave files: golden record bytes, round trips, every refusal
// leaving the file as it was, and a randomised write-then-read check.
#include "looppatch/loop_table.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <random>
#include <stdexcept>

#include "tests/scratch_dir.h"

namespace {

constexpr std::uint8_t kAudioByte = 0x11;  // plain sample data, never a record mark
constexpr unsigned kPatchMode = CFile::modeReadWrite | CFile::shareExclusive;

void PutText(Bytes& bytes, std::size_t at, const char* text) {
  for (std::size_t i = 0; text[i]; ++i) bytes[at + i] = static_cast<std::uint8_t>(text[i]);
}

// A canonical header with the given channel byte, dataBytes of audio, and optionally a declared
// data size that differs from what follows (a truncated file, or a chunk after the data).
Bytes Wave(std::uint8_t channelByte, std::size_t dataBytes, std::int64_t declared = -1) {
  Bytes bytes(kCanonicalHeaderBytes + dataBytes, kAudioByte);
  std::fill(bytes.begin(), bytes.begin() + kCanonicalHeaderBytes, 0);
  PutText(bytes, kRiffIdOffset, "RIFF");
  PutText(bytes, kWaveIdOffset, "WAVE");
  PutText(bytes, kFmtIdOffset, "fmt ");
  bytes[kChannelByteOffset] = channelByte;
  PutText(bytes, kDataIdOffset, "data");
  PutU32(bytes, kDataSizeOffset, static_cast<std::uint32_t>(declared < 0 ? dataBytes : declared));
  return bytes;
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
  Bytes Patch(const Bytes& bytes, const LoopPoints& points) {
    WriteBytes(m_path, bytes);
    CFile file = Open();
    WriteLoopTable(file, bytes[kChannelByteOffset], points);
    EXPECT_FALSE(file.IsOpen());
    return ReadBytes(m_path);
  }
  // The refusal text, after proving that neither the check nor the write touch the file.
  std::string Refusal(const Bytes& bytes, const LoopPoints& points) {
    WriteBytes(m_path, bytes);
    CFile file = Open();
    const std::string text = CheckLoopPoints(file, bytes[kChannelByteOffset], points);
    try {
      WriteLoopTable(file, bytes[kChannelByteOffset], points);
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
  const Bytes mono = Patch(Wave(1, 100), {1000});
  EXPECT_EQ(Slot(mono, 0), (Bytes{0x45, 0x4D, 0xD0, 0x07, 0x00, 0x00}));
  EXPECT_EQ(Read(mono).loopPoints[0], 1000);

  const Bytes stereo = Patch(Wave(2, 100), {1000});
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
    const Bytes patched = Patch(Wave(c.channelByte, 100), points);
    EXPECT_EQ(Slot(patched, 9), BytesOf(LoopRecord::FromByteOffset(1000 * c.bytesPerFrame)));
    const LoopTable table = Read(patched);
    EXPECT_EQ(table.channelCount, c.channelCount);
    EXPECT_EQ(table.loopPoints, points);
  }
}

TEST_F(LoopTableTest, OffsetsRoundDownAndTheLargestPointsFit) {
  Bytes stereo = Wave(2, 100);
  PutSlot(stereo, 0, LoopRecord::FromByteOffset(4001));
  EXPECT_EQ(Read(stereo).loopPoints[0], 1000);

  const LoopPoints monoMax{INT32_MAX};
  EXPECT_EQ(Read(Patch(Wave(1, 100), monoMax)).loopPoints, monoMax);
  const LoopPoints stereoMax{INT32_MAX / 2};
  EXPECT_EQ(Read(Patch(Wave(2, 100), stereoMax)).loopPoints, stereoMax);
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

TEST_F(LoopTableTest, RefusalsNameTheFirstFailingBoxAndLeaveTheFileUnchanged) {
  const Bytes stereo = Wave(2, 200);
  EXPECT_EQ(Refusal(stereo, {5, 6, -1}), "Loop point 3 is out of range");
  EXPECT_EQ(Refusal(stereo, {5, 1073741824}), "Loop point 2 is out of range");  // 2^32 bytes
  EXPECT_EQ(Refusal(stereo, {5, 7, 0, 9}), "Loop point 4 follows an empty loop point");
  EXPECT_EQ(Refusal(stereo, {0, -1, 0, 9}), "Loop point 2 is out of range");
  EXPECT_EQ(Refusal(stereo, {0, 0, 9, -1}), "Loop point 3 follows an empty loop point");
  EXPECT_EQ(Refusal(Wave(1, 500, 17), {1, 2, 3}), "The file is too short for 3 loop points");
  EXPECT_EQ(Refusal(Wave(1, 11), {1, 2}), "The file is too short for 2 loop points");
  EXPECT_EQ(Refusal(Wave(1, 0), {1, 0, 0, 0, -4}), "Loop point 5 is out of range");
}

TEST_F(LoopTableTest, AcceptedPointsPassTheCheckExactlyWhenTheyFit) {
  WriteBytes(m_path, Wave(1, 12));
  CFile file = Open();
  EXPECT_EQ(CheckLoopPoints(file, 1, {1, 2}), "");
  EXPECT_EQ(CheckLoopPoints(file, 1, {}), "");
  EXPECT_EQ(CheckLoopPoints(file, 1, {INT32_MAX}), "");
}

TEST_F(LoopTableTest, ClearedPointsBlankOldRecordsAndNothingElse) {
  Bytes bytes = Wave(2, 200);
  for (std::size_t i = 0; i < 4; ++i) PutSlot(bytes, i, LoopRecord::FromByteOffset(400 + 4 * i));
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

TEST_F(LoopTableTest, NoPointsOnAFileWithoutRecordsWritesNothingAndCloses) {
  const Bytes bytes = Wave(1, 200);
  EXPECT_EQ(Patch(bytes, {}), bytes);
}

TEST_F(LoopTableTest, ReadErrorsReachTheCallerWithTheirCode) {
  CFile dir;
  ASSERT_TRUE(dir.Open(m_dir.Path().string(), CFile::modeRead));
  try {
    ReadLoopTable(dir);
    FAIL() << "a directory read as a loop table";
  } catch (const CFileException& e) {
    EXPECT_EQ(e.m_lOsError, EISDIR);
  }
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
    for (std::size_t i = kCanonicalHeaderBytes; i < bytes.size(); ++i) {
      bytes[i] = static_cast<std::uint8_t>(below(3) == 0 ? 0x45 : below(256));
    }
    const std::uint64_t dataEnd = std::min<std::uint64_t>(
        bytes.size(), kCanonicalHeaderBytes + GetU32(bytes, kDataSizeOffset));
    const std::size_t room = std::min<std::uint64_t>(
        kLoopPointCount, (dataEnd - kCanonicalHeaderBytes) / kLoopRecordBytes);
    const std::size_t count = below(room + 1);
    const std::uint64_t largest =
        std::min<std::uint64_t>(INT32_MAX, UINT32_MAX / BytesPerFrame(channelByte));
    LoopPoints points{};
    for (std::size_t i = 0; i < count; ++i) {
      points[i] = static_cast<std::int32_t>(1 + below(largest));
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
