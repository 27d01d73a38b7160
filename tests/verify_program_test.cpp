// vrellok-verify run as the real program in a child process with no display, on recordings made
// from a real TC.wav: its verdict in the exit status, and the summary, JSON, CSV, labels and plot
// of one run telling the same story.
#include <gtest/gtest.h>

#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <cstdio>
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
  const std::vector<std::string> rows = Lines(Text(ReadBytes(csv)));
  ASSERT_EQ(rows.size(), static_cast<std::size_t>(kFrames + 1));
  EXPECT_EQ(rows[0], "frame,found_sample,offset_samples,check_ok,level_dbfs,time_s,status");
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
  // Besides them, one point label marks the jump.
  std::vector<std::string> marks;
  int jumpLabels = 0;
  for (const std::string& line : Lines(Text(ReadBytes(labels)))) {
    if (line.find("\tjump ") != std::string::npos) {
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

}  // namespace
