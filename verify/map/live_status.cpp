#include "verify/map/live_status.h"

#include <cmath>
#include <cstdio>
#include <utility>

namespace {

constexpr int kSecondsPerLine = 10;
// A spacing this many samples off the length expected holds a jump, not drift (the reader's own
// bound for a jump it tells at once).
constexpr double kJumpSamples = 3.0;
constexpr double kPpm = 1e6;

}  // namespace

LiveStatus::LiveStatus(int rate, double frameSamples, std::function<void(const std::string&)> say)
    : m_window(static_cast<std::int64_t>(kSecondsPerLine) * rate),
      m_next(m_window),
      m_frameSamples(frameSamples),
      m_say(std::move(say)) {}

void LiveStatus::Frame(int number, double place, double frameLength) {
  const double spacing = place - m_lastPlace;
  if (m_lastNumber != 0 && number == m_lastNumber + 1 && !m_afterEvent &&
      std::abs(spacing - frameLength) <= kJumpSamples) {
    m_spacingSum += spacing;
    ++m_spacings;
  }
  m_lastNumber = number;
  m_lastPlace = place;
  m_heardFrame = true;
  m_afterEvent = false;
}

void LiveStatus::Heard(std::int64_t samples) {
  while (samples >= m_next) {
    m_say(m_heardFrame ? Line()
                       : "no timecode in the last " + std::to_string(kSecondsPerLine) + " s");
    m_heardFrame = false;
    m_next += m_window;
  }
}

std::string LiveStatus::Line() const {
  std::string line = "frame " + std::to_string(m_lastNumber) + ", " + std::to_string(m_events) +
                     (m_events == 1 ? " event" : " events");
  if (m_spacings == 0) return line + ", drift not yet measured";
  const double ppm = (m_spacingSum / m_spacings / m_frameSamples - 1.0) * kPpm;
  char drift[48];
  // What rounds to zero is said as +0.0, never -0.0.
  std::snprintf(drift, sizeof drift, ", drift %+.1f ppm", std::abs(ppm) < 0.05 ? 0.0 : ppm);
  return line + drift;
}
