// The verifier's sweep, larger than the test's: takes of a short TC.wav, each with one fault
// (cut, repeat, insertion or zeroed stretch, 1 sample to 3 frames) at a random sample, through
// each chain (clean, resampled to 48 kHz, white noise at +10 and 0 dB). Prints, per chain and
// fault, how many reports were exactly right (events equal to the truth), how many read a fault
// as clean, and how many read a frame number that was never played there.
//
//   verify_sweep [takes per chain and fault [seed]]
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

struct Counts {
  int takes = 0, right = 0, falseClean = 0, madeUp = 0, refused = 0;
  void Add(const Counts& o) {
    takes += o.takes;
    right += o.right;
    falseClean += o.falseClean;
    madeUp += o.madeUp;
    refused += o.refused;
  }
  void Print(const std::string& name) const {
    std::printf(
        "%-22s %5d takes  %6.1f %% right  %3d false clean  %3d made-up frame  %3d refused\n",
        name.c_str(), takes, takes ? 100.0 * right / takes : 0.0, falseClean, madeUp, refused);
  }
};

}  // namespace

int main(int argc, char** argv) {
  const int takes = argc > 1 ? std::atoi(argv[1]) : kDefaultTakes;
  const unsigned seed = argc > 2 ? static_cast<unsigned>(std::atoi(argv[2])) : 1u;
  ScratchDir dir;
  const Samples timecode =
      GenerateTimecode(dir.Path(), {TimecodeType::dtmfF, kMethod2, kShortLength, 1}).samples;
  const std::string path = dir.File("take.wav");
  Counts all;
  for (const auto chain : {sweep::Chain::clean, sweep::Chain::resampled, sweep::Chain::noise10,
                           sweep::Chain::noise0}) {
    Counts perChain;
    for (const auto fault :
         {sweep::Fault::cut, sweep::Fault::repeat, sweep::Fault::insertion, sweep::Fault::zeroed}) {
      std::mt19937 random(seed * 1000 + static_cast<unsigned>(chain) * 10 +
                          static_cast<unsigned>(fault));
      Counts counts;
      for (int i = 0; i < takes; ++i) {
        const sweep::Take take = sweep::MakeTake(timecode, 44100, fault, chain, random);
        WriteRecording(path, take.recording, SF_FORMAT_WAV | SF_FORMAT_FLOAT);
        ++counts.takes;
        try {
          const sweep::Verdict verdict = sweep::Judge(take, timecode, VerifyRecording(path, {}));
          counts.right += verdict.right ? 1 : 0;
          counts.falseClean += verdict.falseClean ? 1 : 0;
          counts.madeUp += verdict.madeUpFrame ? 1 : 0;
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
