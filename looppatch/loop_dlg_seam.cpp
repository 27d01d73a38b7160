// The loop A..B in loop's window: which points the selectors name, the seam of that loop in
// the seam view and in words, and the commands that move a point to where the loop joins
// better.
#include <QComboBox>
#include <QLineEdit>

#include "looppatch/crossfade_dlg.h"
#include "looppatch/loop_dlg.h"
#include "platform/prompts.h"

namespace {

constexpr std::uint64_t kMsPerSecond = 1000;
// A snap looks for a crossing this far on each side of the point.
constexpr std::uint64_t kSnapMs = 50;
constexpr char kNoLoopText[] = "Choose a loop start A before the loop end B first.";

// "drums.wav" -> "drums-xfade.wav", beside it.
std::string CrossfadeCopyName(const std::string& source) {
  const std::size_t slash = source.rfind('/');
  const std::size_t dot = source.rfind('.');
  const bool hasSuffix = dot != std::string::npos && (slash == std::string::npos || dot > slash);
  return hasSuffix ? source.substr(0, dot) + "-xfade" + source.substr(dot) : source + "-xfade";
}

}  // namespace

std::optional<std::size_t> CLoopDlg::SelectedPoint(const QComboBox* selector) const {
  const int index = selector->currentIndex();
  if (index < 0) return std::nullopt;
  return static_cast<std::size_t>(index);
}

// A..B when A and B name a loop of the shown file: A before B, B (the last frame played) a
// frame of the file.
std::optional<std::pair<std::uint64_t, std::uint64_t>> CLoopDlg::LoopRange() const {
  const LoopPoints points = PointsInBoxes();
  const auto a = SelectedPoint(m_loopStart);
  const auto b = SelectedPoint(m_loopEnd);
  if (!m_samples.IsOpen() || !a || !b || points[*a] < 0 || points[*b] <= points[*a] ||
      static_cast<std::uint64_t>(points[*b]) >= m_facts.frames) {
    return std::nullopt;
  }
  return std::pair{static_cast<std::uint64_t>(points[*a]), static_cast<std::uint64_t>(points[*b])};
}

void CLoopDlg::ShowSeam() {
  DropStaleSearch();
  const auto loop = LoopRange();
  m_waveView->SetLoop(loop);
  m_seamView->SetLoop(loop);
  if (!loop) {
    m_seamScore->setText(m_samples.IsOpen() ? "Seam: choose a start A before the end B" : "");
    return;
  }
  const SeamScore score = ScoreSeam(m_samples, loop->first, loop->second, m_facts.sampleRate);
  m_seamScore->setText(QString::fromStdString("Seam: " + score.Text()));
}

void CLoopDlg::OnSnapToZero() {
  const auto point = FocusedPoint() ? FocusedPoint() : m_lastPoint;
  if (!point || !m_samples.IsOpen()) return;
  const int value = PointsInBoxes()[*point];
  if (value < 0) return;
  const std::uint64_t reach = m_facts.sampleRate * kSnapMs / kMsPerSecond;
  if (const auto zero = NearestRisingZero(m_samples, static_cast<std::uint64_t>(value), reach)) {
    SetPointBox(*point, *zero);
  }
}

// The copy is written from the file as it stands, with the points in the boxes as its table;
// the file itself is only read.
void CLoopDlg::OnCrossfadeCopy() {
  const auto loop = LoopRange();
  if (!FileLoaded() || !loop) {
    AfxMessageBox(FileLoaded() ? kNoLoopText : kNoFileText);
    return;
  }
  const std::optional<FadeChoice> choice = AskCrossfade(this);
  if (!choice) return;
  const std::string source = m_waveFile.GetFilePath();
  CFileDialog saveDialog(false, CrossfadeCopyName(source).c_str(), kWaveFilter, this);
  if (saveDialog.DoModal() != IDOK) return;
  const std::string copy = saveDialog.GetPathName();
  const Crossfade fade{loop->first, loop->second, choice->ms, choice->shape};
  CrossfadeOutcome outcome;
  {
    const CWaitCursor busy;
    outcome = WriteCrossfadedCopy(source, copy, fade, PointsInBoxes());
  }
  if (!outcome.Made()) {
    AfxMessageBox(outcome.text);
    return;
  }
  if (AfxMessageBox("The crossfaded copy is saved as " + copy + ".\n\nOpen it?", MB_YESNO) ==
      IDYES) {
    LoadFile(copy);
  }
}
