// What loop's window shows and plays, without the window: the file's facts, the overview's
// peaks at every resolution, the seam score, snapping to zero and the search for a loop end,
// and the frames a loop plays.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <random>

#include "loop/format/wave_samples.h"
#include "loop/sound/crossfade.h"
#include "loop/sound/play_stream.h"
#include "loop/sound/seam.h"
#include "loop/sound/seam_search.h"
#include "loop/sound/wave_peaks.h"
#include "tests/played_frames.h"
#include "tests/sample_wave.h"
#include "tests/scratch_dir.h"

namespace {

constexpr double kPeriod = 100;  // frames: whole periods fit any loop of a multiple of 100
constexpr std::uint64_t kStart = 1000;
constexpr std::uint64_t kSeamlessEnd = kStart + 50 * 100 - 1;  // the last frame played

class LoopSeamTest : public testing::Test {
 protected:
  // A reader over a file of these samples.
  SampleReader Reader(std::uint16_t channels, const std::vector<std::int16_t>& samples,
                      std::uint64_t frames = 0) {
    const std::string path = m_scratch.File(std::to_string(m_files++).append(".wav"));
    WriteBytes(path, WaveOfSamples(channels, samples));
    SampleReader reader;
    EXPECT_TRUE(reader.Open(path, channels, frames ? frames : samples.size() / channels));
    return reader;
  }
  CFile Held(const Bytes& bytes) {
    const std::string path = m_scratch.File("held.wav");
    WriteBytes(path, bytes);
    CFile file;
    EXPECT_TRUE(file.Open(path, CFile::modeRead));
    return file;
  }
  ScratchDir m_scratch;
  int m_files = 0;
};

TEST_F(LoopSeamTest, FactsCountTheFramesThatAreThereAndTimesRoundDownToMilliseconds) {
  EXPECT_EQ(FrameTime(441000, 44100), "0:00:10.000");
  EXPECT_EQ(FrameTime(44100 * 3725 + 44, 44100), "1:02:05.000");  // 44 frames < 1 ms
  EXPECT_EQ(FrameTime(44100 * 3725 + 45, 44100), "1:02:05.001");
  EXPECT_EQ(FrameTime(12345, 0), "0:00:00.000");

  CFile stereo = Held(WaveOfSamples(2, Sine(44100, kPeriod, 2)));
  const WaveFacts facts = ReadWaveFacts(stereo);
  EXPECT_EQ(FactsLine(facts),
            "held.wav: 44100 Hz, 2 channels, 44100 frames (0:00:01.000), points up to 44100");

  // A header that declares more samples than the file holds: only the frames present count,
  // and half a frame at the end is none.
  Bytes cut = WaveOfSamples(1, Sine(1000, kPeriod));
  cut.resize(cut.size() - 501);
  CFile mono = Held(cut);
  EXPECT_EQ(ReadWaveFacts(mono).frames, 749u);
  EXPECT_EQ(ReadWaveFacts(mono).channels, 1);
}

// Every range, at every resolution, against the plain minimum and maximum over the whole runs
// it touches.
TEST_F(LoopSeamTest, OverviewPeaksMatchTheSamplesOverAnyRange) {
  std::mt19937 random(17);
  std::uniform_int_distribution<int> sample(-32768, 32767);
  constexpr std::uint64_t kFrames = 100'003;  // not a whole number of runs
  std::vector<std::int16_t> s(kFrames * 2);
  for (auto& v : s) v = static_cast<std::int16_t>(sample(random));
  auto overview = std::make_shared<PeakOverview>(kFrames, 2);
  OverviewBuilder(Reader(2, s), overview).Wait();
  ASSERT_TRUE(overview->Complete());
  const std::uint64_t run = overview->RunFrames();
  std::uniform_int_distribution<std::uint64_t> frame(0, kFrames);
  for (int i = 0; i < 2000; ++i) {
    std::uint64_t a = frame(random), b = frame(random);
    if (a > b) std::swap(a, b);
    if (i % 4 == 0) b = std::min(kFrames, a + 1 + i);  // short ranges too
    if (a == b) continue;
    const int channel = i % 2;
    const std::uint64_t from = a / run * run;
    const std::uint64_t to = std::min(kFrames, (b + run - 1) / run * run);
    std::int16_t lo = 32767, hi = -32768;
    for (std::uint64_t f = from; f < to; ++f) {
      lo = std::min(lo, s[f * 2 + channel]);
      hi = std::max(hi, s[f * 2 + channel]);
    }
    Peak peak;
    ASSERT_TRUE(overview->PeakOf(channel, a, b, peak)) << a << ".." << b;
    ASSERT_EQ(peak.min, lo) << a << ".." << b << " channel " << channel;
    ASSERT_EQ(peak.max, hi) << a << ".." << b << " channel " << channel;
  }
  Peak none;
  EXPECT_FALSE(overview->PeakOf(2, 0, 10, none));
  EXPECT_FALSE(overview->PeakOf(0, kFrames, kFrames + 10, none));
}

TEST_F(LoopSeamTest, AnOverviewOfAFileCutShortEndsWithTheFramesThereAre) {
  auto overview = std::make_shared<PeakOverview>(50'000, 1);
  OverviewBuilder(Reader(1, Sine(20'000, kPeriod), 50'000), overview).Wait();
  EXPECT_EQ(overview->FramesDone(), 20'000u);
  EXPECT_FALSE(overview->Complete());
  Peak peak;
  EXPECT_TRUE(overview->PeakOf(0, 0, 50'000, peak));
  EXPECT_FALSE(overview->PeakOf(0, 20'000, 50'000, peak));
}

TEST_F(LoopSeamTest, AnOverviewStaysSmallForTheLongestFile) {
  const PeakOverview longest(std::uint64_t{1} << 31, 2);  // 4 GiB of one channel's frames
  EXPECT_LE(longest.MemoryBytes(), 20u << 20);
  EXPECT_LE((longest.Frames() + longest.RunFrames() - 1) / longest.RunFrames(),
            PeakOverview::kMaxRuns);
}

// A seam's two numbers: a step across the join against the waveform's own movement (a click),
// and the level of the 20 ms before the end against the 20 ms from the start.
struct SeamCase {
  const char* name;
  std::vector<std::int16_t> (*samples)(int channels);
  std::uint64_t start, end;
  const char* text;  // what the score says, in full for a smooth seam, its first word for a click
};

std::vector<std::int16_t> Tone(int channels) {
  return Sine(20'000, kPeriod, channels);
}
// Decaying by 1.2 dB between the level windows of a 50-period loop, which starts off any zero.
std::vector<std::int16_t> Decaying(int channels) {
  std::vector<std::int16_t> s = Sine(20'000, kPeriod, channels);
  for (std::size_t i = 0; i < s.size(); ++i) {
    s[i] = static_cast<std::int16_t>(s[i] * std::exp(-static_cast<double>(i / channels) / 32'000));
  }
  return s;
}
// A slow tone whose DC drops by 3000 at frame 3000, inside the loop.
std::vector<std::int16_t> DcStep(int channels) {
  std::vector<std::int16_t> s = Sine(20'000, 400, channels, 8000);
  for (std::size_t i = 0; i < 3000 * static_cast<std::size_t>(channels); ++i) s[i] += 3000;
  return s;
}
std::vector<std::int16_t> Silence(int channels) {
  return std::vector<std::int16_t>(5000 * static_cast<std::size_t>(channels), 0);
}

class SeamScoreTest : public LoopSeamTest, public testing::WithParamInterface<SeamCase> {};

TEST_P(SeamScoreTest, SaysWhetherItClicksAndHowTheLevelSteps) {
  const SeamCase& c = GetParam();
  for (int channels : {1, 2}) {
    const SampleReader reader = Reader(channels, c.samples(channels));
    const SeamScore score = ScoreSeam(reader, c.start, c.end, kTestRate);
    EXPECT_EQ(score.Text().rfind(c.text, 0), 0u) << score.Text() << ", " << channels;
    EXPECT_STREQ(score.Verdict(), score.click ? "click" : "smooth");
  }
}

INSTANTIATE_TEST_SUITE_P(
    Seams, SeamScoreTest,
    testing::Values(SeamCase{"WholePeriods", Tone, kStart, kSeamlessEnd, "smooth, level 0.0 dB"},
                    SeamCase{"QuarterPeriodLate", Tone, kStart, kSeamlessEnd + 25, "click "},
                    SeamCase{"QuarterPeriodEarly", Tone, kStart, kSeamlessEnd - 25, "click "},
                    SeamCase{"DecayingTone", Decaying, kStart + 8, kSeamlessEnd + 8,
                             "smooth, level -1.2 dB"},
                    SeamCase{"DcStep", DcStep, kStart, kStart + 10 * 400 - 1, "click "},
                    // Digital silence joined to itself: no division by zero.
                    SeamCase{"Silence", Silence, 100, 3000, "smooth, level 0.0 dB"}),
    [](const testing::TestParamInfo<SeamCase>& info) { return info.param.name; });

TEST_F(LoopSeamTest, AClickInOneChannelOfAStereoSeamCounts) {
  std::vector<std::int16_t> s = Sine(20'000, kPeriod, 2);
  s[kSeamlessEnd * 2 + 1] = 30000;  // the right channel's last frame of the loop
  EXPECT_TRUE(ScoreSeam(Reader(2, s), kStart, kSeamlessEnd, kTestRate).click);
}

TEST_F(LoopSeamTest, SnapFindsTheNearestRisingZeroCrossing) {
  // Rising through zero at 1234 and every 200 frames from there; falling at 1334.
  const SampleReader mono = Reader(1, Sine(5000, 200, 1, 20000, 1234));
  EXPECT_EQ(NearestRisingZero(mono, 1300, 500), 1234u);  // the falling one at 1334 is nearer
  EXPECT_EQ(NearestRisingZero(mono, 1340, 500), 1434u);
  EXPECT_EQ(NearestRisingZero(mono, 1234, 500), 1234u);
  EXPECT_EQ(NearestRisingZero(mono, 1300, 30), std::nullopt);

  // Stereo: the right channel is ten times the left and crosses 40 frames later; the frame
  // where both together are nearest zero is near the right's crossing, not the left's.
  const std::vector<std::int16_t> left = Sine(5000, 400, 1, 2000, 1200);
  const std::vector<std::int16_t> right = Sine(5000, 400, 1, 20000, 1240);
  std::vector<std::int16_t> s;
  for (std::size_t f = 0; f < left.size(); ++f) {
    s.push_back(left[f]);
    s.push_back(right[f]);
  }
  std::size_t quietest = 1200;
  for (std::size_t f = 1200; f <= 1260; ++f) {
    if (std::abs(left[f]) + std::abs(right[f]) <
        std::abs(left[quietest]) + std::abs(right[quietest]))
      quietest = f;
  }
  EXPECT_EQ(NearestRisingZero(Reader(2, s), 1205, 100), quietest);
  EXPECT_GT(quietest, 1230u);
}

TEST_F(LoopSeamTest, TheEndSearchFindsASeamlessEndFromOneThreeMillisecondsOff) {
  const SampleReader reader = Reader(1, Sine(20'000, kPeriod));
  const SampleSource source = SourceOf(reader, kTestRate);
  const std::uint64_t off = kSeamlessEnd + 132;  // 3 ms at 44.1 kHz
  const LoopSearch search = SearchLoopEnd(source, kStart, {off - 441, off + 441});
  ASSERT_TRUE(search.Found());
  const std::uint64_t end = search.best.front().frame;
  EXPECT_EQ((end + 1 - kStart) % 100, 0u) << end;
  EXPECT_LE(end > off ? end - off : off - end, 441u);
  // No end after the start within reach: nothing to offer.
  EXPECT_TRUE(SearchLoopEnd(source, kStart, {kStart - 600, kStart - 400}).best.empty());
}

// A seamless end planted 20,000 frames past where B stands: the 50 ms around the start copied
// so that they follow it. Both searches find the pair over their default regions, and noise
// offers no smooth end at all.
TEST_F(LoopSeamTest, TheSearchFindsAPlantedSeamlessEndAndNothingInNoise) {
  constexpr std::uint64_t kA = 30'000, kB = 70'000, kEnd = kB + 20'000, kHalf = 1'100;
  std::vector<std::int16_t> s = MusicLike(132'300, 5);
  PlantSeamlessJoin(s, kA, kEnd + 1, kHalf);
  const SampleSource music = SourceOf(s, 2, kTestRate);
  const LoopSearch end = SearchLoopEnd(music, kA, *DefaultEndRegion(music, kA));
  ASSERT_TRUE(end.Found());
  EXPECT_EQ(end.best.front().frame, kEnd);
  EXPECT_FALSE(end.best.front().score.click);
  EXPECT_LE(end.best.size(), kBestCandidates);
  const LoopSearch start = SearchLoopStart(music, kEnd, *DefaultStartRegion(music, kEnd));
  ASSERT_TRUE(start.Found());
  EXPECT_EQ(start.best.front().frame, kA);

  // Music-like noise without a plant, read from a file.
  const std::string noiseFile = m_scratch.File("noise.wav");
  WriteBytes(noiseFile, WaveOfSamples(2, MusicLike(132'300, 6)));
  const SampleSource noise = *SourceOfFile(noiseFile, {"noise.wav", kTestRate, 2, 132'300});
  std::vector<double> progress;
  const LoopSearch none = SearchLoopEnd(noise, kA, {kA + 4410, 132'299}, [&](double done) {
    progress.push_back(done);
    return true;
  });
  EXPECT_FALSE(none.Found());
  EXPECT_EQ(none.best.size(), kBestCandidates);
  EXPECT_EQ(progress.back(), 1.0);
  // A cancel ends the search with nothing found.
  const LoopSearch cancelled =
      SearchLoopEnd(noise, kA, {kA + 4410, 132'299}, [](double) { return false; });
  EXPECT_TRUE(cancelled.cancelled);
  EXPECT_TRUE(cancelled.best.empty());
}

// A sine looped a quarter period off clicks; crossfaded into a copy it joins smoothly, with the
// loop in the copy's table, every sample outside the fade and the table's ten slots as it was
// (slots behind the loop that read as records are blanked, as Patch does), and the original
// untouched byte for byte.
struct FadeCase {
  const char* name;
  FadeShape shape;
  std::uint32_t ms;
  int channels;
};

class CrossfadeTest : public LoopSeamTest, public testing::WithParamInterface<FadeCase> {};

TEST_P(CrossfadeTest, TheCopyJoinsSmoothlyAndTheOriginalStaysAsItWas) {
  const FadeCase& c = GetParam();
  constexpr std::uint64_t kA = 25'000, kB = kA + 50 * 100 - 1 + 25;
  const std::string source = m_scratch.File("source.wav");
  const std::string copy = m_scratch.File("copy.wav");
  // A chunk behind the samples (a title) must go with the copy, byte for byte.
  Bytes original = WaveOfSamples(c.channels, Sine(60'000, kPeriod, c.channels));
  for (const char ch : std::string("LIST\x05\x00\x00\x00Take1\x00", 14))
    original.push_back(static_cast<std::uint8_t>(ch));
  PutLe32(&original[kRiffSizeOffset],
          static_cast<std::uint32_t>(original.size() - kChunkHeaderBytes));
  WriteBytes(source, original);
  SampleReader before;
  ASSERT_TRUE(before.Open(source, c.channels, 60'000));
  ASSERT_TRUE(ScoreSeam(before, kA, kB, kTestRate).click);

  const CrossfadeOutcome made =
      WriteCrossfadedCopy(source, copy, {kA, kB, c.ms, c.shape}, {kA, kB});
  ASSERT_TRUE(made.Made()) << made.text;
  EXPECT_EQ(ReadBytes(source), original);
  SampleReader after;
  ASSERT_TRUE(after.Open(copy, c.channels, 60'000));
  EXPECT_EQ(ScoreSeam(after, kA, kB, kTestRate).Text().rfind("smooth, level ", 0), 0u);
  CFile held = Held(ReadBytes(copy));
  EXPECT_EQ(ReadLoopTable(held).loopPoints, (LoopPoints{kA, kB}));
  const Bytes bytes = ReadBytes(copy);
  ASSERT_EQ(bytes.size(), original.size());
  const std::size_t frameBytes = 2 * static_cast<std::size_t>(c.channels);
  const std::size_t fadeFrom = kWaveHeaderBytes + (kB + 1 - kTestRate * c.ms / 1000) * frameBytes;
  const std::size_t fadeTo = kWaveHeaderBytes + (kB + 1) * frameBytes;
  for (std::size_t i = kLoopTableOffset + kLoopPointCount * kLoopRecordBytes; i < bytes.size();
       ++i) {
    if (i < fadeFrom || i >= fadeTo) {
      ASSERT_EQ(bytes[i], original[i]) << i;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Fades, CrossfadeTest,
                         testing::Values(FadeCase{"Linear1msMono", FadeShape::linear, 1, 1},
                                         FadeCase{"Power10msStereo", FadeShape::equalPower, 10, 2},
                                         FadeCase{"Linear100msStereo", FadeShape::linear, 100, 2}),
                         [](const testing::TestParamInfo<FadeCase>& info) {
                           return info.param.name;
                         });

TEST_F(LoopSeamTest, ACrossfadeThatDoesNotFitOrCannotBeWrittenLeavesNothing) {
  EXPECT_EQ(CheckCrossfade({5000, 9000, 0}, 20'000, kTestRate),
            "The crossfade must last 1 to 500 ms");
  EXPECT_EQ(CheckCrossfade({5000, 9000, 501}, 20'000, kTestRate),
            "The crossfade must last 1 to 500 ms");
  EXPECT_EQ(CheckCrossfade({400, 9000, 10}, 20'000, kTestRate),
            "The crossfade needs 10 ms before the loop's start");
  EXPECT_EQ(CheckCrossfade({5000, 5100, 10}, 20'000, kTestRate),
            "The crossfade is longer than the loop");
  EXPECT_EQ(CheckCrossfade({5000, 20'000, 10}, 20'000, kTestRate),
            "The loop needs a start before its end, and the end inside the samples");
  const std::string source = m_scratch.File("source.wav");
  WriteBytes(source, WaveOfSamples(1, Sine(20'000, kPeriod)));
  const CrossfadeOutcome missing = WriteCrossfadedCopy(source, m_scratch.File("no/such/folder.wav"),
                                                       {5000, 9999, 10}, {5000, 9999});
  EXPECT_EQ(missing.text, "No such file or directory");
  EXPECT_TRUE(missing.aboutDestination);
  EXPECT_EQ(WriteCrossfadedCopy(source, source, {5000, 9999, 10}, {}).text,
            "The copy cannot replace the file it is made from");
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(m_scratch.Path()), {}), 1);
}

TEST_F(LoopSeamTest, ALoopPlaysItsFramesStartToEndAsOftenAsAsked) {
  std::vector<std::int16_t> s(200);
  for (std::size_t i = 0; i < s.size(); ++i) s[i] = static_cast<std::int16_t>(i);
  const SampleReader reader = Reader(2, s);
  const std::vector<std::int16_t> once = {20, 21, 22, 23, 24, 25};  // frames 10..12
  std::vector<std::int16_t> twice = once;
  twice.insert(twice.end(), once.begin(), once.end());
  EXPECT_EQ(LoopFrames(reader, 10, 12, 2), twice);
  EXPECT_TRUE(LoopFrames(reader, 12, 10, 2).empty());
  EXPECT_TRUE(LoopFrames(reader, 10, 100, 2).empty());  // past the last frame
  EXPECT_EQ(PlayFromFrames(reader, 98, 10), (std::vector<std::int16_t>{196, 197, 198, 199}));
}

}  // namespace
