// loop's command line, run as the real program in a child process with no display at all: what
// it prints, what it writes, and its exit status for every kind of answer.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include "loop/format/loop_table.h"
#include "loop/format/plain_copy.h"
#include "tests/child_process.h"
#include "tests/instrument_wave.h"
#include "tests/loop_wave.h"
#include "tests/riff_builder.h"
#include "tests/sample_wave.h"
#include "tests/scratch_dir.h"
#include "version.h"

namespace {

constexpr std::uint8_t kAudioByte = 0x11;
constexpr std::size_t kDataBytes = 4000;  // 2000 mono frames, 1000 stereo ones

using Outcome = ProgramRun;

Bytes Wave(std::uint16_t channels, const std::vector<std::uint32_t>& byteOffsets) {
  return WaveWithRecords(channels, byteOffsets, kDataBytes, kAudioByte);
}

class LoopCliTest : public ::testing::Test {
 protected:
  // Runs loop with args, with no display and no Qt platform named, so any start of the GUI
  // would end the child with Qt's abort.
  Outcome Loop(const std::vector<std::string>& args) { return RunProgram(LOOP_PROGRAM, args); }
  std::string Save(const std::string& name, const Bytes& bytes) {
    const std::string path = m_dir.File(name);
    WriteBytes(path, bytes);
    return path;
  }
  void ExpectUsageError(const std::vector<std::string>& args) {
    const Outcome outcome = Loop(args);
    EXPECT_EQ(outcome.status, 2);
    EXPECT_EQ(outcome.out, "");
    EXPECT_EQ(std::count(outcome.err.begin(), outcome.err.end(), '\n'), 1) << outcome.err;
    EXPECT_EQ(outcome.err.rfind("loop: ", 0), 0u) << outcome.err;
  }
  // A refusal names the file it is about (by default the last argument), so a batch over many
  // files can tell which one was refused.
  void ExpectRefusal(const std::vector<std::string>& args, const std::string& text,
                     const std::string& about = {}) {
    const Outcome outcome = Loop(args);
    EXPECT_EQ(outcome.status, 1) << text;
    EXPECT_EQ(outcome.out, "");
    EXPECT_EQ(outcome.err, "loop: " + (about.empty() ? args.back() : about) + ": " + text + "\n");
  }

  ScratchDir m_dir;
};

TEST_F(LoopCliTest, ShowPrintsTheChannelsAndAllTenPoints) {
  const Outcome stereo = Loop({"--show", Save("stereo.wav", Wave(2, {4000, 400}))});
  EXPECT_EQ(stereo.status, 0);
  EXPECT_EQ(stereo.out, "channels=2 points=1000,100,0,0,0,0,0,0,0,0\n");
  EXPECT_EQ(stereo.err, "");
  const Outcome mono = Loop({"--show", Save("mono.wav", Wave(1, {}))});
  EXPECT_EQ(mono.status, 0);
  EXPECT_EQ(mono.out, "channels=1 points=0,0,0,0,0,0,0,0,0,0\n");
  // Audio bytes in slot 6 with a mark, naming a frame far past the end: empty, and said so.
  const Outcome music =
      Loop({"--show", Save("music.wav", Wave(2, {4000, 0, 0, 0, 0, 256'835'000}))});
  EXPECT_EQ(music.status, 0);
  EXPECT_EQ(music.out, "channels=2 points=1000,0,0,0,0,0,0,0,0,0\n");
  EXPECT_EQ(music.err, "loop: " + m_dir.File("music.wav") +
                           ": slot 6 holds sample bytes that look like a record; it is shown "
                           "empty and Patch clears it\n");
}

TEST_F(LoopCliTest, SetStoresThePointsAsPatchDoesAndShowReadsThemBack) {
  const Bytes before = Wave(2, {40, 80, 120, 160});
  const std::string path = Save("stereo.wav", before);
  const Outcome set = Loop({"--set", "1000,7", path});
  EXPECT_EQ(set.status, 0);
  EXPECT_EQ(set.out, "File Patched and Saved\n");
  EXPECT_EQ(set.err, "");
  Bytes expected = Wave(2, {4000, 28});
  std::fill_n(expected.begin() + kLoopTableOffset + 2 * kLoopRecordBytes, 2 * kLoopRecordBytes, 0);
  EXPECT_EQ(ReadBytes(path), expected);
  EXPECT_EQ(Loop({"--show", path}).out, "channels=2 points=1000,7,0,0,0,0,0,0,0,0\n");

  EXPECT_EQ(Loop({"--set", "0", path}).status, 0);  // clears the table
  EXPECT_EQ(Loop({"--show", path}).out, "channels=2 points=0,0,0,0,0,0,0,0,0,0\n");
  EXPECT_EQ(Loop({"--set", "1,2,3,4,5,6,7,8,9,1000", path}).status, 0);
  EXPECT_EQ(Loop({"--show", path}).out, "channels=2 points=1,2,3,4,5,6,7,8,9,1000\n");
  // The same forms as the other programs take: a value after '=', options after the file.
  EXPECT_EQ(Loop({path, "--set=5,6"}).status, 0);
  EXPECT_EQ(Loop({path, "--show"}).out, "channels=2 points=5,6,0,0,0,0,0,0,0,0\n");
}

// A 24-bit sampler file: the 16-bit copy keeps its loops, in its table on request.
TEST_F(LoopCliTest, ConvertWritesASixteenBitCopyWithTheSourcesLoops) {
  const std::string source = m_dir.File("take24.wav");
  ASSERT_TRUE(WriteInstrumentWave(source, 2, SF_FORMAT_PCM_24, std::vector<double>(2 * 3000, 0.25),
                                  {{10, 2000}}));
  const std::string copy = m_dir.File("take16.wav");
  const Outcome made = Loop({"--convert", "--keep-loops", source, copy});
  EXPECT_EQ(made.status, 0);
  EXPECT_EQ(made.err, "loop: " + source + ": " + KeptChunksText({"smpl"}) + "\n");
  EXPECT_EQ(Loop({"--show", copy}).out,
            "channels=2 points=10,1999,0,0,0,0,0,0,0,0\nloops 10-1999\n");
  ExpectUsageError({"--convert", source});
  ExpectUsageError({"--convert", "--channels", "2,2", source, copy});
  ExpectUsageError({"--plain-copy", "--channels", "1,2", source, copy});

  // Four channels, the last two kept: channel 3 is silent, channel 4 is not.
  std::vector<double> quad(4 * 100, 0.0);
  for (std::size_t i = 3; i < quad.size(); i += 4) quad[i] = 0.5;
  ASSERT_TRUE(WriteInstrumentWave(source, 4, SF_FORMAT_PCM_16, quad, {}));
  ASSERT_EQ(Loop({"--convert", "--channels=3,4", source, copy}).status, 0);
  const Bytes bytes = ReadBytes(copy);
  EXPECT_EQ(GetLe16(&bytes[kWaveHeaderBytes + 80]), 0u);
  EXPECT_EQ(GetLe16(&bytes[kWaveHeaderBytes + 82]), 16384u);  // 0.5 of full scale
}

// --smpl writes the points a second time as standard loops behind the samples.
TEST_F(LoopCliTest, SetWithSmplAlsoWritesStandardLoops) {
  const std::string path = Save("stereo.wav", Wave(2, {}));
  const Outcome set = Loop({"--set", "100,199,500", "--smpl", path});
  EXPECT_EQ(set.status, 0);
  EXPECT_EQ(set.out, "File Patched and Saved\n");
  EXPECT_EQ(Loop({"--show", path}).out,
            "channels=2 points=100,199,500,0,0,0,0,0,0,0\nloops 100-199; cues 500\n");
  ExpectRefusal({"--set", "300,200", "--smpl", path},
                "Loop point 2 lies before loop point 1, so the two make no standard loop");
}

TEST_F(LoopCliTest, RefusalsPrintTheDialogsTextAndWriteNothing) {
  const Bytes before = Wave(2, {4000});
  const std::string path = Save("stereo.wav", before);
  ExpectRefusal({"--set", "1001", path}, "Loop point 1 is past the end of the samples");
  ExpectRefusal({"--set", "5,0,7", path}, "Loop point 3 follows an empty loop point");
  ExpectRefusal({"--set", "5,-1", path}, "Loop point 2 is out of range");
  EXPECT_EQ(ReadBytes(path), before);

  Bytes eightBit = Wave(1, {});
  PutLe16(&eightBit[kBitsOffset], 8);
  PutLe16(&eightBit[kBlockAlignOffset], 1);
  const std::string eight = Save("8bit.wav", eightBit);
  ExpectRefusal({"--show", eight}, "Not a 16-bit PCM wave file with one or two channels");
  ExpectRefusal({"--set", "5", eight}, "Not a 16-bit PCM wave file with one or two channels");
  ExpectRefusal({"--show", Save("text.wav", Bytes(100, 'x'))},
                "Not a wave file with a 44-byte header");
}

TEST_F(LoopCliTest, AFailedOpenSaysWhy) {
  for (const char* form : {"--show", "--set=5"}) {
    ExpectRefusal({form, m_dir.File("missing.wav")},
                  "Error Opening File: No such file or directory");
    ExpectRefusal({form, m_dir.Path().string()}, "Error Opening File: Is a directory");
  }
  EXPECT_FALSE(std::filesystem::exists(m_dir.File("missing.wav")));

  // Opened without blocking, a FIFO is refused at once rather than waited on; so is a device.
  const std::string fifo = m_dir.File("pipe.wav");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  ExpectRefusal({"--show", fifo}, "Error Opening File: the file is a FIFO");
  ExpectRefusal({"--set", "5", "/dev/zero"}, "Error Opening File: the file is a device");
  // A copy's source that cannot be opened is named with the reason, never its destination.
  const std::string copy = m_dir.File("copy.wav");
  ExpectRefusal({"--plain-copy", fifo, copy}, "Error Opening File: the file is a FIFO", fifo);
  ExpectRefusal({"--plain-copy", "--keep-loops", m_dir.File("missing.wav"), copy},
                "Error Opening File: No such file or directory", m_dir.File("missing.wav"));

  // Unreadable for the user who runs loop (root reads everything, so the child gives it up, and
  // runs a copy of loop where that user reaches it).
  const ScratchDir reachable(ScratchDir::Reach::everyone);
  const std::string path = reachable.File("locked.wav");
  WriteBytes(path, Wave(1, {}));
  ASSERT_EQ(::chmod(path.c_str(), 0), 0);
  const Outcome denied =
      RunProgram(reachable.CopyOf(LOOP_PROGRAM), {"--show", path}, {.prepare = [] {
                   if (::geteuid() == 0 && ::setuid(65534) != 0) ::_exit(99);
                 }});
  EXPECT_EQ(denied.status, 1);
  EXPECT_EQ(denied.err, "loop: " + path + ": Error Opening File: Permission denied\n");
}

// A recorder killed before it went back to its header leaves a data size of 0: the samples
// behind it count up to the end of the file, and loop says so.
TEST_F(LoopCliTest, ADataSizeOfZeroReadsTheSamplesToTheEndAndSaysSo) {
  Bytes killed = Wave(2, {4000});
  PutLe32(&killed[kDataSizeOffset], 0);
  const std::string path = Save("killed.wav", killed);
  const std::string note =
      "loop: " + path +
      ": The header gives no size for the samples: loop reads them up to the end "
      "of the file\n";
  const Outcome set = Loop({"--set", "1000,500", path});
  EXPECT_EQ(set.status, 0);
  EXPECT_EQ(set.err, note);
  const Outcome show = Loop({"--show", path});
  EXPECT_EQ(show.out, "channels=2 points=1000,500,0,0,0,0,0,0,0,0\n");
  EXPECT_EQ(show.err, note);
}

TEST_F(LoopCliTest, ShowReadsAFileThatAnotherProgramHoldsForPatching) {
  const Bytes before = Wave(2, {4000, 400});
  const std::string path = Save("stereo.wav", before);
  CFile holder;  // the dialog in another process, holding the file for Patch
  ASSERT_TRUE(holder.Open(path, kPatchMode));
  const Outcome shown = Loop({"--show", path});
  EXPECT_EQ(shown.status, 0) << shown.err;
  EXPECT_EQ(shown.out, "channels=2 points=1000,100,0,0,0,0,0,0,0,0\n");
  // Setting writes, so it must wait its turn: refused, with the reason, and nothing written.
  ExpectRefusal({"--set", "5", path}, "Error Opening File: another program holds it");
  EXPECT_EQ(ReadBytes(path), before);
  // --show took no lock of its own: the holder can still patch while it reads.
  holder.Close();
  CFile reader;
  ASSERT_TRUE(reader.Open(path, CFile::modeRead | CFile::shareDenyNone));
  EXPECT_EQ(Loop({"--set", "5", path}).status, 0);
}

// sox writes 24-bit, float, A-law and four-channel files with the extensible fmt chunk, and a
// fact chunk: their samples, not their longer header, are what loop cannot handle.
TEST_F(LoopCliTest, FilesOfOtherSampleFormatsGetTheSameTextWhateverTheirHeader) {
  const std::vector<std::pair<const char*, std::vector<std::string>>> formats = {
      {"24bit.wav", {"-b", "24"}},
      {"float.wav", {"-e", "floating-point", "-b", "32"}},
      {"alaw.wav", {"-e", "a-law"}},
      {"quad.wav", {"-c", "4", "-b", "16"}},
  };
  for (const auto& [name, options] : formats) {
    SCOPED_TRACE(name);
    const std::string path = m_dir.File(name);
    std::vector<std::string> args = {"-n"};
    args.insert(args.end(), options.begin(), options.end());
    args.insert(args.end(), {path, "synth", "0.05", "sine", "440"});
    ASSERT_EQ(RunProgram("/usr/bin/sox", args).status, 0) << "sox is needed (scripts/deps.sh)";
    const Bytes before = ReadBytes(path);
    ExpectRefusal({"--show", path}, "Not a 16-bit PCM wave file with one or two channels");
    ExpectRefusal({"--set", "5", path}, "Not a 16-bit PCM wave file with one or two channels");
    ExpectRefusal({"--plain-copy", path, m_dir.File("copy.wav")},
                  "Not a 16-bit PCM wave file with one or two channels", path);
    EXPECT_EQ(ReadBytes(path), before);
  }
  EXPECT_FALSE(std::filesystem::exists(m_dir.File("copy.wav")));
}

TEST_F(LoopCliTest, PlainCopyWritesTheCanonicalFileOrSaysWhyNot) {
  const Bytes canonical = Wave(1, {});
  Bytes listed(canonical.begin(), canonical.begin() + kDataIdOffset);
  const Bytes list = {'L', 'I', 'S', 'T', 4, 0, 0, 0, 'I', 'N', 'F', 'O'};
  listed.insert(listed.end(), list.begin(), list.end());
  listed.insert(listed.end(), canonical.begin() + kDataIdOffset, canonical.end());
  const std::string source = Save("take.wav", listed);
  const std::string copy = m_dir.File("take-plain.wav");
  ExpectRefusal({"--show", source}, "Not a wave file with a 44-byte header");
  const Outcome made = Loop({"--plain-copy", source, copy});
  EXPECT_EQ(made.status, 0);
  EXPECT_EQ(made.err, "loop: " + source + ": " + KeptChunksText({"LIST"}) + "\n");
  EXPECT_EQ(ReadBytes(copy), WithChunksBehind(canonical, list));
  EXPECT_EQ(ReadBytes(source), listed);
  EXPECT_EQ(Loop({"--set", "5", copy}).status, 0);
  ExpectRefusal({"--plain-copy", source, source},
                "The copy cannot replace the file it is made from");
  const std::string text = Save("text.wav", Bytes(100, 'x'));
  ExpectRefusal({"--plain-copy", text, m_dir.File("x.wav")},
                "Not a wave file with a 44-byte header", text);
  ExpectRefusal({"--plain-copy", source, "/dev/null"}, "The copy can only replace a regular file");
}

TEST_F(LoopCliTest, ShowListsTheFilesOwnLoopsAndCuePointsWhereItHasThem) {
  // An editor's chunks behind the samples of a file loop can patch.
  Bytes canonical = Wave(1, {2000});
  RiffBuilder::AppendChunk(canonical, "smpl", SmplBody({{100, 199}, {300, 399}}));
  RiffBuilder::AppendChunk(canonical, "cue ", CueBody({1500, 20}));
  const Outcome both = Loop({"--show", Save("both.wav", canonical)});
  EXPECT_EQ(both.status, 0);
  EXPECT_EQ(both.out,
            "channels=1 points=1000,0,0,0,0,0,0,0,0,0\nloops 100-199, 300-399; cues 1500, 20\n");

  // A sampler's file keeps its chunks before the samples: no table to show, but its loops.
  const std::string sampler = m_dir.File("sampler.wav");
  ASSERT_TRUE(WriteInstrumentWave(sampler, 1, std::vector<short>(3000, 7), {{10, 2000}}));
  const Outcome shown = Loop({"--show", sampler});
  EXPECT_EQ(shown.status, 1);
  EXPECT_EQ(shown.out, "loops 10-1999\n");
  EXPECT_EQ(shown.err, "loop: " + sampler + ": Not a wave file with a 44-byte header\n");
}

TEST_F(LoopCliTest, KeepLoopsStoresTheSourcesOwnPointsInTheCopysTable) {
  const std::string sampler = m_dir.File("sampler.wav");
  ASSERT_TRUE(WriteInstrumentWave(sampler, 2, std::vector<short>(2 * 3000, 7),
                                  {{10, 2000}, {0, 500}, {2500, 3000}}));
  const std::string copy = m_dir.File("sampler-plain.wav");
  const Outcome made = Loop({"--plain-copy", "--keep-loops", sampler, copy});
  EXPECT_EQ(made.status, 0);
  EXPECT_EQ(made.out, "");
  const std::string kept = "loop: " + sampler + ": " + KeptChunksText({"smpl"}) + "\n";
  EXPECT_EQ(made.err,
            kept + "loop: " + sampler + ": Not taken over: loop 2 0-499 (0 means no loop point)\n");
  EXPECT_EQ(Loop({"--show", copy}).out,
            "channels=2 points=10,1999,2500,2999,0,0,0,0,0,0\nloops 10-1999, 0-499, 2500-2999\n");

  // Cue points follow the loops, and those beyond ten are named.
  Bytes cued = RiffBuilder()
                   .Fmt(1, 1, 16)
                   .Chunk("cue ", CueBody({1, 2, 3, 4, 5, 6, 7, 8}))
                   .Chunk("smpl", SmplBody({{100, 199}, {300, 399}}))
                   .Chunk("data", Bytes(kDataBytes, kAudioByte))
                   .Done();
  const std::string source = Save("cued.wav", cued);
  const Outcome more = Loop({source, "--keep-loops", copy, "--plain-copy"});
  EXPECT_EQ(more.status, 0);
  EXPECT_EQ(more.err, "loop: " + source + ": " + KeptChunksText({"cue", "smpl"}) +
                          "\nloop: " + source +
                          ": Not taken over: cue point 7 at 7 (more than ten points), cue point 8 "
                          "at 8 (more than ten points)\n");
  EXPECT_EQ(Loop({"--show", copy}).out,
            "channels=1 points=100,199,300,399,1,2,3,4,5,6\nloops 100-199, 300-399; cues 1, 2, "
            "3, 4, 5, 6, 7, 8\n");

  // Nothing to take over: the plain copy, and a word about it.
  const Bytes plain =
      RiffBuilder().Fmt(1, 1, 16).Chunk("data", Bytes(kDataBytes, kAudioByte)).Done();
  const std::string bare = Save("bare.wav", plain);
  const Outcome none = Loop({"--plain-copy", "--keep-loops", bare, copy});
  EXPECT_EQ(none.status, 0);
  EXPECT_EQ(none.err, "loop: " + bare + ": The file has no loops or cue points to take over\n");
  const std::string without = m_dir.File("without.wav");
  EXPECT_EQ(Loop({"--plain-copy", bare, without}).status, 0);
  EXPECT_EQ(ReadBytes(copy), ReadBytes(without));
  ExpectUsageError({"--keep-loops", "--show", copy});
  ExpectUsageError({"--keep-loops", copy});
}

// A table that could not be printed is no success: a script must not take "nothing" for it.
TEST_F(LoopCliTest, AStdoutThatCannotBeWrittenIsAFailure) {
  const std::string path = Save("mono.wav", Wave(1, {2000}));
  const Outcome full =
      RunProgram(LOOP_PROGRAM, {"--show", path},
                 {.prepare = [] { ::dup2(::open("/dev/full", O_WRONLY), STDOUT_FILENO); }});
  EXPECT_EQ(full.status, 1);
  EXPECT_EQ(full.err, "loop: cannot write to standard output\n");
}

TEST_F(LoopCliTest, HelpAndVersionNeedNoDisplay) {
  const Outcome help = Loop({"--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_EQ(help.out.rfind("Usage: loop [FILE]\n", 0), 0u) << help.out;
  for (const char* option : {"--show FILE", "--set P1[,P2...] FILE", "--plain-copy SOURCE DEST",
                             "--keep-loops", "--search START[,FROM-TO] FILE"}) {
    EXPECT_NE(help.out.find(option), std::string::npos) << option;
  }
  EXPECT_EQ(help.err, "");
  const Outcome version = Loop({"--version"});
  EXPECT_EQ(version.status, 0);
  EXPECT_EQ(version.out, "loop 3.0\n");  // the version its About box shows
}

TEST_F(LoopCliTest, UsageErrorsAreOneLineWithStatusTwo) {
  const std::string path = Save("stereo.wav", Wave(2, {}));
  ExpectUsageError({"--bogus"});
  ExpectUsageError({"--show"});
  ExpectUsageError({"--show", path, path});
  ExpectUsageError({"--set", "5"});
  ExpectUsageError({"--set", "5,x", path});
  ExpectUsageError({"--set", "5,,7", path});
  ExpectUsageError({"--set", "", path});
  ExpectUsageError({"--set", "99999999999", path});
  ExpectUsageError({"--set", "1,2,3,4,5,6,7,8,9,10,11", path});
  ExpectUsageError({"--plain-copy", path});
  ExpectUsageError({"--help", "extra"});
  ExpectUsageError({path, path});
  ExpectUsageError({"--show", "--set", "5", path});
  ExpectUsageError({"--show=" + path});
  ExpectUsageError({"--show", "--smpl", path});
  for (const char* value : {"", "x", "-5", "5,", "5,9", "5,9-", "5,9-7", "5,-9"}) {
    ExpectUsageError({"--search", value, path});
  }
  for (const char* value : {"0", "501", "10,", "10,cubic", "x,linear"}) {
    ExpectUsageError({"--crossfade", value, "--set", "10,20", path, path + "2"});
  }
  ExpectUsageError({"--crossfade", "10", path, path + "2"});
  ExpectUsageError({"--crossfade", "10", "--set", "10", path, path + "2"});
  ExpectUsageError({"--crossfade", "10", "--set", "10,20", path});
  ExpectUsageError({"--scan"});
  ExpectUsageError({"--snap"});
  ExpectUsageError({"--show", "--json", path});
  EXPECT_EQ(ReadBytes(path), Wave(2, {}));
}

// Music with a seamless end planted at 90,000 for a loop from 30,000: found over the default
// region, best first with its seam; a region without it has no smooth end, status 1.
TEST_F(LoopCliTest, SearchPrintsTheBestEndsOrSaysThereIsNoSmoothOne) {
  std::vector<std::int16_t> music = MusicLike(132'300, 5);
  PlantSeamlessJoin(music, 30'000, 90'001, 1'100);
  const std::string path = Save("music.wav", WaveOfSamples(2, music));
  const Outcome found = Loop({"--search", "30000", path});
  EXPECT_EQ(found.status, 0) << found.err;
  EXPECT_EQ(found.out.rfind("90000 0:00:02.040 smooth, similarity 1.00, level ", 0), 0u)
      << found.out;
  EXPECT_EQ(std::count(found.out.begin(), found.out.end(), '\n'), 5);
  EXPECT_NE(found.out.find(" unlike, similarity 0."), std::string::npos) << found.out;
  const Outcome none = Loop({"--search", "30000,40000-80000", path});
  EXPECT_EQ(none.status, 1);
  EXPECT_EQ(none.err, "loop: " + path + ": no smooth end in this region\n");
}

// A loop a quarter period off a sine's whole periods, crossfaded into a copy: the copy joins
// smoothly and holds the points; the source is as it was.
TEST_F(LoopCliTest, CrossfadeWritesACopyThatJoinsSmoothly) {
  const Bytes sine = WaveOfSamples(2, Sine(60'000, 100, 2));
  const std::string source = Save("sine.wav", sine);
  const std::string copy = m_dir.File("faded.wav");
  const Outcome faded = Loop({"--crossfade", "10,power", "--set", "25000,30024", source, copy});
  EXPECT_EQ(faded.status, 0) << faded.err;
  EXPECT_EQ(faded.out.rfind("seam of the copy: smooth, level ", 0), 0u) << faded.out;
  EXPECT_EQ(ReadBytes(source), sine);
  EXPECT_EQ(Loop({"--show", copy}).out, "channels=2 points=25000,30024,0,0,0,0,0,0,0,0\n");
  ExpectRefusal({"--crossfade", "500", "--set", "25000,30024", source, copy},
                "The crossfade is longer than the loop", source);
}

// A folder of sines looped over whole periods, but one a quarter period off: the scan names its
// seam and exits 1; the others alone pass. Snap moves points onto the sine's rising zeros.
TEST_F(LoopCliTest, ScanNamesAClickingSeamAndSnapMovesPointsOntoRisingZeros) {
  Bytes sine = WaveOfSamples(2, Sine(20'000, 100, 2));
  std::vector<std::string> files;
  for (const char* points : {"1000,5999", "1000,6024", "2000,3999,5000,8999"}) {
    if (files.size() == 2) RiffBuilder::AppendChunk(sine, "smpl", SmplBody({{100, 199}}));
    files.push_back(Save("loop" + std::to_string(files.size()) + ".wav", sine));
    ASSERT_EQ(Loop({"--set", points, files.back()}).status, 0);
  }
  std::vector<std::string> args = {"--scan"};
  args.insert(args.end(), files.begin(), files.end());
  const Outcome scan = Loop(args);
  EXPECT_EQ(scan.status, 1);
  EXPECT_EQ(scan.err, "");
  EXPECT_EQ(std::count(scan.out.begin(), scan.out.end(), '\n'), 3);
  EXPECT_NE(
      scan.out.find(files[1] + ": channels=2 points=1000,6024,0,0,0,0,0,0,0,0; seam 1-2 click "),
      std::string::npos)
      << scan.out;
  EXPECT_NE(scan.out.find("; loops 100-199; seam 1-2 smooth, level 0.0 dB; seam 3-4 smooth, level "
                          "0.0 dB\n"),
            std::string::npos)
      << scan.out;
  args.insert(args.begin() + 1, "--json");
  const Outcome json = Loop(args);
  EXPECT_EQ(json.status, 1);
  EXPECT_NE(json.out.find("{\"points\":[1,2],\"verdict\":\"click\""), std::string::npos)
      << json.out;
  EXPECT_EQ(Loop({"--scan", files[0], files[2]}).status, 0);
  const std::string notes = Save("notes.txt", Bytes(100, 'x'));
  const Outcome refused = Loop({"--scan", notes, files[0]});
  EXPECT_EQ(refused.status, 1);
  EXPECT_EQ(refused.err, "loop: " + notes + ": Not a wave file with a 44-byte header\n");
  EXPECT_EQ(refused.out.rfind(files[0] + ": ", 0), 0u);

  ASSERT_EQ(Loop({"--set", "1003,5990,2061", files[0]}).status, 0);
  const Outcome snap = Loop({"--snap", files[0]});
  EXPECT_EQ(snap.status, 0) << snap.err;
  EXPECT_EQ(snap.out, files[0] + ": points=1000,6000,2100,0,0,0,0,0,0,0; File Patched and Saved\n");
}

}  // namespace
