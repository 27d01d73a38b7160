// What loop's waveform and seam views draw alike: the wave's colour, where a sample stands in
// its lane, and the sizes both take from the desktop font, so they scale as the dialog's
// controls do.
#pragma once

#include <QColor>
#include <QFontMetrics>
#include <QRect>
#include <QString>
#include <algorithm>
#include <cmath>

inline const QColor kWaveColour(0x20, 0x20, 0x60);
inline const QColor kLabelColour(0x50, 0x50, 0x50);
inline constexpr double kFullScale = 32768.0;

inline int SampleY(const QRect& lane, double sample) {
  return lane.center().y() - static_cast<int>(std::lround(sample / kFullScale * lane.height() / 2));
}

// Sizes in pixels from the font: a text line, an average character, the gap between lanes and
// the radius of a sample's dot.
struct FontUnits {
  explicit FontUnits(const QFontMetrics& fm)
      : line(fm.height()),
        cx(std::max(1, fm.averageCharWidth())),
        laneGap(std::max(1, fm.height() / 8)),
        dotRadius(std::max(2.0, fm.height() / 7.0)) {}
  int line;
  int cx;
  int laneGap;
  double dotRadius;
};

// A lane's label: "L" and "R" for stereo, "Mono" for one channel.
inline QString ChannelName(int channels, std::size_t channel) {
  if (channels == 1) return "Mono";
  if (channels == 2) return channel == 0 ? "L" : "R";
  return QString("Ch %1").arg(channel + 1);
}
