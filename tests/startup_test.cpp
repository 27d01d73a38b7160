// The program's start as the real programs run it, in a child process, since a process holds
// only one application object.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QFontDatabase>
#include <QTimer>
#include <cerrno>
#include <cstdlib>
#include <string>

#include "platform/dialog.h"
#include "platform/file.h"
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
    if (!file.Open(m_path, CFile::modeReadWrite | CFile::modeCreate)) std::_Exit(kOtherOutcome);
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
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    const rlimit limit{kFileSizeLimit, kFileSizeLimit};
    ::setrlimit(RLIMIT_FSIZE, &limit);
    OversizeWriterApp app(scratch.File("big.bin"));
    char name[] = "startup_test";
    char* argv[] = {name, nullptr};
    std::_Exit(AfxWinMain(1, argv) == 0 ? kWriteDidNotFail : kOtherOutcome);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status)) << "killed by signal " << WTERMSIG(status);
  EXPECT_EQ(WEXITSTATUS(status), kWriteFailedWithEfbig);
}

// ---- What the user sees when a program starts: its window, active, in the desktop's font,
// with the focus where Tab would put it: on the checked button of the first radio group.

constexpr int kStartDialog = 102;
constexpr int kFirstChoice = 1000;
constexpr int kSecondChoice = 1001;
constexpr int kWaitForFocusMs = 5000;
constexpr int kPollMs = 10;
int g_report = -1;  // the child writes what it found wrong here, one line per finding

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
  const std::string line = finding + "\n";
  (void)!::write(g_report, line.data(), line.size());
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

TEST(StartUp, TheMainWindowOpensActiveInTheDesktopFontAndTheProgramEndsWithIt) {
  int pipeEnds[2];
  ASSERT_EQ(::pipe(pipeEnds), 0);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    ::close(pipeEnds[0]);
    g_report = pipeEnds[1];
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    const ResourceSet resources = StartResources();
    StartApp app(resources);
    char name[] = "startup_test";
    char* argv[] = {name, nullptr};
    if (AfxWinMain(1, argv) != 0) Report("exit code not 0");
    if (app.m_pMainWnd != nullptr) Report("the main window outlived the program");
    std::_Exit(0);
  }
  ::close(pipeEnds[1]);
  std::string findings;
  char buffer[256];
  for (ssize_t got; (got = ::read(pipeEnds[0], buffer, sizeof buffer)) > 0;) {
    findings.append(buffer, static_cast<std::size_t>(got));
  }
  ::close(pipeEnds[0]);
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status)) << "killed by signal " << WTERMSIG(status);
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_EQ(findings, "");
}

}  // namespace
