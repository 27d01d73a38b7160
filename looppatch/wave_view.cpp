#include "looppatch/wave_view.h"

#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QWheelEvent>
#include <algorithm>
#include <array>
#include <cmath>

#include "wave/wave_header.h"

namespace {

constexpr int kFillRepaintMs = 50;
constexpr int kMarkerGrabPixels = 4;
constexpr int kDragStartPixels = 3;
constexpr int kMarkerLabelHeight = 14;
constexpr int kLaneGap = 2;
constexpr double kDotsFromPixelsPerFrame = 4;  // closer than this, each sample is a dot
constexpr double kDotRadius = 2;
constexpr double kZoomOntoMarkerFrames = 64;
constexpr double kWheelStepDegrees = 15;
constexpr double kWheelDegreesPerUnit = 8;
// The scroll bar counts in steps of this many frames at most 2^30 steps over a file.
constexpr std::uint64_t kMaxScrollSteps = std::uint64_t{1} << 30;

// Ten colours far enough apart to tell the markers apart, each dark enough on white.
constexpr std::array<QRgb, kLoopPointCount> kPointColours = {0xd62728, 0x1f77b4, 0x2ca02c, 0xff7f0e,
                                                             0x9467bd, 0x8c564b, 0xe377c2, 0x7f7f7f,
                                                             0xbcbd22, 0x17becf};

const QColor kWaveColour(0x20, 0x20, 0x60);
const QColor kTableShade(0xff, 0xd8, 0x90);
const QColor kPlayCursorColour(0x00, 0x90, 0x00);

std::uint64_t ScrollScale(std::uint64_t frames) {
  return std::max<std::uint64_t>(1, (frames + kMaxScrollSteps - 1) / kMaxScrollSteps);
}

int SampleY(const QRect& lane, double sample) {
  return lane.center().y() -
         static_cast<int>(std::lround(sample / kPcm16FullScale * lane.height() / 2));
}

}  // namespace

QColor PointColour(std::size_t index) {
  return QColor(kPointColours[index % kPointColours.size()]);
}

WaveView::WaveView(QWidget* parent)
    : QWidget(parent), m_scrollBar(new QScrollBar(Qt::Horizontal, this)) {
  setAccessibleName("Waveform");
  setFocusPolicy(Qt::NoFocus);  // a click must leave the focus on the box it sets
  setMouseTracking(true);
  setAutoFillBackground(false);
  connect(m_scrollBar, &QScrollBar::valueChanged, this, [this](int value) {
    if (m_syncing) return;
    SetView(static_cast<double>(value) * ScrollScale(m_facts.frames), m_framesPerPixel);
  });
  connect(&m_fillTimer, &QTimer::timeout, this, [this] {
    update();
    if (m_overview == nullptr || m_overview->Complete()) m_fillTimer.stop();
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
  return height() - m_scrollBar->sizeHint().height();
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
  setAccessibleDescription(QString::fromStdString(text));
}

std::optional<std::size_t> WaveView::MarkerNear(double column) const {
  std::optional<std::size_t> nearest;
  double best = kMarkerGrabPixels + 1;
  for (std::size_t i = 0; i < kLoopPointCount; ++i) {
    if (m_points[i] <= 0) continue;
    const double distance = std::abs(ColumnOf(m_points[i]) - column);
    if (distance <= kMarkerGrabPixels && distance < best) {
      best = distance;
      nearest = i;
    }
  }
  return nearest;
}

void WaveView::resizeEvent(QResizeEvent* /*event*/) {
  const int barHeight = m_scrollBar->sizeHint().height();
  m_scrollBar->setGeometry(0, height() - barHeight, width(), barHeight);
  // A view showing the whole file keeps showing all of it.
  const bool whole =
      m_first == 0 && m_facts.frames > 0 &&
      m_framesPerPixel * m_scrollBar->width() >= static_cast<double>(m_facts.frames) * 0.999;
  SetView(m_first, whole || m_facts.frames == 0
                       ? std::max(1.0, static_cast<double>(m_facts.frames)) / std::max(1, width())
                       : m_framesPerPixel);
}

void WaveView::paintEvent(QPaintEvent* /*event*/) {
  QPainter painter(this);
  const QRect area(0, 0, width(), LanesHeight());
  painter.fillRect(area, Qt::white);
  if (m_facts.frames == 0) {
    painter.setPen(palette().color(QPalette::WindowText));
    painter.drawText(area, Qt::AlignCenter, kNoFileFacts);
    return;
  }
  // The table's records lie over the first frames: those samples are not the sound.
  const std::uint64_t table = TableFrames();
  if (table > 0) {
    const int x0 = static_cast<int>(std::floor(ColumnOf(0)));
    const int x1 = static_cast<int>(std::ceil(ColumnOf(static_cast<double>(table))));
    painter.fillRect(QRect(x0, 0, std::max(1, x1 - x0), area.height()), kTableShade);
  }
  const int channels = m_facts.channels;
  const int laneHeight = (area.height() - kMarkerLabelHeight) / channels;
  for (int c = 0; c < channels; ++c) {
    const QRect lane(0, kMarkerLabelHeight + c * laneHeight + kLaneGap, width(),
                     laneHeight - 2 * kLaneGap);
    painter.setPen(QColor(0xd0, 0xd0, 0xd0));
    painter.drawLine(0, lane.center().y(), width(), lane.center().y());
    DrawLane(painter, c, lane);
  }
  for (std::size_t i = 0; i < kLoopPointCount; ++i) {
    if (m_points[i] <= 0) continue;
    const int x = static_cast<int>(std::floor(ColumnOf(m_points[i])));
    if (x < 0 || x >= width()) continue;
    painter.setPen(PointColour(i));
    painter.drawLine(x, kMarkerLabelHeight, x, area.height());
    painter.drawText(QRect(x + 2, 0, 20, kMarkerLabelHeight), Qt::AlignLeft | Qt::AlignVCenter,
                     QString::number(i + 1));
  }
  if (m_playCursor) {
    const int x = static_cast<int>(std::floor(ColumnOf(static_cast<double>(*m_playCursor))));
    painter.setPen(kPlayCursorColour);
    painter.drawLine(x, 0, x, area.height());
  }
}

void WaveView::DrawLane(QPainter& painter, int channel, const QRect& lane) {
  if (m_framesPerPixel < m_overview->RunFrames()) {
    DrawSamples(painter, channel, lane);
    return;
  }
  painter.setPen(kWaveColour);
  for (int x = 0; x < width(); ++x) {
    const auto first = static_cast<std::uint64_t>(std::max(0.0, m_first + x * m_framesPerPixel));
    const auto last =
        static_cast<std::uint64_t>(std::max(0.0, m_first + (x + 1) * m_framesPerPixel));
    Peak peak;
    if (!m_overview->PeakOf(channel, first, std::max(last, first + 1), peak)) continue;
    painter.drawLine(x, SampleY(lane, peak.max), x, SampleY(lane, peak.min));
  }
}

// Close up the samples are read from the file: min and max per column while several frames
// share one, the samples themselves as dots joined by lines once each has room.
void WaveView::DrawSamples(QPainter& painter, int channel, const QRect& lane) {
  const auto first = static_cast<std::uint64_t>(std::max(0.0, std::floor(m_first)));
  const auto count = static_cast<std::uint64_t>(std::ceil(m_framesPerPixel * width())) + 2;
  const std::vector<std::int16_t> s = m_reader.Read(first, count);
  const auto n = static_cast<std::size_t>(m_facts.channels);
  const std::size_t frames = s.size() / n;
  const auto sample = [&](std::size_t f) { return s[f * n + static_cast<std::size_t>(channel)]; };
  painter.setPen(kWaveColour);
  if (m_framesPerPixel >= 1) {
    for (int x = 0; x < width(); ++x) {
      const auto a = static_cast<std::size_t>(m_first + x * m_framesPerPixel) - first;
      const auto b = static_cast<std::size_t>(m_first + (x + 1) * m_framesPerPixel) - first;
      if (a >= frames) break;
      std::int16_t lo = sample(a), hi = sample(a);
      for (std::size_t f = a + 1; f < std::min(b, frames); ++f) {
        lo = std::min(lo, sample(f));
        hi = std::max(hi, sample(f));
      }
      painter.drawLine(x, SampleY(lane, hi), x, SampleY(lane, lo));
    }
    return;
  }
  painter.setRenderHint(QPainter::Antialiasing);
  QPainterPath path;
  for (std::size_t f = 0; f < frames; ++f) {
    const QPointF at(ColumnOf(static_cast<double>(first + f)), SampleY(lane, sample(f)));
    f == 0 ? path.moveTo(at) : path.lineTo(at);
  }
  painter.drawPath(path);
  if (1 / m_framesPerPixel >= kDotsFromPixelsPerFrame) {
    painter.setBrush(kWaveColour);
    for (std::size_t f = 0; f < frames; ++f) {
      painter.drawEllipse(
          QPointF(ColumnOf(static_cast<double>(first + f)), SampleY(lane, sample(f))), kDotRadius,
          kDotRadius);
    }
  }
  painter.setRenderHint(QPainter::Antialiasing, false);
  painter.setBrush(Qt::NoBrush);
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

void WaveView::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Plus || event->key() == Qt::Key_Equal) {
    ZoomIn();
  } else if (event->key() == Qt::Key_Minus) {
    ZoomOut();
  } else {
    QWidget::keyPressEvent(event);
  }
}

SeamView::SeamView(QWidget* parent) : QWidget(parent) {
  setAccessibleName("Seam");
}

void SeamView::SetFrames(std::vector<std::int16_t> frames, int channels, std::size_t joinAt) {
  m_frames = std::move(frames);
  m_channels = std::max(channels, 1);
  m_joinAt = joinAt;
  update();
}

void SeamView::paintEvent(QPaintEvent* /*event*/) {
  QPainter painter(this);
  painter.fillRect(rect(), Qt::white);
  const auto n = static_cast<std::size_t>(m_channels);
  const std::size_t frames = m_frames.size() / n;
  if (frames < 2) return;
  const double step = static_cast<double>(width() - 1) / static_cast<double>(frames - 1);
  const int joinX = static_cast<int>(std::lround((static_cast<double>(m_joinAt) - 0.5) * step));
  painter.setPen(QColor(0xc0, 0x40, 0x40));
  painter.drawLine(joinX, 0, joinX, height());
  painter.setRenderHint(QPainter::Antialiasing);
  const int laneHeight = height() / m_channels;
  for (std::size_t c = 0; c < n; ++c) {
    const QRect lane(0, static_cast<int>(c) * laneHeight + kLaneGap, width(),
                     laneHeight - 2 * kLaneGap);
    painter.setPen(kWaveColour);
    painter.setBrush(kWaveColour);
    QPainterPath path;
    for (std::size_t f = 0; f < frames; ++f) {
      const QPointF at(static_cast<double>(f) * step, SampleY(lane, m_frames[f * n + c]));
      f == 0 ? path.moveTo(at) : path.lineTo(at);
      painter.drawEllipse(at, kDotRadius, kDotRadius);
    }
    painter.setBrush(Qt::NoBrush);
    painter.drawPath(path);
  }
}
