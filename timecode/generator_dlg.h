// CGeneratorDlg: vrellok's main window. It holds the four generator settings, shows them in its
// controls and runs the generate operation from its Generate button, on a second thread with a
// progress window and Cancel for long runs; the shell around it adds the About entry, the icons
// and minimized painting.
#pragma once

#include <functional>
#include <string>

#include "shell/main_dialog.h"
#include "timecode/timecode_generator.h"

class CGeneratorDlg : public CMainDialog {
 public:
  explicit CGeneratorDlg(QWidget* parent = nullptr);
  // The same with every run paced as PacedProgress paces it: pace is called on the working
  // thread after each batch and flush step. A test makes a run long this way to see the
  // progress window; the dialog itself is never called from that thread.
  explicit CGeneratorDlg(std::function<void()> pace, QWidget* parent = nullptr);

 protected:
  void DoDataExchange(CDataExchange* pDX) override;
  const MessageMap& GetMessageMap() const override;

  void OnGenerate();

  int m_sampleLength = 1000000;
  int m_typeChoice = FactsOf(TimecodeType::dtmfF).radioIndex;
  int m_methodChoice = 1;  // radio index: method = choice + 1
  int m_dtmfId = 1;

 private:
  GenerateOutcome GenerateWithProgress(const TimecodeSettings& settings);

  // The working storage of every Generate run: tone bank, zero block, file and frame state.
  TimecodeGenerator m_generator;
  std::function<void()> m_pace;  // empty: runs go as fast as the disk lets them
};
