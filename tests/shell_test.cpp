// The shared main-dialog behaviour, the About box and the start-up, run headless on the test
// dialog, plus the About boxes of both programs rendered for the documentation.
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPainter>
#include <QPushButton>
#include <algorithm>
#include <cstdlib>
#include <iterator>
#include <optional>
#include <string>

#include "gui_support.h"
#include "resources/loop_rc.h"
#include "resources/vrellok_rc.h"
#include "screenshot.h"
#include "shell/about_dlg.h"
#include "shell/main_dialog.h"
#include "shell/startup.h"
#include "test_rc.h"

namespace {

class TestMainDialog : public CMainDialog {
 public:
  TestMainDialog() : CMainDialog(IDD_TEST_DIALOG) {}
  using CMainDialog::m_hIcon;
};

// The loop program's variant: help is told to quit when the window goes.
class HelpQuittingDialog : public TestMainDialog {
 public:
  void WinHelp(unsigned long data, unsigned command) override {
    helpCalls.emplace_back(data, command);
  }
  std::vector<std::pair<unsigned long, unsigned>> helpCalls;

 protected:
  const MessageMap& GetMessageMap() const override {
    static const MessageMap map(CMainDialog::GetMessageMap(),
                                {OnDestroyEntry(&HelpQuittingDialog::OnDestroy)});
    return map;
  }
};

class TestApp : public CWinApp {
 public:
  explicit TestApp(const ResourceSet& resources) : CWinApp(resources) {}
  bool InitInstance() override { return RunMainDialog<TestMainDialog>(*this, true); }
};

class ShellTest : public testing::Test {
 protected:
  void SetUp() override { AfxSetResources(m_resources); }

  ResourceSet m_resources = TestResources();
  PromptRecorder m_prompts;
};

QList<QAction*> MenuEntries(CDialog& dialog) {
  return dialog.GetSystemMenu()->GetQMenu()->actions();
}

// The system menu as it reads, one text per entry, separators as empty texts.
QStringList MenuTexts(CDialog& dialog) {
  QStringList texts;
  for (QAction* entry : MenuEntries(dialog)) texts << entry->text();
  return texts;
}

QAction* MenuEntry(CDialog& dialog, const QString& text) {
  for (QAction* entry : MenuEntries(dialog)) {
    if (entry->text() == text) return entry;
  }
  return nullptr;
}

// The static texts of a window, in the order they were made.
QStringList Labels(const QWidget& window) {
  QStringList texts;
  for (QLabel* label : window.findChildren<QLabel*>()) {
    if (!label->text().isEmpty()) texts << label->text();
  }
  return texts;
}

TEST_F(ShellTest, SystemMenuGetsTheAboutEntryAfterASeparatorAndTheIconIsSet) {
  TestMainDialog dialog;
  RunModal(dialog, [&] {
    const QList<QAction*> entries = MenuEntries(dialog);
    EXPECT_EQ(MenuTexts(dialog), QStringList({"Mi&nimize", "&Close", "", "&About test..."}));
    ASSERT_EQ(entries.size(), 4);
    EXPECT_EQ(entries[0]->data().toUInt(), SC_MINIMIZE);
    EXPECT_EQ(entries[1]->data().toUInt(), SC_CLOSE);
    EXPECT_TRUE(entries[2]->isSeparator());
    EXPECT_EQ(entries[3]->data().toUInt(), IDM_ABOUTBOX);
    EXPECT_EQ(dialog.GetIcon(true).cacheKey(), dialog.m_hIcon.cacheKey());
    EXPECT_EQ(dialog.GetIcon(false).cacheKey(), dialog.m_hIcon.cacheKey());
    EXPECT_EQ(dialog.Dispatch(Message::QueryDragIcon).icon.cacheKey(), dialog.m_hIcon.cacheKey());
    dialog.EndDialog(IDCANCEL);
  });
}

TEST_F(ShellTest, AnEmptyAboutStringAddsNothingToTheSystemMenu) {
  m_resources.strings[IDS_ABOUTBOX].clear();
  TestMainDialog dialog;
  RunModal(dialog, [&] {
    EXPECT_EQ(MenuTexts(dialog), QStringList({"Mi&nimize", "&Close"}));
    dialog.EndDialog(IDCANCEL);
  });
}

TEST_F(ShellTest, TheAboutEntryOpensTheAboutBoxAndClosingItChangesNothing) {
  TestMainDialog dialog;
  QString aboutCaption;
  const int result = RunModal(dialog, [&] {
    TypeInto(dialog, "Value", "77");
    WhenNextModalOpens([&](QWidget* box) {
      aboutCaption = box->windowTitle();
      auto* about = dynamic_cast<CDialog*>(box);
      ASSERT_NE(about, nullptr);
      Click(*about, "OK");
    });
    MenuEntry(dialog, "&About test...")->trigger();
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_FALSE(dialog.IsIconic());
    EXPECT_EQ(BoxText(dialog, "Value"), "77");
    // The low four bits of a system command are the window manager's and do not count.
    WhenNextModalOpens([](QWidget* box) { qobject_cast<QDialog*>(box)->done(IDOK); });
    dialog.SendSysCommand(IDM_ABOUTBOX | 0x3);
    dialog.EndDialog(IDCANCEL);
  });
  EXPECT_EQ(aboutCaption, "About test");
  EXPECT_EQ(result, IDCANCEL);
  EXPECT_TRUE(m_prompts.messages.empty());
}

TEST_F(ShellTest, OtherSystemCommandsGetTheDefaultHandling) {
  TestMainDialog dialog;
  const int result = RunModal(dialog, [&] {
    dialog.SendSysCommand(SC_MINIMIZE);
    EXPECT_TRUE(dialog.IsIconic());
    dialog.SendSysCommand(SC_RESTORE);
    EXPECT_FALSE(dialog.IsIconic());
    MenuEntry(dialog, "&Close")->trigger();
  });
  EXPECT_EQ(result, IDCANCEL);
}

// An icon whose every pixel tells where in the icon it is: red and green carry the column and
// the row, blue marks it as icon. Found anywhere in a painting, one pixel gives the origin.
constexpr int kGridIconSize = 32;
constexpr int kGridStep = 8;
constexpr int kGridOffset = 4;

std::string GridIconSvg() {
  std::string svg = R"(<svg xmlns="http://www.w3.org/2000/svg" width="32" height="32">)";
  for (int row = 0; row < kGridIconSize; ++row) {
    for (int column = 0; column < kGridIconSize; ++column) {
      svg += "<rect x='" + std::to_string(column) + "' y='" + std::to_string(row) +
             "' width='1' height='1' fill='rgb(" +
             std::to_string(column * kGridStep + kGridOffset) + "," +
             std::to_string(row * kGridStep + kGridOffset) + ",255)'/>";
    }
  }
  return svg + "</svg>";
}

// Paints the minimized dialog into an image the size of its client area and decodes where the
// icon's top-left corner went.
std::optional<QPoint> PaintedIconOrigin(TestMainDialog& dialog, const QSize& client) {
  dialog.setFixedSize(client);
  dialog.setWindowState(Qt::WindowMinimized);
  QImage image(client, QImage::Format_RGB32);
  image.fill(Qt::black);
  dialog.render(&image, QPoint(), QRegion(), QWidget::DrawWindowBackground);
  for (int y = 0; y < image.height(); ++y) {
    for (int x = 0; x < image.width(); ++x) {
      const QRgb pixel = image.pixel(x, y);
      if (qBlue(pixel) != 255) continue;
      return QPoint(x - (qRed(pixel) - kGridOffset) / kGridStep,
                    y - (qGreen(pixel) - kGridOffset) / kGridStep);
    }
  }
  return std::nullopt;
}

TEST_F(ShellTest, MinimizedIconIsCentredWithDivisionTowardZero) {
  const QSize icon(GetSystemMetrics(SM_CXICON), GetSystemMetrics(SM_CYICON));
  ASSERT_EQ(icon, QSize(32, 32));
  EXPECT_EQ(MinimizedIconOrigin({101, 60}, icon), QPoint(35, 14));
  // Negative numerators: -15 / 2 and -11 / 2 round up to -7 and -5, not down to -8 and -6.
  EXPECT_EQ(MinimizedIconOrigin({16, 20}, icon), QPoint(-7, -5));
  EXPECT_EQ(MinimizedIconOrigin({31, 32}, icon), QPoint(0, 0));

  const std::string gridIcon = GridIconSvg();
  m_resources.icons[IDR_MAINFRAME] = gridIcon;
  TestMainDialog dialog;
  EXPECT_EQ(PaintedIconOrigin(dialog, {101, 60}), QPoint(35, 14));
  EXPECT_EQ(PaintedIconOrigin(dialog, {16, 20}), QPoint(-7, -5));
}

TEST_F(ShellTest, OnlyAMappedDestroyAsksHelpToQuit) {
  HelpQuittingDialog quitting;
  RunModal(quitting, [&] {
    EXPECT_TRUE(quitting.helpCalls.empty());
    quitting.EndDialog(IDOK);
  });
  ASSERT_EQ(quitting.helpCalls.size(), 1u);
  EXPECT_EQ(quitting.helpCalls[0], std::make_pair(0ul, HELP_QUIT));
}

TEST_F(ShellTest, StartUpRunsTheMainDialogModallyAndReturnsFalseWhenItCloses) {
  TestApp app(m_resources);
  bool initResult = true;
  RunInsideModal([&] { initResult = app.InitInstance(); },
                 [&] {
                   auto* main = dynamic_cast<CDialog*>(QApplication::activeModalWidget());
                   ASSERT_NE(main, nullptr);
                   EXPECT_EQ(app.m_pMainWnd, main);
                   EXPECT_EQ(MenuEntries(*main).size(), 4);
                   Click(*main, "Cancel");
                 });
  EXPECT_FALSE(initResult);
  EXPECT_EQ(QApplication::activeModalWidget(), nullptr) << "no second window";
}

TEST_F(ShellTest, AboutBoxShowsTheIconTheLinesAndADefaultOk) {
  CAboutDlg about;
  auto* ok = qobject_cast<QPushButton*>(FindButton(about, "OK"));
  ASSERT_NE(ok, nullptr);
  EXPECT_TRUE(ok->isDefault());
  EXPECT_EQ(Labels(about), QStringList({"test Version 1.0", "Copyright (C) 2002"}));
  const QList<QLabel*> labels = about.findChildren<QLabel*>();
  EXPECT_TRUE(std::any_of(labels.begin(), labels.end(),
                          [](QLabel* label) { return !label->pixmap().isNull(); }));
  EXPECT_EQ(RunModal(about, [&] { QTest::keyClick(&about, Qt::Key_Return); }), IDOK);
}

// What each program shows: its main window may be minimized and carries the About entry; the
// About box it opens has the program's caption and lines, and cannot be minimized.
struct ProgramFace {
  const ResourceSet& (*resources)();
  const char* aboutEntry;
  const char* aboutCaption;
  const char* versionLine;
  const char* copyrightLine;
};

const ProgramFace kPrograms[] = {
    {VrellokResources, "&About vrellok...", "About vrellok", "vrellok Version 2.0",
     "Copyright (C) 2002"},
    {LoopResources, "&About loop...", "About Skelmer", "Skelmer Version 3.0", "Copyright (C) 2003"},
};

TEST(ProgramShell, TheAboutEntryOpensTheProgramsOwnAboutBoxWhichCannotBeMinimized) {
  PromptRecorder prompts;
  for (const ProgramFace& program : kPrograms) {
    SCOPED_TRACE(program.aboutCaption);
    AfxSetResources(program.resources());
    CMainDialog main;
    QString caption;
    QStringList lines;
    QStringList aboutMenu;
    bool aboutMinimizable = true;
    RunModal(main, [&] {
      EXPECT_TRUE(main.windowFlags() & Qt::WindowMinimizeButtonHint);
      EXPECT_EQ(MenuTexts(main), QStringList({"Mi&nimize", "&Close", "", program.aboutEntry}));
      QAction* about = MenuEntry(main, program.aboutEntry);
      EXPECT_NE(about, nullptr);
      if (about != nullptr) {
        WhenNextModalOpens([&](QWidget* box) {
          caption = box->windowTitle();
          lines = Labels(*box);
          aboutMinimizable = (box->windowFlags() & Qt::WindowMinimizeButtonHint) != 0;
          if (auto* dialog = dynamic_cast<CDialog*>(box)) aboutMenu = MenuTexts(*dialog);
          Click(*box, "OK");
        });
        about->trigger();
      }
      main.EndDialog(IDCANCEL);
    });
    EXPECT_EQ(caption, program.aboutCaption);
    EXPECT_EQ(lines, QStringList({program.versionLine, program.copyrightLine}));
    EXPECT_FALSE(aboutMinimizable);
    EXPECT_EQ(aboutMenu, QStringList({"&Close"}));
  }
  EXPECT_TRUE(prompts.messages.empty());
}

// A screen reader names every edit box of both programs; each name leads to the box the
// program reads that value from.
TEST(ProgramShell, EveryEditBoxHasTheNameOfWhatItHolds) {
  const std::pair<const char*, int> vrellokBoxes[] = {{"Sample Length", IDC_SAMPLE_LENGTH},
                                                      {"DTMF ID#", IDC_DTMF_ID}};
  AfxSetResources(VrellokResources());
  CMainDialog generator;
  EXPECT_EQ(generator.findChildren<QLineEdit*>().size(), std::size(vrellokBoxes));
  for (const auto& [name, id] : vrellokBoxes) {
    EXPECT_EQ(FindEdit(generator, name), generator.GetDlgItem(id)) << name;
  }

  AfxSetResources(LoopResources());
  CMainDialog patcher;
  EXPECT_EQ(patcher.findChildren<QLineEdit*>().size(), std::size(kLoopPointIds) + 1);
  EXPECT_EQ(FindEdit(patcher, "Channels"), patcher.GetDlgItem(IDC_CHANNELS));
  for (std::size_t i = 0; i < std::size(kLoopPointIds); ++i) {
    const QString name = QString("Loop point %1").arg(i + 1);
    EXPECT_EQ(FindEdit(patcher, name), patcher.GetDlgItem(kLoopPointIds[i])) << i + 1;
  }
}

// Whatever the desktop font, no label or button of either program loses words: a one-line label
// runs on past its box rather than wrap or cut its text.
TEST(ProgramShell, EveryLabelAndButtonShowsItsWholeText) {
  for (const ProgramFace& program : kPrograms) {
    AfxSetResources(program.resources());
    for (int id : {IDD_MAIN_DIALOG, IDD_ABOUTBOX}) {
      CDialog dialog(id);
      for (QLabel* label : dialog.findChildren<QLabel*>()) {
        if (label->text().isEmpty()) continue;
        EXPECT_GE(label->width(), label->sizeHint().width()) << label->text().toStdString();
        EXPECT_FALSE(label->wordWrap()) << label->text().toStdString();
      }
      for (QAbstractButton* button : dialog.findChildren<QAbstractButton*>()) {
        EXPECT_GE(button->width(), button->fontMetrics().horizontalAdvance(button->text()))
            << button->text().toStdString();
      }
    }
  }
}

// With SCREENSHOT_DIR set, saves both programs' About boxes there as PNGs for the README.
TEST(Screenshot, AboutBoxes) {
  const std::optional<QString> folder = ScreenshotDir();
  if (!folder) GTEST_SKIP() << "SCREENSHOT_DIR not set";
  const std::pair<const ResourceSet*, const char*> programs[] = {
      {&VrellokResources(), "about-vrellok.png"}, {&LoopResources(), "about-loop.png"}};
  for (const auto& [resources, name] : programs) {
    AfxSetResources(*resources);
    CAboutDlg about;
    const QString path = *folder + "/" + name;
    EXPECT_TRUE(WithCaption(about).save(path)) << path.toStdString();
  }
}

}  // namespace
