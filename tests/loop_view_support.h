// What loop's view suites share: images read for the wave's pixels, controls found by the
// names a screen reader gives them, and a fixture that opens a file of given samples in the
// real dialog and runs searches in it.
#pragma once

#include <QElapsedTimer>
#include <QLabel>
#include <QListWidget>
#include <memory>

#include "gui_support.h"
#include "looppatch/loop_dlg.h"
#include "looppatch/wave_view.h"
#include "resources/loop_rc.h"
#include "tests/sample_wave.h"
#include "tests/scratch_dir.h"

inline constexpr std::uint64_t kFrames = 100'000;
inline constexpr std::uint64_t kClickFrame = 54'321;
inline constexpr int kViewWidth = 800;
inline constexpr int kViewHeight = 200;
inline constexpr int kFillWaitMs = 20'000;

inline bool IsWave(QRgb p) {
  return qBlue(p) - qRed(p) > 30 && qBlue(p) - qGreen(p) > 30;
}

// Silence with one full-scale sample.
inline std::vector<std::int16_t> OneClick(std::uint64_t frames, std::uint64_t at) {
  std::vector<std::int16_t> s(frames, 0);
  s[at] = 32767;
  return s;
}

// Lets the overview's thread finish, with the event loop running as it would on a desktop.
inline void WaitForOverview(const WaveView& view) {
  QElapsedTimer clock;
  clock.start();
  while (view.Overview() != nullptr && !view.Overview()->Complete() &&
         clock.elapsed() < kFillWaitMs) {
    QTest::qWait(5);
  }
  ASSERT_TRUE(view.Overview() != nullptr && view.Overview()->Complete());
}

// The columns where the wave reaches highest above the middle of its lane.
inline std::pair<int, int> HighestWaveColumns(const QImage& image, int laneTop, int laneBottom) {
  for (int y = laneTop; y < laneBottom; ++y) {
    int first = -1, last = -1;
    for (int x = 0; x < image.width(); ++x) {
      if (!IsWave(image.pixel(x, y))) continue;
      if (first < 0) first = x;
      last = x;
    }
    if (first >= 0) return {first, last};
  }
  return {-1, -1};
}

inline WaveView* FindWaveform(const QWidget& window) {
  for (auto* view : window.findChildren<WaveView*>()) {
    if (view->accessibleName() == "Waveform") return view;
  }
  return nullptr;
}

inline QWidget* FindNamed(const QWidget& window, const QString& name) {
  for (auto* widget : window.findChildren<QWidget*>()) {
    if (widget->accessibleName() == name) return widget;
  }
  return nullptr;
}

inline QLabel* FindLabelStarting(const QWidget& window, const QString& start) {
  for (auto* label : window.findChildren<QLabel*>()) {
    if (label->text().startsWith(start)) return label;
  }
  return nullptr;
}

// Columns where dots of the wave stand in the rows [top, bottom]: runs of columns holding at
// least `least` wave pixels there, each given by its middle column. A line crossing the rows
// leaves fewer.
inline std::vector<int> DotColumns(const QImage& image, int top, int bottom, int least = 3,
                                   bool (*drawn)(QRgb) = IsWave) {
  std::vector<int> dots;
  int runStart = -1;
  for (int x = 0; x <= image.width(); ++x) {
    int count = 0;
    for (int y = top; x < image.width() && y <= bottom; ++y) count += drawn(image.pixel(x, y));
    if (count >= least && runStart < 0) runStart = x;
    if (count < least && runStart >= 0) {
      dots.push_back((runStart + x - 1) / 2);
      runStart = -1;
    }
  }
  return dots;
}

// The row holding the most wave pixels over columns [left, right): where a flat run is drawn.
inline int LevelRow(const QImage& image, int left, int right, int top, int bottom) {
  int best = top, most = -1;
  for (int y = top; y < bottom; ++y) {
    int count = 0;
    for (int x = left; x < right; ++x) count += IsWave(image.pixel(x, y));
    if (count > most) best = y, most = count;
  }
  return best;
}

class LoopViewTest : public testing::Test {
 protected:
  void SetUp() override { AfxSetResources(LoopResources()); }

  std::string Save(const std::string& name, const Bytes& bytes) {
    const std::string path = m_scratch.File(name);
    WriteBytes(path, bytes);
    return path;
  }

  // A view of its own, sized, showing a mono file of these samples.
  std::unique_ptr<WaveView> View(const std::vector<std::int16_t>& samples) {
    auto view = std::make_unique<WaveView>();
    view->resize(kViewWidth, kViewHeight);
    const std::string path = Save("view.wav", WaveOfSamples(1, samples));
    view->SetFile(path, {"view.wav", kTestRate, 1, samples.size()});
    WaitForOverview(*view);
    return view;
  }

  // Runs a dialog with a file of these samples open, the script inside it, then Exit.
  void WithDialog(std::uint16_t channels, const std::vector<std::int16_t>& samples,
                  const std::function<void(CLoopDlg&, WaveView&)>& script) {
    const std::string path = Save("loop.wav", WaveOfSamples(channels, samples));
    CFile file;
    CLoopDlg dialog(file);
    RunModal(dialog, [&] {
      m_prompts.AnswerFileDialog(path);
      Click(dialog, "Open File");
      WaveView* view = FindWaveform(dialog);
      ASSERT_NE(view, nullptr);
      WaitForOverview(*view);
      script(dialog, *view);
      if (dialog.isVisible()) ExitDroppingEdits(m_prompts, dialog);
    });
  }

  // Runs a search with this button and returns the lines it listed, once it is done.
  static QStringList Search(CLoopDlg& dialog, const QString& button) {
    Click(dialog, button);
    EXPECT_TRUE(QTest::qWaitFor([&] { return FindButton(dialog, "Cancel search") == nullptr; },
                                kFillWaitMs));
    QStringList lines;
    auto* list = dynamic_cast<QListWidget*>(FindNamed(dialog, "Found loop points"));
    for (int i = 0; list != nullptr && list->isVisible() && i < list->count(); ++i) {
      lines << list->item(i)->text();
    }
    return lines;
  }

  static void PickFound(CLoopDlg& dialog, int row) {
    auto* list = dynamic_cast<QListWidget*>(FindNamed(dialog, "Found loop points"));
    ASSERT_NE(list, nullptr);
    QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::NoModifier,
                      list->visualItemRect(list->item(row)).center());
  }

  PromptRecorder m_prompts;
  ScratchDir m_scratch;
};
