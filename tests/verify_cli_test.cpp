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
#include <cstdio>
#include <filesystem>
#include <limits>
#include <sstream>
#include <string>
#include <vector>

#include "child_process.h"
#include "scratch_dir.h"
#include "verify/app/report_command.h"
#include "verify/report/report_csv.h"
#include "verify/report/report_json.h"
#include "verify/report/report_labels.h"
#include "verify/report/report_plot.h"
#include "verify/report/report_text.h"
#include "version.h"

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

std::string Text(const Bytes& bytes) {
  return std::string(bytes.begin(), bytes.end());
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
  EXPECT_EQ(c.options.type, TimecodeType::dtmfS);
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
  EXPECT_EQ(run.options.type, TimecodeType::dtmfF);
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
  report.map.events = {{EventKind::cut, 441800, 443600, 441800, 442800, 1000, 1088.4, 0.02, 9}};
  report.otherChannels = {{1, 11, 0, 492.34, 12.34}, {3, 10, 2, 470.0, -10.0}};
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
        "events           1\n",
        "  cut at recording sample 443,600 (between 441,800 and 443,600): left TC.wav at 441,800, "
        "resumed at 442,800, jump +1000.00 +- 0.02 samples\n",
        "other channels   1, 3\n",
        "  channel 1: +12.34 samples (+0.257 ms) from channel 2, 11 found, no fault\n",
        "  channel 3: -10.00 samples (-0.208 ms) from channel 2, 10 found, 2 faults\n",
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
  EXPECT_NE(clean.find("events           none\n"), std::string::npos);
  EXPECT_NE(clean.find("result           clean\n"), std::string::npos);
  EXPECT_EQ(clean.find("other channels"), std::string::npos);
  // A fault on another channel is a fault of the recording.
  report.otherChannels = {{1, 12, 1, 0.0, 0.0}};
  EXPECT_FALSE(report.Clean());
}

// --- JSON ------------------------------------------------------------------------------------

TEST(VerifyJson, IsOneObjectWithExactlyTheDocumentedKeys) {
  VerifyReport report = FaultyReport();
  report.type = TimecodeType::dtmfS;
  report.duplicated = {3, 4};
  report.outOfOrder = {4};
  // Held against TC.wav: one differing sample, a loop 264 samples late, a second file.
  report.bitExact = BitExactCheck{1000, 1, 600, 120, 3.0, 2.0, 1.0};
  report.loops = {{{298176, 298176, 2, 297912, 264}, {123880, 123880, 1, 123880, 0}, 3, {5.0}}};
  report.files = {report, report};
  report.files[1].gapSamples = 0.0;
  report.otherChannels = {{1, 11, 0, 492.34, 12.34}};
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
      "non_finite_samples", "threshold_samples", "sample_exact", "frames", "length_undeclared",
      "channel_offsets", "bit_exact", "bit_exact_check", "loops", "loops_not_taken", "files",
      "segments", "events"};
  expected.sort();
  EXPECT_EQ(keys, expected);

  EXPECT_EQ(o["bit_exact"].toBool(true), false);
  EXPECT_EQ(o["bit_exact_check"]["first_recording_sample"].toInt(), 600);
  EXPECT_EQ(o["loops"][0]["left_miss_samples"].toInt(), 264);
  EXPECT_EQ(o["loops"][0]["times"].toInt(), 3);
  EXPECT_TRUE(o["files"][0]["gap_samples"].isNull());
  EXPECT_EQ(o["files"][1]["gap_samples"].toDouble(), 0.0);
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
  const QJsonArray offsets = o["channel_offsets"].toArray();
  ASSERT_EQ(offsets.size(), 1);
  const QJsonObject other = offsets[0].toObject();
  EXPECT_EQ(other.keys(), QStringList({"channel", "faults", "frames_found", "latency_samples",
                                       "offset_samples"}));
  EXPECT_EQ(other["channel"].toInt(), 1);
  EXPECT_EQ(other["frames_found"].toInt(), 11);
  EXPECT_DOUBLE_EQ(other["offset_samples"].toDouble(), 12.34);
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
  report.type = TimecodeType::dtmfS;
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
      {{"--reference", recording, "--csv", dir.File("./r.wav"), "take.wav"},
       "--csv names the --reference file"},
      {{"--reference", "a.wav", "--reference", recording, "--labels", recording, "t.wav"},
       "--labels names the --reference file"},
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

// --- The expected frames, the threshold and --follow ---------------------------------------

TEST(VerifyCommandLine, TakesTheExpectedFramesTheThresholdAndFollow) {
  const CommandLine c = ParseCommandLine({"--frames", "2-40", "--tolerance=0.3", "--follow", "-"});
  EXPECT_EQ(c.options.expectedFirst, 2);
  EXPECT_EQ(c.options.expectedLast, 40);
  EXPECT_DOUBLE_EQ(c.options.toleranceSamples.value_or(0.0), 0.3);
  EXPECT_TRUE(c.follow);
  EXPECT_EQ(c.recording, "-");
  EXPECT_EQ(ParseCommandLine({"--reference", "TC.wav", "r.wav"}).options.referencePath, "TC.wav");
  // Given again: the next file of a playlist.
  const CommandLine playlist =
      ParseCommandLine({"--reference", "a.wav", "--reference=b.wav", "--reference", "c.wav", "r"});
  EXPECT_EQ(playlist.options.referencePath, "a.wav");
  EXPECT_EQ(playlist.options.laterReferences, (std::vector<std::string>{"b.wav", "c.wav"}));
  const std::optional<RawFormat> raw = ParseCommandLine({"--raw=96000,6,f32le", "-"}).options.raw;
  ASSERT_TRUE(raw);
  EXPECT_EQ(raw->rate, 96000);
  EXPECT_EQ(raw->channels, 6);
  EXPECT_EQ(raw->sample, RawSample::f32le);

  const std::vector<std::pair<Args, std::string>> wrong = {
      {{"--frames", "40-2", "r.wav"}, "--frames needs FIRST-LAST, such as 1-40, not '40-2'"},
      {{"--frames", "0-3", "r.wav"}, "--frames needs FIRST-LAST"},
      {{"--frames", "7", "r.wav"}, "--frames needs FIRST-LAST"},
      {{"--frames", "1-x", "r.wav"}, "--frames needs FIRST-LAST"},
      {{"--tolerance", "0", "r.wav"}, "--tolerance needs a number of samples above 0, not '0'"},
      {{"--tolerance", "-1", "r.wav"}, "--tolerance needs a number"},
      {{"--tolerance", "0,5", "r.wav"}, "--tolerance needs a number"},
      {{"--tolerance", "inf", "r.wav"}, "--tolerance needs a number"},
      {{"--reference", "", "r.wav"}, "--reference needs a file"},
      {{"--json", "--follow", "r.wav"}, "--json and --follow both want stdout"},
      {{"--reference", "TC.wav", "--frames", "1-3", "r.wav"}, "--reference and --frames"},
      {{"--reference", "-", "-"}, "--reference and the recording cannot both be standard input"},
      {{"--plot", "offsets.gif", "r.wav"}, "--plot writes .png, .jpg or .jpeg, not 'offsets.gif'"},
      {{"--plot", "offsets", "r.wav"}, "--plot writes .png, .jpg or .jpeg"},
      {{"--follow=1", "r.wav"}, "--follow takes no value"},
      {{"--raw", "48000,2", "-"},
       "--raw needs RATE,CHANNELS,FORMAT with FORMAT s16le, s24le, "
       "s32le or f32le, such as 48000,2,s16le, not '48000,2'"},
      {{"--raw", "48000,2,u8", "-"}, "--raw needs RATE,CHANNELS,FORMAT"},
      {{"--raw", "0,2,s16le", "-"}, "--raw needs RATE,CHANNELS,FORMAT"},
      {{"--raw", "2000000,2,s16le", "-"}, "--raw needs RATE,CHANNELS,FORMAT"},
      {{"--raw", "48000,0,s16le", "-"}, "--raw needs RATE,CHANNELS,FORMAT"},
      {{"--raw", "48000,x,s16le", "-"}, "--raw needs RATE,CHANNELS,FORMAT"},
      {{"--raw", "48000,2,s16le,", "-"}, "--raw needs RATE,CHANNELS,FORMAT"},
  };
  for (const auto& [args, message] : wrong) {
    const CommandRun run = RunWith(args);
    EXPECT_EQ(run.status, 2) << message;
    EXPECT_EQ(run.readings, 0) << message;
    EXPECT_NE(run.err.find(message), std::string::npos) << run.err;
    EXPECT_EQ(Lines(run.err).size(), 1u) << run.err;
  }
}

// Remembers what had gone out each time the stream was flushed.
class FlushLog : public std::stringbuf {
 public:
  std::vector<std::string> flushed;

 protected:
  int sync() override {
    flushed.push_back(str());
    return 0;
  }
};

TEST(VerifyFollow, EachFaultLineIsOutAndFlushedBeforeTheReadingGoesOn) {
  FlushLog log;
  std::ostream out(&log);
  std::ostringstream err;
  std::vector<std::string> outWhileReading;
  const auto lastFlushed = [&] { return log.flushed.empty() ? "" : log.flushed.back(); };
  const int status =
      RunVerifyCommand({"--follow", "-"}, out, err,
                       [&](const std::string&, const VerifyOptions& o, VerifyProgress*) {
                         if (!o.onFault) return FaultyReport();
                         o.onFault("frame 7 follows frame 5");
                         outWhileReading.push_back(lastFlushed());
                         o.onFault("frame 10: wrong check symbol");
                         outWhileReading.push_back(lastFlushed());
                         return FaultyReport();
                       });
  EXPECT_EQ(status, 1);
  EXPECT_EQ(err.str(), "");
  ASSERT_EQ(outWhileReading.size(), 2u);
  EXPECT_EQ(outWhileReading[0], "frame 7 follows frame 5\n");
  EXPECT_EQ(outWhileReading[1], "frame 7 follows frame 5\nframe 10: wrong check symbol\n");
  // The summary follows once the stream has ended.
  EXPECT_EQ(log.str().find("frame 7 follows frame 5\nframe 10: wrong check symbol\nfile  "), 0u);
  // Without --follow nobody listens.
  EXPECT_FALSE(RunWith({"r.wav"}).options.onFault);
}

// --- Too few frames for a fit -----------------------------------------------------------------

TEST(VerifyTiming, OneOrTwoFramesGiveNoDriftOrJitterAnywhere) {
  VerifyReport report = CleanReport();
  report.frames.resize(2);
  report.lastFrame = 2;
  report.framesFound = 2;
  report.timingMeasured = false;
  const std::string summary = Written(WriteSummary, report);
  EXPECT_NE(summary.find("drift            not measurable (too few frames)\n"), std::string::npos)
      << summary;
  EXPECT_NE(summary.find("jitter           not measurable (too few frames)\n"), std::string::npos);
  EXPECT_EQ(summary.find("ppm"), std::string::npos) << summary;
  EXPECT_NE(summary.find("latency          480.00 samples"), std::string::npos);

  QJsonParseError error{};
  const QJsonObject o =
      QJsonDocument::fromJson(QByteArray::fromStdString(Written(WriteJson, report)), &error)
          .object();
  ASSERT_EQ(error.error, QJsonParseError::NoError);
  for (const char* key : {"drift_ppm", "jitter_rms_samples", "jitter_max_samples"}) {
    EXPECT_TRUE(o[key].isNull()) << key;
  }
  EXPECT_DOUBLE_EQ(o["latency_samples"].toDouble(), 480.0);
  EXPECT_EQ(Lines(Written(WriteLabels, report)).size(), 2u);
}

// --- One run: every output tells the same faults at the same places -------------------------

// Frames 1 to 14 expected; frame 4 unreadable, 6 lost, 13 and 14 after the recording's end,
// a jump at 9, a wrong check at 10, two infinite samples, and a file cut short.
VerifyReport PlacedReport() {
  VerifyReport r = FaultyReport();
  const double spacing = 24576.0 * 48000 / 44100;
  r.frames.erase(r.frames.begin() + 3);  // frame 4
  r.framesFound = 10;
  r.unreadable = {{4, 1000.0 + 3 * spacing}};
  r.missing = {6, 13, 14};
  r.missingPlaces = {{6, 1000.0 + 5 * spacing},
                     {13, 1000.0 + 12 * spacing - 661},
                     {14, 1000.0 + 13 * spacing - 661}};
  r.rangeStated = true;
  r.judgedFirst = 1;
  r.judgedLast = 14;
  r.thresholdSamples = 0.5;
  r.sampleExact = false;
  r.nonFiniteCount = 2;
  r.nonFiniteSamples = {96000, 96001};
  r.framesDeclared = 700000;
  r.framesRead = 340000;
  return r;
}

QJsonObject JsonOf(const std::string& text) {
  QJsonParseError error{};
  const QJsonDocument doc = QJsonDocument::fromJson(QByteArray::fromStdString(text), &error);
  EXPECT_EQ(error.error, QJsonParseError::NoError) << text;
  return doc.object();
}

// Whatever a recording is named, the JSON stays valid and gives the name back: each case is the
// name and what a JSON reader finds in "file" (a byte that is not UTF-8 becomes U+FFFD).
class VerifyJsonFileName : public testing::TestWithParam<std::pair<std::string, std::string>> {};

TEST_P(VerifyJsonFileName, IsEscapedSoTheDocumentStaysValid) {
  const auto& [name, read] = GetParam();
  const CommandRun run = RunWith({"--json", "--", name});
  ASSERT_EQ(run.readings, 1);
  EXPECT_EQ(JsonOf(run.out)["file"].toString().toStdString(), read);
}

INSTANTIATE_TEST_SUITE_P(
    Names, VerifyJsonFileName,
    testing::Values(std::pair{"take\\1.wav", "take\\1.wav"},
                    std::pair{"a \"b\".wav", "a \"b\".wav"},
                    std::pair{"tab\tline\ncr\r\x01\x1f\x7f.wav", "tab\tline\ncr\r\x01\x1f\x7f.wav"},
                    std::pair{"caf\xc3\xa9 \xe9\x8c\xb2\xe9\x9f\xb3 \xf0\x9f\x8e\xb5.wav",
                              "caf\xc3\xa9 \xe9\x8c\xb2\xe9\x9f\xb3 \xf0\x9f\x8e\xb5.wav"},
                    std::pair{"caf\xe9 \xed\xa0\x80.wav",
                              "caf\xef\xbf\xbd \xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd.wav"},
                    std::pair{"-\xc3", "-\xef\xbf\xbd"}));

std::vector<std::string> Split(const std::string& line, char separator) {
  std::vector<std::string> fields;
  std::istringstream in(line);
  for (std::string field; std::getline(in, field, separator);) fields.push_back(field);
  if (!line.empty() && line.back() == separator) fields.emplace_back();
  return fields;
}

TEST(VerifyOutputsAgree, OnEveryFaultItsTimeAndSample) {
  ScratchDir dir;
  const VerifyReport report = PlacedReport();
  const Args outputs = {"--csv",  dir.File("r.csv"), "--labels", dir.File("r.txt"),
                        "--plot", dir.File("r.png"), "r.wav"};
  const CommandRun summary = RunWith(outputs, report);
  const CommandRun json = RunWith({"--json", "r.wav"}, report);
  EXPECT_EQ(summary.status, 1);
  EXPECT_EQ(json.status, 1);
  const QJsonObject o = JsonOf(json.out);

  // The summary names the range, the threshold and what the recording cannot show.
  for (const char* line :
       {"judged           frames 1..14 judged\n", "unreadable       4\n",
        "missing          6, 13-14\n",
        "threshold        0.50 samples\n"
        "  single-sample slips cannot be told from noise in this recording\n",
        "non-finite       2 samples (NaN or infinite), at 2.000 s (sample 96000), 2.000 s "
        "(sample 96001)\n",
        "length           340000 samples (7.083 s); reading stopped there, 360000 samples "
        "(7.500 s) short of the 700000 the header declares\n",
        "frame length     26749.39 samples (557.279 ms)\n", "result           faults found\n"}) {
    EXPECT_NE(summary.out.find(line), std::string::npos) << line << "in\n" << summary.out;
  }
  EXPECT_EQ(summary.out.find("were not judged"), std::string::npos);
  EXPECT_EQ(o["file"].toString(), "r.wav");
  EXPECT_EQ(o["verdict"].toString(), "faults");
  EXPECT_EQ(o["judged_first"].toInt(), 1);
  EXPECT_EQ(o["judged_last"].toInt(), 14);
  EXPECT_EQ(o["unreadable"].toArray(), QJsonArray({4}));
  EXPECT_DOUBLE_EQ(o["threshold_samples"].toDouble(), 0.5);
  EXPECT_FALSE(o["sample_exact"].toBool(true));
  EXPECT_TRUE(o["truncated"].toBool());
  EXPECT_EQ(o["samples_declared"].toInt(), 700000);
  EXPECT_EQ(o["samples_read"].toInt(), 340000);
  EXPECT_EQ(o["non_finite_count"].toInt(), 2);
  EXPECT_EQ(o["non_finite_samples"].toArray(), QJsonArray({96000, 96001}));
  EXPECT_EQ(o["channels"].toInt(), 2);
  EXPECT_FALSE(o["method_assumed"].toBool(true));

  // The JSON's frames are the frames found, as the CSV's "found" rows give them.
  const QJsonArray frames = o["frames"].toArray();
  ASSERT_EQ(frames.size(), static_cast<int>(report.frames.size()));
  const std::vector<std::string> rows = Lines(Text(ReadBytes(dir.File("r.csv"))));
  ASSERT_EQ(rows.size(), 1 + report.frames.size() + 4);  // header, found, 3 missing, 1 unreadable
  std::size_t found = 0;
  std::vector<std::pair<std::string, double>> absentRows;  // "missing 6", time
  double lastTime = -1.0;
  for (std::size_t i = 1; i < rows.size(); ++i) {
    const std::vector<std::string> f = Split(rows[i], ',');
    ASSERT_EQ(f.size(), 7u) << rows[i];
    const double time = std::stod(f[5]);
    EXPECT_GE(time, lastTime) << "rows in recording order";
    lastTime = time;
    EXPECT_NEAR(time, std::stod(f[1]) / 48000, 1e-7) << rows[i];
    if (f[6] == "found") {
      const QJsonObject frame = frames[static_cast<int>(found++)].toObject();
      EXPECT_EQ(frame["frame"].toInt(), std::stoi(f[0]));
      EXPECT_NEAR(frame["sample"].toDouble(), std::stod(f[1]), 1e-4);
      EXPECT_NEAR(frame["offset_samples"].toDouble(), std::stod(f[2]), 1e-4);
      EXPECT_EQ(frame["check_ok"].toBool(), f[3] == "1");
      EXPECT_NEAR(frame["level_dbfs"].toDouble(), std::stod(f[4]), 1e-2);
    } else {
      EXPECT_TRUE(f[2].empty() && f[3].empty() && f[4].empty()) << rows[i];
      absentRows.emplace_back(f[6] + " " + f[0], time);
    }
  }
  EXPECT_EQ(found, report.frames.size());

  // Each absent frame and the jump: the same place in the summary, the CSV and the labels.
  const std::string labels = Text(ReadBytes(dir.File("r.txt")));
  ASSERT_EQ(absentRows.size(), 4u);
  EXPECT_EQ(absentRows[0].first, "unreadable 4");
  EXPECT_EQ(absentRows[1].first, "missing 6");
  // Point labels by their text: where each starts and ends.
  std::vector<std::pair<std::string, std::pair<double, double>>> points;
  for (const std::string& line : Lines(labels)) {
    const std::vector<std::string> f = Split(line, '\t');
    ASSERT_EQ(f.size(), 3u) << line;
    points.push_back({f[2], {std::stod(f[0]), std::stod(f[1])}});
  }
  const auto pointAt = [&points](const std::string& text) {
    for (const auto& [label, span] : points) {
      if (label == text && span.first == span.second) return span.first;
    }
    ADD_FAILURE() << "no point label " << text;
    return -1.0;
  };
  for (const auto& [what, time] : absentRows) {
    EXPECT_NEAR(pointAt(what), time, 1e-7) << what;
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%.3f s", time);
    EXPECT_NE(summary.out.find("  frame " + what.substr(what.find(' ') + 1) + " at " + seconds),
              std::string::npos)
        << what;
  }
  const QJsonObject jump = o["discontinuities"].toArray()[0].toObject();
  EXPECT_NEAR(jump["time_s"].toDouble(), jump["sample"].toDouble() / 48000, 1e-7);
  EXPECT_NEAR(pointAt("jump -661.00"), jump["time_s"].toDouble(), 1e-7);
  char at[64];
  std::snprintf(at, sizeof at, "at %.3f s, sample %.2f", jump["time_s"].toDouble(),
                jump["sample"].toDouble());
  EXPECT_NE(summary.out.find(at), std::string::npos) << at;
  // The samples that are no number and the place reading stopped, which no frame row holds.
  EXPECT_NEAR(pointAt("non-finite sample"), 2.0, 1e-9);
  EXPECT_NEAR(pointAt("reading stopped, 360000 samples lost"), 340000.0 / 48000, 1e-9);

  // The plot marks the absent frames, in colours a clean run's plot shows only in its legend.
  QImage faulty(QString::fromStdString(dir.File("r.png")));
  QImage clean;
  ASSERT_TRUE(clean.loadFromData(QByteArray::fromStdString(RenderPlot(CleanReport())), "PNG"));
  const QColor missingPurple(0x7b, 0x2f, 0xbf), unreadableTeal(0x00, 0x89, 0x7b);
  EXPECT_GT(PixelsLike(faulty, missingPurple), PixelsLike(clean, missingPurple) + 100);
  EXPECT_GT(PixelsLike(faulty, unreadableTeal), PixelsLike(clean, unreadableTeal) + 30);
  // ...and its title row gives the verdict in red, as the summary does.
  const QColor faultRed(0xc8, 0x1e, 0x1e);
  const QRect titleRow(0, 0, faulty.width(), 44);
  EXPECT_GT(PixelsLike(faulty.copy(titleRow), faultRed), 100);
  EXPECT_EQ(PixelsLike(clean.copy(titleRow), faultRed), 0);
}

// A frame heard again after its first time and out of order: both places, in every output that
// lists faults.
TEST(VerifyOutputsAgree, OnWhereAFrameCameAgain) {
  VerifyReport r = CleanReport();
  const double spacing = 24576.0 * 48000 / 44100;
  const double again = r.frames[7].foundSample + spacing;  // after frame 8, frame 5 again
  r.frames.insert(r.frames.begin() + 7, {5, again, -3 * spacing, true, -9.5});
  r.duplicated = {5};
  r.outOfOrder = {5};
  const std::string summary = RunWith({"r.wav"}, r).out;
  char place[64];
  std::snprintf(place, sizeof place, "  frame 5 at %.3f s, sample %.2f\n", again / 48000, again);
  for (const std::string& line :
       {"duplicated       5\n" + std::string(place), "out of order     5\n" + std::string(place)}) {
    EXPECT_NE(summary.find(line), std::string::npos) << line << "in\n" << summary;
  }
  const std::string labels = Written(WriteLabels, r);
  char seconds[32];
  std::snprintf(seconds, sizeof seconds, "%.9f\t%.9f\t", again / 48000, again / 48000);
  for (const char* text : {"duplicated 5\n", "out of order 5\n"}) {
    EXPECT_NE(labels.find(seconds + std::string(text)), std::string::npos) << text << labels;
  }
}

// --- The plot's geometry and format -------------------------------------------------------

// The mean height of the offset line's blue inside the plot area (below the title and legend).
double BlueHeight(const QImage& image) {
  const QColor blue(0x1f, 0x5f, 0xbf);
  double sum = 0.0;
  int count = 0;
  for (int y = 160; y < image.height() - 80; ++y) {
    for (int x = 120; x < image.width() - 50; ++x) {
      const QColor c = image.pixelColor(x, y);
      if (std::abs(c.red() - blue.red()) + std::abs(c.green() - blue.green()) +
              std::abs(c.blue() - blue.blue()) <
          30) {
        sum += y;
        ++count;
      }
    }
  }
  return count > 0 ? sum / count : -1.0;
}

TEST(VerifyPlot, APositiveOffsetLiesAboveTheZeroLineAndANegativeOneBelow) {
  const auto plot = [](double offset) {
    VerifyReport r = CleanReport();
    for (FoundFrame& frame : r.frames) frame.offsetSamples = offset;
    QImage image;
    EXPECT_TRUE(image.loadFromData(QByteArray::fromStdString(RenderPlot(r)), "PNG"));
    return BlueHeight(image);
  };
  const double zero = plot(0.0);
  ASSERT_GT(zero, 0.0);
  // Screen rows count downwards: above is a smaller row.
  EXPECT_LT(plot(3.0), zero - 50);
  EXPECT_GT(plot(-3.0), zero + 50);
}

TEST(VerifyPlot, TheFormatFollowsTheFileName) {
  EXPECT_EQ(PlotFormatFor("a.png"), "PNG");
  EXPECT_EQ(PlotFormatFor("dir.v2/A.PNG"), "PNG");
  EXPECT_EQ(PlotFormatFor("a.jpg"), "JPEG");
  EXPECT_EQ(PlotFormatFor("a.jpeg"), "JPEG");
  EXPECT_FALSE(PlotFormatFor("a.gif"));
  EXPECT_FALSE(PlotFormatFor("png"));

  ScratchDir dir;
  const CommandRun run = RunWith({"--plot", dir.File("r.JPG"), "r.wav"}, FaultyReport());
  EXPECT_EQ(run.status, 1);
  const Bytes jpeg = ReadBytes(dir.File("r.JPG"));
  ASSERT_GT(jpeg.size(), 3u);
  EXPECT_EQ(Text(Bytes(jpeg.begin(), jpeg.begin() + 3)), "\xff\xd8\xff");
  EXPECT_EQ(QImage(QString::fromStdString(dir.File("r.JPG")), "JPEG").size(), QSize(1200, 700));
}

// --- Outputs as a group -------------------------------------------------------------------

// The earlier files of a folder, so a test can show that a failed run left them alone.
void WriteEarlier(const ScratchDir& dir) {
  for (const char* name : {"r.csv", "r.txt", "r.png"}) WriteBytes(dir.File(name), Bytes(10, 'x'));
}

void ExpectEarlierAlone(const ScratchDir& dir) {
  for (const char* name : {"r.csv", "r.txt", "r.png"}) {
    EXPECT_EQ(ReadBytes(dir.File(name)), Bytes(10, 'x')) << name;
  }
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path()), {}), 3);
}

TEST(VerifyOutputFiles, AStdoutThatCannotBeWrittenLeavesEveryEarlierFileAlone) {
  ScratchDir dir;
  WriteEarlier(dir);
  std::ostringstream out, err;
  out.setstate(std::ios::badbit);
  const int status = RunVerifyCommand(
      {"--csv", dir.File("r.csv"), "--labels", dir.File("r.txt"), "--plot", dir.File("r.png"),
       "r.wav"},
      out, err,
      [](const std::string&, const VerifyOptions&, VerifyProgress*) { return FaultyReport(); });
  EXPECT_EQ(status, 2);
  EXPECT_EQ(err.str(), "vrellok-verify: cannot write the report to stdout\n");
  ExpectEarlierAlone(dir);
}

// The CSV and labels fit under the limit, the plot does not: none of the three is replaced.
TEST(VerifyOutputFiles, OneOutputOverAFileSizeLimitLeavesEveryEarlierFileAlone) {
  ScratchDir dir;
  WriteEarlier(dir);
  EXPECT_EQ(InChild([&] {
              const rlimit limit{8000, 8000};
              if (::signal(SIGXFSZ, SIG_IGN) == SIG_ERR || ::setrlimit(RLIMIT_FSIZE, &limit) != 0) {
                return 99;
              }
              const CommandRun run =
                  RunWith({"--csv", dir.File("r.csv"), "--labels", dir.File("r.txt"), "--plot",
                           dir.File("r.png"), "r.wav"},
                          FaultyReport());
              const bool said = run.err == "vrellok-verify: cannot write " + dir.File("r.png") +
                                               ": File too large\n";
              return said ? run.status : 98;
            }),
            2);
  ExpectEarlierAlone(dir);
}

TEST(VerifyOutputFiles, TwoSpellingsOfOneNewFileAreRefused) {
  const std::string name = "verify-cli-test-never-written.txt";
  for (const Args& args :
       {Args{"--csv", name, "--labels", "./" + name, "r.wav"},
        Args{"--labels", name, "--csv",
             "../" + std::filesystem::current_path().filename().string() + "/" + name, "r.wav"}}) {
    const CommandRun run = RunWith(args);
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.readings, 0);
    EXPECT_NE(run.err.find("name the same file"), std::string::npos) << run.err;
  }
  EXPECT_FALSE(std::filesystem::exists(name));
}

}  // namespace
