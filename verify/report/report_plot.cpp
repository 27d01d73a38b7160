#include "verify/report/report_plot.h"

#include <QBuffer>
#include <QFileInfo>
#include <QFont>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "verify/report/report_format.h"

namespace {

// The picture, and the margins around the plot area that hold the title, legend and axes.
constexpr int kWidth = 1200, kHeight = 700;
constexpr int kLeft = 110, kRight = 40, kTop = 150, kBottom = 76;
constexpr int kTicksWanted = 8;
constexpr int kTickLength = 6;
constexpr int kDotsUpTo = 400;  // frames; beyond that, dots would merge into the line
constexpr double kDotRadius = 3.0;
constexpr double kCrossHalf = 7.0;
constexpr double kPadShare = 0.08;
constexpr int kLabelRows = 3;  // breaks close together get their labels on different rows

const QColor kInk(0x20, 0x20, 0x20);
const QColor kGrid(0xdd, 0xdd, 0xdd);
const QColor kLine(0x1f, 0x5f, 0xbf);
const QColor kFault(0xc8, 0x1e, 0x1e);
const QColor kBreak(0xe0, 0x7b, 0x00);
const QColor kMissing(0x7b, 0x2f, 0xbf);
const QColor kUnreadable(0x00, 0x89, 0x7b);
constexpr double kMarkHalf = 8.0;
constexpr double kPerMillion = 1e-6;

// A tick step of 1, 2 or 5 times a power of ten that cuts the range into about kTicksWanted.
double NiceStep(double range) {
  const double raw = range / kTicksWanted;
  const double power = std::pow(10.0, std::floor(std::log10(raw)));
  for (const double m : {1.0, 2.0, 5.0}) {
    if (m * power >= raw) return m * power;
  }
  return 10.0 * power;
}

int DecimalsFor(double step) {
  return std::max(0, static_cast<int>(-std::floor(std::log10(step))));
}

struct Range {
  double low;
  double high;
};

Range Padded(double low, double high, double least, double share) {
  if (high - low < least) {
    // Centred on a round number where the values allow, so both ends fall on ticks: offsets a
    // hair either side of zero still get an axis from -1 to 1.
    const double half = least / 2;
    const double round = std::round((low + high) / 2 / half) * half;
    const bool fits = round - half <= low && high <= round + half;
    const double middle = fits ? round : (low + high) / 2;
    return {middle - half, middle + half};
  }
  const double pad = (high - low) * share;
  return {low - pad, high + pad};
}

// Multiples of step within the range, counted in whole steps so that no rounding in a running
// sum drops the last one; an end that lies on a tick up to rounding keeps it.
std::vector<double> Ticks(const Range& range, double step) {
  constexpr double kSlack = 1e-6;
  std::vector<double> ticks;
  const auto first = static_cast<long long>(std::ceil(range.low / step - kSlack));
  const auto last = static_cast<long long>(std::floor(range.high / step + kSlack));
  for (long long k = first; k <= last; ++k) ticks.push_back(static_cast<double>(k) * step);
  return ticks;
}

// Maps frame numbers and offsets to pixels inside the plot area.
struct Frame {
  QRectF area;
  Range x;
  Range y;
  double X(double frame) const {
    return area.left() + (frame - x.low) / (x.high - x.low) * area.width();
  }
  double Y(double offset) const {
    return area.bottom() - (offset - y.low) / (y.high - y.low) * area.height();
  }
};

QFont Font(int pixels, bool bold = false) {
  QFont font(QStringLiteral("DejaVu Sans"));
  font.setPixelSize(pixels);
  font.setBold(bold);
  return font;
}

// Where in the frame numbers a time in the recording lies: between two frames heard, where they
// put it, so the axis stays right after a dropout or a lost frame; beyond the first or the last,
// one frame length per frame (stretched by the drift).
class FrameOfTime {
 public:
  explicit FrameOfTime(const VerifyReport& r) {
    const double drift =
        r.timingMeasured && std::isfinite(r.driftPpm) ? r.driftPpm * kPerMillion : 0.0;
    m_perFrame = FrameLengthSamples(r) * (1.0 + drift) / r.sampleRate;
    for (const FoundFrame& frame : r.frames) {
      m_knots.push_back({frame.foundSample / r.sampleRate, static_cast<double>(frame.number)});
    }
    for (const FramePlace& place : r.unreadable) {
      m_knots.push_back({place.sample / r.sampleRate, static_cast<double>(place.frame)});
    }
    std::sort(m_knots.begin(), m_knots.end());
    if (m_knots.empty()) {
      const double latency = std::isfinite(r.latencySamples) ? r.latencySamples : 0.0;
      m_knots.push_back({latency / r.sampleRate, 1.0});
    }
  }
  double operator()(double seconds) const {
    const auto& [firstTime, firstFrame] = m_knots.front();
    const auto& [lastTime, lastFrame] = m_knots.back();
    if (seconds <= firstTime) return firstFrame - (firstTime - seconds) / m_perFrame;
    if (seconds >= lastTime) return lastFrame + (seconds - lastTime) / m_perFrame;
    const auto after = std::upper_bound(m_knots.begin(), m_knots.end(),
                                        std::pair{seconds, std::numeric_limits<double>::max()});
    const auto& [t1, n1] = *after;
    const auto& [t0, n0] = *(after - 1);
    return t1 > t0 ? n0 + (seconds - t0) / (t1 - t0) * (n1 - n0) : n0;
  }
  // The times at the edges of a range of frame numbers.
  Range Times(const Range& frames) const {
    const auto& [firstTime, firstFrame] = m_knots.front();
    const auto& [lastTime, lastFrame] = m_knots.back();
    return {firstTime - (firstFrame - frames.low) * m_perFrame,
            lastTime + (frames.high - lastFrame) * m_perFrame};
  }

 private:
  double m_perFrame = 1.0;
  std::vector<std::pair<double, double>> m_knots;  // seconds, frame number
};

// Along the top: where the frames lie in the recording, in seconds, so a fault can be found in
// an editor.
void DrawTimeAxis(QPainter& p, const Frame& f, const VerifyReport& r) {
  if (r.sampleRate <= 0) return;
  const FrameOfTime frameAt(r);
  const Range t = frameAt.Times(f.x);
  if (!(t.high > t.low)) return;
  const double step = NiceStep(t.high - t.low);
  const int decimals = DecimalsFor(step);
  constexpr double kLabelGap = 44;  // pixels between two tick labels, so they never overlap
  p.setFont(Font(14));
  p.setPen(kInk);
  double lastX = -1e9;
  for (const double v : Ticks(t, step)) {
    const double x = f.X(frameAt(v));
    if (x < f.area.left() || x > f.area.right() || std::abs(x - lastX) < kLabelGap) continue;
    lastX = x;
    p.drawLine(QPointF(x, f.area.top() - kTickLength), QPointF(x, f.area.top()));
    p.drawText(QRectF(x - 50, f.area.top() - 26, 100, 18), Qt::AlignHCenter | Qt::AlignBottom,
               QString::fromStdString(FormatFixed(v, decimals)));
  }
  // A row of its own above the tick numbers, so it never covers the last of them.
  p.drawText(QRectF(f.area.left(), f.area.top() - 46, f.area.width(), 18),
             Qt::AlignRight | Qt::AlignBottom, QStringLiteral("time in the recording (s)"));
}

void DrawAxes(QPainter& p, const Frame& f, const VerifyReport& r) {
  p.setFont(Font(14));
  const double xStep = std::max(1.0, NiceStep(f.x.high - f.x.low));
  for (const double v : Ticks(f.x, xStep)) {
    const double x = f.X(v);
    p.setPen(kGrid);
    p.drawLine(QPointF(x, f.area.top()), QPointF(x, f.area.bottom()));
    p.setPen(kInk);
    p.drawLine(QPointF(x, f.area.bottom()), QPointF(x, f.area.bottom() + kTickLength));
    p.drawText(QRectF(x - 50, f.area.bottom() + 8, 100, 20), Qt::AlignHCenter | Qt::AlignTop,
               QString::number(static_cast<long long>(std::llround(v))));
  }
  const double yStep = NiceStep(f.y.high - f.y.low);
  const int decimals = DecimalsFor(yStep);
  for (const double v : Ticks(f.y, yStep)) {
    const double y = f.Y(v);
    p.setPen(std::abs(v) < yStep / 2 ? QPen(kInk.lighter(250), 1.5) : QPen(kGrid));
    p.drawLine(QPointF(f.area.left(), y), QPointF(f.area.right(), y));
    p.setPen(kInk);
    p.drawLine(QPointF(f.area.left() - kTickLength, y), QPointF(f.area.left(), y));
    p.drawText(QRectF(0, y - 10, f.area.left() - 10, 20), Qt::AlignRight | Qt::AlignVCenter,
               QString::fromStdString(FormatFixed(v, decimals)));
  }
  p.setPen(QPen(kInk, 1.5));
  p.setBrush(Qt::NoBrush);
  p.drawRect(f.area);
  DrawTimeAxis(p, f, r);

  p.setFont(Font(16));
  p.drawText(QRectF(f.area.left(), kHeight - 34, f.area.width(), 24), Qt::AlignCenter,
             QStringLiteral("frame number"));
  p.save();
  p.translate(26, f.area.center().y());
  p.rotate(-90);
  p.drawText(QRectF(-f.area.height() / 2, -12, f.area.height(), 24), Qt::AlignCenter,
             QStringLiteral("offset from a perfect playback (samples)"));
  p.restore();
}

void DrawTitle(QPainter& p, const VerifyReport& r) {
  p.setPen(kInk);
  p.setFont(Font(22, true));
  const QString name = QFileInfo(QString::fromStdString(r.file)).fileName();
  p.drawText(QRectF(kLeft, 12, kWidth - kLeft - kRight, 32), Qt::AlignLeft | Qt::AlignVCenter,
             QStringLiteral("Frame offsets in %1").arg(name));
  p.setFont(Font(15));
  const std::string line =
      std::string(FactsOf(r.type).reportName) + ", method " + std::to_string(r.method) +
      (r.methodAssumed ? " (assumed)" : "") + ", ID " + std::to_string(r.dtmfId) + ", " +
      std::to_string(r.sampleRate) + " Hz, channel " + std::to_string(r.channel) + "    latency " +
      FormatFixed(r.latencySamples, 2) + " samples    " +
      (r.timingMeasured ? "drift " + FormatSigned(r.driftPpm, 2) + " ppm    jitter " +
                              FormatFixed(r.jitterRmsSamples, 3) + " samples RMS"
                        : std::string("drift and jitter not measurable"));
  p.drawText(QRectF(kLeft, 48, kWidth - kLeft - kRight, 24), Qt::AlignLeft | Qt::AlignVCenter,
             QString::fromStdString(line));
  // The verdict, with the faults that have no frame to be drawn at, as the summary gives them.
  std::string verdict = r.Clean() ? "clean" : "faults found";
  if (r.nonFiniteCount > 0) {
    verdict += ", " + std::to_string(r.nonFiniteCount) + " non-finite samples";
  }
  if (r.Truncated()) {
    verdict += ", reading stopped at " +
               FormatSeconds(static_cast<double>(r.framesRead), r.sampleRate) + " s";
  }
  p.setPen(r.Clean() ? kInk : kFault);
  p.setFont(Font(15, true));
  p.drawText(QRectF(kLeft, 12, kWidth - kLeft - kRight, 32), Qt::AlignRight | Qt::AlignVCenter,
             QString::fromStdString(verdict));
}

bool IsBreak(const VerifyReport& r, int frame) {
  return std::any_of(r.discontinuities.begin(), r.discontinuities.end(),
                     [frame](const Discontinuity& d) { return d.frame == frame; });
}

// Each jump of the playback map at its place in the recording, named as the summary names it;
// a break the map does not hold (a report made without one) between its two frames.
void DrawBreaks(QPainter& p, const Frame& f, const VerifyReport& r) {
  constexpr double kLabelWidth = 220;
  constexpr double kLabelHeight = 18;
  p.setFont(Font(13, true));
  int row = 0;
  const FrameOfTime frameAt(r);
  for (const PlacedFault& fault : PlacedFaults(r)) {
    std::string text;
    double x = 0.0;
    if (fault.kind == PlacedFault::Kind::event) {
      const PlaybackEvent& event = r.map.events[fault.event];
      if (event.kind == EventKind::damage || r.sampleRate <= 0) continue;
      x = f.X(frameAt(event.recordingFirst / r.sampleRate));
      text = std::string(EventName(event.kind)) + " " + FormatSigned(event.jumpTimecode, 2);
    } else if (fault.kind == PlacedFault::Kind::jump) {
      x = f.X(fault.frame - 0.5);  // between the two frames of the break
      text = "jump " + FormatSigned(fault.jumpSamples, 2);
    } else {
      continue;
    }
    p.setPen(QPen(kBreak, 2, Qt::DashLine));
    p.drawLine(QPointF(x, f.area.top()), QPointF(x, f.area.bottom()));
    p.setPen(kBreak);
    // The label goes right of its line, or left of it near the right edge.
    const bool left = x + kLabelWidth > f.area.right();
    const QRectF box(left ? x - 4 - kLabelWidth : x + 4, f.area.top() + 4 + row * kLabelHeight,
                     kLabelWidth, kLabelHeight);
    p.drawText(box, (left ? Qt::AlignRight : Qt::AlignLeft) | Qt::AlignTop,
               QString::fromStdString(text));
    row = (row + 1) % kLabelRows;
  }
}

// The frames the scales are set by: those on a segment of the playback map, so a frame that a
// fault cut (placed by part of its bursts) never stretches them; all of them without a map.
std::vector<FoundFrame> Scaled(const VerifyReport& r) {
  if (r.map.segments.empty()) return r.frames;
  std::vector<FoundFrame> frames;
  for (const Segment& segment : r.map.segments) {
    for (int i = 0; i < segment.framesRead; ++i) {
      frames.push_back(r.frames[segment.firstIndex + static_cast<std::size_t>(i)]);
    }
  }
  return frames;
}

// A frame that is not in the recording (missing) or could not be read (unreadable) has no
// offset: a dotted line at its number and a triangle on the zero line mark it.
void DrawAbsent(QPainter& p, const Frame& f, const std::vector<FramePlace>& places,
                const QColor& colour) {
  for (const FramePlace& place : places) {
    const double x = f.X(place.frame);
    p.setPen(QPen(colour, 1.5, Qt::DotLine));
    p.drawLine(QPointF(x, f.area.top()), QPointF(x, f.area.bottom()));
    const double y = f.Y(0.0);
    QPainterPath triangle;
    triangle.moveTo(x, y - kMarkHalf);
    triangle.lineTo(x + kMarkHalf, y + kMarkHalf);
    triangle.lineTo(x - kMarkHalf, y + kMarkHalf);
    triangle.closeSubpath();
    p.setPen(Qt::NoPen);
    p.fillPath(triangle, colour);
  }
}

// The offsets in recording order; a break is not bridged, so the jump shows as a step.
void DrawOffsets(QPainter& p, const Frame& f, const VerifyReport& r) {
  const auto& frames = r.frames;
  p.setPen(QPen(kLine, 2));
  for (std::size_t i = 1; i < frames.size(); ++i) {
    if (IsBreak(r, frames[i].number)) continue;
    p.drawLine(QPointF(f.X(frames[i - 1].number), f.Y(frames[i - 1].offsetSamples)),
               QPointF(f.X(frames[i].number), f.Y(frames[i].offsetSamples)));
  }
  if (frames.size() <= kDotsUpTo) {
    p.setPen(Qt::NoPen);
    p.setBrush(kLine);
    for (const FoundFrame& frame : frames) {
      p.drawEllipse(QPointF(f.X(frame.number), f.Y(frame.offsetSamples)), kDotRadius, kDotRadius);
    }
  }
  p.setPen(QPen(kFault, 3));
  for (const FoundFrame& frame : frames) {
    if (frame.checkOk) continue;
    const QPointF c(f.X(frame.number), f.Y(frame.offsetSamples));
    p.drawLine(c + QPointF(-kCrossHalf, -kCrossHalf), c + QPointF(kCrossHalf, kCrossHalf));
    p.drawLine(c + QPointF(-kCrossHalf, kCrossHalf), c + QPointF(kCrossHalf, -kCrossHalf));
  }
}

// One row under the title: what each mark means.
void DrawLegend(QPainter& p) {
  p.setFont(Font(14));
  constexpr double kRowTop = 78;
  constexpr double kRowHeight = 22;
  constexpr double kSymbolWidth = 28;
  double x = kLeft;
  const auto entry = [&](const QString& text, auto&& symbol) {
    symbol(QPointF(x + kSymbolWidth / 2, kRowTop + kRowHeight / 2));
    p.setPen(kInk);
    const QRectF box(x + kSymbolWidth + 4, kRowTop, 400, kRowHeight);
    p.drawText(box, Qt::AlignLeft | Qt::AlignVCenter, text);
    x = box.left() + p.fontMetrics().horizontalAdvance(text) + 28;
  };
  entry(QStringLiteral("offset of each frame"), [&](QPointF c) {
    p.setPen(QPen(kLine, 2));
    p.drawLine(c + QPointF(-12, 0), c + QPointF(12, 0));
    p.setPen(Qt::NoPen);
    p.setBrush(kLine);
    p.drawEllipse(c, kDotRadius, kDotRadius);
  });
  entry(QStringLiteral("discontinuity (jump in samples)"), [&](QPointF c) {
    p.setPen(QPen(kBreak, 2, Qt::DashLine));
    p.drawLine(c + QPointF(0, -9), c + QPointF(0, 9));
  });
  entry(QStringLiteral("check symbol wrong"), [&](QPointF c) {
    p.setPen(QPen(kFault, 3));
    p.drawLine(c + QPointF(-6, -6), c + QPointF(6, 6));
    p.drawLine(c + QPointF(-6, 6), c + QPointF(6, -6));
  });
  const auto triangle = [&](const QColor& colour) {
    return [&p, colour](QPointF c) {
      QPainterPath path;
      path.moveTo(c + QPointF(0, -6));
      path.lineTo(c + QPointF(6, 6));
      path.lineTo(c + QPointF(-6, 6));
      path.closeSubpath();
      p.fillPath(path, colour);
    };
  };
  entry(QStringLiteral("missing"), triangle(kMissing));
  entry(QStringLiteral("unreadable"), triangle(kUnreadable));
}

// The platform's start-up notes (no XDG runtime folder and the like) mean nothing to someone who
// asked for a picture; only real failures get through while the plot's own application lives.
void QuietNotes(QtMsgType type, const QMessageLogContext&, const QString& message) {
  if (type == QtCriticalMsg || type == QtFatalMsg) {
    std::fprintf(stderr, "%s\n", message.toLocal8Bit().constData());
  }
}

QImage Draw(const VerifyReport& r) {
  QImage image(kWidth, kHeight, QImage::Format_RGB32);
  image.fill(Qt::white);
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);

  double xLow = 1, xHigh = 2, yLow = 0, yHigh = 0;
  const std::vector<FoundFrame> scaled = Scaled(r);
  if (!scaled.empty()) {
    const auto [lowF, highF] = std::minmax_element(
        scaled.begin(), scaled.end(),
        [](const FoundFrame& a, const FoundFrame& b) { return a.number < b.number; });
    const auto [lowO, highO] = std::minmax_element(
        scaled.begin(), scaled.end(),
        [](const FoundFrame& a, const FoundFrame& b) { return a.offsetSamples < b.offsetSamples; });
    xLow = lowF->number;
    xHigh = highF->number;
    for (const auto* places : {&r.missingPlaces, &r.unreadable}) {
      for (const FramePlace& place : *places) {
        xLow = std::min(xLow, static_cast<double>(place.frame));
        xHigh = std::max(xHigh, static_cast<double>(place.frame));
      }
    }
    yLow = std::min(0.0, lowO->offsetSamples);
    yHigh = std::max(0.0, highO->offsetSamples);
  }
  const Frame f{QRectF(kLeft, kTop, kWidth - kLeft - kRight, kHeight - kTop - kBottom),
                Padded(xLow - 0.5, xHigh + 0.5, 2.0, 0.0), Padded(yLow, yHigh, 2.0, kPadShare)};

  DrawTitle(p, r);
  DrawAxes(p, f, r);
  p.setClipRect(f.area);
  DrawBreaks(p, f, r);
  DrawAbsent(p, f, r.missingPlaces, kMissing);
  DrawAbsent(p, f, r.unreadable, kUnreadable);
  DrawOffsets(p, f, r);
  p.setClipping(false);
  DrawLegend(p);
  if (r.frames.empty()) {
    p.setPen(kInk);
    p.setFont(Font(18));
    p.drawText(f.area, Qt::AlignCenter, QStringLiteral("no frames found"));
  }
  return image;
}

}  // namespace

std::optional<std::string> PlotFormatFor(const std::string& path) {
  const QString suffix = QFileInfo(QString::fromStdString(path)).suffix().toLower();
  if (suffix == QLatin1String("png")) return "PNG";
  if (suffix == QLatin1String("jpg") || suffix == QLatin1String("jpeg")) return "JPEG";
  return std::nullopt;
}

std::string RenderPlot(const VerifyReport& report, const std::string& format) {
  // Fonts need a GUI application; a command line has none, so one lives for this drawing only.
  std::unique_ptr<QGuiApplication> app;
  QtMessageHandler previousHandler = nullptr;
  int argc = 1;
  char name[] = "vrellok-verify";
  char* argv[] = {name, nullptr};
  if (QCoreApplication::instance() == nullptr) {
    // Always the offscreen platform: the picture goes to a file, and a platform named in the
    // environment (xcb with no X server, say) would abort the whole program before the report.
    const char* named = std::getenv("QT_QPA_PLATFORM");
    const std::optional<std::string> previous =
        named != nullptr ? std::optional<std::string>(named) : std::nullopt;
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    previousHandler = qInstallMessageHandler(QuietNotes);
    app = std::make_unique<QGuiApplication>(argc, argv);
    if (previous) {
      ::setenv("QT_QPA_PLATFORM", previous->c_str(), 1);
    } else {
      ::unsetenv("QT_QPA_PLATFORM");
    }
  }
  QByteArray png;
  {
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    Draw(report).save(&buffer, format.c_str());
  }
  if (app) {
    app.reset();
    qInstallMessageHandler(previousHandler);
  }
  return png.toStdString();
}
