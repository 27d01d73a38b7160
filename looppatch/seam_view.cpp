#include "looppatch/seam_view.h"

#include <QPainter>
#include <QPainterPath>

#include "looppatch/view_paint.h"

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
  const FontUnits units(fontMetrics());
  const int laneHeight = height() / m_channels;
  for (std::size_t c = 0; c < n; ++c) {
    const QRect lane(0, static_cast<int>(c) * laneHeight + units.laneGap, width(),
                     laneHeight - 2 * units.laneGap);
    painter.setPen(kWaveColour);
    painter.setBrush(kWaveColour);
    QPainterPath path;
    for (std::size_t f = 0; f < frames; ++f) {
      const QPointF at(static_cast<double>(f) * step, SampleY(lane, m_frames[f * n + c]));
      f == 0 ? path.moveTo(at) : path.lineTo(at);
      painter.drawEllipse(at, units.dotRadius, units.dotRadius);
    }
    painter.setBrush(Qt::NoBrush);
    painter.drawPath(path);
  }
}
