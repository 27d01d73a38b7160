// The audition in loop's window: Play from a point, Loop A to B, Stop, and the keys for them.
#include <QPushButton>
#include <utility>

#include "loop/app/loop_dlg.h"
#include "platform/prompts.h"

namespace {

constexpr char kPlayTip[] =
    "Play from the point in focus, or from the left edge of the view, to the end (Space)";
constexpr char kLoopTip[] = "Play loop start A to loop end B again and again (L)";
constexpr char kStopTip[] = "Stop playing (Space or Esc)";
constexpr char kCannotPlayText[] = "The sound output refused to play this file.";
constexpr char kOutputFailedText[] = "Playing stopped: the sound output failed.";

}  // namespace

// Play, Loop and Stop, and what the player tells the window while it plays.
void CLoopDlg::BuildPlayCommands() {
  m_play = CommandButton("Play", kPlayTip);
  m_loop = CommandButton("Loop A to B", kLoopTip);
  m_stop = CommandButton("Stop", kStopTip);
  connect(m_play, &QPushButton::clicked, this, [this] { OnPlay(); });
  connect(m_loop, &QPushButton::clicked, this, [this] { OnLoop(); });
  connect(m_stop, &QPushButton::clicked, this, [this] { m_player.Stop(); });
  m_player.onCursor = [this](std::optional<std::uint64_t> frame) {
    m_waveView->SetPlayCursor(frame);
  };
  m_player.onAvailabilityChanged = [this] { ShowPlayCommands(); };
  m_player.onFailed = [this] { AfxMessageBox(kOutputFailedText); };
}

// Without an output the play commands are off, and say why.
void CLoopDlg::ShowPlayCommands() {
  const bool available = m_player.Available();
  if (!available) m_player.Stop();
  const std::pair<QPushButton*, const char*> commands[] = {
      {m_play, kPlayTip}, {m_loop, kLoopTip}, {m_stop, kStopTip}};
  for (const auto& [button, tip] : commands) {
    button->setEnabled(available);
    button->setToolTip(available ? tip : kNoOutputText);
  }
}

// Space stops what plays, or else plays from the point in focus.
void CLoopDlg::OnPlayKey() {
  if (m_player.Playing()) {
    m_player.Stop();
  } else if (m_play->isEnabled()) {
    OnPlay();
  }
}

void CLoopDlg::OnPlay() {
  if (!m_samples.IsOpen()) return;
  std::uint64_t from = static_cast<std::uint64_t>(m_waveView->FirstFrame());
  if (const auto point = FocusedPoint()) {
    const int value = PointsInBoxes()[*point];
    if (value < 0) return;
    from = static_cast<std::uint64_t>(value);
  }
  if (from >= m_facts.frames || !StillTheOpenedFile()) return;
  if (!m_player.PlayFrom(m_samples, m_facts, from)) AfxMessageBox(kCannotPlayText);
}

// A to B as the seam shows it: B is the last frame played before the jump back to A.
void CLoopDlg::OnLoop() {
  const auto loop = LoopRange();
  if (loop && StillTheOpenedFile() &&
      !m_player.Loop(m_samples, m_facts, loop->first, loop->second)) {
    AfxMessageBox(kCannotPlayText);
  }
}

// What plays is the file opened; one saved over it since is not heard with the old file's rate
// and channels, but named, as Patch names it.
bool CLoopDlg::StillTheOpenedFile() {
  if (StillAtItsPath(m_waveFile)) return true;
  AfxMessageBox(kReplacedText);
  return false;
}
