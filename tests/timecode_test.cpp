#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "child_process.h"
#include "file_faults.h"
#include "scratch_dir.h"
#include "timecode/timecode_generator.h"
#include "verify/signal/dtmf_detector.h"
#include "wave/wave_header.h"

namespace fs = std::filesystem;

namespace {

constexpr int kSlot = static_cast<int>(kSlotBytes);
constexpr int kLargest = kMaxSampleLength;

// Keeps the encoder's pieces as they came (pointers into the bank or the zero block).
class RecordingSink : public ByteSink {
 public:
  struct Piece {
    const std::uint8_t* data;
    std::size_t bytes;
  };
  RecordingSink(const ToneBank& bank, const ZeroBlock& zeros) : m_bank(bank), m_zeros(zeros) {}
  void Put(const std::uint8_t* bytes, std::size_t count) override {
    pieces.push_back({bytes, count});
  }

  // A burst as its symbol, silence as 0, anything else as -1.
  int SymbolOf(const Piece& piece) const {
    if (piece.data == m_zeros.data()) return 0;
    const auto offset = piece.data - m_bank.Burst(1);
    const bool burst = offset >= 0 && offset % kSlot == 0 && offset / kSlot < kSymbolCount &&
                       piece.bytes == kSlotBytes;
    return burst ? static_cast<int>(offset / kSlot) + 1 : -1;
  }
  // Each piece as {symbol or 0, bytes}.
  std::vector<std::pair<int, int>> Layout(std::size_t from, std::size_t to) const {
    std::vector<std::pair<int, int>> out;
    for (std::size_t i = from; i < to && i < pieces.size(); ++i) {
      out.emplace_back(SymbolOf(pieces[i]), static_cast<int>(pieces[i].bytes));
    }
    return out;
  }
  std::vector<int> Bursts() const {
    std::vector<int> out;
    for (const Piece& piece : pieces) {
      if (const int symbol = SymbolOf(piece); symbol != 0) out.push_back(symbol);
    }
    return out;
  }
  std::size_t TotalBytes() const {
    std::size_t total = 0;
    for (const Piece& piece : pieces) total += piece.bytes;
    return total;
  }

  std::vector<Piece> pieces;

 private:
  const ToneBank& m_bank;
  const ZeroBlock& m_zeros;
};

struct EncoderRun {
  EncoderRun(int method, int dtmfId, int sampleLength, const char* bankPath = nullptr) {
    if (bankPath != nullptr) bank.Load(AT_FDCWD, bankPath);
    encoder.SetUp(bank, zeros, sink, method, dtmfId, sampleLength);
    encoder.WriteAll();
  }
  // The six bursts of frame n: every frame spells exactly six symbols.
  std::vector<int> FrameSymbols(int n) const {
    const std::vector<int> all = sink.Bursts();
    return {all.begin() + 6 * (n - 1), all.begin() + 6 * n};
  }

  ToneBank bank;
  ZeroBlock zeros{};
  RecordingSink sink{bank, zeros};
  FrameEncoder encoder;
};

using Layout = std::vector<std::pair<int, int>>;

TEST(FrameEncoder, FirstFrameUnderEachMethod) {
  EncoderRun method1(kMethod1, 1, 1000000);
  // Start *, A for the thousands, 0 0 1, check 9, two extra gaps, then the frame's fill.
  const Layout expected1 = {{11, kSlot}, {0, kSlot}, {13, kSlot}, {0, kSlot},
                            {10, kSlot}, {0, kSlot}, {10, kSlot}, {0, kSlot},
                            {1, kSlot},  {0, kSlot}, {9, kSlot},  {0, kSlot},
                            {0, kSlot},  {0, kSlot}, {0, 5952},   {12, kSlot}};
  EXPECT_EQ(method1.sink.Layout(0, 16), expected1);

  EncoderRun method2(kMethod2, 1, 1000000);
  const Layout expected2 = {{13, kSlot}, {0, kSlot},  {10, kSlot}, {0, kSlot}, {10, kSlot},
                            {0, kSlot},  {10, kSlot}, {0, kSlot},  {1, kSlot}, {0, kSlot},
                            {9, kSlot},  {0, kSlot},  {0, 5952},   {12, kSlot}};
  EXPECT_EQ(method2.sink.Layout(0, 14), expected2);
}

TEST(FrameEncoder, MiddleAndLastFrames) {
  for (const int method : {kMethod1, kMethod2}) {
    SCOPED_TRACE(method);
    EncoderRun run(method, 3, 1000000);
    ASSERT_EQ(run.encoder.FrameCount(), 40);
    EXPECT_EQ(run.FrameSymbols(20), (std::vector<int>{12, 10, 10, 2, 10, 10}));
    EXPECT_EQ(run.sink.TotalBytes(), 2000000u);

    // After the last burst only the closing tail and the remainder (16960 bytes), twice.
    const auto& pieces = run.sink.pieces;
    const Layout tail = run.sink.Layout(pieces.size() - 5, pieces.size());
    if (method == kMethod2) {
      EXPECT_EQ(run.FrameSymbols(40), (std::vector<int>{12, 10, 10, 4, 10, 11}));
      EXPECT_EQ(tail, (Layout{{11, kSlot}, {0, kSlot}, {0, 5952}, {0, 16960}, {0, 16960}}));
    } else {
      EXPECT_EQ(run.FrameSymbols(40), (std::vector<int>{12, 10, 10, 4, 10, 8}));
      EXPECT_EQ(tail, (Layout{{0, kSlot}, {8, kSlot}, {0, 2352}, {0, 16960}, {0, 16960}}));
    }
  }
}

TEST(FrameEncoder, CheckSymbols) {
  struct Case {
    int frame, dtmfId, symbol;
  };
  // Digit sums of 19 and 1234 are multiples of ten: their check is the 0 key, symbol 10.
  for (const Case c : {Case{1, 1, 9}, Case{9, 1, 1}, Case{19, 1, 10}, Case{1234, 1, 10},
                       Case{9999, 1, 4}, Case{1, 10, 8}, Case{9, 10, 10}, Case{9999, 10, 3}}) {
    EXPECT_EQ(CheckSymbol(c.frame, c.dtmfId), c.symbol)
        << "frame " << c.frame << " id " << c.dtmfId;
  }
  EncoderRun run(kMethod2, 1, kLargest);
  EXPECT_EQ(run.FrameSymbols(1234), (std::vector<int>{12, 1, 2, 3, 4, 10}));
  EXPECT_EQ(run.FrameSymbols(9999), (std::vector<int>{12, 9, 9, 9, 9, 11}));
  EXPECT_EQ(run.sink.TotalBytes(), 2u * kLargest);
  EXPECT_EQ(run.sink.Layout(run.sink.pieces.size() - 2, run.sink.pieces.size()),
            (Layout{{0, kSlot}, {0, 5952}}));  // R = 0 writes no remainder at all
}

// A single frame is first and last at once; the byte total still holds.
TEST(FrameEncoder, SingleFrame) {
  constexpr int kLength = kFrameSamples + 100;
  EncoderRun method1(kMethod1, 1, kLength);
  EXPECT_EQ(method1.sink.Bursts(), (std::vector<int>{11, 13, 10, 10, 1, 9}));
  EXPECT_EQ(method1.sink.TotalBytes(), 2u * kLength);
  EncoderRun method2(kMethod2, 1, kLength);
  EXPECT_EQ(method2.sink.Bursts(), (std::vector<int>{13, 10, 10, 10, 1, 11}));
  EXPECT_EQ(method2.sink.TotalBytes(), 2u * kLength);
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

// Each test runs in its own scratch folder holding both banks, where a child that gives up root
// still reaches it.
class Generator : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (kReachableTemp / "timecode_test.XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    m_scratch = pattern;
    for (const char* bank : {"dtmf36.bin", "dtmf44.bin"}) {
      fs::copy_file(fs::path(TONE_BANK_DIR) / bank, m_scratch / bank);
    }
    m_home = fs::current_path();
    fs::current_path(m_scratch);
  }
  void TearDown() override {
    fs::current_path(m_home);
    fs::permissions(m_scratch, fs::perms::owner_all);
    fs::remove_all(m_scratch);
  }

  // Streams TC.wav against the encoder's pieces for the same settings, byte for byte.
  static void ExpectDataMatchesEncoder(const TimecodeSettings& s) {
    EncoderRun run(s.method, s.dtmfId, s.sampleLength, FactsOf(s.type).bankFile);
    std::ifstream in("TC.wav", std::ios::binary);
    in.seekg(kWaveHeaderBytes);
    std::vector<char> buffer(kZeroBlockBytes);
    std::size_t mismatches = 0;
    for (const auto& piece : run.sink.pieces) {
      in.read(buffer.data(), static_cast<std::streamsize>(piece.bytes));
      mismatches += std::memcmp(buffer.data(), piece.data, piece.bytes) != 0;
    }
    EXPECT_TRUE(in.good());
    EXPECT_EQ(in.peek(), EOF) << "bytes after the data";
    EXPECT_EQ(mismatches, 0u);
  }

  fs::path m_scratch;
  fs::path m_home;
};

constexpr unsigned char kHeader36[] = {
    'R', 'I', 'F', 'F', 0x64, 0x0D, 0x03, 0x00, 'W', 'A',  'V',  'E',  'f',  'm',  't',
    ' ', 16,  0,   0,   0,    1,    0,    1,    0,   0xAF, 0x8C, 0x00, 0x00, 0x5E, 0x19,
    1,   0,   2,   0,   16,   0,    'd',  'a',  't', 'a',  0x40, 0x0D, 0x03, 0x00};
constexpr unsigned char kHeader44[] = {
    'R', 'I', 'F', 'F', 0xA4, 0x84, 0x1E, 0x00, 'W', 'A',  'V',  'E',  'f',  'm',  't',
    ' ', 16,  0,   0,   0,    1,    0,    1,    0,   0x44, 0xAC, 0x00, 0x00, 0x88, 0x58,
    1,   0,   2,   0,   16,   0,    'd',  'a',  't', 'a',  0x80, 0x84, 0x1E, 0x00};

TEST_F(Generator, HeaderBytesAtBothRates) {
  TimecodeGenerator generator;
  ASSERT_EQ(generator.Generate({TimecodeType::dtmfS, 2, kMinSampleLength, 1}),
            GenerateOutcome::created);
  EXPECT_EQ(ReadFile("TC.wav").substr(0, 44),
            std::string(std::begin(kHeader36), std::end(kHeader36)));
  ASSERT_EQ(generator.Generate({TimecodeType::dtmfF, 2, 1000000, 1}), GenerateOutcome::created);
  EXPECT_EQ(ReadFile("TC.wav").substr(0, 44),
            std::string(std::begin(kHeader44), std::end(kHeader44)));
}

TEST_F(Generator, FileSizesAndDataUnderBothMethods) {
  TimecodeGenerator generator;
  for (const int length : {kMinSampleLength, 1000000, kLargest}) {
    for (const int method : {kMethod1, kMethod2}) {
      SCOPED_TRACE(testing::Message() << "length " << length << " method " << method);
      const TimecodeSettings settings{TimecodeType::dtmfF, method, length, 10};
      ASSERT_EQ(generator.Generate(settings), GenerateOutcome::created);
      EXPECT_EQ(fs::file_size("TC.wav"), 44u + 2u * length);
      ExpectDataMatchesEncoder(settings);
    }
  }
}

TEST_F(Generator, DecoderHearsEverySymbol) {
  TimecodeGenerator generator;
  for (const TimecodeTypeFacts& facts : kTimecodeTypes) {
    for (const int method : {kMethod1, kMethod2}) {
      SCOPED_TRACE(testing::Message() << facts.reportName << " method " << method);
      ASSERT_EQ(generator.Generate({facts.type, method, 1000000, 7}), GenerateOutcome::created);
      EncoderRun expected(method, 7, 1000000);
      EXPECT_EQ(dtmf::DecodeKeys("TC.wav"), expected.sink.Bursts());
    }
  }
}

TEST_F(Generator, BankProblemsComeBeforeRangeChecksAndLeaveOutputAlone) {
  WriteFile("TC.wav", "old");
  TimecodeGenerator generator;
  fs::resize_file("dtmf36.bin", kToneBankBytes - 1);
  EXPECT_EQ(generator.Generate({TimecodeType::dtmfS, 1, 1, 0}), GenerateOutcome::bankTooShort);
  fs::remove("dtmf36.bin");
  EXPECT_EQ(generator.Generate({TimecodeType::dtmfS, 1, 1, 0}), GenerateOutcome::bankNotFound);

  // Longer banks are fine: only the first 57,600 bytes count.
  fs::resize_file("dtmf44.bin", kToneBankBytes + 1);
  EXPECT_EQ(generator.Generate({TimecodeType::dtmfF, 1, 1, 0}), GenerateOutcome::lengthOutOfRange);
  fs::resize_file("dtmf44.bin", 0);
  EXPECT_EQ(generator.Generate({TimecodeType::dtmfF, 1, 1, 0}), GenerateOutcome::bankTooShort);
  fs::remove("dtmf44.bin");
  EXPECT_EQ(generator.Generate({TimecodeType::dtmfF, 1, 1, 0}), GenerateOutcome::bankNotFound);
  fs::create_directory("dtmf44.bin");
  EXPECT_EQ(generator.Generate({TimecodeType::dtmfF, 1, 1, 0}), GenerateOutcome::bankNotFound);
  EXPECT_EQ(ReadFile("TC.wav"), "old");
}

// The banks' bytes are every TC.wav's bytes: a change to how the bursts are synthesised (their
// level, fade or rounding) must be seen here, not in a playback system's comparison.
TEST(ToneBankBytes, TheBuiltBanksAreTheOnesEveryTcWavWasMadeOf) {
  for (const auto& [bank, fnv] : {std::pair{"dtmf36.bin", 0x881579d5d9ff46a1ULL},
                                  std::pair{"dtmf44.bin", 0x10760a59b84fb4fdULL}}) {
    std::uint64_t hash = 0xcbf29ce484222325ULL;  // 64-bit FNV-1a
    for (const char byte : ReadFile(std::string(TONE_BANK_DIR) + "/" + bank)) {
      hash = (hash ^ static_cast<unsigned char>(byte)) * 0x100000001b3ULL;
    }
    EXPECT_EQ(hash, fnv) << bank;
  }
}

TEST(GenerateText, EachOutcomeHasItsTextAndTheBankTextsNameTheType) {
  struct Case {
    GenerateOutcome outcome;
    const char* slow;  // DTMF-S
    const char* fast;  // DTMF-F
  };
  for (const Case& c : {
           Case{GenerateOutcome::created, "TC.wav Created", "TC.wav Created"},
           Case{GenerateOutcome::cancelled, "", ""},
           Case{GenerateOutcome::bankNotFound, "ERROR-> DTMF36.bin not found",
                "ERROR-> DTMF44.bin not found"},
           Case{GenerateOutcome::bankTooShort, "ERROR-> DTMF36.bin is too short",
                "ERROR-> DTMF44.bin is too short"},
           Case{GenerateOutcome::lengthOutOfRange, "ERROR-> out of range", "ERROR-> out of range"},
           Case{GenerateOutcome::dtmfIdOutOfRange, "DTMF ID#-> out of range",
                "DTMF ID#-> out of range"},
           Case{GenerateOutcome::cannotOpen, "ERROR-> cannot open output file",
                "ERROR-> cannot open output file"},
           Case{GenerateOutcome::cannotWrite, "ERROR-> cannot write output file",
                "ERROR-> cannot write output file"},
       }) {
    EXPECT_STREQ(GenerateText(c.outcome, TimecodeType::dtmfS), c.slow);
    EXPECT_STREQ(GenerateText(c.outcome, TimecodeType::dtmfF), c.fast);
  }
}

TEST_F(Generator, RangeChecks) {
  WriteFile("TC.wav", "old");
  TimecodeGenerator generator;
  for (const int length : {kMinSampleLength - 1, kMaxSampleLength + 1}) {
    EXPECT_EQ(generator.Generate({TimecodeType::dtmfF, 2, length, 1}),
              GenerateOutcome::lengthOutOfRange);
  }
  EXPECT_EQ(generator.Generate({TimecodeType::dtmfF, 2, 0, 11}),
            GenerateOutcome::lengthOutOfRange);  // length checked first
  for (const int dtmfId : {0, 11}) {
    EXPECT_EQ(generator.Generate({TimecodeType::dtmfS, 1, 1000000, dtmfId}),
              GenerateOutcome::dtmfIdOutOfRange);
  }
  EXPECT_EQ(ReadFile("TC.wav"), "old");
  EXPECT_EQ(generator.Generate({TimecodeType::dtmfS, 1, kMinSampleLength, 1}),
            GenerateOutcome::created);
}

// Records every call, and asks to cancel at the chosen one.
class RecordingProgress : public GenerateProgress {
 public:
  struct Call {
    char kind;  // 'w' written, 'f' flushing, 'c' cancel asked
    std::uint64_t done, total;
  };
  void Written(std::uint64_t done, std::uint64_t total) override {
    calls.push_back({'w', done, total});
  }
  void Flushing() override { calls.push_back({'f', 0, 0}); }
  bool CancelRequested() override {
    calls.push_back({'c', 0, 0});
    return ++m_asked == cancelAt;
  }
  std::size_t Count(char kind) const {
    return static_cast<std::size_t>(std::count_if(
        calls.begin(), calls.end(), [kind](const Call& c) { return c.kind == kind; }));
  }

  std::vector<Call> calls;
  int cancelAt = 0;  // the n-th question is answered yes; 0: never

 private:
  int m_asked = 0;
};

class NoProgress : public GenerateProgress {
 public:
  void Written(std::uint64_t, std::uint64_t) override {}
  void Flushing() override {}
  bool CancelRequested() override { return false; }
};

// Runs generate in a child and returns its outcome, carried back as the child's exit status.
GenerateOutcome OutcomeInChild(const std::function<GenerateOutcome()>& run) {
  return static_cast<GenerateOutcome>(InChild([&] { return static_cast<int>(run()); }));
}

using Names = std::set<std::string>;

Names FolderEntries(const fs::path& folder) {
  Names names;
  for (const auto& entry : fs::directory_iterator(folder)) {
    names.insert(entry.path().filename().string());
  }
  return names;
}

const Names kBanksAndOutput = {"TC.wav", "dtmf36.bin", "dtmf44.bin"};
constexpr TimecodeSettings kDefault = {TimecodeType::dtmfF, 2, 1000000, 1};
constexpr std::uint64_t kDefaultBytes = 2000044;

// Every way a run can end early, through both kinds of temporary file: an unnamed one (the
// default here) and a hidden named one, as on file systems without unnamed files.
class Replacement : public Generator, public ::testing::WithParamInterface<bool> {
 protected:
  void SetUp() override {
    Generator::SetUp();
    WriteFile("TC.wav", "old");
  }
  // A run with this run's kind of temporary file: the named one is made when the file system
  // (here its injected fault) refuses an unnamed one.
  GenerateOutcome Run(const TimecodeSettings& settings, GenerateProgress& progress) const {
    static TimecodeGenerator generator;
    if (GetParam()) InjectFileFault(FileFault::unnamedFile, EOPNOTSUPP);
    const GenerateOutcome outcome = generator.Generate(settings, progress);
    InjectFileFault(FileFault::none, 0);
    return outcome;
  }
  GenerateOutcome RunInChild(const std::function<void()>& prepare) const {
    return OutcomeInChild([&] {
      prepare();
      NoProgress quiet;
      return Run(kDefault, quiet);
    });
  }
  void ExpectOldFileAndNothingElse() const {
    EXPECT_TRUE(ReadFile("TC.wav") == "old") << fs::file_size("TC.wav") << " bytes";
    EXPECT_EQ(FolderEntries(m_scratch), kBanksAndOutput);
  }
};

INSTANTIATE_TEST_SUITE_P(TemporaryFile, Replacement, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Named" : "Unnamed"; });

TEST_P(Replacement, AFailedWriteLeavesTheOldFile) {
  // A file-size limit makes writes fail for real: inside the placeholder header, and midway
  // through the data.
  for (const rlim_t limit : {20, 1000000}) {
    SCOPED_TRACE(limit);
    const auto limited = [limit] {
      std::signal(SIGXFSZ, SIG_IGN);
      const rlimit size{limit, limit};
      ::setrlimit(RLIMIT_FSIZE, &size);
    };
    EXPECT_EQ(RunInChild(limited), GenerateOutcome::cannotWrite);
    ExpectOldFileAndNothingElse();
  }
}

TEST_P(Replacement, AFolderThatRefusesNewFilesLeavesTheOldFile) {
  fs::permissions(m_scratch, fs::perms::owner_read | fs::perms::owner_exec | fs::perms::group_read |
                                 fs::perms::group_exec | fs::perms::others_read |
                                 fs::perms::others_exec);
  // Root writes anywhere, so the child gives up root first.
  const auto asUnprivileged = [] {
    if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) ::_exit(2);
  };
  EXPECT_EQ(RunInChild(asUnprivileged), GenerateOutcome::cannotOpen);
  ExpectOldFileAndNothingElse();
}

TEST_P(Replacement, ACancelLeavesTheOldFile) {
  RecordingProgress full;
  ASSERT_EQ(Run(kDefault, full), GenerateOutcome::created);
  const auto flushing = std::find_if(full.calls.begin(), full.calls.end(),
                                     [](const auto& call) { return call.kind == 'f'; });
  const auto beforeFlushing = static_cast<int>(std::count_if(
      full.calls.begin(), flushing, [](const auto& call) { return call.kind == 'c'; }));
  const int questions = static_cast<int>(full.Count('c'));
  ASSERT_GE(beforeFlushing, 3);
  ASSERT_GE(questions, beforeFlushing + 2);
  WriteFile("TC.wav", "old");
  // At the first batch, at the last, while the data is flushed, and once it is on the disk: the
  // last chance to refuse.
  for (const int cancelAt : {1, beforeFlushing, beforeFlushing + 1, questions}) {
    SCOPED_TRACE(cancelAt);
    RecordingProgress progress;
    progress.cancelAt = cancelAt;
    EXPECT_EQ(Run(kDefault, progress), GenerateOutcome::cancelled);
    EXPECT_EQ(progress.calls.back().kind, 'c') << "nothing happens after the cancel";
    EXPECT_EQ(progress.Count('f'), cancelAt > beforeFlushing ? 1u : 0u);
    ExpectOldFileAndNothingElse();
  }
}

TEST_P(Replacement, AKilledRunLeavesTheOldFile) {
  int ready[2];
  ASSERT_EQ(::pipe(ready), 0);
  const pid_t child = StartChild([&] {
    // Tells the parent once the first batch is in the new file, then waits to be killed.
    class Stalling : public NoProgress {
     public:
      explicit Stalling(int fd) : m_fd(fd) {}
      void Written(std::uint64_t, std::uint64_t) override {
        if (::write(m_fd, "w", 1) == 1) ::pause();
        ::_exit(1);
      }

     private:
      int m_fd;
    } stalling(ready[1]);
    Run(kDefault, stalling);
    return 1;
  });
  ::close(ready[1]);
  char byte = 0;
  ASSERT_EQ(::read(ready[0], &byte, 1), 1);
  ::close(ready[0]);
  ::kill(child, SIGKILL);
  const int status = WaitForChild(child);
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);
  EXPECT_TRUE(ReadFile("TC.wav") == "old") << fs::file_size("TC.wav") << " bytes";
  if (!GetParam()) {
    EXPECT_EQ(FolderEntries(m_scratch), kBanksAndOutput) << "an unnamed file dies with its run";
  }
}

TEST_P(Replacement, LinksAndSpecialFilesNamedTcWavAreReplacedNotWrittenThrough) {
  ScratchDir elsewhere;
  const std::string target = (elsewhere.Path() / "precious").string();
  WriteFile(target, "precious");
  const auto regularWithNewBytes = [this] {
    EXPECT_TRUE(fs::is_regular_file(fs::symlink_status("TC.wav")));
    EXPECT_EQ(fs::hard_link_count("TC.wav"), 1u);
    ExpectDataMatchesEncoder(kDefault);
    EXPECT_EQ(FolderEntries(m_scratch), kBanksAndOutput);
  };
  const std::vector<std::pair<const char*, std::function<void()>>> kinds = {
      {"symbolic link", [&] { fs::create_symlink(target, "TC.wav"); }},
      {"hard link", [&] { fs::create_hard_link(target, "TC.wav"); }},
      {"link to a full device", [] { fs::create_symlink("/dev/full", "TC.wav"); }},
      {"FIFO", [] { ASSERT_EQ(::mkfifo("TC.wav", 0666), 0); }},
      // The full device's own node where the system lets us make one, else its link again.
      {"device node",
       [] {
         if (::mknod("TC.wav", S_IFCHR | 0666, ::makedev(1, 7)) != 0) {
           fs::create_symlink("/dev/full", "TC.wav");
         }
       }},
  };
  for (const auto& [kind, make] : kinds) {
    SCOPED_TRACE(kind);
    fs::remove("TC.wav");
    make();
    // In a child with an alarm: opening a FIFO for writing would wait for a reader forever.
    EXPECT_EQ(OutcomeInChild([&] {
                NoProgress quiet;
                return Run(kDefault, quiet);
              }),
              GenerateOutcome::created);
    regularWithNewBytes();
    EXPECT_EQ(ReadFile(target), "precious");
  }
}

// Marks a file immutable, so that not even root can rename over it, for as long as it lives.
class Immutable {
 public:
  explicit Immutable(const char* path) : m_fd(::open(path, O_RDONLY | O_CLOEXEC)) {
    m_set = m_fd >= 0 && ::ioctl(m_fd, FS_IOC_GETFLAGS, &m_flags) == 0 &&
            ::ioctl(m_fd, FS_IOC_SETFLAGS, &(m_flags |= FS_IMMUTABLE_FL)) == 0;
  }
  ~Immutable() {
    m_flags &= ~FS_IMMUTABLE_FL;
    if (m_set) ::ioctl(m_fd, FS_IOC_SETFLAGS, &m_flags);
    if (m_fd >= 0) ::close(m_fd);
  }
  Immutable(const Immutable&) = delete;
  Immutable& operator=(const Immutable&) = delete;
  bool IsSet() const { return m_set; }

 private:
  int m_fd;
  int m_flags = 0;
  bool m_set = false;
};

TEST_P(Replacement, AnImmutableTcWavIsRefusedBeforeAnythingIsWritten) {
  const Immutable locked("TC.wav");
  if (!locked.IsSet()) GTEST_SKIP() << "this file system or user cannot make a file immutable";
  NoProgress quiet;
  EXPECT_EQ(Run(kDefault, quiet), GenerateOutcome::cannotOpen);
  ExpectOldFileAndNothingElse();
}

TEST_P(Replacement, AFolderNamedTcWavIsNotReplaced) {
  fs::remove("TC.wav");
  fs::create_directory("TC.wav");
  WriteFile("TC.wav/inside", "kept");
  NoProgress quiet;
  EXPECT_EQ(Run(kDefault, quiet), GenerateOutcome::cannotOpen);
  EXPECT_EQ(ReadFile("TC.wav/inside"), "kept");
  EXPECT_EQ(FolderEntries(m_scratch), kBanksAndOutput);
}

TEST_P(Replacement, AFirstTcWavHasTheUsualPermissions) {
  for (const mode_t mask : {022, 027, 0}) {
    fs::remove("TC.wav");  // a TC.wav that is replaced keeps its own permissions instead
    const mode_t previous = ::umask(mask);
    NoProgress quiet;
    EXPECT_EQ(Run({TimecodeType::dtmfS, 1, kMinSampleLength, 1}, quiet), GenerateOutcome::created);
    ::umask(previous);
    struct stat info {};
    ASSERT_EQ(::stat("TC.wav", &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0666 & ~mask) << std::oct << mask;
  }
}

// A bank is read only from a regular file, or a link to one as the installed launcher makes;
// anything else is not a bank and is answered at once.
TEST_F(Generator, BanksThatAreNoRegularFilesAreNotFoundAtOnce) {
  fs::rename("dtmf44.bin", "real44.bin");
  fs::create_symlink("real44.bin", "dtmf44.bin");
  EXPECT_EQ(TimecodeGenerator().Generate(kDefault), GenerateOutcome::created);

  fs::remove("dtmf44.bin");
  ASSERT_EQ(::mkfifo("dtmf44.bin", 0666), 0);
  EXPECT_EQ(OutcomeInChild([] { return TimecodeGenerator().Generate(kDefault); }),
            GenerateOutcome::bankNotFound);
  fs::remove("dtmf44.bin");
  fs::create_symlink("/dev/zero", "dtmf44.bin");
  EXPECT_EQ(OutcomeInChild([] { return TimecodeGenerator().Generate(kDefault); }),
            GenerateOutcome::bankNotFound);

  fs::remove("dtmf36.bin");
  const int listener = ::socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strcpy(address.sun_path, "dtmf36.bin");
  ASSERT_EQ(::bind(listener, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
  EXPECT_EQ(OutcomeInChild([] {
              return TimecodeGenerator().Generate({TimecodeType::dtmfS, 2, 1000000, 1});
            }),
            GenerateOutcome::bankNotFound);
  ::close(listener);
}

TEST_F(Generator, ProgressGrowsToTheFileSizeThenFlushes) {
  TimecodeGenerator generator;
  RecordingProgress progress;
  ASSERT_EQ(generator.Generate(kDefault, progress), GenerateOutcome::created);
  std::uint64_t last = 0;
  std::size_t written = 0;
  for (const auto& call : progress.calls) {
    if (call.kind != 'w') continue;
    ++written;
    EXPECT_GT(call.done, last);
    EXPECT_EQ(call.total, kDefaultBytes);
    last = call.done;
  }
  EXPECT_EQ(last, kDefaultBytes);
  EXPECT_GE(written, 4u) << "a batch is about half a megabyte";
  // Flushing after the last count, and chances to cancel until the rename.
  const auto flushing = std::find_if(progress.calls.begin(), progress.calls.end(),
                                     [](const auto& call) { return call.kind == 'f'; });
  ASSERT_NE(flushing, progress.calls.end());
  EXPECT_EQ(std::prev(flushing)->kind, 'w');
  EXPECT_GE(progress.calls.end() - flushing, 2);
  EXPECT_TRUE(std::all_of(std::next(flushing), progress.calls.end(),
                          [](const auto& call) { return call.kind == 'c'; }));
  EXPECT_EQ(fs::file_size("TC.wav"), kDefaultBytes);
}

TEST_F(Generator, AnotherFolderHoldsTheBanksAndTakesTheFile) {
  ScratchDir other;
  fs::copy_file(fs::path(TONE_BANK_DIR) / "dtmf36.bin", other.Path() / "dtmf36.bin");
  fs::remove("dtmf36.bin");
  NoProgress quiet;
  TimecodeGenerator generator;
  EXPECT_EQ(generator.Generate({TimecodeType::dtmfS, 1, kMinSampleLength, 1}, quiet,
                               other.Path().c_str()),
            GenerateOutcome::created);
  EXPECT_EQ(fs::file_size(other.Path() / "TC.wav"), 200044u);
  EXPECT_FALSE(fs::exists("TC.wav"));
  EXPECT_EQ(
      generator.Generate({TimecodeType::dtmfS, 1, kMinSampleLength, 1}, quiet, "no such folder"),
      GenerateOutcome::bankNotFound);
}

// Two runs at once in one folder: TC.wav ends whole, from one of them.
TEST_F(Generator, TwoRunsAtOnceLeaveOneWholeFile) {
  constexpr TimecodeSettings kFirst = {TimecodeType::dtmfF, 2, 3000000, 1};
  constexpr TimecodeSettings kSecond = {TimecodeType::dtmfF, 1, 2000000, 4};
  GenerateOutcome firstOutcome = GenerateOutcome::cancelled;
  std::thread first(
      [&] { firstOutcome = OutcomeInChild([&] { return TimecodeGenerator().Generate(kFirst); }); });
  EXPECT_EQ(OutcomeInChild([&] { return TimecodeGenerator().Generate(kSecond); }),
            GenerateOutcome::created);
  first.join();
  EXPECT_EQ(firstOutcome, GenerateOutcome::created);
  const bool fromFirst = fs::file_size("TC.wav") == 44u + 2u * kFirst.sampleLength;
  ExpectDataMatchesEncoder(fromFirst ? kFirst : kSecond);
  EXPECT_EQ(FolderEntries(m_scratch), kBanksAndOutput);
}

TEST_F(Generator, SecondRunReplacesTheFile) {
  TimecodeGenerator generator;
  ASSERT_EQ(generator.Generate({TimecodeType::dtmfF, 2, 1000000, 1}), GenerateOutcome::created);
  ASSERT_EQ(generator.Generate({TimecodeType::dtmfS, 1, kMinSampleLength, 5}),
            GenerateOutcome::created);
  EXPECT_EQ(fs::file_size("TC.wav"), 200044u);
  ExpectDataMatchesEncoder({TimecodeType::dtmfS, 1, kMinSampleLength, 5});
  EXPECT_EQ(ReadFile("TC.wav").substr(24, 4), std::string("\xAF\x8C\x00\x00", 4));
}

}  // namespace
