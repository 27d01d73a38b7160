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

}  // namespace
