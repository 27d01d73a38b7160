// What --follow says between faults: a status line every 10 s of audio, so that a recording that
// is clean so far and a capture that has gone silent no longer look alike.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

class LiveStatus {
 public:
  // rate: of the recording; frameSamples: one frame of TC.wav at that rate, played at its own
  // speed, against which the drift is measured.
  LiveStatus(int rate, double frameSamples, std::function<void(const std::string&)> say);

  // A fault line went out: the spacing up to the next frame read may hold a jump, and is not
  // taken for drift.
  void Event() {
    ++m_events;
    m_afterEvent = true;
  }
  // A frame was read at `place`; `frameLength` is the length the reader now expects of a frame,
  // against which a spacing that holds a jump is told from one that holds only drift.
  void Frame(int number, double place, double frameLength);
  // The reading has come `samples` into the recording: one line for every 10 s passed since the
  // last.
  void Heard(std::int64_t samples);

 private:
  std::string Line() const;

  std::int64_t m_window;  // 10 s of the recording
  std::int64_t m_next;    // where the next line is due
  double m_frameSamples;
  std::function<void(const std::string&)> m_say;
  int m_events = 0;
  int m_lastNumber = 0;
  double m_lastPlace = 0.0;
  bool m_heardFrame = false;  // a frame was read since the last line
  bool m_afterEvent = false;
  // Spacings of neighbouring frames without a jump between them: their mean is the frame length
  // as played, which measures the drift.
  double m_spacingSum = 0.0;
  int m_spacings = 0;
};
