// loop's seam and loop search, run headless with the real widgets: the verdict and the caption,
// the overlaid seam view and its zoom, the searches' lists over the chosen region, and a long
// search cancelled while the window keeps answering.
#include <QComboBox>

#include "looppatch/seam_view.h"
#include "tests/loop_view_support.h"

namespace {

using LoopSeamViewTest = LoopViewTest;

TEST_F(LoopSeamViewTest, TheSeamOfAAndBIsJudgedAndSnapAndSearchMoveThePoints) {
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
TEST_F(LoopSeamViewTest, TheSeamViewOverlaysTheLoopsEndAndItsContinuationFromTheStart) {
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
TEST_F(LoopSeamViewTest, TheSearchesListTheirBestInTheChosenRegionAndPickingOneSetsThePoint) {
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
TEST_F(LoopSeamViewTest, ALongSearchKeepsTheWindowAnsweringAndStopsWhenCancelled) {
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

}  // namespace
