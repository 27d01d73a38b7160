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
#include <QShortcut>
#include <QStyle>
#include <QValidator>
#include <algorithm>
#include <stdexcept>

#include "platform/data_exchange.h"
#include "platform/file.h"
#include "platform/prompts.h"
#include "platform/winapp.h"

struct CDialog::Control {
  int id;
  ControlKind kind;
  unsigned style;
  QWidget* widget;
};

namespace {

constexpr char kTemplateFontName[] = "MS Sans Serif";
// The average character width is taken over the 52 letters, rounded to the nearest pixel.
constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
constexpr int kAlphabetLetters = 52;
constexpr int kDluPerBaseX = 4;
constexpr int kDluPerBaseY = 8;
constexpr int kDefaultIconSize = 32;

// The keyboard side of a digits-only edit box: typing and pasting may only produce digits.
// Text set by the program is not checked (a count shown as -1 must still appear), and once the
// box holds such text, typing into it is not blocked either.
class DigitsValidator : public QValidator {
 public:
  using QValidator::QValidator;
  State validate(QString& input, int&) const override {
    for (QChar c : input) {
      if (c < u'0' || c > u'9') return Invalid;
    }
    return Acceptable;
  }
};

// A radio button answers a click anywhere in its box, not only on the dot and the words.
class DialogRadioButton : public QRadioButton {
 public:
  using QRadioButton::QRadioButton;

 protected:
  bool hitButton(const QPoint& pos) const override { return rect().contains(pos); }
};

bool TakesFocus(ControlKind kind) {
  return kind != ControlKind::Static && kind != ControlKind::GroupBox && kind != ControlKind::Icon;
}

QWidget* MakeButton(CDialog* dialog, const ControlTemplate& t) {
  auto* button = new QPushButton(QString::fromStdString(t.text), dialog);
  button->setDefault(t.kind == ControlKind::DefPushButton);
  QObject::connect(button, &QPushButton::clicked, dialog,
                   [dialog, id = t.id] { dialog->SendCommand(id); });
  return button;
}

QWidget* MakeRadio(CDialog* dialog, const ControlTemplate& t, QButtonGroup& group) {
  auto* radio = new DialogRadioButton(QString::fromStdString(t.text), dialog);
  group.addButton(radio);
  QObject::connect(radio, &QAbstractButton::clicked, dialog,
                   [dialog, id = t.id] { dialog->SendCommand(id); });
  return radio;
}

QWidget* MakeGroupBox(CDialog* dialog, const ControlTemplate& t) {
  auto* box = new QGroupBox(QString::fromStdString(t.text), dialog);
  // A group box only frames its neighbours: clicks go through it to what it frames.
  box->setAttribute(Qt::WA_TransparentForMouseEvents);
  return box;
}

QWidget* MakeStatic(CDialog* dialog, const ControlTemplate& t) {
  auto* label = new QLabel(QString::fromStdString(t.text), dialog);
  label->setWordWrap(true);
  label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  return label;
}

QWidget* MakeEdit(CDialog* dialog, const ControlTemplate& t) {
  auto* edit = new QLineEdit(dialog);
  edit->setFrame((t.style & kBorder) != 0);
  edit->setReadOnly((t.style & kReadOnly) != 0);
  if (t.style & kDigitsOnly) edit->setValidator(new DigitsValidator(edit));
  QObject::connect(edit, &QLineEdit::textChanged, dialog,
                   [dialog, id = t.id] { dialog->SendEditChange(id); });
  return edit;
}

QWidget* MakeIcon(CDialog* dialog, const ControlTemplate& t) {
  auto* label = new QLabel(dialog);
  const QSize size(GetSystemMetrics(SM_CXICON), GetSystemMetrics(SM_CYICON));
  label->setPixmap(AfxLoadIcon(t.iconId).pixmap(size));
  return label;
}

}  // namespace

void CMenu::AppendMenu(unsigned flags, unsigned id, const std::string& text) {
  if (flags & MF_SEPARATOR) {
    m_menu->addSeparator();
    return;
  }
  m_menu->addAction(QString::fromStdString(text))->setData(id);
}

void CPaintDC::DrawIcon(int x, int y, const QIcon& icon) {
  const int width = GetSystemMetrics(SM_CXICON);
  const int height = GetSystemMetrics(SM_CYICON);
  m_painter.drawPixmap(x, y, icon.pixmap(width, height));
}

int GetSystemMetrics(int index) {
  if (index != SM_CXICON && index != SM_CYICON) return 0;
  const QStyle* style = QApplication::style();
  return style != nullptr ? style->pixelMetric(QStyle::PM_LargeIconSize) : kDefaultIconSize;
}

DialogUnits DialogUnits::ForFont(const QFont& font) {
  const QFontMetrics metrics(font);
  const int letters = metrics.horizontalAdvance(QString::fromLatin1(kAlphabet));
  return {(letters + kAlphabetLetters / 2) / kAlphabetLetters, metrics.height()};
}

QRect DialogUnits::ToPixels(const DlgRect& r) const {
  return QRect(r.x * baseX / kDluPerBaseX, r.y * baseY / kDluPerBaseY, r.cx * baseX / kDluPerBaseX,
               r.cy * baseY / kDluPerBaseY);
}

QFont DialogFont(const DialogTemplate& dialogTemplate) {
  static const bool substituted = [] {
    QFont::insertSubstitution(QString::fromLatin1(kTemplateFontName),
                              QFontDatabase::systemFont(QFontDatabase::GeneralFont).family());
    return true;
  }();
  (void)substituted;
  QFont font(QString::fromStdString(dialogTemplate.fontName), dialogTemplate.pointSize);
  font.setStyleHint(QFont::SansSerif);
  return font;
}

CDialog::CDialog(int templateId, QWidget* parent) : QDialog(parent) {
  const auto& dialogs = AfxGetResources().dialogs;
  const auto found = dialogs.find(templateId);
  if (found == dialogs.end()) {
    throw std::out_of_range("no dialog template " + std::to_string(templateId));
  }
  const DialogTemplate& dialogTemplate = found->second;
  setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                 Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
  setWindowTitle(QString::fromStdString(dialogTemplate.caption));
  setFont(DialogFont(dialogTemplate));
  m_units = DialogUnits::ForFont(font());
  setFixedSize(m_units.ToPixels({0, 0, dialogTemplate.cx, dialogTemplate.cy}).size());
  BuildControls(dialogTemplate);
  BuildSystemMenu();
}

CDialog::~CDialog() = default;

void CDialog::BuildControls(const DialogTemplate& dialogTemplate) {
  QButtonGroup* radioGroup = nullptr;
  for (const ControlTemplate& t : dialogTemplate.controls) {
    if (t.style & kGroup) radioGroup = nullptr;
    if (t.kind == ControlKind::RadioButton && radioGroup == nullptr) {
      radioGroup = m_radioGroups.emplace_back(std::make_unique<QButtonGroup>()).get();
    }
    QWidget* widget = CreateControl(t, radioGroup);
    QRect place = m_units.ToPixels(t.rect);
    // An icon control takes the icon's own size, whatever the template's box says.
    if (t.kind == ControlKind::Icon) {
      place.setSize(QSize(GetSystemMetrics(SM_CXICON), GetSystemMetrics(SM_CYICON)));
    }
    widget->setGeometry(place);
    m_controls.push_back({t.id, t.kind, t.style, widget});
  }
  NameEditBoxes(dialogTemplate);
  SetUpKeyboard();
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

QWidget* CDialog::CreateControl(const ControlTemplate& t, QButtonGroup* radioGroup) {
  switch (t.kind) {
    case ControlKind::PushButton:
    case ControlKind::DefPushButton:
      return MakeButton(this, t);
    case ControlKind::RadioButton:
      return MakeRadio(this, t, *radioGroup);
    case ControlKind::GroupBox:
      return MakeGroupBox(this, t);
    case ControlKind::Static:
      return MakeStatic(this, t);
    case ControlKind::Edit:
      return MakeEdit(this, t);
    case ControlKind::Icon:
      return MakeIcon(this, t);
  }
  throw std::logic_error("unknown control kind");
}

// Tab order is template order over the controls that take focus; a label's "&" mnemonic
// moves to the next such control, as a static text has no focus of its own.
void CDialog::SetUpKeyboard() {
  QWidget* previous = nullptr;
  for (std::size_t i = 0; i < m_controls.size(); ++i) {
    const Control& control = m_controls[i];
    if (!TakesFocus(control.kind)) {
      control.widget->setFocusPolicy(Qt::NoFocus);
      if (control.kind == ControlKind::GroupBox) control.widget->lower();
      if (control.kind == ControlKind::Static) LinkMnemonic(i);
      continue;
    }
    control.widget->setFocusPolicy((control.style & kNoTabStop) ? Qt::ClickFocus : Qt::StrongFocus);
    if (previous != nullptr) setTabOrder(previous, control.widget);
    previous = control.widget;
  }
  auto* systemMenuKey = new QShortcut(QKeySequence(Qt::ALT | Qt::Key_Space), this);
  connect(systemMenuKey, &QShortcut::activated, this,
          [this] { ShowSystemMenu(mapToGlobal(QPoint(0, 0))); });
}

void CDialog::LinkMnemonic(std::size_t labelIndex) {
  auto* label = qobject_cast<QLabel*>(m_controls[labelIndex].widget);
  if (!label->text().contains(u'&')) return;
  for (std::size_t i = labelIndex + 1; i < m_controls.size(); ++i) {
    if (TakesFocus(m_controls[i].kind) && !(m_controls[i].style & kNoTabStop)) {
      label->setBuddy(m_controls[i].widget);
      return;
    }
  }
}

void CDialog::BuildSystemMenu() {
  m_systemMenu = new QMenu(this);
  m_systemMenuWrapper = std::make_unique<CMenu>(m_systemMenu);
  m_systemMenuWrapper->AppendMenu(MF_STRING, SC_MINIMIZE, "Mi&nimize");
  m_systemMenuWrapper->AppendMenu(MF_STRING, SC_CLOSE, "&Close");
  connect(m_systemMenu, &QMenu::triggered, this,
          [this](QAction* action) { SendSysCommand(action->data().toUInt()); });
}

int CDialog::DoModal() {
  m_ended = false;
  // A false return means OnInitDialog placed the focus itself; Qt keeps a focus set before
  // showing and otherwise starts at the first control in tab order, so both cases hold.
  OnInitDialog();
  const int result = m_ended ? this->result() : exec();
  const MessageEntry* entry = GetMessageMap().Find(Message::Destroy);
  if (entry != nullptr) {
    entry->handler(*this);
  } else {
    OnDestroy();
  }
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
  for (const Control& control : m_controls) {
    if (control.id == id) return control.widget;
  }
  return nullptr;
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

CMenu* CDialog::GetSystemMenu(bool /*revert*/) {
  return m_systemMenuWrapper.get();
}

void CDialog::ShowSystemMenu(const QPoint& globalPos) {
  m_systemMenu->popup(globalPos);
}

void CDialog::WinHelp(unsigned long /*data*/, unsigned /*command*/) {}

void CDialog::SendCommand(int id) {
  const MessageEntry* entry = GetMessageMap().Find(Message::Command, id);
  Guarded([&] {
    if (entry != nullptr) {
      entry->handler(*this);
    } else if (id == IDOK) {
      OnOK();
    } else if (id == IDCANCEL) {
      OnCancel();
    }
  });
}

void CDialog::SendEditChange(int id) {
  const MessageEntry* entry = GetMessageMap().Find(Message::EditChange, id);
  if (entry != nullptr) Guarded([&] { entry->handler(*this); });
}

void CDialog::SendSysCommand(unsigned id, long lParam) {
  const MessageEntry* entry = GetMessageMap().Find(Message::SysCommand);
  Guarded([&] {
    if (entry != nullptr) {
      entry->sysCommandHandler(*this, id, lParam);
    } else {
      OnSysCommand(id, lParam);
    }
  });
}

QIcon CDialog::SendQueryDragIcon() {
  const MessageEntry* entry = GetMessageMap().Find(Message::QueryDragIcon);
  return entry != nullptr ? entry->dragIconHandler(*this) : QIcon();
}

// A file error that escapes a handler is reported with the system's words, and the dialog
// carries on: the user can try again.
void CDialog::Guarded(const std::function<void()>& handler) {
  try {
    handler();
  } catch (const CFileException& e) {
    AfxMessageBox(e.what());
  }
}

bool CDialog::OnInitDialog() {
  UpdateData(false);
  return true;
}

void CDialog::OnOK() {
  if (!UpdateData(true)) return;
  EndDialog(IDOK);
}

void CDialog::OnCancel() {
  EndDialog(IDCANCEL);
}

void CDialog::DoDataExchange(CDataExchange* /*pDX*/) {}

const MessageMap& CDialog::GetMessageMap() const {
  static const MessageMap root;
  return root;
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
  const MessageEntry* entry = GetMessageMap().Find(Message::Paint);
  if (entry != nullptr) {
    entry->handler(*this);
  } else {
    OnPaint();
  }
}

void CDialog::closeEvent(QCloseEvent* event) {
  event->ignore();  // the close command decides, and may keep the dialog open
  SendSysCommand(SC_CLOSE);
}

void CDialog::contextMenuEvent(QContextMenuEvent* event) {
  // Only the background opens the system menu; static texts and frames count as background.
  QWidget* child = childAt(event->pos());
  if (child == nullptr || child->focusPolicy() == Qt::NoFocus) {
    ShowSystemMenu(event->globalPos());
  }
}

void CDialog::reject() {
  SendCommand(IDCANCEL);
}  // Esc
