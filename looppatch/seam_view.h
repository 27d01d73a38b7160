// The seam of a loop A..B, magnified to the sample grid and overlaid, channel by channel: the
// frames up to the loop's end B and the frames from its start A, lined up so that A stands
// where the frame after B would. A looping player plays the end's trace up to the join and the
// start's after it (drawn strong); the faint rest shows what each would have gone on to or come
// from. Where the two traces lie on each other, the seam is clean. The zoom runs from a few
// frames to 50 ms on each side of the join, by the wheel and by + and -.
#pragma once

#include <QWidget>
#include <cstdint>
#include <functional>
#include <optional>
#include <utility>
#include <vector>

class SeamView : public QWidget {
 public:
  // Interleaved frames first..first+count-1 of the file, fewer at its end.
  using FrameSource = std::function<std::vector<std::int16_t>(std::uint64_t, std::uint64_t)>;

  explicit SeamView(QWidget* parent = nullptr);
  // The file the seam is read from; no source (or 0 frames) clears the view.
  void SetSource(FrameSource source, int channels, std::uint32_t sampleRate, std::uint64_t frames);
  // The loop: A, and B the last frame played before the jump back to A. Nothing: no loop.
  void SetLoop(std::optional<std::pair<std::uint64_t, std::uint64_t>> loop);
  std::optional<std::pair<std::uint64_t, std::uint64_t>> Loop() const { return m_loop; }

  // Frames drawn on each side of the join.
  std::uint64_t SideFrames() const { return m_side; }
  void ZoomIn();
  void ZoomOut();

  static constexpr std::uint64_t kFewestSideFrames = 4;
  static constexpr std::uint64_t kStartSideFrames = 32;
  static constexpr double kZoomStep = 1.25;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void wheelEvent(QWheelEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  bool event(QEvent* event) override;

 private:
  std::uint64_t MostSideFrames() const;
  void SetSide(double frames);
  void Describe();
  // The frames around `at`: the side frames before it and the side frames from it, as far as
  // the file has them; slot 0 is frame at - side.
  struct Trace {
    std::vector<std::int16_t> samples;  // interleaved
    std::uint64_t firstSlot = 0;
  };
  Trace Around(std::uint64_t at) const;
  void DrawTrace(QPainter& painter, const QRect& lane, std::size_t channel, const Trace& trace,
                 const QColor& colour, bool strongBeforeJoin, bool faint);

  FrameSource m_source;
  int m_channels = 1;
  std::uint32_t m_rate = 0;
  std::uint64_t m_frames = 0;
  std::optional<std::pair<std::uint64_t, std::uint64_t>> m_loop;
  std::uint64_t m_side = kStartSideFrames;
};
