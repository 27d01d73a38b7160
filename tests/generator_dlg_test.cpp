// vrellok's generator dialog, run headless with the real widgets: what a fresh start shows, what
// Generate writes from what was typed and clicked, and what each bad entry draws, in order.
#include <QApplication>
#include <QGroupBox>
#include <QRadioButton>
#include <array>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "gui_support.h"
#include "resources/vrellok_rc.h"
#include "scratch_dir.h"
#include "screenshot.h"
#include "timecode/generator_app.h"
#include "timecode/generator_dlg.h"
#include "verify/dtmf_detector.h"

namespace {

namespace fs = std::filesystem;
using Messages = std::vector<std::string>;

constexpr char kOutput[] = "TC.wav";
constexpr char kSlowBank[] = "dtmf36.bin";
constexpr char kFastBank[] = "dtmf44.bin";
constexpr char kCreated[] = "TC.wav Created";
constexpr char kNotAnInteger[] = "Please enter an integer.";
constexpr char kLengthPrompt[] = "Please enter an integer between 100000 and 245735424.";
constexpr char kDtmfIdPrompt[] = "Please enter an integer between 1 and 10.";

constexpr std::uintmax_t kDefaultFileBytes = 2000044;  // 44-byte header and 1,000,000 samples
constexpr std::size_t kWaveHeaderBytes = 44;
constexpr std::size_t kSampleRateOffset = 24;

std::uint32_t SampleRateOf(const char* path) {
  std::array<std::uint8_t, kWaveHeaderBytes> header{};
  std::ifstream(path, std::ios::binary).read(reinterpret_cast<char*>(header.data()), header.size());
  const std::uint8_t* rate = header.data() + kSampleRateOffset;
  return rate[0] | rate[1] << 8 | rate[2] << 16 | static_cast<std::uint32_t>(rate[3]) << 24;
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
      ClickItem(dialog, IDCANCEL);
    });
  }

  // Clicks Generate and returns the message boxes it showed.
  Messages Generate(CGeneratorDlg& dialog) {
    m_prompts.messages.clear();
    ClickItem(dialog, IDC_GENERATE);
    return m_prompts.messages;
  }

  ScratchDir m_scratch;
  PromptRecorder m_prompts;
  fs::path m_previousFolder;
};

bool IsChecked(const CDialog& dialog, int id) {
  return ButtonOf(dialog, id)->isChecked();
}

TEST_F(GeneratorDlgTest, AFreshStartShowsTheDefaultsAndGenerateWritesTheDefaultFile) {
  CopyBothBanks();
  WithDialog([&](CGeneratorDlg& dialog) {
    EXPECT_EQ(dialog.windowTitle(), "Quorvane");
    EXPECT_EQ(ItemText(dialog, IDC_SAMPLE_LENGTH), "1000000");
    EXPECT_EQ(ItemText(dialog, IDC_DTMF_ID), "1");
    EXPECT_TRUE(IsChecked(dialog, IDC_TYPE_F));
    EXPECT_FALSE(IsChecked(dialog, IDC_TYPE_S));
    EXPECT_TRUE(IsChecked(dialog, IDC_METHOD_2));
    EXPECT_FALSE(IsChecked(dialog, IDC_METHOD_1));
    // The busy cursor is for the writing; the user reads the result with the usual one.
    m_prompts.onMessage = [](const std::string&) {
      EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    };
    EXPECT_EQ(Generate(dialog), Messages{kCreated});
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
    EXPECT_GT(dialog.GetDlgItem(IDC_TYPE_S)->y(), dialog.GetDlgItem(IDC_TYPE_F)->y());
    ClickItem(dialog, IDC_TYPE_S);
    ClickItem(dialog, IDC_METHOD_1);
    EXPECT_FALSE(IsChecked(dialog, IDC_TYPE_F));
    EXPECT_FALSE(IsChecked(dialog, IDC_METHOD_2));
    EXPECT_EQ(Generate(dialog), Messages{kCreated});
    EXPECT_EQ(SampleRateOf(kOutput), 36015u);
    EXPECT_EQ(fs::file_size(kOutput), kDefaultFileBytes);
    // Method 1: symbol 11 opens frame 1 and 13 stands in its thousands place.
    EXPECT_EQ(FirstSymbols(kOutput, 6), (std::vector<int>{11, 13, 10, 10, 1, 9}));

    TypeInto(dialog, IDC_SAMPLE_LENGTH, "100000");
    TypeInto(dialog, IDC_DTMF_ID, "10");
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
    TypeInto(dialog, IDC_SAMPLE_LENGTH, "50000");
    EXPECT_EQ(Generate(dialog), (Messages{kLengthPrompt, "ERROR-> out of range"}));
    // Both wrong: the exchange stops at the length, and so does the operation.
    TypeInto(dialog, IDC_DTMF_ID, "0");
    EXPECT_EQ(Generate(dialog), (Messages{kLengthPrompt, "ERROR-> out of range"}));

    TypeInto(dialog, IDC_SAMPLE_LENGTH, "1000000");
    for (const char* id : {"0", "11"}) {
      TypeInto(dialog, IDC_DTMF_ID, id);
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
      TypeInto(dialog, IDC_SAMPLE_LENGTH, text);
      EXPECT_EQ(Generate(dialog), Messages{kNotAnInteger}) << '"' << text << '"';
      EXPECT_EQ(QApplication::focusWidget(), dialog.GetDlgItem(IDC_SAMPLE_LENGTH));
    }
    TypeInto(dialog, IDC_SAMPLE_LENGTH, "100000");
    TypeInto(dialog, IDC_DTMF_ID, "x");
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
    TypeInto(dialog, IDC_SAMPLE_LENGTH, "50000");
    EXPECT_EQ(Generate(dialog), (Messages{kLengthPrompt, "ERROR-> DTMF44.bin not found"}));
    TypeInto(dialog, IDC_SAMPLE_LENGTH, "1000000");
    CopyBank(kFastBank);
    ClickItem(dialog, IDC_TYPE_S);
    EXPECT_EQ(Generate(dialog), Messages{"ERROR-> DTMF36.bin not found"});
  });
  EXPECT_EQ(ReadBytes(kOutput), previous);
}

TEST_F(GeneratorDlgTest, OkClosesOnlyOnValidEntriesAndCancelAlwaysCloses) {
  CGeneratorDlg dialog;
  const int okResult = RunModal(dialog, [&] {
    TypeInto(dialog, IDC_DTMF_ID, "11");
    ClickItem(dialog, IDOK);
    EXPECT_EQ(m_prompts.messages, Messages{kDtmfIdPrompt});
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_EQ(QApplication::focusWidget(), dialog.GetDlgItem(IDC_DTMF_ID));
    TypeInto(dialog, IDC_DTMF_ID, "10");
    ClickItem(dialog, IDOK);
  });
  EXPECT_EQ(okResult, IDOK);

  m_prompts.messages.clear();
  CGeneratorDlg cancelled;
  const int cancelResult = RunModal(cancelled, [&] {
    TypeInto(cancelled, IDC_SAMPLE_LENGTH, "nonsense");
    ClickItem(cancelled, IDCANCEL);
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
                   ClickItem(*main, IDCANCEL);
                 });
  EXPECT_EQ(aboutCaption, "About vrellok");
  EXPECT_FALSE(initResult);
  EXPECT_EQ(QApplication::activeModalWidget(), nullptr) << "the program ends with its dialog";
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
    ClickItem(dialog, IDCANCEL);
  });
}

}  // namespace
