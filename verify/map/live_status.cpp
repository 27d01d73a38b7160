#include "verify/map/live_status.h"

#include <cmath>
#include <cstdio>
#include <utility>

namespace {

constexpr int kSecondsPerLine = 10;

}  // namespace

LiveStatus::LiveStatus(int rate, std::function<void(const std::string&)> say)
    : m_window(static_cast<std::int64_t>(kSecondsPerLine) * rate),
      m_next(m_window),
      m_say(std::move(say)) {}

void LiveStatus::Frame(int number) {
  m_lastNumber = number;
  m_heardFrame = true;
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
  if (!m_drift) return line + ", drift not yet measured";
  const double ppm = *m_drift;
  char drift[48];
  // What rounds to zero is said as +0.0, never -0.0.
  std::snprintf(drift, sizeof drift, ", drift %+.1f ppm", std::abs(ppm) < 0.05 ? 0.0 : ppm);
  return line + drift;
}
