#include "platform/dialog.h"

#include <QApplication>
#include <QButtonGroup>
#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QFontDatabase>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpressionValidator>
#include <QShortcut>
#include <QStyle>
#include <algorithm>
#include <stdexcept>

#include "fileio/file.h"
#include "platform/prompts.h"
#include "platform/winapp.h"

namespace {

constexpr char kTemplateFontName[] = "MS Sans Serif";
// The size templates are laid out for; it stands for whatever size the desktop's font has.
constexpr double kTemplatePointSize = 8;
constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
constexpr double kAlphabetLetters = 52;
constexpr double kDluPerBaseX = 4;
constexpr double kDluPerBaseY = 8;

// The keyboard side of a digits-only edit box: typing and pasting may only produce digits.
// Text set by the program is not checked (a count shown as -1 must still appear), and once the
// box holds such text, typing into it is not blocked either.
const QRegularExpression kDigits(QStringLiteral("[0-9]*"));

// Tab enters a radio group at its checked button, or at its first when none is checked; the
// arrow keys move within the group (and check as they go).
void PointTabAtCheckedRadio(const QButtonGroup& group) {
  const QList<QAbstractButton*> buttons = group.buttons();
  const auto checked = std::find_if(buttons.begin(), buttons.end(),
                                    [](QAbstractButton* b) { return b->isChecked(); });
  QAbstractButton* stop = checked != buttons.end() ? *checked : buttons.front();
  for (QAbstractButton* button : buttons) {
    button->setFocusPolicy(button == stop ? Qt::StrongFocus : Qt::ClickFocus);
  }
}

class DialogRadioButton : public QRadioButton {
 public:
  using QRadioButton::QRadioButton;

 protected:
  // A radio button answers a click anywhere in its box, not only on the dot and the words.
  bool hitButton(const QPoint& pos) const override { return rect().contains(pos); }
  // Qt moves the group's tab stop to whichever button took the focus; it belongs on the
  // checked one.
  void focusInEvent(QFocusEvent* event) override {
    QRadioButton::focusInEvent(event);
    if (group() != nullptr) PointTabAtCheckedRadio(*group());
  }
};

QSize IconSize() {
  return {GetSystemMetrics(SM_CXICON), GetSystemMetrics(SM_CYICON)};
}

// The font a template names, with "MS Sans Serif" standing for the desktop's general font and
// the template's 8 points for that font's size, so dialogs grow with the user's font setting.
QFont DialogFont(const DialogTemplate& dialogTemplate) {
  QFont font = QFontDatabase::systemFont(QFontDatabase::GeneralFont);
  // A desktop font given in pixels has no point size; the template's own size stands then.
  const double desktopPoints = font.pointSizeF() > 0 ? font.pointSizeF() : kTemplatePointSize;
  if (dialogTemplate.fontName != kTemplateFontName) {
    font.setFamilies({QString::fromStdString(dialogTemplate.fontName)});
  }
  font.setPointSizeF(dialogTemplate.pointSize * desktopPoints / kTemplatePointSize);
  return font;
}

}  // namespace

void CMenu::AppendMenu(unsigned flags, unsigned id, const std::string& text) {
  if (flags & MF_SEPARATOR) {
    m_menu->addSeparator();
  } else {
    m_menu->addAction(QString::fromStdString(text))->setData(id);
  }
}

void CPaintDC::DrawIcon(int x, int y, const QIcon& icon) {
  m_painter.drawPixmap(x, y, icon.pixmap(IconSize()));
}

int GetSystemMetrics(int index) {
  if (index != SM_CXICON && index != SM_CYICON) return 0;
  return QApplication::style()->pixelMetric(QStyle::PM_LargeIconSize);
}

CDialog::CDialog(int templateId, QWidget* parent) : QDialog(parent) {
  const auto& dialogs = AfxGetResources().dialogs;
  const auto found = dialogs.find(templateId);
  if (found == dialogs.end()) {
    throw std::out_of_range("no dialog template " + std::to_string(templateId));
  }
  const DialogTemplate& dialogTemplate = found->second;
  Qt::WindowFlags flags =
      Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint;
  if (dialogTemplate.style & kMinimizeBox) flags |= Qt::WindowMinimizeButtonHint;
  setWindowFlags(flags);
  setWindowTitle(QString::fromStdString(dialogTemplate.caption));
  setFont(DialogFont(dialogTemplate));
  BuildControls(dialogTemplate, font());
  BuildSystemMenu(dialogTemplate.style);
}

CDialog::~CDialog() = default;

void CDialog::BuildControls(const DialogTemplate& dialogTemplate, const QFont& font) {
  // Dialog units to pixels: x * cx / 4 and y * cy / 8, cx being the font's average character
  // width over the 52 letters and cy its height. cx stays unrounded: rounded to whole pixels, a
  // larger desktop font could keep the width of the smaller one and outgrow its places.
  const double cx = QFontMetricsF(font).horizontalAdvance(kAlphabet) / kAlphabetLetters;
  const double cy = QFontMetrics(font).height();
  const auto toPixels = [cx, cy](const DlgRect& r) {
    return QRect(qRound(r.x * cx / kDluPerBaseX), qRound(r.y * cy / kDluPerBaseY),
                 qRound(r.cx * cx / kDluPerBaseX), qRound(r.cy * cy / kDluPerBaseY));
  };
  setFixedSize(toPixels({0, 0, dialogTemplate.cx, dialogTemplate.cy}).size());
  QButtonGroup* radioGroup = nullptr;
  for (const ControlTemplate& t : dialogTemplate.controls) {
    if (t.style & kGroup) radioGroup = nullptr;
    QWidget* widget = CreateControl(t);
    if (t.kind == ControlKind::RadioButton) {
      if (radioGroup == nullptr) radioGroup = new QButtonGroup(this);
      radioGroup->addButton(qobject_cast<QAbstractButton*>(widget));
    }
    QRect place = toPixels(t.rect);
    // An icon control takes the icon's own size, whatever the template's box says.
    if (t.kind == ControlKind::Icon) place.setSize(IconSize());
    // A one-line label keeps its words on one line and runs on past its box when the desktop
    // font sets them wider than the font the template was drawn for.
    if (t.kind == ControlKind::Static && place.height() < 2 * cy) {
      auto* label = static_cast<QLabel*>(widget);
      label->setWordWrap(false);
      place.setWidth(std::max(place.width(), label->sizeHint().width()));
    }
    widget->setGeometry(place);
    m_controls.push_back({t.id, t.kind, t.style, widget});
  }
  NameEditBoxes(dialogTemplate);
  SetUpKeyboard();
}

QWidget* CDialog::CreateControl(const ControlTemplate& t) {
  const QString text = QString::fromStdString(t.text);
  const int id = t.id;
  switch (t.kind) {
    case ControlKind::PushButton:
    case ControlKind::DefPushButton: {
      auto* button = new QPushButton(text, this);
      button->setDefault(t.kind == ControlKind::DefPushButton);
      connect(button, &QPushButton::clicked, this, [this, id] { SendCommand(id); });
      return button;
    }
    case ControlKind::RadioButton: {
      auto* radio = new DialogRadioButton(text, this);
      connect(radio, &QAbstractButton::clicked, this, [this, id] { SendCommand(id); });
      return radio;
    }
    case ControlKind::GroupBox: {
      auto* box = new QGroupBox(text, this);
      // A group box only frames its neighbours: clicks go through it to what it frames.
      box->setAttribute(Qt::WA_TransparentForMouseEvents);
      return box;
    }
    case ControlKind::Static: {
      auto* label = new QLabel(text, this);
      label->setWordWrap(true);
      label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
      return label;
    }
    case ControlKind::Edit: {
      auto* edit = new QLineEdit(this);
      edit->setFrame((t.style & kBorder) != 0);
      edit->setReadOnly((t.style & kReadOnly) != 0);
      if (t.style & kDigitsOnly) edit->setValidator(new QRegularExpressionValidator(kDigits, edit));
      connect(edit, &QLineEdit::textChanged, this,
              [this, id] { Dispatch(Message::EditChange, id); });
      return edit;
    }
    case ControlKind::Icon: {
      auto* label = new QLabel(this);
      label->setPixmap(AfxLoadIcon(t.iconId).pixmap(IconSize()));
      return label;
    }
  }
  throw std::logic_error("unknown control kind");
}

// A screen reader announces an edit box by the label written next to it in the template: the
// static text just before it, else the one just after (a label placed behind its box). A box
// with no such neighbour carries its name in the template.
void CDialog::NameEditBoxes(const DialogTemplate& dialogTemplate) {
  const auto& controls = dialogTemplate.controls;
  const auto labelAt = [&](std::size_t i) -> QString {
    if (i >= controls.size() || controls[i].kind != ControlKind::Static) return {};
    return QString::fromStdString(controls[i].text).remove(u'&');
  };
  for (std::size_t i = 0; i < controls.size(); ++i) {
    if (controls[i].kind != ControlKind::Edit) continue;
    QString name = QString::fromStdString(controls[i].name);
    if (name.isEmpty() && i > 0) name = labelAt(i - 1);
    if (name.isEmpty()) name = labelAt(i + 1);
    m_controls[i].widget->setAccessibleName(name);
  }
}

// Tab order is template order over the controls that take focus; a label's "&" mnemonic
// moves to the next tab stop after it, as a static text has no focus of its own.
void CDialog::SetUpKeyboard() {
  QWidget* previous = nullptr;
  QLabel* mnemonicLabel = nullptr;
  for (const Control& control : m_controls) {
    if (control.kind == ControlKind::Static || control.kind == ControlKind::GroupBox ||
        control.kind == ControlKind::Icon) {
      control.widget->setFocusPolicy(Qt::NoFocus);
      if (control.kind == ControlKind::GroupBox) control.widget->lower();
      auto* label = qobject_cast<QLabel*>(control.widget);
      if (label != nullptr && label->text().contains(u'&')) mnemonicLabel = label;
      continue;
    }
    const bool tabStop = !(control.style & kNoTabStop);
    control.widget->setFocusPolicy(tabStop ? Qt::StrongFocus : Qt::ClickFocus);
    if (previous != nullptr) setTabOrder(previous, control.widget);
    previous = control.widget;
    if (mnemonicLabel != nullptr && tabStop) {
      mnemonicLabel->setBuddy(control.widget);
      mnemonicLabel = nullptr;
    }
  }
  for (QButtonGroup* group : findChildren<QButtonGroup*>()) {
    PointTabAtCheckedRadio(*group);
    connect(group, &QButtonGroup::buttonToggled, this, [group] { PointTabAtCheckedRadio(*group); });
  }
  auto* systemMenuKey = new QShortcut(QKeySequence(Qt::ALT | Qt::Key_Space), this);
  connect(systemMenuKey, &QShortcut::activated, this,
          [this] { m_systemMenu.GetQMenu()->popup(mapToGlobal(QPoint(0, 0))); });
}

void CDialog::BuildSystemMenu(unsigned dialogStyle) {
  auto* menu = new QMenu(this);
  m_systemMenu = CMenu(menu);
  if (dialogStyle & kMinimizeBox) m_systemMenu.AppendMenu(MF_STRING, SC_MINIMIZE, "Mi&nimize");
  m_systemMenu.AppendMenu(MF_STRING, SC_CLOSE, "&Close");
  connect(menu, &QMenu::triggered, this,
          [this](QAction* action) { SendSysCommand(action->data().toUInt()); });
}

int CDialog::DoModal() {
  m_ended = false;
  // A false return means OnInitDialog placed the focus itself; Qt keeps a focus set before
  // showing and otherwise starts at the first control in tab order, so both cases hold.
  OnInitDialog();
  const int result = m_ended ? this->result() : exec();
  Dispatch(Message::Destroy);
  return result;
}

void CDialog::EndDialog(int result) {
  m_ended = true;
  done(result);
}

bool CDialog::UpdateData(bool saveAndValidate) {
  CDataExchange exchange(this, saveAndValidate);
  m_exchangeFailure = ExchangeFailure::none;
  try {
    DoDataExchange(&exchange);
  } catch (const DataExchangeFailure& failure) {
    m_exchangeFailure = failure.kind;
    return false;
  }
  return true;
}

QWidget* CDialog::GetDlgItem(int id) const {
  if (id == IDC_STATIC) return nullptr;
  const auto found = std::find_if(m_controls.begin(), m_controls.end(),
                                  [id](const Control& c) { return c.id == id; });
  return found != m_controls.end() ? found->widget : nullptr;
}

std::vector<QRadioButton*> CDialog::GetRadioGroup(int firstId) const {
  std::vector<QRadioButton*> buttons;
  auto it = std::find_if(m_controls.begin(), m_controls.end(),
                         [firstId](const Control& c) { return c.id == firstId; });
  for (auto start = it; it != m_controls.end(); ++it) {
    if (it != start && (it->style & kGroup)) break;
    if (it->kind == ControlKind::RadioButton) {
      buttons.push_back(qobject_cast<QRadioButton*>(it->widget));
    }
  }
  return buttons;
}

void CDialog::SetIcon(const QIcon& icon, bool bigIcon) {
  m_icons[bigIcon ? 1 : 0] = icon;
  // Qt keeps one icon per window and picks the size it needs from it.
  setWindowIcon(icon);
}

// A file error that escapes a handler is reported with the system's words, and the dialog
// carries on: the user can try again.
MessageParams CDialog::Dispatch(Message message, int id, MessageParams params) {
  const MessageEntry* entry = GetMessageMap().Find(message, id);
  if (entry == nullptr) return params;
  try {
    entry->handler(*this, params);
  } catch (const CFileException& e) {
    AfxMessageBox(e.what());
  }
  return params;
}

const MessageMap& CDialog::GetMessageMap() const {
  static const MessageMap root(nullptr, {
                                            OnCommandEntry(IDOK, &CDialog::OnOK),
                                            OnCommandEntry(IDCANCEL, &CDialog::OnCancel),
                                            OnSysCommandEntry(&CDialog::OnSysCommand),
                                            OnPaintEntry(&CDialog::OnPaint),
                                            OnDestroyEntry(&CDialog::OnDestroy),
                                        });
  return root;
}

bool CDialog::OnInitDialog() {
  UpdateData(false);
  return true;
}

void CDialog::OnOK() {
  if (UpdateData(true)) EndDialog(IDOK);
}

void CDialog::OnCancel() {
  EndDialog(IDCANCEL);
}

void CDialog::OnSysCommand(unsigned id, long /*lParam*/) {
  switch (id & kSysCommandMask) {
    case SC_MINIMIZE:
      showMinimized();
      break;
    case SC_RESTORE:
      showNormal();
      break;
    case SC_CLOSE:
      SendCommand(IDCANCEL);  // closing a dialog is cancelling it
      break;
    default:
      break;
  }
}

void CDialog::EraseIconBackground(CPaintDC& dc) {
  dc.Painter().fillRect(GetClientRect(), palette().window());
}

void CDialog::paintEvent(QPaintEvent* /*event*/) {
  Dispatch(Message::Paint);
}

void CDialog::closeEvent(QCloseEvent* event) {
  event->ignore();  // the close command decides, and may keep the dialog open
  SendSysCommand(SC_CLOSE);
}

void CDialog::contextMenuEvent(QContextMenuEvent* event) {
  // Only the background opens the system menu; static texts and frames count as background.
  QWidget* child = childAt(event->pos());
  if (child == nullptr || child->focusPolicy() == Qt::NoFocus) {
    m_systemMenu.GetQMenu()->popup(event->globalPos());
  }
}

void CDialog::reject() {
  SendCommand(IDCANCEL);  // Esc
}
