#include "timecode/command_line.h"

#include <sys/stat.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <string>

#include "cli/exit_status.h"
#include "cli/options.h"
#include "cli/terminal_progress.h"
#include "fileio/file.h"
#include "timecode/timecode_generator.h"

namespace {

constexpr char kProgram[] = "vrellok";

constexpr const char* kHelpText =
    "Usage: vrellok [--type F|S] [--method 1|2] [--length N] [--id K] [--dir DIR]\n"
    "               [--output FILE]\n"
    "       vrellok --help | --version\n"
    "\n"
    "Writes the timecode file TC.wav without opening a window. Without any option the\n"
    "dialog opens instead.\n"
    "\n"
    "  --type F|S     F: DTMF-F, 44100 Hz from dtmf44.bin (default); S: DTMF-S, 36015 Hz\n"
    "                 from dtmf36.bin\n"
    "  --method 1|2   framing method (default 2)\n"
    "  --length N     samples of timecode, 100000 to 245735424 (default 1000000)\n"
    "  --id K         DTMF ID, 1 to 10 (default 1)\n"
    "  --dir DIR      folder that holds the tone banks and receives TC.wav (default: the\n"
    "                 current folder); a bank it lacks is read from the installed ones\n"
    "  --output FILE  write the timecode to FILE instead of TC.wav in the folder\n"
    "  --help         print this help and exit\n"
    "  --version      print the version and exit\n"
    "\n"
    "TC.wav (or FILE) is written beside its place, flushed to the disk and then put in\n"
    "place of any earlier one. On success \"TC.wav Created\" (or \"FILE Created\") is\n"
    "printed and the exit status is 0; the dialog's error texts go to stderr with what\n"
    "was refused or where a bank was looked for, status 1; a usage error exits with\n"
    "status 2.\n"
    "Ctrl+C cancels a run and leaves the folder as it was (status 130).\n";

// The dialog's start values, so an option left out means what an untouched box means.
struct Options {
  TimecodeSettings settings{TimecodeType::dtmfF, 2, 1000000, 1};
  std::string folder = ".";
  std::string output;  // empty: TC.wav in the folder
  // --length and --id as given, for a refusal to quote.
  std::string lengthGiven;
  std::string idGiven;
};

enum class Request { generate, help, version };

// Reads the options in turn; a later option overrides an earlier one, and --help or --version
// answers as soon as it is reached.
Request Parse(int argc, char** argv, Options& options) {
  OptionReader reader({argv + 1, argv + argc});
  while (reader.Next()) {
    const std::string& word = reader.Word();
    if (!reader.IsOption()) throw UsageError("unexpected argument '" + word + "'");
    if (word == "--help" || word == "--version") {
      reader.NoValue();
      return word == "--help" ? Request::help : Request::version;
    }
    if (word == "--type") {
      options.settings.type =
          *TimecodeTypeOfLetter(LetterValue(word, reader.Value(), kTimecodeTypeLetters));
    } else if (word == "--method") {
      // The dialog offers two methods, so the command line takes nothing else.
      options.settings.method = IntegerValue(word, reader.Value(), kMethod1, kMethod2);
    } else if (word == "--length") {
      // The length and the ID are checked by the operation, as the dialog's boxes are; a number
      // too large for an int stays out of range there.
      options.lengthGiven = reader.Value();
      options.settings.sampleLength = ClampedIntegerValue(word, options.lengthGiven);
    } else if (word == "--id") {
      options.idGiven = reader.Value();
      options.settings.dtmfId = ClampedIntegerValue(word, options.idGiven);
    } else if (word == "--dir") {
      options.folder = reader.Value();
    } else if (word == "--output") {
      options.output = reader.Value();
      if (options.output.empty()) throw UsageError("--output needs a file name");
    } else {
      throw UsageError("unknown option '" + word + "'");
    }
  }
  return Request::generate;
}

volatile std::sig_atomic_t g_interrupted = 0;

void OnInterrupt(int) {
  g_interrupted = 1;
}

// The bar on stderr, drawn only on a terminal and only once a run has taken a second. Ctrl+C
// (or a plain kill) is the command line's Cancel: the run ends after the batch under way and
// leaves the folder as it was, whatever kind of temporary file it used.
class BarProgress : public GenerateProgress {
 public:
  BarProgress() {
    struct sigaction action {};
    action.sa_handler = OnInterrupt;
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);
  }
  void Written(std::uint64_t done, std::uint64_t total) override { m_bar.Update(done, total); }
  void Flushing() override { m_bar.Note("flushing to the disk..."); }
  bool CancelRequested() override { return g_interrupted != 0; }

 private:
  TerminalProgress m_bar{"TC.wav"};
};

// What the command line says of an outcome: the dialog's text, and what a script's log needs
// beside it, the file written, the value refused and its range, the places a bank was sought.
std::string Told(GenerateOutcome outcome, const Options& options) {
  const std::string text = GenerateText(outcome, options.settings.type);
  const auto range = [](const char* option, const std::string& given, int low, int high) {
    return std::string(": ") + option + ' ' + given + " (" + std::to_string(low) + " to " +
           std::to_string(high) + ')';
  };
  switch (outcome) {
    case GenerateOutcome::created:
      return options.output.empty() ? text : options.output + " Created";
    case GenerateOutcome::lengthOutOfRange:
      return text + range("--length", options.lengthGiven, kMinSampleLength, kMaxSampleLength);
    case GenerateOutcome::dtmfIdOutOfRange:
      return text + range("--id", options.idGiven, kMinDtmfId, kMaxDtmfId);
    case GenerateOutcome::bankNotFound: {
      const std::string bank = FactsOf(options.settings.type).bankFile;
      std::string places = (std::filesystem::path(options.folder) / bank).string();
      const std::string installed = InstalledBankFolder();
      if (!installed.empty())
        places += " and " + (std::filesystem::path(installed) / bank).string();
      return text + ": looked for " + places;
    }
    default:
      return text;
  }
}

int Generate(const Options& options) {
  static TimecodeGenerator generator;  // large working storage: not on the stack
  // A --dir that names a file, a FIFO or nothing is a mistake on the command line, not a
  // missing tone bank.
  struct stat folder {};
  const bool found = ::stat(options.folder.c_str(), &folder) == 0;
  if (!found || !S_ISDIR(folder.st_mode)) {
    const int error = found ? ENOTDIR : errno;
    std::fputs(
        UsageErrorLine(kProgram, UsageError(options.folder + ": " + OsErrorText(error))).c_str(),
        stderr);
    return kExitUsage;
  }
  GenerateOutcome outcome;
  {
    BarProgress progress;  // cleared before the result is printed
    outcome = generator.Generate(options.settings, progress, options.folder.c_str(),
                                 options.output.empty() ? nullptr : options.output.c_str());
  }
  const std::string text = Told(outcome, options);
  switch (outcome) {
    case GenerateOutcome::created:
      // The file is in place whatever happens to stdout; a script that cannot be told so on
      // stdout still hears it on stderr, with status 1 for the lost output.
      std::cout << text << '\n';
      if (!StdoutWritten(std::cout)) std::cerr << text << '\n';
      return kExitSuccess;
    case GenerateOutcome::cancelled:
      return kExitInterrupted;  // nothing was changed
    default:
      std::cerr << text << '\n';
      return kExitFailure;
  }
}

}  // namespace

bool WantsCommandLine(int argc, char**) {
  return argc > 1;
}

int RunCommandLine(int argc, char** argv) {
  Options options;
  try {
    switch (Parse(argc, argv, options)) {
      case Request::help:
        std::fputs(kHelpText, stdout);
        return kExitSuccess;
      case Request::version:
        std::fputs(VersionLine(kProgram).c_str(), stdout);
        return kExitSuccess;
      case Request::generate:
        break;
    }
  } catch (const UsageError& error) {
    std::fputs(UsageErrorLine(kProgram, error).c_str(), stderr);
    return kExitUsage;
  }
  return Generate(options);
}
