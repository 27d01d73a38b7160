// loop's waveform, run headless with the real widgets: where the view draws samples, markers,
// shades, own points, the ruler and the readout at several zoom levels; markers and boxes
// moving each other; the facts line and tooltips; sizes from the font; Z; and a 4 GiB file
// whose overview fills in while the window keeps answering.
#include <sys/resource.h>
#include <unistd.h>

#include <QComboBox>
#include <QWheelEvent>

#include "looppatch/time_ruler.h"
#include "tests/loop_view_support.h"

namespace {

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
