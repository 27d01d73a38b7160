// Pictures of the dialogs for the README. With SCREENSHOT_DIR set, the Screenshot tests render
// their windows offscreen and save them there as PNGs:
//
//   SCREENSHOT_DIR=$PWD/docs ctest --test-dir build -R Screenshot
#pragma once

#include <QImage>
#include <QPainter>
#include <QPixmap>
#include <QString>
#include <QWidget>
#include <cstdlib>
#include <optional>

inline constexpr int kCaptionPadding = 4;

// The offscreen platform draws no window frame, so the picture gets a plain caption bar on top:
// the caption is part of what a dialog says.
inline QImage WithCaption(QWidget& window) {
  const QPixmap client = window.grab();
  const int barHeight = window.fontMetrics().height() + 2 * kCaptionPadding;
  QImage image(client.width(), client.height() + barHeight, QImage::Format_RGB32);
  QPainter painter(&image);
  const QRect bar(0, 0, client.width(), barHeight);
  painter.fillRect(bar, window.palette().highlight());
  painter.setPen(window.palette().highlightedText().color());
  painter.setFont(window.font());
  painter.drawText(bar.adjusted(kCaptionPadding, 0, 0, 0), Qt::AlignLeft | Qt::AlignVCenter,
                   window.windowTitle());
  painter.drawPixmap(0, barHeight, client);
  return image;
}

// The folder screenshots go to, or nothing when none was asked for.
inline std::optional<QString> ScreenshotDir() {
  const char* folder = std::getenv("SCREENSHOT_DIR");
  if (folder == nullptr) return std::nullopt;
  return QString::fromLocal8Bit(folder);
}
