#include "timecode/generator_dlg.h"

#include <cstdint>
#include <string>
#include <utility>

#include "platform/data_exchange.h"
#include "platform/progress.h"
#include "platform/prompts.h"
#include "resources/vrellok_rc.h"
#include "timecode/paced_progress.h"

namespace {

// Between the generate operation and the progress window; runs on the working thread.
class WindowProgress : public GenerateProgress {
 public:
  explicit WindowProgress(ProgressState& state) : m_state(state) {}
  void Written(std::uint64_t done, std::uint64_t total) override { m_state.SetCounts(done, total); }
  void Flushing() override { m_state.SetNote("Flushing TC.wav to the disk..."); }
  bool CancelRequested() override { return m_state.CancelRequested(); }

 private:
  ProgressState& m_state;
};

}  // namespace

CGeneratorDlg::CGeneratorDlg(QWidget* parent) : CMainDialog(IDD_MAIN_DIALOG, parent) {}

CGeneratorDlg::CGeneratorDlg(std::function<void()> pace, QWidget* parent)
    : CMainDialog(IDD_MAIN_DIALOG, parent), m_pace(std::move(pace)) {}

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
  const TimecodeSettings settings{TimecodeTypeOfRadio(m_typeChoice).value_or(TimecodeType::dtmfF),
                                  m_methodChoice + 1, m_sampleLength, m_dtmfId};
  const GenerateOutcome outcome = GenerateWithProgress(settings);
  // A cancelled run has nothing to report: the folder is as it was before Generate.
  if (outcome == GenerateOutcome::cancelled) return;
  AfxMessageBox(GenerateText(outcome, settings.type),
                outcome == GenerateOutcome::created ? MB_ICONINFORMATION : MB_ICONWARNING);
}

GenerateOutcome CGeneratorDlg::GenerateWithProgress(const TimecodeSettings& settings) {
  GenerateOutcome outcome = GenerateOutcome::cancelled;
  // The working thread gets the generator (no Qt), its own copy of the pace and nothing else of
  // this window.
  auto work = [&outcome, &settings, &generator = m_generator, pace = m_pace](ProgressState& state) {
    WindowProgress window(state);
    PacedProgress progress(window, pace);
    outcome = generator.Generate(settings, progress);
  };
  RunWithProgress(this, "Writing TC.wav...", work);
  return outcome;
}
