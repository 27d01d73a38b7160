// vrellok's command line, run as a child process with no display at all: what it writes, what
// it prints on which stream, and its exit status for every outcome.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "child_process.h"
#include "scratch_dir.h"
#include "timecode/timecode_generator.h"

namespace {

namespace fs = std::filesystem;

using Outcome = ProgramRun;

// Debug builds trace the operation's settings on stderr ("timecode=DTMF-F"); what the user is told
// is everything else.
std::string WithoutTrace(const std::string& err) {
  std::string told;
  std::size_t start = 0;
  while (start < err.size()) {
    const std::size_t end = std::min(err.find('\n', start), err.size() - 1) + 1;
    const std::string line = err.substr(start, end - start);
    if (line.rfind("timecode=", 0) != 0 && line.rfind("method=", 0) != 0) told += line;
    start = end;
  }
  return told;
}

// Runs vrellok in folder with args, with nothing in its environment that could reach a display.
// prepare runs in the child before the program starts, e.g. to set a limit.
Outcome RunVrellok(
    const fs::path& folder, const std::vector<std::string>& args,
    const std::function<void()>& prepare = [] {}) {
  Outcome outcome = RunProgram(VRELLOK_PATH, args, {.folder = folder, .prepare = prepare});
  outcome.err = WithoutTrace(outcome.err);
  return outcome;
}

class VrellokCli : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* bank : {"dtmf36.bin", "dtmf44.bin"}) {
      fs::copy_file(fs::path(TONE_BANK_DIR) / bank, m_folder.Path() / bank);
    }
  }
  // What the dialog's operation writes for the same settings, made in a folder of its own.
  Bytes Expected(const TimecodeSettings& settings) const {
    ScratchDir reference;
    for (const char* bank : {"dtmf36.bin", "dtmf44.bin"}) {
      fs::copy_file(m_folder.Path() / bank, reference.Path() / bank);
    }
    struct : GenerateProgress {
      void Written(std::uint64_t, std::uint64_t) override {}
      void Flushing() override {}
      bool CancelRequested() override { return false; }
    } quiet;
    EXPECT_EQ(TimecodeGenerator().Generate(settings, quiet, reference.Path().c_str()),
              GenerateOutcome::created);
    return ReadBytes(reference.File("TC.wav"));
  }
  Bytes Output() const { return ReadBytes(m_folder.File("TC.wav")); }

  ScratchDir m_folder;
};

TEST_F(VrellokCli, HelpAndVersionNeedNoDisplay) {
  const Outcome help = RunVrellok(m_folder.Path(), {"--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_EQ(help.out.rfind("Usage: vrellok [--type F|S] [--method 1|2] [--length N] [--id K]", 0),
            0u)
      << help.out;
  EXPECT_EQ(help.err, "");
  const Outcome version = RunVrellok(m_folder.Path(), {"--version"});
  EXPECT_EQ(version.status, 0);
  EXPECT_EQ(version.out, "vrellok 2.0\n");  // the version its About box shows
  EXPECT_EQ(version.err, "");
  // Text that could not be printed is no success.
  const Outcome full = RunVrellok(m_folder.Path(), {"--version"},
                                  [] { ::dup2(::open("/dev/full", O_WRONLY), STDOUT_FILENO); });
  EXPECT_EQ(full.status, 1);
  EXPECT_EQ(full.err, "vrellok: cannot write to standard output\n");
  EXPECT_FALSE(fs::exists(m_folder.File("TC.wav")));
}

TEST_F(VrellokCli, WritesTheSameBytesAsTheDialogsOperation) {
  // Options left out take the dialog's start values: F, method 2, 1000000 samples, ID 1.
  const Outcome defaults = RunVrellok(m_folder.Path(), {"--id", "1"});
  EXPECT_EQ(defaults.status, 0);
  EXPECT_EQ(defaults.out, "TC.wav Created\n");
  EXPECT_EQ(defaults.err, "");
  EXPECT_TRUE(Output() == Expected({TimecodeType::dtmfF, 2, 1000000, 1}));

  const Outcome chosen = RunVrellok(
      m_folder.Path(), {"--type", "S", "--method", "1", "--length=100000", "--id", "10"});
  EXPECT_EQ(chosen.status, 0);
  EXPECT_EQ(chosen.out, "TC.wav Created\n");
  EXPECT_TRUE(Output() == Expected({TimecodeType::dtmfS, 1, 100000, 10}));

  // --dir: the banks come from there and TC.wav goes there, wherever the program was started.
  ScratchDir elsewhere;
  const Outcome moved =
      RunVrellok(elsewhere.Path(), {"--dir", m_folder.Path().string(), "--type", "f"});
  EXPECT_EQ(moved.status, 0);
  EXPECT_FALSE(fs::exists(elsewhere.File("TC.wav")));
  EXPECT_TRUE(Output() == Expected({TimecodeType::dtmfF, 2, 1000000, 1}));
}

TEST_F(VrellokCli, OutputWritesTheNamedFileInsteadOfTcWavTheSafeWay) {
  // A relative name is taken from the folder the program runs in, not from --dir.
  ScratchDir elsewhere;
  const Outcome named = RunVrellok(elsewhere.Path(), {"--dir", m_folder.Path().string(), "--length",
                                                      "100000", "--output", "take1.wav"});
  EXPECT_EQ(named.status, 0) << named.err;
  EXPECT_EQ(named.out, "take1.wav Created\n");
  EXPECT_FALSE(fs::exists(m_folder.File("TC.wav")));
  EXPECT_TRUE(ReadBytes(elsewhere.File("take1.wav")) ==
              Expected({TimecodeType::dtmfF, 2, 100000, 1}));

  // A link at the name is replaced by the new file; what it pointed at is left as it was.
  WriteBytes(m_folder.File("keep.wav"), {'k', 'e', 'e', 'p'});
  fs::create_symlink(m_folder.File("keep.wav"), elsewhere.File("link.wav"));
  const Outcome linked =
      RunVrellok(m_folder.Path(), {"--length", "100000", "--output", elsewhere.File("link.wav")});
  EXPECT_EQ(linked.status, 0) << linked.err;
  EXPECT_FALSE(fs::is_symlink(elsewhere.File("link.wav")));
  EXPECT_TRUE(ReadBytes(elsewhere.File("link.wav")) ==
              Expected({TimecodeType::dtmfF, 2, 100000, 1}));
  EXPECT_TRUE(ReadBytes(m_folder.File("keep.wav")) == (Bytes{'k', 'e', 'e', 'p'}));

  // A FIFO, a device or a folder at the name is never replaced by a file; an empty name is a
  // usage error.
  ASSERT_EQ(::mkfifo(elsewhere.File("pipe").c_str(), 0600), 0);
  for (const std::string& target :
       {elsewhere.File("pipe"), std::string("/dev/null"), elsewhere.Path().string()}) {
    const Outcome refused = RunVrellok(m_folder.Path(), {"--output", target});
    EXPECT_EQ(refused.status, 1) << target;
    EXPECT_EQ(refused.err, "ERROR-> cannot open output file\n") << target;
  }
  EXPECT_TRUE(fs::is_fifo(elsewhere.File("pipe")));
  EXPECT_EQ(RunVrellok(m_folder.Path(), {"--output", ""}).status, 2);
  EXPECT_FALSE(fs::exists(m_folder.File("TC.wav")));
}

TEST_F(VrellokCli, RefusalsGoToStderrWithStatusOne) {
  WriteBytes(m_folder.File("TC.wav"), {'o', 'l', 'd'});
  struct Case {
    std::vector<std::string> args;
    const char* text;
  };
  // The dialog's text, then the value as given and the range.
  for (const Case& c :
       {Case{{"--length", "99999"}, "ERROR-> out of range: --length 99999 (100000 to 245735424)\n"},
        Case{{"--length", "-5", "--id", "11"},
             "ERROR-> out of range: --length -5 (100000 to 245735424)\n"},
        Case{{"--length", "5000000000"},
             "ERROR-> out of range: --length 5000000000 (100000 to 245735424)\n"},
        Case{{"--id", "0"}, "DTMF ID#-> out of range: --id 0 (1 to 10)\n"},
        Case{{"--id=11"}, "DTMF ID#-> out of range: --id 11 (1 to 10)\n"},
        Case{{"--id", "-99999999999"}, "DTMF ID#-> out of range: --id -99999999999 (1 to 10)\n"}}) {
    const Outcome outcome = RunVrellok(m_folder.Path(), c.args);
    EXPECT_EQ(outcome.status, 1) << c.text;
    EXPECT_EQ(outcome.err, c.text);
    EXPECT_EQ(outcome.out, "");
  }
  fs::remove(m_folder.File("dtmf36.bin"));
  // A missing bank names the places it was looked for: the folder, then the installed banks.
  const std::string missing = RunVrellok(m_folder.Path(), {"--type", "S"}).err;
  const std::string said = "ERROR-> DTMF36.bin not found: looked for ./dtmf36.bin and ";
  EXPECT_EQ(missing.substr(0, said.size()), said) << missing;
  EXPECT_TRUE(missing.ends_with("/share/vrellok/dtmf36.bin\n")) << missing;
  EXPECT_TRUE(Output() == (Bytes{'o', 'l', 'd'}));

  // A write that fails for real, past a file-size limit.
  const auto limited = [] {
    const rlimit size{100000, 100000};
    ::setrlimit(RLIMIT_FSIZE, &size);
  };
  const Outcome full = RunVrellok(m_folder.Path(), {"--length", "1000000"}, limited);
  EXPECT_EQ(full.status, 1);
  EXPECT_EQ(full.err, "ERROR-> cannot write output file\n");
  EXPECT_TRUE(Output() == (Bytes{'o', 'l', 'd'}));

  fs::remove(m_folder.File("TC.wav"));
  fs::create_directory(m_folder.File("TC.wav"));
  const Outcome folder = RunVrellok(m_folder.Path(), {"--length", "100000"});
  EXPECT_EQ(folder.status, 1);
  EXPECT_EQ(folder.err, "ERROR-> cannot open output file\n");
}

TEST_F(VrellokCli, UsageErrorsAreOneLineWithStatusTwo) {
  for (const auto& args : std::vector<std::vector<std::string>>{
           {"--length", "12ab"},
           {"--length", "9e9"},
           {"--length", ""},
           {"--id", "x"},
           {"--id"},
           {"--type", "X"},
           {"--type", "44100"},
           {"--method", "3"},
           {"--method", "one"},
           {"--bogus"},
           {"-h"},
           {"TC.wav"},
       }) {
    std::string shown;
    for (const std::string& arg : args) shown += arg + ' ';
    const Outcome outcome = RunVrellok(m_folder.Path(), args);
    EXPECT_EQ(outcome.status, 2) << shown;
    EXPECT_EQ(outcome.out, "") << shown;
    EXPECT_EQ(outcome.err.rfind("vrellok: ", 0), 0u) << shown << outcome.err;
    EXPECT_EQ(outcome.err.find('\n'), outcome.err.size() - 1) << shown << outcome.err;
  }
  EXPECT_FALSE(fs::exists(m_folder.File("TC.wav")));
}

}  // namespace
