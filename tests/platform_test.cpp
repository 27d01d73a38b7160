// The dialog framework with real widgets: a test dialog built from a template, driven by
// typing and clicking, with message boxes answered by the recorder. Controls are found as a
// person finds them: buttons by their words, edit boxes by the name a screen reader gives them.
#include <QClipboard>
#include <QContextMenuEvent>
#include <QFontDatabase>
#include <QFontInfo>
#include <QMenu>
#include <QMessageBox>
#include <QRadioButton>
#include <QTimer>
#include <cerrno>

#include "fileio/file.h"
#include "gui_support.h"
#include "test_rc.h"

namespace {

const char kIntegerPrompt[] = "Please enter an integer.";
const char kCountRangePrompt[] = "Please enter an integer between 1 and 10.";
constexpr int kCountMin = 1;
constexpr int kCountMax = 10;

class ExchangeDialog : public CDialog {
 public:
  ExchangeDialog() : CDialog(IDD_TEST_DIALOG) {}

  int m_count = 5;
  int m_value = -12;
  int m_choice = 0;
  int m_option = -1;
  int m_shown = -1;
  int goPresses = 0;
  int valueChanges = 0;
  int failWith = 0;  // errno Go throws as a file error, 0 for none

 protected:
  void DoDataExchange(CDataExchange* pDX) override {
    DDX_Text(pDX, IDC_COUNT, m_count);
    DDV_MinMaxInt(pDX, m_count, kCountMin, kCountMax);
    DDX_Text(pDX, IDC_VALUE, m_value);
    DDX_Radio(pDX, IDC_SECOND, m_choice);
    DDX_Radio(pDX, IDC_OPTION_A, m_option);
    DDX_Text(pDX, IDC_SHOWN, m_shown);
  }
  const MessageMap& GetMessageMap() const override {
    static const MessageMap map(CDialog::GetMessageMap(),
                                {
                                    OnCommandEntry(IDC_GO, &ExchangeDialog::OnGo),
                                    OnEditChangeEntry(IDC_VALUE, &ExchangeDialog::OnChangeValue),
                                });
    return map;
  }

 private:
  void OnGo() {
    ++goPresses;
    if (failWith != 0) throw CFileException(failWith);
  }
  void OnChangeValue() { ++valueChanges; }
};

class PlatformTest : public testing::Test {
 protected:
  void SetUp() override { AfxSetResources(m_resources); }

  ResourceSet m_resources = TestResources();
  PromptRecorder m_prompts;
};

bool Checked(const QWidget& window, const QString& text) {
  QAbstractButton* button = FindButton(window, text);
  return button != nullptr && button->isChecked();
}

QWidget* Focused() {
  return QApplication::focusWidget();
}

// A place in dialog units in pixels for a font: x * cx / 4 and y * cy / 8, with cx the average
// width of the 52 letters and cy the line height.
QRect InPixels(const QFont& font, int x, int y, int width, int height) {
  const double cx = QFontMetricsF(font).horizontalAdvance(
                        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz") /
                    52;
  const double cy = QFontMetrics(font).height();
  return QRect(qRound(x * cx / 4), qRound(y * cy / 8), qRound(width * cx / 4),
               qRound(height * cy / 8));
}

TEST_F(PlatformTest, ControlsLandAtTheirDialogUnitPlacesInTheDesktopFont) {
  ExchangeDialog dialog;
  const QFont desktop = QFontDatabase::systemFont(QFontDatabase::GeneralFont);
  EXPECT_EQ(QFontInfo(dialog.font()).family(), QFontInfo(desktop).family());
  // The template's 8 points are the desktop's size: the dialog reads like every other window.
  EXPECT_DOUBLE_EQ(dialog.font().pointSizeF(), desktop.pointSizeF());
  EXPECT_EQ(dialog.size(), InPixels(dialog.font(), 0, 0, 200, 90).size());
  EXPECT_EQ(FindEdit(dialog, "Value")->geometry(), InPixels(dialog.font(), 40, 25, 40, 14));
  EXPECT_EQ(FindButton(dialog, "Go")->geometry(), InPixels(dialog.font(), 140, 40, 50, 14));
  EXPECT_EQ(dialog.GetDlgItem(IDC_STATIC), nullptr);
  EXPECT_EQ(dialog.GetDlgItem(4242), nullptr);
}

TEST_F(PlatformTest, ALargerTemplateFontScalesTheDesktopSizeAndTheWholeLayout) {
  const QFont desktop = QFontDatabase::systemFont(QFontDatabase::GeneralFont);
  ExchangeDialog usual;
  m_resources.dialogs[IDD_TEST_DIALOG].pointSize = 12;
  ExchangeDialog larger;
  EXPECT_DOUBLE_EQ(larger.font().pointSizeF(), desktop.pointSizeF() * 12 / 8);
  EXPECT_GT(larger.width(), usual.width() * 5 / 4);
  EXPECT_GT(larger.height(), usual.height() * 5 / 4);
  EXPECT_EQ(larger.size(), InPixels(larger.font(), 0, 0, 200, 90).size());
  EXPECT_EQ(FindButton(larger, "Go")->geometry(), InPixels(larger.font(), 140, 40, 50, 14));
}

TEST_F(PlatformTest, EditBoxesAreNamedByTheLabelBeforeThemOrByTheTemplate) {
  ExchangeDialog dialog;
  EXPECT_EQ(FindEdit(dialog, "Count"), dialog.GetDlgItem(IDC_COUNT)) << "mnemonic left out";
  EXPECT_EQ(FindEdit(dialog, "Value"), dialog.GetDlgItem(IDC_VALUE));
  EXPECT_EQ(FindEdit(dialog, "Shown"), dialog.GetDlgItem(IDC_SHOWN));
}

TEST_F(PlatformTest, LoadingShowsMembersAndCountsRadiosFromTheGroupsFirstButton) {
  ExchangeDialog dialog;
  ASSERT_TRUE(dialog.UpdateData(false));
  EXPECT_EQ(BoxText(dialog, "Count"), "5");
  EXPECT_EQ(BoxText(dialog, "Value"), "-12");
  // A digits-only box still shows what the program puts there.
  EXPECT_EQ(BoxText(dialog, "Shown"), "-1");
  // Index 0 is the group's first button in template order, though it sits lower on screen.
  EXPECT_TRUE(Checked(dialog, "Second"));
  EXPECT_FALSE(Checked(dialog, "First"));
  EXPECT_FALSE(Checked(dialog, "A"));
  EXPECT_FALSE(Checked(dialog, "B"));

  dialog.m_option = 1;
  ASSERT_TRUE(dialog.UpdateData(false));
  EXPECT_TRUE(Checked(dialog, "B"));
  EXPECT_TRUE(Checked(dialog, "Second")) << "groups are independent";
  dialog.m_option = -1;
  ASSERT_TRUE(dialog.UpdateData(false));
  EXPECT_FALSE(Checked(dialog, "B"));
}

TEST_F(PlatformTest, SavingReadsTypedTextAndClickedRadios) {
  ExchangeDialog dialog;
  RunModal(dialog, [&] {
    TypeInto(dialog, "Count", "10");
    TypeInto(dialog, "Value", "-2147483648");
    Click(dialog, "First");
    Click(dialog, "A");
    EXPECT_TRUE(dialog.UpdateData(true));
    dialog.EndDialog(IDCANCEL);
  });
  EXPECT_EQ(dialog.m_count, 10);
  EXPECT_EQ(dialog.m_value, -2147483648);
  EXPECT_EQ(dialog.m_choice, 1);
  EXPECT_EQ(dialog.m_option, 0);
  EXPECT_TRUE(m_prompts.messages.empty());
}

TEST_F(PlatformTest, BlanksAroundASignedIntegerAreAccepted) {
  const std::pair<const char*, int> accepted[] = {
      {" 12 ", 12}, {"+5", 5}, {"\t-7", -7}, {"007", 7}, {"2147483647", 2147483647}};
  for (const auto& [text, value] : accepted) {
    ExchangeDialog dialog;
    ASSERT_TRUE(dialog.UpdateData(false));
    FindEdit(dialog, "Value")->setText(text);
    EXPECT_TRUE(dialog.UpdateData(true)) << text;
    EXPECT_EQ(dialog.m_value, value) << text;
  }
  EXPECT_TRUE(m_prompts.messages.empty());
}

TEST_F(PlatformTest, AConversionFailurePromptsFocusesSelectsAndStopsTheExchange) {
  const char* const badIntegers[] = {"",    "12x",  "abc", "2147483648", "-2147483649",
                                     "- 5", "0x10", "1e3", "1,000",      "\u00a07"};
  for (const char* bad : badIntegers) {
    ExchangeDialog dialog;
    m_prompts.messages.clear();
    RunModal(dialog, [&] {
      ASSERT_TRUE(dialog.UpdateData(false));
      TypeInto(dialog, "Value", bad);
      Click(dialog, "First");  // later in the exchange than the failing box
      FindButton(dialog, "Go")->setFocus();
      EXPECT_FALSE(dialog.UpdateData(true));
      EXPECT_EQ(Focused(), FindEdit(dialog, "Value"));
      EXPECT_EQ(FindEdit(dialog, "Value")->selectedText(), QString(bad));
      dialog.EndDialog(IDCANCEL);
    });
    EXPECT_EQ(m_prompts.messages, std::vector<std::string>{kIntegerPrompt}) << bad;
    EXPECT_EQ(dialog.m_value, -12) << "member unchanged after \"" << bad << "\"";
    EXPECT_EQ(dialog.m_choice, 0) << "the exchange stopped at the failure";
    EXPECT_EQ(dialog.GetExchangeFailure(), ExchangeFailure::conversion);
  }
}

TEST_F(PlatformTest, ARangeFailureKeepsTheValueAndPromptsWithTheBounds) {
  ExchangeDialog dialog;
  RunModal(dialog, [&] {
    TypeInto(dialog, "Count", "11");
    TypeInto(dialog, "Value", "3");
    FindEdit(dialog, "Value")->setFocus();
    EXPECT_FALSE(dialog.UpdateData(true));
    EXPECT_EQ(dialog.GetExchangeFailure(), ExchangeFailure::range);
    EXPECT_EQ(Focused(), FindEdit(dialog, "Count"));
    EXPECT_EQ(FindEdit(dialog, "Count")->selectedText(), "11");
    dialog.EndDialog(IDCANCEL);
  });
  EXPECT_EQ(m_prompts.messages, std::vector<std::string>{kCountRangePrompt});
  EXPECT_EQ(dialog.m_count, 11);
  EXPECT_EQ(dialog.m_value, -12);
}

TEST_F(PlatformTest, OkClosesOnlyWhenTheExchangeSucceeds) {
  ExchangeDialog dialog;
  const int result = RunModal(dialog, [&] {
    TypeInto(dialog, "Count", "0");
    Click(dialog, "OK");
    EXPECT_TRUE(dialog.isVisible());
    TypeInto(dialog, "Count", "3");
    Click(dialog, "OK");
  });
  EXPECT_EQ(result, IDOK);
  EXPECT_EQ(m_prompts.messages, std::vector<std::string>{kCountRangePrompt});
  EXPECT_EQ(dialog.m_count, 3);
}

TEST_F(PlatformTest, EnterPressesTheDefaultButtonAndEscCancels) {
  ExchangeDialog entered;
  EXPECT_EQ(RunModal(entered,
                     [&] {
                       TypeInto(entered, "Count", "4");
                       QTest::keyClick(FindEdit(entered, "Count"), Qt::Key_Return);
                     }),
            IDOK);
  EXPECT_EQ(entered.m_count, 4);

  ExchangeDialog escaped;
  EXPECT_EQ(RunModal(escaped,
                     [&] {
                       TypeInto(escaped, "Count", "4");
                       QTest::keyClick(FindEdit(escaped, "Count"), Qt::Key_Escape);
                     }),
            IDCANCEL);
  EXPECT_EQ(escaped.m_count, 5) << "Cancel exchanges nothing";
}

TEST_F(PlatformTest, TabFollowsTemplateOrderAndMnemonicsWork) {
  ExchangeDialog dialog;
  RunModal(dialog, [&] {
    // A radio group is entered at its checked button, or at its first when none is checked;
    // the read-only box is no tab stop.
    const QWidget* expected[] = {FindEdit(dialog, "Count"),    FindEdit(dialog, "Value"),
                                 FindButton(dialog, "Second"), FindButton(dialog, "A"),
                                 FindButton(dialog, "Go"),     FindButton(dialog, "OK"),
                                 FindButton(dialog, "Cancel"), FindEdit(dialog, "Count")};
    FindEdit(dialog, "Count")->setFocus();
    for (std::size_t i = 1; i < std::size(expected); ++i) {
      QTest::keyClick(Focused(), Qt::Key_Tab);
      EXPECT_EQ(Focused(), expected[i]) << "step " << i;
    }
    QTest::keyClick(&dialog, Qt::Key_G, Qt::AltModifier);
    // A mnemonic shows the button going down before it clicks, so the click comes a little later.
    EXPECT_TRUE(QTest::qWaitFor([&] { return dialog.goPresses == 1; }, kModalWatchdogMs / 2));
    FindButton(dialog, "OK")->setFocus();
    QTest::keyClick(&dialog, Qt::Key_C, Qt::AltModifier);  // the "&Count" label's box
    EXPECT_EQ(Focused(), FindEdit(dialog, "Count"));
    dialog.EndDialog(IDCANCEL);
  });
}

TEST_F(PlatformTest, TabEntersARadioGroupAtItsCheckedButtonAndArrowsMoveWithin) {
  ExchangeDialog dialog;
  dialog.m_choice = 1;  // "First", the group's second button in template order
  RunModal(dialog, [&] {
    FindEdit(dialog, "Value")->setFocus();
    QTest::keyClick(Focused(), Qt::Key_Tab);
    EXPECT_EQ(Focused(), FindButton(dialog, "First"));
    // "Second" sits below "First": Down moves there and checks it, as a person expects.
    QTest::keyClick(Focused(), Qt::Key_Down);
    EXPECT_EQ(Focused(), FindButton(dialog, "Second"));
    EXPECT_TRUE(Checked(dialog, "Second"));
    EXPECT_FALSE(Checked(dialog, "First"));
    QTest::keyClick(Focused(), Qt::Key_Tab);
    EXPECT_EQ(Focused(), FindButton(dialog, "A")) << "the next group, none checked";
    QTest::keyClick(Focused(), Qt::Key_Backtab);
    EXPECT_EQ(Focused(), FindButton(dialog, "Second"));

    // The program checks another button while the focus rests on the old one: Tab still
    // comes back to what is checked.
    dialog.m_choice = 1;
    ASSERT_TRUE(dialog.UpdateData(false));
    FindEdit(dialog, "Value")->setFocus();
    QTest::keyClick(Focused(), Qt::Key_Tab);
    EXPECT_EQ(Focused(), FindButton(dialog, "First"));
    dialog.EndDialog(IDCANCEL);
  });
  EXPECT_TRUE(m_prompts.messages.empty());
}

TEST_F(PlatformTest, DigitsOnlyBoxesRejectLettersTypedAndPasted) {
  ExchangeDialog dialog;
  RunModal(dialog, [&] {
    TypeInto(dialog, "Count", "1a2-b3");
    EXPECT_EQ(BoxText(dialog, "Count"), "123");
    QApplication::clipboard()->setText("45x");
    FindEdit(dialog, "Count")->paste();
    EXPECT_EQ(BoxText(dialog, "Count"), "123");
    QApplication::clipboard()->setText("45");
    FindEdit(dialog, "Count")->paste();
    EXPECT_EQ(BoxText(dialog, "Count"), "12345");
    // Read-only: shown by the program, untouched by typing.
    ASSERT_TRUE(dialog.UpdateData(false));
    FindEdit(dialog, "Shown")->setFocus();
    QTest::keyClicks(FindEdit(dialog, "Shown"), "77");
    EXPECT_EQ(BoxText(dialog, "Shown"), "-1");
    dialog.EndDialog(IDCANCEL);
  });
}

TEST_F(PlatformTest, CommandsAndEditChangesReachTheirHandlers) {
  ExchangeDialog dialog;
  RunModal(dialog, [&] {
    const int changesBefore = dialog.valueChanges;
    TypeInto(dialog, "Value", "42");
    EXPECT_EQ(dialog.valueChanges, changesBefore + 3) << "the delete, then one per key";
    TypeInto(dialog, "Count", "7");
    EXPECT_EQ(dialog.valueChanges, changesBefore + 3) << "another box's changes go elsewhere";
    Click(dialog, "Go");
    dialog.SendCommand(4242);  // an unmapped id is ignored
    EXPECT_EQ(dialog.goPresses, 1);
    EXPECT_TRUE(dialog.isVisible());
    dialog.EndDialog(IDCANCEL);
  });
}

TEST_F(PlatformTest, AFileErrorLeavingAHandlerShowsTheSystemTextAndTheDialogStays) {
  ExchangeDialog dialog;
  dialog.failWith = ENOSPC;
  const int result = RunModal(dialog, [&] {
    Click(dialog, "Go");
    EXPECT_TRUE(dialog.isVisible());
    Click(dialog, "Cancel");
  });
  EXPECT_EQ(result, IDCANCEL);
  EXPECT_EQ(m_prompts.messages, std::vector<std::string>{OsErrorText(ENOSPC)});
}

TEST_F(PlatformTest, SystemMenuOpensFromTheBackgroundAndFromAltSpace) {
  ExchangeDialog dialog;
  const int result = RunModal(dialog, [&] {
    QMenu* menu = dialog.GetSystemMenu()->GetQMenu();
    const QPoint background(2, 2);
    ASSERT_EQ(dialog.childAt(background), nullptr);
    QContextMenuEvent click(QContextMenuEvent::Mouse, background, dialog.mapToGlobal(background));
    QApplication::sendEvent(&dialog, &click);
    EXPECT_TRUE(menu->isVisible());
    menu->hide();
    QTest::keyClick(&dialog, Qt::Key_Space, Qt::AltModifier);
    EXPECT_TRUE(menu->isVisible());
    ASSERT_EQ(menu->actions().size(), 2);
    EXPECT_EQ(menu->actions()[0]->text(), "Mi&nimize");
    EXPECT_EQ(menu->actions()[1]->text(), "&Close");
    menu->actions()[0]->trigger();
    EXPECT_TRUE(dialog.IsIconic());
    dialog.SendSysCommand(SC_RESTORE);
    dialog.close();  // the window's close button: Close, then Cancel
  });
  EXPECT_EQ(result, IDCANCEL);
}

TEST_F(PlatformTest, TheMinimizeButtonComesFromTheTemplatesStyle) {
  ExchangeDialog minimizable;
  EXPECT_TRUE(minimizable.windowFlags() & Qt::WindowMinimizeButtonHint);
  EXPECT_TRUE(minimizable.windowFlags() & Qt::WindowCloseButtonHint);
  m_resources.dialogs[IDD_TEST_DIALOG].style = kNoStyle;
  ExchangeDialog fixed;
  EXPECT_FALSE(fixed.windowFlags() & Qt::WindowMinimizeButtonHint);
  EXPECT_TRUE(fixed.windowFlags() & Qt::WindowCloseButtonHint);
  const QList<QAction*> entries = fixed.GetSystemMenu()->GetQMenu()->actions();
  ASSERT_EQ(entries.size(), 1);
  EXPECT_EQ(entries[0]->text(), "&Close");
}

TEST(FileDialog, FiltersTurnIntoQtFormAndAnswersComeBackByKind) {
  EXPECT_EQ(QtNameFilters("Wave Files(*.wav)|*.wav|All Files(*.*)|*.*|||"),
            "Wave Files(*.wav) (*.wav);;All Files(*.*) (*)");
  EXPECT_EQ(QtNameFilters("Audio|*.wav;*.aif||"), "Audio (*.wav *.aif)");

  PromptRecorder prompts;
  prompts.CancelFileDialog();
  prompts.AnswerFileDialog("/tmp/a.wav");
  CFileDialog cancelled(true, nullptr, "Wave Files(*.wav)|*.wav||");
  EXPECT_EQ(cancelled.DoModal(), IDCANCEL);
  EXPECT_EQ(cancelled.GetPathName(), "");
  ASSERT_EQ(prompts.fileRequests.size(), 1u);
  EXPECT_EQ(prompts.fileRequests[0].nameFilters, "Wave Files(*.wav) (*.wav)");
  CFileDialog chosen(true, nullptr, "Wave Files(*.wav)|*.wav||");
  EXPECT_EQ(chosen.DoModal(), IDOK);
  EXPECT_EQ(chosen.GetPathName(), "/tmp/a.wav");

  // The save dialog proposes its name and answers from its own queue.
  prompts.AnswerSaveDialog("/tmp/b-plain.wav");
  CFileDialog save(false, "/tmp/b-plain.wav", "Wave Files(*.wav)|*.wav||");
  EXPECT_EQ(save.DoModal(), IDOK);
  EXPECT_EQ(save.GetPathName(), "/tmp/b-plain.wav");
  ASSERT_EQ(prompts.saveRequests.size(), 1u);
  EXPECT_EQ(prompts.saveRequests[0].initialPath, "/tmp/b-plain.wav");
  EXPECT_EQ(prompts.fileRequests.size(), 2u);

  EXPECT_EQ(AfxMessageBox("done"), IDOK);
  EXPECT_EQ(prompts.messages, std::vector<std::string>{"done"});
  EXPECT_EQ(AfxMessageBox("saved", MB_ICONINFORMATION), IDOK);
  EXPECT_EQ(prompts.icons,
            (std::vector<MessageIcon>{MessageIcon::warning, MessageIcon::information}));
  prompts.messages.pop_back();
  prompts.AnswerQuestion(true);
  prompts.AnswerQuestion(false);
  EXPECT_EQ(AfxMessageBox("Save?", MB_YESNO), IDYES);
  EXPECT_EQ(AfxMessageBox("Save?", MB_YESNO), IDNO);
  EXPECT_EQ(prompts.questions, (std::vector<std::string>{"Save?", "Save?"}));
  EXPECT_EQ(prompts.messages.size(), 1u);
}

// The real boxes: the icon the user sees, read off the box while it is up, then dismissed.
TEST(PlatformPrompts, TheRealMessageBoxShowsTheIconItWasGiven) {
  for (const auto& [type, expected] :
       {std::pair{MB_OK, QMessageBox::Warning}, std::pair{MB_ICONWARNING, QMessageBox::Warning},
        std::pair{MB_ICONINFORMATION, QMessageBox::Information}}) {
    QMessageBox::Icon shown = QMessageBox::NoIcon;
    QTimer poll;  // until the box is up
    QObject::connect(&poll, &QTimer::timeout, [&] {
      for (QWidget* window : QApplication::topLevelWidgets()) {
        auto* box = qobject_cast<QMessageBox*>(window);
        if (box == nullptr || !box->isVisible()) continue;
        shown = box->icon();
        EXPECT_EQ(box->text(), "TC.wav Created");
        box->accept();
        poll.stop();
      }
    });
    poll.start(kModalPollMs);
    EXPECT_EQ(AfxMessageBox("TC.wav Created", type), IDOK);
    EXPECT_EQ(shown, expected) << type;
  }
}

// Enter on a real question answers Yes, or No where Yes would lose something.
TEST(PlatformPrompts, EnterOnTheRealQuestionAnswersItsDefault) {
  for (const auto& [type, expected] :
       {std::pair{MB_YESNO, IDYES}, std::pair{MB_YESNO | MB_DEFBUTTON2, IDNO}}) {
    QTimer poll;  // until the box is up
    QObject::connect(&poll, &QTimer::timeout, [&] {
      for (QWidget* window : QApplication::topLevelWidgets()) {
        if (qobject_cast<QMessageBox*>(window) == nullptr || !window->isVisible()) continue;
        QTest::keyClick(window, Qt::Key_Return);
        poll.stop();
      }
    });
    poll.start(kModalPollMs);
    EXPECT_EQ(AfxMessageBox("Discard?", type), expected) << type;
  }
}

}  // namespace
