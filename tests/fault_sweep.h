// Recordings with one fault each, placed at a random sample of TC.wav, and the judge that holds
// the verifier's playback map against the truth. Shared by the verifier's test, which runs a
// few hundred short takes, and bench/verify_sweep, which runs many more and counts.
#pragma once

#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "recording_support.h"
#include "verify/map/verifier.h"

namespace sweep {

enum class Fault { cut, repeat, insertion, zeroed };
inline const char* FaultName(Fault fault) {
  constexpr const char* kNames[] = {"cut", "repeat", "insertion", "zeroed"};
  return kNames[static_cast<int>(fault)];
}

// How the recording was made from TC.wav after the fault.
enum class Chain { clean, resampled, noise10, noise0, opus };
inline const char* ChainName(Chain chain) {
  constexpr const char* kNames[] = {"clean", "48 kHz", "+10 dB", "0 dB", "Opus"};
  return kNames[static_cast<int>(chain)];
}

struct Take {
  Fault fault;
  Chain chain;
  int at;      // TC.wav sample where it begins
  int length;  // TC.wav samples it takes or adds
  Recording recording;
  double scale = 1.0;  // recording samples per TC.wav sample
};

// The fault's length: 1 sample to 3 frames, as many of each size class; its place anywhere from
// the third frame to two frames before the end, a quarter of them within a slot of a start marker.
// `scratch` is a file the lossy codec's chain may write.
inline Take MakeTake(const Samples& timecode, int rate, Fault fault, Chain chain,
                     std::mt19937& random, const std::string& scratch) {
  Take take{fault, chain, 0, 0, {}, 1.0};
  const double most = std::log(3.0 * kFrameSamples);
  take.length =
      static_cast<int>(std::exp(std::uniform_real_distribution<double>(0.0, most)(random)));
  const int frames = static_cast<int>(timecode.size()) / kFrameSamples;
  // A cut or a zeroed stretch leaves two whole frames after it, so that something tells it.
  const bool takes = fault == Fault::cut || fault == Fault::zeroed;
  const int lastStart = (frames - 2) * kFrameSamples - (takes ? take.length : 0);
  const int frame =
      std::uniform_int_distribution<int>(2, std::max(2, lastStart / kFrameSamples))(random);
  const bool nearMarker = random() % 4 == 0;
  const int within = nearMarker
                         ? std::uniform_int_distribution<int>(-kSlotSamples, kSlotSamples)(random)
                         : std::uniform_int_distribution<int>(0, kFrameSamples - 1)(random);
  take.at = std::clamp(frame * kFrameSamples + within, 2 * kFrameSamples, lastStart);
  if (fault == Fault::repeat) take.length = std::min(take.length, take.at);
  Samples samples = timecode;
  const auto at = samples.begin() + take.at;
  switch (fault) {
    case Fault::cut:
      samples.erase(at, at + take.length);
      break;
    case Fault::repeat: {
      const Samples again(at - take.length, at);
      samples.insert(samples.begin() + take.at, again.begin(), again.end());
      break;
    }
    case Fault::insertion:
      samples.insert(at, static_cast<std::size_t>(take.length), 0.0f);
      break;
    case Fault::zeroed:
      std::fill(at, at + std::min<std::ptrdiff_t>(take.length, samples.end() - at), 0.0f);
      break;
  }
  take.recording = {samples, rate};
  if (chain != Chain::clean) {
    take.recording = {Resample(samples, rate, 48000), 48000};
    take.scale = 48000.0 / rate;
  }
  if (chain == Chain::opus) {
    // Stored by a lossy codec at 48 kHz, as a streaming service or a capture chain would.
    WriteRecording(scratch, take.recording, SF_FORMAT_OGG | SF_FORMAT_OPUS);
    take.recording = ReadRecording(scratch);
  }
  if (chain == Chain::noise10 || chain == Chain::noise0) {
    // Scaled down so the bursts with noise as loud as they are stay below full scale.
    for (float& x : take.recording.samples) x *= 0.25f;
    take.recording.samples =
        WithWhiteNoise(take.recording.samples, chain == Chain::noise10 ? 10.0 : 0.0, random());
  }
  return take;
}

// The largest share of one burst's energy that zeroing TC.wav's samples [from, to) takes away.
inline double Wiped(const Samples& timecode, int from, int to) {
  double largest = 0.0;
  for (int frame = from / kFrameSamples; frame <= to / kFrameSamples; ++frame) {
    for (int k = 0; k < kFrameBursts; ++k) {
      const int first = frame * kFrameSamples + 2 * k * kSlotSamples;
      double all = 0.0, lost = 0.0;
      for (int i = first; i < std::min<int>(first + kSlotSamples, std::ssize(timecode)); ++i) {
        const double e = static_cast<double>(timecode[static_cast<std::size_t>(i)]) *
                         timecode[static_cast<std::size_t>(i)];
        all += e;
        if (i >= from && i < to) lost += e;
      }
      if (all > 0.0) largest = std::max(largest, lost / all);
    }
  }
  return largest;
}

// A stretch zeroed that takes this share of a burst's energy must be told; a smaller one may be.
inline constexpr double kMustTell = 0.05;

struct Verdict {
  bool right = false;
  bool falseClean = false;   // a fault that changed the sound, read as clean
  bool madeUpFrame = false;  // a number read that was never played there
  std::string why;
};

// Held against the truth: one event of the fault's kind (a silent insertion may read as a
// repeat: its samples are TC.wav's own silence), lying where the fault is, with the jump it
// made; no other event, and every frame read a frame that was played.
inline Verdict Judge(const Take& take, const Samples& timecode, const VerifyReport& report) {
  Verdict verdict;
  const int frames = static_cast<int>(timecode.size()) / kFrameSamples + 1;
  for (const FoundFrame& frame : report.frames) {
    if (frame.number < 1 || frame.number > frames) verdict.madeUpFrame = true;
  }
  if (!report.outOfOrder.empty() && take.fault != Fault::repeat) verdict.madeUpFrame = true;
  const bool changed =
      take.fault != Fault::zeroed || Wiped(timecode, take.at, take.at + take.length) >= kMustTell;
  verdict.falseClean = changed && report.Clean();
  const std::vector<PlaybackEvent>& events = report.map.events;
  const double tolerance = take.chain == Chain::clean ? 0.05 : 0.25;
  // Where the fault lies in the recording, give or take a burst's fade and the resampler's reach.
  const double place = take.at * take.scale;
  const double margin = take.chain == Chain::clean ? 0.0 : 2.0;
  if (take.fault == Fault::zeroed) {
    for (const PlaybackEvent& e : events) {
      const bool overlaps = e.recordingFirst - margin <= (take.at + take.length) * take.scale &&
                            place <= e.recordingLast + margin;
      if (e.kind != EventKind::damage) verdict.why = "a jump where samples were only zeroed";
      if (e.kind == EventKind::damage && !overlaps) verdict.why = "damage elsewhere";
    }
    if (!report.missing.empty()) verdict.why = "frames zeroed in place called missing";
    verdict.right = verdict.why.empty() && !verdict.madeUpFrame && !verdict.falseClean;
    return verdict;
  }
  const double jump = take.fault == Fault::cut ? take.length : -take.length;
  if (events.size() != 1) {
    verdict.why = std::to_string(events.size()) + " events";
  } else {
    const PlaybackEvent& e = events[0];
    bool kindRight = e.kind == (take.fault == Fault::cut ? EventKind::cut : EventKind::repeat) ||
                     (take.fault == Fault::insertion && e.kind == EventKind::insertion);
    // Silence inserted into silence is a repeat of silence: the same samples, placed up to the
    // inserted length later; and a repeat of silence an insertion placed that much earlier.
    const bool silentInsertion = take.fault == Fault::insertion && e.kind == EventKind::repeat;
    const bool silentRepeat = take.fault == Fault::repeat && e.kind == EventKind::insertion;
    kindRight = kindRight || silentRepeat;
    const double reach = silentInsertion ? take.length * take.scale : 0.0;
    const double back = silentRepeat ? take.length * take.scale : 0.0;
    auto holds = [&](const PlaybackEvent& e) {
      return e.recordingFirst - margin - reach <= place && place <= e.recordingLast + margin + back;
    };
    if (!kindRight)
      verdict.why = std::string("read as a ") + "different kind";
    else if (std::abs(e.jumpTimecode - jump) > tolerance)
      verdict.why = "jump " + std::to_string(e.jumpTimecode);
    else if (!holds(e))
      verdict.why =
          "placed " + std::to_string(e.recordingFirst) + ".." + std::to_string(e.recordingLast);
  }
  verdict.right = verdict.why.empty() && !verdict.madeUpFrame && !verdict.falseClean;
  return verdict;
}

}  // namespace sweep
