// The verifier's sweep, larger than the test's: takes of a short TC.wav, each with one fault
// (cut, repeat, insertion or zeroed stretch, 1 sample to 3 frames) at a random sample, through
// each chain (clean, resampled to 48 kHz, white noise at +10 and 0 dB, Opus at 48 kHz). Prints, per
// chain and fault, how many reports were exactly right (events equal to the truth), how many read a
// fault as clean, and how many read a frame number that was never played there; and, for a baseline
// against reports without a playback map, how many gave the right discontinuities alone.
//
//   verify_sweep [takes per chain and fault [seed [show [chain]]]]
//   (show: print every take not right; chain: 0 clean, 1 48 kHz, 2 +10 dB, 3 0 dB, 4 Opus at
//   48 kHz, only that one)
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>

#include "../tests/fault_sweep.h"
#include "../tests/scratch_dir.h"

namespace {

constexpr int kDefaultTakes = 50;
constexpr int kShortLength = 12 * kFrameSamples + 1000;

// The discontinuities alone held against the truth, as reports without a playback map can be:
// one of the fault's size for a jump, none for a zeroed stretch, no made-up frame, no false
// clean. Where is not asked.
bool JumpsRight(const sweep::Take& take, const Samples& timecode, const VerifyReport& report) {
  const int frames = static_cast<int>(timecode.size()) / kFrameSamples + 1;
  for (const FoundFrame& frame : report.frames) {
    if (frame.number < 1 || frame.number > frames) return false;
  }
  if (!report.outOfOrder.empty() && take.fault != sweep::Fault::repeat) return false;
  if (take.fault == sweep::Fault::zeroed) {
    const bool told = sweep::Wiped(timecode, take.at, take.at + take.length) >= sweep::kMustTell;
    return report.discontinuities.empty() && !(told && report.Clean());
  }
  const double jump = (take.fault == sweep::Fault::cut ? -take.length : take.length) * take.scale;
  const double tolerance = (take.chain == sweep::Chain::clean ? 0.05 : 0.25) * take.scale;
  return report.discontinuities.size() == 1 &&
         std::abs(report.discontinuities[0].jumpSamples - jump) <= tolerance;
}

struct Counts {
  int takes = 0, right = 0, jumpsRight = 0, falseClean = 0, madeUp = 0, refused = 0;
  void Add(const Counts& o) {
    takes += o.takes;
    right += o.right;
    jumpsRight += o.jumpsRight;
    falseClean += o.falseClean;
    madeUp += o.madeUp;
    refused += o.refused;
  }
  void Print(const std::string& name) const {
    const double share = takes > 0 ? 100.0 / takes : 0.0;
    std::printf(
        "%-18s %5d takes %6.1f %% right %6.1f %% jumps right %3d false clean %3d made-up frame "
        "%3d refused\n",
        name.c_str(), takes, right * share, jumpsRight * share, falseClean, madeUp, refused);
    std::fflush(stdout);
  }
};

}  // namespace

int main(int argc, char** argv) {
  const int takes = argc > 1 ? std::atoi(argv[1]) : kDefaultTakes;
  const unsigned seed = argc > 2 ? static_cast<unsigned>(std::atoi(argv[2])) : 1u;
  const bool show = argc > 3;
  const int only = argc > 4 ? std::atoi(argv[4]) : -1;
  ScratchDir dir;
  const Samples timecode =
      GenerateTimecode(dir.Path(), {TimecodeType::dtmfF, kMethod2, kShortLength, 1}).samples;
  const std::string path = dir.File("take.wav");
  Counts all;
  for (const auto chain : {sweep::Chain::clean, sweep::Chain::resampled, sweep::Chain::noise10,
                           sweep::Chain::noise0, sweep::Chain::opus}) {
    if (only >= 0 && static_cast<int>(chain) != only) continue;
    Counts perChain;
    for (const auto fault :
         {sweep::Fault::cut, sweep::Fault::repeat, sweep::Fault::insertion, sweep::Fault::zeroed}) {
      std::mt19937 random(seed * 1000 + static_cast<unsigned>(chain) * 10 +
                          static_cast<unsigned>(fault));
      Counts counts;
      for (int i = 0; i < takes; ++i) {
        const sweep::Take take =
            sweep::MakeTake(timecode, 44100, fault, chain, random, dir.File("coded.ogg"));
        WriteRecording(path, take.recording, SF_FORMAT_WAV | SF_FORMAT_FLOAT);
        ++counts.takes;
        try {
          const VerifyReport report = VerifyRecording(path, {});
          counts.jumpsRight += JumpsRight(take, timecode, report) ? 1 : 0;
#ifndef SWEEP_WITHOUT_MAP  // built so against earlier versions, for the baseline
          const sweep::Verdict verdict = sweep::Judge(take, timecode, report);
          counts.right += verdict.right ? 1 : 0;
          counts.falseClean += verdict.falseClean ? 1 : 0;
          counts.madeUp += verdict.madeUpFrame ? 1 : 0;
          if (show && !verdict.right) {
            std::printf("  %s of %d at %d: %s%s\n", sweep::FaultName(fault), take.length, take.at,
                        verdict.why.c_str(), verdict.falseClean ? " (read as clean)" : "");
          }
#endif
        } catch (const VerifyError&) {
          ++counts.refused;
        }
      }
      counts.Print(std::string(sweep::ChainName(chain)) + " " + sweep::FaultName(fault));
      perChain.Add(counts);
    }
    perChain.Print(std::string(sweep::ChainName(chain)) + " all");
    all.Add(perChain);
  }
  all.Print("all");
  return 0;
}
