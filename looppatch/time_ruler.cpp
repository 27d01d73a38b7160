#include "looppatch/time_ruler.h"

#include <array>

#include "looppatch/wave_samples.h"

namespace {

constexpr double kMsPerSecond = 1000;
constexpr std::uint64_t kMsPerHour = 3'600'000;
// Round times a reader counts in: 1-2-5 up to seconds, then the clock's own divisions.
constexpr std::array<std::uint64_t, 20> kMsSteps = {
    1,    2,    5,     10,    20,    50,    100,    200,    500,    1000,
    2000, 5000, 10000, 15000, 30000, 60000, 120000, 300000, 600000, 1800000};
constexpr std::array<std::uint64_t, 3> kFrameSteps = {1, 2, 5};
constexpr std::uint64_t kDecade = 10;

}  // namespace

RulerStep ChooseRulerStep(double minFrames, std::uint32_t sampleRate) {
  const double framesPerMs = sampleRate / kMsPerSecond;
  if (sampleRate == 0) return {};
  if (minFrames < framesPerMs) {
    for (std::uint64_t decade = 1;; decade *= kDecade) {
      for (const std::uint64_t f : kFrameSteps) {
        if (static_cast<double>(f * decade) >= minFrames) {
          return {f * decade, true, static_cast<double>(f * decade)};
        }
      }
    }
  }
  for (const std::uint64_t ms : kMsSteps) {
    if (static_cast<double>(ms) * framesPerMs >= minFrames) {
      return {ms, false, static_cast<double>(ms) * framesPerMs};
    }
  }
  std::uint64_t hours = 1;
  while (static_cast<double>(hours * kMsPerHour) * framesPerMs < minFrames) hours *= 2;
  return {hours * kMsPerHour, false, static_cast<double>(hours * kMsPerHour) * framesPerMs};
}

std::string RulerLabel(std::uint64_t tick, const RulerStep& step) {
  const std::uint64_t at = tick * step.units;
  return step.inFrames ? std::to_string(at)
                       : FrameTime(at, static_cast<std::uint32_t>(kMsPerSecond));
}
