#include "timecode/command_line.h"

#include <charconv>
#include <csignal>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "cli/terminal_progress.h"
#include "cli/version.h"
#include "timecode/timecode_generator.h"

namespace {

constexpr int kExitCreated = 0;
constexpr int kExitRefused = 1;
constexpr int kExitUsage = 2;
constexpr int kExitInterrupted = 128 + SIGINT;  // what a shell reports for a run stopped by Ctrl+C

constexpr const char* kCreatedText = "TC.wav Created";

constexpr const char* kHelpText =
    "Usage: vrellok [--type F|S] [--method 1|2] [--length N] [--id K] [--dir DIR]\n"
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
    "                 current folder)\n"
    "  --help         print this help and exit\n"
    "  --version      print the version and exit\n"
    "\n"
    "TC.wav is written beside its place, flushed to the disk and then put in place of any\n"
    "earlier one. On success \"TC.wav Created\" is printed and the exit status is 0; the\n"
    "dialog's error texts go to stderr with status 1; a usage error exits with status 2.\n"
    "Ctrl+C cancels a run and leaves the folder as it was (status 130).\n";

// The dialog's start values, so an option left out means what an untouched box means.
struct Options {
  TimecodeSettings settings{2, 2, 1000000, 1};
  std::string folder = ".";
};

class UsageError {
 public:
  explicit UsageError(std::string text) : m_text(std::move(text)) {}
  const std::string& Text() const { return m_text; }

 private:
  std::string m_text;
};

// A whole signed 32-bit integer, as the dialog's boxes take them; nothing else around it.
std::optional<int> ParseInteger(std::string_view text) {
  int value = 0;
  const char* end = text.data() + text.size();
  const auto [stop, error] = std::from_chars(text.data(), end, value);
  if (text.empty() || error != std::errc() || stop != end) return std::nullopt;
  return value;
}

int IntegerValue(std::string_view option, std::string_view value) {
  const std::optional<int> number = ParseInteger(value);
  if (!number) {
    throw UsageError(std::string(option) + " needs an integer, not '" + std::string(value) + "'");
  }
  return *number;
}

// The type and method are choices, not numbers: the dialog offers two of each, so the command
// line takes nothing else.
int TypeValue(std::string_view value) {
  if (value == "F" || value == "f") return 2;
  if (value == "S" || value == "s") return 1;
  throw UsageError("--type takes F or S, not '" + std::string(value) + "'");
}

int MethodValue(std::string_view value) {
  const std::optional<int> number = ParseInteger(value);
  if (number == kMethod1 || number == kMethod2) return *number;
  throw UsageError("--method takes 1 or 2, not '" + std::string(value) + "'");
}

enum class Request { generate, help, version };

// Reads "--name value" and "--name=value"; a later option overrides an earlier one.
Request Parse(int argc, char** argv, Options& options) {
  for (int i = 1; i < argc; ++i) {
    std::string_view arg = argv[i];
    if (arg == "--help") return Request::help;
    if (arg == "--version") return Request::version;
    std::string_view name = arg;
    std::optional<std::string_view> value;
    if (const auto equals = arg.find('='); arg.starts_with("--") && equals != arg.npos) {
      name = arg.substr(0, equals);
      value = arg.substr(equals + 1);
    }
    const bool known = name == "--type" || name == "--method" || name == "--length" ||
                       name == "--id" || name == "--dir";
    if (!known) throw UsageError("unknown option '" + std::string(arg) + "'");
    if (!value) {
      if (i + 1 >= argc) throw UsageError(std::string(name) + " needs a value");
      value = argv[++i];
    }
    if (name == "--type") options.settings.timecode = TypeValue(*value);
    if (name == "--method") options.settings.method = MethodValue(*value);
    if (name == "--length") options.settings.sampleLength = IntegerValue(name, *value);
    if (name == "--id") options.settings.dtmfId = IntegerValue(name, *value);
    if (name == "--dir") options.folder = std::string(*value);
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

int Generate(const Options& options) {
  static TimecodeGenerator generator;  // large working storage: not on the stack
  std::string text;
  {
    BarProgress progress;  // cleared before the result is printed
    text = generator.Generate(options.settings, progress, options.folder.c_str());
  }
  if (text == kCreatedText) {
    std::printf("%s\n", text.c_str());
    return kExitCreated;
  }
  if (text.empty()) return kExitInterrupted;  // cancelled: nothing was changed
  std::fprintf(stderr, "%s\n", text.c_str());
  return kExitRefused;
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
        return kExitCreated;
      case Request::version:
        std::printf("vrellok %s\n", kProjectVersion);
        return kExitCreated;
      case Request::generate:
        break;
    }
  } catch (const UsageError& error) {
    std::fprintf(stderr, "vrellok: %s (see vrellok --help)\n", error.Text().c_str());
    return kExitUsage;
  }
  return Generate(options);
}
