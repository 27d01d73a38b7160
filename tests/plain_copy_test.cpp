// Plain copies of wave files laid out the way everyday writers lay them out: the copy carries the
// canonical header and exactly the source's samples, the source is never touched, and a failed
// copy leaves nothing behind.
#include "looppatch/plain_copy.h"

#include <gtest/gtest.h>
#include <sndfile.h>

#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <filesystem>
#include <string>

#include "looppatch/loop_table.h"
#include "tests/child_process.h"
#include "tests/file_faults.h"
#include "tests/read_gate.h"
#include "tests/riff_builder.h"
#include "tests/scratch_dir.h"

namespace {

namespace fs = std::filesystem;

constexpr std::uint32_t kRate = kRiffRate;

Bytes Samples(std::size_t count) {
  Bytes samples(count);
  for (std::size_t i = 0; i < count; ++i) samples[i] = static_cast<std::uint8_t>(i * 7 + 3);
  return samples;
}

// ffmpeg's default output: its encoder tag in a LIST chunk between fmt and data.
Bytes ListInfo() {
  Bytes body(26, 0);
  PutChunkId(&body[0], "INFO");
  PutChunkId(&body[4], "ISFT");
  PutLe32(&body[8], 14);
  const std::string tag = "Lavf59.27.100";
  std::copy(tag.begin(), tag.end(), body.begin() + 12);
  return body;
}

class PlainCopyTest : public ::testing::Test {
 protected:
  std::string Save(const std::string& name, const Bytes& bytes) {
    const std::string path = m_dir.File(name);
    WriteBytes(path, bytes);
    return path;
  }
  // Copies source and checks what every good copy must be: the canonical header, the samples,
  // then the chunks kept, as they lie in a file.
  void ExpectCopy(const std::string& name, const Bytes& source, std::uint16_t channels,
                  const Bytes& samples, const Bytes& kept = {}) {
    SCOPED_TRACE(name);
    const std::string from = Save(name + ".wav", source);
    const std::string to = m_dir.File(name + "-plain.wav");
    ASSERT_EQ(PlainCopyText(WritePlainCopy(from, to)), "");
    EXPECT_EQ(ReadBytes(from), source);
    const WaveHeader header =
        BuildWaveHeader({channels, kRate, 16}, static_cast<std::uint32_t>(samples.size()),
                        static_cast<std::uint32_t>(kept.size()));
    Bytes expected(header.begin(), header.end());
    expected.insert(expected.end(), samples.begin(), samples.end());
    expected.insert(expected.end(), kept.begin(), kept.end());
    EXPECT_EQ(ReadBytes(to), expected);
    CFile opened;
    ASSERT_TRUE(opened.Open(to, kPatchMode));
    EXPECT_EQ(CheckPatchable(opened), "");
  }
  // Only the source file, and what the test put there, remain in the folder.
  std::size_t FilesInFolder() const {
    return static_cast<std::size_t>(
        std::distance(fs::directory_iterator(m_dir.Path()), fs::directory_iterator()));
  }

  ScratchDir m_dir;
};

TEST_F(PlainCopyTest, EverydayLayoutsCopyToTheCanonicalHeaderWithTheSameSamples) {
  const Bytes stereo = Samples(4000);
  const Bytes mono = Samples(3000);
  ExpectCopy("ffmpeg",
             RiffBuilder().Fmt(1, 2, 16).Chunk("LIST", ListInfo()).Chunk("data", stereo).Done(), 2,
             stereo, ChunkBytes("LIST", ListInfo()));
  ExpectCopy(
      "bext",
      RiffBuilder().Chunk("bext", Bytes(602, 0x20)).Fmt(1, 2, 16).Chunk("data", stereo).Done(), 2,
      stereo, ChunkBytes("bext", Bytes(602, 0x20)));
  ExpectCopy(
      "fact",
      RiffBuilder().Fmt(1, 1, 16, 18).Chunk("fact", {0xDC, 0x05, 0, 0}).Chunk("data", mono).Done(),
      1, mono, ChunkBytes("fact", {0xDC, 0x05, 0, 0}));
  ExpectCopy("extensible", RiffBuilder().Fmt(kExtensible, 2, 16, 40).Chunk("data", stereo).Done(),
             2, stereo);
  ExpectCopy("trailing",
             RiffBuilder()
                 .Fmt(1, 1, 16)
                 .Chunk("data", mono)
                 .Chunk("smpl", Bytes(60, 1))
                 .Chunk("JUNK", Bytes(28, 0))
                 .Done(),
             1, mono, Concat(ChunkBytes("smpl", Bytes(60, 1)), ChunkBytes("JUNK", Bytes(28, 0))));
  ExpectCopy("odd",
             RiffBuilder().Fmt(1, 2, 16).Chunk("junk", {1, 2, 3}).Chunk("data", stereo).Done(), 2,
             stereo, ChunkBytes("junk", {1, 2, 3}));
  // The file was cut short: the copy holds the whole frames that are there.
  Bytes cut = RiffBuilder().Fmt(1, 2, 16).Chunk("LIST", ListInfo()).Done();
  const std::size_t dataAt = cut.size() + kChunkHeaderBytes;
  cut = RiffBuilder().Fmt(1, 2, 16).Chunk("LIST", ListInfo()).Chunk("data", stereo, 100000).Done();
  cut.resize(dataAt + 1003);
  ExpectCopy("cut", cut, 2, Bytes(stereo.begin(), stereo.begin() + 1000),
             ChunkBytes("LIST", ListInfo()));
  // A streaming writer that could not go back leaves the largest size there is.
  ExpectCopy("streamed", RiffBuilder().Fmt(1, 1, 16).Chunk("data", mono, UINT32_MAX).Done(), 1,
             mono);
}

TEST_F(PlainCopyTest, EverydayLayoutsCanBeCopiedAndOthersCannot) {
  const auto copyable = [&](const Bytes& bytes) {
    CFile file;
    EXPECT_TRUE(file.Open(Save("probe.wav", bytes), CFile::modeRead));
    return CanMakePlainCopy(file);
  };
  const Bytes data = Samples(400);
  EXPECT_TRUE(
      copyable(RiffBuilder().Fmt(1, 2, 16).Chunk("LIST", ListInfo()).Chunk("data", data).Done()));
  EXPECT_TRUE(copyable(RiffBuilder().Fmt(kExtensible, 1, 16, 40).Chunk("data", data).Done()));
  EXPECT_FALSE(
      copyable(RiffBuilder().Fmt(1, 2, 24).Chunk("LIST", ListInfo()).Chunk("data", data).Done()));
  EXPECT_FALSE(
      copyable(RiffBuilder().Fmt(3, 2, 32, 18).Chunk("fact", Bytes(4)).Chunk("data", data).Done()));
  EXPECT_FALSE(
      copyable(RiffBuilder().Fmt(1, 6, 16).Chunk("LIST", ListInfo()).Chunk("data", data).Done()));
  EXPECT_FALSE(copyable(RiffBuilder().Fmt(kExtensible, 2, 24, 40).Chunk("data", data).Done()));
  Bytes floatSubformat = RiffBuilder().Fmt(kExtensible, 2, 16, 40).Chunk("data", data).Done();
  floatSubformat[12 + 8 + 24] = 0x03;
  EXPECT_FALSE(copyable(floatSubformat));
  EXPECT_FALSE(copyable(RiffBuilder().Chunk("data", data).Fmt(1, 2, 16).Done()));  // data first
  EXPECT_FALSE(copyable(RiffBuilder().Fmt(1, 2, 16).Done()));                      // no data
  EXPECT_FALSE(copyable(Bytes(400, 'R')));
  EXPECT_FALSE(copyable({}));
}

// A broadcast wave as a recorder and an editor leave it: its time reference and title before
// the samples, loops and a cue point behind them. The copy carries all four behind its samples,
// byte for byte, where libsndfile finds them again.
TEST_F(PlainCopyTest, TheCopyKeepsTheFilesOtherChunksBehindItsSamples) {
  Bytes bext(602, 0);
  const std::string description = "Take 12";
  std::copy(description.begin(), description.end(), bext.begin());
  PutLe32(&bext[338], 158760000);  // the time reference, in samples since midnight
  Bytes list = {'I', 'N', 'F', 'O'};
  list = Concat(list, ChunkBytes("INAM", {'T', 'a', 'k', 'e', ' ', '1', '2', 0}));
  const Bytes stereo = Samples(4000);
  const Bytes smpl = SmplBody({{100, 599}});
  const Bytes cue = CueBody({50});
  const std::string from = Save("bwf.wav", RiffBuilder()
                                               .Chunk("bext", bext)
                                               .Fmt(1, 2, 16)
                                               .Chunk("LIST", list)
                                               .Chunk("data", stereo)
                                               .Chunk("smpl", smpl)
                                               .Chunk("cue ", cue)
                                               .Done());
  const Bytes kept = Concat(Concat(ChunkBytes("bext", bext), ChunkBytes("LIST", list)),
                            Concat(ChunkBytes("smpl", smpl), ChunkBytes("cue ", cue)));
  ExpectCopy("bwf", ReadBytes(from), 2, stereo, kept);
  const std::string copy = m_dir.File("bwf-plain.wav");
  const PlainCopyOutcome outcome = WritePlainCopy(from, copy);
  EXPECT_EQ(outcome.kept, (std::vector<std::string>{"bext", "LIST", "smpl", "cue"}));

  SF_INFO info{};
  SNDFILE* sound = sf_open(copy.c_str(), SFM_READ, &info);
  ASSERT_NE(sound, nullptr) << sf_strerror(nullptr);
  EXPECT_EQ(info.frames, 1000);
  SF_BROADCAST_INFO broadcast{};
  EXPECT_EQ(sf_command(sound, SFC_GET_BROADCAST_INFO, &broadcast, sizeof broadcast), SF_TRUE);
  EXPECT_EQ(broadcast.time_reference_low, 158760000u);
  EXPECT_STREQ(sf_get_string(sound, SF_STR_TITLE), "Take 12");
  SF_INSTRUMENT instrument{};
  EXPECT_EQ(sf_command(sound, SFC_GET_INSTRUMENT, &instrument, sizeof instrument), SF_TRUE);
  ASSERT_EQ(instrument.loop_count, 1);
  EXPECT_EQ(instrument.loops[0].start, 100u);
  SF_CUES cues{};
  EXPECT_EQ(sf_command(sound, SFC_GET_CUE, &cues, sizeof cues), SF_TRUE);
  ASSERT_EQ(cues.cue_count, 1u);
  EXPECT_EQ(cues.cue_points[0].sample_offset, 50u);
  sf_close(sound);
}

// Layouts careless or interrupted writers leave: the samples are 16-bit PCM all the same.
TEST_F(PlainCopyTest, DamagedButReadableLayoutsAreCopied) {
  const Bytes stereo = Samples(4000);
  ExpectCopy("no pad byte",
             RiffBuilder()
                 .Fmt(1, 2, 16)
                 .Chunk("junk", {1, 2, 3}, -1, false)
                 .Chunk("LIST", ListInfo())
                 .Chunk("data", stereo)
                 .Done(),
             2, stereo, Concat(ChunkBytes("junk", {1, 2, 3}), ChunkBytes("LIST", ListInfo())));
  // A pad byte that looks like the start of an id must not be taken for one.
  ExpectCopy(
      "pad byte",
      RiffBuilder().Fmt(1, 2, 16).Chunk("junk", {'a', 'b', 'c'}).Chunk("data", stereo).Done(), 2,
      stereo, ChunkBytes("junk", {'a', 'b', 'c'}));
  ExpectCopy("LIST of unset size",
             RiffBuilder()
                 .Fmt(1, 2, 16)
                 .Chunk("LIST", ListInfo(), UINT32_MAX)
                 .Chunk("data", stereo)
                 .Done(),
             2, stereo);

  // RF64 and BW64 keep the real sizes in ds64 and 0xFFFFFFFF in the 32-bit fields.
  for (const char* form : {"RF64", "BW64"}) {
    Bytes ds64(28, 0);
    PutLe32(&ds64[8], static_cast<std::uint32_t>(stereo.size()));
    Bytes rf64 = RiffBuilder()
                     .Chunk("ds64", ds64)
                     .Fmt(1, 2, 16)
                     .Chunk("data", stereo, UINT32_MAX)
                     .Chunk("JUNK", Bytes(100, 'J'))
                     .Done();
    std::copy_n(form, 4, rf64.begin());
    PutLe32(&rf64[4], UINT32_MAX);
    ExpectCopy(form, rf64, 2, stereo, ChunkBytes("JUNK", Bytes(100, 'J')));
  }
}

// A recorder killed before it went back to its header leaves the data size 0 (or 0xFFFFFFFF):
// the samples are those up to the end of the file, in whole frames, and the copy says so.
TEST_F(PlainCopyTest, AnUnsetDataSizeTakesTheSamplesToTheEndAndSaysSo) {
  const Bytes stereo = Samples(4003);
  // Samples that start like a chunk header, printable id and a size that fits: they are still
  // samples, since they are no chunks up to the end of the file.
  Bytes printable = stereo;
  PutChunkId(&printable[0], "JUNK");
  PutLe32(&printable[4], 16);
  for (const auto& [declared, samples] :
       {std::pair{0u, stereo}, std::pair{UINT32_MAX, stereo}, std::pair{0u, printable}}) {
    SCOPED_TRACE(declared);
    Bytes source = RiffBuilder().Fmt(1, 2, 16).Chunk("data", samples, declared).Done();
    source.resize(source.size() - 1);  // no pad byte: the writer died before it
    const std::string from = Save("killed.wav", source);
    const std::string to = m_dir.File("copy.wav");
    std::string note;
    ASSERT_EQ(PlainCopyText(WritePlainCopy(from, to, &note)), "");
    EXPECT_EQ(note, kSizeUnsetText);
    const Bytes copy = ReadBytes(to);
    ASSERT_EQ(copy.size(), kWaveHeaderBytes + 4000);
    EXPECT_EQ(GetLe32(&copy[kDataSizeOffset]), 4000u);
    EXPECT_TRUE(std::equal(copy.begin() + kWaveHeaderBytes, copy.end(), samples.begin()));
  }
  // An empty data chunk with a chunk behind it is really empty.
  const std::string empty = Save(
      "empty.wav", RiffBuilder().Fmt(1, 2, 16).Chunk("data", {}).Chunk("LIST", ListInfo()).Done());
  std::string note;
  ASSERT_EQ(PlainCopyText(WritePlainCopy(empty, m_dir.File("copy.wav"), &note)), "");
  EXPECT_EQ(note, "");
  EXPECT_EQ(ReadBytes(m_dir.File("copy.wav")).size(),
            kWaveHeaderBytes + ChunkBytes("LIST", ListInfo()).size());
}

// The file with a block size of 2 bytes in its fmt chunk (the first chunk).
Bytes WithBlockAlign(Bytes file) {
  PutLe16(&file[kRiffPreambleBytes + kChunkHeaderBytes + 12], 2);
  return file;
}

// A 16-bit PCM file whose samples cannot be found or read is told what is wrong with its
// layout, both when it is opened and when it is copied; never that it has the wrong format.
TEST_F(PlainCopyTest, DamagedLayoutsAreNamed) {
  const Bytes stereo = Samples(400);
  const Bytes list = ListInfo();
  const auto rf64 = [&](const Bytes& ds64, std::int64_t declared) {
    RiffBuilder builder;
    if (!ds64.empty()) builder.Chunk("ds64", ds64, declared);
    Bytes bytes = builder.Fmt(1, 2, 16).Chunk("data", stereo, UINT32_MAX).Done();
    std::copy_n("RF64", 4, bytes.begin());
    return bytes;
  };
  const std::vector<std::pair<Bytes, std::string>> cases = {
      {RiffBuilder().Chunk("data", stereo).Fmt(1, 2, 16).Done(), kFmtAfterDataText},
      {RiffBuilder().Fmt(1, 2, 16).Chunk("LIST", list).Done(), kNoDataText},
      {RiffBuilder().Chunk("data", stereo).Done(), kNoFmtText},
      {RiffBuilder()
           .Fmt(1, 2, 16)
           .Chunk("LIST", list, static_cast<std::int64_t>(list.size() + 8 + stereo.size()))
           .Chunk("data", stereo)
           .Done(),
       SwallowedText("LIST")},
      {rf64(Bytes(28, 0), UINT32_MAX), kBadDs64Text},
      {rf64(Bytes(8, 0), -1), kBadDs64Text},
      {rf64({}, -1), kBadDs64Text},
      {RiffBuilder().Chunk("fmt ", Bytes(14, 1)).Chunk("data", stereo).Done(), kShortFmtText},
      {WithBlockAlign(RiffBuilder().Fmt(1, 2, 16).Chunk("LIST", list).Chunk("data", stereo).Done()),
       "The fmt chunk gives 2 bytes per frame, but 16-bit samples in 2 channels take 4"},
      {WithBlockAlign(RiffBuilder().Fmt(1, 2, 16).Chunk("data", stereo).Done()),
       "The fmt chunk gives 2 bytes per frame, but 16-bit samples in 2 channels take 4"},
  };
  const std::string to = m_dir.File("copy.wav");
  for (const auto& [bytes, text] : cases) {
    SCOPED_TRACE(text);
    const std::string from = Save("damaged.wav", bytes);
    CFile file;
    ASSERT_TRUE(file.Open(from, CFile::modeRead));
    EXPECT_EQ(TableRefusal(file), text);
    EXPECT_FALSE(CanMakePlainCopy(file));
    EXPECT_EQ(PlainCopyText(WritePlainCopy(from, to)), text);
    EXPECT_FALSE(fs::exists(to));
  }
}

// Before, a walk over 4 GiB of zero-size chunks took about 18 minutes; the child's watchdog
// fails the test long before that if the walk follows the file's size.
TEST_F(PlainCopyTest, AWalkOverGigabytesOfCraftedChunksEndsAtOnce) {
  constexpr std::uint64_t kSparseBytes = std::uint64_t{4} << 30;
  Bytes head = RiffBuilder().Fmt(1, 2, 16).Done();
  Bytes named = head;  // empty chunks with real ids, then more than any file has of tiny ones
  for (int i = 0; i < 10000; ++i) RiffBuilder::AppendChunk(named, "JUNK", Bytes(i % 2 ? 2 : 0));
  const std::vector<std::pair<const char*, Bytes>> layouts = {{"zero bytes", head},
                                                              {"JUNK chunks", named}};
  for (const auto& [what, bytes] : layouts) {
    SCOPED_TRACE(what);
    const std::string from = Save("sparse.wav", bytes);
    ASSERT_EQ(::truncate(from.c_str(), static_cast<off_t>(kSparseBytes)), 0);
    const std::string result = InChild([&] {
      CFile file;
      if (!file.Open(from, CFile::modeRead)) return std::string("not opened");
      const std::string copyable = CanMakePlainCopy(file) ? "copyable" : "";
      return copyable + "|" + TableRefusal(file) + "|" +
             PlainCopyText(WritePlainCopy(from, m_dir.File("c.wav")));
    });
    // No data chunk was found: there is nothing to patch or to copy.
    EXPECT_EQ(result, std::string("|") + kNoDataText + "|" + kNoDataText);
    fs::remove(from);
  }
}

// Whatever the layout, samples that are not 16-bit PCM in one or two channels get that text.
TEST_F(PlainCopyTest, OtherSampleFormatsGetTheSameTextInEveryLayout) {
  const Bytes data = Samples(600);
  const std::vector<std::pair<const char*, Bytes>> files = {
      {"24-bit extensible", RiffBuilder().Fmt(kExtensible, 2, 24, 40).Chunk("data", data).Done()},
      {"four channels", RiffBuilder().Fmt(kExtensible, 4, 16, 40).Chunk("data", data).Done()},
      {"A-law plain",
       RiffBuilder().Fmt(6, 1, 8, 18).Chunk("fact", Bytes(4)).Chunk("data", data).Done()},
      {"24-bit canonical", RiffBuilder().Fmt(1, 2, 24).Chunk("data", data).Done()},
  };
  for (const auto& [what, bytes] : files) {
    SCOPED_TRACE(what);
    CFile file;
    ASSERT_TRUE(file.Open(Save("other.wav", bytes), CFile::modeRead));
    EXPECT_EQ(TableRefusal(file), kNotPcm16Text);
  }
  CFile text;
  ASSERT_TRUE(text.Open(Save("text.wav", Bytes(400, 'x')), CFile::modeRead));
  EXPECT_EQ(TableRefusal(text), kNotCanonicalText);
  CFile longer;
  ASSERT_TRUE(longer.Open(
      Save("list.wav",
           RiffBuilder().Fmt(1, 2, 16).Chunk("LIST", ListInfo()).Chunk("data", data).Done()),
      CFile::modeRead));
  EXPECT_EQ(TableRefusal(longer), kNotCanonicalText);
}

TEST_F(PlainCopyTest, WhatCannotBeCopiedIsRefusedWithTheDialogsWords) {
  const Bytes data = Samples(400);
  const std::string to = m_dir.File("copy.wav");
  const std::string text = Save("text.wav", Bytes(400, 'x'));
  EXPECT_EQ(PlainCopyText(WritePlainCopy(text, to)), kNotCanonicalText);
  const std::string float32 =
      Save("float.wav",
           RiffBuilder().Fmt(3, 2, 32, 18).Chunk("fact", Bytes(4)).Chunk("data", data).Done());
  EXPECT_EQ(PlainCopyText(WritePlainCopy(float32, to)), kNotPcm16Text);
  EXPECT_EQ(PlainCopyText(WritePlainCopy(m_dir.File("missing.wav"), to)), kOpenErrorText);
  EXPECT_EQ(PlainCopyText(WritePlainCopy(m_dir.Path().string(), to)), kOpenErrorText);  // a folder
  EXPECT_FALSE(fs::exists(to));
  EXPECT_EQ(FilesInFolder(), 2u);
}

TEST_F(PlainCopyTest, TheSourceIsNeverReplacedAndALinkAtTheDestinationIsNotFollowed) {
  const Bytes source =
      RiffBuilder().Fmt(1, 2, 16).Chunk("LIST", ListInfo()).Chunk("data", Samples(400)).Done();
  const std::string from = Save("song.wav", source);
  const std::string link = m_dir.File("link.wav");
  fs::create_symlink(from, link);
  EXPECT_EQ(PlainCopyText(WritePlainCopy(from, from)), kCopyOverSourceText);
  EXPECT_EQ(PlainCopyText(WritePlainCopy(from, link)), kCopyOverSourceText);
  EXPECT_EQ(PlainCopyText(WritePlainCopy(link, from)), kCopyOverSourceText);
  EXPECT_EQ(ReadBytes(from), source);

  const Bytes victim = {1, 2, 3};
  const std::string elsewhere = Save("elsewhere.wav", victim);
  const std::string pointer = m_dir.File("pointer.wav");
  fs::create_symlink(elsewhere, pointer);
  ASSERT_EQ(PlainCopyText(WritePlainCopy(from, pointer)), "");
  EXPECT_FALSE(fs::is_symlink(pointer));
  EXPECT_EQ(ReadBytes(elsewhere), victim);
  EXPECT_EQ(ReadBytes(pointer).size(),
            kWaveHeaderBytes + 400 + ChunkBytes("LIST", ListInfo()).size());
  EXPECT_EQ(PlainCopyName("/music/take 1.wav"), "/music/take 1-plain.wav");
  EXPECT_EQ(PlainCopyName("take.WAV"), "take-plain.wav");
}

// A FIFO or a device at the chosen name is refused, never replaced by the copy (as root, /dev/null
// itself would otherwise become a wave file); so is a link to one.
TEST_F(PlainCopyTest, AFifoOrDeviceAtTheDestinationIsRefusedAndKept) {
  const std::string from = Save(
      "song.wav",
      RiffBuilder().Fmt(1, 2, 16).Chunk("LIST", ListInfo()).Chunk("data", Samples(400)).Done());
  const std::string fifo = m_dir.File("fifo.wav");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
  const std::string link = m_dir.File("null.wav");
  fs::create_symlink("/dev/null", link);
  for (const std::string& to : {fifo, link, std::string("/dev/null")}) {
    EXPECT_EQ(PlainCopyText(WritePlainCopy(from, to)), kNotRegularText) << to;
  }
  EXPECT_TRUE(fs::is_fifo(fifo));
  EXPECT_TRUE(fs::is_symlink(link));
  EXPECT_TRUE(fs::is_character_file("/dev/null"));
  EXPECT_EQ(FilesInFolder(), 3u);
}

// Samples the plain header's 32-bit sizes cannot hold are refused, not cut short: a sparse file
// whose data chunk declares and holds 0xFFFFFFFC bytes behind a LIST chunk.
TEST_F(PlainCopyTest, SamplesTooLongForThePlainHeaderAreRefused) {
  Bytes head = RiffBuilder().Fmt(1, 2, 16).Chunk("LIST", ListInfo()).Done();
  const std::size_t dataAt = head.size();
  head.resize(dataAt + kChunkHeaderBytes);
  PutChunkId(&head[dataAt], "data");
  PutLe32(&head[dataAt + kChunkIdBytes], 0xFFFFFFFCu);
  const std::string from = Save("huge.wav", head);
  fs::resize_file(from, head.size() + 0xFFFFFFFCull);
  const std::string to = m_dir.File("huge-plain.wav");
  EXPECT_EQ(PlainCopyText(WritePlainCopy(from, to)), kTooLongText);
  EXPECT_FALSE(fs::exists(to));
  EXPECT_EQ(FilesInFolder(), 1u);
}

// Every failure on the way, injected or real, leaves the old destination as it was and no
// temporary file behind.
TEST_F(PlainCopyTest, AFailedCopyLeavesTheDestinationAsItWasAndNothingBehind) {
  const FaultGuard guard;
  const Bytes source =
      RiffBuilder().Fmt(1, 1, 16).Chunk("LIST", ListInfo()).Chunk("data", Samples(400)).Done();
  const std::string from = Save("song.wav", source);
  const Bytes old = {9, 9, 9};
  const std::string to = Save("song-plain.wav", old);
  const std::pair<FileFault, int> faults[] = {{FileFault::read, EIO},
                                              {FileFault::write, ENOSPC},
                                              {FileFault::flush, EIO},
                                              {FileFault::close, EDQUOT}};
  for (const auto& [fault, code] : faults) {
    InjectFileFault(fault, code);
    EXPECT_EQ(PlainCopyText(WritePlainCopy(from, to)), OsErrorText(code));
    EXPECT_EQ(ReadBytes(to), old);
    EXPECT_EQ(FilesInFolder(), 2u);
  }
  EXPECT_EQ(ReadBytes(from), source);

  // A folder nobody may write to: as root, only a child that gave up root meets the refusal.
  const std::string locked = m_dir.File("locked");
  fs::create_directory(locked);
  ASSERT_EQ(::chmod(m_dir.Path().c_str(), 0755), 0);
  ASSERT_EQ(::chmod(locked.c_str(), 0555), 0);
  ASSERT_EQ(::chmod(from.c_str(), 0644), 0);
  EXPECT_EQ(
      InChild([&] {
        if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) return 2;
        return PlainCopyText(WritePlainCopy(from, locked + "/copy.wav")) == OsErrorText(EACCES) ? 0
                                                                                                : 1;
      }),
      0);
  EXPECT_TRUE(fs::is_empty(locked));
}

// A copy killed part way (here by the file-size limit's own signal, at the write that crosses it)
// leaves the old destination as it was and, its new file being unnamed, nothing at all behind.
TEST_F(PlainCopyTest, AKilledCopyLeavesNothingBehind) {
  const Bytes source =
      RiffBuilder().Fmt(1, 2, 16).Chunk("LIST", ListInfo()).Chunk("data", Samples(64000)).Done();
  const std::string from = Save("song.wav", source);
  const Bytes old = {9, 9, 9};
  const std::string to = Save("song-plain.wav", old);
  const int status = WaitForChild(StartChild([&] {
    const rlimit limit{16384, 16384};
    std::signal(SIGXFSZ, SIG_DFL);
    if (::setrlimit(RLIMIT_FSIZE, &limit) != 0) return 2;
    WritePlainCopy(from, to);
    return 1;
  }));
  ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGXFSZ) << status;
  EXPECT_EQ(ReadBytes(to), old);
  EXPECT_EQ(ReadBytes(from), source);
  EXPECT_EQ(FilesInFolder(), 2u);
}

// Another program cuts the source short after its length was taken, at its first read: the
// copy must fail rather than write a header that claims samples it does not hold.
TEST_F(PlainCopyTest, ASourceThatShrinksDuringTheCopyFails) {
  const Bytes source =
      RiffBuilder().Fmt(1, 2, 16).Chunk("LIST", ListInfo()).Chunk("data", Samples(4000)).Done();
  const std::string from = Save("song.wav", source);
  const Bytes old = {9, 9, 9};
  const std::string to = Save("song-plain.wav", old);
  std::string result;
  {
    ReadGate gate(from, [&](int read) {
      if (read == 0) {
        EXPECT_EQ(::truncate(from.c_str(), static_cast<off_t>(source.size() - 3000)), 0);
      }
    });
    if (!gate.Armed()) GTEST_SKIP() << "fanotify permission events need CAP_SYS_ADMIN";
    result = PlainCopyText(WritePlainCopy(from, to));
  }
  EXPECT_EQ(result, kSourceShrankText);
  EXPECT_EQ(ReadBytes(to), old);
  EXPECT_EQ(FilesInFolder(), 2u);
}

}  // namespace

namespace {

// Points given to the copy are in its table when it appears; slots the source's samples make
// look like records are cleared, so the copy reads back exactly those points.
TEST_F(PlainCopyTest, TheCopyCanAppearWithLoopPointsInItsTable) {
  const Bytes records(400, LoopRecord::kMarkE);  // every slot reads as a record
  const std::string from =
      Save("marked.wav",
           RiffBuilder().Fmt(1, 2, 16).Chunk("LIST", ListInfo()).Chunk("data", records).Done());
  const std::string to = m_dir.File("marked-plain.wav");
  ASSERT_EQ(PlainCopyText(WritePlainCopy(from, to, nullptr, LoopPoints{10, 99})), "");
  const WaveHeader header = BuildWaveHeader({2, kRate, 16}, 400);
  Bytes expected(header.begin(), header.end());
  const Bytes first = {0x45, 0x4D, 40, 0, 0, 0, 0x45, 0x4D, 0x8C, 1, 0, 0};
  expected.insert(expected.end(), first.begin(), first.end());
  expected.resize(kWaveHeaderBytes + kLoopPointCount * kLoopRecordBytes, 0);
  expected.resize(kWaveHeaderBytes + records.size(), LoopRecord::kMarkE);
  EXPECT_EQ(ReadBytes(to), WithChunksBehind(expected, ChunkBytes("LIST", ListInfo())));

  // Without points the copy keeps the samples as they are, marks and all.
  ASSERT_EQ(PlainCopyText(WritePlainCopy(from, to)), "");
  EXPECT_EQ(ReadBytes(to)[kWaveHeaderBytes + records.size() - 1], LoopRecord::kMarkE);
  EXPECT_EQ(ReadBytes(to)[kWaveHeaderBytes + 20], LoopRecord::kMarkE);
}

TEST_F(PlainCopyTest, PointsTheCopyCannotHoldRefuseTheCopyAndLeaveTheDestination) {
  // 100 stereo frames; 6 bytes hold one record at most.
  const std::string from =
      Save("short.wav", RiffBuilder().Fmt(1, 2, 16).Chunk("data", Samples(400)).Done());
  const std::string tiny =
      Save("tiny.wav", RiffBuilder().Fmt(1, 1, 16).Chunk("data", Samples(6)).Done());
  const Bytes old = {1, 2, 3};
  const std::string to = Save("short-plain.wav", old);
  EXPECT_EQ(PlainCopyText(WritePlainCopy(from, to, nullptr, LoopPoints{101})),
            "Loop point 1 is past the end of the samples");
  EXPECT_EQ(PlainCopyText(WritePlainCopy(from, to, nullptr, LoopPoints{5, 0, 7})),
            "Loop point 3 follows an empty loop point");
  EXPECT_EQ(PlainCopyText(WritePlainCopy(tiny, to, nullptr, LoopPoints{1, 2})),
            "The file is too short for 2 loop points");
  EXPECT_EQ(ReadBytes(to), old);
  EXPECT_EQ(FilesInFolder(), 3u);
  ASSERT_EQ(PlainCopyText(WritePlainCopy(from, to, nullptr, LoopPoints{100})), "");
  CFile copy;
  ASSERT_TRUE(copy.Open(to, kPatchMode));
  EXPECT_EQ(ReadLoopTable(copy).loopPoints, (LoopPoints{100}));
}

}  // namespace
