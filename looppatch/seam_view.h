// The seam of a loop, magnified to the sample grid: the last frames before the loop's end
// joined to the first frames from its start, as a looping player plays them, with the join
// marked between them.
#pragma once

#include <QWidget>
#include <cstdint>
#include <vector>

class SeamView : public QWidget {
 public:
  explicit SeamView(QWidget* parent = nullptr);
  // Interleaved frames, the first `joinAt` of them up to the loop's end; none clears the view.
  void SetFrames(std::vector<std::int16_t> frames, int channels, std::size_t joinAt);

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  std::vector<std::int16_t> m_frames;
  int m_channels = 1;
  std::size_t m_joinAt = 0;
};
