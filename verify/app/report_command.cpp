#include "verify/app/report_command.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <locale>
#include <sstream>
#include <utility>

#include "cli/terminal_progress.h"
#include "timecode_format/timecode_layout.h"
#include "verify/read/sound_file.h"
#include "verify/report/report_csv.h"
#include "verify/report/report_file.h"
#include "verify/report/report_format.h"
#include "verify/report/report_json.h"
#include "verify/report/report_labels.h"
#include "verify/report/report_plot.h"
#include "verify/report/report_text.h"

namespace {

constexpr char kProgram[] = "vrellok-verify";

constexpr char kUsage[] =
    "Usage: vrellok-verify [--type F|S] [--method 1|2] [--id K] [--channel C]\n"
    "                      [--reference TC.wav | --frames FIRST-LAST] [--tolerance SAMPLES]\n"
    "                      [--csv FILE] [--labels FILE] [--plot FILE.png] [--json | --follow]\n"
    "                      [--raw RATE,CHANNELS,FORMAT] RECORDING\n"
    "\n"
    "Reads a recording of TC.wav back: finds every frame and the sample where it landed, and\n"
    "reports missing, unreadable, repeated and out-of-order frames, wrong check symbols,\n"
    "latency, drift, jitter and every discontinuity, each with its time and sample. Type,\n"
    "method, DTMF ID and channel are found by themselves; the options fix them. RECORDING -\n"
    "reads standard input (a pipe or a live capture); Ctrl+C ends it and gives the report.\n"
    "\n"
    "  --type F|S          DTMF-F (44100 Hz) or DTMF-S (36015 Hz)\n"
    "  --method 1|2        the framing method\n"
    "  --id K              the DTMF ID, 1 to 10\n"
    "  --channel C         read only this channel, counted from 1 (else every channel\n"
    "                      that carries timecode, with their offsets)\n"
    "  --reference TC.wav  the file that was played: every one of its frames is expected;\n"
    "                      once per file where several were played one after the other\n"
    "  --frames FIRST-LAST the frames expected, without the file\n"
    "  --tolerance SAMPLES a jump larger than this is a discontinuity (found by itself\n"
    "                      from the recording's scatter otherwise)\n"
    "  --csv FILE          one row per frame, missing and unreadable ones included\n"
    "  --labels FILE       an Audacity label track with every frame and every fault\n"
    "  --plot FILE.png     each frame's offset against its number, as a picture (.png,\n"
    "                      .jpg or .jpeg)\n"
    "  --json              the report as JSON on stdout instead of the summary\n"
    "  --follow            each fault as one line on stdout the moment it is found, and a\n"
    "                      status line every 10 s of audio\n"
    "  --raw RATE,CHANNELS,FORMAT\n"
    "                      the recording is headerless samples (FORMAT s16le, s24le,\n"
    "                      s32le or f32le), e.g. from parec --raw: --raw 48000,2,s16le\n"
    "  --help, --version\n"
    "An option's value follows it as the next word or after '=' (--id=3).\n"
    "\n"
    "Exit status: 0 every frame judged there once, in order, right, without a break; 1 the\n"
    "recording shows a fault (also a sample that is no number, or a file that ends before its\n"
    "header says); 2 the file cannot be read or holds no timecode, an output cannot be\n"
    "written, or the command is wrong.\n";

// libsndfile's and the system's reasons are passed on as they come; the reason stays one line
// even if one of them ends in a line break.
std::string OneLine(std::string text) {
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  std::replace(text.begin(), text.end(), '\n', ' ');
  return text;
}

// An output named like the recording or the reference would overwrite what is being read (the
// TC.wav that was played, lost to a CSV), and two outputs of one name would leave only the later:
// all are refused before anything is read or written.
void RefuseClashingOutputs(const CommandLine& command) {
  namespace fs = std::filesystem;
  const std::pair<const char*, const std::optional<std::string>*> outputs[] = {
      {"--csv", &command.csv}, {"--labels", &command.labels}, {"--plot", &command.plot}};
  std::vector<std::pair<const char*, fs::path>> seen;
  for (const auto& [option, path] : outputs) {
    if (!*path) continue;
    std::error_code ignored;
    if (command.recording != kStandardInput && fs::equivalent(**path, command.recording, ignored)) {
      throw UsageError(std::string(option) + " names the recording itself");
    }
    std::vector<std::string> references = command.options.laterReferences;
    references.push_back(command.options.referencePath);
    for (const std::string& reference : references) {
      if (!reference.empty() && fs::equivalent(**path, reference, ignored)) {
        throw UsageError(std::string(option) + " names the --reference file");
      }
    }
    // Resolved from the current folder, so "a.txt" and "./a.txt" are one file even before it
    // exists.
    const fs::path where = fs::weakly_canonical(fs::absolute(**path, ignored), ignored);
    for (const auto& [other, otherWhere] : seen) {
      if (otherWhere == where) {
        throw UsageError(std::string(other) + " and " + option + " name the same file");
      }
    }
    seen.emplace_back(option, where);
  }
}

// Shows the reader's progress on stderr's bar, which stays hidden unless stderr is a terminal
// and the reading takes a while.
class ProgressBar : public VerifyProgress {
 public:
  // The name without its folders, so the bar keeps to one line of the terminal.
  explicit ProgressBar(const std::string& file)
      : m_bar("Reading " + std::filesystem::path(file).filename().string()) {}
  void Update(std::uint64_t done, std::uint64_t total) override { m_bar.Update(done, total); }

 private:
  TerminalProgress m_bar;
};

// Every output file is written in full beside its place before any of them is put in place.
void WriteOutputs(const CommandLine& command, const VerifyReport& report, ReportFiles& files) {
  const auto text = [&report](void (*writer)(std::ostream&, const VerifyReport&)) {
    std::ostringstream bytes;
    writer(bytes, report);
    return bytes.str();
  };
  if (command.csv) files.Add(*command.csv, text(WriteCsv));
  if (command.labels) files.Add(*command.labels, text(WriteLabels));
  if (command.plot) files.Add(*command.plot, RenderPlot(report, *PlotFormatFor(*command.plot)));
}

// --frames FIRST-LAST: two frame numbers, the first not above the last.
std::pair<int, int> FrameRange(const std::string& text) {
  const std::size_t dash = text.find('-');
  const std::string wrong = "--frames needs FIRST-LAST, such as 1-40, not '" + text + "'";
  if (dash == std::string::npos) throw UsageError(wrong);
  const std::optional<int> first = ParseInteger(text.substr(0, dash));
  const std::optional<int> last = ParseInteger(text.substr(dash + 1));
  if (!first || !last || *first < 1 || *last < *first) throw UsageError(wrong);
  return {*first, *last};
}

RawFormat RawValue(const std::string& text) {
  const std::optional<RawFormat> raw = ParseRawFormat(text, kMaxSampleRate);
  if (!raw) {
    throw UsageError(
        "--raw needs RATE,CHANNELS,FORMAT with FORMAT s16le, s24le, s32le or f32le, "
        "such as 48000,2,s16le, not '" +
        text + "'");
  }
  return *raw;
}

double ToleranceValue(const std::string& text) {
  std::istringstream in(text);
  in.imbue(std::locale::classic());
  double value = 0.0;
  if (!(in >> value) || !in.eof() || !(value > 0.0) || !std::isfinite(value)) {
    throw UsageError("--tolerance needs a number of samples above 0, not '" + text + "'");
  }
  return value;
}

// The options that say how to read the recording and what it should hold; false where `word`
// is none of them.
bool ReadRecordingOption(const std::string& word, OptionReader& reader, VerifyOptions& options) {
  if (word == "--type") {
    options.type = *TimecodeTypeOfLetter(LetterValue(word, reader.Value(), kTimecodeTypeLetters));
  } else if (word == "--method") {
    options.method = IntegerValue(word, reader.Value(), kMethod1, kMethod2);
  } else if (word == "--id") {
    options.dtmfId = IntegerValue(word, reader.Value(), kMinDtmfId, kMaxDtmfId);
  } else if (word == "--channel") {
    options.channel = IntegerValue(word, reader.Value(), 1);
  } else if (word == "--reference") {
    std::string reference = reader.Value();
    if (reference.empty()) throw UsageError("--reference needs a file");
    // Given again: the next file of a playlist.
    if (options.referencePath.empty()) {
      options.referencePath = std::move(reference);
    } else {
      options.laterReferences.push_back(std::move(reference));
    }
  } else if (word == "--frames") {
    const auto [first, last] = FrameRange(reader.Value());
    options.expectedFirst = first;
    options.expectedLast = last;
  } else if (word == "--tolerance") {
    options.toleranceSamples = ToleranceValue(reader.Value());
  } else if (word == "--raw") {
    options.raw = RawValue(reader.Value());
  } else {
    return false;
  }
  return true;
}

// Options that each make sense but not together.
void CheckCombination(const CommandLine& command) {
  if (command.json && command.follow) {
    throw UsageError("--json and --follow both want stdout: give one of them");
  }
  if (command.options.referencePath == kStandardInput && command.recording == kStandardInput) {
    throw UsageError("--reference and the recording cannot both be standard input");
  }
  if (!command.options.referencePath.empty() && command.options.expectedFirst) {
    throw UsageError("--reference and --frames both state the frames expected: give one");
  }
  if (command.plot && !PlotFormatFor(*command.plot)) {
    throw UsageError("--plot writes .png, .jpg or .jpeg, not '" + *command.plot + "'");
  }
}

}  // namespace

CommandLine ParseCommandLine(const std::vector<std::string>& args) {
  CommandLine command;
  bool recordingGiven = false;
  OptionReader reader(args);
  while (reader.Next()) {
    const std::string& word = reader.Word();
    if (!reader.IsOption()) {
      if (recordingGiven) throw UsageError("one recording at a time, not also '" + word + "'");
      command.recording = word;
      recordingGiven = true;
    } else if (ReadRecordingOption(word, reader, command.options)) {
      continue;
    } else if (word == "--follow") {
      reader.NoValue();
      command.follow = true;
    } else if (word == "--csv") {
      command.csv = reader.Value();
    } else if (word == "--labels") {
      command.labels = reader.Value();
    } else if (word == "--plot") {
      command.plot = reader.Value();
    } else if (word == "--json") {
      reader.NoValue();
      command.json = true;
    } else if (word == "--help" || word == "--version") {
      reader.NoValue();
      (word == "--version" ? command.version : command.help) = true;
      return command;
    } else {
      throw UsageError("unknown option '" + word + "'");
    }
  }
  if (!recordingGiven) throw UsageError("no recording given");
  CheckCombination(command);
  return command;
}

int RunVerifyCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
                     const Verifier& verify) {
  try {
    CommandLine command = ParseCommandLine(args);
    if (command.help || command.version) {
      out << (command.help ? std::string(kUsage) : VersionLine(kProgram));
      if (!StdoutWritten(out)) {
        err << kProgram << ": cannot write to standard output\n";
        return kExitFailure;
      }
      return kExitSuccess;
    }
    // A path that cannot take the output should stop the command before a long reading.
    RefuseClashingOutputs(command);
    for (const auto& path : {command.csv, command.labels, command.plot}) {
      if (path) CheckReplaceable(*path);
    }
    if (command.follow) {
      // Each event goes out the moment the frames after it settle it, for someone watching a
      // live capture, as the summary will name it; a status line every 10 s of audio says the
      // reading goes on.
      command.options.onFault = [&out](const std::string& line) { out << line << std::endl; };
      command.options.onStatus = command.options.onFault;
      command.options.onEvent = [&out](const PlaybackEvent& event) {
        out << EventText(event) << std::endl;
      };
    }
    VerifyReport report;
    {
      ProgressBar progress(command.recording);
      report = verify(command.recording, command.options, &progress);
    }
    ReportFiles files;
    WriteOutputs(command, report, files);
    if (command.json) {
      WriteJson(out, report);
    } else {
      WriteSummary(out, report);
    }
    if (!StdoutWritten(out)) {
      err << kProgram << ": cannot write the report to stdout\n";
      return kExitUsage;
    }
    // Only now, with every output and the report written, do the files replace earlier ones.
    files.CommitAll();
    return report.Clean() ? kExitSuccess : kExitFailure;
  } catch (const UsageError& error) {
    err << UsageErrorLine(kProgram, error);
  } catch (const std::exception& error) {
    // A recording that gives nothing, an output that cannot be written, and also running out
    // of memory: one line and status 2, never an abort a script would take for a crash.
    err << kProgram << ": " << OneLine(error.what()) << '\n';
  }
  return kExitUsage;
}
