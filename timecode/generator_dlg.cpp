#include "timecode/generator_dlg.h"

#include "platform/data_exchange.h"
#include "platform/prompts.h"
#include "resources/vrellok_rc.h"

CGeneratorDlg::CGeneratorDlg(QWidget* parent) : CMainDialog(IDD_MAIN_DIALOG, parent) {}

void CGeneratorDlg::DoDataExchange(CDataExchange* pDX) {
  CMainDialog::DoDataExchange(pDX);
  DDX_Text(pDX, IDC_SAMPLE_LENGTH, m_sampleLength);
  DDV_MinMaxInt(pDX, m_sampleLength, kMinSampleLength, kMaxSampleLength);
  DDX_Radio(pDX, IDC_TYPE_S, m_typeChoice);
  DDX_Radio(pDX, IDC_METHOD_1, m_methodChoice);
  DDX_Text(pDX, IDC_DTMF_ID, m_dtmfId);
  DDV_MinMaxInt(pDX, m_dtmfId, kMinDtmfId, kMaxDtmfId);
}

const MessageMap& CGeneratorDlg::GetMessageMap() const {
  static const MessageMap map(CMainDialog::GetMessageMap(),
                              {OnCommandEntry(IDC_GENERATE, &CGeneratorDlg::OnGenerate)});
  return map;
}

void CGeneratorDlg::OnGenerate() {
  // A value out of range is kept in its member and the operation's own check names it; a box
  // that held no integer left its member stale, and a file must never be written from that.
  if (!UpdateData(true) && GetExchangeFailure() == ExchangeFailure::conversion) return;
  const TimecodeSettings settings{m_typeChoice + 1, m_methodChoice + 1, m_sampleLength, m_dtmfId};
  std::string message;
  {
    CWaitCursor busy;  // the window does not answer until the whole file is written
    message = m_generator.Generate(settings);
  }
  AfxMessageBox(message);
}
