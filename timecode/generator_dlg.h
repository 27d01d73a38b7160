// CGeneratorDlg: vrellok's main window. It holds the four generator settings, shows them in its
// controls and runs the generate operation from its Generate button, on a second thread with a
// progress window and Cancel for long runs; the shell around it adds the About entry, the icons
// and minimized painting.
#pragma once

#include "shell/main_dialog.h"
#include "timecode/timecode_generator.h"

class CGeneratorDlg : public CMainDialog {
 public:
  explicit CGeneratorDlg(QWidget* parent = nullptr);

 protected:
  void DoDataExchange(CDataExchange* pDX) override;
  const MessageMap& GetMessageMap() const override;

  void OnGenerate();
  // Called on the working thread after each batch written and each step flushed, where a run
  // can be cancelled; a test slows a run down here to see the progress window.
  virtual void BetweenBatches() {}

  int m_sampleLength = 1000000;
  int m_typeChoice = 1;    // radio index: 0 is DTMF-S (36015 Hz), 1 is DTMF-F (44100 Hz)
  int m_methodChoice = 1;  // radio index: method = choice + 1
  int m_dtmfId = 1;

 private:
  std::string GenerateWithProgress(const TimecodeSettings& settings);

  // The working storage of every Generate run: tone bank, zero block, file and frame state.
  TimecodeGenerator m_generator;
};
