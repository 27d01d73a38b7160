// CGeneratorApp: vrellok's application object. Start-up runs the generator dialog, and the
// program ends when it closes.
#pragma once

#include "platform/winapp.h"

class CGeneratorApp : public CWinApp {
 public:
  CGeneratorApp();
  bool InitInstance() override;
};
