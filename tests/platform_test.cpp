// The dialog framework with real widgets: a test dialog built from a template, driven by
// typing and clicking, with message boxes answered by the recorder.
#include <QClipboard>
#include <QContextMenuEvent>
#include <QFontDatabase>
#include <QFontInfo>
#include <QMenu>
#include <QRadioButton>
#include <cerrno>

#include "gui_support.h"
#include "resources/test_rc.h"

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

QRadioButton* RadioOf(const CDialog& dialog, int id) {
  return qobject_cast<QRadioButton*>(dialog.GetDlgItem(id));
}

TEST_F(PlatformTest, ControlsLandAtTheirDialogUnitPlacesInTheDesktopFont) {
  ExchangeDialog dialog;
  EXPECT_EQ(QFontInfo(dialog.font()).family(),
            QFontInfo(QFontDatabase::systemFont(QFontDatabase::GeneralFont)).family());
  const QFontMetrics metrics(dialog.font());
  const int cx =
      (metrics.horizontalAdvance("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz") + 26) / 52;
  const int cy = metrics.height();
  ASSERT_GT(cx, 0);
  EXPECT_EQ(dialog.GetDialogUnits().baseX, cx);
  EXPECT_EQ(dialog.GetDialogUnits().baseY, cy);
  EXPECT_EQ(dialog.size(), QSize(200 * cx / 4, 90 * cy / 8));
  EXPECT_EQ(dialog.GetDlgItem(IDC_VALUE)->geometry(),
            QRect(40 * cx / 4, 25 * cy / 8, 40 * cx / 4, 14 * cy / 8));
  EXPECT_EQ(dialog.GetDlgItem(IDC_GO)->geometry(),
            QRect(140 * cx / 4, 40 * cy / 8, 50 * cx / 4, 14 * cy / 8));
  EXPECT_EQ(dialog.GetDlgItem(IDC_STATIC), nullptr);
  EXPECT_EQ(dialog.GetDlgItem(4242), nullptr);
}

TEST_F(PlatformTest, LoadingShowsMembersAndCountsRadiosFromTheGroupsFirstButton) {
  ExchangeDialog dialog;
  ASSERT_TRUE(dialog.UpdateData(false));
  EXPECT_EQ(ItemText(dialog, IDC_COUNT), "5");
  EXPECT_EQ(ItemText(dialog, IDC_VALUE), "-12");
  // A digits-only box still shows what the program puts there.
  EXPECT_EQ(ItemText(dialog, IDC_SHOWN), "-1");
  // Index 0 is the group's first button in template order, though it sits lower on screen.
  EXPECT_TRUE(RadioOf(dialog, IDC_SECOND)->isChecked());
  EXPECT_FALSE(RadioOf(dialog, IDC_FIRST)->isChecked());
  EXPECT_FALSE(RadioOf(dialog, IDC_OPTION_A)->isChecked());
  EXPECT_FALSE(RadioOf(dialog, IDC_OPTION_B)->isChecked());

  dialog.m_option = 1;
  ASSERT_TRUE(dialog.UpdateData(false));
  EXPECT_TRUE(RadioOf(dialog, IDC_OPTION_B)->isChecked());
  EXPECT_TRUE(RadioOf(dialog, IDC_SECOND)->isChecked()) << "groups are independent";
  dialog.m_option = -1;
  ASSERT_TRUE(dialog.UpdateData(false));
  EXPECT_FALSE(RadioOf(dialog, IDC_OPTION_B)->isChecked());
}

TEST_F(PlatformTest, SavingReadsTypedTextAndClickedRadios) {
  ExchangeDialog dialog;
  RunModal(dialog, [&] {
    TypeInto(dialog, IDC_COUNT, "10");
    TypeInto(dialog, IDC_VALUE, "-2147483648");
    ClickItem(dialog, IDC_FIRST);
    ClickItem(dialog, IDC_OPTION_A);
    EXPECT_TRUE(dialog.UpdateData(true));
    dialog.EndDialog(IDCANCEL);
  });
  EXPECT_EQ(dialog.m_count, 10);
  EXPECT_EQ(dialog.m_value, -2147483648);
  EXPECT_EQ(dialog.m_choice, 1);
  EXPECT_EQ(dialog.m_option, 0);
  EXPECT_TRUE(m_prompts.messages.empty());
}

TEST_F(PlatformTest, AConversionFailurePromptsFocusesSelectsAndStopsTheExchange) {
  const char* const badIntegers[] = {"", "12x", "abc", "2147483648", "-2147483649", "- 5"};
  for (const char* bad : badIntegers) {
    ExchangeDialog dialog;
    m_prompts.messages.clear();
    RunModal(dialog, [&] {
      ASSERT_TRUE(dialog.UpdateData(false));
      TypeInto(dialog, IDC_VALUE, bad);
      ClickItem(dialog, IDC_FIRST);  // later in the exchange than the failing box
      dialog.GetDlgItem(IDC_GO)->setFocus();
      EXPECT_FALSE(dialog.UpdateData(true));
      EXPECT_EQ(QApplication::focusWidget(), dialog.GetDlgItem(IDC_VALUE));
      EXPECT_EQ(EditOf(dialog, IDC_VALUE)->selectedText(), QString(bad));
      dialog.EndDialog(IDCANCEL);
    });
    EXPECT_EQ(m_prompts.messages, std::vector<std::string>{kIntegerPrompt}) << bad;
    EXPECT_EQ(dialog.m_value, -12) << "member unchanged after \"" << bad << "\"";
    EXPECT_EQ(dialog.m_choice, 0) << "the exchange stopped at the failure";
  }
}

TEST_F(PlatformTest, ARangeFailureKeepsTheValueAndPromptsWithTheBounds) {
  ExchangeDialog dialog;
  RunModal(dialog, [&] {
    TypeInto(dialog, IDC_COUNT, "11");
    TypeInto(dialog, IDC_VALUE, "3");
    dialog.GetDlgItem(IDC_VALUE)->setFocus();
    EXPECT_FALSE(dialog.UpdateData(true));
    EXPECT_EQ(QApplication::focusWidget(), dialog.GetDlgItem(IDC_COUNT));
    EXPECT_EQ(EditOf(dialog, IDC_COUNT)->selectedText(), "11");
    dialog.EndDialog(IDCANCEL);
  });
  EXPECT_EQ(m_prompts.messages, std::vector<std::string>{kCountRangePrompt});
  EXPECT_EQ(dialog.m_count, 11);
  EXPECT_EQ(dialog.m_value, -12);
}

TEST_F(PlatformTest, OkClosesOnlyWhenTheExchangeSucceeds) {
  ExchangeDialog dialog;
  const int result = RunModal(dialog, [&] {
    TypeInto(dialog, IDC_COUNT, "0");
    ClickItem(dialog, IDOK);
    EXPECT_TRUE(dialog.isVisible());
    TypeInto(dialog, IDC_COUNT, "3");
    ClickItem(dialog, IDOK);
  });
  EXPECT_EQ(result, IDOK);
  EXPECT_EQ(m_prompts.messages, std::vector<std::string>{kCountRangePrompt});
  EXPECT_EQ(dialog.m_count, 3);
}

TEST_F(PlatformTest, EnterPressesTheDefaultButtonAndEscCancels) {
  ExchangeDialog entered;
  EXPECT_EQ(RunModal(entered,
                     [&] {
                       TypeInto(entered, IDC_COUNT, "4");
                       QTest::keyClick(EditOf(entered, IDC_COUNT), Qt::Key_Return);
                     }),
            IDOK);
  EXPECT_EQ(entered.m_count, 4);

  ExchangeDialog escaped;
  EXPECT_EQ(RunModal(escaped,
                     [&] {
                       TypeInto(escaped, IDC_COUNT, "4");
                       QTest::keyClick(EditOf(escaped, IDC_COUNT), Qt::Key_Escape);
                     }),
            IDCANCEL);
  EXPECT_EQ(escaped.m_count, 5) << "Cancel exchanges nothing";
}

TEST_F(PlatformTest, TabFollowsTemplateOrderAndMnemonicsWork) {
  ExchangeDialog dialog;
  RunModal(dialog, [&] {
    // A radio group is entered at its checked button, or at its first when none is checked;
    // the read-only box is no tab stop.
    const int expected[] = {IDC_COUNT, IDC_VALUE, IDC_SECOND, IDC_OPTION_A,
                            IDC_GO,    IDOK,      IDCANCEL,   IDC_COUNT};
    dialog.GetDlgItem(IDC_COUNT)->setFocus();
    ASSERT_TRUE(dialog.UpdateData(false));
    for (std::size_t i = 1; i < std::size(expected); ++i) {
      QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
      EXPECT_EQ(QApplication::focusWidget(), dialog.GetDlgItem(expected[i])) << "step " << i;
    }
    QTest::keyClick(&dialog, Qt::Key_G, Qt::AltModifier);
    // A mnemonic shows the button going down before it clicks, so the click comes a little later.
    EXPECT_TRUE(QTest::qWaitFor([&] { return dialog.goPresses == 1; }, kModalWatchdogMs / 2));
    dialog.GetDlgItem(IDOK)->setFocus();
    QTest::keyClick(&dialog, Qt::Key_C, Qt::AltModifier);  // the "&Count" label's box
    EXPECT_EQ(QApplication::focusWidget(), dialog.GetDlgItem(IDC_COUNT));
    dialog.EndDialog(IDCANCEL);
  });
}

TEST_F(PlatformTest, DigitsOnlyBoxesRejectLettersTypedAndPasted) {
  ExchangeDialog dialog;
  RunModal(dialog, [&] {
    TypeInto(dialog, IDC_COUNT, "1a2-b3");
    EXPECT_EQ(ItemText(dialog, IDC_COUNT), "123");
    QApplication::clipboard()->setText("45x");
    EditOf(dialog, IDC_COUNT)->paste();
    EXPECT_EQ(ItemText(dialog, IDC_COUNT), "123");
    QApplication::clipboard()->setText("45");
    EditOf(dialog, IDC_COUNT)->paste();
    EXPECT_EQ(ItemText(dialog, IDC_COUNT), "12345");
    // Read-only: shown by the program, untouched by typing.
    ASSERT_TRUE(dialog.UpdateData(false));
    EditOf(dialog, IDC_SHOWN)->setFocus();
    QTest::keyClicks(EditOf(dialog, IDC_SHOWN), "77");
    EXPECT_EQ(ItemText(dialog, IDC_SHOWN), "-1");
    dialog.EndDialog(IDCANCEL);
  });
}

TEST_F(PlatformTest, CommandsAndEditChangesReachTheirHandlers) {
  ExchangeDialog dialog;
  RunModal(dialog, [&] {
    const int changesBefore = dialog.valueChanges;
    TypeInto(dialog, IDC_VALUE, "42");
    EXPECT_GT(dialog.valueChanges, changesBefore);
    ClickItem(dialog, IDC_GO);
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
    ClickItem(dialog, IDC_GO);
    EXPECT_TRUE(dialog.isVisible());
    ClickItem(dialog, IDCANCEL);
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
    menu->actions()[0]->trigger();  // Minimize
    EXPECT_TRUE(dialog.IsIconic());
    dialog.SendSysCommand(SC_RESTORE);
    dialog.close();  // the window's close button: Close, then Cancel
  });
  EXPECT_EQ(result, IDCANCEL);
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
  prompts.AnswerQuestion(true);
  prompts.AnswerQuestion(false);
  EXPECT_EQ(AfxMessageBox("Save?", MB_YESNO), IDYES);
  EXPECT_EQ(AfxMessageBox("Save?", MB_YESNO), IDNO);
  EXPECT_EQ(prompts.questions, (std::vector<std::string>{"Save?", "Save?"}));
  EXPECT_EQ(prompts.messages.size(), 1u);
}

}  // namespace
