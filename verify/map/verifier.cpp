#include "verify/map/verifier.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <deque>
#include <future>
#include <limits>
#include <memory>
#include <optional>
#include <vector>

#include "timecode_format/dtmf_burst.h"
#include "timecode_format/timecode_layout.h"
#include "verify/map/event_place.h"
#include "verify/map/live_status.h"
#include "verify/map/playback_map.h"
#include "verify/map/playlist.h"
#include "verify/map/timing_fit.h"
#include "verify/read/sound_file.h"
#include "verify/signal/burst_tracker.h"
#include "verify/signal/dtmf_detector.h"
#include "verify/signal/frame_parser.h"
#include "verify/signal/lane_sums.h"
#include "verify/signal/slot_reader.h"

namespace {

constexpr int kMinSampleRate = 8000;
constexpr std::size_t kBlockFrames = 1 << 18;
// Pushed to the tracker a piece at a time, so that it still holds the whole of a frame, and half
// a frame before it, when the frame's last burst has been heard.
constexpr std::size_t kPieceFrames = 1 << 13;
// The first look stops once a channel has shown this many whole frames.
constexpr int kProbeFrames = 8;
// Start markers stand one frame apart; a spacing this close to it counts for a type (the two
// types' frames differ by a fifth), and tells the speed the recording was played at.
constexpr double kSpacingTolerance = 0.05;
// A spacing of start markers that strays this far from the median spacing (in samples, or in
// median strays where the places scatter more) holds a cut or a gap.
constexpr double kSpeedBreakSamples = 8.0;
constexpr double kSpeedBreakDeviations = 6.0;
// A start marker matches the known burst at least this well, whatever the gain: a burst cut by
// the start of the recording, or drowned in something else, does not.
constexpr double kMinCorrelation = 0.8;
// A whole frame matched under noise: noise alone matches a frame's bursts to a few hundredths at
// the best of a block's starts, and the bursts under noise ten times their power to about 0.3.
constexpr double kMinFrameCorrelation = 0.1;
// A frame the keys told this near (in frames) where the grid expects it is the frame expected.
constexpr double kNearGrid = 0.25;
// Until this many frames are read the frame's length is known only roughly.
constexpr std::size_t kYoungGrid = 3;
// While it is young, the grid takes a spacing this many standard errors of the first look's
// frame length from it (and a few samples) for that length; a larger one is a jump.
constexpr double kSpeedErrors = 4.0;
// The first frame found under noise is placed again from the line through its bursts, which
// needs this many of them placed, each within this many samples of the line, a few times over.
constexpr double kRefineBursts = 3.0;
constexpr double kRefineScatter = 1.5;
constexpr int kRefinePasses = 3;
// The frames before the first whose keys were heard are sought this many frames back at most.
constexpr double kLookBackFrames = 6.0;
// How far the first look may be off the slot's length, from where the keys were heard.
constexpr double kSlotUncertainty = 0.004;
// The first frame found under noise is sought over at least this error of the slot, this many
// standard errors of the first look's frame length, and at most the last.
constexpr double kFirstSlotError = 0.01;
constexpr double kFirstLookErrors = 6.0;
constexpr double kMostSlotError = 0.025;
// Where the places of a frame's bursts disagree by more than this (or than a few times their
// scatter), the frame holds a slip, and its place is that of the bursts with its start marker.
constexpr double kBurstAgreement = 0.3;
constexpr double kBurstDeviations = 5.0;
// A frame this far from where the grid expects it is a jump the moment it is seen.
constexpr double kCertainJump = 3.0;
// Frame spacings are followed this quickly, so a prediction over a lost frame stays on a sample.
constexpr double kSpacingFollow = 0.25;
// A burst whose fit lies this share below the recording's usual fit, and this many deviations of
// the fits, lost a part of its samples.
constexpr double kLeastLoss = 0.002;
constexpr double kLossDeviations = 6.0;
// A slip smaller than kCertainJump is told the moment it is seen once this many frames stood
// steady, when it is at least this large and this many times how far they strayed.
constexpr int kSteadyFrames = 3;
constexpr double kSlipSamples = 0.5;
constexpr double kSlipStrays = 8.0;
// Where the first of the samples that are no number lie, for the report.
constexpr std::size_t kKeptNonFinite = 100;
// Rates a header may name in place of the true one; only tried when nothing is found at the
// named rate, over the first half minute.
constexpr int kRateF = TimecodeRate(TimecodeType::dtmfF);
constexpr int kRateS = TimecodeRate(TimecodeType::dtmfS);
constexpr std::array<int, 13> kCommonRates = {kRateF, kRateS, 48000, 32000, 22050,  24000, 16000,
                                              11025,  8000,   88200, 96000, 176400, 192000};
constexpr double kRateProbeSeconds = 30.0;
// Timecode at another rate shows the header is wrong only when it plays at its own speed there.
constexpr double kOwnSpeedTolerance = 0.01;

double SlotSamples(int sampleRate, TimecodeType type) {
  return kSlotSamples * static_cast<double>(sampleRate) / TimecodeRate(type);
}

std::string Seconds(double sample, int rate) {
  char text[32];
  std::snprintf(text, sizeof text, "%.3f s", sample / rate);
  return text;
}

// As the summary prints it: a whole sample as it is, a found position to two decimals.
std::string SampleText(double sample) {
  char text[40];
  std::snprintf(text, sizeof text, sample == std::floor(sample) ? "sample %.0f" : "sample %.2f",
                sample);
  return text;
}

// Sets every NaN or infinite sample to 0, so no arithmetic meets one, and calls found(i) with
// each one's index.
template <typename Found>
void ClearNonFinite(float* x, std::size_t n, Found&& found) {
  if (lanes::AllFinite(x, n)) return;
  for (std::size_t i = 0; i < n; ++i) {
    if (!std::isfinite(x[i])) {
      x[i] = 0.0f;
      found(i);
    }
  }
}

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

// The frames read at a time: kBlockFrames, or a short recording's length, so that its buffers are
// its own size. The first look is taken again at each common rate, and clearing buffers far
// larger than the recording would cost more than reading it.
std::size_t BlockFor(const SoundFile& file) {
  if (file.Frames() < 0) return kBlockFrames;
  return std::clamp<std::size_t>(static_cast<std::size_t>(file.Frames()), 1, kBlockFrames);
}

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

struct Choice {
  int channel = 0;  // counted from 0
  TimecodeType type = TimecodeType::dtmfF;
  double speed = 1.0;  // how much faster than its rate the timecode was played
  // How far one frame's length at that speed may be off, in samples of the recording.
  double frameError = std::numeric_limits<double>::infinity();
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
      for (std::size_t f = 0; f < window; ++f) samples[f] = interleaved[f * width + c];
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
  std::vector<float> interleaved(block * width);
  std::vector<float> samples(block);
  ChannelLook best;
  std::size_t bestIndex = 0;
  bool more = true;
  std::int64_t heard = 0;
  while (more && best.frames < kProbeFrames) {
    const std::size_t got = heard < limit ? file.Read(interleaved.data(), block) : 0;
    heard += static_cast<std::int64_t>(got);
    more = got > 0;
    ClearNonFinite(interleaved.data(), got * width, [](std::size_t) {});
    for (std::size_t i = 0; i < channels.size(); ++i) {
      if (more) {
        const auto c = static_cast<std::size_t>(channels[i]);
        for (std::size_t f = 0; f < got; ++f) samples[f] = interleaved[f * width + c];
        probes[i]->Push(samples.data(), got);
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

// The DTMF ID that gives this check symbol to this frame, or 0 when none does.
int IdFromCheck(int frame, int check) {
  for (int id = 1; id <= kMaxDtmfId; ++id) {
    if (CheckSymbol(frame, id) == check) return id;
  }
  return 0;
}

// A frame as read: its symbols, where each of its bursts begins, or only its place in the grid
// when its digits or check symbol could not be read.
struct GridFrame {
  RawFrame raw;
  std::array<double, kBurstsPerFrame> at{};  // NaN where a burst could not be placed
  // How well each burst explains its samples, where it was placed or else should lie; NaN where
  // its symbol is not known.
  std::array<double, kBurstsPerFrame> fit{};
  int placed = 0;  // how many bursts were placed
  bool unreadable = false;
};

// Reads every frame of one channel as the samples arrive. Frames the tracker finds from the keys
// it hears fix a grid; where the grid expects a frame the tracker did not find, the slot is read
// against all sixteen bursts at the predicted place, so a frame whose keys drown is still read
// or, failing that, known to be there. While every frame lies where the grid expects it, the
// tracker is held and each slot only confirmed; whatever else turns up, the tracker hears the
// samples from the last confirmed frame's check symbol on, and the frames are read as before.
class FrameReader {
 public:
  FrameReader(int rate, const Choice& choice, const VerifyOptions& options)
      : m_rate(rate),
        m_timecodeRate(TimecodeRate(choice.type)),
        m_slot(SlotSamples(rate, choice.type) / choice.speed),
        m_frame(kFrameSamples * static_cast<double>(rate) / m_timecodeRate / choice.speed),
        m_frameError(choice.frameError),
        m_tracker(rate, m_timecodeRate, choice.speed),
        m_parser(m_slot, m_tracker.BlockSamples()),
        m_stretch(m_slot / kSlotSamples),
        m_reader(m_timecodeRate, m_stretch),
        m_options(options) {
    // Half a frame of grace for a frame found late, the frame itself and the tracker's lag.
    m_lag = static_cast<std::int64_t>((kFrameBurstSlots + 1) * m_slot) +
            4 * static_cast<std::int64_t>(m_tracker.BlockSamples());
    m_keep = static_cast<std::int64_t>(m_frame) + m_lag + static_cast<std::int64_t>(kPieceFrames);
    // Until the first frame is read, enough for the frames before it whose keys drowned.
    m_tracker.Keep(m_keep + static_cast<std::int64_t>(kLookBackFrames * m_frame));
  }

  void Push(const float* samples, std::size_t count) {
    for (std::size_t done = 0; done < count; done += kPieceFrames) {
      m_tracker.Push(samples + done, std::min(kPieceFrames, count - done));
      Collect();
      while (m_expected &&
             static_cast<double>(m_tracker.Length()) >= *m_expected + 0.5 * m_frame + m_lag) {
        if (!m_tracker.Holding()) {
          ReadExpected();
        } else if (!ReadOnGrid()) {
          // Something else lies where the grid expects a frame: the keys held back are heard
          // after all, and the frame is read with what they tell.
          m_tracker.Listen();
          Collect();
        }
      }
      // A grid that ended while held (a frame the keys told elsewhere, read past) has nothing to
      // confirm: the keys must find what comes next.
      if (!m_expected && m_tracker.Holding()) {
        m_tracker.Listen();
        Collect();
      }
    }
  }

  void Finish() {
    m_tracker.Finish();
    Collect();
    while (m_expected) ReadExpected();
    // A frame whose check symbol runs past the end of the recording is cut by its end.
    const auto length = static_cast<double>(m_tracker.Length());
    std::erase_if(m_frames, [&](const GridFrame& frame) {
      return frame.at[0] + (kFrameBurstSlots - 0.1) * m_slot > length;
    });
  }

  std::int64_t Length() const { return m_tracker.Length(); }
  std::vector<GridFrame>& Frames() { return m_frames; }
  // The length of a frame as the reader now follows it, in samples of the recording.
  double FrameLength() const { return m_frame; }
  double Stretch() const { return m_stretch; }

 private:
  void Fault(const std::string& line) const {
    if (m_options.onFault) m_options.onFault(line);
  }
  std::string Where(double sample) const {
    return Seconds(sample, m_rate) + ", " + SampleText(sample);
  }

  void Collect() {
    RawFrame frame;
    for (const Burst& burst : m_tracker.Take()) {
      if (m_parser.Add(burst, frame)) m_told.push_back(frame);
    }
    const SampleView view = m_tracker.View();
    const auto radius = m_tracker.BlockSamples();
    // Noise can hide the rise of a marker and the keys of half a slot; the whole frame is then
    // sought that far around where they were heard.
    const int search = SearchRadius();
    while (!m_told.empty()) {
      const RawFrame& told = m_told.front();
      const BurstMatch& match = told.start.match;
      const bool precise = match.found && std::abs(match.correlation) >= kMinCorrelation;
      const double rough = precise ? match.position : told.start.onset;
      // A frame whose bursts have not all arrived waits for them.
      if (!precise && static_cast<double>(view.first + view.count) <
                          rough + static_cast<double>(m_reader.FrameReach(
                                      kBurstsPerFrame, m_slot, search, FirstSlotError()))) {
        break;
      }
      Told(told, precise, rough, radius, view);
      m_told.pop_front();
    }
  }

  void Told(const RawFrame& frame, bool precise, double rough, int radius, const SampleView& view) {
    // Where the grid already expects this frame, its slots are read there; only a frame found
    // elsewhere (after a jump, or the first ones) is placed from what the keys told.
    const double near = precise ? kCertainJump : radius;
    // Under noise the keys place a frame only roughly; the next frame near the place the grid
    // expects it is that frame. What the keys told is kept for the slots the grid cannot read.
    if (m_expected && (std::abs(rough - *m_expected) <= near ||
                       (!precise && frame.number == m_lastNumber + 1 &&
                        std::abs(rough - *m_expected) <= kNearGrid * m_frame))) {
      if (frame.number == m_lastNumber + 1) m_heard = frame;
      return;
    }
    // The frame the grid read last, told again by the keys.
    if (m_lastPlace && std::abs(rough - *m_lastPlace) <= near) return;
    double place = rough;
    double polarity = precise ? frame.start.match.correlation : 0.0;
    if (!precise) {
      // Noise hid where the marker begins: the whole frame is matched around the guess, which
      // also tells the slot's length better than the first look could.
      const int search = SearchRadius();
      if (m_reader.NeedFrom(rough - search) < view.first) return;
      double slot = m_slot;
      place = m_reader.LocateFrame(view, frame.symbols, rough, search,
                                   m_frames.empty() ? FirstSlotError() : 0.0, slot, polarity);
      if (std::abs(polarity) < kMinFrameCorrelation) return;
      if (m_polarity && polarity * *m_polarity < 0.0) return;
      if (m_expected && std::abs(place - *m_expected) <= kCertainJump) return;
      if (m_frames.empty() && !m_expected) {
        if (slot != m_slot) Restretch(slot);
        if (!m_polarity) m_polarity = polarity < 0.0 ? -1.0 : 1.0;
        place = Refine(view, place, frame.symbols);
      }
    }
    // A marker that began before the recording did is a frame cut by its start; one placed to
    // the nearest sample only is placed to a fraction of one before it is judged.
    if (place < (precise ? -0.5 : -kCertainJump)) return;
    Found(frame, place, polarity);
  }

  // The first frame matched whole is placed to the nearest sample at best, its slot only to a
  // step of the search: where the bursts read there lie on a line, the line's start and slope
  // place the frame and measure the slot to a fraction of a sample. Returns the place.
  double Refine(const SampleView& view, double place,
                const std::array<int, kBurstsPerFrame>& told) {
    for (int pass = 0; pass < kRefinePasses; ++pass) {
      const GridFrame read = ReadSlots(view, place, told, told);
      double n = 0.0, mk = 0.0, ma = 0.0;
      for (std::size_t k = 0; k < kBurstsPerFrame; ++k) {
        if (std::isnan(read.at[k]) || (k == 0 && read.at[0] == place)) continue;
        n += 1.0;
        mk += static_cast<double>(k);
        ma += read.at[k];
      }
      if (n < kRefineBursts) break;
      mk /= n;
      ma /= n;
      double across = 0.0, spread = 0.0;
      for (std::size_t k = 0; k < kBurstsPerFrame; ++k) {
        if (std::isnan(read.at[k]) || (k == 0 && read.at[0] == place)) continue;
        across += (static_cast<double>(k) - mk) * (read.at[k] - ma);
        spread += (static_cast<double>(k) - mk) * (static_cast<double>(k) - mk);
      }
      const double pair = across / spread;
      bool straight = true;
      for (std::size_t k = 0; k < kBurstsPerFrame; ++k) {
        if (std::isnan(read.at[k]) || (k == 0 && read.at[0] == place)) continue;
        const double off = read.at[k] - (ma + pair * (static_cast<double>(k) - mk));
        straight = straight && std::abs(off) <= kRefineScatter;
      }
      const double slot = 0.5 * pair;
      if (!straight || std::abs(slot / m_slot - 1.0) > FirstSlotError()) break;
      const double start = ma - pair * mk;
      const bool settled = std::abs(start - place) < kRefineScatter;
      Restretch(slot);
      place = start;
      if (settled) break;
    }
    return place;
  }

  // How far the slot the first look measured may be off, as a share of it: under noise the keys
  // place each frame to a few hundred samples, and a few frames tell the speed to about a
  // percent; the fit's own error, where it says more, or the most a recording is played off.
  double FirstSlotError() const {
    if (!std::isfinite(m_frameError)) return kMostSlotError;
    return std::clamp(kFirstLookErrors * m_frameError / m_frame, kFirstSlotError, kMostSlotError);
  }

  int SearchRadius() const {
    return static_cast<int>(std::ceil(m_slot)) + m_tracker.BlockSamples();
  }

  // Before any frame is read: the bursts are matched at the slot length the first frame showed.
  void Restretch(double slot) {
    m_frame *= slot / m_slot;
    m_frameError = std::numeric_limits<double>::infinity();
    m_slot = slot;
    m_stretch = m_slot / kSlotSamples;
    m_reader = SlotReader(m_timecodeRate, m_stretch);
  }

  // A frame the keys told, at a place away from the grid: first every frame the grid expected
  // before it is read, then this one, slot by slot where it was found.
  void Found(const RawFrame& frame, double place, double polarity) {
    while (m_expected && place > *m_expected + 0.5 * m_frame) ReadExpected();
    if (!m_polarity) m_polarity = polarity < 0.0 ? -1.0 : 1.0;
    const SampleView view = m_tracker.View();
    if (m_reader.NeedFrom(place) < view.first) return;
    GridFrame read = ReadSlots(view, place, frame.symbols);
    const bool clean = std::abs(polarity) >= kMinCorrelation;
    // A frame matched under noise whose bursts could not be placed there lies off its place: the
    // grid starts from a frame that holds it.
    if (read.unreadable || CutByTheStart(read, clean) || (!clean && read.placed < kRefineBursts)) {
      return;
    }
    if (m_frames.empty() && !m_pending) {
      // The keys of the first frames may drown where those of later ones are heard: the frames
      // before the first one told are sought where the grid puts them.
      std::vector<GridFrame> before = ReadBefore(view, read);
      for (auto frame = before.rbegin(); frame != before.rend(); ++frame) Keep(*frame);
      m_tracker.Keep(m_keep);
    }
    Keep(read);
  }

  // The frames before `first`, each read where a frame's length before the next puts it and
  // known by the number it must have, back to frame 1 or to the first that cannot be read.
  std::vector<GridFrame> ReadBefore(const SampleView& view, const GridFrame& first) {
    std::vector<GridFrame> before;
    const GridFrame* next = &first;
    while (next->raw.number > 1) {
      const int number = next->raw.number - 1;
      std::optional<GridFrame> found;
      // Under method 1, frame 1 carries two more gaps.
      for (const int method : {kMethod2, kMethod1}) {
        if (m_options.method && *m_options.method != method) continue;
        if (number != 1 && method == kMethod1) break;
        const double extra = number == 1 && method == kMethod1 ? 2.0 * m_slot : 0.0;
        found = ReadFrameAt(view, next->at[0] - m_frame - extra, Expected(number, method), number);
        if (found) break;
      }
      if (!found) break;
      before.push_back(*found);
      next = &before.back();
    }
    return before;
  }

  // The frame `number`, whose symbols are `expected`, read at `place`, or matched whole within a
  // few samples of it first where it cannot be read there; none where it is not there.
  std::optional<GridFrame> ReadFrameAt(const SampleView& view, double place,
                                       const std::array<int, kBurstsPerFrame>& expected,
                                       int number) {
    // As far as the frame's length may be off.
    const double unsure = std::min(kSlotUncertainty * m_frame, kSpeedErrors * m_frameError);
    const int radius = static_cast<int>(std::ceil(unsure + kCertainJump));
    if (place < -radius || m_reader.NeedFrom(place - radius) < view.first) return {};
    std::array<int, kBurstsPerFrame - 1> symbols{};
    std::copy_n(expected.begin(), symbols.size(), symbols.begin());
    double slot = m_slot;
    double correlation = 0.0;
    const double matched =
        m_reader.LocateFrame(view, symbols, place, radius, 0.0, slot, correlation);
    if (std::abs(correlation) < kMinFrameCorrelation ||
        correlation * m_polarity.value_or(1.0) <= 0.0) {
      return {};
    }
    const GridFrame read = ReadSlots(view, matched, {}, expected);
    if (read.unreadable || read.raw.number != number || read.placed < kRefineBursts ||
        CutByTheStart(read, std::abs(correlation) >= kMinCorrelation)) {
      return {};
    }
    return read;
  }

  // A frame whose start marker began before the recording did. A clean marker is placed to a
  // fraction of a sample; one matched under noise only to a few.
  static bool CutByTheStart(const GridFrame& read, bool clean) {
    return read.at[0] < (clean ? -0.5 : -kCertainJump);
  }

  // The six symbols frame `number` carries under `method`; its check symbol where the DTMF ID
  // is given or the frames read so far agree on one, else 0.
  std::array<int, kBurstsPerFrame> Expected(int number, int method) const {
    auto digit = [](int d) { return d == 0 ? kZeroDigitSymbol : d; };
    std::array<int, kBurstsPerFrame> symbols = {kFrameStartSymbol,        digit(number / 1000 % 10),
                                                digit(number / 100 % 10), digit(number / 10 % 10),
                                                digit(number % 10),       0};
    if (number == 1) {
      symbols[0] = method == kMethod1 ? kRunEdgeSymbol : kFirstFrameSymbol;
      if (method == kMethod1) symbols[1] = kFirstFrameSymbol;
    }
    const int id = m_options.dtmfId.value_or(LikelyId());
    if (id != 0) symbols[5] = CheckSymbol(number, id);
    return symbols;
  }

  // The DTMF ID the check symbols read so far agree on, or 0 before any was read.
  int LikelyId() const {
    const auto best = std::max_element(m_idVotes.begin() + 1, m_idVotes.end());
    return *best > 0 ? static_cast<int>(best - m_idVotes.begin()) : 0;
  }

  // The six slots of a frame from `place` on, each read against all sixteen bursts, the symbols
  // of `expected` (0: none) taken on less evidence; where a slot reads as nothing clear, the
  // symbol the keys told (if any) is placed there instead.
  GridFrame ReadSlots(const SampleView& view, double place,
                      const std::array<int, kBurstsPerFrame>& told,
                      const std::array<int, kBurstsPerFrame>& expected = {}) const {
    return ReadSlotsWith(view, place, [&](std::size_t k, double guess, double polarity) {
      SlotRead slot = m_reader.Read(view, guess, polarity, expected[k]);
      if (slot.symbol == 0 && told[k] != 0) slot = m_reader.Place(view, told[k], guess, polarity);
      if (slot.symbol == 0) slot.symbol = told[k];
      return slot;
    });
  }

  // The six slots of a frame from `place` on, each holding the burst of `expected` clearly or
  // read as nothing; much quicker where the frame is there, as it mostly is.
  GridFrame ConfirmSlots(const SampleView& view, double place,
                         const std::array<int, kBurstsPerFrame>& expected) const {
    return ReadSlotsWith(view, place, [&](std::size_t k, double guess, double polarity) {
      return m_reader.Confirm(view, expected[k], guess, polarity);
    });
  }

  // The six slots from `place` on, each read by read(k, guess, polarity) and the next guessed
  // from where it was placed.
  template <typename ReadSlot>
  GridFrame ReadSlotsWith(const SampleView& view, double place, ReadSlot&& readSlot) const {
    const double polarity = m_polarity.value_or(1.0);
    GridFrame read;
    read.at.fill(std::nan(""));
    read.fit.fill(std::nan(""));
    std::array<int, kBurstsPerFrame> symbols{};
    std::array<double, kBurstsPerFrame> guesses{};
    double guess = place;
    for (std::size_t k = 0; k < kBurstsPerFrame; ++k) {
      if (k > 0) guess += 2.0 * m_slot;
      const SlotRead slot = readSlot(k, guess, polarity);
      symbols[k] = slot.symbol;
      guesses[k] = guess;
      if (!slot.placed) continue;
      ++read.placed;
      read.at[k] = slot.position;
      read.fit[k] = m_reader.Fit(view, slot.symbol, slot.position, polarity);
      guess = slot.position;
    }
    // A burst that could not be placed is judged where it should lie: a part of it lost (its
    // start zeroed, say) can keep it from being placed at all.
    for (std::size_t k = 0; k < kBurstsPerFrame; ++k) {
      if (std::isnan(read.fit[k]) && symbols[k] != 0) {
        read.fit[k] = m_reader.Fit(view, symbols[k], guesses[k], polarity);
      }
    }
    if (std::isnan(read.at[0])) read.at[0] = place;
    read.raw.start.match.found = true;
    read.raw.start.match.position = read.at[0];
    read.raw.start.match.correlation = polarity;
    read.raw.start.match.levelDbfs = LevelAt(view, read.at[0]);
    if (!ComposeFrame(symbols, read.raw)) {
      read.unreadable = true;
      read.raw.marker = symbols[0];
    }
    return read;
  }

  // The slot where the grid expects a frame, read against every burst. A frame there whose
  // marker can be read but not its digits or check is unreadable; one whose marker cannot be
  // read either is unreadable only when the grid finds the next frame where it expects it, and
  // otherwise the grid ends there (the timecode ended, or jumped where the keys will tell).
  void ReadExpected() {
    const double expected = *m_expected;
    m_expected.reset();
    const SampleView view = m_tracker.View();
    const double end = static_cast<double>(m_tracker.Length());
    if (m_reader.NeedFrom(expected) < view.first ||
        expected + (kFrameBurstSlots - 0.1) * m_slot > end) {
      DropPending();
      return;
    }
    std::array<int, kBurstsPerFrame> told{};
    // A marker the keys placed precisely places the frame better than the grid does after a
    // slip of a few samples: read from the grid's place, a burst at a low rate may settle a
    // cycle of its tones away from where it lies.
    double start = expected;
    if (m_heard && m_heard->number == m_lastNumber + 1) {
      told = m_heard->symbols;
      const BurstMatch& match = m_heard->start.match;
      if (match.found && std::abs(match.correlation) >= kMinCorrelation &&
          m_reader.NeedFrom(match.position) >= view.first) {
        start = match.position;
      }
    }
    m_heard.reset();
    const std::array<int, kBurstsPerFrame> symbols =
        Expected(m_lastNumber + 1, m_options.method.value_or(kMethod2));
    GridFrame read = ReadSlots(view, start, told, symbols);
    if (read.unreadable && !MarkerRead(read)) {
      // Where the grid, young or broken by a small jump, misses the frame by more than a
      // sample, the frame it expects is matched whole around that place.
      const bool young = m_frames.size() < kYoungGrid;
      const int radius = young ? static_cast<int>(std::ceil(kSlotUncertainty * m_frame)) +
                                     static_cast<int>(kCertainJump)
                               : m_tracker.BlockSamples();
      const auto reach = m_reader.FrameReach(kBurstsPerFrame - 1, m_slot, radius, 0.0);
      if (m_reader.NeedFrom(expected - radius) >= view.first &&
          expected + static_cast<double>(reach) <= static_cast<double>(view.first + view.count)) {
        double slot = m_slot;
        double correlation = 0.0;
        std::array<int, kBurstsPerFrame - 1> whole{};
        std::copy_n(symbols.begin(), whole.size(), whole.begin());
        const double place =
            m_reader.LocateFrame(view, whole, expected, radius, 0.0, slot, correlation);
        if (std::abs(correlation) >= kMinFrameCorrelation &&
            correlation * m_polarity.value_or(1.0) > 0.0) {
          read = ReadSlots(view, place, told, symbols);
        }
      }
    }
    const bool markerRead = MarkerRead(read);
    if (!read.unreadable) {
      if (OnGrid(read, symbols, expected)) {
        KeepOnGrid(read);
      } else {
        Keep(read);
      }
      return;
    }
    read.raw.number = m_lastNumber + 1;
    if (!markerRead && m_pending) {
      DropPending();
      return;
    }
    if (!markerRead) {
      read.raw.marker = kFrameStartSymbol;
      m_pending = Pending{read, m_predicted, m_lastPlace};
      m_expected = expected + m_frame;
      m_predicted = m_expected;
      m_lastNumber = read.raw.number;
      m_lastPlace = expected;
      return;
    }
    Keep(read);
  }

  // A frame read where the grid expects it, every burst the one expected there: the frame the
  // keys would tell, had they been listened to.
  bool OnGrid(const GridFrame& read, const std::array<int, kBurstsPerFrame>& symbols,
              double expected) const {
    return m_frames.size() >= kYoungGrid && !read.unreadable && read.placed == kBurstsPerFrame &&
           symbols[kBurstsPerFrame - 1] != 0 && read.raw.symbols == symbols &&
           std::abs(read.at[0] - expected) <= kCertainJump;
  }

  // Until the grid meets something else, the keys need not be listened to: a frame read on the
  // grid explains the samples up to its check symbol. The gap behind it is left to the keys, for
  // the next frame's marker may begin anywhere in it where samples were lost.
  void KeepOnGrid(const GridFrame& read) {
    Keep(read);
    m_tracker.Hold();
    if (m_tracker.SkipTo(static_cast<std::int64_t>(std::floor(read.at[kBurstsPerFrame - 1])))) {
      m_parser.Forget();
    }
  }

  // The frame the grid expects, read while the keys are held: kept where it lies on the grid;
  // false, and nothing changed, where it does not.
  bool ReadOnGrid() {
    const double expected = *m_expected;
    const SampleView view = m_tracker.View();
    if (m_pending || m_reader.NeedFrom(expected) < view.first) return false;
    const std::array<int, kBurstsPerFrame> symbols =
        Expected(m_lastNumber + 1, m_options.method.value_or(kMethod2));
    const GridFrame read = ConfirmSlots(view, expected, symbols);
    if (!OnGrid(read, symbols, expected)) return false;
    m_expected.reset();
    m_heard.reset();
    KeepOnGrid(read);
    return true;
  }

  double LevelAt(const SampleView& view, double place) const {
    const auto first = static_cast<std::int64_t>(std::ceil(place));
    const auto count = static_cast<std::int64_t>(kSlotSamples * m_slot / kSlotSamples);
    const double squares =
        lanes::Dot(view.At(first), view.At(first), static_cast<std::size_t>(count));
    const double meanSquare = squares / static_cast<double>(count);
    return meanSquare > 0.0 ? 10.0 * std::log10(meanSquare) : -200.0;
  }

  static bool MarkerRead(const GridFrame& read) {
    return read.raw.marker >= kRunEdgeSymbol && read.raw.marker <= kFirstFrameSymbol;
  }

  // The grid ended after a frame it only supposed: that frame was never there.
  void DropPending() {
    if (!m_pending) return;
    m_lastNumber = m_pending->frame.raw.number - 1;
    m_predicted = m_pending->predicted;
    m_lastPlace = m_pending->lastPlace;
    m_pending.reset();
  }

  // Digits that spell another number than the grid puts at this place, with a check symbol that
  // fails for them, are no frame of that number: they are the damaged frame the grid expects.
  // Only frames whose check symbols pass may show the timecode elsewhere than the grid says.
  void NumberFromGrid(GridFrame& read) const {
    if (read.unreadable || !m_lastPlace || read.raw.check == kCheckStar) return;
    // Frame 1's own marker starts a file: the next file of a playlist, with its own DTMF ID.
    if (read.raw.marker == kFirstFrameSymbol || read.raw.marker == kRunEdgeSymbol) return;
    // The ID of the frame read last: a playlist's next file has an ID of its own.
    const int id = m_options.dtmfId.value_or(m_lastId != 0 ? m_lastId : LikelyId());
    if (id == 0 || CheckSymbol(read.raw.number, id) == read.raw.check) return;
    const int number =
        m_lastNumber + static_cast<int>(std::lround((read.at[0] - *m_lastPlace) / m_frame));
    if (number == read.raw.number || number < 1) return;
    read.raw.number = number;
    read.unreadable = true;
  }

  void Keep(GridFrame read) {
    NumberFromGrid(read);
    if (m_pending) {
      // The frame whose marker drowned lay in the grid after all: the next one came on time.
      if (read.raw.number == m_pending->frame.raw.number + 1) {
        const GridFrame& drowned = m_pending->frame;
        Fault("frame " + std::to_string(drowned.raw.number) + " unreadable at " +
              Where(drowned.at[0]));
        m_frames.push_back(drowned);
        m_pending.reset();
      } else {
        DropPending();
      }
    }
    if (read.unreadable) {
      Fault("frame " + std::to_string(read.raw.number) + " unreadable at " + Where(read.at[0]));
    }
    const double place = read.at[0];
    const int number = read.raw.number;
    if (m_lastPlace) {
      // Only numbers above every one heard can be missing: after a frame heard again, the
      // frames up to the largest were there.
      if (number > m_largest + 2) {
        Fault("frames " + std::to_string(m_largest + 1) + " to " + std::to_string(number - 1) +
              " missing");
      } else if (number == m_largest + 2) {
        Fault("frame " + std::to_string(m_largest + 1) + " missing");
      } else if (number <= m_largest) {
        Fault("frame " + std::to_string(number) +
              (number == m_largest ? " again" : " out of order") + " after frame " +
              std::to_string(m_lastNumber) + " at " + Where(place));
      }
      // Against where this number belongs after the last frame, as the fit judges it: a lost
      // frame or one heard again is a jump as well as a frame missing or out of order.
      const double jump = place - (*m_predicted + (number - m_lastNumber - 1) * m_frame);
      const bool next = number == m_lastNumber + 1;
      // Until a few frames are read the frame's length is only roughly known: the spacing of
      // the first frames sets it.
      const double unsure = std::min(kSlotUncertainty * m_frame, kSpeedErrors * m_frameError);
      const bool settling =
          next && m_frames.size() < kYoungGrid && std::abs(jump) <= unsure + kCertainJump;
      // Under method 1, frame 1 carries two more gaps.
      const bool longer = !m_frames.empty() && m_frames.back().raw.marker == kRunEdgeSymbol;
      const double spacing = place - *m_lastPlace - (longer ? 2.0 * m_slot : 0.0);
      if (settling) {
        // A frame placed only where the grid guessed tells nothing of the frame's length.
        if (read.placed >= kRefineBursts) {
          m_frame = spacing;
          m_slot = m_frame * kSlotSamples / kFrameSamples;
        }
      } else if (std::abs(jump) > kCertainJump || (next && !read.unreadable && Slip(jump))) {
        char text[48];
        std::snprintf(text, sizeof text, "%+.2f", jump);
        Fault("discontinuity at frame " + std::to_string(number) + ": jump " + text + " samples, " +
              Where(place));
      } else if (next) {
        m_frame += kSpacingFollow * (spacing - m_frame);
        m_slot = m_frame * kSlotSamples / kFrameSamples;
        if (!read.unreadable) {
          m_jumpScatter +=
              (m_steady == 0 ? 1.0 : kSpacingFollow) * (std::abs(jump) - m_jumpScatter);
          ++m_steady;
        }
      }
    }
    m_largest = std::max(m_largest, number);
    if (!read.unreadable && m_options.dtmfId && read.raw.check != kCheckStar &&
        CheckSymbol(number, *m_options.dtmfId) != read.raw.check) {
      Fault("frame " + std::to_string(number) + ": wrong check symbol at " + Where(place));
    }
    if (!read.unreadable && read.raw.check != kCheckStar) {
      m_lastId = IdFromCheck(number, read.raw.check);
      ++m_idVotes[static_cast<std::size_t>(m_lastId)];
    }
    m_lastPlace = place;
    m_lastNumber = number;
    // Under method 1, frame 1 carries two more gaps.
    const double length = m_frame + (read.raw.marker == kRunEdgeSymbol ? 2.0 * m_slot : 0.0);
    m_expected = place + length;
    m_predicted = m_expected;
    m_frames.push_back(read);
  }

  // A jump below kCertainJump between neighbouring frames is a slip where the frames have stood
  // still so far: after a few steady frames, a jump of half a sample or more that stands far
  // out of how much the steady ones strayed. Under noise they stray too far for that, and only
  // the fit at the end can tell a slip.
  bool Slip(double jump) const {
    return m_steady >= kSteadyFrames && std::abs(jump) >= kSlipSamples &&
           std::abs(jump) > kSlipStrays * m_jumpScatter;
  }

  int m_rate;
  int m_timecodeRate;
  double m_slot;        // one slot in recording samples, at the speed played
  double m_frame;       // one frame, followed as the frames come
  double m_frameError;  // how far m_frame may be off before the first frames settle it
  BurstTracker m_tracker;
  FrameParser m_parser;
  double m_stretch;  // recording samples per timecode sample the bursts are matched at
  SlotReader m_reader;
  const VerifyOptions& m_options;
  std::int64_t m_lag = 0;
  std::int64_t m_keep = 0;  // samples the grid reads back from the newest
  std::optional<double> m_polarity;
  std::optional<double> m_expected;   // where the grid expects the next frame, until it is read
  std::optional<double> m_predicted;  // the same, kept to measure the jump of what came
  std::optional<double> m_lastPlace;
  int m_lastNumber = 0;
  int m_largest = 0;           // the largest frame number heard
  double m_jumpScatter = 0.0;  // how far steady frames stray from where they were expected
  int m_steady = 0;            // how many frames that measure holds
  // A frame unreadable marker and all, until the next one is read, and what the grid knew before.
  struct Pending {
    GridFrame frame;
    std::optional<double> predicted, lastPlace;
  };
  std::optional<Pending> m_pending;
  std::array<int, kMaxDtmfId + 1> m_idVotes{};  // frames read whose check each ID gives
  int m_lastId = 0;                             // the ID the last frame read gives
  std::optional<RawFrame> m_heard;  // the keys of the frame the grid expects next, if heard
  std::deque<RawFrame> m_told;      // frames the keys told, waiting for all of their samples
  std::vector<GridFrame> m_frames;
};

// --follow's status lines: the frames read since the last look are handed on, and a line goes
// out for every 10 s of audio read. The fault lines already out count as events.
class StatusFeed {
 public:
  StatusFeed(int rate, TimecodeType type, const VerifyOptions& options)
      : m_options(options), m_quiet(options) {
    m_quiet.onFault = nullptr;
    m_quiet.onStatus = nullptr;
    if (!options.onStatus) return;
    const double frame = kFrameSamples * static_cast<double>(rate) / TimecodeRate(type);
    m_status.emplace(rate, frame, options.onStatus);
    m_options.onFault = [this, told = options.onFault](const std::string& line) {
      m_status->Event();
      if (told) told(line);
    };
  }
  StatusFeed(const StatusFeed&) = delete;
  StatusFeed& operator=(const StatusFeed&) = delete;

  // The options the reader is to use: its fault lines pass through here.
  const VerifyOptions& Options() const { return m_options; }
  // The options of the readers of other channels, whose faults are summed up at the end only.
  const VerifyOptions& Quiet() const { return m_quiet; }

  void Look(FrameReader& reader) {
    if (!m_status) return;
    const std::vector<GridFrame>& frames = reader.Frames();
    for (; m_fed < frames.size(); ++m_fed) {
      const GridFrame& frame = frames[m_fed];
      if (!frame.unreadable) m_status->Frame(frame.raw.number, frame.at[0], reader.FrameLength());
    }
    m_status->Heard(reader.Length());
  }

 private:
  VerifyOptions m_options;
  VerifyOptions m_quiet;
  std::optional<LiveStatus> m_status;
  std::size_t m_fed = 0;
};

// One channel's frames as read, and the stretch its bursts were matched at.
struct ChannelFrames {
  int channel = 0;  // counted from 0
  std::vector<GridFrame> frames;
  double stretch = 1.0;
};

// A block of samples of each of a few channels: one channel comes straight from the file, more
// are taken apart from the interleaved frames.
class ChannelBlocks {
 public:
  ChannelBlocks(SoundFile& file, const std::vector<Choice>& choices)
      : m_file(file),
        m_block(choices.size() == 1 ? BlockFor(file) : file.BlockFrames(BlockFor(file))) {
    for (const Choice& choice : choices) m_channels.push_back(choice.channel);
    if (m_channels.size() > 1) {
      m_interleaved.resize(m_block * static_cast<std::size_t>(file.Channels()));
    }
  }

  std::size_t BlockFrames() const { return m_block; }

  // Fills into[i] with channel i's next block; returns the frames read, 0 at the end.
  std::size_t Read(std::vector<std::vector<float>>& into) {
    if (m_channels.size() == 1) return m_file.ReadChannel(m_channels[0], into[0].data(), m_block);
    const std::size_t got = m_file.Read(m_interleaved.data(), m_block);
    const auto width = static_cast<std::size_t>(m_file.Channels());
    for (std::size_t i = 0; i < m_channels.size(); ++i) {
      const auto c = static_cast<std::size_t>(m_channels[i]);
      for (std::size_t f = 0; f < got; ++f) into[i][f] = m_interleaved[f * width + c];
    }
    return got;
  }

 private:
  SoundFile& m_file;
  std::size_t m_block;
  std::vector<int> m_channels;
  std::vector<float> m_interleaved;
};

// Every frame of each chosen channel, each burst placed to a fraction of a sample, in one pass
// over the recording; counts the samples of the first channel that are no number into the
// report. Only the first channel's faults are told as they come.
std::vector<ChannelFrames> ReadFrames(SoundFile& file, const std::vector<Choice>& choices,
                                      const VerifyOptions& given, VerifyProgress* progress,
                                      VerifyReport& report) {
  const int rate = file.SampleRate();
  StatusFeed status(rate, choices[0].type, given);
  const VerifyOptions& options = status.Options();
  std::vector<std::unique_ptr<FrameReader>> readers;
  for (const Choice& choice : choices) {
    readers.push_back(
        std::make_unique<FrameReader>(rate, choice, readers.empty() ? options : status.Quiet()));
  }
  FrameReader& first = *readers[0];
  ChannelBlocks blocks(file, choices);
  // The next block is read on the other core while this one is decoded.
  std::vector<std::vector<float>> samples(choices.size(), std::vector<float>(blocks.BlockFrames()));
  std::vector<std::vector<float>> ahead = samples;
  auto readAhead = [&] {
    return std::async(std::launch::async, [&blocks, &ahead] { return blocks.Read(ahead); });
  };
  // Samples that are no number are set to 0 and counted; the first in each block is told.
  std::int64_t toldAt = 0;
  auto clearNonFinite = [&](float* x, std::size_t n, std::int64_t first) {
    ClearNonFinite(x, n, [&](std::size_t i) {
      const std::int64_t at = first + static_cast<std::int64_t>(i);
      if (report.nonFiniteSamples.size() < kKeptNonFinite) report.nonFiniteSamples.push_back(at);
      if (report.nonFiniteCount++ == toldAt && options.onFault) {
        options.onFault("a sample that is no number at " + Seconds(static_cast<double>(at), rate) +
                        ", " + SampleText(static_cast<double>(at)));
      }
    });
  };
  std::size_t got = blocks.Read(samples);
  while (got > 0 && !(options.readLimit && first.Length() >= *options.readLimit)) {
    std::future<std::size_t> next = readAhead();
    toldAt = report.nonFiniteCount;
    // A piece at a time, so the samples the check brought in are still in the cache when they
    // are pushed; integer samples are always numbers.
    for (std::size_t done = 0; done < got; done += kPieceFrames) {
      const std::size_t piece = std::min(kPieceFrames, got - done);
      for (std::size_t i = 0; i < readers.size(); ++i) {
        float* x = samples[i].data() + done;
        if (!file.OnlyNumbers() && i == 0) clearNonFinite(x, piece, first.Length());
        if (!file.OnlyNumbers() && i > 0) ClearNonFinite(x, piece, [](std::size_t) {});
        readers[i]->Push(x, piece);
      }
      status.Look(first);
    }
    if (progress != nullptr) {
      progress->Update(static_cast<std::uint64_t>(first.Length()),
                       static_cast<std::uint64_t>(std::max<std::int64_t>(file.Frames(), 0)));
    }
    got = next.get();
    samples.swap(ahead);
  }
  std::vector<ChannelFrames> read;
  for (std::size_t i = 0; i < readers.size(); ++i) {
    readers[i]->Finish();
    read.push_back({choices[i].channel, std::move(readers[i]->Frames()), readers[i]->Stretch()});
  }
  return read;
}

// Where a frame begins, from all of its bursts: each burst's place less its slots at the
// measured slope. The bursts that agree with the start marker count; where a slip inside the
// frame splits them, the frame lies where its start marker and the bursts with it lie.
double CombinedPlace(const GridFrame& frame, double slope, double agreement) {
  std::vector<double> places;
  for (std::size_t k = 0; k < kBurstsPerFrame; ++k) {
    if (std::isnan(frame.at[k])) continue;
    places.push_back(frame.at[k] - static_cast<double>(2 * k * kSlotSamples) * slope);
  }
  if (places.size() < 2) return frame.at[0];
  // Groups of places that lie within `agreement` of their neighbours.
  const double marker = places[0];
  std::sort(places.begin(), places.end());
  std::vector<std::pair<std::size_t, std::size_t>> groups;
  std::size_t from = 0;
  for (std::size_t i = 1; i <= places.size(); ++i) {
    if (i == places.size() || places[i] - places[i - 1] > agreement) {
      groups.emplace_back(from, i);
      from = i;
    }
  }
  auto size = [](const std::pair<std::size_t, std::size_t>& g) { return g.second - g.first; };
  auto mean = [&](const std::pair<std::size_t, std::size_t>& g) {
    double sum = 0.0;
    for (std::size_t i = g.first; i < g.second; ++i) sum += places[i];
    return sum / static_cast<double>(size(g));
  };
  if (groups.size() == 1) return mean(groups[0]);
  auto holdsMarker = [&](const std::pair<std::size_t, std::size_t>& g) {
    return places[g.first] <= marker && marker <= places[g.second - 1];
  };
  // A slip inside the frame: a burst it cut through is placed part-way and may join either
  // group, so the marker alone places the frame where it stands with another burst or no group
  // is larger; else the largest group does (the slip cut the marker itself).
  auto chosen = *std::max_element(groups.begin(), groups.end(), [&](const auto& a, const auto& b) {
    return size(a) != size(b) ? size(a) < size(b) : holdsMarker(b);
  });
  for (const auto& group : groups) {
    if (holdsMarker(group) && (size(group) >= 2 || size(group) == size(chosen))) return marker;
  }
  return mean(chosen);
}

// How far the bursts of a frame scatter about the frame's own mean, over the whole recording.
double BurstScatter(const std::vector<GridFrame>& frames, double slope) {
  std::vector<double> deviations;
  for (const GridFrame& frame : frames) {
    std::vector<double> places;
    for (std::size_t k = 0; k < kBurstsPerFrame; ++k) {
      if (!std::isnan(frame.at[k]))
        places.push_back(frame.at[k] - static_cast<double>(2 * k * kSlotSamples) * slope);
    }
    if (places.size() < 2) continue;
    const double centre = Median(places);
    for (const double place : places) deviations.push_back(std::abs(place - centre));
  }
  return deviations.empty() ? 0.0 : kMadToSd * Median(deviations);
}

// The bursts of frames read whose samples their burst explains clearly less well than the
// recording's bursts mostly are: a part of them was lost (zeroed, overwritten). Noise lowers
// every burst's fit alike, so only the fits that stray below the rest count.
// `slope` places a burst that could not be placed itself: from its frame's start marker.
std::vector<FramePlace> DamagedBursts(const std::vector<GridFrame>& frames, double slope) {
  std::vector<double> fits;
  for (const GridFrame& frame : frames) {
    for (std::size_t k = 0; k < kBurstsPerFrame && !frame.unreadable; ++k) {
      if (!std::isnan(frame.fit[k])) fits.push_back(frame.fit[k]);
    }
  }
  if (fits.empty()) return {};
  const double typical = Median(fits);
  for (double& fit : fits) fit = std::abs(fit - typical);
  const double deviation = kMadToSd * Median(fits);
  const double least = typical - std::max(kLeastLoss * typical, kLossDeviations * deviation);
  std::vector<FramePlace> damaged;
  for (const GridFrame& frame : frames) {
    for (std::size_t k = 0; k < kBurstsPerFrame && !frame.unreadable; ++k) {
      // A loop table is written over the first samples of TC.wav, inside frame 1's marker.
      const bool underTable = frame.raw.number == 1 && k == 0;
      if (frame.fit[k] < least && !underTable) {  // never for a fit of NaN (no known symbol)
        const double at = std::isnan(frame.at[k])
                              ? frame.at[0] + static_cast<double>(2 * k * kSlotSamples) * slope
                              : frame.at[k];
        damaged.push_back({frame.raw.number, at});
      }
    }
  }
  return damaged;
}

// Frame 1's markers tell the method; failing that, the '*' in place of the last check symbol.
int FindMethod(const std::vector<GridFrame>& frames, bool& assumed) {
  assumed = false;
  for (const GridFrame& frame : frames) {
    if (frame.raw.number == 1) return frame.raw.marker == kCheckStar ? kMethod1 : kMethod2;
  }
  for (const GridFrame& frame : frames) {
    if (!frame.unreadable && frame.raw.check == kCheckStar) return kMethod2;
  }
  assumed = true;
  return kMethod2;
}

// The ID most check symbols agree on; the '*' ending the run is no check symbol.
int FindDtmfId(const std::vector<GridFrame>& frames) {
  std::array<int, kMaxDtmfId + 1> votes{};
  for (const GridFrame& frame : frames) {
    if (!frame.unreadable && frame.raw.check != kCheckStar)
      ++votes[static_cast<std::size_t>(IdFromCheck(frame.raw.number, frame.raw.check))];
  }
  const auto best = std::max_element(votes.begin() + 1, votes.end());
  return static_cast<int>(best - votes.begin());
}

void CheckOptions(const VerifyOptions& options, int channels, const std::string& path) {
  if (options.channel && (*options.channel < 1 || *options.channel > channels)) {
    throw VerifyError(path + ": has no channel " + std::to_string(*options.channel));
  }
  if (options.method && *options.method != kMethod1 && *options.method != kMethod2) {
    throw VerifyError("the method is 1 or 2");
  }
  if (options.dtmfId && (*options.dtmfId < 1 || *options.dtmfId > kMaxDtmfId)) {
    throw VerifyError("the DTMF ID is 1 to 10");
  }
}

bool AnyReadable(const std::vector<GridFrame>& frames) {
  return std::any_of(frames.begin(), frames.end(),
                     [](const GridFrame& f) { return !f.unreadable; });
}

// Fills the report from one channel's frames: the method and DTMF ID where not given, every
// frame with its place from all of its bursts, and the fit.
void Judge(VerifyReport& report, const ChannelFrames& read, const VerifyOptions& options) {
  report.channel = read.channel + 1;
  report.method = options.method ? *options.method : FindMethod(read.frames, report.methodAssumed);
  report.dtmfId = options.dtmfId ? *options.dtmfId : FindDtmfId(read.frames);
  for (const GridFrame& frame : read.frames) {
    if (frame.unreadable) {
      report.unreadable.push_back({frame.raw.number, frame.at[0]});
      continue;
    }
    FoundFrame found;
    found.number = frame.raw.number;
    found.foundSample = frame.at[0];
    found.levelDbfs = frame.raw.start.match.levelDbfs;
    if (frame.raw.check != kCheckStar) {
      found.checkId = IdFromCheck(frame.raw.number, frame.raw.check);
    }
    found.checkOk = frame.raw.check == kCheckStar
                        ? report.method == kMethod2
                        : CheckSymbol(frame.raw.number, report.dtmfId) == frame.raw.check;
    if (!found.checkOk) report.checkFailures.push_back(frame.raw.number);
    report.frames.push_back(found);
  }
  const double ratio = static_cast<double>(report.sampleRate) / TimecodeRate(report.type);
  // The start markers alone give the slope; with it every burst gives the place of its frame.
  const double slope = FitTiming(report, ratio, options.toleranceSamples);
  const double agreement =
      std::max(kBurstAgreement, kBurstDeviations * BurstScatter(read.frames, slope));
  // The bursts were matched stretched to the speed first heard; a burst matched at the wrong
  // stretch is placed by its middle, so every place moves by half a burst times the difference.
  const double centre = 0.5 * (dtmf_burst::kBurstSamples - 1);
  const double moved = centre * (read.stretch - slope);
  std::size_t next = 0;
  for (const GridFrame& frame : read.frames) {
    if (frame.unreadable) continue;
    FoundFrame& found = report.frames[next++];
    found.foundSample = CombinedPlace(frame, slope, agreement) + moved;
    for (std::size_t k = 0; k < kBurstsPerFrame; ++k) found.bursts[k] = frame.at[k] + moved;
  }
  for (FramePlace& place : report.unreadable) place.sample += moved;
  report.damaged = DamagedBursts(read.frames, slope);
  for (FramePlace& place : report.damaged) place.sample += moved;
  FitTiming(report, ratio, options.toleranceSamples);
  BuildEvents(report);
}

// Another channel's report, summed up against the report of the first.
OtherChannel SumUp(const VerifyReport& other, const VerifyReport& first) {
  OtherChannel summary;
  summary.channel = other.channel;
  summary.framesFound = other.framesFound;
  summary.faults = static_cast<int>(other.missing.size() + other.unreadable.size() +
                                    other.duplicated.size() + other.outOfOrder.size() +
                                    other.checkFailures.size() + other.discontinuities.size());
  summary.latencySamples = other.latencySamples;
  summary.offsetSamples = other.latencySamples - first.latencySamples;
  return summary;
}

}  // namespace

VerifyReport VerifyRecording(const std::string& path, const VerifyOptions& given,
                             VerifyProgress* progress) {
  VerifyOptions options = given;
  VerifyReport report;
  std::vector<ReferenceFacts> references;
  if (!options.referencePath.empty()) {
    // What was played fixes everything the recording would otherwise have to tell; files of a
    // playlist each have their own DTMF ID.
    const ReferenceFacts played = ReadReference(options.referencePath);
    if (!options.type) options.type = played.type;
    if (!options.method) options.method = played.method;
    if (!options.dtmfId && options.laterReferences.empty()) options.dtmfId = played.dtmfId;
    report.rangeStated = true;
    report.judgedFirst = 1;
    report.judgedLast = played.lastFrame;
    references.push_back(played);
    for (const std::string& later : options.laterReferences) {
      references.push_back(ReadReference(later));
    }
  }
  if (options.expectedFirst || options.expectedLast) {
    report.rangeStated = true;
    report.judgedFirst = options.expectedFirst.value_or(1);
    report.judgedLast = options.expectedLast.value_or(report.judgedLast);
    if (report.judgedFirst < 1 || report.judgedLast < report.judgedFirst) {
      throw VerifyError("the frames expected are FIRST-LAST, from 1 on");
    }
  }
  if (options.toleranceSamples && !(*options.toleranceSamples > 0.0)) {
    throw VerifyError("the tolerance is a number of samples above 0");
  }

  SoundFile file(path, options.raw);
  if (file.SampleRate() < kMinSampleRate) {
    throw VerifyError(path + ": sample rate " + std::to_string(file.SampleRate()) +
                      " Hz is below 8000 Hz");
  }
  CheckOptions(options, file.Channels(), path);
  const std::vector<Choice> choices = Choose(file, options, path);
  // A stream keeps what it gives (up to its bound), so the events can be placed from its samples
  // once more as from a file's.
  file.Rewind(SoundFile::Replay::kKeep);
  std::vector<ChannelFrames> read = ReadFrames(file, choices, options, progress, report);
  if (!AnyReadable(read[0].frames)) throw VerifyError(path + ": no timecode found");

  report.file = path;
  report.type = choices[0].type;
  report.sampleRate = file.SampleRate();
  report.channels = file.Channels();
  report.framesDeclared = file.Frames();
  report.framesRead = file.FramesRead();
  report.lengthUndeclared = file.LengthUndeclared();
  report.stopReason = file.StopReason();
  const VerifyReport common = report;
  Judge(report, read[0], options);
  // Headerless samples cannot be read again to be held against TC.wav.
  const double ratio = static_cast<double>(report.sampleRate) / TimecodeRate(report.type);
  JudgePlayedFiles(report, options.raw ? std::string() : path, references, ratio,
                   options.toleranceSamples);
  // Every other channel that carries the timecode is judged the same way; its latency against
  // this channel's is the offset between the two.
  for (std::size_t i = 1; i < read.size(); ++i) {
    if (!AnyReadable(read[i].frames)) continue;
    VerifyReport other = common;
    Judge(other, read[i], options);
    report.otherChannels.push_back(SumUp(other, report));
  }
  PlaceEvents(report, file, read[0].channel);
  return report;
}

// A TC.wav's type, method and DTMF ID show in its first few frames.
constexpr std::int64_t kFactFrames = 8;

ReferenceFacts ReadReference(const std::string& path) {
  VerifyOptions head;
  head.readLimit = kFactFrames * kFrameSamples;
  const VerifyReport first = VerifyRecording(path, head);
  ReferenceFacts facts{path, first.type, first.method, first.dtmfId, 0, first.framesDeclared};
  if (first.sampleRate == TimecodeRate(first.type) && first.framesDeclared > 0) {
    facts.lastFrame = static_cast<int>(first.framesDeclared / kFrameSamples);
    return facts;
  }
  const VerifyReport whole = VerifyRecording(path, {});
  facts.lastFrame = whole.lastFrame;
  facts.samples = whole.framesRead;
  return facts;
}
