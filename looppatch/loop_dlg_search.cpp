// The loop search in loop's window: "Find loop end" looks for the B that best closes a loop
// from A, "Find loop start" for the A that best opens one closed by B, over the region the user
// picks. The search runs on a thread of its own (the window keeps answering, and the button
// that started it cancels it); its best five are listed beside the seam, and picking one sets
// the point.
#include <QLineEdit>

#include "looppatch/loop_dlg.h"

namespace {

constexpr int kSearchTickMs = 100;
constexpr int kFoundRows = static_cast<int>(kBestCandidates);
constexpr char kFindEndText[] = "Find loop end";
constexpr char kFindStartText[] = "Find loop start";
constexpr char kCancelSearchText[] = "Cancel search";
constexpr char kDefaultRegionText[] = "A + 100 ms to the end";
constexpr char kRegionTip[] =
    "Where to look: for an end, from A + 100 ms to the end of the samples by default; for a "
    "start, from the first frame to B - 100 ms; or only between two neighbouring points";

}  // namespace

void CLoopDlg::BuildSearch() {
  const auto command = [this](const char* text, const char* tip, bool forEnd) {
    auto* button = new QPushButton(text, this);
    button->setAutoDefault(false);
    button->setFocusPolicy(Qt::NoFocus);  // the point in focus stays in focus
    button->setToolTip(tip);
    connect(button, &QPushButton::clicked, this, [this, forEnd] {
      if (m_search.Running()) {
        m_search.Cancel();
      } else {
        StartSearch(forEnd);
      }
    });
    return button;
  };
  m_findEnd = command(kFindEndText, "Search the region for the loop end B that joins A best", true);
  m_findStart =
      command(kFindStartText, "Search the region for the loop start A that joins B best", false);
  m_crossfade = new QPushButton("Crossfade into a copy...", this);
  m_crossfade->setAutoDefault(false);
  m_crossfade->setFocusPolicy(Qt::NoFocus);
  m_crossfade->setToolTip("Write a copy in which the end of A..B fades into the sound before A");
  connect(m_crossfade, &QPushButton::clicked, this, [this] { OnCrossfadeCopy(); });
  m_regionLabel = new QLabel("Search region", this);
  m_searchRegion = new QComboBox(this);
  m_searchRegion->setAccessibleName("Search region");
  m_searchRegion->setToolTip(kRegionTip);
  m_searchRegion->setFocusPolicy(Qt::TabFocus);
  m_searchRegion->addItem(kDefaultRegionText);
  for (std::size_t i = 1; i < kLoopPointCount; ++i) {
    m_searchRegion->addItem(QString("Between points %1 and %2").arg(i).arg(i + 1));
  }
  m_regionLabel->setBuddy(m_searchRegion);
  m_searchNote = new QLabel(this);
  m_searchNote->setWordWrap(true);
  m_searchNote->setAccessibleName("Search outcome");
  m_found = new QListWidget(this);
  m_found->setAccessibleName("Found loop points");
  m_found->setFocusPolicy(Qt::ClickFocus);
  connect(m_found, &QListWidget::itemClicked, this,
          [this](QListWidgetItem* item) { OnPickFound(m_found->row(item)); });
  connect(m_found, &QListWidget::itemActivated, this,
          [this](QListWidgetItem* item) { OnPickFound(m_found->row(item)); });
  connect(&m_searchTicker, &QTimer::timeout, this, [this] { ShowSearchProgress(); });
  ClearSearch();
}

void CLoopDlg::PlaceSearchRow(int y, int row, int gap) {
  int x = gap;
  for (QWidget* widget : std::initializer_list<QWidget*>{m_regionLabel, m_searchRegion, m_findEnd,
                                                         m_findStart, m_crossfade}) {
    const int width = widget->sizeHint().width();
    widget->setGeometry(x, y, width, row);
    x += width + (widget == m_regionLabel ? gap / 2 : gap);
  }
}

// The search's note and list at the foot of the seam column; returns where they begin (the
// bottom itself while no search is shown).
int CLoopDlg::PlaceFound(int x, int bottom, int width, int row) {
  if (m_searchNote->isHidden()) return bottom;
  const int listHeight =
      m_found->isHidden() ? 0 : kFoundRows * m_found->fontMetrics().height() * 3 / 2;
  const int noteHeight = std::max(row, m_searchNote->heightForWidth(width));
  m_found->setGeometry(x, bottom - listHeight, width, listHeight);
  m_searchNote->setGeometry(x, bottom - listHeight - noteHeight, width, noteHeight);
  return bottom - listHeight - noteHeight;
}

void CLoopDlg::StartSearch(bool forEnd) {
  const auto a = SelectedPoint(m_loopStart);
  const auto b = SelectedPoint(m_loopEnd);
  const LoopPoints points = PointsInBoxes();
  const std::optional<std::size_t> fixedPoint = forEnd ? a : b;
  std::optional<SampleSource> source;
  if (FileLoaded()) source = SourceOfFile(m_waveFile.GetFilePath(), m_facts);
  if (!source || !fixedPoint || points[*fixedPoint] < 0) return;
  const auto fixed = static_cast<std::uint64_t>(points[*fixedPoint]);
  ClearSearch();
  const std::optional<SearchRegion> region = ChosenRegion(*source, forEnd, fixed);
  if (!region) {
    m_searchNote->setText(forEnd ? "This region holds no loop end after A"
                                 : "This region holds no loop start before B");
    m_searchNote->show();
    PlaceViews();
    return;
  }
  m_searchingEnd = forEnd;
  m_searchFixed = {*fixedPoint, points[*fixedPoint]};
  (forEnd ? m_findEnd : m_findStart)->setText(kCancelSearchText);
  (forEnd ? m_findStart : m_findEnd)->setEnabled(false);
  m_searchNote->show();
  ShowSearchProgress();
  m_searchTicker.start(kSearchTickMs);
  m_search.Start(
      [source = *source, fixed, region = *region, forEnd](const SearchProgress& progress) {
        return forEnd ? SearchLoopEnd(source, fixed, region, progress)
                      : SearchLoopStart(source, fixed, region, progress);
      },
      [this](const LoopSearch& search) { ShowFound(search); });
}

// The default region, or the stretch between two neighbouring points, narrowed to the frames
// a loop from (or to) the fixed point can use.
std::optional<SearchRegion> CLoopDlg::ChosenRegion(const SampleSource& source, bool forEnd,
                                                   std::uint64_t fixed) {
  const std::optional<SearchRegion> whole =
      forEnd ? DefaultEndRegion(source, fixed) : DefaultStartRegion(source, fixed);
  const int pair = m_searchRegion->currentIndex();
  if (pair <= 0 || !whole) return whole;
  const LoopPoints points = PointsInBoxes();
  const int from = points[static_cast<std::size_t>(pair - 1)];
  const int to = points[static_cast<std::size_t>(pair)];
  if (from < 0 || to < from) return std::nullopt;
  SearchRegion region{std::max(whole->from, static_cast<std::uint64_t>(from)),
                      std::min(whole->to, static_cast<std::uint64_t>(to))};
  if (region.from > region.to) return std::nullopt;
  return region;
}

void CLoopDlg::ShowSearchProgress() {
  m_searchNote->setText(QString("Searching for a loop %1: %2% (Esc cancels)")
                            .arg(m_searchingEnd ? "end" : "start")
                            .arg(static_cast<int>(m_search.Progress() * 100)));
}

// The best five, best first; when none joins smoothly they are still listed, under the words
// that say so.
void CLoopDlg::ShowFound(const LoopSearch& search) {
  ClearSearch();
  m_candidates = search.best;
  m_searchNote->show();
  for (const LoopCandidate& candidate : m_candidates) {
    const QString line = QString::fromStdString(std::to_string(candidate.frame) + " (" +
                                                FrameTime(candidate.frame, m_facts.sampleRate) +
                                                "): " + candidate.Text());
    m_found->addItem(line);
    m_found->item(m_found->count() - 1)->setToolTip(line);  // the whole line, when cut
  }
  const char* point = m_searchingEnd ? "B" : "A";
  if (search.cancelled) {
    m_searchNote->setText("Search cancelled");
  } else if (!search.Found()) {
    m_searchNote->setText(m_searchingEnd ? kNoSmoothEndText : kNoSmoothStartText);
  } else {
    m_searchNote->setText(
        QString("Best loop %1s; pick one for %2").arg(m_searchingEnd ? "end" : "start").arg(point));
  }
  m_found->setVisible(!m_candidates.empty());
  PlaceViews();
}

void CLoopDlg::OnPickFound(int row) {
  const auto point = SelectedPoint(m_searchingEnd ? m_loopEnd : m_loopStart);
  if (row < 0 || static_cast<std::size_t>(row) >= m_candidates.size() || !point) return;
  SetPointBox(*point, m_candidates[static_cast<std::size_t>(row)].frame);
}

// No search shown: a running one is dropped and its result never shown.
void CLoopDlg::ClearSearch() {
  m_search.Abandon();
  m_searchTicker.stop();
  m_findEnd->setText(kFindEndText);
  m_findStart->setText(kFindStartText);
  m_findEnd->setEnabled(true);
  m_findStart->setEnabled(true);
  m_candidates.clear();
  m_found->clear();
  m_found->hide();
  m_searchNote->hide();
}

// What a search found belongs to the point it held still: another point there, or another
// value, and the list is dropped (a running search with it).
void CLoopDlg::DropStaleSearch() {
  if (m_searchNote->isHidden()) return;
  const auto fixed = SelectedPoint(m_searchingEnd ? m_loopStart : m_loopEnd);
  if (!fixed || *fixed != m_searchFixed.first || PointsInBoxes()[*fixed] != m_searchFixed.second) {
    ClearSearch();
    PlaceViews();
  }
}
