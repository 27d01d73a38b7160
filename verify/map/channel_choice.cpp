#include "verify/map/channel_choice.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <memory>
#include <optional>
#include <utility>

#include "verify/map/reader_tuning.h"
#include "verify/map/timing_fit.h"
#include "verify/read/sample_copy.h"
#include "verify/signal/burst_tracker.h"
#include "verify/signal/dtmf_detector.h"
#include "verify/signal/frame_parser.h"

// The frames read at a time: kBlockFrames, or a short recording's length, so that its buffers are
// its own size. The first look is taken again at each common rate, and clearing buffers far
// larger than the recording would cost more than reading it. A stream gives a piece a read, so
// a larger block would only be cleared.
std::size_t BlockFor(const SoundFile& file) {
  if (file.Frames() < 0) return std::min(kBlockFrames, file.MostPerRead());
  return std::clamp<std::size_t>(static_cast<std::size_t>(file.Frames()), 1, kBlockFrames);
}

namespace {

struct SpeedFit {
  double speed = 1.0;
  double frameError = std::numeric_limits<double>::infinity();
};

struct ChannelLook {
  TimecodeType type = TimecodeType::dtmfF;
  int frames = 0;
  int spacings = 0;  // neighbouring frames one frame apart at this type
  // Frame numbers, from 2 on, and where each frame's start marker was heard.
  std::vector<std::pair<int, double>> starts;

  bool BetterThan(const ChannelLook& other) const {
    return frames != other.frames ? frames > other.frames : spacings > other.spacings;
  }

  // How much faster than its rate the timecode was played, and how far the frame's length that
  // speed gives may be off (samples of the recording; infinite where too few frames tell). A cut
  // or a gap among the first frames moves every later place: the spacings that stray from their
  // median further than the places scatter split the frames into stretches, and one slope is
  // fitted through all stretches by least squares (an intercept each), so the error of each
  // place, a good part of a block under noise, shrinks with every frame while a jump bends nothing.
  SpeedFit Speed(int rate) const {
    const double expected = static_cast<double>(kFrameSamples) * rate / TimecodeRate(type);
    const double unknown = std::numeric_limits<double>::infinity();
    std::vector<double> spacings;
    for (std::size_t i = 1; i < starts.size(); ++i) {
      const int frames = starts[i].first - starts[i - 1].first;
      if (frames > 0) spacings.push_back((starts[i].second - starts[i - 1].second) / frames);
    }
    if (spacings.empty()) return {1.0, unknown};
    const double typical = Median(spacings);
    if (!(typical > 0.0)) return {1.0, unknown};
    std::vector<double> strays;
    for (const double spacing : spacings) strays.push_back(std::abs(spacing - typical));
    const double allowed = std::max(kSpeedBreakSamples, kSpeedBreakDeviations * Median(strays));
    // Each stretch [first, second) with its mean number and place.
    struct Stretch {
      std::size_t from, to;
      double mn = 0.0, mp = 0.0;
    };
    std::vector<Stretch> stretches;
    double across = 0.0, spread = 0.0;
    std::size_t from = 0;
    for (std::size_t i = 1; i <= starts.size(); ++i) {
      if (i < starts.size()) {
        const int frames = starts[i].first - starts[i - 1].first;
        const double jump = starts[i].second - starts[i - 1].second - frames * typical;
        if (frames > 0 && std::abs(jump) <= allowed * frames) continue;
      }
      Stretch stretch{from, i};
      for (std::size_t j = from; j < i; ++j) {
        stretch.mn += starts[j].first;
        stretch.mp += starts[j].second;
      }
      stretch.mn /= static_cast<double>(i - from);
      stretch.mp /= static_cast<double>(i - from);
      for (std::size_t j = from; j < i; ++j) {
        across += (starts[j].first - stretch.mn) * (starts[j].second - stretch.mp);
        spread += (starts[j].first - stretch.mn) * (starts[j].first - stretch.mn);
      }
      stretches.push_back(stretch);
      from = i;
    }
    if (!(spread > 0.0 && across > 0.0)) return {expected / typical, unknown};
    const double spacing = across / spread;
    // The slope's standard error, from what the line leaves over.
    const std::size_t free = starts.size() - stretches.size() - 1;
    double error = unknown;
    if (free > 0) {
      double squares = 0.0;
      for (const Stretch& stretch : stretches) {
        for (std::size_t j = stretch.from; j < stretch.to; ++j) {
          const double left =
              starts[j].second - stretch.mp - spacing * (starts[j].first - stretch.mn);
          squares += left * left;
        }
      }
      error = std::sqrt(squares / static_cast<double>(free) / spread);
    }
    return {expected / spacing, error};
  }
};

// Listens to one channel under both types at once, keeping only what a few frames tell, so the
// first look holds little memory however long it has to listen.
class ChannelProbe {
 public:
  ChannelProbe(int sampleRate, const std::optional<TimecodeType>& type)
      : m_rate(sampleRate),
        m_type(type),
        m_tracker(sampleRate, 0),
        m_parsers{
            FrameParser(SlotSamples(sampleRate, TimecodeType::dtmfF), m_tracker.BlockSamples()),
            FrameParser(SlotSamples(sampleRate, TimecodeType::dtmfS), m_tracker.BlockSamples())} {
    m_looks[0].type = TimecodeType::dtmfF;
    m_looks[1].type = TimecodeType::dtmfS;
  }

  void Push(const float* samples, std::size_t count) {
    m_tracker.Push(samples, count);
    Listen();
  }
  void Finish() {
    m_tracker.Finish();
    Listen();
  }

  // The type whose slot fits the spacing of the bursts, so that they make the most whole
  // frames; failing that, the type whose frame length fits the spacing of the frames.
  ChannelLook Look() const {
    if (m_type) return m_looks[*m_type == TimecodeType::dtmfS ? 1 : 0];
    return m_looks[1].BetterThan(m_looks[0]) ? m_looks[1] : m_looks[0];
  }

 private:
  void Listen() {
    for (const Burst& burst : m_tracker.Take()) {
      RawFrame frame;
      for (std::size_t t = 0; t < m_looks.size(); ++t) {
        if (!m_parsers[t].Add(burst, frame)) continue;
        ChannelLook& look = m_looks[t];
        ++look.frames;
        const double place = frame.start.onset;
        const double expected =
            static_cast<double>(kFrameSamples) * m_rate / TimecodeRate(look.type);
        const auto& last = m_last[t];
        if (last && frame.number > last->first) {
          const double spacing = (place - last->second) / (frame.number - last->first);
          if (std::abs(spacing - expected) < kSpacingTolerance * expected) ++look.spacings;
        }
        // Frame 1 may carry two more gaps; the later frames lie one frame apart.
        if (frame.number >= 2) look.starts.emplace_back(frame.number, place);
        m_last[t] = std::make_pair(frame.number, place);
      }
    }
  }

  int m_rate;
  std::optional<TimecodeType> m_type;
  BurstTracker m_tracker;
  std::array<FrameParser, 2> m_parsers;  // F, S
  std::array<ChannelLook, 2> m_looks;
  std::array<std::optional<std::pair<int, double>>, 2> m_last;
};

// A file of many channels is not probed on all of them at once (a channel's probe holds a few
// hundred kilobytes): a cheap look picks this many channels that hold keys at all.
constexpr std::size_t kMostProbes = 4;
// The cheap look ends once a channel has shown this many blocks that hold a key: the bursts of
// a few frames.
constexpr int kScreenKeyBlocks = 48;

// The channels among `channels` in which the key detector hears the most blocks holding a key,
// read as if at `rate`, at most kMostProbes of them; none when no channel holds a key. Keeps a
// count per channel and one block of each channel, whatever the number of channels.
std::vector<int> Screen(SoundFile& file, const std::vector<int>& channels, int rate,
                        std::int64_t limit) {
  const dtmf::KeyDetector detector(rate);
  const auto window = static_cast<std::size_t>(dtmf::BlockSamples(rate));
  const auto width = static_cast<std::size_t>(file.Channels());
  std::vector<float> interleaved(window * width);
  std::vector<float> samples(window);
  std::vector<int> heard(channels.size(), 0);
  int most = 0;
  std::int64_t read = 0;
  while (most < kScreenKeyBlocks && read < limit) {
    std::size_t got = 0;
    while (got < window) {
      const std::size_t more = file.Read(interleaved.data() + got * width, window - got);
      if (more == 0) break;
      got += more;
    }
    read += static_cast<std::int64_t>(got);
    if (got < window) break;
    ClearNonFinite(interleaved.data(), got * width, [](std::size_t) {});
    for (std::size_t i = 0; i < channels.size(); ++i) {
      const auto c = static_cast<std::size_t>(channels[i]);
      CopyChannel(interleaved.data(), width, c, samples.data(), window);
      if (detector.Detect(samples.data(), window) != 0) most = std::max(most, ++heard[i]);
    }
  }
  std::vector<std::size_t> order(channels.size());
  for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
  std::stable_sort(order.begin(), order.end(),
                   [&](std::size_t a, std::size_t b) { return heard[a] > heard[b]; });
  std::vector<int> few;
  for (const std::size_t i : order) {
    if (heard[i] == 0 || few.size() == kMostProbes) break;
    few.push_back(channels[i]);
  }
  return few;
}

// Listens to the start of the recording, read as if at `rate`, on each of `channels` until one
// of them has shown a few whole frames (or `limit` samples have passed), and picks the channel
// that decodes best and its type; none when no channel shows a frame. `carriers`, where given,
// gets every channel that showed the same timecode nearly as well, the best one first.
std::optional<Choice> Probe(SoundFile& file, const std::vector<int>& channels,
                            const std::optional<TimecodeType>& type, int rate, std::int64_t limit,
                            std::vector<Choice>* carriers = nullptr) {
  if (channels.size() > kMostProbes) {
    const std::vector<int> few = Screen(file, channels, rate, limit);
    file.Rewind();
    if (few.empty()) return std::nullopt;
    return Probe(file, few, type, rate, limit, carriers);
  }
  std::vector<std::unique_ptr<ChannelProbe>> probes;
  for (std::size_t i = 0; i < channels.size(); ++i) {
    probes.push_back(std::make_unique<ChannelProbe>(rate, type));
  }
  const auto width = static_cast<std::size_t>(file.Channels());
  const std::size_t block = file.BlockFrames(BlockFor(file));
  // Each read fills what is used of them, so they are not cleared first: a header that declares
  // far more samples than the file holds would otherwise cost megabytes cleared at every rate.
  const auto interleaved = std::make_unique_for_overwrite<float[]>(block * width);
  const auto samples = std::make_unique_for_overwrite<float[]>(block);
  ChannelLook best;
  std::size_t bestIndex = 0;
  bool more = true;
  std::int64_t heard = 0;
  while (more && best.frames < kProbeFrames) {
    const std::size_t got = heard < limit ? file.Read(interleaved.get(), block) : 0;
    heard += static_cast<std::int64_t>(got);
    more = got > 0;
    ClearNonFinite(interleaved.get(), got * width, [](std::size_t) {});
    for (std::size_t i = 0; i < channels.size(); ++i) {
      if (more) {
        const auto c = static_cast<std::size_t>(channels[i]);
        CopyChannel(interleaved.get(), width, c, samples.get(), got);
        probes[i]->Push(samples.get(), got);
      } else {
        probes[i]->Finish();
      }
      const ChannelLook look = probes[i]->Look();
      if (look.BetterThan(best)) {
        best = look;
        bestIndex = i;
      }
    }
  }
  if (best.frames == 0) return std::nullopt;
  const SpeedFit fit = best.Speed(rate);
  const Choice chosen{channels[bestIndex], best.type, fit.speed, fit.frameError};
  if (carriers != nullptr) {
    carriers->push_back(chosen);
    for (std::size_t i = 0; i < channels.size(); ++i) {
      const ChannelLook look = probes[i]->Look();
      if (i == bestIndex || look.type != best.type || look.frames * 2 < best.frames) continue;
      carriers->push_back({channels[i], best.type, fit.speed, fit.frameError});
    }
  }
  return chosen;
}

// Whether the recording holds enough samples for the bursts of one frame read at `rate` at its
// own speed (DTMF-F's, the shorter frame); a shorter one cannot show a frame there, so that look
// is skipped. A stream's length is not known: it is always looked at.
bool LongEnoughAt(const SoundFile& file, int rate) {
  const double slot = kSlotSamples * static_cast<double>(rate) / kRateF;
  // The check symbol's slot need only have begun.
  const double least = (1.0 - kOwnSpeedTolerance) * (kFrameBurstSlots - 1) * slot;
  return file.Frames() < 0 || static_cast<double>(file.Frames()) >= least;
}

}  // namespace

// The channels and type to read, the one that decodes best first, or the one-line reason there
// are none: no timecode at all, none on the channel asked for, or timecode that only fits at
// another rate than the header names.
std::vector<Choice> Choose(SoundFile& file, const VerifyOptions& options, const std::string& path) {
  std::vector<int> all;
  for (int c = 0; c < file.Channels(); ++c) all.push_back(c);
  const std::vector<int> asked = options.channel ? std::vector<int>{*options.channel - 1} : all;
  const auto unlimited = std::numeric_limits<std::int64_t>::max();
  std::vector<Choice> carriers;
  if (Probe(file, asked, options.type, file.SampleRate(), unlimited, &carriers)) return carriers;
  if (options.channel && all.size() > 1) {
    std::vector<int> others;
    for (const int c : all) {
      if (c != *options.channel - 1) others.push_back(c);
    }
    file.Rewind();
    if (const auto elsewhere = Probe(file, others, options.type, file.SampleRate(), unlimited)) {
      throw VerifyError(path + ": no timecode on channel " + std::to_string(*options.channel) +
                        " (channel " + std::to_string(elsewhere->channel + 1) + " carries it)");
    }
  }
  for (const int rate : kCommonRates) {
    if (rate == file.SampleRate() || !LongEnoughAt(file, rate)) continue;
    file.Rewind();
    const auto limit = static_cast<std::int64_t>(kRateProbeSeconds * rate);
    const auto fits = Probe(file, asked, options.type, rate, limit);
    // Only a timecode at its own speed at that rate shows the header is wrong.
    if (fits && std::abs(fits->speed - 1.0) < kOwnSpeedTolerance) {
      throw VerifyError(path + ": the sample rate looks wrong: the header says " +
                        std::to_string(file.SampleRate()) + " Hz, the timecode fits " +
                        std::to_string(rate) + " Hz");
    }
  }
  throw VerifyError(path + ": no timecode found");
}
