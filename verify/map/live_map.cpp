#include "verify/map/live_map.h"

#include <algorithm>
#include <cmath>

#include "verify/map/frame_judge.h"
#include "verify/map/reader_tuning.h"

namespace {

// The map is built over at most this many of the frames read last: enough for the fit of the
// segments either side of an event, and little work however long the capture runs.
constexpr std::size_t kWindowFrames = 48;
// An event is settled when this many frames were read after the first one after it: the new
// segment's line stands on three frames.
constexpr std::size_t kSettleFrames = 2;

}  // namespace

LiveMap::LiveMap(int rate, const Choice& choice, const VerifyOptions& options,
                 std::function<void(const PlaybackEvent& event)> tell)
    : m_rate(rate), m_choice(choice), m_options(options), m_tell(std::move(tell)) {
  // Only the first channel's frames reach here, and what it tells goes through `tell`.
  m_options.onFault = nullptr;
  m_options.onStatus = nullptr;
  m_options.onEvent = nullptr;
}

void LiveMap::Look(const std::vector<GridFrame>& frames, double stretch, bool complete) {
  if ((frames.size() == m_seen && !complete) || frames.size() <= kSettleFrames) return;
  m_seen = frames.size();
  // A run of another file's frames may begin just before the window: those frames are numbered
  // with it, then left out.
  const std::size_t window = std::min(frames.size(), kWindowFrames);
  const std::size_t before = std::min(frames.size() - window, kFileFrames - 1);
  std::vector<GridFrame> read(frames.end() - static_cast<std::ptrdiff_t>(window + before),
                              frames.end());
  NumberShortFilesFromGrid(read, complete);
  read.erase(read.begin(), read.begin() + static_cast<std::ptrdiff_t>(before));
  if (!AnyReadable(read)) return;
  VerifyReport report;
  report.type = m_choice.type;
  report.sampleRate = m_rate;
  Judge(report, {m_choice.channel, std::move(read), stretch}, m_options);
  if (report.framesFound > 1) m_drift = report.driftPpm;
  // Up to the frame kSettleFrames before the last, wherever all of its bursts place it.
  const std::size_t last = frames.size() - 1;
  const double settled =
      complete
          ? frames.back().at[0] + 1.0
          : 0.5 * (frames[last - kSettleFrames].at[0] + frames[last - kSettleFrames + 1].at[0]);
  for (const PlaybackEvent& event : report.map.events) {
    if (event.frameSample > settled || Told(event)) continue;
    m_told.push_back(event);
    if (m_tell) m_tell(event);
  }
}

bool LiveMap::Told(const PlaybackEvent& event) const {
  // Seen again in a later window, an event keeps its kind and the frame after it, and its place
  // moves by far less than half a frame; a loop played again is the same jump at another place.
  const double half = 0.5 * kFrameSamples * m_rate / TimecodeRate(m_choice.type) / m_choice.speed;
  return std::any_of(m_told.begin(), m_told.end(), [&](const PlaybackEvent& told) {
    return told.kind == event.kind && told.frameAfter == event.frameAfter &&
           std::abs(told.frameSample - event.frameSample) < half;
  });
}
