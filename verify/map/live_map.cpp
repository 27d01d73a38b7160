#include "verify/map/live_map.h"

#include <algorithm>

#include "verify/map/frame_judge.h"

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
  const std::size_t from = frames.size() - std::min(frames.size(), kWindowFrames);
  ChannelFrames window{
      m_choice.channel,
      std::vector<GridFrame>(frames.begin() + static_cast<std::ptrdiff_t>(from), frames.end()),
      stretch};
  NumberShortFilesFromGrid(window.frames, complete);
  if (!AnyReadable(window.frames)) return;
  VerifyReport report;
  report.type = m_choice.type;
  report.sampleRate = m_rate;
  Judge(report, window, m_options);
  if (report.framesFound > 1) m_drift = report.driftPpm;
  // Up to the frame kSettleFrames before the last, wherever all of its bursts place it.
  const std::size_t last = frames.size() - 1;
  const double settled =
      complete
          ? frames.back().at[0] + 1.0
          : 0.5 * (frames[last - kSettleFrames].at[0] + frames[last - kSettleFrames + 1].at[0]);
  for (const PlaybackEvent& event : report.map.events) {
    if (event.frameSample > settled) continue;
    if (m_told.insert({static_cast<int>(event.kind), event.frameAfter}).second && m_tell) {
      m_tell(event);
    }
  }
}
