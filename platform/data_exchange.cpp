#include "platform/data_exchange.h"

#include <QButtonGroup>
#include <QLineEdit>
#include <QRadioButton>
#include <string>

#include "platform/dialog.h"
#include "platform/prompts.h"

void CDataExchange::Fail(ExchangeFailure kind) {
  QWidget* control = m_pDlgWnd->GetDlgItem(m_idLastControl);
  if (control != nullptr) control->setFocus(Qt::OtherFocusReason);
  if (auto* edit = qobject_cast<QLineEdit*>(control)) edit->selectAll();
  throw DataExchangeFailure{kind};
}

void DDX_Text(CDataExchange* pDX, int id, int& value) {
  pDX->PrepareCtrl(id);
  auto* edit = qobject_cast<QLineEdit*>(pDX->m_pDlgWnd->GetDlgItem(id));
  if (edit == nullptr) return;
  if (!pDX->m_bSaveAndValidate) {
    edit->setText(QString::number(value));
    return;
  }
  // Qt's C-locale conversion takes blanks around an optional sign and decimal digits, and
  // refuses anything beyond 32 bits.
  bool isInteger = false;
  const int converted = edit->text().toInt(&isInteger, 10);
  if (!isInteger) {
    AfxMessageBox("Please enter an integer.");
    pDX->Fail(ExchangeFailure::conversion);
  }
  value = converted;
}

void DDX_Radio(CDataExchange* pDX, int id, int& value) {
  pDX->PrepareCtrl(id);
  std::vector<QRadioButton*> buttons = pDX->m_pDlgWnd->GetRadioGroup(id);
  if (pDX->m_bSaveAndValidate) {
    value = -1;
    for (std::size_t i = 0; i < buttons.size(); ++i) {
      if (buttons[i]->isChecked()) value = static_cast<int>(i);
    }
    return;
  }
  // An exclusive group refuses to have its checked button unchecked, but -1 means exactly that.
  QButtonGroup* group = buttons.empty() ? nullptr : buttons.front()->group();
  if (group != nullptr) group->setExclusive(false);
  for (std::size_t i = 0; i < buttons.size(); ++i) {
    buttons[i]->setChecked(static_cast<int>(i) == value);
  }
  if (group != nullptr) group->setExclusive(true);
}

void DDV_MinMaxInt(CDataExchange* pDX, int value, int minValue, int maxValue) {
  if (!pDX->m_bSaveAndValidate || (value >= minValue && value <= maxValue)) return;
  AfxMessageBox("Please enter an integer between " + std::to_string(minValue) + " and " +
                std::to_string(maxValue) + ".");
  pDX->Fail(ExchangeFailure::range);
}
