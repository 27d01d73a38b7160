#include "looppatch/wave_view.h"

#include <QMouseEvent>
#include <QWheelEvent>
#include <algorithm>
#include <cmath>

#include "looppatch/view_paint.h"

namespace {

constexpr int kFillRepaintMs = 50;
constexpr int kDragStartPixels = 3;
constexpr double kZoomOntoMarkerFrames = 64;
constexpr double kWheelStepDegrees = 15;
constexpr double kWheelDegreesPerUnit = 8;
// The scroll bar counts in steps of this many frames at most 2^30 steps over a file.
constexpr std::uint64_t kMaxScrollSteps = std::uint64_t{1} << 30;
constexpr char kReadoutHint[] = "Point at the waveform for its time and values";

std::uint64_t ScrollScale(std::uint64_t frames) {
  return std::max<std::uint64_t>(1, (frames + kMaxScrollSteps - 1) / kMaxScrollSteps);
}

}  // namespace

WaveView::WaveView(QWidget* parent)
    : QWidget(parent),
      m_scrollBar(new QScrollBar(Qt::Horizontal, this)),
      m_readout(new QLabel(kReadoutHint, this)) {
  setAccessibleName("Waveform");
  m_readout->setAccessibleName("Pointer readout");
  setFocusPolicy(Qt::NoFocus);  // a click must leave the focus on the box it sets
  setMouseTracking(true);
  setAutoFillBackground(false);
  connect(m_scrollBar, &QScrollBar::valueChanged, this, [this](int value) {
    if (m_syncing) return;
    SetView(static_cast<double>(value) * ScrollScale(m_facts.frames), m_framesPerPixel);
  });
  connect(&m_fillTimer, &QTimer::timeout, this, [this] {
    update();
    if (m_overview == nullptr || m_overview->Complete() || m_overview->CutShort()) {
      m_fillTimer.stop();
      Describe();
    }
  });
  Describe();
}

// The builder goes first: its thread reads through the reader and fills the overview.
WaveView::~WaveView() {
  m_builder.reset();
}

void WaveView::SetFile(const std::string& path, const WaveFacts& facts) {
  m_builder.reset();  // the previous file's overview is dropped, its thread stopped
  m_overview.reset();
  m_reader = SampleReader();
  m_facts = facts;
  m_playCursor.reset();
  SampleReader reader;
  if (!path.empty() && facts.frames > 0 && reader.Open(path, facts.channels, facts.frames)) {
    SampleReader forBuilder;
    forBuilder.Open(path, facts.channels, facts.frames);
    m_reader = std::move(reader);
    m_overview = std::make_shared<PeakOverview>(facts.frames, facts.channels);
    m_builder = std::make_unique<OverviewBuilder>(std::move(forBuilder), m_overview);
    m_fillTimer.start(kFillRepaintMs);
  } else {
    m_facts.frames = 0;
  }
  SetView(0, std::max(1.0, static_cast<double>(m_facts.frames)) / std::max(1, width()));
  update();
}

void WaveView::SetPoints(const LoopPoints& points) {
  if (points == m_points) return;
  m_points = points;
  Describe();
  update();
}

void WaveView::SetLoop(std::optional<std::pair<std::uint64_t, std::uint64_t>> loop) {
  if (loop == m_loop) return;
  m_loop = loop;
  update();
}

void WaveView::SetOwnPoints(const WaveLoops& own) {
  m_own = own;
  update();
}

void WaveView::SetPlayCursor(std::optional<std::uint64_t> frame) {
  m_playCursor = frame;
  update();
}

std::uint64_t WaveView::FrameAt(double column) const {
  const double frame = std::floor(m_first + column * m_framesPerPixel);
  if (frame <= 0 || m_facts.frames == 0) return 0;
  return std::min(static_cast<std::uint64_t>(frame), m_facts.frames);
}

std::uint64_t WaveView::TableFrames() const {
  if (m_facts.channels <= 0) return 0;
  const std::uint64_t frameBytes = static_cast<std::uint64_t>(m_facts.channels) * kPcm16SampleBytes;
  return std::min<std::uint64_t>((kLoopPointCount * kLoopRecordBytes) / frameBytes, m_facts.frames);
}

int WaveView::LanesHeight() const {
  return std::max(0, ReadoutTop() - RulerHeight());
}

int WaveView::ReadoutTop() const {
  return height() - m_scrollBar->sizeHint().height() - m_readout->sizeHint().height();
}

// Tick marks half a line long and a line of labels.
int WaveView::RulerHeight() const {
  return fontMetrics().height() * 3 / 2;
}

void WaveView::Zoom(double factor, double column) {
  const double frames = std::max(1.0, static_cast<double>(m_facts.frames));
  const double fpp = std::clamp(m_framesPerPixel / factor, 1 / kMaxPixelsPerFrame,
                                std::max(1 / kMaxPixelsPerFrame, frames / std::max(1, width())));
  const double anchor = m_first + column * m_framesPerPixel;
  SetView(anchor - column * fpp, fpp);
}

void WaveView::ShowAround(std::uint64_t frame, double frames) {
  const double fpp = std::max(1 / kMaxPixelsPerFrame, frames / std::max(1, width()));
  SetView(static_cast<double>(frame) - width() / 2.0 * fpp, fpp);
}

void WaveView::SetView(double first, double framesPerPixel) {
  m_framesPerPixel = framesPerPixel;
  const double visible = framesPerPixel * width();
  const double last = std::max(0.0, static_cast<double>(m_facts.frames) - visible);
  m_first = std::clamp(first, 0.0, last);
  SyncScrollBar();
  Describe();
  update();
}

void WaveView::SyncScrollBar() {
  const std::uint64_t scale = ScrollScale(m_facts.frames);
  const double visible = m_framesPerPixel * width();
  const double spare = std::max(0.0, static_cast<double>(m_facts.frames) - visible);
  m_syncing = true;
  m_scrollBar->setRange(0, static_cast<int>(spare / static_cast<double>(scale)));
  m_scrollBar->setPageStep(std::max(1, static_cast<int>(visible / static_cast<double>(scale))));
  m_scrollBar->setSingleStep(std::max(1, m_scrollBar->pageStep() / 10));
  m_scrollBar->setValue(static_cast<int>(m_first / static_cast<double>(scale)));
  m_syncing = false;
}

// What a screen reader says: the file, the stretch in view, and the points inside it.
void WaveView::Describe() {
  if (m_facts.frames == 0) {
    setAccessibleDescription(kNoFileFacts);
    return;
  }
  const std::uint32_t rate = m_facts.sampleRate;
  const auto last =
      std::min(m_facts.frames, static_cast<std::uint64_t>(m_first + m_framesPerPixel * width()));
  std::string text = m_facts.name + ", " + FrameTime(static_cast<std::uint64_t>(m_first), rate) +
                     " to " + FrameTime(last, rate) + " of " + FrameTime(m_facts.frames, rate);
  std::string points;
  for (std::size_t i = 0; i < kLoopPointCount; ++i) {
    const auto p = static_cast<std::uint64_t>(std::max(0, m_points[i]));
    if (m_points[i] == 0 || p < m_first || p > last) continue;
    points += (points.empty() ? "" : ", ") + std::to_string(i + 1) + " at frame " +
              std::to_string(p) + " (" + FrameTime(p, rate) + ")";
  }
  text += points.empty() ? "; no loop points in view" : "; loop points in view: " + points;
  if (const std::string cut = CutShortText(); !cut.empty()) text += "; " + cut;
  setAccessibleDescription(QString::fromStdString(text));
}

std::string WaveView::CutShortText() const {
  if (m_overview == nullptr || !m_overview->CutShort()) return {};
  const std::uint64_t end = m_overview->FramesDone();
  return "the file ended at frame " + std::to_string(end) + " (" +
         FrameTime(end, m_facts.sampleRate) + ") while it was read; nothing after it is shown";
}

// A marker is grabbed within half a character of its line.
std::optional<std::size_t> WaveView::MarkerNear(double column) const {
  const double grab = std::max(3, FontUnits(fontMetrics()).cx / 2);
  std::optional<std::size_t> nearest;
  double best = grab + 1;
  for (std::size_t i = 0; i < kLoopPointCount; ++i) {
    if (m_points[i] <= 0) continue;
    const double distance = std::abs(ColumnOf(m_points[i]) - column);
    if (distance <= grab && distance < best) {
      best = distance;
      nearest = i;
    }
  }
  return nearest;
}

void WaveView::resizeEvent(QResizeEvent* /*event*/) {
  const int barHeight = m_scrollBar->sizeHint().height();
  m_scrollBar->setGeometry(0, height() - barHeight, width(), barHeight);
  m_readout->setGeometry(0, ReadoutTop(), width(), m_readout->sizeHint().height());
  // A view showing the whole file keeps showing all of it.
  const bool whole =
      m_first == 0 && m_facts.frames > 0 &&
      m_framesPerPixel * m_scrollBar->width() >= static_cast<double>(m_facts.frames) * 0.999;
  SetView(m_first, whole || m_facts.frames == 0
                       ? std::max(1.0, static_cast<double>(m_facts.frames)) / std::max(1, width())
                       : m_framesPerPixel);
}

void WaveView::wheelEvent(QWheelEvent* event) {
  const double steps = event->angleDelta().y() / kWheelDegreesPerUnit / kWheelStepDegrees;
  if (steps != 0) Zoom(std::pow(kZoomStep, steps), event->position().x());
  event->accept();
}

void WaveView::mousePressEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton || m_facts.frames == 0) return;
  m_pressAt = event->pos();
  m_pressFirst = m_first;
  m_panning = false;
  m_draggedMarker = MarkerNear(event->position().x());
}

void WaveView::mouseMoveEvent(QMouseEvent* event) {
  ShowReadout(event->position().x());
  if (!m_pressAt) {
    setCursor(MarkerNear(event->position().x()) ? Qt::SizeHorCursor : Qt::ArrowCursor);
    return;
  }
  const int dx = event->pos().x() - m_pressAt->x();
  if (m_draggedMarker) {
    if (onMarkerMoved) onMarkerMoved(*m_draggedMarker, FrameAt(event->position().x()));
    return;
  }
  if (std::abs(dx) >= kDragStartPixels) m_panning = true;
  if (m_panning) SetView(m_pressFirst - dx * m_framesPerPixel, m_framesPerPixel);
}

void WaveView::mouseReleaseEvent(QMouseEvent* event) {
  if (!m_pressAt || event->button() != Qt::LeftButton) return;
  const bool click = !m_panning && !m_draggedMarker;
  m_pressAt.reset();
  m_draggedMarker.reset();
  m_panning = false;
  if (click && onClicked) onClicked(FrameAt(event->position().x()));
}

void WaveView::mouseDoubleClickEvent(QMouseEvent* event) {
  const std::optional<std::size_t> marker = MarkerNear(event->position().x());
  if (!marker) return;
  ShowAround(static_cast<std::uint64_t>(m_points[*marker]), kZoomOntoMarkerFrames);
}

void WaveView::leaveEvent(QEvent* /*event*/) {
  m_readout->setText(kReadoutHint);
}

// "0:00:01.234, frame 54321, value -120" (mono) or "..., L -120, R 64" (stereo).
void WaveView::ShowReadout(double column) {
  if (m_facts.frames == 0) return;
  const std::uint64_t frame = std::min(FrameAt(column), m_facts.frames - 1);
  QString text = QString("%1, frame %2")
                     .arg(QString::fromStdString(FrameTime(frame, m_facts.sampleRate)))
                     .arg(frame);
  const std::vector<std::int16_t> values = m_reader.Read(frame, 1);
  for (std::size_t c = 0; c < values.size(); ++c) {
    const QString name = m_facts.channels == 1 ? "value" : ChannelName(m_facts.channels, c);
    text += QString(", %1 %2").arg(name).arg(values[c]);
  }
  m_readout->setText(text);
}

void WaveView::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Plus || event->key() == Qt::Key_Equal) {
    ZoomIn();
  } else if (event->key() == Qt::Key_Minus) {
    ZoomOut();
  } else {
    QWidget::keyPressEvent(event);
  }
}
