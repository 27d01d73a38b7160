// What --follow says between faults: a status line every 10 s of audio, so that a recording that
// is clean so far and a capture that has gone silent no longer look alike.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

class LiveStatus {
 public:
  // rate: of the recording.
  LiveStatus(int rate, std::function<void(const std::string&)> say);

  // An event went out.
  void Event() { ++m_events; }
  // A frame was read.
  void Frame(int number);
  // The drift the playback map now measures, in ppm.
  void Drift(double ppm) { m_drift = ppm; }
  // The reading has come `samples` into the recording: one line for every 10 s passed since the
  // last.
  void Heard(std::int64_t samples);

 private:
  std::string Line() const;

  std::int64_t m_window;  // 10 s of the recording
  std::int64_t m_next;    // where the next line is due
  std::function<void(const std::string&)> m_say;
  int m_events = 0;
  int m_lastNumber = 0;
  bool m_heardFrame = false;  // a frame was read since the last line
  std::optional<double> m_drift;
};
