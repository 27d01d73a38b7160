// Dialog data exchange: the DDX_ functions move a member to its control or back, the DDV_
// functions check a saved value. A failure shows the standard prompt, focuses the control,
// selects its text and stops the exchange, so UpdateData returns false.
#pragma once

class CDialog;

// Why a saving exchange stopped: a box held no integer, or a value lay outside its range.
// A caller that acts on the saved members needs to know: after a range failure the member holds
// the entered value, after a conversion failure it still holds the old one.
enum class ExchangeFailure { none, conversion, range };

// Thrown by CDataExchange::Fail and caught by CDialog::UpdateData; the prompt is already shown.
struct DataExchangeFailure {
  ExchangeFailure kind;
};

class CDataExchange {
 public:
  CDataExchange(CDialog* dialog, bool saveAndValidate)
      : m_bSaveAndValidate(saveAndValidate), m_pDlgWnd(dialog) {}

  // Remembers the control the next DDV_ check refers to.
  void PrepareCtrl(int id) { m_idLastControl = id; }
  // Focuses the last prepared control, selects its text and ends the exchange.
  [[noreturn]] void Fail(ExchangeFailure kind);

  bool m_bSaveAndValidate;  // true: controls to members
  CDialog* m_pDlgWnd;
  int m_idLastControl = 0;
};

// An int in an edit box. Saving accepts an optional sign and decimal digits within 32 bits,
// with blanks around them; anything else prompts "Please enter an integer." and leaves the
// member as it was.
void DDX_Text(CDataExchange* pDX, int id, int& value);

// The index of the checked button in the radio group that starts with id, counted in template
// order; -1 when none is checked.
void DDX_Radio(CDataExchange* pDX, int id, int& value);

// When saving, the value must lie in [minValue, maxValue]; a value outside keeps its place in
// the member and prompts "Please enter an integer between A and B.".
void DDV_MinMaxInt(CDataExchange* pDX, int value, int minValue, int maxValue);
