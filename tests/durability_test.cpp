// What the programs promise about the disk, seen from outside their code: each real program runs
// under strace, and the test reads the order of its system calls. A file that replaces another
// must be flushed before it takes the name, and the folder flushed after, or a power loss right
// after the success message can leave an empty or missing file. Also here: Ctrl+C while the last
// flush is under way, a writev that the kernel cuts short, and the plain copy's header as bytes.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <regex>
#include <sstream>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "child_process.h"
#include "scratch_dir.h"
#include "timecode/writev_sink.h"

namespace {

namespace fs = std::filesystem;

// One traced call: its name and the text between its parentheses, with file descriptors decoded
// to the paths they stand for (strace -y).
struct Call {
  std::string name;
  std::string args;
};

std::vector<Call> ReadTrace(const std::string& path) {
  std::vector<Call> calls;
  std::ifstream in(path);
  static const std::regex kLine(R"(^(?:\[pid\s+\d+\]\s+)?(?:\d+\s+)?([a-z0-9_]+)\((.*)\)\s+=\s+0)");
  std::string line;
  std::smatch match;
  while (std::getline(in, line)) {
    if (std::regex_search(line, match, kLine)) calls.push_back({match[1], match[2]});
  }
  return calls;
}

// Runs program with args under strace, recording the calls that make data durable and give a
// file its name. The program's own exit status is returned.
ProgramRun Traced(const fs::path& trace, const std::string& program,
                  const std::vector<std::string>& args, const std::string& folder,
                  const std::string& inject = "") {
  std::vector<std::string> straceArgs{"-f",
                                      "-y",
                                      "-qq",
                                      "-o",
                                      trace.string(),
                                      "-e",
                                      "trace=fsync,fdatasync,rename,renameat,renameat2",
                                      "-e",
                                      "signal=none"};
  if (!inject.empty()) straceArgs.insert(straceArgs.end(), {"-e", inject});
  straceArgs.push_back(program);
  straceArgs.insert(straceArgs.end(), args.begin(), args.end());
  return RunProgram("/usr/bin/strace", straceArgs, {.folder = folder});
}

// Text built by appending: GCC 12 warns, wrongly, of an overlapping copy in "<" + path + ">".
std::string Joined(std::initializer_list<std::string_view> parts) {
  std::string text;
  for (std::string_view part : parts) text.append(part);
  return text;
}

// Where in the trace the new file was flushed, renamed to finalName, and the folder flushed.
struct Order {
  long dataFsync = -1;
  int dataFsyncs = 0;  // a second one only makes the user wait twice for the same disk
  long rename = -1;
  long folderFsync = -1;
};

Order FindOrder(const std::vector<Call>& calls, const fs::path& folder,
                const std::string& finalName) {
  Order order;
  const std::string folderFd = Joined({"<", folder.string(), ">"});
  const std::string inFolder = Joined({"<", folder.string(), "/"});
  const std::string quotedName = Joined({"\"", finalName, "\""});
  for (long i = 0; i < static_cast<long>(calls.size()); ++i) {
    const Call& call = calls[i];
    const bool sync = call.name == "fsync" || call.name == "fdatasync";
    if (sync && call.args.find(folderFd) != std::string::npos) {
      if (order.rename >= 0 && order.folderFsync < 0) order.folderFsync = i;
    } else if (sync && call.args.find(inFolder) != std::string::npos) {
      if (order.rename < 0) {
        order.dataFsync = i;
        ++order.dataFsyncs;
      }
    } else if (call.name.rfind("rename", 0) == 0 &&
               call.args.find(quotedName) != std::string::npos) {
      order.rename = i;
    }
  }
  return order;
}

void ExpectFlushRenameFlush(const fs::path& trace, const fs::path& folder,
                            const std::string& finalName) {
  const Order order = FindOrder(ReadTrace(trace.string()), folder, finalName);
  EXPECT_GE(order.dataFsync, 0) << finalName << ": the new file is never flushed";
  EXPECT_EQ(order.dataFsyncs, 1) << finalName << ": the new file is flushed more than once";
  EXPECT_GT(order.rename, order.dataFsync) << finalName << ": renamed before it was flushed";
  EXPECT_GT(order.folderFsync, order.rename) << finalName << ": the folder is not flushed after "
                                             << "the rename";
}

class Durability : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* bank : {"dtmf36.bin", "dtmf44.bin"}) {
      fs::copy_file(fs::path(TONE_BANK_DIR) / bank, m_dir.Path() / bank);
    }
  }
  fs::path Trace() const { return m_trace.Path() / "trace"; }
  // A TC.wav of about twenty frames, made by the real program.
  void MakeTimecode(const std::string& length = "500000") {
    const ProgramRun run = RunProgram(VRELLOK_PATH, {"--length", length}, {.folder = Folder()});
    ASSERT_EQ(run.status, 0) << run.err;
  }
  std::string Folder() const { return m_dir.Path().string(); }

  ScratchDir m_dir;
  ScratchDir m_trace;  // apart, so the trace is no file in the folder under test
};

TEST_F(Durability, EveryReplacedFileIsFlushedThenRenamedThenItsFolderFlushed) {
  // TC.wav, over an older one.
  MakeTimecode("100000");
  ProgramRun run = Traced(Trace(), VRELLOK_PATH, {"--length", "500000"}, Folder());
  ASSERT_EQ(run.status, 0) << run.err;
  ExpectFlushRenameFlush(Trace(), m_dir.Path(), "TC.wav");

  // A plain copy of it.
  run = Traced(Trace(), LOOP_PROGRAM, {"--plain-copy", "TC.wav", "copy.wav"}, Folder());
  ASSERT_EQ(run.status, 0) << run.err;
  ExpectFlushRenameFlush(Trace(), m_dir.Path(), "copy.wav");

  // The verifier's outputs, read back from the timecode itself.
  run = Traced(Trace(), VERIFY_PROGRAM, {"--csv", "frames.csv", "TC.wav"}, Folder());
  ASSERT_LE(run.status, 1) << run.err;
  ExpectFlushRenameFlush(Trace(), m_dir.Path(), "frames.csv");
}

TEST_F(Durability, APatchIsFlushedBeforeItIsReportedDone) {
  MakeTimecode();
  const ProgramRun run = Traced(Trace(), LOOP_PROGRAM, {"--set", "100,200", "TC.wav"}, Folder());
  ASSERT_EQ(run.status, 0) << run.err;
  const std::string patchedFd = Joined({"<", m_dir.File("TC.wav"), ">"});
  bool flushed = false;
  for (const Call& call : ReadTrace(Trace().string())) {
    flushed |= (call.name == "fsync" || call.name == "fdatasync") &&
               call.args.find(patchedFd) != std::string::npos;
  }
  EXPECT_TRUE(flushed) << "loop --set never flushes the patched file";
}

// The process strace started for the program: the tracer's child that runs `program` (strace
// forks short-lived children of its own at start-up, to test what the kernel offers).
pid_t TraceeOf(pid_t tracer, const fs::path& program) {
  const std::string children =
      "/proc/" + std::to_string(tracer) + "/task/" + std::to_string(tracer) + "/children";
  for (int tries = 0; tries < 500; ++tries) {
    std::ifstream list(children);
    pid_t child = 0;
    while (list >> child) {
      std::error_code error;
      const fs::path exe = fs::read_symlink("/proc/" + std::to_string(child) + "/exe", error);
      if (!error && fs::equivalent(exe, program, error)) return child;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return -1;
}

TEST_F(Durability, CtrlCDuringTheLastFlushExits130AndLeavesTheFolderAsItWas) {
  MakeTimecode("100000");
  const Bytes before = ReadBytes(m_dir.File("TC.wav"));
  // The first fsync, the one that puts the new file's data on the disk, is held for seconds, so
  // the interrupt is sure to arrive while it is under way; everything before it takes a fraction
  // of a second.
  const pid_t tracer = StartChild([&] {
    if (::chdir(Folder().c_str()) != 0) return kChildCannotStart;
    ::execl("/usr/bin/strace", "strace", "-f", "-qq", "-o", "/dev/null", "-e", "trace=fsync", "-e",
            "signal=none", "-e", "inject=fsync:delay_enter=4000000:when=1", VRELLOK_PATH,
            "--length", "400000", static_cast<char*>(nullptr));
    return kChildCannotStart;
  });
  const pid_t vrellok = TraceeOf(tracer, VRELLOK_PATH);
  ASSERT_GT(vrellok, 0);
  std::this_thread::sleep_for(std::chrono::milliseconds(1500));
  ASSERT_EQ(::kill(vrellok, SIGINT), 0) << vrellok << " " << std::strerror(errno);
  const int status = WaitForChild(tracer);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 130);
  EXPECT_EQ(ReadBytes(m_dir.File("TC.wav")), before);
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(m_dir.Path())) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"TC.wav", "dtmf36.bin", "dtmf44.bin"}));
}

TEST_F(Durability, ThePlainCopysHeaderIsTheCanonicalOneByteForByte) {
  // A stereo 48000 Hz source with a LIST chunk before its data, as many recorders write it.
  const Bytes source = {'R',  'I',  'F',  'F', 46, 0, 0,  0, 'W', 'A', 'V', 'E',  //
                        'f',  'm',  't',  ' ', 16, 0, 0,  0, 1,   0,   2,   0,
                        0x80, 0xbb, 0,    0,                            // PCM, 2 ch, 48000
                        0x00, 0xee, 0x02, 0,   4,  0, 16, 0,            // 192000 B/s, 4, 16
                        'L',  'I',  'S',  'T', 2,  0, 0,  0, 'x', 'y',  //
                        'd',  'a',  't',  'a', 8,  0, 0,  0, 1,   2,   3,   4,
                        5,    6,    7,    8};
  WriteBytes(m_dir.File("source.wav"), source);
  const ProgramRun run =
      RunProgram(LOOP_PROGRAM, {"--plain-copy", "source.wav", "copy.wav"}, {.folder = Folder()});
  ASSERT_EQ(run.status, 0) << run.err;
  // The LIST chunk follows the samples, the RIFF size counting it.
  const Bytes expected = {
      'R',  'I',  'F',  'F', 54, 0, 0,  0, 'W', 'A', 'V', 'E',  // 36 + 8 samples + 10 LIST
      'f',  'm',  't',  ' ', 16, 0, 0,  0, 1,   0,   2,   0,   0x80, 0xbb, 0, 0,  //
      0x00, 0xee, 0x02, 0,   4,  0, 16, 0,                                        //
      'd',  'a',  't',  'a', 8,  0, 0,  0, 1,   2,   3,   4,   5,    6,    7, 8,  //
      'L',  'I',  'S',  'T', 2,  0, 0,  0, 'x', 'y'};
  EXPECT_EQ(ReadBytes(m_dir.File("copy.wav")), expected);
}

void IgnoreSignal(int) {}

// A writev into a pipe that a signal interrupts returns the bytes taken so far, often in the
// middle of a piece; the sink must go on from exactly there.
TEST(WritevSinkTest, WritesCutShortInsidePiecesStillDeliverEveryByteInOrder) {
  Bytes expected;
  std::vector<Bytes> pieces;
  for (int i = 0; i < 600; ++i) {
    Bytes piece(1 + (i * 7919) % 9000);
    for (std::size_t k = 0; k < piece.size(); ++k) piece[k] = static_cast<std::uint8_t>(i + k * 3);
    expected.insert(expected.end(), piece.begin(), piece.end());
    pieces.push_back(std::move(piece));
  }
  int ends[2];
  ASSERT_EQ(::pipe(ends), 0);
  ::fcntl(ends[1], F_SETPIPE_SZ, 4096);
  const pid_t writer = StartChild([&] {
    ::close(ends[0]);
    struct sigaction action {};
    action.sa_handler = IgnoreSignal;  // no SA_RESTART: a blocked writev returns what it wrote
    ::sigaction(SIGUSR1, &action, nullptr);
    WritevSink sink;
    sink.Begin(ends[1]);
    for (const Bytes& piece : pieces) sink.Put(piece.data(), piece.size());
    return sink.Flush() && sink.Written() == expected.size() ? 0 : 1;
  });
  ::close(ends[1]);
  Bytes received;
  std::array<std::uint8_t, 1500> buffer;
  while (true) {
    const ssize_t got = ::read(ends[0], buffer.data(), buffer.size());
    if (got <= 0) break;
    received.insert(received.end(), buffer.begin(), buffer.begin() + got);
    ::kill(writer, SIGUSR1);
    std::this_thread::sleep_for(std::chrono::microseconds(50));
  }
  ::close(ends[0]);
  const int status = WaitForChild(writer);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  ASSERT_EQ(received.size(), expected.size());
  EXPECT_TRUE(received == expected);
}

}  // namespace
