// vrellok-verify run as the real program in a child process with no display, on recordings made
// from a real TC.wav: its verdict in the exit status, and the summary, JSON, CSV, labels and plot
// of one run telling the same story.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <random>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "recording_support.h"
#include "scratch_dir.h"
#include "tests/child_process.h"

namespace {

// Twelve whole frames of DTMF-F and a remainder: short enough to keep every run quick.
constexpr int kLength = 300000;
constexpr int kFrames = 12;
constexpr int kMethod = 2;
constexpr int kRecordingRate = 48000;
constexpr int kDropout = 661;

using Outcome = ProgramRun;

using Env = std::vector<std::pair<std::string, std::string>>;

std::string Text(const Bytes& bytes) {
  return std::string(bytes.begin(), bytes.end());
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

std::vector<std::string> Fields(const std::string& line, char separator) {
  std::vector<std::string> fields;
  std::istringstream in(line);
  for (std::string field; std::getline(in, field, separator);) fields.push_back(field);
  return fields;
}

std::string Signed(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%+.2f", value);
  return text;
}

QJsonObject Json(const std::string& text) {
  QJsonParseError error{};
  const QJsonDocument doc = QJsonDocument::fromJson(QByteArray::fromStdString(text), &error);
  EXPECT_EQ(error.error, QJsonParseError::NoError) << text;
  return doc.object();
}

class VerifyProgram : public ::testing::Test {
 protected:
  // Runs vrellok-verify with no display and no Qt platform named (unless env names one), so
  // anything that needed a window system would end the child instead of passing quietly.
  Outcome Run(const std::vector<std::string>& args, const Env& env = {}) {
    RunOptions options;
    for (const auto& [name, value] : env) options.env.push_back(name + "=" + value);
    const ProgramRun run = RunProgram(VERIFY_PROGRAM, args, options);
    return {run.status, run.out, run.err};
  }

  // TC.wav from the generator, in the scratch folder.
  Recording Timecode() { return GenerateTimecode(m_dir.Path(), {kTypeF, kMethod, kLength, 1}); }

  void ExpectOneErrorLine(const Outcome& outcome, const std::string& reason) {
    EXPECT_EQ(outcome.status, 2) << outcome.err;
    EXPECT_EQ(outcome.out, "");
    EXPECT_EQ(Lines(outcome.err).size(), 1u) << outcome.err;
    EXPECT_EQ(outcome.err.rfind("vrellok-verify: ", 0), 0u) << outcome.err;
    EXPECT_NE(outcome.err.find(reason), std::string::npos) << outcome.err;
  }

  ScratchDir m_dir;
};

TEST_F(VerifyProgram, ACleanTimecodeExitsZeroAndSaysSo) {
  Timecode();
  const std::string tc = m_dir.File("TC.wav");
  const Outcome summary = Run({tc});
  EXPECT_EQ(summary.status, 0);
  EXPECT_EQ(summary.err, "");
  for (const std::string line :
       {"type             DTMF-F\n", "method           2\n", "DTMF ID          1\n",
        "sample rate      44100 Hz\n", "channel          1 of 1\n",
        "frames           1..12, 12 found\n", "missing          none\n", "check failures   none\n",
        "latency          0.00 samples (0.000 ms)\n", "drift            0.00 ppm\n",
        "jitter           0.000 samples RMS, 0.000 max\n", "discontinuities  none\n",
        "result           clean\n"}) {
    EXPECT_NE(summary.out.find(line), std::string::npos) << line << "in\n" << summary.out;
  }

  const Outcome json = Run({"--json", tc});
  EXPECT_EQ(json.status, 0);
  const QJsonObject o = Json(json.out);
  EXPECT_EQ(o["type"].toString(), "F");
  EXPECT_EQ(o["first_frame"].toInt(), 1);
  EXPECT_EQ(o["last_frame"].toInt(), kFrames);
  EXPECT_EQ(o["frames_found"].toInt(), kFrames);
  for (const char* list : {"missing", "duplicated", "out_of_order", "check_failures"}) {
    EXPECT_TRUE(o[list].toArray().isEmpty()) << list;
  }
  EXPECT_TRUE(o["discontinuities"].toArray().isEmpty());
  EXPECT_DOUBLE_EQ(o["latency_samples"].toDouble(), 0.0);
  EXPECT_DOUBLE_EQ(o["drift_ppm"].toDouble(), 0.0);
  EXPECT_DOUBLE_EQ(o["jitter_max_samples"].toDouble(), 0.0);
}

// A dropout takes samples out, a gap puts silence in: one discontinuity each, at the frame after
// it, its jump negative for the dropout and positive for the gap.
TEST_F(VerifyProgram, ACutOrAGapExitsOneWithOneSignedJump) {
  const Recording timecode = Timecode();
  // Inside frame 5, in the silence between its hundreds and tens digits.
  const std::size_t at = 4 * kFrameSamples + 5 * kSlotSamples + 400;
  for (const int change : {-kDropout, 500}) {
    SCOPED_TRACE(change);
    Recording recording = timecode;
    auto where = recording.samples.begin() + static_cast<std::ptrdiff_t>(at);
    if (change < 0) {
      recording.samples.erase(where, where - change);
    } else {
      recording.samples.insert(where, static_cast<std::size_t>(change), 0.0f);
    }
    const std::string path = m_dir.File("cut.wav");
    WriteRecording(path, recording);

    const Outcome summary = Run({path});
    EXPECT_EQ(summary.status, 1);
    EXPECT_EQ(summary.err, "");
    EXPECT_NE(summary.out.find("frames           1..12, 12 found\n"), std::string::npos);
    EXPECT_NE(summary.out.find("discontinuities  1, "), std::string::npos) << summary.out;
    EXPECT_NE(summary.out.find("\n  at frame 6: " + Signed(change) + " samples"), std::string::npos)
        << summary.out;
    EXPECT_NE(summary.out.find("result           faults found\n"), std::string::npos);

    const Outcome json = Run({"--json", path});
    EXPECT_EQ(json.status, 1);
    const QJsonArray jumps = Json(json.out)["discontinuities"].toArray();
    ASSERT_EQ(jumps.size(), 1);
    EXPECT_EQ(jumps[0].toObject()["frame"].toInt(), 6);
    EXPECT_NEAR(jumps[0].toObject()["jump_samples"].toDouble(), change, 0.01);
  }
}

// The recording the README shows: TC.wav played 100 ppm slow into a 48000 Hz recorder, a dropout
// inside frame 5, the timecode on the right channel of a stereo FLAC with noise on the left.
// Every output of one run agrees with the JSON and with the definitions.
TEST_F(VerifyProgram, EveryOutputOfARealTakeAgrees) {
  const Recording timecode = Timecode();
  const double ratio = static_cast<double>(kRecordingRate) / timecode.rate;
  const double slow = 1.0 / 1.0001;
  Samples right = Resample(timecode.samples, timecode.rate, kRecordingRate, slow);
  const auto at = static_cast<std::ptrdiff_t>((4 * kFrameSamples + 5 * kSlotSamples + 400) * ratio);
  right.erase(right.begin() + at, right.begin() + at + kDropout);
  std::mt19937 random(7);
  std::uniform_real_distribution<float> noise(-0.3f, 0.3f);
  Samples left(right.size());
  for (float& sample : left) sample = noise(random);
  const std::string take = m_dir.File("take.flac");
  WriteRecording(take, {left, right}, kRecordingRate, SF_FORMAT_FLAC | SF_FORMAT_PCM_16);

  const std::string csv = m_dir.File("take.csv"), labels = m_dir.File("take.txt"),
                    plot = m_dir.File("take.png");
  const Outcome summary = Run({"--csv", csv, "--labels", labels, "--plot", plot, take});
  const Outcome json = Run({"--json", take});
  EXPECT_EQ(summary.status, 1);
  EXPECT_EQ(json.status, 1);
  EXPECT_EQ(summary.err, "");

  const QJsonObject o = Json(json.out);
  EXPECT_EQ(o["channel"].toInt(), 2);
  EXPECT_EQ(o["sample_rate"].toInt(), kRecordingRate);
  EXPECT_EQ(o["frames_found"].toInt(), kFrames);
  EXPECT_TRUE(o["missing"].toArray().isEmpty());
  // Played slow: the frames lie further apart than in TC.wav, a positive drift.
  const double drift = o["drift_ppm"].toDouble();
  EXPECT_NEAR(drift, 100.0, 0.1);
  EXPECT_LT(o["jitter_rms_samples"].toDouble(), 0.05);
  EXPECT_NEAR(o["latency_samples"].toDouble(), 0.0, 0.5);
  const QJsonArray jumps = o["discontinuities"].toArray();
  ASSERT_EQ(jumps.size(), 1);
  const double jump = jumps[0].toObject()["jump_samples"].toDouble();
  EXPECT_EQ(jumps[0].toObject()["frame"].toInt(), 6);
  EXPECT_NEAR(jump, -kDropout, 0.5);

  EXPECT_NE(summary.out.find("channel          2 of 2\n"), std::string::npos) << summary.out;
  EXPECT_NE(summary.out.find("drift            " + Signed(drift) + " ppm\n"), std::string::npos)
      << summary.out;
  EXPECT_NE(summary.out.find("  at frame 6: " + Signed(jump) + " samples"), std::string::npos)
      << summary.out;

  // CSV: each offset is the distance from a perfect playback started at the first frame; the
  // step between frames 5 and 6 is the jump plus one frame's worth of drift.
  // Besides the frames, one row tells the cut where it lies.
  std::vector<std::string> rows = Lines(Text(ReadBytes(csv)));
  ASSERT_EQ(rows.size(), static_cast<std::size_t>(kFrames + 2));
  EXPECT_EQ(rows[0], "frame,found_sample,offset_samples,check_ok,level_dbfs,time_s,status");
  EXPECT_EQ(std::erase_if(rows, [](const std::string& row) { return row.ends_with(",cut"); }), 1u);
  std::vector<double> found, offset;
  for (std::size_t i = 1; i < rows.size(); ++i) {
    const std::vector<std::string> f = Fields(rows[i], ',');
    ASSERT_EQ(f.size(), 7u) << rows[i];
    EXPECT_EQ(f[6], "found");
    EXPECT_EQ(std::stoi(f[0]), static_cast<int>(i));
    EXPECT_EQ(f[3], "1");
    found.push_back(std::stod(f[1]));
    offset.push_back(std::stod(f[2]));
    const double perfect = found[0] + static_cast<double>(i - 1) * kFrameSamples * ratio;
    EXPECT_NEAR(offset.back(), found.back() - perfect, 0.001) << rows[i];
  }
  EXPECT_NEAR(offset[5] - offset[4], jump + kFrameSamples * ratio * drift * 1e-6, 0.01);

  // Labels: each frame starts where the CSV found it, in seconds, under its own number.
  // Besides them, one label marks the cut.
  std::vector<std::string> marks;
  int jumpLabels = 0;
  for (const std::string& line : Lines(Text(ReadBytes(labels)))) {
    if (line.find("\tcut ") != std::string::npos) {
      ++jumpLabels;
    } else {
      marks.push_back(line);
    }
  }
  EXPECT_EQ(jumpLabels, 1);
  ASSERT_EQ(marks.size(), static_cast<std::size_t>(kFrames));
  for (std::size_t i = 0; i < marks.size(); ++i) {
    const std::vector<std::string> f = Fields(marks[i], '\t');
    ASSERT_EQ(f.size(), 3u) << marks[i];
    EXPECT_NEAR(std::stod(f[0]), found[i] / kRecordingRate, 1e-6);
    EXPECT_GT(std::stod(f[1]), std::stod(f[0]));
    EXPECT_EQ(f[2], std::to_string(i + 1));
  }
  EXPECT_EQ(QImage(QString::fromStdString(plot)).size(), QSize(1200, 700));
}

TEST_F(VerifyProgram, WhatHoldsNoTimecodeExitsTwoWithOneLine) {
  const std::string text = m_dir.File("notes.wav");
  WriteBytes(text, Bytes{'n', 'o', 't', ' ', 'a', 'u', 'd', 'i', 'o', '\n'});
  ExpectOneErrorLine(Run({text}), "notes.wav: ");
  ExpectOneErrorLine(Run({"--json", text}), "notes.wav: ");
  ExpectOneErrorLine(Run({m_dir.File("gone.wav")}), "gone.wav: No such file or directory");
  const std::string silence = m_dir.File("silence.wav");
  WriteRecording(silence, {Samples(kLength, 0.0f), kRecordingRate});
  ExpectOneErrorLine(Run({silence}), "silence.wav: no timecode found");
}

// The plot is drawn without any display, even where the environment names a window system that
// cannot start.
TEST_F(VerifyProgram, PlotsWithoutADisplay) {
  Timecode();
  const std::string plot = m_dir.File("offsets.png");
  for (const Env& env : {Env{}, Env{{"QT_QPA_PLATFORM", "xcb"}, {"DISPLAY", ":97"}}}) {
    std::filesystem::remove(plot);
    const Outcome outcome = Run({"--plot", plot, m_dir.File("TC.wav")}, env);
    EXPECT_EQ(outcome.status, 0) << outcome.err;
    EXPECT_EQ(outcome.err, "");
    EXPECT_NE(outcome.out.find("result           clean\n"), std::string::npos);
    const Bytes png = ReadBytes(plot);
    ASSERT_GT(png.size(), 8u);
    EXPECT_EQ(Text(Bytes(png.begin(), png.begin() + 8)), "\x89PNG\r\n\x1a\n");
    EXPECT_EQ(QImage(QString::fromStdString(plot)).size(), QSize(1200, 700));
  }
}

// --- Streams -----------------------------------------------------------------------------

// vrellok-verify reading "-" from a real pipe the test writes, part by part. Nothing here can
// hang the suite: the child carries the watchdog, the test keeps no copy of the pipe's read end
// (so a write to a program that is gone fails instead of blocking), and every wait for the
// program's output has a bound.
class PipedRun {
 public:
  explicit PipedRun(const std::vector<std::string>& args) {
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0) return;
    const int readEnd = ends[0];
    m_input = ends[1];
    m_child = StartChild([&] {
      if (::dup2(readEnd, STDIN_FILENO) < 0 || ::dup2(m_out.WriteEnd(), STDOUT_FILENO) < 0 ||
          ::dup2(m_err.WriteEnd(), STDERR_FILENO) < 0) {
        return kChildCannotStart;
      }
      ::unsetenv("DISPLAY");
      ::unsetenv("WAYLAND_DISPLAY");
      ::unsetenv("QT_QPA_PLATFORM");
      std::vector<char*> argv{const_cast<char*>(VERIFY_PROGRAM)};
      for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
      argv.push_back(nullptr);
      ::execv(VERIFY_PROGRAM, argv.data());
      return kChildCannotStart;
    });
    ::close(readEnd);
    m_out.CloseWriteEnd();
    m_err.CloseWriteEnd();
    ::signal(SIGPIPE, SIG_IGN);  // a program that stops reading must not end the test
  }
  ~PipedRun() {
    CloseInput();
    if (m_child > 0) Finish();
  }
  PipedRun(const PipedRun&) = delete;
  PipedRun& operator=(const PipedRun&) = delete;

  pid_t Child() const { return m_child; }

  // True once all of bytes is in the pipe: a stream longer than the pipe holds has then been
  // read by the program up to its last 64 KiB or less.
  bool Write(const std::string& bytes) {
    return m_input >= 0 && child_process_detail::WriteAll(m_input, bytes);
  }
  void CloseInput() {
    if (m_input >= 0) ::close(std::exchange(m_input, -1));
  }

  // The next line on the program's stdout, waiting at most the watchdog's time; empty when none
  // came.
  std::string ReadLine() {
    std::string line;
    pollfd watch{m_out.ReadEnd(), POLLIN, 0};
    for (char c = 0; c != '\n';) {
      if (::poll(&watch, 1, static_cast<int>(kChildWatchdogSeconds) * 1000) <= 0) return "";
      if (::read(m_out.ReadEnd(), &c, 1) != 1) return "";
      line += c;
    }
    m_early += line;
    return line;
  }

  // The rest of what the program says, and how it ended; the input is left as it is.
  ProgramRun Finish() {
    ProgramRun run;
    child_process_detail::ReadUntilClosed({{&m_out, &run.out}, {&m_err, &run.err}});
    run.out = m_early + run.out;
    const int status = WaitForChild(std::exchange(m_child, -1));
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return run;
  }

 private:
  child_process_detail::Pipe m_out, m_err;
  int m_input = -1;
  pid_t m_child = -1;
  std::string m_early;
};

ProgramRun RunOnPipe(const std::vector<std::string>& args, const std::string& stream) {
  PipedRun run(args);
  run.Write(stream);
  run.CloseInput();
  return run.Finish();
}

// Numbers to three decimals: a stream comes in pieces of other sizes than a file, so sums over
// a burst may differ in their last float digits.
QJsonValue Rounded(const QJsonValue& value) {
  if (value.isDouble()) return std::round(value.toDouble() * 1000.0) / 1000.0;
  if (value.isArray()) {
    QJsonArray rounded;
    for (const QJsonValue& item : value.toArray()) rounded.append(Rounded(item));
    return rounded;
  }
  if (value.isObject()) {
    QJsonObject rounded;
    const QJsonObject o = value.toObject();
    for (auto it = o.begin(); it != o.end(); ++it) rounded[it.key()] = Rounded(it.value());
    return rounded;
  }
  return value;
}

// A report without what only a file has, its name and its declared length, as text.
std::string WithoutSource(QJsonObject o) {
  for (const char* key : {"file", "samples_declared"}) o.remove(key);
  return QJsonDocument(Rounded(o).toObject()).toJson().toStdString();
}

// The README's take, shorter: 100 ppm slow into 48000 Hz, a dropout inside frame 5, stereo.
std::vector<Samples> Take(const Recording& timecode) {
  Samples right = Resample(timecode.samples, timecode.rate, kRecordingRate, 1.0 / 1.0001);
  const auto at = static_cast<std::ptrdiff_t>((4 * kFrameSamples + 5 * kSlotSamples + 400) *
                                              static_cast<double>(kRecordingRate) / timecode.rate);
  right.erase(right.begin() + at, right.begin() + at + kDropout);
  return {Samples(right.size(), 0.0f), right};
}

TEST_F(VerifyProgram, AWavAndAFlacThroughAPipeGiveTheReportOfTheFile) {
  const std::vector<Samples> take = Take(Timecode());
  for (const int format : {SF_FORMAT_WAV | SF_FORMAT_PCM_16, SF_FORMAT_FLAC | SF_FORMAT_PCM_16}) {
    SCOPED_TRACE(format);
    const std::string path = m_dir.File("take");
    WriteRecording(path, take, kRecordingRate, format);
    const Outcome file = Run({"--json", path});
    const ProgramRun pipe = RunOnPipe({"--json", "-"}, Text(ReadBytes(path)));
    EXPECT_EQ(pipe.status, 1) << pipe.err;
    EXPECT_EQ(file.status, 1);
    EXPECT_EQ(pipe.err, "");
    const QJsonObject fromPipe = Json(pipe.out);
    EXPECT_EQ(fromPipe["file"].toString(), "-");
    EXPECT_TRUE(fromPipe["samples_declared"].isNull());
    EXPECT_FALSE(fromPipe["truncated"].toBool(true));
    EXPECT_EQ(fromPipe["discontinuities"].toArray().size(), 1);
    EXPECT_EQ(WithoutSource(fromPipe), WithoutSource(Json(file.out)));
  }
}

// Headerless samples, as parec --raw gives them, from a pipe and from a file: the report of the
// WAV that holds the same samples.
TEST_F(VerifyProgram, RawSamplesFromAPipeOrAFileGiveTheReportOfTheWav) {
  const std::vector<Samples> take = Take(Timecode());
  const std::pair<std::string, int> formats[] = {{"s16le", SF_FORMAT_PCM_16},
                                                 {"s24le", SF_FORMAT_PCM_24},
                                                 {"s32le", SF_FORMAT_PCM_32},
                                                 {"f32le", SF_FORMAT_FLOAT}};
  for (const auto& [name, sample] : formats) {
    SCOPED_TRACE(name);
    const std::string wav = m_dir.File("take.wav");
    const std::string raw = m_dir.File("take.raw");
    WriteRecording(wav, take, kRecordingRate, SF_FORMAT_WAV | sample);
    WriteRecording(raw, take, kRecordingRate, SF_FORMAT_RAW | sample | SF_ENDIAN_LITTLE);
    const std::string fromWav = WithoutSource(Json(Run({"--json", wav}).out));
    const std::string format = "--raw=" + std::to_string(kRecordingRate) + ",2," + name;
    const ProgramRun pipe = RunOnPipe({"--json", format, "-"}, Text(ReadBytes(raw)));
    EXPECT_EQ(pipe.status, 1) << pipe.err;
    EXPECT_EQ(pipe.err, "");
    EXPECT_EQ(WithoutSource(Json(pipe.out)), fromWav);
    EXPECT_EQ(WithoutSource(Json(Run({"--json", format, raw}).out)), fromWav);
  }
}

// The stream is written up to three frames past a lost frame; the fault line must come out
// while the rest of the stream is still held back.
TEST_F(VerifyProgram, FollowTellsAFaultWhileTheStreamIsStillOpen) {
  Recording recording = Timecode();
  auto lost = recording.samples.begin() + 4 * kFrameSamples;
  recording.samples.erase(lost, lost + kFrameSamples);  // frame 5
  const std::string path = m_dir.File("cut.wav");
  WriteRecording(path, recording);
  const std::string stream = Text(ReadBytes(path));
  // 16-bit mono: the header, then two bytes a sample; frames 1-4 and 6-9 come first.
  const std::size_t firstPart = 44 + 2 * 8 * kFrameSamples;
  PipedRun run({"--follow", "-"});
  ASSERT_TRUE(run.Write(stream.substr(0, firstPart)));
  const std::string early = run.ReadLine();
  EXPECT_EQ(early.rfind("cut at recording sample ", 0), 0u) << early;
  EXPECT_NE(early.find("jump +24576.00 "), std::string::npos) << early;
  run.Write(stream.substr(firstPart));
  run.CloseInput();
  const ProgramRun end = run.Finish();
  EXPECT_EQ(end.status, 1) << end.err;
  EXPECT_EQ(end.err, "");
  // The summary follows at the end of the stream.
  EXPECT_NE(end.out.find("missing          5\n"), std::string::npos) << end.out;
  EXPECT_NE(end.out.find("result           faults found\n"), std::string::npos);
}

// 12 s of timecode that slips by one sample in frame 10, then 20 s of silence: --follow tells
// the slip at once, and every 10 s of audio which frame it has come to and then that it hears
// none, while the stream is still open.
TEST_F(VerifyProgram, FollowTellsASlipAndEvery10SecondsWhatItHears) {
  constexpr int kRate = 44100;
  Recording recording = GenerateTimecode(m_dir.Path(), {kTypeF, kMethod, 12 * kRate, 1});
  recording.samples.erase(recording.samples.begin() + 9 * kFrameSamples + 5 * kSlotSamples + 400);
  recording.samples.resize(recording.samples.size() + 20 * kRate, 0.0f);
  const std::string path = m_dir.File("quiet.wav");
  WriteRecording(path, recording);
  const std::string stream = Text(ReadBytes(path));
  PipedRun run({"--follow", "-"});
  // All but the last second: the line of 30 s must come before the stream ends.
  ASSERT_TRUE(run.Write(stream.substr(0, stream.size() - 2 * kRate)));
  const std::string slip = run.ReadLine();
  EXPECT_EQ(slip.rfind("cut at recording sample ", 0), 0u) << slip;
  EXPECT_NE(slip.find("jump +1.00 "), std::string::npos) << slip;
  for (const char* frame : {"frame 1", "frame 21,"}) {
    const std::string line = run.ReadLine();
    EXPECT_EQ(line.rfind(frame, 0), 0u) << line;
    EXPECT_NE(line.find(", 1 event, drift +0.0 ppm\n"), std::string::npos) << line;
  }
  EXPECT_EQ(run.ReadLine(), "no timecode in the last 10 s\n");
  run.Write(stream.substr(stream.size() - 2 * kRate));
  run.CloseInput();
  const ProgramRun end = run.Finish();
  EXPECT_EQ(end.status, 1) << end.out << end.err;
  EXPECT_NE(end.out.find("  at frame 11: -1.00 samples"), std::string::npos) << end.out;
}

// Frames 1-7, then frame 5 again, then 8-12: --follow tells the two events as the summary
// does, playback going back three frames and then on by two, and calls no frame missing.
TEST_F(VerifyProgram, FollowTellsAFrameHeardAgainWithoutCallingOthersMissing) {
  Recording recording = Timecode();
  const auto frame = [&recording](int n) {
    return recording.samples.begin() + (n - 1) * kFrameSamples;
  };
  const Samples again(frame(5), frame(6));
  recording.samples.insert(frame(8), again.begin(), again.end());
  const std::string path = m_dir.File("again.wav");
  WriteRecording(path, recording);
  const Outcome run = Run({"--follow", path});
  EXPECT_EQ(run.status, 1) << run.err;
  const std::vector<std::string> lines = Lines(run.out.substr(0, run.out.find("file ")));
  ASSERT_EQ(lines.size(), 2u) << run.out;
  EXPECT_EQ(lines[0].rfind("repeat at recording sample ", 0), 0u) << lines[0];
  EXPECT_NE(lines[0].find("jump " + Signed(-3.0 * kFrameSamples)), std::string::npos) << lines[0];
  EXPECT_EQ(lines[1].rfind("cut at recording sample ", 0), 0u) << lines[1];
  EXPECT_NE(lines[1].find("jump " + Signed(2.0 * kFrameSamples)), std::string::npos) << lines[1];
  EXPECT_NE(run.out.find("missing          none\n"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("out of order     5\n"), std::string::npos) << run.out;
}

// Ctrl+C while the pipe is open and quiet ends the reading with the report of what came in.
TEST_F(VerifyProgram, CtrlCEndsAStreamWithTheReportOfWhatCameIn) {
  Timecode();
  const std::string stream = Text(ReadBytes(m_dir.File("TC.wav")));
  PipedRun run({"-"});
  // Six frames, far more than the pipe holds: once they are in, the program has read most.
  ASSERT_TRUE(run.Write(stream.substr(0, 44 + 2 * 6 * kFrameSamples)));
  ::kill(run.Child(), SIGINT);
  const ProgramRun end = run.Finish();  // with the pipe still open
  EXPECT_EQ(end.err, "");
  EXPECT_EQ(end.status, 0) << end.out;
  EXPECT_NE(end.out.find("frames           1.."), std::string::npos) << end.out;
  EXPECT_EQ(end.out.find("1..12"), std::string::npos) << "the whole stream was read";
}

// --- Hostile recordings ----------------------------------------------------------------------

TEST_F(VerifyProgram, AFlacCutShortOrZeroedInTheMiddleIsAFaultThatSaysWhatWasLost) {
  const Recording timecode = Timecode();
  const std::string flac = m_dir.File("tc.flac");
  WriteRecording(flac, timecode, SF_FORMAT_FLAC | SF_FORMAT_PCM_16);
  const Bytes whole = ReadBytes(flac);
  Bytes cut(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(whole.size() / 2));
  Bytes zeroed = whole;
  std::fill(zeroed.begin() + static_cast<std::ptrdiff_t>(whole.size() / 2),
            zeroed.begin() + static_cast<std::ptrdiff_t>(whole.size() / 2 + 4000), 0);
  for (const Bytes& damaged : {cut, zeroed}) {
    const std::string path = m_dir.File("damaged.flac");
    WriteBytes(path, damaged);
    const std::string labels = m_dir.File("damaged.txt");
    const Outcome summary = Run({"--labels", labels, path});
    EXPECT_EQ(summary.status, 1) << summary.out << summary.err;
    EXPECT_EQ(summary.err, "");
    EXPECT_NE(summary.out.find("; reading stopped there, "), std::string::npos) << summary.out;
    EXPECT_NE(
        summary.out.find("short of the " + std::to_string(kLength) + " the header declares\n"),
        std::string::npos);
    EXPECT_NE(summary.out.find("result           faults found\n"), std::string::npos);
    const QJsonObject o = Json(Run({"--json", path}).out);
    EXPECT_EQ(o["verdict"].toString(), "faults");
    EXPECT_TRUE(o["truncated"].toBool());
    EXPECT_EQ(o["samples_declared"].toInt(), kLength);
    EXPECT_LT(o["samples_read"].toInt(), kLength * 3 / 4);
    EXPECT_GT(o["samples_read"].toInt(), 0);
    // The label track marks the place reading stopped, with what was lost.
    const int read = o["samples_read"].toInt();
    char point[96];
    std::snprintf(point, sizeof point, "%.9f\t%.9f\treading stopped, %d samples lost\n",
                  read / static_cast<double>(timecode.rate),
                  read / static_cast<double>(timecode.rate), kLength - read);
    EXPECT_NE(Text(ReadBytes(labels)).find(point), std::string::npos) << point;
  }
}

// A file that holds fewer samples than its header declares is cut short, whatever libsndfile
// counts; a WAV whose header never got its data size (a recorder killed before it closed the
// file) is read to its end, and the report says both.
TEST_F(VerifyProgram, TheHeadersOwnLengthTellsAFileCutShort) {
  const Recording timecode = Timecode();
  constexpr std::uint32_t kNoSize = 0;
  constexpr std::uint32_t kAllOnes = 0xFFFFFFFF;
  struct Case {
    int format;
    std::optional<std::uint32_t> dataSize;  // written over the WAV's; none: the file is cut
    int status;
    std::string says;
  };
  const std::string cut = "short of the " + std::to_string(kLength) + " the header declares\n";
  const std::string toTheEnd =
      "the header declares no length (the recorder never closed the "
      "file): read to the end of the file\n";
  const Case cases[] = {
      {SF_FORMAT_WAV | SF_FORMAT_PCM_16, std::nullopt, 1, cut},
      {SF_FORMAT_WAV | SF_FORMAT_PCM_24, std::nullopt, 1, cut},
      {SF_FORMAT_AIFF | SF_FORMAT_PCM_16, std::nullopt, 1, cut},
      {SF_FORMAT_W64 | SF_FORMAT_FLOAT, std::nullopt, 1, cut},
      {SF_FORMAT_WAV | SF_FORMAT_PCM_16, kNoSize, 0, toTheEnd},
      {SF_FORMAT_WAV | SF_FORMAT_FLOAT, kNoSize, 0, toTheEnd},
      {SF_FORMAT_WAV | SF_FORMAT_PCM_16, kAllOnes, 0, toTheEnd},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.format) + " " + std::to_string(c.dataSize.value_or(1)));
    const std::string path = m_dir.File("take");
    WriteRecording(path, timecode, c.format);
    Bytes bytes = ReadBytes(path);
    if (c.dataSize) {
      const std::string id = "data";
      const auto data = std::search(bytes.begin(), bytes.end(), id.begin(), id.end());
      ASSERT_NE(data, bytes.end());
      for (int i = 0; i < 4; ++i) data[4 + i] = static_cast<std::uint8_t>(*c.dataSize >> (8 * i));
    } else {
      bytes.resize(bytes.size() * 3 / 5);
    }
    WriteBytes(path, bytes);
    const Outcome summary = Run({path});
    EXPECT_EQ(summary.status, c.status) << summary.out << summary.err;
    EXPECT_NE(summary.out.find(c.says), std::string::npos) << summary.out;
    const QJsonObject o = Json(Run({"--json", path}).out);
    EXPECT_EQ(o["truncated"].toBool(), c.status == 1);
    EXPECT_EQ(o["length_undeclared"].toBool(), !!c.dataSize);
    EXPECT_EQ(o["frames_found"].toInt(), c.dataSize ? kFrames : 7);
  }
}

// A header naming 1 GHz is refused before anything is read into memory.
TEST_F(VerifyProgram, ARateAbove1MHzIsRefusedWithOneLine) {
  Timecode();
  const std::string path = m_dir.File("ghz.wav");
  Bytes wav = ReadBytes(m_dir.File("TC.wav"));
  const std::uint32_t rate = 1000000000, byteRate = 2 * rate;
  for (int i = 0; i < 4; ++i) {
    wav[24 + i] = static_cast<std::uint8_t>(rate >> (8 * i));
    wav[28 + i] = static_cast<std::uint8_t>(byteRate >> (8 * i));
  }
  WriteBytes(path, wav);
  ExpectOneErrorLine(Run({path}), "ghz.wav: sample rate 1000000000 Hz is above 1000000 Hz");
}

// 1024 channels of 8-bit silence, read under a limit that one block of floats for every
// channel (a gigabyte) would break: the reading ends as any other without timecode.
TEST_F(VerifyProgram, A1024ChannelFileIsReadInBoundedMemory) {
  constexpr std::uint32_t kChannels = 1024, kFrames = 20000, kRate = 48000;
  const std::uint32_t data = kChannels * kFrames;
  Bytes wav;
  const auto text = [&wav](const char* four) { wav.insert(wav.end(), four, four + 4); };
  const auto number = [&wav](std::uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) wav.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
  };
  text("RIFF");
  number(36 + data, 4);
  text("WAVE");
  text("fmt ");
  number(16, 4);
  number(1, 2);  // PCM
  number(kChannels, 2);
  number(kRate, 4);
  number(kRate * kChannels, 4);
  number(kChannels, 2);
  number(8, 2);
  text("data");
  number(data, 4);
  wav.resize(wav.size() + data, 0x80);  // unsigned 8-bit silence
  const std::string path = m_dir.File("many.wav");
  WriteBytes(path, wav);
  RunOptions options;
  options.prepare = [] {
    const rlimit limit{768u << 20, 768u << 20};
    ::setrlimit(RLIMIT_AS, &limit);
  };
  const ProgramRun run = RunProgram(VERIFY_PROGRAM, {path}, options);
  ExpectOneErrorLine({run.status, run.out, run.err}, "many.wav: no timecode found");
}

// What the MP3 decoder inside libsndfile prints on stderr when it meets damage.
std::string DecoderComplaints(const std::string& path) {
  return InChild([&path]() -> std::string {
    std::FILE* log = std::tmpfile();
    if (log == nullptr || ::dup2(::fileno(log), STDERR_FILENO) < 0) return "no log";
    ReadRecording(path);
    std::fflush(stderr);
    std::string said;
    std::rewind(log);
    for (int c; (c = std::fgetc(log)) != EOF;) said += static_cast<char>(c);
    return said;
  });
}

TEST_F(VerifyProgram, AnMp3ThatMakesTheDecoderComplainGivesOnlyOurLines) {
  const Recording timecode = Timecode();
  const std::string good = m_dir.File("good.mp3");
  WriteRecording(good, timecode, SF_FORMAT_MPEG | SF_FORMAT_MPEG_LAYER_III);
  Bytes bytes = ReadBytes(good);
  ASSERT_GT(bytes.size(), 4000u);
  std::mt19937 random(1);
  for (std::size_t i = 2000; i < bytes.size(); i += 97) {
    bytes[i] = static_cast<std::uint8_t>(random());
  }
  const std::string bad = m_dir.File("bad.mp3");
  WriteBytes(bad, bytes);
  ASSERT_NE(DecoderComplaints(bad), "") << "the damage no longer makes the decoder complain";
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{bad}, std::vector<std::string>{"--json", bad}}) {
    const Outcome outcome = Run(args);
    if (outcome.status == 2) {
      ExpectOneErrorLine(outcome, "bad.mp3: ");
    } else {
      EXPECT_EQ(outcome.status, 1);  // damage that leaves frames out, or a stream cut short
      EXPECT_EQ(outcome.err, "");
    }
  }
}

// --- Outputs and stdout under limits -------------------------------------------------------

TEST_F(VerifyProgram, AnOutputOverTheFileSizeLimitFailsWithOneLineAndLeavesNothing) {
  Timecode();
  const std::string plot = m_dir.File("offsets.png");
  const std::string csv = m_dir.File("frames.csv");
  WriteBytes(csv, Bytes{'o', 'l', 'd'});
  const auto before = std::distance(std::filesystem::directory_iterator(m_dir.Path()), {});
  RunOptions options;
  options.prepare = [] {
    const rlimit limit{4000, 4000};
    ::setrlimit(RLIMIT_FSIZE, &limit);
  };
  const ProgramRun run =
      RunProgram(VERIFY_PROGRAM, {"--csv", csv, "--plot", plot, m_dir.File("TC.wav")}, options);
  // Status 2 and a line, not SIGXFSZ's end (153).
  ExpectOneErrorLine({run.status, run.out, run.err}, "offsets.png: File too large");
  EXPECT_FALSE(std::filesystem::exists(plot));
  EXPECT_EQ(ReadBytes(csv), (Bytes{'o', 'l', 'd'}));
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(m_dir.Path()), {}), before);
}

TEST_F(VerifyProgram, HelpAndVersionOnAFullStdoutExitOne) {
  RunOptions options;
  options.prepare = [] {
    const int full = ::open("/dev/full", O_WRONLY);
    if (full >= 0) ::dup2(full, STDOUT_FILENO);
  };
  for (const char* request : {"--help", "--version"}) {
    const ProgramRun run = RunProgram(VERIFY_PROGRAM, {request}, options);
    EXPECT_EQ(run.status, 1) << request;
    EXPECT_EQ(run.err, "vrellok-verify: cannot write to standard output\n") << request;
  }
}

}  // namespace
