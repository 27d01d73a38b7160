#include "looppatch/loop_cli.h"

#include <unistd.h>

#include <algorithm>
#include <stdexcept>
#include <string_view>

#include "cli/exit_status.h"
#include "cli/options.h"
#include "looppatch/convert.h"
#include "looppatch/loop_batch.h"
#include "looppatch/loop_cli_files.h"
#include "looppatch/loop_cli_sound.h"
#include "looppatch/loop_table.h"
#include "looppatch/plain_copy.h"
#include "looppatch/smpl_writer.h"
#include "looppatch/wave_loops.h"

namespace {

constexpr char kUsage[] =
    "Usage: loop [FILE]\n"
    "       loop --show FILE\n"
    "       loop --set P1[,P2...] [--smpl] FILE\n"
    "       loop --plain-copy [--keep-loops] SOURCE DEST\n"
    "       loop --convert [--keep-loops] [--channels A,B] SOURCE DEST\n"
    "       loop --search START[,FROM-TO] FILE\n"
    "       loop --crossfade MS[,linear|power] --set A,B[,...] SOURCE DEST\n"
    "       loop --scan [--json] FILE...\n"
    "       loop --snap FILE...\n"
    "       loop --help | --version\n"
    "\n"
    "Without options, opens the loop-point dialog, with FILE loaded if given.\n"
    "\n"
    "  --show FILE          print the channel count and loop points 1 to 10 of FILE,\n"
    "                       then its own loops and cue points where it has them\n"
    "                       (loops START-END, ...; cues FRAME, ...)\n"
    "  --set P1[,P2...] FILE\n"
    "                       store up to ten loop points (in sample frames) in FILE;\n"
    "                       the points left out are 0, which means none\n"
    "  --smpl               with --set: also write the points as standard loops (a\n"
    "                       smpl chunk behind the samples: points 1-2, 3-4, ... as\n"
    "                       loops, an odd last point as a cue point)\n"
    "  --plain-copy SOURCE DEST\n"
    "                       write the 16-bit PCM samples of SOURCE behind the plain\n"
    "                       44-byte header that loop can patch, as DEST\n"
    "  --convert SOURCE DEST\n"
    "                       write a 16-bit copy of a wave file of another sample\n"
    "                       format (24/32-bit, float, A-law, mu-law, 8-bit, more\n"
    "                       than two channels: the first two are kept), dithered\n"
    "                       where the samples have more than 16 bits, as DEST\n"
    "  --channels A,B       with --convert: the two channels of a source with more\n"
    "                       than two that the copy keeps, counted from 1\n"
    "  --keep-loops         with --plain-copy or --convert: store the source's own\n"
    "                       loops (each start and end as a pair) and then its cue\n"
    "                       points as the copy's loop points, up to ten; those left\n"
    "                       out are named\n"
    "  --search START[,FROM-TO] FILE\n"
    "                       print the five ends that best close a loop from START,\n"
    "                       searched from FROM to TO or else from START + 100 ms to\n"
    "                       the last frame, each with its seam; status 1 when none\n"
    "                       joins smoothly\n"
    "  --crossfade MS[,linear|power] --set A,B[,...] SOURCE DEST\n"
    "                       write SOURCE as DEST with the MS (1 to 500) milliseconds\n"
    "                       before B faded into those before A (linear, or equal\n"
    "                       power), so the loop A..B joins smoothly, and the points\n"
    "                       in its table; SOURCE is only read\n"
    "  --scan FILE...       print one line per file: its channels, points, own loops\n"
    "                       and the seam of each pair of points (1-2, 3-4, ...);\n"
    "                       status 1 when any seam clicks\n"
    "  --json               with --scan: one JSON object per file and line\n"
    "  --snap FILE...       move every point of each file to its nearest rising zero\n"
    "                       crossing within 10 ms, then patch the file\n"
    "  --help               print this help\n"
    "  --version            print the version\n"
    "\n"
    "FILE must be a 16-bit PCM wave file with one or two channels and the plain 44-byte\n"
    "header. Exit status: 0 done, 1 refused (the reason on stderr), 2 usage error.\n";

// "P1,P2,..." into loop points; a usage error when an item is not a 32-bit integer or there are
// more than ten.
LoopPoints ParsePoints(std::string_view list) {
  LoopPoints points{};
  std::size_t index = 0;
  std::size_t start = 0;
  while (true) {
    const std::size_t comma = std::min(list.find(',', start), list.size());
    const std::optional<int> point = ParseInteger(list.substr(start, comma - start));
    if (index == kLoopPointCount || !point) {
      throw UsageError("--set takes one to ten integers separated by commas");
    }
    points[index++] = *point;
    if (comma == list.size()) return points;
    start = comma + 1;
  }
}

// The table only where the file can hold one; the file's own loops whenever it opened, so
// that a sampler's file shows what --plain-copy --keep-loops would take over.
int Show(const std::string& path, std::ostream& out, std::ostream& err) {
  CFile file;
  // Showing only reads, so it neither waits for nor holds up a dialog patching the file.
  const std::string refusal = OpenForTable(file, path, CFile::modeRead | CFile::shareDenyNone);
  LoopTable table{};
  WaveLoops own;
  try {
    if (refusal.empty()) NoteSizeUnset(file, path, err);
    if (refusal.empty()) table = ReadLoopTable(file);
    if (file.IsOpen()) own = ReadWaveLoops(file);
  } catch (const CFileException& e) {
    return Refused(err, path, e.what());
  }
  if (refusal.empty()) {
    out << "channels=" << table.channelCount << " points=";
    for (std::size_t i = 0; i < kLoopPointCount; ++i) {
      out << (i > 0 ? "," : "") << table.loopPoints[i];
    }
    out << '\n';
  }
  for (const std::string& line : table.lookalikes)
    err << kLoopProgram << ": " << path << ": " << line << '\n';
  if (const std::string line = OwnLoopsLine(own); !line.empty()) out << line << '\n';
  return refusal.empty() ? kExitSuccess : Refused(err, path, refusal);
}

int Set(const LoopPoints& points, bool smpl, const std::string& path, std::ostream& out,
        std::ostream& err) {
  CFile file;
  const std::string refusal = OpenForTable(file, path, kPatchMode);
  if (!refusal.empty()) return Refused(err, path, refusal);
  try {
    NoteSizeUnset(file, path, err);
    const std::uint8_t channelByte = ReadLoopTable(file).channelByte;
    if (smpl) WriteStandardLoops(file, channelByte, points);
    WriteLoopTable(file, channelByte, points);
  } catch (const std::invalid_argument& e) {
    return Refused(err, path, e.what());
  } catch (const CFileException& e) {
    return Refused(err, path, e.what());
  }
  out << kPatchedText << '\n';
  return kExitSuccess;
}

// Whether a plain copy's failure is about the destination: what is at its name, or a file that
// cannot be made there, while the source itself can be read. What the source holds is the
// source's.
bool AboutDestination(const std::string& source, PlainCopyOutcome::Kind kind) {
  using Kind = PlainCopyOutcome::Kind;
  switch (kind) {
    case Kind::notRegular:
      return true;
    case Kind::notWave:
    case Kind::notPcm16:
    case Kind::damaged:
    case Kind::sourceShrank:
    case Kind::tooLong:
    case Kind::overSource:
      return false;
    default:
      return ::access(source.c_str(), R_OK) == 0;
  }
}

constexpr char kNoOwnLoopsText[] = "The file has no loops or cue points to take over";

// The points --keep-loops stores in the copy, and what it tells about them once the copy is
// made. A source that cannot be read takes none, and the copy itself then says why.
LoopPoints OwnPointsOf(const std::string& source, std::string& told) {
  const std::optional<OwnPointsPlan> plan = PlanOwnPoints(source);
  if (!plan) return {};
  told = plan->own.Empty() ? kNoOwnLoopsText : LeftOverText(plan->taken);
  return plan->taken.points;
}

// A plain copy, or with convert the 16-bit copy of these channels.
int PlainCopy(const std::string& source, const std::string& destination, bool keepLoops,
              std::optional<ChannelPair> convert, std::ostream& err) {
  std::string told;
  LoopPoints table{};
  try {
    if (keepLoops) table = OwnPointsOf(source, told);
  } catch (const CFileException& e) {
    return Refused(err, source, e.what());
  }
  std::string note;
  const PlainCopyOutcome outcome = convert
                                       ? WriteConvertedCopy(source, destination, *convert, table)
                                       : WritePlainCopy(source, destination, &note, table);
  if (!note.empty()) err << kLoopProgram << ": " << source << ": " << note << '\n';
  if (outcome.kind == PlainCopyOutcome::Kind::sourceUnopened) {
    return Refused(err, source, OpenFailure(source, outcome.osError));
  }
  if (outcome.kind == PlainCopyOutcome::Kind::copied) {
    for (const std::string& line : {KeptChunksText(outcome.kept), told}) {
      if (!line.empty()) err << kLoopProgram << ": " << source << ": " << line << '\n';
    }
    return kExitSuccess;
  }
  return Refused(err, AboutDestination(source, outcome.kind) ? destination : source,
                 PlainCopyText(outcome));
}

// The operands each form takes; the form is the option that chose it, or none for the dialog.
std::size_t OperandsOf(const std::string& form) {
  if (form == "--show" || form == "--set" || form == "--search") return 1;
  if (form == "--plain-copy" || form == "--convert" || form == "--crossfade") return 2;
  return 0;
}

// What the words of a command line ask for, read whole before anything runs: a further word
// could be the FILE of another form, so even --help and --version stand alone.
struct LoopCommand {
  std::string form;  // the option that chose it; empty for the dialog
  std::string pointList;
  std::string searchSpec;
  std::string fadeSpec;
  std::vector<std::string> operands;
  bool keepLoops = false;
  bool json = false;
  bool smpl = false;
  std::optional<ChannelPair> channels;
};

// "A,B": two different channels counted from 1, as ChannelPair counts them from 0.
ChannelPair ParseChannels(std::string_view list) {
  const std::size_t comma = list.find(',');
  const std::optional<int> a = ParseInteger(list.substr(0, comma));
  const std::optional<int> b =
      comma == std::string_view::npos ? std::nullopt : ParseInteger(list.substr(comma + 1));
  if (!a || !b || *a < 1 || *b < 1 || *a == *b) {
    throw UsageError("--channels takes two different channels counted from 1, as in 3,4");
  }
  return {*a - 1, *b - 1};
}

// Throws UsageError for words that make no command.
LoopCommand ReadCommand(const std::vector<std::string>& args) {
  LoopCommand command;
  OptionReader reader(args);
  while (reader.Next()) {
    const std::string& word = reader.Word();
    if (!reader.IsOption()) {
      command.operands.push_back(word);
      continue;
    }
    if (word == "--keep-loops" || word == "--json" || word == "--smpl") {
      reader.NoValue();
      (word == "--json"   ? command.json
       : word == "--smpl" ? command.smpl
                          : command.keepLoops) = true;
      continue;
    }
    if (word == "--channels") {
      command.channels = ParseChannels(reader.Value());
      continue;
    }
    if (word == "--set") {
      command.pointList = reader.Value();
    } else if (word == "--search") {
      command.searchSpec = reader.Value();
    } else if (word == "--crossfade") {
      command.fadeSpec = reader.Value();
    } else if (word == "--help" || word == "--version" || word == "--show" ||
               word == "--plain-copy" || word == "--convert" || word == "--scan" ||
               word == "--snap") {
      reader.NoValue();
    } else {
      throw UsageError("unknown option '" + word + "'");
    }
    // --set gives --crossfade its loop and the copy's points.
    const bool fadeWithPoints = (command.form == "--set" && word == "--crossfade") ||
                                (command.form == "--crossfade" && word == "--set");
    if (!command.form.empty() && !fadeWithPoints) {
      throw UsageError(command.form + " and " + word + " do not go together");
    }
    command.form = fadeWithPoints ? "--crossfade" : word;
  }
  if (command.keepLoops && command.form != "--plain-copy" && command.form != "--convert") {
    throw UsageError("--keep-loops goes with --plain-copy or --convert only");
  }
  if (command.smpl && command.form != "--set") throw UsageError("--smpl goes with --set only");
  if (command.channels && command.form != "--convert") {
    throw UsageError("--channels goes with --convert only");
  }
  if (command.json && command.form != "--scan") throw UsageError("--json goes with --scan only");
  if (command.form.empty()) {
    if (command.operands.size() > 1) throw UsageError("give one FILE at most");
  } else if (command.form == "--scan" || command.form == "--snap") {
    if (command.operands.empty()) throw UsageError(command.form + " needs one FILE or more");
  } else if (command.operands.size() != OperandsOf(command.form)) {
    throw UsageError("wrong number of arguments for " + command.form);
  }
  return command;
}

// Runs a command of one of the forms.
int Run(const LoopCommand& command, std::ostream& out, std::ostream& err) {
  const std::vector<std::string>& operands = command.operands;
  if (command.form == "--help") {
    out << kUsage;
    return kExitSuccess;
  }
  if (command.form == "--version") {
    out << VersionLine(kLoopProgram, kLoopVersion);
    return kExitSuccess;
  }
  if (command.form == "--show") return Show(operands[0], out, err);
  if (command.form == "--set") {
    return Set(ParsePoints(command.pointList), command.smpl, operands[0], out, err);
  }
  if (command.form == "--search") return SearchCommand(command.searchSpec, operands[0], out, err);
  if (command.form == "--scan") return ScanCommand(operands, command.json, out, err);
  if (command.form == "--snap") return SnapCommand(operands, out, err);
  if (command.form == "--crossfade") {
    if (command.pointList.empty()) throw UsageError("--crossfade needs --set A,B");
    return CrossfadeCommand(command.fadeSpec, ParsePoints(command.pointList), operands[0],
                            operands[1], out, err);
  }
  std::optional<ChannelPair> convert;
  if (command.form == "--convert") convert = command.channels.value_or(kFirstTwoChannels);
  return PlainCopy(operands[0], operands[1], command.keepLoops, convert, err);
}

}  // namespace

std::optional<int> RunLoopCommandLine(const std::vector<std::string>& args, std::ostream& out,
                                      std::ostream& err, std::string& fileToOpen) {
  if (args.empty()) return std::nullopt;
  try {
    const LoopCommand command = ReadCommand(args);
    if (!command.form.empty()) return Run(command, out, err);
    if (!command.operands.empty()) fileToOpen = command.operands[0];
    return std::nullopt;
  } catch (const UsageError& error) {
    err << UsageErrorLine(kLoopProgram, error);
    return kExitUsage;
  } catch (const CFileException& e) {
    return Refused(err, e.what());
  }
}
