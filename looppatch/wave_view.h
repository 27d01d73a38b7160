// The waveform under loop's template controls: the open file's peaks, one labelled lane per
// channel, the ten loop points as numbered markers, the loop A..B and the bytes the loop table
// writes over shaded, the file's own loops and cue points apart from the table's, a time ruler
// and a readout of what lies under the pointer. It shows what the dialog hands it and reports
// edits back to the dialog, which keeps the boxes as the one truth. Its sizes come from the
// desktop font, as the dialog's controls do.
#pragma once

#include <QColor>
#include <QLabel>
#include <QScrollBar>
#include <QTimer>
#include <QWidget>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "looppatch/loop_table.h"
#include "looppatch/wave_loops.h"
#include "looppatch/wave_peaks.h"
#include "looppatch/wave_samples.h"

// Loop point i's colour (counted from 0), for its marker and its number.
QColor PointColour(std::size_t index);

class WaveView : public QWidget {
 public:
  explicit WaveView(QWidget* parent = nullptr);
  ~WaveView() override;

  // Shows the file: its whole length at first, the overview filling in from a worker thread.
  // A file that cannot be read, or no file (an empty path), leaves the view empty.
  void SetFile(const std::string& path, const WaveFacts& facts);
  void SetPoints(const LoopPoints& points);
  // The loop A..B (B the last frame played), shaded; nothing: no loop.
  void SetLoop(std::optional<std::pair<std::uint64_t, std::uint64_t>> loop);
  // The file's own loops and cue points, drawn apart from the table's points.
  void SetOwnPoints(const WaveLoops& own);
  // The frame being heard, drawn as a line while the file plays; nothing: no cursor.
  void SetPlayCursor(std::optional<std::uint64_t> frame);
  std::optional<std::uint64_t> PlayCursor() const { return m_playCursor; }

  // The frames in view: the first at the left edge, and frames per pixel.
  double FirstFrame() const { return m_first; }
  double FramesPerPixel() const { return m_framesPerPixel; }
  // The column a frame is drawn in, and the frame under a column.
  double ColumnOf(double frame) const { return (frame - m_first) / m_framesPerPixel; }
  std::uint64_t FrameAt(double column) const;
  // Zooms by factor around the frame under the column (factor > 1 zooms in).
  void Zoom(double factor, double column);
  void ZoomIn() { Zoom(kZoomStep, width() / 2.0); }
  void ZoomOut() { Zoom(1 / kZoomStep, width() / 2.0); }
  // Shows `frames` frames centred on `frame`.
  void ShowAround(std::uint64_t frame, double frames);
  const PeakOverview* Overview() const { return m_overview.get(); }
  // The frames the loop table's records lie over.
  std::uint64_t TableFrames() const;
  // The bottom of the lanes (the ruler, the readout and the scroll bar run below them).
  int LanesHeight() const;
  // The time ruler's top and the text of the readout line under it.
  int RulerTop() const { return LanesHeight(); }
  QString Readout() const { return m_readout->text(); }

  // Called with the point's index (from 0) and its new frame while a marker is dragged.
  std::function<void(std::size_t, std::uint64_t)> onMarkerMoved;
  // Called with the frame under a click (press and release without a drag).
  std::function<void(std::uint64_t)> onClicked;

  static constexpr double kZoomStep = 1.25;
  // The deepest zoom: this many pixels per sample, where samples show as dots.
  static constexpr double kMaxPixelsPerFrame = 16;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void wheelEvent(QWheelEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void leaveEvent(QEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  void SetView(double first, double framesPerPixel);
  void SyncScrollBar();
  void Describe();
  // "the file ended at frame N (...) while it was read; ..." once the overview stopped short.
  std::string CutShortText() const;
  std::optional<std::size_t> MarkerNear(double column) const;
  void ShowReadout(double column);
  int RulerHeight() const;
  int ReadoutTop() const;
  void DrawShades(QPainter& painter, int bottom);
  void DrawLane(QPainter& painter, int channel, const QRect& lane);
  void DrawSamples(QPainter& painter, int channel, const QRect& lane);
  void DrawChannelLabel(QPainter& painter, int channel, const QRect& lane);
  void DrawOwnPoints(QPainter& painter, int top, int bottom);
  void DrawMarkers(QPainter& painter, int bottom);
  void DrawRuler(QPainter& painter, int top);

  WaveFacts m_facts;
  SampleReader m_reader;
  std::shared_ptr<PeakOverview> m_overview;
  std::unique_ptr<OverviewBuilder> m_builder;
  LoopPoints m_points{};
  std::optional<std::pair<std::uint64_t, std::uint64_t>> m_loop;
  WaveLoops m_own;
  std::optional<std::uint64_t> m_playCursor;
  double m_first = 0;
  double m_framesPerPixel = 1;
  QScrollBar* m_scrollBar;
  QLabel* m_readout;   // the time, frame and values under the pointer
  QTimer m_fillTimer;  // repaints while the overview fills in
  std::optional<std::size_t> m_draggedMarker;
  std::optional<QPoint> m_pressAt;
  double m_pressFirst = 0;
  bool m_panning = false;
  bool m_syncing = false;
};
