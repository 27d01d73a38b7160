// loop's waveform and seam, run headless with the real widgets: where the view draws samples,
// markers and the table's bytes at several zoom levels; markers and boxes moving each other;
// the facts line and tooltips; the seam verdict, snap and end search through the dialog; and
// a 4 GiB file whose overview fills in while the window keeps answering.
#include <sys/resource.h>
#include <unistd.h>

#include <QComboBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QListWidget>
#include <QWheelEvent>
#include <memory>

#include "gui_support.h"
#include "looppatch/loop_dlg.h"
#include "looppatch/seam_view.h"
#include "looppatch/time_ruler.h"
#include "looppatch/wave_view.h"
#include "resources/loop_rc.h"
#include "tests/sample_wave.h"
#include "tests/scratch_dir.h"

namespace {

constexpr std::uint64_t kFrames = 100'000;
constexpr std::uint64_t kClickFrame = 54'321;
constexpr int kViewWidth = 800;
constexpr int kViewHeight = 200;
constexpr int kFillWaitMs = 20'000;

bool IsWave(QRgb p) {
  return qBlue(p) - qRed(p) > 30 && qBlue(p) - qGreen(p) > 30;
}

// Silence with one full-scale sample.
std::vector<std::int16_t> OneClick(std::uint64_t frames, std::uint64_t at) {
  std::vector<std::int16_t> s(frames, 0);
  s[at] = 32767;
  return s;
}

// Lets the overview's thread finish, with the event loop running as it would on a desktop.
void WaitForOverview(const WaveView& view) {
  QElapsedTimer clock;
  clock.start();
  while (view.Overview() != nullptr && !view.Overview()->Complete() &&
         clock.elapsed() < kFillWaitMs) {
    QTest::qWait(5);
  }
  ASSERT_TRUE(view.Overview() != nullptr && view.Overview()->Complete());
}

// The columns where the wave reaches highest above the middle of its lane.
std::pair<int, int> HighestWaveColumns(const QImage& image, int laneTop, int laneBottom) {
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

WaveView* FindWaveform(const QWidget& window) {
  for (auto* view : window.findChildren<WaveView*>()) {
    if (view->accessibleName() == "Waveform") return view;
  }
  return nullptr;
}

QWidget* FindNamed(const QWidget& window, const QString& name) {
  for (auto* widget : window.findChildren<QWidget*>()) {
    if (widget->accessibleName() == name) return widget;
  }
  return nullptr;
}

QLabel* FindLabelStarting(const QWidget& window, const QString& start) {
  for (auto* label : window.findChildren<QLabel*>()) {
    if (label->text().startsWith(start)) return label;
  }
  return nullptr;
}

// Columns where dots of the wave stand in the rows [top, bottom]: runs of columns holding at
// least `least` wave pixels there, each given by its middle column. A line crossing the rows
// leaves fewer.
std::vector<int> DotColumns(const QImage& image, int top, int bottom, int least = 3,
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
int LevelRow(const QImage& image, int left, int right, int top, int bottom) {
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

TEST_F(LoopViewTest, AClickIsDrawnInItsColumnAtEveryZoom) {
  auto view = View(OneClick(kFrames, kClickFrame));
  const int laneTop = 14;
  const int laneMiddle = laneTop + (view->LanesHeight() - laneTop) / 2;
  // The whole file: 125 frames per column.
  QImage image = view->grab().toImage();
  EXPECT_EQ(
      HighestWaveColumns(image, laneTop, laneMiddle - 5),
      std::make_pair(static_cast<int>(kClickFrame / 125), static_cast<int>(kClickFrame / 125)));
  // Peaks from the coarser and the finest runs, the file's own samples per column, and the
  // samples as dots: each time centred, so in the middle column.
  for (double frames : {20'000.0, 8000.0, 800.0, 50.0}) {
    view->ShowAround(kClickFrame, frames);
    image = view->grab().toImage();
    const auto [first, last] = HighestWaveColumns(image, laneTop, laneMiddle - 5);
    EXPECT_LE(std::abs((first + last) / 2 - kViewWidth / 2), 1) << frames << " frames in view";
    EXPECT_LE(last - first, 6) << frames << " frames in view";
  }
}

TEST_F(LoopViewTest, MarkersStandAtTheirPointsInTheirColoursAndTheTableBytesAreShaded) {
  auto view = View(OneClick(kFrames, kClickFrame));
  view->SetPoints({1000, 50'000, 99'000});
  QImage image = view->grab().toImage();
  const int y = view->LanesHeight() / 3;
  for (auto [index, column] : {std::pair{0, 8}, {1, 400}, {2, 792}}) {
    EXPECT_EQ(image.pixelColor(column, y), PointColour(index)) << "point " << index + 1;
    EXPECT_NE(image.pixelColor(column + 2, y), PointColour(index)) << "point " << index + 1;
  }
  EXPECT_NE(PointColour(0), PointColour(1));
  // Close up at the start: the first 30 samples (60 bytes of a mono file) lie under the records.
  view->ShowAround(0, 100);  // 8 columns per frame from frame 0
  image = view->grab().toImage();
  EXPECT_EQ(view->TableFrames(), 30u);
  EXPECT_EQ(image.pixelColor(100, y), QColor(0xff, 0xd8, 0x90));
  EXPECT_EQ(image.pixelColor(238, y), QColor(0xff, 0xd8, 0x90));
  EXPECT_EQ(image.pixelColor(250, y), QColor(Qt::white));
}

// The ruler's steps are round times wide enough for their labels, frames closer in than a
// millisecond.
TEST(TimeRuler, StepsAreRoundTimesOrFramesWideEnoughForTheirLabels) {
  struct Case {
    double minFrames;
    std::uint64_t tick;
    const char* label;
  };
  const Case cases[] = {{1, 7, "7"},
                        {7, 3, "30"},
                        {30, 2, "100"},
                        {50, 2, "0:00:00.004"},
                        {5000, 3, "0:00:00.600"},
                        {44100 * 40.0, 3, "0:03:00.000"},
                        {44100 * 5000.0, 1, "2:00:00.000"}};
  for (const Case& c : cases) {
    const RulerStep step = ChooseRulerStep(c.minFrames, 44100);
    EXPECT_GE(step.frames, c.minFrames);
    EXPECT_EQ(RulerLabel(c.tick, step), c.label) << c.minFrames;
  }
}

// A..B shaded, the file's own loops and cue points in their own colours, and the readout
// telling the time, frame and value under the pointer.
TEST_F(LoopViewTest, TheLoopOwnPointsAndReadoutOrientTheReader) {
  auto view = View(OneClick(kFrames, kClickFrame));
  view->SetLoop(std::pair<std::uint64_t, std::uint64_t>{25'000, 49'999});
  view->SetOwnPoints({{{60'000, 70'000}}, {80'000}});
  const QImage image = view->grab().toImage();
  const int y = view->LanesHeight() / 3;
  EXPECT_EQ(image.pixelColor(300, y), QColor(0xe4, 0xee, 0xfc));
  EXPECT_EQ(image.pixelColor(410, y), QColor(Qt::white));
  const auto columnHolds = [&](int x, const QColor& colour) {
    for (int row = 0; row < view->LanesHeight(); ++row) {
      if (image.pixelColor(x, row) == colour) return true;
    }
    return false;
  };
  EXPECT_TRUE(columnHolds(480, QColor(0x60, 0x60, 0x60)));  // loop 1 starts at 60000
  EXPECT_TRUE(columnHolds(560, QColor(0x60, 0x60, 0x60)));
  EXPECT_TRUE(columnHolds(640, QColor(0x90, 0x50, 0x10)));  // cue point 1
  view->ShowAround(kClickFrame, 50);
  const QPointF at(view->ColumnOf(kClickFrame) + 2, view->LanesHeight() / 2.0);
  QMouseEvent move(QEvent::MouseMove, at, view->mapToGlobal(at), Qt::NoButton, Qt::NoButton,
                   Qt::NoModifier);
  QApplication::sendEvent(view.get(), &move);
  EXPECT_EQ(view->Readout(), "0:00:01.231, frame 54321, value 32767");
}

TEST_F(LoopViewTest, WheelAndDoubleClickZoomAndTheAccessibleDescriptionFollows) {
  auto view = View(OneClick(kFrames, kClickFrame));
  view->SetPoints({1000, 50'000});
  EXPECT_EQ(view->accessibleDescription().toStdString(),
            "view.wav, 0:00:00.000 to 0:00:02.267 of 0:00:02.267; loop points in view: 1 at frame "
            "1000 (0:00:00.022), 2 at frame 50000 (0:00:01.133)");
  const double whole = view->FramesPerPixel();
  QWheelEvent wheel(QPointF(400, 50), view->mapToGlobal(QPointF(400, 50)), QPoint(), QPoint(0, 120),
                    Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
  QApplication::sendEvent(view.get(), &wheel);
  EXPECT_NEAR(view->FramesPerPixel(), whole / WaveView::kZoomStep, 1e-9);
  const QPoint marker(static_cast<int>(view->ColumnOf(1000)), 50);
  QTest::mouseDClick(view.get(), Qt::LeftButton, Qt::NoModifier, marker);
  EXPECT_LT(view->FramesPerPixel(), 1);
  EXPECT_NEAR(view->ColumnOf(1000), kViewWidth / 2, 1);
  EXPECT_EQ(view->accessibleDescription().toStdString().find("2 at frame"), std::string::npos);
  // Never closer than single samples, never wider than the file.
  for (int i = 0; i < 50; ++i) view->ZoomIn();
  EXPECT_DOUBLE_EQ(view->FramesPerPixel(), 1 / WaveView::kMaxPixelsPerFrame);
  for (int i = 0; i < 100; ++i) view->ZoomOut();
  EXPECT_DOUBLE_EQ(view->FramesPerPixel(), whole);
}

TEST_F(LoopViewTest, MarkersAndBoxesMoveEachOtherAndAClickSetsTheFocusedPoint) {
  WithDialog(1, OneClick(kFrames, kClickFrame), [&](CLoopDlg& dialog, WaveView& view) {
    TypeInto(dialog, "Loop point 1", "20000");
    const int column = static_cast<int>(view.ColumnOf(20000));
    EXPECT_EQ(view.grab().toImage().pixelColor(column, view.LanesHeight() / 3), PointColour(0));
    // Dragging the marker 100 columns right.
    QTest::mousePress(&view, Qt::LeftButton, Qt::NoModifier, QPoint(column, 60));
    QTest::mouseMove(&view, QPoint(column + 50, 60));
    QTest::mouseMove(&view, QPoint(column + 100, 60));
    QTest::mouseRelease(&view, Qt::LeftButton, Qt::NoModifier, QPoint(column + 100, 60));
    const std::uint64_t dropped = view.FrameAt(column + 100);
    EXPECT_GT(dropped, 20000u);
    EXPECT_EQ(BoxText(dialog, "Loop point 1"), QString::number(dropped));
    // A click elsewhere with box 3 in focus sets point 3 and leaves point 1 alone.
    FindEdit(dialog, "Loop point 3")->setFocus();
    QTest::mouseClick(&view, Qt::LeftButton, Qt::NoModifier, QPoint(600, 60));
    EXPECT_EQ(BoxText(dialog, "Loop point 3"), QString::number(view.FrameAt(600)));
    EXPECT_EQ(BoxText(dialog, "Loop point 1"), QString::number(dropped));
    EXPECT_TRUE(FindEdit(dialog, "Loop point 3")->hasFocus());
    // Dragging the background scrolls instead of setting anything.
    view.ShowAround(50'000, 10'000);
    const double first = view.FirstFrame();
    QTest::mousePress(&view, Qt::LeftButton, Qt::NoModifier, QPoint(300, 60));
    QTest::mouseMove(&view, QPoint(200, 60));
    QTest::mouseRelease(&view, Qt::LeftButton, Qt::NoModifier, QPoint(200, 60));
    EXPECT_NEAR(view.FirstFrame(), first + 100 * view.FramesPerPixel(), 1);
    EXPECT_EQ(BoxText(dialog, "Loop point 1"), QString::number(dropped));
  });
}

TEST_F(LoopViewTest, TheFactsLineAndTooltipsTellTheFileAndThePointsTimes) {
  const std::string path = Save("tone.wav", WaveOfSamples(2, Sine(88200, 100, 2)));
  CFile file;
  CLoopDlg dialog(file);
  RunModal(dialog, [&] {
    ASSERT_NE(FindLabelStarting(dialog, "No file open"), nullptr);
    m_prompts.AnswerFileDialog(path);
    Click(dialog, "Open File");
    EXPECT_NE(FindLabelStarting(dialog,
                                "tone.wav: 44100 Hz, 2 channels, 88200 frames "
                                "(0:00:02.000), points up to 88200"),
              nullptr);
    TypeInto(dialog, "Loop point 4", "66150");
    EXPECT_EQ(FindEdit(dialog, "Loop point 4")->toolTip(), "0:00:01.500");
    // Every control has a place of its own.
    const QList<QWidget*> controls = dialog.findChildren<QWidget*>(Qt::FindDirectChildrenOnly);
    for (const QWidget* a : controls) {
      for (const QWidget* b : controls) {
        EXPECT_TRUE(a == b || a->isHidden() || b->isHidden() ||
                    !a->geometry().intersects(b->geometry()))
            << a->accessibleName().toStdString() << a->property("text").toString().toStdString()
            << " overlaps " << b->accessibleName().toStdString()
            << b->property("text").toString().toStdString();
      }
    }
    // The window grows; the template's controls stay put and the views take the room.
    const QRect patch = FindButton(dialog, "Patch")->geometry();
    const QWidget* views[] = {FindWaveform(dialog), FindNamed(dialog, "Seam")};
    const QSize before[] = {views[0]->size(), views[1]->size()};
    dialog.resize(dialog.width() + 300, dialog.height() + 100);
    EXPECT_EQ(FindButton(dialog, "Patch")->geometry(), patch);
    EXPECT_NEAR(views[0]->width() + views[1]->width(), before[0].width() + before[1].width() + 300,
                1);
    for (int i : {0, 1}) EXPECT_GT(views[i]->width(), before[i].width() + 50) << i;
    for (int i : {0, 1}) EXPECT_GE(views[i]->height(), before[i].height() + 99) << i;
    ExitDroppingEdits(m_prompts, dialog);
  });
}

// The rows of commands and the views' ruler and readout are measured in the dialog's font, as
// its own controls are: twice the font, about twice their height.
TEST_F(LoopViewTest, TheRowsAndTheViewsFurnitureScaleWithTheFont) {
  WithDialog(1, OneClick(kFrames, kClickFrame), [&](CLoopDlg& dialog, WaveView& view) {
    const auto sizes = [&] {
      return std::pair{FindButton(dialog, "Find loop end")->height(),
                       view.height() - view.LanesHeight()};
    };
    const auto [row, furniture] = sizes();
    QFont larger = dialog.font();
    larger.setPointSizeF(larger.pointSizeF() * 2);
    dialog.setFont(larger);
    const auto [largerRow, largerFurniture] = sizes();
    EXPECT_GT(largerRow, row * 17 / 10);
    EXPECT_GT(largerFurniture, furniture * 15 / 10);
  });
}

TEST_F(LoopViewTest, TheSeamOfAAndBIsJudgedAndSnapAndSearchMoveThePoints) {
  WithDialog(1, Sine(20'000, 100, 1, 20000, 0), [&](CLoopDlg& dialog, WaveView&) {
    // The caption fits, whole, from the narrowest window on.
    QLabel* caption = FindLabelStarting(dialog, "Seam: choose a start A before the end B");
    ASSERT_NE(caption, nullptr);
    for (const int width : {dialog.minimumWidth(), dialog.width()}) {
      dialog.resize(width, dialog.height());
      EXPECT_LE(caption->heightForWidth(caption->width()), caption->height()) << width;
    }
    TypeInto(dialog, "Loop point 1", "1000");
    TypeInto(dialog, "Loop point 2", "5999");
    EXPECT_EQ(caption->text().toStdString(), "Seam: smooth, level 0.0 dB");
    TypeInto(dialog, "Loop point 2", "6024");
    EXPECT_TRUE(FindLabelStarting(dialog, "Seam: click") != nullptr);
    // The search lists what it found; B moves only when one is picked.
    const QStringList found = Search(dialog, "Find loop end");
    ASSERT_FALSE(found.isEmpty());
    EXPECT_TRUE(found[0].contains("): smooth")) << found[0].toStdString();
    EXPECT_EQ(BoxText(dialog, "Loop point 2"), "6024");
    PickFound(dialog, 0);
    EXPECT_EQ((BoxText(dialog, "Loop point 2").toInt() + 1 - 1000) % 100, 0);
    // Z in box 3: the sine rises through zero every 100 frames from frame 0.
    TypeInto(dialog, "Loop point 3", "7030");
    QTest::keyClick(FindEdit(dialog, "Loop point 3"), Qt::Key_Z);
    EXPECT_EQ(BoxText(dialog, "Loop point 3"), "7000");
    // The selectors choose other points: B = 3 ends a seamless loop from 1000 at 6999.
    TypeInto(dialog, "Loop point 3", "6999");
    for (auto* box : dialog.findChildren<QComboBox*>()) {
      if (box->accessibleName() == "Loop end B") box->setCurrentIndex(2);
    }
    EXPECT_TRUE(FindLabelStarting(dialog, "Seam: smooth") != nullptr);
  });
}

// The seam overlaid on the sample grid: the frames up to B and those from A, one dot per frame
// on their played side of the join, the end's continuation past B faint; zoomed from a few
// frames to 50 ms a side.
TEST_F(LoopViewTest, TheSeamViewOverlaysTheLoopsEndAndItsContinuationFromTheStart) {
  constexpr int kWidth = 640, kHeight = 200;
  std::vector<std::int16_t> samples(200, 16000);
  std::fill(samples.begin() + 60, samples.end(), -16000);  // the file goes on low after B = 59
  SeamView seam;
  seam.resize(kWidth, kHeight);
  const auto source = [&samples](int channels) {
    return [&samples, channels](std::uint64_t first, std::uint64_t count) {
      std::vector<std::int16_t> frames;
      for (std::uint64_t f = first; f < std::min<std::uint64_t>(first + count, 200); ++f) {
        for (int c = 0; c < channels; ++c) frames.push_back(c == 0 ? samples[f] : -samples[f]);
      }
      return frames;
    };
  };
  seam.SetSource(source(1), 1, kTestRate, 200);
  seam.SetLoop(std::pair<std::uint64_t, std::uint64_t>{20, 59});
  for (int i = 0; i < 40; ++i) seam.ZoomOut();
  EXPECT_EQ(seam.SideFrames(), kTestRate / 20);  // 50 ms
  for (int i = 0; i < 40; ++i) seam.ZoomIn();
  ASSERT_EQ(seam.SideFrames(), SeamView::kFewestSideFrames);
  QTest::keyClick(&seam, Qt::Key_Minus);
  EXPECT_EQ(seam.SideFrames(), SeamView::kFewestSideFrames + 1);
  QTest::keyClick(&seam, Qt::Key_Plus);
  const QImage image = seam.grab().toImage();
  const int high = LevelRow(image, 5, 75, 0, kHeight);
  const std::vector<int> ends = DotColumns(image, high - 3, high + 3, 4);
  const std::vector<int> starts =
      DotColumns(image, high - 3, high + 3, 4, [](QRgb p) { return qRed(p) - qBlue(p) > 160; });
  const double step = kWidth / 8.0;
  ASSERT_EQ(ends.size(), 4u);
  ASSERT_EQ(starts.size(), 4u);
  for (int k = 0; k < 4; ++k) {
    EXPECT_NEAR(ends[k], (k + 0.5) * step, 3) << "frame " << 56 + k;
    EXPECT_NEAR(starts[k], (k + 4.5) * step, 3) << "frame " << 20 + k;
  }
  // The file past B: faint, low, right of the join only.
  const auto tinted = [&](int y, int x0, int x1) {
    int count = 0;
    for (int x = x0; x < x1; ++x) count += image.pixelColor(x, y).lightness() < 250;
    return count;
  };
  int low = high + 10;
  for (int y = low; y < kHeight * 3 / 4; ++y) {
    if (tinted(y, kWidth / 2 + 10, kWidth - 10) > tinted(low, kWidth / 2 + 10, kWidth - 10))
      low = y;
  }
  EXPECT_GT(low, high + 60);
  EXPECT_GT(tinted(low, kWidth / 2 + 10, kWidth - 10), kWidth / 4);
  EXPECT_EQ(tinted(low, 10, kWidth / 2 - 10), 0);
  EXPECT_EQ(image.pixelColor(kWidth / 2, 2), QColor(0xc0, 0x40, 0x40));  // the join
  // Stereo: a lane per channel, the second one's end below its middle.
  seam.SetSource(source(2), 2, kTestRate, 200);
  const QImage lanes = seam.grab().toImage();
  EXPECT_LT(LevelRow(lanes, 5, 75, 0, kHeight / 2), kHeight / 4);
  EXPECT_GT(LevelRow(lanes, 5, 75, kHeight / 2, kHeight - 20), kHeight / 2 + 20);
  seam.SetLoop(std::nullopt);
  EXPECT_EQ(DotColumns(seam.grab().toImage(), 0, kHeight - 20, 1).size(), 0u);
}

// The searches list their best five over the region chosen, each with its score; picking one
// sets the point and the seam shows it. A region without a smooth join says so.
TEST_F(LoopViewTest, TheSearchesListTheirBestInTheChosenRegionAndPickingOneSetsThePoint) {
  constexpr int kA = 30'000, kB = 70'000, kEnd = kB + 20'000;
  std::vector<std::int16_t> music = MusicLike(132'300, 5);
  PlantSeamlessJoin(music, kA, kEnd + 1, 1'100);
  struct Case {
    const char* button;
    int a, b, region;
    const char* box;
    const char* outcome;
    int best;  // the frame listed first, or -1: none smooth
  };
  const Case cases[] = {
      {"Find loop end", kA, kB, 0, "Loop point 2", "Best loop ends; pick one for B", kEnd},
      {"Find loop start", kA + 1234, kEnd, 0, "Loop point 1", "Best loop starts; pick one for A",
       kA},
      {"Find loop end", kA, kB, 3, "Loop point 2", "no smooth end in this region", -1}};
  WithDialog(2, music, [&](CLoopDlg& dialog, WaveView&) {
    auto* seam = dynamic_cast<SeamView*>(FindNamed(dialog, "Seam"));
    auto* region = dynamic_cast<QComboBox*>(FindNamed(dialog, "Search region"));
    ASSERT_TRUE(seam != nullptr && region != nullptr);
    TypeInto(dialog, "Loop point 3", "100000");
    TypeInto(dialog, "Loop point 4", "120000");
    for (const Case& c : cases) {
      TypeInto(dialog, "Loop point 1", QString::number(c.a));
      TypeInto(dialog, "Loop point 2", QString::number(c.b));
      region->setCurrentIndex(c.region);
      const QStringList found = Search(dialog, c.button);
      EXPECT_EQ(FindNamed(dialog, "Search outcome")->property("text").toString(), c.outcome);
      ASSERT_FALSE(found.isEmpty());
      EXPECT_LE(found.size(), 5);
      for (const QString& line : found) {
        EXPECT_TRUE(line.contains(" dB")) << line.toStdString();
        const int frame = line.section(' ', 0, 0).toInt();
        if (c.best < 0) {
          EXPECT_TRUE(frame >= 100'000 && frame <= 120'000) << frame;
        }
      }
      if (c.best < 0) continue;
      EXPECT_EQ(found[0].section(' ', 0, 0).toInt(), c.best);
      PickFound(dialog, 0);
      EXPECT_EQ(BoxText(dialog, c.box), QString::number(c.best));
      EXPECT_EQ(seam->Loop(), (std::pair<std::uint64_t, std::uint64_t>{kA, kEnd}));
    }
    // A list found for one A is dropped once A moves.
    EXPECT_FALSE(Search(dialog, "Find loop end").isEmpty());
    TypeInto(dialog, "Loop point 1", "31000");
    EXPECT_TRUE(FindNamed(dialog, "Found loop points")->isHidden());
  });
}

// A long search leaves the window answering, and its button or Esc cancels it.
TEST_F(LoopViewTest, ALongSearchKeepsTheWindowAnsweringAndStopsWhenCancelled) {
  WithDialog(2, MusicLike(90 * kTestRate, 7), [&](CLoopDlg& dialog, WaveView&) {
    TypeInto(dialog, "Loop point 1", "1000");
    for (const bool byEsc : {false, true}) {
      Click(dialog, "Find loop end");
      ASSERT_NE(FindButton(dialog, "Cancel search"), nullptr);
      EXPECT_FALSE(FindButton(dialog, "Find loop start")->isEnabled());
      // The progress moves on while the window's own loop runs.
      const auto outcome = [&] {
        return FindNamed(dialog, "Search outcome")->property("text").toString();
      };
      const QString first = outcome();
      EXPECT_TRUE(first.startsWith("Searching for a loop end: ")) << first.toStdString();
      EXPECT_TRUE(QTest::qWaitFor([&] { return outcome() != first; }, kFillWaitMs));
      EXPECT_TRUE(outcome().startsWith("Searching")) << outcome().toStdString();
      if (byEsc) {
        QTest::keyClick(&dialog, Qt::Key_Escape);
      } else {
        Click(dialog, "Cancel search");
      }
      EXPECT_TRUE(QTest::qWaitFor([&] { return FindButton(dialog, "Find loop end") != nullptr; },
                                  kFillWaitMs));
      EXPECT_EQ(outcome(), "Search cancelled");
      EXPECT_TRUE(dialog.isVisible());
    }
  });
}

// Z snaps the point in focus; with the focus on a selector or a button, the point whose box
// had it last, or whose marker was dragged last.
TEST_F(LoopViewTest, ZSnapsThePointLastWorkedOnWhereverTheFocusIs) {
  WithDialog(1, Sine(20'000, 100, 1, 20000, 0), [&](CLoopDlg& dialog, WaveView& view) {
    TypeInto(dialog, "Loop point 1", "1000");
    TypeInto(dialog, "Loop point 2", "4030");
    QComboBox* selector = nullptr;
    for (auto* box : dialog.findChildren<QComboBox*>()) {
      if (box->accessibleName() == "Loop end B") selector = box;
    }
    ASSERT_NE(selector, nullptr);
    selector->setFocus(Qt::TabFocusReason);
    QTest::keyClick(selector, Qt::Key_Z);
    EXPECT_EQ(BoxText(dialog, "Loop point 2"), "4000");
    EXPECT_EQ(BoxText(dialog, "Loop point 1"), "1000");
    EXPECT_EQ(selector->currentIndex(), 1);  // the key went to the command, not the list
    // Drag marker 1 a little, then Z on the Patch button.
    view.ShowAround(1000, 400);
    const int column = static_cast<int>(view.ColumnOf(1000));
    QTest::mousePress(&view, Qt::LeftButton, Qt::NoModifier, QPoint(column, 60));
    QTest::mouseMove(&view, QPoint(column + 20, 60));
    QTest::mouseMove(&view, QPoint(column + 40, 60));
    QTest::mouseRelease(&view, Qt::LeftButton, Qt::NoModifier, QPoint(column + 40, 60));
    ASSERT_NE(BoxText(dialog, "Loop point 1"), "1000");
    QWidget* patch = FindButton(dialog, "Patch");
    patch->setFocus(Qt::TabFocusReason);
    QTest::keyClick(patch, Qt::Key_Z);
    EXPECT_EQ(BoxText(dialog, "Loop point 1").toInt() % 100, 0);
    EXPECT_EQ(BoxText(dialog, "Loop point 2"), "4000");
  });
}

// The overview of a 4 GiB file reads 4 GiB: the window answers all the while, shows what is
// known so far, and holds only the fixed-size overview.
TEST_F(LoopViewTest, AFourGibibyteFileFillsInWithoutBlockingAndInLittleMemory) {
  Bytes header = WaveOfSamples(2, {});
  PutLe32(&header[kDataSizeOffset], UINT32_MAX - 64);
  const std::string path = Save("huge.wav", header);
  ASSERT_EQ(::truncate(path.c_str(), static_cast<off_t>(std::uint64_t{1} << 32)), 0);
  rusage before{};
  getrusage(RUSAGE_SELF, &before);
  CFile file;
  CLoopDlg dialog(file);
  RunModal(dialog, [&] {
    m_prompts.AnswerFileDialog(path);
    QElapsedTimer clock;
    clock.start();
    Click(dialog, "Open File");
    WaveView* view = FindWaveform(dialog);
    ASSERT_NE(view, nullptr);
    ASSERT_NE(view->Overview(), nullptr);
    EXPECT_FALSE(view->Overview()->Complete());  // Open came back before the overview was done
    int ticks = 0;
    QTimer tick;
    QObject::connect(&tick, &QTimer::timeout, [&] { ++ticks; });
    tick.start(1);
    WaitForOverview(*view);
    EXPECT_GT(ticks, 3);  // the event loop kept running while the file was read
    EXPECT_EQ(view->Overview()->Frames(), (UINT32_MAX - 64) / 4);
    Click(dialog, "Exit");
  });
  rusage after{};
  getrusage(RUSAGE_SELF, &after);
  EXPECT_LT(after.ru_maxrss - before.ru_maxrss, 64 * 1024) << "kilobytes";
}

}  // namespace
