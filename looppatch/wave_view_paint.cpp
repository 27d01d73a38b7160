// How WaveView draws, top to bottom: the row of the table's point numbers, the lanes with the
// shades, the wave, the file's own points and the markers over them, then the time ruler. The
// readout line and the scroll bar below are widgets of their own.
#include <QPainter>
#include <QPainterPath>
#include <algorithm>
#include <array>
#include <cmath>

#include "looppatch/time_ruler.h"
#include "looppatch/view_paint.h"
#include "looppatch/wave_view.h"

namespace {

constexpr double kDotsFromPixelsPerFrame = 4;  // closer than this, each sample is a dot

// Ten colours far enough apart to tell the markers apart, each dark enough on white.
constexpr std::array<QRgb, kLoopPointCount> kPointColours = {0xd62728, 0x1f77b4, 0x2ca02c, 0xff7f0e,
                                                             0x9467bd, 0x8c564b, 0xe377c2, 0x7f7f7f,
                                                             0xbcbd22, 0x17becf};

const QColor kTableShade(0xff, 0xd8, 0x90);
const QColor kLoopShade(0xe4, 0xee, 0xfc);
const QColor kMiddleLine(0xd0, 0xd0, 0xd0);
const QColor kPlayCursorColour(0x00, 0x90, 0x00);
// The file's own points are the file's, not the table's: grey dashes for its loops, dots for
// its cue points, labelled along the bottom of the lanes.
const QColor kOwnLoopColour(0x60, 0x60, 0x60);
const QColor kCueColour(0x90, 0x50, 0x10);
const QColor kRulerBackground(0xf2, 0xf2, 0xf2);
// Labels of the ruler stand this many character widths apart at least.
constexpr int kRulerLabelGapChars = 2;

}  // namespace

QColor PointColour(std::size_t index) {
  return QColor(kPointColours[index % kPointColours.size()]);
}

void WaveView::paintEvent(QPaintEvent* /*event*/) {
  QPainter painter(this);
  const QRect area(0, 0, width(), LanesHeight());
  painter.fillRect(QRect(0, 0, width(), ReadoutTop()), Qt::white);
  if (m_facts.frames == 0) {
    painter.setPen(palette().color(QPalette::WindowText));
    painter.drawText(area, Qt::AlignCenter, kNoFileFacts);
    return;
  }
  DrawShades(painter, area.height());
  const FontUnits units(fontMetrics());
  const int channels = m_facts.channels;
  const int laneHeight = (area.height() - units.line) / channels;
  for (int c = 0; c < channels; ++c) {
    const QRect lane(0, units.line + c * laneHeight + units.laneGap, width(),
                     laneHeight - 2 * units.laneGap);
    painter.setPen(kMiddleLine);
    painter.drawLine(0, lane.center().y(), width(), lane.center().y());
    DrawLane(painter, c, lane);
    DrawChannelLabel(painter, c, lane);
  }
  // Where the file ended while its overview was read, what is missing is said, not drawn.
  if (const std::string cut = CutShortText(); !cut.empty()) {
    const int x =
        std::max(0, static_cast<int>(ColumnOf(static_cast<double>(m_overview->FramesDone()))));
    painter.setPen(palette().color(QPalette::WindowText));
    painter.drawText(QRect(x, 0, width() - x, area.height()), Qt::AlignCenter | Qt::TextWordWrap,
                     QString::fromStdString(cut));
  }
  DrawOwnPoints(painter, units.line, area.height());
  DrawMarkers(painter, area.height());
  if (m_playCursor) {
    const int x = static_cast<int>(std::floor(ColumnOf(static_cast<double>(*m_playCursor))));
    painter.setPen(kPlayCursorColour);
    painter.drawLine(x, 0, x, area.height());
  }
  DrawRuler(painter, area.height());
}

// The loop A..B, and the frames the table's records lie over: those samples are not the sound.
void WaveView::DrawShades(QPainter& painter, int bottom) {
  const auto shade = [&](double from, double to, const QColor& colour) {
    const int x0 = static_cast<int>(std::floor(ColumnOf(from)));
    const int x1 = static_cast<int>(std::ceil(ColumnOf(to)));
    if (x1 >= 0 && x0 < width())
      painter.fillRect(QRect(x0, 0, std::max(1, x1 - x0), bottom), colour);
  };
  if (m_loop) {
    shade(static_cast<double>(m_loop->first), static_cast<double>(m_loop->second + 1), kLoopShade);
  }
  if (const std::uint64_t table = TableFrames(); table > 0) {
    shade(0, static_cast<double>(table), kTableShade);
  }
}

void WaveView::DrawChannelLabel(QPainter& painter, int channel, const QRect& lane) {
  const QString name = ChannelName(m_facts.channels, static_cast<std::size_t>(channel));
  const int cx = FontUnits(fontMetrics()).cx;
  const QRect box(cx / 2, lane.top(), fontMetrics().horizontalAdvance(name) + cx,
                  fontMetrics().height());
  painter.fillRect(box, QColor(255, 255, 255, 200));
  painter.setPen(kLabelColour);
  painter.drawText(box, Qt::AlignCenter, name);
}

// Loop n of the file runs from "[n" to "n]"; cue point n reads "cn".
void WaveView::DrawOwnPoints(QPainter& painter, int top, int bottom) {
  const int labelTop = bottom - fontMetrics().height();
  const auto draw = [&](std::uint64_t frame, const QColor& colour, Qt::PenStyle style,
                        const QString& label) {
    const int x = static_cast<int>(std::floor(ColumnOf(static_cast<double>(frame))));
    if (x < 0 || x >= width()) return;
    painter.setPen(QPen(colour, 1, style));
    painter.drawLine(x, top, x, bottom);
    painter.setPen(colour);
    painter.drawText(QRect(x + 2, labelTop, width(), fontMetrics().height()),
                     Qt::AlignLeft | Qt::AlignVCenter, label);
  };
  for (std::size_t i = 0; i < m_own.loops.size(); ++i) {
    const QString n = QString::number(i + 1);
    draw(m_own.loops[i].start, kOwnLoopColour, Qt::DashLine, "[" + n);
    draw(m_own.loops[i].end, kOwnLoopColour, Qt::DashLine, n + "]");
  }
  for (std::size_t i = 0; i < m_own.cues.size(); ++i) {
    draw(m_own.cues[i], kCueColour, Qt::DotLine, "c" + QString::number(i + 1));
  }
}

// The table's points: solid lines in their colours, numbered in the row above the lanes.
void WaveView::DrawMarkers(QPainter& painter, int bottom) {
  const int line = fontMetrics().height();
  for (std::size_t i = 0; i < kLoopPointCount; ++i) {
    if (m_points[i] <= 0) continue;
    const int x = static_cast<int>(std::floor(ColumnOf(m_points[i])));
    if (x < 0 || x >= width()) continue;
    painter.setPen(PointColour(i));
    painter.drawLine(x, line, x, bottom);
    painter.drawText(QRect(x + 2, 0, 3 * line, line), Qt::AlignLeft | Qt::AlignVCenter,
                     QString::number(i + 1));
  }
}

// Labelled ticks at round times (frames, closer in than a millisecond), with a short tick
// halfway between.
void WaveView::DrawRuler(QPainter& painter, int top) {
  const QFontMetrics fm = fontMetrics();
  const int height = RulerHeight();
  painter.fillRect(QRect(0, top, width(), height), kRulerBackground);
  painter.setPen(kLabelColour);
  painter.drawLine(0, top, width(), top);
  const int cx = FontUnits(fm).cx;
  const QString widest =
      m_framesPerPixel * fm.horizontalAdvance("0:00:00.000") < m_facts.sampleRate / 1000.0
          ? QString::number(m_facts.frames)
          : QString("0:00:00.000");
  const double minFrames =
      (fm.horizontalAdvance(widest) + kRulerLabelGapChars * cx) * m_framesPerPixel;
  const RulerStep step = ChooseRulerStep(minFrames, m_facts.sampleRate);
  const auto firstTick =
      static_cast<std::uint64_t>(std::max(0.0, std::floor(m_first / step.frames)));
  const int tickLength = fm.height() / 2;
  for (std::uint64_t tick = firstTick;; ++tick) {
    const double x = ColumnOf(static_cast<double>(tick) * step.frames);
    if (x >= width()) break;
    const double half = ColumnOf((static_cast<double>(tick) + 0.5) * step.frames);
    painter.drawLine(QPointF(half, top), QPointF(half, top + tickLength / 2.0));
    if (x < 0) continue;
    painter.drawLine(QPointF(x, top), QPointF(x, top + tickLength));
    painter.drawText(QRectF(x + 2, top + tickLength / 2.0, width(), fm.height()),
                     Qt::AlignLeft | Qt::AlignVCenter,
                     QString::fromStdString(RulerLabel(tick, step)));
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
    const double radius = FontUnits(fontMetrics()).dotRadius;
    for (std::size_t f = 0; f < frames; ++f) {
      painter.drawEllipse(
          QPointF(ColumnOf(static_cast<double>(first + f)), SampleY(lane, sample(f))), radius,
          radius);
    }
  }
  painter.setRenderHint(QPainter::Antialiasing, false);
  painter.setBrush(Qt::NoBrush);
}
