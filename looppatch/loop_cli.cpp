#include "looppatch/loop_cli.h"

#include <algorithm>
#include <charconv>
#include <stdexcept>

#include "cli/version.h"
#include "looppatch/loop_table.h"
#include "looppatch/plain_copy.h"

namespace {

constexpr int kDone = 0;
constexpr int kRefused = 1;
constexpr int kUsageError = 2;

constexpr char kUsage[] =
    "Usage: loop [FILE]\n"
    "       loop --show FILE\n"
    "       loop --set P1[,P2...] FILE\n"
    "       loop --plain-copy SOURCE DEST\n"
    "       loop --help | --version\n"
    "\n"
    "Without options, opens the loop-point dialog, with FILE loaded if given.\n"
    "\n"
    "  --show FILE          print the channel count and loop points 1 to 10 of FILE\n"
    "  --set P1[,P2...] FILE\n"
    "                       store up to ten loop points (in sample frames) in FILE;\n"
    "                       the points left out are 0, which means none\n"
    "  --plain-copy SOURCE DEST\n"
    "                       write the 16-bit PCM samples of SOURCE behind the plain\n"
    "                       44-byte header that loop can patch, as DEST\n"
    "  --help               print this help\n"
    "  --version            print the version\n"
    "\n"
    "FILE must be a 16-bit PCM wave file with one or two channels and the plain 44-byte\n"
    "header. Exit status: 0 done, 1 refused (the reason on stderr), 2 usage error.\n";

int UsageError(std::ostream& err, const std::string& what) {
  err << "loop: " << what << " (see loop --help)\n";
  return kUsageError;
}

int Refused(std::ostream& err, const std::string& text) {
  err << text << '\n';
  return kRefused;
}

// "P1,P2,..." into loop points; nothing when an item is not a 32-bit integer or there are more
// than ten.
std::optional<LoopPoints> ParsePoints(const std::string& list) {
  LoopPoints points{};
  std::size_t index = 0;
  std::size_t start = 0;
  while (true) {
    const std::size_t comma = std::min(list.find(',', start), list.size());
    if (index == kLoopPointCount) return std::nullopt;
    const char* first = list.data() + start;
    const char* last = list.data() + comma;
    const auto [end, error] = std::from_chars(first, last, points[index]);
    if (first == last || error != std::errc() || end != last) return std::nullopt;
    ++index;
    if (comma == list.size()) return points;
    start = comma + 1;
  }
}

// Opens path as the dialog's Open File does, with the same refusals.
std::string OpenForTable(CFile& file, const std::string& path, unsigned mode) {
  if (!file.Open(path, mode)) return kOpenErrorText;
  return CheckPatchable(file);
}

int Show(const std::string& path, std::ostream& out, std::ostream& err) {
  CFile file;
  const std::string refusal = OpenForTable(file, path, CFile::modeRead);
  if (!refusal.empty()) return Refused(err, refusal);
  const LoopTable table = ReadLoopTable(file);
  out << "channels=" << table.channelCount << " points=";
  for (std::size_t i = 0; i < kLoopPointCount; ++i) {
    out << (i > 0 ? "," : "") << table.loopPoints[i];
  }
  out << '\n';
  return kDone;
}

int Set(const LoopPoints& points, const std::string& path, std::ostream& out, std::ostream& err) {
  CFile file;
  const std::string refusal = OpenForTable(file, path, kPatchMode);
  if (!refusal.empty()) return Refused(err, refusal);
  try {
    WriteLoopTable(file, ReadLoopTable(file).channelByte, points);
  } catch (const std::invalid_argument& e) {
    return Refused(err, e.what());
  }
  out << kPatchedText << '\n';
  return kDone;
}

int PlainCopy(const std::string& source, const std::string& destination, std::ostream& err) {
  const std::string failure = WritePlainCopy(source, destination);
  return failure.empty() ? kDone : Refused(err, failure);
}

bool IsOption(const std::string& arg) {
  return !arg.empty() && arg[0] == '-';
}

}  // namespace

std::optional<int> RunLoopCommandLine(const std::vector<std::string>& args, std::ostream& out,
                                      std::ostream& err, std::string& fileToOpen) {
  if (args.empty()) return std::nullopt;
  const std::string& option = args[0];
  const auto expect = [&](std::size_t operands) { return args.size() == operands + 1; };
  try {
    if (option == "--help" && expect(0)) {
      out << kUsage;
      return kDone;
    }
    if (option == "--version" && expect(0)) {
      out << "loop " << kProjectVersion << '\n';
      return kDone;
    }
    if (option == "--show" && expect(1)) return Show(args[1], out, err);
    if (option == "--set" && expect(2)) {
      const std::optional<LoopPoints> points = ParsePoints(args[1]);
      if (!points) return UsageError(err, "--set takes one to ten integers separated by commas");
      return Set(*points, args[2], out, err);
    }
    if (option == "--plain-copy" && expect(2)) return PlainCopy(args[1], args[2], err);
    if (option == "--" && expect(1)) {
      fileToOpen = args[1];
      return std::nullopt;
    }
    if (!IsOption(option) && expect(0)) {
      fileToOpen = option;
      return std::nullopt;
    }
  } catch (const CFileException& e) {
    return Refused(err, e.what());
  }
  for (const char* known : {"--help", "--version", "--show", "--set", "--plain-copy"}) {
    if (option == known) return UsageError(err, "wrong number of arguments for " + option);
  }
  if (IsOption(option)) return UsageError(err, "unknown option " + option);
  return UsageError(err, "give one FILE at most");
}
