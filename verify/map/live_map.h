// What --follow tells of the playback map while the recording is still coming in: the map is
// built again over the frames read last, the way the summary builds it over all of them, and
// each event goes out once the frames read after it settle it. Its place is then the interval
// the frames give; the summary at the end places it to the sample where the samples tell.
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <vector>

#include "verify/map/frame_reader.h"
#include "verify/map/playback_map.h"
#include "verify/map/verifier.h"

class LiveMap {
 public:
  LiveMap(int rate, const Choice& choice, const VerifyOptions& options,
          std::function<void(const PlaybackEvent& event)> tell);

  // Looks again once new frames were read; `stretch` is the one the reader matched bursts at.
  // With the recording read `complete`, every event left is told.
  void Look(const std::vector<GridFrame>& frames, double stretch, bool complete = false);
  // The drift of the frames read last against the timecode's own rate, once the map has any.
  std::optional<double> DriftPpm() const { return m_drift; }

 private:
  // Whether the event went out already, from an earlier window.
  bool Told(const PlaybackEvent& event) const;

  int m_rate;
  Choice m_choice;
  VerifyOptions m_options;
  std::function<void(const PlaybackEvent& event)> m_tell;
  std::size_t m_seen = 0;
  std::vector<PlaybackEvent> m_told;  // each event that went out
  std::optional<double> m_drift;
};
