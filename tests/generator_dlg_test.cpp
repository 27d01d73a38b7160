// vrellok's generator dialog, run headless with the real widgets and reached as a person reaches
// them, by the words on the buttons and the names of the boxes: what a fresh start shows, what
// Generate writes from what was typed and clicked, what each bad entry draws, in order, and the
// progress window of a long run.
#include <QApplication>
#include <QGroupBox>
#include <QLabel>
#include <QProgressBar>
#include <QRadioButton>
#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "gui_support.h"
#include "paced_progress.h"
#include "resources/vrellok_rc.h"
#include "scratch_dir.h"
#include "screenshot.h"
#include "timecode/generator_app.h"
#include "timecode/generator_dlg.h"
#include "verify/signal/dtmf_detector.h"
#include "wave/wave_header.h"

namespace {

namespace fs = std::filesystem;

constexpr char kOutput[] = "TC.wav";
constexpr char kSlowBank[] = "dtmf36.bin";
constexpr char kFastBank[] = "dtmf44.bin";
constexpr char kCreated[] = "TC.wav Created";
const std::string kLengthPrompt = IntegerRangePrompt(100000, 245735424);
const std::string kDtmfIdPrompt = IntegerRangePrompt(1, 10);

// What the user reads on the dialog.
constexpr char kTypeS[] = "DTMF-S timecode (SR=36015)";
constexpr char kTypeF[] = "DTMF-F timecode (SR=44100)";
constexpr char kMethod1[] = "Method 1";
constexpr char kMethod2[] = "Method 2";
constexpr char kLengthBox[] = "Sample Length";
constexpr char kIdBox[] = "DTMF ID#";

constexpr std::uintmax_t kDefaultFileBytes = 2000044;  // 44-byte header and 1,000,000 samples
std::uint32_t SampleRateOf(const char* path) {
  WaveHeader header{};
  std::ifstream(path, std::ios::binary).read(reinterpret_cast<char*>(header.data()), header.size());
  return GetLe32(header.data() + kSampleRateOffset);
}

std::vector<int> FirstSymbols(const char* path, std::size_t count) {
  std::vector<int> symbols = dtmf::DecodeKeys(path);
  symbols.resize(std::min(count, symbols.size()));
  return symbols;
}

// Each test works in its own folder, as the program works in the folder it was started in.
class GeneratorDlgTest : public testing::Test {
 protected:
  void SetUp() override {
    AfxSetResources(VrellokResources());
    m_previousFolder = fs::current_path();
    fs::current_path(m_scratch.Path());
  }
  void TearDown() override { fs::current_path(m_previousFolder); }

  static void CopyBank(const char* name) { fs::copy_file(fs::path(TONE_BANK_DIR) / name, name); }
  static void CopyBothBanks() {
    CopyBank(kSlowBank);
    CopyBank(kFastBank);
  }

  // A fresh dialog with script run inside its modal loop; Cancel closes it afterwards.
  static void WithDialog(const std::function<void(CGeneratorDlg&)>& script) {
    CGeneratorDlg dialog;
    RunModal(dialog, [&] {
      script(dialog);
      Click(dialog, "Cancel");
    });
  }

  // Clicks Generate and returns the message boxes it showed.
  Messages Generate(CGeneratorDlg& dialog) {
    return MessagesOfClick(m_prompts, dialog, "Generate");
  }

  ScratchDir m_scratch;
  PromptRecorder m_prompts;
  fs::path m_previousFolder;
};

bool IsChecked(const CDialog& dialog, const char* text) {
  const QAbstractButton* button = FindButton(dialog, text);
  if (button == nullptr) ADD_FAILURE() << "no button \"" << text << '"';
  return button != nullptr && button->isChecked();
}

QWidget* Box(const CDialog& dialog, const char* name) {
  return FindEdit(dialog, name);
}

TEST_F(GeneratorDlgTest, AFreshStartShowsTheDefaultsAndGenerateWritesTheDefaultFile) {
  CopyBothBanks();
  WithDialog([&](CGeneratorDlg& dialog) {
    EXPECT_EQ(dialog.windowTitle(), "Quorvane");
    EXPECT_EQ(BoxText(dialog, kLengthBox), "1000000");
    EXPECT_EQ(BoxText(dialog, kIdBox), "1");
    EXPECT_TRUE(IsChecked(dialog, kTypeF));
    EXPECT_FALSE(IsChecked(dialog, kTypeS));
    EXPECT_TRUE(IsChecked(dialog, kMethod2));
    EXPECT_FALSE(IsChecked(dialog, kMethod1));
    // The busy cursor is for the writing; the user reads the result with the usual one.
    m_prompts.onMessage = [](const std::string&) {
      EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    };
    EXPECT_EQ(Generate(dialog), Messages{kCreated});
    // Success is news, not a warning.
    EXPECT_EQ(m_prompts.icons, std::vector<MessageIcon>{MessageIcon::information});
    EXPECT_TRUE(dialog.isVisible()) << "the dialog stays open for the next run";
  });
  EXPECT_EQ(fs::file_size(kOutput), kDefaultFileBytes);
  EXPECT_EQ(SampleRateOf(kOutput), 44100u);
  // Method 2 starts frame 1 with symbol 13; with DTMF ID 1 its check symbol is 9.
  EXPECT_EQ(FirstSymbols(kOutput, 6), (std::vector<int>{13, 10, 10, 10, 1, 9}));
}

TEST_F(GeneratorDlgTest, ClickedAndTypedSettingsReachTheFileAndReplaceTheLastOne) {
  CopyBothBanks();
  WithDialog([&](CGeneratorDlg& dialog) {
    ASSERT_EQ(Generate(dialog), Messages{kCreated});
    // DTMF-S is the first button of its group although it is drawn below DTMF-F.
    EXPECT_GT(FindButton(dialog, kTypeS)->y(), FindButton(dialog, kTypeF)->y());
    Click(dialog, kTypeS);
    Click(dialog, kMethod1);
    EXPECT_FALSE(IsChecked(dialog, kTypeF));
    EXPECT_FALSE(IsChecked(dialog, kMethod2));
    EXPECT_EQ(Generate(dialog), Messages{kCreated});
    EXPECT_EQ(SampleRateOf(kOutput), 36015u);
    EXPECT_EQ(fs::file_size(kOutput), kDefaultFileBytes);
    // Method 1: symbol 11 opens frame 1 and 13 stands in its thousands place.
    EXPECT_EQ(FirstSymbols(kOutput, 6), (std::vector<int>{11, 13, 10, 10, 1, 9}));

    TypeInto(dialog, kLengthBox, "100000");
    TypeInto(dialog, kIdBox, "10");
    EXPECT_EQ(Generate(dialog), Messages{kCreated});
    EXPECT_EQ(fs::file_size(kOutput), 200044u);
    // DTMF ID 10 moves frame 1's check symbol from 9 to 8.
    EXPECT_EQ(FirstSymbols(kOutput, 6), (std::vector<int>{11, 13, 10, 10, 1, 8}));
  });
}

// An entry out of range draws the exchange's prompt and then the operation's own refusal.
TEST_F(GeneratorDlgTest, OutOfRangeEntriesDrawThePromptAndThenTheRefusalAndWriteNothing) {
  CopyBothBanks();
  WithDialog([&](CGeneratorDlg& dialog) {
    TypeInto(dialog, kLengthBox, "50000");
    EXPECT_EQ(Generate(dialog), (Messages{kLengthPrompt, "ERROR-> out of range"}));
    // Both wrong: the exchange stops at the length, and so does the operation.
    TypeInto(dialog, kIdBox, "0");
    EXPECT_EQ(Generate(dialog), (Messages{kLengthPrompt, "ERROR-> out of range"}));

    TypeInto(dialog, kLengthBox, "1000000");
    for (const char* id : {"0", "11"}) {
      TypeInto(dialog, kIdBox, id);
      EXPECT_EQ(Generate(dialog), (Messages{kDtmfIdPrompt, "DTMF ID#-> out of range"})) << id;
    }
  });
  EXPECT_FALSE(fs::exists(kOutput));
}

// A box without an integer leaves its setting as it was; nothing may be written from that.
TEST_F(GeneratorDlgTest, AnEntryThatIsNoIntegerDrawsOnlyThePromptAndWritesNothing) {
  CopyBothBanks();
  WithDialog([&](CGeneratorDlg& dialog) {
    for (const char* text : {"", "12ab", "99999999999"}) {
      TypeInto(dialog, kLengthBox, text);
      EXPECT_EQ(Generate(dialog), Messages{kNotAnInteger}) << '"' << text << '"';
      EXPECT_EQ(QApplication::focusWidget(), Box(dialog, kLengthBox));
    }
    TypeInto(dialog, kLengthBox, "100000");
    TypeInto(dialog, kIdBox, "x");
    EXPECT_EQ(Generate(dialog), Messages{kNotAnInteger});
  });
  EXPECT_FALSE(fs::exists(kOutput));
}

TEST_F(GeneratorDlgTest, AMissingBankIsReportedFirstAndLeavesTheOldFileAlone) {
  const Bytes previous = {'o', 'l', 'd'};
  WriteBytes(kOutput, previous);
  WithDialog([&](CGeneratorDlg& dialog) {
    EXPECT_EQ(Generate(dialog), Messages{"ERROR-> DTMF44.bin not found"});
    // The bank is looked for before the range checks.
    TypeInto(dialog, kLengthBox, "50000");
    EXPECT_EQ(Generate(dialog), (Messages{kLengthPrompt, "ERROR-> DTMF44.bin not found"}));
    TypeInto(dialog, kLengthBox, "1000000");
    CopyBank(kFastBank);
    Click(dialog, kTypeS);
    EXPECT_EQ(Generate(dialog), Messages{"ERROR-> DTMF36.bin not found"});
  });
  EXPECT_EQ(ReadBytes(kOutput), previous);
}

// Each pair of choices is drawn inside the box that names it.
TEST_F(GeneratorDlgTest, EachGroupBoxNamesAndFramesItsChoices) {
  WithDialog([&](CGeneratorDlg& dialog) {
    const auto placeOf = [&dialog](const QWidget* widget) {
      return QRect(widget->mapTo(&dialog, QPoint(0, 0)), widget->size());
    };
    std::map<QString, QRect> boxes;
    for (const auto* group : dialog.findChildren<QGroupBox*>()) {
      boxes[group->title()] = placeOf(group);
    }
    const std::map<QString, std::vector<const char*>> framed = {{"Timecode Type", {kTypeS, kTypeF}},
                                                                {"Method", {kMethod1, kMethod2}}};
    for (const auto& [title, choices] : framed) {
      ASSERT_EQ(boxes.count(title), 1u) << "no group box \"" << title.toStdString() << '"';
      for (const char* choice : choices) {
        const QAbstractButton* button = FindButton(dialog, choice);
        ASSERT_NE(button, nullptr) << choice;
        EXPECT_TRUE(boxes[title].contains(placeOf(button))) << choice;
      }
    }
  });
}

TEST_F(GeneratorDlgTest, OkClosesOnlyOnValidEntriesAndCancelAlwaysCloses) {
  CGeneratorDlg dialog;
  const int okResult = RunModal(dialog, [&] {
    TypeInto(dialog, kIdBox, "11");
    Click(dialog, "OK");
    EXPECT_EQ(m_prompts.messages, Messages{kDtmfIdPrompt});
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_EQ(QApplication::focusWidget(), Box(dialog, kIdBox));
    TypeInto(dialog, kIdBox, "10");
    Click(dialog, "OK");
  });
  EXPECT_EQ(okResult, IDOK);

  m_prompts.messages.clear();
  CGeneratorDlg cancelled;
  const int cancelResult = RunModal(cancelled, [&] {
    TypeInto(cancelled, kLengthBox, "nonsense");
    Click(cancelled, "Cancel");
  });
  EXPECT_EQ(cancelResult, IDCANCEL);
  EXPECT_TRUE(m_prompts.messages.empty()) << "Cancel checks nothing";
  EXPECT_FALSE(fs::exists(kOutput));
}

TEST_F(GeneratorDlgTest, StartUpRunsTheDialogWithItsAboutBoxAndEndsWhenItCloses) {
  CGeneratorApp app;
  bool initResult = true;
  QString aboutCaption;
  RunInsideModal([&] { initResult = app.InitInstance(); },
                 [&] {
                   auto* main = dynamic_cast<CGeneratorDlg*>(QApplication::activeModalWidget());
                   ASSERT_NE(main, nullptr);
                   EXPECT_EQ(app.m_pMainWnd, main);
                   WhenNextModalOpens([&](QWidget* box) {
                     aboutCaption = box->windowTitle();
                     qobject_cast<QDialog*>(box)->done(IDOK);
                   });
                   main->SendSysCommand(IDM_ABOUTBOX);
                   EXPECT_TRUE(main->isVisible());
                   Click(*main, "Cancel");
                 });
  EXPECT_EQ(aboutCaption, "About vrellok");
  EXPECT_FALSE(initResult);
  EXPECT_EQ(QApplication::activeModalWidget(), nullptr) << "the program ends with its dialog";
}

// A run made long by pausing after every batch and flush step, as a slow disk would: about two
// seconds for the 2 MB of the default file, without writing anything big. The pause is the
// test dialog's pace, called on the working thread.
class SlowDisk {
 public:
  std::function<void()> Pace() {
    return [this] {
      ++batches;
      std::this_thread::sleep_for(kBatchPause);
    };
  }

  std::atomic<int> batches{0};

 private:
  static constexpr std::chrono::milliseconds kBatchPause{300};
};

// The dialog as the program builds it, with every run paced: pace is called on the working
// thread after each batch and flush step.
class PacedGeneratorDlg : public CGeneratorDlg {
 public:
  explicit PacedGeneratorDlg(std::function<void()> pace) : m_pace(std::move(pace)) {}

 protected:
  GenerateOutcome RunGenerator(TimecodeGenerator& generator, const TimecodeSettings& settings,
                               GenerateProgress& progress) const override {
    PacedProgress paced(progress, m_pace);
    return CGeneratorDlg::RunGenerator(generator, settings, paced);
  }

 private:
  std::function<void()> m_pace;
};

// Counts the paint events a window receives.
class PaintCounter : public QObject {
 public:
  int paints = 0;
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == QEvent::Paint) ++paints;
    return false;
  }
};

std::set<std::string> FolderEntries() {
  std::set<std::string> names;
  for (const auto& entry : fs::directory_iterator(".")) {
    names.insert(entry.path().filename().string());
  }
  return names;
}

// Both banks and an earlier TC.wav holding previous: what a stopped run must leave as it was.
std::set<std::string> FolderWithOldOutput(const Bytes& previous) {
  for (const char* bank : {kSlowBank, kFastBank}) {
    fs::copy_file(fs::path(TONE_BANK_DIR) / bank, bank);
  }
  WriteBytes(kOutput, previous);
  return FolderEntries();
}

TEST_F(GeneratorDlgTest, ALongRunShowsProgressKeepsPaintingAndCancelLeavesEverythingAsItWas) {
  const Bytes previous = {'o', 'l', 'd'};
  const std::set<std::string> before = FolderWithOldOutput(previous);
  SlowDisk disk;
  PacedGeneratorDlg dialog(disk.Pace());
  bool shown = false;
  int batchesAtCancel = 0;
  PaintCounter counter;
  RunModal(dialog, [&] {
    WhenNextModalOpens([&](QWidget* window) {
      shown = true;
      EXPECT_EQ(window->windowTitle(), "Quorvane");
      const auto* bar = window->findChild<QProgressBar*>();
      ASSERT_NE(bar, nullptr);
      EXPECT_GE(bar->value(), 0);
      EXPECT_LT(bar->value(), 100) << "the run is not over yet";
      const auto* label = window->findChild<QLabel*>();
      ASSERT_NE(label, nullptr);
      EXPECT_EQ(label->text(), "Writing TC.wav...");
      // The main window still paints while the file is written.
      dialog.installEventFilter(&counter);
      dialog.update();
      QTest::qWait(100);
      dialog.removeEventFilter(&counter);
      batchesAtCancel = disk.batches;
      Click(*window, "Cancel");
    });
    EXPECT_EQ(Generate(dialog), Messages{}) << "a cancel has nothing to report";
    Click(dialog, "Cancel");
  });
  EXPECT_TRUE(shown) << "no progress window";
  EXPECT_GT(counter.paints, 0) << "the dialog did not paint during the run";
  // The batch under way when Cancel was pressed is the last one.
  EXPECT_LE(disk.batches - batchesAtCancel, 1);
  EXPECT_EQ(ReadBytes(kOutput), previous);
  EXPECT_EQ(FolderEntries(), before);
}

TEST_F(GeneratorDlgTest, ALongRunThatGoesOnShowsPercentThenFlushingAndEndsAsUsual) {
  CopyBothBanks();
  SlowDisk disk;
  PacedGeneratorDlg dialog(disk.Pace());
  bool shown = false;
  std::vector<QString> labels;
  std::vector<int> percents;
  RunModal(dialog, [&] {
    WhenNextModalOpens([&](QWidget* window) {
      shown = true;
      // Watched until the run ends and takes the window, and this timer, with it.
      auto* watch = new QTimer(window);
      QObject::connect(watch, &QTimer::timeout, [&, window] {
        const QString label = window->findChild<QLabel*>()->text();
        const int percent = window->findChild<QProgressBar*>()->value();
        if (labels.empty() || labels.back() != label) labels.push_back(label);
        if (percents.empty() || percents.back() != percent) percents.push_back(percent);
      });
      watch->start(kModalPollMs);
    });
    EXPECT_EQ(Generate(dialog), Messages{kCreated});
    EXPECT_EQ(QApplication::activeModalWidget(), &dialog) << "the progress window is gone";
    Click(dialog, "Cancel");
  });
  EXPECT_TRUE(shown) << "no progress window";
  EXPECT_EQ(labels, (std::vector<QString>{"Writing TC.wav...", "Flushing TC.wav to the disk..."}));
  EXPECT_TRUE(std::is_sorted(percents.begin(), percents.end()));
  EXPECT_GE(percents.size(), 2u) << "the percentage moves";
  EXPECT_EQ(percents.back(), 100);
  EXPECT_EQ(fs::file_size(kOutput), kDefaultFileBytes);
  EXPECT_EQ(FirstSymbols(kOutput, 6), (std::vector<int>{13, 10, 10, 10, 1, 9}));
}

// The application told to quit in the middle of a long run (QCoreApplication::exit) makes every
// event loop return at once: the run is cancelled and waited for, not spun on until it ends.
TEST_F(GeneratorDlgTest, QuittingDuringALongRunCancelsItAndLeavesTheOldFile) {
  const Bytes previous = {'o', 'l', 'd'};
  const std::set<std::string> before = FolderWithOldOutput(previous);
  SlowDisk disk;
  PacedGeneratorDlg dialog(disk.Pace());
  bool shown = false;
  Messages messages;
  RunModal(dialog, [&] {
    WhenNextModalOpens([&](QWidget*) {
      shown = true;
      QCoreApplication::exit(0);
    });
    messages = Generate(dialog);
    Click(dialog, "Cancel");
  });
  // Runs the application's loop once, which starts by forgetting the quit, for the tests after.
  QTimer::singleShot(0, [] { QCoreApplication::exit(0); });
  QCoreApplication::exec();

  EXPECT_TRUE(shown) << "no progress window";
  EXPECT_EQ(messages, Messages{}) << "the run went on to the end";
  EXPECT_EQ(ReadBytes(kOutput), previous);
  EXPECT_EQ(FolderEntries(), before);
}

// With SCREENSHOT_DIR set, saves the generator dialog as a fresh start shows it.
TEST(Screenshot, GeneratorDialog) {
  const std::optional<QString> folder = ScreenshotDir();
  if (!folder) GTEST_SKIP() << "SCREENSHOT_DIR not set";
  AfxSetResources(VrellokResources());
  CGeneratorDlg dialog;
  RunModal(dialog, [&] {
    const QString path = *folder + "/generator.png";
    EXPECT_TRUE(WithCaption(dialog).save(path)) << path.toStdString();
    Click(dialog, "Cancel");
  });
}

}  // namespace
