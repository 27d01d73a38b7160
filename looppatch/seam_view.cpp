#include "looppatch/seam_view.h"

#include <QKeyEvent>
#include <QPainter>
#include <QPainterPath>
#include <QWheelEvent>
#include <algorithm>
#include <cmath>

#include "looppatch/view_paint.h"
#include "looppatch/wave_samples.h"

namespace {

constexpr std::uint32_t kMostSideMs = 50;
constexpr double kMsPerSecond = 1000;
constexpr double kWheelNotchDegrees = 15 * 8;  // angleDelta's units per notch
const QColor kJoinColour(0xc0, 0x40, 0x40);
// The loop's end in the wave's blue, its start in orange; what is not played, faint.
const QColor kStartColour(0xd0, 0x60, 0x00);
constexpr int kFaintAlpha = 70;
constexpr double kDotsFromPixelsPerFrame = 6;

bool IsZoomKey(int key) {
  return key == Qt::Key_Plus || key == Qt::Key_Equal || key == Qt::Key_Minus;
}

}  // namespace

SeamView::SeamView(QWidget* parent) : QWidget(parent) {
  setAccessibleName("Seam");
  setFocusPolicy(Qt::ClickFocus);
  Describe();
}

void SeamView::SetSource(FrameSource source, int channels, std::uint32_t sampleRate,
                         std::uint64_t frames) {
  m_source = std::move(source);
  m_channels = std::max(channels, 1);
  m_rate = sampleRate;
  m_frames = m_source ? frames : 0;
  SetSide(static_cast<double>(m_side));
}

void SeamView::SetLoop(std::optional<std::pair<std::uint64_t, std::uint64_t>> loop) {
  m_loop = loop;
  Describe();
  update();
}

// Without a file there is no rate to count 50 ms in: the zoom is kept for the next one.
std::uint64_t SeamView::MostSideFrames() const {
  if (m_rate == 0) return std::max(m_side, kStartSideFrames);
  return std::max<std::uint64_t>(kFewestSideFrames, std::uint64_t{m_rate} * kMostSideMs / 1000);
}

void SeamView::ZoomIn() {
  SetSide(static_cast<double>(m_side) / kZoomStep);
}

void SeamView::ZoomOut() {
  SetSide(std::max(static_cast<double>(m_side) * kZoomStep, static_cast<double>(m_side + 1)));
}

void SeamView::SetSide(double frames) {
  m_side = std::clamp(static_cast<std::uint64_t>(std::lround(frames)), kFewestSideFrames,
                      MostSideFrames());
  Describe();
  update();
}

// What a screen reader says, and what the test reads: the loop and the zoom.
void SeamView::Describe() {
  QString text = QString("%1 frames each side of the join").arg(m_side);
  if (m_loop && m_frames > 0) {
    text = QString("End B at frame %1 joined to start A at frame %2, ")
               .arg(m_loop->second)
               .arg(m_loop->first) +
           text;
  }
  setAccessibleDescription(text);
}

SeamView::Trace SeamView::Around(std::uint64_t at) const {
  Trace trace;
  const std::uint64_t from = at >= m_side ? at - m_side : 0;
  const std::uint64_t to = std::min(at + m_side, m_frames);
  if (from >= to) return trace;
  trace.firstSlot = from + m_side - at;
  trace.samples = m_source(from, to - from);
  return trace;
}

void SeamView::paintEvent(QPaintEvent* /*event*/) {
  QPainter painter(this);
  painter.fillRect(rect(), Qt::white);
  const FontUnits units(fontMetrics());
  painter.setPen(kLabelColour);
  const QString zoom =
      QString("%1 frames each side (%2 ms)")
          .arg(m_side)
          .arg(m_rate > 0 ? static_cast<double>(m_side) * kMsPerSecond / m_rate : 0.0, 0, 'f', 2);
  const QRect caption(units.cx / 2, height() - units.line, width() - units.cx, units.line);
  painter.drawText(caption, Qt::AlignLeft | Qt::AlignVCenter,
                   fontMetrics().elidedText(zoom, Qt::ElideRight, caption.width()));
  if (!m_loop || m_frames == 0 || !m_source) return;
  painter.setPen(kJoinColour);
  painter.drawLine(width() / 2, 0, width() / 2, height() - units.line);
  const Trace end = Around(m_loop->second + 1);
  const Trace start = Around(m_loop->first);
  const int laneHeight = (height() - units.line) / m_channels;
  painter.setRenderHint(QPainter::Antialiasing);
  for (int c = 0; c < m_channels; ++c) {
    const QRect lane(0, c * laneHeight + units.laneGap, width(), laneHeight - 2 * units.laneGap);
    const auto channel = static_cast<std::size_t>(c);
    for (const bool faint : {true, false}) {
      DrawTrace(painter, lane, channel, end, kWaveColour, true, faint);
      DrawTrace(painter, lane, channel, start, kStartColour, false, faint);
    }
    // The jump itself: from B's value to A's across the join.
    const auto value = [&](const Trace& trace, std::uint64_t slot) -> std::optional<int> {
      if (slot < trace.firstSlot) return std::nullopt;
      const std::size_t i =
          (slot - trace.firstSlot) * static_cast<std::size_t>(m_channels) + channel;
      if (i >= trace.samples.size()) return std::nullopt;
      return SampleY(lane, trace.samples[i]);
    };
    const auto from = value(end, m_side - 1);
    const auto to = value(start, m_side);
    if (from && to) {
      const double step = static_cast<double>(width()) / static_cast<double>(2 * m_side);
      painter.setPen(QPen(kJoinColour, 1.5));
      painter.drawLine(QPointF((m_side - 0.5) * step, *from), QPointF((m_side + 0.5) * step, *to));
    }
  }
}

// One channel of a trace: faint all along, or strong on its played side of the join with a dot
// on every frame once the frames stand far enough apart.
void SeamView::DrawTrace(QPainter& painter, const QRect& lane, std::size_t channel,
                         const Trace& trace, const QColor& colour, bool strongBeforeJoin,
                         bool faint) {
  const auto n = static_cast<std::size_t>(m_channels);
  const std::size_t count = trace.samples.size() / n;
  const double step = static_cast<double>(width()) / static_cast<double>(2 * m_side);
  const auto at = [&](std::size_t i) {
    const double slot = static_cast<double>(trace.firstSlot + i);
    return QPointF((slot + 0.5) * step, SampleY(lane, trace.samples[i * n + channel]));
  };
  const auto played = [&](std::size_t i) {
    return faint || (trace.firstSlot + i < m_side) == strongBeforeJoin;
  };
  QPainterPath path;
  for (std::size_t i = 0; i < count; ++i) {
    if (played(i)) path.elementCount() == 0 ? path.moveTo(at(i)) : path.lineTo(at(i));
  }
  QColor pen = colour;
  if (faint) pen.setAlpha(kFaintAlpha);
  painter.setBrush(Qt::NoBrush);
  painter.setPen(QPen(pen, faint ? 1.0 : 1.5));
  painter.drawPath(path);
  if (faint || step < kDotsFromPixelsPerFrame) return;
  const double radius = FontUnits(fontMetrics()).dotRadius;
  painter.setBrush(colour);
  for (std::size_t i = 0; i < count; ++i) {
    if (played(i)) painter.drawEllipse(at(i), radius, radius);
  }
  painter.setBrush(Qt::NoBrush);
}

void SeamView::wheelEvent(QWheelEvent* event) {
  const double notches = event->angleDelta().y() / kWheelNotchDegrees;
  if (notches != 0) SetSide(static_cast<double>(m_side) / std::pow(kZoomStep, notches));
  event->accept();
}

void SeamView::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Minus) {
    ZoomOut();
  } else if (IsZoomKey(event->key())) {
    ZoomIn();
  } else {
    QWidget::keyPressEvent(event);
  }
}

// + and - are the window's shortcuts for the waveform; with the seam in focus they are its own.
bool SeamView::event(QEvent* event) {
  if (event->type() == QEvent::ShortcutOverride &&
      IsZoomKey(static_cast<QKeyEvent*>(event)->key())) {
    event->accept();
    return true;
  }
  return QWidget::event(event);
}
