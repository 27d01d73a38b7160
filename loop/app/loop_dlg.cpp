#include "loop/app/loop_dlg.h"

#include <QApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <iterator>
#include <stdexcept>
#include <utility>

#include "loop/format/plain_copy.h"
#include "loop/format/smpl_writer.h"
#include "loop/format/wave_loops.h"
#include "platform/data_exchange.h"
#include "platform/prompts.h"
#include "resources/loop_rc.h"

namespace {

static_assert(std::size(kLoopPointIds) == kLoopPointCount);

constexpr char kOfferCopyText[] =
    "This wave file has more than the plain 44-byte header that loop can patch.\n\n";
constexpr char kOfferCopyQuestion[] = "Save a copy with the plain header and open it?";

constexpr char kDiscardText[] =
    "The loop points were edited but not patched into the file.\n\nDiscard the edits and exit?";

constexpr char kHelpText[] =
    "Click Open to open an wave file.\n\nEnter a loop value in the text box and press Patch.";

}  // namespace

CLoopDlg::CLoopDlg(CFile& waveFile, std::string fileToOpen) : CLoopDlg(waveFile) {
  m_fileToOpen = std::move(fileToOpen);
}

CLoopDlg::CLoopDlg(CFile& waveFile, QWidget* parent)
    : CMainDialog(IDD_MAIN_DIALOG, parent), m_waveFile(waveFile) {
  BuildViews();
}

bool CLoopDlg::OnInitDialog() {
  CMainDialog::OnInitDialog();
  UpdateData(false);
  ShowFile();
  if (!m_fileToOpen.empty()) LoadFile(m_fileToOpen);
  return true;
}

QLineEdit* CLoopDlg::PointBox(std::size_t index) const {
  return qobject_cast<QLineEdit*>(GetDlgItem(kLoopPointIds[index]));
}

// The box that has the focus: the commands' buttons and the view never take it.
std::optional<std::size_t> CLoopDlg::FocusedPoint() const {
  for (std::size_t i = 0; i < kLoopPointCount; ++i) {
    if (PointBox(i)->hasFocus()) return i;
  }
  return std::nullopt;
}

// The boxes are the truth: what they hold now, a box that holds no number counting as 0.
LoopPoints CLoopDlg::PointsInBoxes() const {
  LoopPoints points{};
  for (std::size_t i = 0; i < kLoopPointCount; ++i) {
    points[i] = PointBox(i)->text().toInt();
  }
  return points;
}

void CLoopDlg::SetPointBox(std::size_t index, std::uint64_t frame) {
  PointBox(index)->setText(QString::number(frame));
}

bool CLoopDlg::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::FocusIn) {
    for (std::size_t i = 0; i < kLoopPointCount; ++i) {
      if (watched == PointBox(i)) m_lastPoint = i;
    }
  }
  if (event->type() != QEvent::KeyPress && event->type() != QEvent::ShortcutOverride) {
    return CMainDialog::eventFilter(watched, event);
  }
  // The boxes take digits only, so these keys are free to be commands.
  const int key = static_cast<QKeyEvent*>(event)->key();
  const bool command = key == Qt::Key_Z || key == Qt::Key_Plus || key == Qt::Key_Minus ||
                       key == Qt::Key_Space || key == Qt::Key_L;
  if (!command) return CMainDialog::eventFilter(watched, event);
  if (event->type() == QEvent::KeyPress) {
    if (key == Qt::Key_Z) OnSnapToZero();
    if (key == Qt::Key_Plus) m_waveView->ZoomIn();
    if (key == Qt::Key_Minus) m_waveView->ZoomOut();
    if (key == Qt::Key_Space) OnPlayKey();
    if (key == Qt::Key_L && m_loop->isEnabled()) OnLoop();
  }
  event->accept();
  return true;
}

// Esc stops playing or searching first; with neither running it is Exit, as ever.
void CLoopDlg::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier &&
      (m_player.Playing() || m_search.Running())) {
    m_player.Stop();
    m_search.Cancel();
    event->accept();
    return;
  }
  CMainDialog::keyPressEvent(event);
}

// After a file was opened, or failed to open: the facts, the view, the tooltips and the seam.
void CLoopDlg::ShowFile() {
  m_player.Stop();  // what played and what was searched was the file shown until now
  ClearSearch();
  m_facts = WaveFacts{};
  m_samples = SampleReader();
  if (FileLoaded()) {
    m_facts = ReadWaveFacts(m_waveFile);
    m_samples.Open(m_waveFile.GetFilePath(), m_facts.channels, m_facts.frames);
  }
  std::string facts = kNoFileFacts;
  m_waveView->SetOwnPoints({});
  if (m_facts.frames > 0 || FileLoaded()) {
    facts = FactsLine(m_facts);
    try {
      const WaveLoops own = ReadWaveLoops(m_waveFile);
      m_waveView->SetOwnPoints(own);
      if (!own.Empty()) facts += "; own " + OwnLoopsText(own);
    } catch (const CFileException&) {
      // Loops that cannot be read are not shown; the table and the samples still are.
    }
  }
  for (const std::string& line : m_lookalikes) facts += "; " + line;
  m_factsLine->setText(QString::fromStdString(facts));
  m_factsLine->setToolTip(m_factsLine->text());  // the whole line, should the window cut it
  m_waveView->SetFile(FileLoaded() ? m_waveFile.GetFilePath() : std::string(), m_facts);
  m_seamView->SetSource(
      [this](std::uint64_t first, std::uint64_t count) { return m_samples.Read(first, count); },
      m_facts.channels, m_facts.sampleRate, m_samples.IsOpen() ? m_facts.frames : 0);
  PointsEdited();
}

void CLoopDlg::PointsEdited() {
  const LoopPoints points = PointsInBoxes();
  for (std::size_t i = 0; i < kLoopPointCount; ++i) {
    const bool timed = m_facts.sampleRate > 0 && points[i] >= 0;
    PointBox(i)->setToolTip(timed ? QString::fromStdString(FrameTime(
                                        static_cast<std::uint64_t>(points[i]), m_facts.sampleRate))
                                  : QString());
  }
  m_waveView->SetPoints(points);
  ShowSeam();
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
    ShowTable(ReadLoopTable(m_waveFile));
    m_tableLoaded = true;
  } catch (const CFileException& e) {
    // The file stays held, but a table that could not be read must not be written back over:
    // the dialog shows the empty state and Patch asks for a file.
    AfxMessageBox(e.what());
    m_tableLoaded = false;
    ShowTable(LoopTable{});
  }
  ShowFile();
  if (m_tableLoaded && DataSizeUnset(m_waveFile)) AfxMessageBox(kSizeUnsetReadText);
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
  std::optional<SourceFormat> convertible;
  try {
    refusal = TableRefusal(file);
    copyable = refusal == kNotCanonicalText && CanMakePlainCopy(file);
    if (refusal == kNotPcm16Text) convertible = ConvertibleFormat(file);
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
  } else if (convertible) {
    OfferConversion(path, *convertible);
  } else {
    AfxMessageBox(refusal);
  }
  return false;
}

// Yes, a name, and a copy that was written: the copy is opened as if chosen with Open File.
// Anything else leaves the dialog as it was.
void CLoopDlg::OfferPlainCopy(const std::string& path) {
  const std::string kept = KeptChunksTextOf(path);
  const std::string offer =
      kOfferCopyText + (kept.empty() ? "" : kept + ".\n\n") + kOfferCopyQuestion;
  if (AfxMessageBox(offer, MB_YESNO) != IDYES) return;
  LoopPoints table{};
  if (!AskToTakeOverOwnPoints(path, table)) return;
  const std::string proposed = PlainCopyName(path);
  CFileDialog saveDialog(false, proposed.c_str(), kWaveFilter, this);
  if (saveDialog.DoModal() != IDOK) return;
  PlainCopyOutcome outcome;
  std::string note;
  {
    const CWaitCursor busy;  // a long recording takes a while to copy
    outcome = WritePlainCopy(path, saveDialog.GetPathName(), &note, table);
  }
  if (outcome.kind != PlainCopyOutcome::Kind::copied) {
    AfxMessageBox(PlainCopyText(outcome));
    return;
  }
  if (!note.empty()) AfxMessageBox(note);
  LoadFile(saveDialog.GetPathName());
}

// A file with loops or cue points of its own may hand them to the copy as its loop points;
// the question names every point and says which ones the table cannot take. False when the
// file could not be read: there is nothing to copy then.
bool CLoopDlg::AskToTakeOverOwnPoints(const std::string& path, LoopPoints& table) {
  std::optional<OwnPointsPlan> plan;
  try {
    plan = PlanOwnPoints(path);
  } catch (const CFileException& e) {
    AfxMessageBox(e.what());
    return false;
  }
  if (!plan || plan->own.Empty()) return true;
  const std::string taken = TakenText(plan->taken);
  const std::string leftOver = LeftOverText(plan->taken);
  const std::string found = "The file has its own " + OwnLoopsText(plan->own) + ".";
  if (taken.empty()) {
    AfxMessageBox(found + "\n\nNone of them can be a loop point of the copy. " + leftOver);
    return true;
  }
  const std::string question = found + "\n\nTake them over as the copy's loop points (" + taken +
                               ")?" + (leftOver.empty() ? "" : "\n\n" + leftOver);
  if (AfxMessageBox(question, MB_YESNO) == IDYES) table = plan->taken.points;
  return true;
}

void CLoopDlg::OnPatch() {
  if (!FileLoaded()) {
    AfxMessageBox(kNoFileText);
    return;
  }
  if (!UpdateData(true)) return;  // the prompt has pointed at the box to correct
  try {
    if (m_standardLoops->isChecked()) WriteStandardLoops(m_waveFile, m_channelByte, m_loopPoints);
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
    if (!m_waveFile.IsOpen()) m_tableLoaded = false;
    return;
  }
  m_player.Stop();
  m_search.Abandon();
  AfxMessageBox(kPatchedText, MB_ICONINFORMATION);
  CDialog::OnCancel();  // not OnExit: the file is closed already
}

// Whatever Patch wrote has been flushed, so a close that fails here has nothing to lose and
// must not keep the user from leaving. Edits not yet patched are asked about first; Enter keeps
// them. Esc and the window's close button come here too.
void CLoopDlg::OnExit() {
  if (EditsUnpatched() && AfxMessageBox(kDiscardText, MB_YESNO | MB_DEFBUTTON2) != IDYES) return;
  m_search.Abandon();
  m_player.Stop();
  m_waveFile.Abort();
  EndDialog(IDCANCEL);
}

void CLoopDlg::OnHelp() {
  AfxMessageBox(kHelpText);
}

void CLoopDlg::Unload() {
  m_waveFile.Abort();
  m_tableLoaded = false;
  ShowFile();
}

// A box whose text differs from the point the file holds was edited; with no table loaded
// there is nothing the edits could be patched into.
bool CLoopDlg::EditsUnpatched() const {
  if (!FileLoaded()) return false;
  for (std::size_t i = 0; i < kLoopPointCount; ++i) {
    if (PointBox(i)->text() != QString::number(m_pointsInFile[i])) return true;
  }
  return false;
}

void CLoopDlg::ShowTable(const LoopTable& table) {
  m_pointsInFile = table.loopPoints;
  m_channelByte = table.channelByte;
  m_channelCount = table.channelCount;
  m_loopPoints = table.loopPoints;
  m_lookalikes = table.lookalikes;
  UpdateData(false);
}
