#include "verify/verifier.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <future>
#include <memory>
#include <vector>

#include "timecode/frame_encoder.h"
#include "timecode/timecode_layout.h"
#include "verify/burst_tracker.h"
#include "verify/frame_parser.h"
#include "verify/sound_file.h"
#include "verify/timing_fit.h"

namespace {

constexpr int kMinSampleRate = 8000;
constexpr std::size_t kBlockFrames = 1 << 18;
// The first look stops once a channel has shown this many whole frames.
constexpr int kProbeFrames = 8;
// Start markers stand one frame apart; a spacing this close to it counts for a type (the two
// types' frames differ by a fifth).
constexpr double kSpacingTolerance = 0.05;
// A start marker matches the known burst at least this well, whatever the gain: a burst cut by
// the start of the recording, or drowned in something else, does not.
constexpr double kMinCorrelation = 0.8;
double SlotSamples(int sampleRate, char type) {
  return kSlotSamples * static_cast<double>(sampleRate) / TimecodeRate(type);
}

struct ChannelLook {
  char type = 'F';
  int frames = 0;
  int spacings = 0;  // neighbouring start markers one frame apart at this type

  bool BetterThan(const ChannelLook& other) const {
    return frames != other.frames ? frames > other.frames : spacings > other.spacings;
  }
};

// Listens to one channel under both types at once, keeping only counts, so the first look
// holds no more memory however long it has to listen.
class ChannelProbe {
 public:
  ChannelProbe(int sampleRate, const std::optional<char>& type)
      : m_rate(sampleRate),
        m_type(type),
        m_tracker(sampleRate, 0),
        m_parsers{FrameParser(SlotSamples(sampleRate, 'F'), m_tracker.BlockSamples()),
                  FrameParser(SlotSamples(sampleRate, 'S'), m_tracker.BlockSamples())} {
    m_looks[0].type = 'F';
    m_looks[1].type = 'S';
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
  // frames; failing that, the type whose frame length fits the spacing of the start markers.
  ChannelLook Look() const {
    if (m_type) return m_looks[*m_type == 'S' ? 1 : 0];
    return m_looks[1].BetterThan(m_looks[0]) ? m_looks[1] : m_looks[0];
  }

 private:
  void Listen() {
    for (const Burst& burst : m_tracker.Take()) {
      if (burst.symbol == kFrameStartSymbol && burst.hasOnset) {
        if (m_lastMarker) {
          const double spacing = burst.onset - *m_lastMarker;
          for (ChannelLook& look : m_looks) {
            const double expected =
                static_cast<double>(kFrameSamples) * m_rate / TimecodeRate(look.type);
            if (std::abs(spacing - expected) < kSpacingTolerance * expected) ++look.spacings;
          }
        }
        m_lastMarker = burst.onset;
      }
      RawFrame frame;
      for (std::size_t t = 0; t < m_looks.size(); ++t) {
        m_looks[t].frames += m_parsers[t].Add(burst, frame) ? 1 : 0;
      }
    }
  }

  int m_rate;
  std::optional<char> m_type;
  BurstTracker m_tracker;
  std::array<FrameParser, 2> m_parsers;  // F, S
  std::array<ChannelLook, 2> m_looks;
  std::optional<double> m_lastMarker;
};

struct Choice {
  int channel = 0;  // counted from 0
  char type = 'F';
};

// Listens to the start of the recording on every candidate channel until one of them has shown
// a few whole frames, and picks the channel that decodes best and its type.
Choice Probe(SoundFile& file, const VerifyOptions& options, const std::string& path) {
  std::vector<int> channels;
  if (options.channel) {
    channels.push_back(*options.channel - 1);
  } else {
    for (int c = 0; c < file.Channels(); ++c) channels.push_back(c);
  }
  if (options.type && channels.size() == 1) return {channels[0], *options.type};

  std::vector<std::unique_ptr<ChannelProbe>> probes;
  for (std::size_t i = 0; i < channels.size(); ++i) {
    probes.push_back(std::make_unique<ChannelProbe>(file.SampleRate(), options.type));
  }
  const auto width = static_cast<std::size_t>(file.Channels());
  const std::size_t block = file.BlockFrames(kBlockFrames);
  std::vector<float> interleaved(block * width);
  std::vector<float> samples(block);
  ChannelLook best;
  std::size_t bestIndex = 0;
  bool more = true;
  while (more && best.frames < kProbeFrames) {
    const std::size_t got = file.Read(interleaved.data(), block);
    more = got > 0;
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
  if (best.frames == 0) throw VerifyError(path + ": no timecode found");
  return {channels[bestIndex], best.type};
}

// The DTMF ID that gives this check symbol to this frame, or 0 when none does.
int IdFromCheck(int frame, int check) {
  for (int id = 1; id <= kMaxDtmfId; ++id) {
    if (FrameEncoder::CheckSymbol(frame, id) == check) return id;
  }
  return 0;
}

// Every whole frame of the chosen channel, its start marker placed to a fraction of a sample.
std::vector<RawFrame> ReadFrames(SoundFile& file, const Choice& choice, VerifyProgress* progress,
                                 const std::function<void(const std::string&)>& onFault) {
  const int rate = file.SampleRate();
  const double slot = SlotSamples(rate, choice.type);
  BurstTracker tracker(rate, TimecodeRate(choice.type));
  FrameParser parser(slot, tracker.BlockSamples());
  std::vector<RawFrame> frames;
  auto collect = [&] {
    RawFrame frame;
    for (const Burst& burst : tracker.Take()) {
      if (!parser.Add(burst, frame)) continue;
      const BurstMatch& match = frame.start.match;
      // A marker that began before the recording did is a frame cut by its start.
      if (!match.found || std::abs(match.correlation) < kMinCorrelation) continue;
      if (match.position < -0.5) continue;
      // Told at once to someone following a live capture: a frame that does not follow the one
      // before it.
      if (onFault && !frames.empty() && frame.number != frames.back().number + 1) {
        onFault("frame " + std::to_string(frame.number) + " follows frame " +
                std::to_string(frames.back().number) + " at " +
                std::to_string(match.position / rate) + " s");
      }
      frames.push_back(frame);
    }
  };
  // The next block is read on the other core while this one is decoded.
  std::vector<float> samples(kBlockFrames);
  std::vector<float> ahead(kBlockFrames);
  auto readAhead = [&] {
    return std::async(std::launch::async, [&file, &ahead, channel = choice.channel] {
      return file.ReadChannel(channel, ahead.data(), kBlockFrames);
    });
  };
  std::size_t got = file.ReadChannel(choice.channel, samples.data(), kBlockFrames);
  while (got > 0) {
    std::future<std::size_t> next = readAhead();
    tracker.Push(samples.data(), got);
    collect();
    if (progress != nullptr) {
      progress->Update(static_cast<std::uint64_t>(tracker.Length()),
                       static_cast<std::uint64_t>(std::max<std::int64_t>(file.Frames(), 0)));
    }
    got = next.get();
    samples.swap(ahead);
  }
  tracker.Finish();
  collect();
  // A frame whose check symbol runs past the end of the recording is cut by its end.
  const auto length = static_cast<double>(tracker.Length());
  std::erase_if(frames, [&](const RawFrame& frame) {
    return frame.start.match.position + (kFrameBurstSlots - 0.1) * slot > length;
  });
  return frames;
}

// Frame 1's markers tell the method; failing that, the '*' in place of the last check symbol.
int FindMethod(const std::vector<RawFrame>& frames, bool& assumed) {
  assumed = false;
  for (const RawFrame& frame : frames) {
    if (frame.number == 1) return frame.marker == kCheckStar ? kMethod1 : kMethod2;
  }
  for (const RawFrame& frame : frames) {
    if (frame.check == kCheckStar) return kMethod2;
  }
  assumed = true;
  return kMethod2;
}

// The ID most check symbols agree on; the '*' ending the run is no check symbol.
int FindDtmfId(const std::vector<RawFrame>& frames) {
  std::array<int, kMaxDtmfId + 1> votes{};
  for (const RawFrame& frame : frames) {
    if (frame.check != kCheckStar)
      ++votes[static_cast<std::size_t>(IdFromCheck(frame.number, frame.check))];
  }
  const auto best = std::max_element(votes.begin() + 1, votes.end());
  return static_cast<int>(best - votes.begin());
}

void CheckOptions(const VerifyOptions& options, int channels, const std::string& path) {
  if (options.channel && (*options.channel < 1 || *options.channel > channels)) {
    throw VerifyError(path + ": has no channel " + std::to_string(*options.channel));
  }
  if (options.type && *options.type != 'F' && *options.type != 'S') {
    throw VerifyError("the timecode type is F or S");
  }
  if (options.method && *options.method != kMethod1 && *options.method != kMethod2) {
    throw VerifyError("the method is 1 or 2");
  }
  if (options.dtmfId && (*options.dtmfId < 1 || *options.dtmfId > kMaxDtmfId)) {
    throw VerifyError("the DTMF ID is 1 to 10");
  }
}

}  // namespace

VerifyReport VerifyRecording(const std::string& path, const VerifyOptions& options,
                             VerifyProgress* progress) {
  SoundFile file(path);
  if (file.SampleRate() < kMinSampleRate) {
    throw VerifyError(path + ": sample rate " + std::to_string(file.SampleRate()) +
                      " Hz is below 8000 Hz");
  }
  CheckOptions(options, file.Channels(), path);
  const Choice choice = Probe(file, options, path);
  file.Rewind();
  const std::vector<RawFrame> raw = ReadFrames(file, choice, progress, options.onFault);
  if (raw.empty()) throw VerifyError(path + ": no timecode found");

  VerifyReport report;
  report.file = path;
  report.type = choice.type;
  report.sampleRate = file.SampleRate();
  report.channel = choice.channel + 1;
  report.channels = file.Channels();
  report.framesDeclared = file.Frames();
  report.framesRead = file.FramesRead();
  report.method = options.method ? *options.method : FindMethod(raw, report.methodAssumed);
  report.dtmfId = options.dtmfId ? *options.dtmfId : FindDtmfId(raw);
  for (const RawFrame& frame : raw) {
    FoundFrame found;
    found.number = frame.number;
    found.foundSample = frame.start.match.position;
    found.levelDbfs = frame.start.match.levelDbfs;
    found.checkOk = frame.check == kCheckStar
                        ? report.method == kMethod2
                        : FrameEncoder::CheckSymbol(frame.number, report.dtmfId) == frame.check;
    if (!found.checkOk) report.checkFailures.push_back(frame.number);
    report.frames.push_back(found);
  }
  FitTiming(report, static_cast<double>(report.sampleRate) / TimecodeRate(report.type));
  return report;
}
