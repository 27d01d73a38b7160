// The program's start as the real programs run it, in a child process, since a process holds
// only one application object.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QFontDatabase>
#include <QTimer>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "child_process.h"
#include "fileio/file.h"
#include "platform/dialog.h"
#include "platform/process_start.h"
#include "platform/winapp.h"
#include "scratch_dir.h"
#include "shell/startup.h"

namespace {

constexpr rlim_t kFileSizeLimit = 1024;
constexpr int kWriteFailedWithEfbig = 0;
constexpr int kWriteDidNotFail = 1;
constexpr int kOtherOutcome = 2;
const ResourceSet kNoResources;

// Writes past the file-size limit from inside InitInstance, as Generate or Patch would.
class OversizeWriterApp : public CWinApp {
 public:
  explicit OversizeWriterApp(std::string path) : CWinApp(kNoResources), m_path(std::move(path)) {}
  bool InitInstance() override {
    CFile file;
    WriteBytes(m_path, {});
    if (!file.Open(m_path, CFile::modeReadWrite)) std::_Exit(kOtherOutcome);
    const Bytes block(2 * kFileSizeLimit, 0);
    try {
      file.Write(block.data(), block.size());
    } catch (const CFileException& e) {
      std::_Exit(e.m_lOsError == EFBIG ? kWriteFailedWithEfbig : kOtherOutcome);
    }
    std::_Exit(kWriteDidNotFail);
  }

 private:
  std::string m_path;
};

TEST(StartUp, AWritePastTheFileSizeLimitFailsInsteadOfKillingTheProgram) {
  ScratchDir scratch;
  // A child killed by the limit's signal fails the test with the signal's number.
  EXPECT_EQ(InChild([&] {
              ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
              const rlimit limit{kFileSizeLimit, kFileSizeLimit};
              ::setrlimit(RLIMIT_FSIZE, &limit);
              OversizeWriterApp app(scratch.File("big.bin"));
              OpenStandardDescriptors();  // as every program starts
              char name[] = "startup_test";
              char* argv[] = {name, nullptr};
              return AfxWinMain(1, argv) == 0 ? kWriteDidNotFail : kOtherOutcome;
            }),
            kWriteFailedWithEfbig);
}

// ---- What the user sees when a program starts: its window, active, in the desktop's font,
// with the focus where Tab would put it: on the checked button of the first radio group.

constexpr int kStartDialog = 102;
constexpr int kFirstChoice = 1000;
constexpr int kSecondChoice = 1001;
constexpr int kWaitForFocusMs = 5000;
constexpr int kPollMs = 10;
std::string g_report;  // what the child found wrong, one line per finding

ResourceSet StartResources() {
  ResourceSet set;
  set.dialogs[kStartDialog] = {"Start-up test",
                               160,
                               60,
                               "MS Sans Serif",
                               8,
                               {RadioButton("First choice", kFirstChoice, {7, 7, 80, 10}, kGroup),
                                RadioButton("Second choice", kSecondChoice, {7, 20, 80, 10}),
                                DefPushButton("OK", IDOK, {100, 7, 50, 14}, kGroup),
                                PushButton("Cancel", IDCANCEL, {100, 24, 50, 14})},
                               kMinimizeBox};
  return set;
}

void Report(const std::string& finding) {
  g_report += finding + "\n";
}

class StartDialog : public CDialog {
 public:
  StartDialog() : CDialog(kStartDialog) {}

 protected:
  void DoDataExchange(CDataExchange* pDX) override { DDX_Radio(pDX, kFirstChoice, m_choice); }
  bool OnInitDialog() override {
    CDialog::OnInitDialog();
    m_waited.start();
    auto* poll = new QTimer(this);
    connect(poll, &QTimer::timeout, this, [this, poll] {
      if (QApplication::focusWidget() == nullptr && !m_waited.hasExpired(kWaitForFocusMs)) return;
      poll->stop();
      LookAndCancel();
    });
    poll->start(kPollMs);
    return true;
  }

 private:
  QAbstractButton* Button(const QString& text) const {
    for (auto* button : findChildren<QAbstractButton*>()) {
      if (button->text() == text) return button;
    }
    return nullptr;
  }
  void LookAndCancel() {
    if (QApplication::activeModalWidget() != this) Report("the window is not the active modal");
    if (AfxGetApp()->m_pMainWnd != this) Report("the window is not the main window");
    if (windowTitle() != "Start-up test") Report("caption " + windowTitle().toStdString());
    const double desktop = QFontDatabase::systemFont(QFontDatabase::GeneralFont).pointSizeF();
    if (font().pointSizeF() != desktop) {
      Report("font " + std::to_string(font().pointSizeF()) + " pt, desktop " +
             std::to_string(desktop));
    }
    if (QApplication::focusWidget() != Button("Second choice")) {
      Report("focus not on the checked button");
    }
    if (QAbstractButton* cancel = Button("Cancel")) {
      cancel->click();
    } else {
      Report("no Cancel button");
      EndDialog(IDCANCEL);
    }
  }

  int m_choice = 1;
  QElapsedTimer m_waited;
};

class StartApp : public CWinApp {
 public:
  explicit StartApp(const ResourceSet& resources) : CWinApp(resources) {}
  bool InitInstance() override { return RunMainDialog<StartDialog>(*this, true); }
};

// Runs a program start in a child process on the given Qt platform (each platform is a
// different desktop) and returns what the child reported.
template <class App>
std::string ReportOfAStart(const char* platform) {
  return InChild([platform] {
    ::setenv("QT_QPA_PLATFORM", platform, 1);
    const ResourceSet resources = StartResources();
    App app(resources);
    char name[] = "startup_test";
    char* argv[] = {name, nullptr};
    if (AfxWinMain(1, argv) != 0) Report("exit code not 0");
    if (app.m_pMainWnd != nullptr) Report("the main window outlived the program");
    return g_report;
  });
}

TEST(StartUp, TheMainWindowOpensActiveInTheDesktopFontAndTheProgramEndsWithIt) {
  EXPECT_EQ(ReportOfAStart<StartApp>("offscreen"), "");
}

// Reports the desktop's font size, the dialog's and the dialog's size in pixels.
class MeasuringApp : public CWinApp {
 public:
  explicit MeasuringApp(const ResourceSet& resources) : CWinApp(resources) {}
  bool InitInstance() override {
    const CDialog dialog(kStartDialog);
    const QFont desktop = QFontDatabase::systemFont(QFontDatabase::GeneralFont);
    Report(std::to_string(desktop.pointSizeF()) + " " + std::to_string(dialog.font().pointSizeF()) +
           " " + std::to_string(dialog.width()) + " " + std::to_string(dialog.height()));
    return false;
  }
};

struct Measure {
  double desktopPoints = 0;
  double dialogPoints = 0;
  int width = 0;
  int height = 0;
};

Measure MeasureOn(const char* platform) {
  Measure m;
  const std::string report = ReportOfAStart<MeasuringApp>(platform);
  EXPECT_EQ(std::sscanf(report.c_str(), "%lf %lf %d %d", &m.desktopPoints, &m.dialogPoints,
                        &m.width, &m.height),
            4)
      << report;
  return m;
}

// Two desktops with different font settings: the offscreen one sets 9 points, the minimal one
// with real fonts 12. The same template follows each, and grows on the larger one.
TEST(StartUp, DialogsTakeTheDesktopsFontSizeAndGrowWithIt) {
  const Measure usual = MeasureOn("offscreen");
  const Measure larger = MeasureOn("minimal:enable_fonts");
  ASSERT_GT(larger.desktopPoints, usual.desktopPoints) << "the two desktops do not differ";
  EXPECT_DOUBLE_EQ(usual.dialogPoints, usual.desktopPoints);
  EXPECT_DOUBLE_EQ(larger.dialogPoints, larger.desktopPoints);
  EXPECT_GT(larger.width, usual.width);
  EXPECT_GT(larger.height, usual.height);
}

}  // namespace
