#include "looppatch/loop_dlg.h"

#include <iterator>
#include <stdexcept>
#include <utility>

#include "looppatch/loop_app.h"
#include "looppatch/plain_copy.h"
#include "platform/data_exchange.h"
#include "platform/prompts.h"
#include "resources/loop_rc.h"

namespace {

static_assert(std::size(kLoopPointIds) == kLoopPointCount);

constexpr char kWaveFilter[] = "Wave Files(*.wav)|*.wav|All Files(*.*)|*.*|||";

constexpr char kNoFileText[] = "You must open a file first";
constexpr char kOfferCopyText[] =
    "This wave file has more than the plain 44-byte header that loop can patch.\n\n"
    "Save a copy with the plain header and open it?";
constexpr char kHelpText[] =
    "Click Open to open an wave file.\n\nEnter a loop value in the text box and press Patch.";

}  // namespace

CLoopDlg::CLoopDlg(QWidget* parent) : CLoopDlg(GetLoopApp().m_waveFile, parent) {
  m_fileToOpen = GetLoopApp().m_fileToOpen;
}

CLoopDlg::CLoopDlg(CFile& waveFile, QWidget* parent)
    : CMainDialog(IDD_MAIN_DIALOG, parent), m_waveFile(waveFile) {}

bool CLoopDlg::OnInitDialog() {
  CMainDialog::OnInitDialog();
  UpdateData(false);
  if (!m_fileToOpen.empty()) LoadFile(m_fileToOpen);
  return true;
}

void CLoopDlg::DoDataExchange(CDataExchange* pDX) {
  CMainDialog::DoDataExchange(pDX);
  DDX_Text(pDX, IDC_CHANNELS, m_channelCount);
  for (std::size_t i = 0; i < kLoopPointCount; ++i) {
    DDX_Text(pDX, kLoopPointIds[i], m_loopPoints[i]);
  }
}

const MessageMap& CLoopDlg::GetMessageMap() const {
  static const MessageMap map(
      CMainDialog::GetMessageMap(),
      {
          OnCommandEntry(IDC_OPEN_FILE, &CLoopDlg::OnOpenFile),
          OnCommandEntry(IDOK, &CLoopDlg::OnPatch),
          OnCommandEntry(IDCANCEL, &CLoopDlg::OnExit),
          OnCommandEntry(ID_HELP, &CLoopDlg::OnHelp),
          OnEditChangeEntry(IDC_LOOP_POINT_1, &CLoopDlg::OnChangeLoopPoint1),
          OnEditChangeEntry(IDC_CHANNELS, &CLoopDlg::OnChangeChannels),
          OnDestroyEntry(&CLoopDlg::OnDestroy),
      });
  return map;
}

void CLoopDlg::OnOpenFile() {
  CFileDialog fileDialog(true, nullptr, kWaveFilter, this);
  if (fileDialog.DoModal() != IDOK) return;
  Invalidate();
  UpdateWindow();  // clear the file dialog's traces before the file is read
  LoadFile(fileDialog.GetPathName());
}

void CLoopDlg::LoadFile(const std::string& path) {
  // Choosing the loaded file again reads its table afresh, dropping unsaved edits; opening it
  // a second time would only meet our own lock.
  if (!m_waveFile.RefersTo(path) && !HoldNewFile(path)) return;
  try {
    m_loadedLength = m_waveFile.GetLength();
    ShowTable(ReadLoopTable(m_waveFile));
  } catch (const CFileException& e) {
    // The file stays held, but a table that could not be read must not be written back over:
    // the dialog shows the empty state and Patch asks for a file.
    AfxMessageBox(e.what());
    m_loadedLength = 0;
    ShowTable(LoopTable{});
  }
}

// The new file is opened beside the loaded one, which is let go only once the new one has
// proved to be a wave file the table can be written into: a failed open never leaves Patch
// pointing at nothing.
bool CLoopDlg::HoldNewFile(const std::string& path) {
  CFile file;
  if (!file.Open(path, kPatchMode)) {
    AfxMessageBox(kOpenErrorText);
    return false;
  }
  std::string refusal;
  bool copyable = false;
  try {
    refusal = CheckPatchable(file);
    copyable = refusal == kNotCanonicalText && CanMakePlainCopy(file);
  } catch (const CFileException& e) {
    refusal = e.what();  // the header could not be read: this file cannot be held either
  }
  if (refusal.empty()) {
    m_waveFile = std::move(file);
    return true;
  }
  file.Abort();  // the copy reads the file, and our own lock would keep it out
  if (copyable) {
    OfferPlainCopy(path);
  } else {
    AfxMessageBox(refusal);
  }
  return false;
}

// Yes, a name, and a copy that was written: the copy is opened as if chosen with Open File.
// Anything else leaves the dialog as it was.
void CLoopDlg::OfferPlainCopy(const std::string& path) {
  if (AfxMessageBox(kOfferCopyText, MB_YESNO) != IDYES) return;
  const std::string proposed = PlainCopyName(path);
  CFileDialog saveDialog(false, proposed.c_str(), kWaveFilter, this);
  if (saveDialog.DoModal() != IDOK) return;
  std::string failure;
  {
    const CWaitCursor busy;  // a long recording takes a while to copy
    failure = WritePlainCopy(path, saveDialog.GetPathName());
  }
  if (!failure.empty()) {
    AfxMessageBox(failure);
    return;
  }
  LoadFile(saveDialog.GetPathName());
}

void CLoopDlg::OnPatch() {
  if (!FileLoaded()) {
    AfxMessageBox(kNoFileText);
    return;
  }
  if (!UpdateData(true)) return;  // the prompt has pointed at the box to correct
  try {
    WriteLoopTable(m_waveFile, m_channelByte, m_loopPoints);
  } catch (const std::invalid_argument& refusal) {
    AfxMessageBox(refusal.what());  // nothing written
    // A file replaced or removed since it was opened is gone for good: nothing left to patch.
    if (!StillAtItsPath(m_waveFile)) Unload();
    return;
  } catch (const CFileException& e) {
    AfxMessageBox(e.what());
    // A failed write or flush keeps the file open, so Patch can be tried again; a failed close
    // has let go of it, and then there is nothing left to patch.
    if (!m_waveFile.IsOpen()) m_loadedLength = 0;
    return;
  }
  AfxMessageBox(kPatchedText, MB_ICONINFORMATION);
  CDialog::OnCancel();  // not OnExit: the file is closed already
}

// Whatever Patch wrote has been flushed, so a close that fails here has nothing to lose and
// must not keep the user from leaving.
void CLoopDlg::OnExit() {
  m_waveFile.Abort();
  EndDialog(IDCANCEL);
}

void CLoopDlg::OnHelp() {
  AfxMessageBox(kHelpText);
}

void CLoopDlg::Unload() {
  m_waveFile.Abort();
  m_loadedLength = 0;
}

void CLoopDlg::ShowTable(const LoopTable& table) {
  m_channelByte = table.channelByte;
  m_channelCount = table.channelCount;
  m_loopPoints = table.loopPoints;
  UpdateData(false);
}
