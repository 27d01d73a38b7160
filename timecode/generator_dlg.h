// CGeneratorDlg: vrellok's main window. It holds the four generator settings, shows them in its
// controls and runs the generate operation from its Generate button, on a second thread with a
// progress window and Cancel for long runs; the shell around it adds the About entry, the icons
// and minimized painting.
#pragma once

#include <string>

#include "shell/main_dialog.h"
#include "timecode/timecode_generator.h"

class CGeneratorDlg : public CMainDialog {
 public:
  explicit CGeneratorDlg(QWidget* parent = nullptr);

 protected:
  void DoDataExchange(CDataExchange* pDX) override;
  const MessageMap& GetMessageMap() const override;

  void OnGenerate();
  // One run on the working thread, which owns generator for the run: it touches nothing else of
  // this window, so an override must not either.
  virtual GenerateOutcome RunGenerator(TimecodeGenerator& generator,
                                       const TimecodeSettings& settings,
                                       GenerateProgress& progress) const;

  int m_sampleLength = 1000000;
  int m_typeChoice = FactsOf(TimecodeType::dtmfF).radioIndex;
  int m_methodChoice = 1;  // radio index: method = choice + 1
  int m_dtmfId = 1;

 private:
  GenerateOutcome GenerateWithProgress(const TimecodeSettings& settings);

  // The working storage of every Generate run: tone bank, zero block, file and frame state.
  TimecodeGenerator m_generator;
};
