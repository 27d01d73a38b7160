// The About box: dialog 100 of whichever program links it, with no fields or handlers of its
// own; its OK button closes it.
#pragma once

#include "platform/dialog.h"

class CAboutDlg : public CDialog {
 public:
  explicit CAboutDlg(QWidget* parent = nullptr);
};
