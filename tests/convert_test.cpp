// 16-bit copies of 24-bit, float, 8-bit and four-channel sources: the samples equal the
// source's within the dither (exactly where there is none), the channels asked for are taken,
// and the source's loops and other chunks are kept.
#include "looppatch/convert.h"

#include <gtest/gtest.h>
#include <sndfile.h>

#include <cmath>
#include <numbers>
#include <string>
#include <vector>

#include "looppatch/wave_loops.h"
#include "tests/instrument_wave.h"
#include "tests/scratch_dir.h"

namespace {

constexpr std::size_t kFrames = 5000;

// Each channel its own sine, with detail finer than a 16-bit step.
std::vector<double> Sines(int channels) {
  std::vector<double> samples;
  for (std::size_t f = 0; f < kFrames; ++f) {
    for (int c = 0; c < channels; ++c) {
      samples.push_back(0.6 * std::sin(2 * std::numbers::pi * f / (37.3 + 11 * c)));
    }
  }
  return samples;
}

// The source as libsndfile reads it, in doubles.
std::vector<double> ReadDoubles(const std::string& path, int& channels) {
  SF_INFO info{};
  SNDFILE* sound = sf_open(path.c_str(), SFM_READ, &info);
  EXPECT_NE(sound, nullptr);
  std::vector<double> samples(static_cast<std::size_t>(info.frames * info.channels));
  sf_readf_double(sound, samples.data(), info.frames);
  sf_close(sound);
  channels = info.channels;
  return samples;
}

struct Case {
  const char* name;
  int channels;
  int subtype;
  ChannelPair pick;
  double within;  // steps of 16 bits the copy may differ from the source by
};

TEST(ConvertTest, TheCopyHoldsTheSourcesSamplesWithinTheDitherAndItsLoops) {
  ScratchDir dir;
  const Case cases[] = {
      {"24-bit stereo", 2, SF_FORMAT_PCM_24, kFirstTwoChannels, 1.5},
      {"float mono", 1, SF_FORMAT_FLOAT, kFirstTwoChannels, 1.5},
      {"8-bit stereo", 2, SF_FORMAT_PCM_U8, kFirstTwoChannels, 0},
      {"four channels, the last two", 4, SF_FORMAT_PCM_16, {2, 3}, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string source = dir.File("source.wav");
    const std::string copy = dir.File("copy.wav");
    ASSERT_TRUE(
        WriteInstrumentWave(source, c.channels, c.subtype, Sines(c.channels), {{1000, 3000}}));
    CFile file;
    ASSERT_TRUE(file.Open(source, CFile::modeRead));
    ASSERT_TRUE(ConvertibleFormat(file).has_value() || c.channels <= 2);
    const PlainCopyOutcome made = WriteConvertedCopy(source, copy, c.pick, LoopPoints{1000, 2999});
    ASSERT_EQ(PlainCopyText(made), "");

    int sourceChannels = 0;
    const std::vector<double> original = ReadDoubles(source, sourceChannels);
    const Bytes bytes = ReadBytes(copy);
    const int channels = std::min(c.channels, 2);
    ASSERT_EQ(GetLe16(&bytes[kChannelsOffset]), channels);
    ASSERT_EQ(GetLe32(&bytes[kDataSizeOffset]), kFrames * channels * 2);
    // Past the table's first sixty bytes, every sample; dither moves some by more than
    // rounding alone would.
    double largest = 0;
    for (std::size_t f = 60 / channels / 2; f < kFrames; ++f) {
      for (int ch = 0; ch < channels; ++ch) {
        const auto value =
            static_cast<std::int16_t>(GetLe16(&bytes[kWaveHeaderBytes + 2 * (f * channels + ch)]));
        const double expected = original[f * sourceChannels + c.pick[ch]] * 32768;
        ASSERT_LE(std::abs(value - expected), c.within) << f << " " << ch;
        largest = std::max(largest, std::abs(value - expected));
      }
    }
    EXPECT_EQ(largest > 0.5, c.within > 0) << largest;
    CFile converted;
    ASSERT_TRUE(converted.Open(copy, kPatchMode));
    EXPECT_EQ(CheckPatchable(converted), "");
    EXPECT_EQ(ReadLoopTable(converted).loopPoints, (LoopPoints{1000, 2999}));
    EXPECT_EQ(OwnLoopsLine(ReadWaveLoops(converted)), "loops 1000-2999");
  }
}

}  // namespace
