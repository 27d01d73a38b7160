// The three programs started the way a hostile or careless caller starts them: with standard
// streams closed, without a display or with a dead one, without HOME, with a --dir or a
// destination that is no folder, and with outputs that are write-protected. Run as the real
// programs in child processes.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "loop/format/loop_table.h"
#include "tests/child_process.h"
#include "tests/loop_wave.h"
#include "tests/scratch_dir.h"

namespace {

namespace fs = std::filesystem;

constexpr char kNoDisplayLine[] =
    "cannot open a window: no display; see --help for the command line\n";
constexpr std::uint8_t kAudioByte = 0x11;
constexpr std::size_t kDataBytes = 4000;

// Closes the named standard descriptors in the child, just before the program starts.
std::function<void()> Closing(std::vector<int> fds) {
  return [fds] {
    for (const int fd : fds) ::close(fd);
  };
}

const std::vector<std::vector<int>> kClosedSets = {{2}, {1}, {0}, {0, 1, 2}};

class ProgramStartTest : public ::testing::Test {
 protected:
  std::string Save(const std::string& name, const Bytes& bytes) {
    const std::string path = m_dir.File(name);
    WriteBytes(path, bytes);
    return path;
  }
  void CopyBanks() {
    for (const char* bank : {"dtmf36.bin", "dtmf44.bin"}) {
      fs::copy_file(fs::path(TONE_BANK_DIR) / bank, m_dir.Path() / bank,
                    fs::copy_options::overwrite_existing);
    }
  }
  ScratchDir m_dir;
};

// `loop --set 99999999 a.wav 2>&-` once wrote its refusal into a.wav: the file opened read-write
// had become descriptor 2. Every command line that writes a file is run with each standard
// stream closed, and the file's bytes are what the same run with open streams makes.
TEST_F(ProgramStartTest, ClosedStandardStreamsNeverBecomeTheFilesWritten) {
  const Bytes wave = WaveWithRecords(2, {}, kDataBytes, kAudioByte);
  const Bytes patched = WaveWithRecords(2, {20}, kDataBytes, kAudioByte);
  for (const std::vector<int>& closed : kClosedSets) {
    SCOPED_TRACE(testing::PrintToString(closed));
    const std::string path = Save("a.wav", wave);
    EXPECT_EQ(
        RunProgram(LOOP_PROGRAM, {"--set", "99999999", path}, {.prepare = Closing(closed)}).status,
        1);
    EXPECT_EQ(ReadBytes(path), wave);
    EXPECT_EQ(RunProgram(LOOP_PROGRAM, {"--set", "5", path}, {.prepare = Closing(closed)}).status,
              0);  // "File Patched and Saved" goes to /dev/null
    EXPECT_EQ(ReadBytes(path), patched);
    const std::string copy = m_dir.File("copy.wav");
    EXPECT_EQ(
        RunProgram(LOOP_PROGRAM, {"--plain-copy", path, copy}, {.prepare = Closing(closed)}).status,
        0);
    EXPECT_EQ(ReadBytes(copy), patched);
    // A short file: once the refusal landed at byte 0.
    const Bytes shortFile = {'R', 'I', 'F', 'F'};
    const std::string tiny = Save("tiny.wav", shortFile);
    RunProgram(LOOP_PROGRAM, {"--set", "5", tiny}, {.prepare = Closing(closed)});
    EXPECT_EQ(ReadBytes(tiny), shortFile);
  }

  CopyBanks();
  ASSERT_EQ(RunProgram(VRELLOK_PATH, {"--length", "100000"}, {.folder = m_dir.Path()}).status, 0);
  const Bytes timecode = ReadBytes(m_dir.File("TC.wav"));
  ASSERT_EQ(
      RunProgram(VERIFY_PROGRAM, {"--csv", m_dir.File("frames.csv"), m_dir.File("TC.wav")}).status,
      0);
  const Bytes frames = ReadBytes(m_dir.File("frames.csv"));
  for (const std::vector<int>& closed : kClosedSets) {
    SCOPED_TRACE(testing::PrintToString(closed));
    fs::remove(m_dir.File("TC.wav"));
    fs::remove(m_dir.File("frames.csv"));
    RunProgram(VRELLOK_PATH, {"--length", "100000"},
               {.folder = m_dir.Path(), .prepare = Closing(closed)});
    EXPECT_EQ(ReadBytes(m_dir.File("TC.wav")), timecode);
    RunProgram(VERIFY_PROGRAM, {"--csv", m_dir.File("frames.csv"), m_dir.File("TC.wav")},
               {.prepare = Closing(closed)});
    EXPECT_EQ(ReadBytes(m_dir.File("frames.csv")), frames);
  }
}

// Qt would abort with a core dump; both GUIs say why in one line instead. The tests themselves
// run on the offscreen platform, which needs no display and must still be taken.
TEST_F(ProgramStartTest, WithoutAUsableDisplayTheGuisSayOneLineAndExitTwo) {
  const std::vector<std::pair<const char*, std::vector<std::string>>> environments = {
      {"none", {}},
      {"dead X display", {"DISPLAY=:97"}},
      {"dead X display asked for", {"DISPLAY=:97", "QT_QPA_PLATFORM=xcb"}},
      {"dead Wayland", {"WAYLAND_DISPLAY=wayland-97", "XDG_RUNTIME_DIR=/nonexistent"}},
  };
  for (const char* program : {VRELLOK_PATH, LOOP_PROGRAM}) {
    for (const auto& [what, env] : environments) {
      SCOPED_TRACE(std::string(program) + ", " + what);
      const ProgramRun run = RunProgram(program, {}, {.env = env, .folder = m_dir.Path()});
      EXPECT_EQ(run.status, 2);
      EXPECT_EQ(run.err, kNoDisplayLine);
      EXPECT_EQ(run.out, "");
    }
  }
  EXPECT_EQ(fs::directory_iterator(m_dir.Path()), fs::directory_iterator());  // no core file
}

// A launcher without HOME would make /vrellok and run there.
TEST_F(ProgramStartTest, TheLauncherRefusesToRunWithoutHome) {
  const ProgramRun run = RunProgram(
      "/bin/sh", {LAUNCHER_PATH}, {.folder = m_dir.Path(), .prepare = [] { ::unsetenv("HOME"); }});
  EXPECT_NE(run.status, 0);
  EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
  EXPECT_NE(run.err.find("HOME"), std::string::npos) << run.err;
  EXPECT_FALSE(fs::exists("/vrellok") &&
               fs::last_write_time("/vrellok") >
                   fs::file_time_type::clock::now() - std::chrono::minutes(1));
}

TEST_F(ProgramStartTest, AFolderThatIsNoneIsNamedAsSuch) {
  CopyBanks();
  const std::string file = m_dir.File("dtmf44.bin");
  const ProgramRun notFolder = RunProgram(VRELLOK_PATH, {"--dir", file});
  EXPECT_EQ(notFolder.status, 2);
  EXPECT_EQ(notFolder.err, "vrellok: " + file + ": Not a directory (see vrellok --help)\n");
  const ProgramRun missing = RunProgram(VRELLOK_PATH, {"--dir", m_dir.File("gone")});
  EXPECT_EQ(missing.status, 2);
  EXPECT_EQ(missing.err, "vrellok: " + m_dir.File("gone") +
                             ": No such file or directory (see vrellok --help)\n");

  const std::string source = Save("a.wav", WaveWithRecords(2, {}, kDataBytes, kAudioByte));
  const ProgramRun copy = RunProgram(LOOP_PROGRAM, {"--plain-copy", source, m_dir.File("sub/")});
  EXPECT_EQ(copy.status, 1);
  EXPECT_EQ(copy.err, "loop: " + m_dir.File("sub/") + ": No such file or directory\n");
  EXPECT_FALSE(fs::exists(m_dir.File("sub")));
}

// The file is in place, so the message that says so must not be lost with stdout.
TEST_F(ProgramStartTest, VrellokNamesTheCreatedFileWhenStdoutFails) {
  CopyBanks();
  const ProgramRun run = RunProgram(VRELLOK_PATH, {"--length", "100000"},
                                    {.folder = m_dir.Path(), .prepare = [] {
                                       const int full = ::open("/dev/full", O_WRONLY);
                                       ::dup2(full, STDOUT_FILENO);
                                     }});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.err, "TC.wav Created\nvrellok: cannot write to standard output\n");
  EXPECT_TRUE(fs::is_regular_file(m_dir.File("TC.wav")));
}

// No write permission bit at all: refused like a read-only file, also for root, and kept.
TEST_F(ProgramStartTest, WriteProtectedOutputsAreRefusedAndKept) {
  CopyBanks();
  const Bytes old = {'o', 'l', 'd'};
  const std::string timecode = Save("TC.wav", old);
  ASSERT_EQ(::chmod(timecode.c_str(), 0444), 0);
  const ProgramRun vrellok =
      RunProgram(VRELLOK_PATH, {"--length", "100000"}, {.folder = m_dir.Path()});
  EXPECT_EQ(vrellok.status, 1);
  EXPECT_EQ(vrellok.err, "ERROR-> cannot open output file\n");
  EXPECT_EQ(ReadBytes(timecode), old);

  const Bytes wave = WaveWithRecords(2, {}, kDataBytes, kAudioByte);
  const std::string patchable = Save("p.wav", wave);
  ASSERT_EQ(::chmod(patchable.c_str(), 0444), 0);
  const ProgramRun set = RunProgram(LOOP_PROGRAM, {"--set", "5", patchable});
  EXPECT_EQ(set.status, 1);
  EXPECT_EQ(set.err, "loop: " + patchable + ": Error Opening File: Permission denied\n");
  const std::string source = Save("source.wav", wave);
  const ProgramRun copy = RunProgram(LOOP_PROGRAM, {"--plain-copy", source, timecode});
  EXPECT_EQ(copy.status, 1);
  EXPECT_EQ(copy.err, "loop: " + timecode + ": Error Opening File\n");
  EXPECT_EQ(ReadBytes(patchable), wave);
  EXPECT_EQ(ReadBytes(timecode), old);

  fs::remove(timecode);
  ASSERT_EQ(RunProgram(VRELLOK_PATH, {"--length", "100000"}, {.folder = m_dir.Path()}).status, 0);
  const std::string csv = Save("frames.csv", old);
  ASSERT_EQ(::chmod(csv.c_str(), 0444), 0);
  const ProgramRun verify = RunProgram(VERIFY_PROGRAM, {"--csv", csv, timecode});
  EXPECT_EQ(verify.status, 2);
  EXPECT_EQ(std::count(verify.err.begin(), verify.err.end(), '\n'), 1) << verify.err;
  EXPECT_EQ(ReadBytes(csv), old);
}

}  // namespace
