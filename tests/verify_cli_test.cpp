#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QColor>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStringList>
#include <cmath>
#include <csignal>
#include <filesystem>
#include <limits>
#include <sstream>
#include <string>
#include <vector>

#include "child_process.h"
#include "cli/version.h"
#include "scratch_dir.h"
#include "verify/report_command.h"
#include "verify/report_csv.h"
#include "verify/report_json.h"
#include "verify/report_labels.h"
#include "verify/report_plot.h"
#include "verify/report_text.h"

namespace {

using Args = std::vector<std::string>;

// A 48000 Hz recording of a DTMF-F TC.wav: frames 1 to 12 with frame 6 lost, a 661-sample
// dropout before frame 9 and a wrong check symbol in frame 10.
VerifyReport FaultyReport() {
  VerifyReport r;
  r.file = "take \"2\".wav";
  r.sampleRate = 48000;
  r.channel = 2;
  r.channels = 2;
  const double spacing = 24576.0 * 48000 / 44100;
  for (int n = 1; n <= 12; ++n) {
    if (n == 6) continue;
    const double jump = n >= 9 ? -661.0 : 0.0;
    r.frames.push_back({n, 1000.0 + (n - 1) * spacing + jump, jump, n != 10, -9.5});
  }
  r.firstFrame = 1;
  r.lastFrame = 12;
  r.framesFound = 11;
  r.missing = {6};
  r.checkFailures = {10};
  r.latencySamples = 480.0;
  r.driftPpm = -0.00001;
  r.jitterRmsSamples = 0.0123;
  r.jitterMaxSamples = 0.04;
  r.discontinuities = {{9, -661.0, 1000.0 + 8 * spacing - 661.0}};
  r.missingPlaces = {{6, 1000.0 + 5 * spacing}};
  r.judgedFirst = 1;
  r.judgedLast = 12;
  r.framesDeclared = 600000;
  r.framesRead = 600000;
  return r;
}

VerifyReport CleanReport() {
  VerifyReport r = FaultyReport();
  r.missing.clear();
  r.missingPlaces.clear();
  r.checkFailures.clear();
  r.discontinuities.clear();
  for (FoundFrame& frame : r.frames) frame.checkOk = true;
  return r;
}

// Runs the command on a reader that hands back report, and keeps what it printed.
struct CommandRun {
  int status = -1;
  std::string out;
  std::string err;
  int readings = 0;
  VerifyOptions options;
};

CommandRun RunWith(const Args& args, const VerifyReport& report = CleanReport(),
                   const char* readError = nullptr) {
  CommandRun run;
  std::ostringstream out, err;
  run.status = RunVerifyCommand(
      args, out, err, [&](const std::string& path, const VerifyOptions& options, VerifyProgress*) {
        ++run.readings;
        run.options = options;
        if (readError) throw VerifyError(path + ": " + readError);
        VerifyReport copy = report;
        copy.file = path;
        return copy;
      });
  run.out = out.str();
  run.err = err.str();
  return run;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

template <typename Writer>
std::string Written(Writer writer, const VerifyReport& report) {
  std::ostringstream out;
  writer(out, report);
  return out.str();
}

// --- The command line -------------------------------------------------------------------------

TEST(VerifyCommandLine, TakesEveryOptionInBothSpellings) {
  const CommandLine c =
      ParseCommandLine({"--type", "s", "--method=1", "--id", "10", "--channel=3", "--csv", "a.csv",
                        "--labels=b.txt", "--plot", "c.png", "--json", "rec.wav"});
  EXPECT_EQ(c.options.type, 'S');
  EXPECT_EQ(c.options.method, 1);
  EXPECT_EQ(c.options.dtmfId, 10);
  EXPECT_EQ(c.options.channel, 3);
  EXPECT_EQ(c.csv, "a.csv");
  EXPECT_EQ(c.labels, "b.txt");
  EXPECT_EQ(c.plot, "c.png");
  EXPECT_TRUE(c.json);
  EXPECT_EQ(c.recording, "rec.wav");

  const CommandLine plain = ParseCommandLine({"rec.wav"});
  EXPECT_FALSE(plain.options.type || plain.options.method || plain.options.dtmfId ||
               plain.options.channel || plain.csv || plain.labels || plain.plot || plain.json);
  // After "--" a name that starts with a dash is the recording.
  EXPECT_EQ(ParseCommandLine({"--", "--odd.wav"}).recording, "--odd.wav");
}

TEST(VerifyCommandLine, UsageErrorsSayOneLineAndReadNothing) {
  const std::vector<std::pair<Args, std::string>> cases = {
      {{}, "no recording given"},
      {{"--json"}, "no recording given"},
      {{"--frobnicate", "r.wav"}, "unknown option '--frobnicate'"},
      {{"-x", "r.wav"}, "unknown option '-x'"},
      {{"-h", "r.wav"}, "unknown option '-h'"},  // as vrellok and loop: --help only
      {{"--id", "seven", "r.wav"}, "--id needs an integer, not 'seven'"},
      {{"--id", "3x", "r.wav"}, "--id needs an integer, not '3x'"},
      {{"--channel", "", "r.wav"}, "--channel needs an integer"},
      {{"--channel", "99999999999", "r.wav"}, "--channel needs an integer"},
      {{"--id", "0", "r.wav"}, "--id must be between 1 and 10, not 0"},
      {{"--id=11", "r.wav"}, "--id must be between 1 and 10"},
      {{"--method", "3", "r.wav"}, "--method must be 1 or 2, not 3"},
      {{"--channel", "0", "r.wav"}, "--channel must be"},
      {{"--type", "X", "r.wav"}, "--type must be F or S, not 'X'"},
      {{"r.wav", "--csv"}, "--csv needs a value"},
      {{"--json=yes", "r.wav"}, "--json takes no value"},
      {{"a.wav", "b.wav"}, "one recording at a time"},
  };
  for (const auto& [args, message] : cases) {
    const CommandRun run = RunWith(args);
    EXPECT_EQ(run.status, 2) << message;
    EXPECT_EQ(run.readings, 0) << message;
    EXPECT_EQ(run.out, "") << message;
    EXPECT_EQ(run.err.find("vrellok-verify: "), 0u) << run.err;
    EXPECT_NE(run.err.find(message), std::string::npos) << run.err;
    EXPECT_EQ(Lines(run.err).size(), 1u) << run.err;
  }
}

TEST(VerifyCommandLine, HelpAndVersionAnswerWithoutARecording) {
  const CommandRun help = RunWith({"--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_EQ(help.readings, 0);
  for (const char* option : {"--type F|S", "--method 1|2", "--id K", "--channel C", "--csv FILE",
                             "--labels FILE", "--plot FILE.png", "--json", "RECORDING"}) {
    EXPECT_NE(help.out.find(option), std::string::npos) << option;
  }
  const CommandRun version = RunWith({"--version"});
  EXPECT_EQ(version.status, 0);
  EXPECT_EQ(version.out, std::string("vrellok-verify ") + kProjectVersion + "\n");
  EXPECT_EQ(version.err, "");
}

TEST(VerifyCommandLine, HandsTheOptionsToTheReader) {
  const CommandRun run =
      RunWith({"--type", "F", "--method", "2", "--id", "4", "--channel", "2", "r.wav"});
  EXPECT_EQ(run.readings, 1);
  EXPECT_EQ(run.options.type, 'F');
  EXPECT_EQ(run.options.method, 2);
  EXPECT_EQ(run.options.dtmfId, 4);
  EXPECT_EQ(run.options.channel, 2);
}

// --- Exit status -----------------------------------------------------------------------------

TEST(VerifyExitStatus, ZeroOnlyWhenEveryFrameIsThereOnceInOrderAndRight) {
  EXPECT_EQ(RunWith({"r.wav"}, CleanReport()).status, 0);
  const std::vector<void (*)(VerifyReport&)> faults = {
      [](VerifyReport& r) { r.missing = {3}; },
      [](VerifyReport& r) { r.duplicated = {4}; },
      [](VerifyReport& r) { r.outOfOrder = {5}; },
      [](VerifyReport& r) { r.checkFailures = {7}; },
      [](VerifyReport& r) {
        r.discontinuities = {{8, 12.5}};
      },
  };
  for (const auto& fault : faults) {
    VerifyReport report = CleanReport();
    fault(report);
    const CommandRun summary = RunWith({"r.wav"}, report);
    EXPECT_EQ(summary.status, 1);
    EXPECT_EQ(summary.err, "");
    EXPECT_EQ(RunWith({"--json", "r.wav"}, report).status, 1);
  }
}

TEST(VerifyExitStatus, TwoWithTheReadersReasonWhenTheFileGivesNothing) {
  const CommandRun run = RunWith({"--json", "gone.wav"}, CleanReport(), "holds no timecode");
  EXPECT_EQ(run.status, 2);
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.err, "vrellok-verify: gone.wav: holds no timecode\n");
}

// --- Summary ---------------------------------------------------------------------------------

TEST(VerifySummary, SaysEveryFindingOnItsOwnLine) {
  VerifyReport report = FaultyReport();
  report.missing = {6, 7, 8, 9, 12};
  report.methodAssumed = true;
  const std::string text = Written(WriteSummary, report);
  for (const char* line :
       {"file             take \"2\".wav\n", "type             DTMF-F\n",
        "method           2 (assumed: the recording holds neither frame 1 nor the * that ends the "
        "last frame)\n",
        "DTMF ID          1\n", "sample rate      48000 Hz\n", "channel          2 of 2\n",
        "frames           1..12, 11 found\n", "missing          6-9, 12\n",
        "duplicated       none\n", "check failures   10\n",
        "latency          480.00 samples (10.000 ms)\n",
        // a drift that rounds to zero shows no sign
        "drift            0.00 ppm\n", "jitter           0.012 samples RMS, 0.040 max\n",
        "discontinuities  1, sum -661.00 samples (-13.771 ms), largest -661.00 samples "
        "(-13.771 ms)\n",
        "  at frame 9: -661.00 samples (-13.771 ms), at 4.465 s, sample 214334.10\n",
        "result           faults found\n"}) {
    EXPECT_NE(text.find(line), std::string::npos) << line << "\nin\n" << text;
  }
  EXPECT_EQ(text.find("-0.00"), std::string::npos);

  report = CleanReport();
  report.driftPpm = 100.004;
  const std::string clean = Written(WriteSummary, report);
  EXPECT_NE(clean.find("method           2\n"), std::string::npos);
  EXPECT_NE(clean.find("drift            +100.00 ppm\n"), std::string::npos);
  EXPECT_NE(clean.find("discontinuities  none\n"), std::string::npos);
  EXPECT_NE(clean.find("result           clean\n"), std::string::npos);
}

// --- JSON ------------------------------------------------------------------------------------

TEST(VerifyJson, IsOneObjectWithExactlyTheDocumentedKeys) {
  VerifyReport report = FaultyReport();
  report.type = 'S';
  report.duplicated = {3, 4};
  report.outOfOrder = {4};
  const std::string text = Written(WriteJson, report);
  QJsonParseError error{};
  const QJsonDocument doc = QJsonDocument::fromJson(QByteArray::fromStdString(text), &error);
  ASSERT_EQ(error.error, QJsonParseError::NoError) << text;
  ASSERT_TRUE(doc.isObject());
  const QJsonObject o = doc.object();
  QStringList keys = o.keys();
  keys.sort();
  QStringList expected = {
      "type", "method", "dtmf_id", "sample_rate", "channel", "first_frame", "last_frame",
      "frames_found", "missing", "duplicated", "out_of_order", "check_failures", "latency_samples",
      "drift_ppm", "jitter_rms_samples", "jitter_max_samples", "discontinuities",
      // added later; every key above keeps its meaning
      "file", "verdict", "method_assumed", "channels", "samples_declared", "samples_read",
      "truncated", "judged_first", "judged_last", "unreadable", "non_finite_count",
      "non_finite_samples", "threshold_samples", "sample_exact", "frames"};
  expected.sort();
  EXPECT_EQ(keys, expected);

  EXPECT_EQ(o["type"].toString(), "S");
  EXPECT_EQ(o["method"].toInt(), 2);
  EXPECT_EQ(o["dtmf_id"].toInt(), 1);
  EXPECT_EQ(o["sample_rate"].toInt(), 48000);
  EXPECT_EQ(o["channel"].toInt(), 2);
  EXPECT_EQ(o["first_frame"].toInt(), 1);
  EXPECT_EQ(o["last_frame"].toInt(), 12);
  EXPECT_EQ(o["frames_found"].toInt(), 11);
  EXPECT_EQ(o["missing"].toArray(), QJsonArray({6}));
  EXPECT_EQ(o["duplicated"].toArray(), QJsonArray({3, 4}));
  EXPECT_EQ(o["out_of_order"].toArray(), QJsonArray({4}));
  EXPECT_EQ(o["check_failures"].toArray(), QJsonArray({10}));
  EXPECT_DOUBLE_EQ(o["latency_samples"].toDouble(), 480.0);
  EXPECT_DOUBLE_EQ(o["drift_ppm"].toDouble(), 0.0);
  EXPECT_DOUBLE_EQ(o["jitter_rms_samples"].toDouble(), 0.0123);
  EXPECT_DOUBLE_EQ(o["jitter_max_samples"].toDouble(), 0.04);
  const QJsonArray jumps = o["discontinuities"].toArray();
  ASSERT_EQ(jumps.size(), 1);
  EXPECT_EQ(jumps[0].toObject().keys(), QStringList({"frame", "jump_samples", "sample", "time_s"}));
  EXPECT_EQ(jumps[0].toObject()["frame"].toInt(), 9);
  EXPECT_DOUBLE_EQ(jumps[0].toObject()["jump_samples"].toDouble(), -661.0);
}

TEST(VerifyJson, StaysValidWhenTheFitGaveNoNumber) {
  VerifyReport report = CleanReport();
  report.driftPpm = std::numeric_limits<double>::quiet_NaN();
  report.jitterMaxSamples = std::numeric_limits<double>::infinity();
  const std::string text = Written(WriteJson, report);
  QJsonParseError error{};
  const QJsonObject o = QJsonDocument::fromJson(QByteArray::fromStdString(text), &error).object();
  ASSERT_EQ(error.error, QJsonParseError::NoError) << text;
  EXPECT_TRUE(o["drift_ppm"].isNull());
  EXPECT_TRUE(o["jitter_max_samples"].isNull());
}

// --- CSV and labels --------------------------------------------------------------------------

TEST(VerifyCsv, OneRowPerFrameFoundInRecordingOrder) {
  const auto lines = Lines(Written(WriteCsv, FaultyReport()));
  ASSERT_EQ(lines.size(), 13u);  // header, the 11 frames found and the lost one
  EXPECT_EQ(lines[0], "frame,found_sample,offset_samples,check_ok,level_dbfs,time_s,status");
  EXPECT_EQ(lines[1], "1,1000.0000,0.0000,1,-9.50,0.0208333,found");
  // Frame 6 was lost: its row says where it would have been, with nothing measured.
  EXPECT_EQ(lines[6], "6,134746.9388,,,,2.8072279,missing");
  EXPECT_EQ(lines[7].substr(0, 2), "7,");
  EXPECT_EQ(lines[10], "10,241083.4898,-661.0000,0,-9.50,5.0225727,found");
}

TEST(VerifyLabels, EachFrameSpansItsAudioWithItsNumber) {
  VerifyReport report = FaultyReport();
  const auto lines = Lines(Written(WriteLabels, report));
  ASSERT_EQ(lines.size(), 13u);  // 11 frames, the lost frame and the jump
  // One frame of DTMF-F lasts 24576 / 44100 s, whatever rate the recording has.
  EXPECT_EQ(lines[0], "0.020833333\t0.578112245\t1");
  // Frame 5 is followed by frame 7: the lost frame 6 does not lengthen it, and is a point.
  EXPECT_EQ(lines[4], "2.249948980\t2.807227891\t5");
  EXPECT_EQ(lines[5], "2.807227891\t2.807227891\tmissing 6");
  // Frame 8 is cut short by the dropout: it ends where frame 9 begins, where the jump is.
  EXPECT_EQ(lines[7], "3.921785714\t4.465293793\t8");
  EXPECT_EQ(lines[9], "4.465293793\t4.465293793\tjump -661.00");
  EXPECT_EQ(lines[12], "6.137130527\t6.694409439\t12");

  // Under method 1 frame 1 carries two more slots of silence.
  report = VerifyReport{};
  report.sampleRate = 48000;
  report.method = 1;
  report.frames = {{1, 0.0, 0.0, true, -9.5}};
  EXPECT_EQ(Written(WriteLabels, report), "0.000000000\t0.638911565\t1\n");
  // DTMF-S runs at 36015 Hz.
  report.type = 'S';
  report.method = 2;
  EXPECT_EQ(Written(WriteLabels, report), "0.000000000\t0.682382341\t1\n");
  // A slip of a single sample sits where it was found to a small fraction of a sample.
  report.frames.push_back({2, 32752.25, -0.75, true, -9.5});
  report.discontinuities = {{2, -0.75, 32752.25}};
  EXPECT_NE(Written(WriteLabels, report).find("0.682338542\t0.682338542\tjump -0.75\n"),
            std::string::npos);
}

// --- Plot ------------------------------------------------------------------------------------

// How many pixels of the image are close to colour.
int PixelsLike(const QImage& image, QColor colour) {
  int count = 0;
  for (int y = 0; y < image.height(); ++y) {
    for (int x = 0; x < image.width(); ++x) {
      const QColor c = image.pixelColor(x, y);
      if (std::abs(c.red() - colour.red()) + std::abs(c.green() - colour.green()) +
              std::abs(c.blue() - colour.blue()) <
          30) {
        ++count;
      }
    }
  }
  return count;
}

TEST(VerifyPlot, IsAPngThatMarksBreaksAndCheckFailures) {
  const std::string faulty = RenderPlot(FaultyReport());
  ASSERT_GT(faulty.size(), 8u);
  EXPECT_EQ(faulty.substr(0, 8), "\x89PNG\r\n\x1a\n");
  QImage image;
  ASSERT_TRUE(image.loadFromData(QByteArray::fromStdString(faulty), "PNG"));
  EXPECT_GE(image.width(), 800);
  EXPECT_GE(image.height(), 500);

  const QColor breakOrange(0xe0, 0x7b, 0x00), faultRed(0xc8, 0x1e, 0x1e);
  // Without a fault only the legend shows the two marks.
  QImage clean;
  ASSERT_TRUE(clean.loadFromData(QByteArray::fromStdString(RenderPlot(CleanReport())), "PNG"));
  EXPECT_GT(PixelsLike(image, breakOrange), PixelsLike(clean, breakOrange) + 200);
  EXPECT_GT(PixelsLike(image, faultRed), PixelsLike(clean, faultRed) + 20);
}

TEST(VerifyPlot, DrawsAReportWithoutFrames) {
  VerifyReport empty;
  QImage image;
  EXPECT_TRUE(image.loadFromData(QByteArray::fromStdString(RenderPlot(empty)), "PNG"));
}

// --- Output files ----------------------------------------------------------------------------

TEST(VerifyOutputFiles, AreWrittenBesideTheSummaryReplacingEarlierOnes) {
  ScratchDir dir;
  WriteBytes(dir.File("r.csv"), Bytes{'o', 'l', 'd'});
  const CommandRun run = RunWith({"--csv", dir.File("r.csv"), "--labels", dir.File("r.txt"),
                                  "--plot", dir.File("r.png"), "r.wav"},
                                 FaultyReport());
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.out.find("result"), std::string::npos);
  EXPECT_EQ(run.err, "");
  const Bytes csv = ReadBytes(dir.File("r.csv"));
  EXPECT_EQ(Lines(std::string(csv.begin(), csv.end())).size(), 13u);
  const Bytes labels = ReadBytes(dir.File("r.txt"));
  EXPECT_EQ(Lines(std::string(labels.begin(), labels.end())).size(), 13u);
  EXPECT_EQ(QImage(QString::fromStdString(dir.File("r.png"))).width(), 1200);
  // Nothing but the three files is left in the folder.
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path()), {}), 3);
}

TEST(VerifyOutputFiles, AnUnwritablePathStopsTheCommandBeforeTheReading) {
  ScratchDir dir;
  std::filesystem::create_directory(dir.File("folder"));
  for (const Args& args : {Args{"--csv", dir.File("none/r.csv"), "r.wav"},
                           Args{"--labels", dir.File("folder"), "r.wav"},
                           Args{"--plot", "/proc/version.png", "r.wav"}}) {
    const CommandRun run = RunWith(args);
    EXPECT_EQ(run.status, 2) << args[1];
    EXPECT_EQ(run.readings, 0) << args[1];
    EXPECT_EQ(run.err.find("vrellok-verify: cannot write "), 0u) << run.err;
    EXPECT_EQ(Lines(run.err).size(), 1u) << run.err;
  }
}

// A full disk, made real with a file-size limit in a child process: the command fails with exit
// status 2 and the earlier file stays exactly as it was, with nothing left beside it.
TEST(VerifyOutputFiles, AFailedWriteLeavesTheEarlierFileAlone) {
  ScratchDir dir;
  const std::string csv = dir.File("r.csv");
  WriteBytes(csv, Bytes(10, 'x'));
  EXPECT_EQ(InChild([&] {
              const rlimit limit{200, 200};
              if (::signal(SIGXFSZ, SIG_IGN) == SIG_ERR || ::setrlimit(RLIMIT_FSIZE, &limit) != 0) {
                return 99;
              }
              const CommandRun run = RunWith({"--csv", csv, "r.wav"}, FaultyReport());
              const bool said = run.err.find("File too large") != std::string::npos;
              return said && Lines(run.err).size() == 1 ? run.status : 98;
            }),
            2);
  EXPECT_EQ(ReadBytes(csv), Bytes(10, 'x'));
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path()), {}), 1);
}

// The name is replaced, never written through: a link's target and a FIFO's reader see nothing.
// A link to a file at an output's name is replaced, never written through.
TEST(VerifyOutputFiles, ALinkAtTheNameIsReplacedAndNeverWrittenThrough) {
  ScratchDir dir;
  const std::string target = dir.File("target.csv");
  WriteBytes(target, Bytes{'k', 'e', 'e', 'p'});
  std::filesystem::create_symlink(target, dir.File("r.csv"));
  const CommandRun run = RunWith({"--csv", dir.File("r.csv"), "r.wav"}, FaultyReport());
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(ReadBytes(target), (Bytes{'k', 'e', 'e', 'p'}));
  EXPECT_TRUE(std::filesystem::is_regular_file(std::filesystem::symlink_status(dir.File("r.csv"))));
  const Bytes csv = ReadBytes(dir.File("r.csv"));
  EXPECT_EQ(Lines(std::string(csv.begin(), csv.end())).size(), 13u);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path()), {}), 2);
}

// Names that must never become an output: a FIFO or a device (run as root, /dev/null itself
// would be replaced), the recording being read, or a name another output already took. Each is
// refused before the reading, and nothing is touched.
TEST(VerifyOutputFiles, FifosDevicesTheRecordingAndSharedNamesAreRefused) {
  ScratchDir dir;
  const std::string fifo = dir.File("r.txt");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
  const std::string recording = dir.File("r.wav");
  WriteBytes(recording, Bytes{'w', 'a', 'v'});
  std::filesystem::create_symlink("/dev/null", dir.File("null.csv"));
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
      {{"--labels", fifo, recording}, "not a regular file"},
      {{"--csv", "/dev/null", recording}, "not a regular file"},
      {{"--csv", dir.File("null.csv"), recording}, "not a regular file"},
      {{"--labels", recording, recording}, "--labels names the recording itself"},
      {{"--csv", dir.File("a"), "--labels", dir.File("./a"), recording},
       "--csv and --labels name the same file"},
  };
  for (const auto& [args, reason] : cases) {
    SCOPED_TRACE(args[1]);
    const CommandRun run = RunWith(args);
    EXPECT_EQ(run.status, 2);
    EXPECT_NE(run.err.find(reason), std::string::npos) << run.err;
    EXPECT_EQ(run.readings, 0);
  }
  EXPECT_EQ(ReadBytes(recording), (Bytes{'w', 'a', 'v'}));
  EXPECT_TRUE(std::filesystem::is_fifo(fifo));
  EXPECT_TRUE(std::filesystem::is_character_file("/dev/null"));
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path()), {}), 3);
}

}  // namespace
