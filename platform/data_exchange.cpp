#include "platform/data_exchange.h"

#include <QButtonGroup>
#include <QLineEdit>
#include <QRadioButton>
#include <cctype>
#include <climits>
#include <cstdint>
#include <string>

#include "platform/dialog.h"
#include "platform/prompts.h"

namespace {

constexpr int kDecimalBase = 10;

bool IsBlank(char c) {
  return std::isspace(static_cast<unsigned char>(c)) != 0;
}

// Decimal text to a 32-bit int: blanks, optional sign, at least one digit, blanks.
bool ParseInt(const std::string& text, int& result) {
  std::size_t i = 0;
  while (i < text.size() && IsBlank(text[i])) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  std::int64_t magnitude = 0;
  const std::size_t firstDigit = i;
  for (; i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])); ++i) {
    magnitude = magnitude * kDecimalBase + (text[i] - '0');
    if (magnitude > std::int64_t{INT_MAX} + 1) return false;
  }
  if (i == firstDigit) return false;
  while (i < text.size() && IsBlank(text[i])) ++i;
  if (i != text.size()) return false;
  const std::int64_t signedValue = negative ? -magnitude : magnitude;
  if (signedValue > INT_MAX || signedValue < INT_MIN) return false;
  result = static_cast<int>(signedValue);
  return true;
}

QLineEdit* EditOf(CDataExchange* pDX, int id) {
  return qobject_cast<QLineEdit*>(pDX->m_pDlgWnd->GetDlgItem(id));
}

}  // namespace

void CDataExchange::Fail(ExchangeFailure kind) {
  if (auto* edit = qobject_cast<QLineEdit*>(m_pDlgWnd->GetDlgItem(m_idLastControl))) {
    edit->setFocus(Qt::OtherFocusReason);
    edit->selectAll();
  } else if (QWidget* control = m_pDlgWnd->GetDlgItem(m_idLastControl)) {
    control->setFocus(Qt::OtherFocusReason);
  }
  throw DataExchangeFailure{kind};
}

void DDX_Text(CDataExchange* pDX, int id, int& value) {
  pDX->PrepareCtrl(id);
  QLineEdit* edit = EditOf(pDX, id);
  if (edit == nullptr) return;
  if (!pDX->m_bSaveAndValidate) {
    edit->setText(QString::number(value));
    return;
  }
  if (!ParseInt(edit->text().toStdString(), value)) {
    AfxMessageBox("Please enter an integer.");
    pDX->Fail(ExchangeFailure::conversion);
  }
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
