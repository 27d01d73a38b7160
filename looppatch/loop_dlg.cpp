#include "looppatch/loop_dlg.h"

#include <QApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QResizeEvent>
#include <QShortcut>
#include <functional>
#include <iterator>
#include <stdexcept>
#include <utility>

#include "looppatch/loop_app.h"
#include "looppatch/plain_copy.h"
#include "looppatch/smpl_writer.h"
#include "looppatch/view_paint.h"
#include "looppatch/wave_loops.h"
#include "platform/data_exchange.h"
#include "platform/prompts.h"
#include "resources/loop_rc.h"

namespace {

static_assert(std::size(kLoopPointIds) == kLoopPointCount);

constexpr char kOfferCopyText[] =
    "This wave file has more than the plain 44-byte header that loop can patch.\n\n";
constexpr char kOfferCopyQuestion[] = "Save a copy with the plain header and open it?";
// Room below the template's controls: the facts line, one row of commands, the views; all in
// lines and average characters of the dialog's font, as the template's places are.
constexpr double kGapLines = 0.4;
constexpr double kRowLines = 1.7;
constexpr int kWaveMinLines = 12;
constexpr int kWaveStartLines = 26;
constexpr int kStartChars = 130;  // room for the row of commands
constexpr int kSeamMinChars = 30;
constexpr double kSeamShare = 0.3;              // of the row of views, as the window grows
constexpr char kLabelProperty[] = "loopLabel";  // a selector's label, for the layout

constexpr char kPlayTip[] =
    "Play from the point in focus, or from the left edge of the view, to the end (Space)";
constexpr char kLoopTip[] = "Play loop start A to loop end B again and again (L)";
constexpr char kStopTip[] = "Stop playing (Space or Esc)";
constexpr char kCannotPlayText[] = "The sound output refused to play this file.";
constexpr char kOutputFailedText[] = "Playing stopped: the sound output failed.";

constexpr char kStandardLoopsText[] = "smpl loops";
constexpr char kStandardLoopsName[] = "Also write standard loops";
constexpr char kStandardLoopsTip[] =
    "Patch also writes the points as standard loops, a smpl chunk behind the samples that "
    "samplers and editors read: points 1-2, 3-4, ... as loops, an odd last point as a cue point";

constexpr char kDiscardText[] =
    "The loop points were edited but not patched into the file.\n\nDiscard the edits and exit?";

constexpr char kHelpText[] =
    "Click Open to open an wave file.\n\nEnter a loop value in the text box and press Patch.";

}  // namespace

CLoopDlg::CLoopDlg(QWidget* parent) : CLoopDlg(GetLoopApp().m_waveFile, parent) {
  m_fileToOpen = GetLoopApp().m_fileToOpen;
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

// The template fixes the dialog's size; the window now grows below it, and the template's
// controls keep their places while the views take whatever room there is.
void CLoopDlg::BuildViews() {
  m_templateSize = size();
  m_factsLine = new QLabel(kNoFileFacts, this);
  m_factsLine->setTextInteractionFlags(Qt::TextSelectableByMouse);
  const auto selector = [this](const char* label, const char* name, int chosen) {
    auto* text = new QLabel(label, this);
    auto* box = new QComboBox(this);
    for (std::size_t i = 0; i < kLoopPointCount; ++i) box->addItem(QString::number(i + 1));
    box->setCurrentIndex(chosen);
    box->setAccessibleName(name);
    box->setFocusPolicy(Qt::TabFocus);
    text->setBuddy(box);
    box->setProperty(kLabelProperty, QVariant::fromValue(static_cast<QObject*>(text)));
    connect(box, &QComboBox::currentIndexChanged, this, [this] { ShowSeam(); });
    return box;
  };
  const auto command = [this](const char* text, const char* tip) {
    auto* button = new QPushButton(text, this);
    button->setAutoDefault(false);
    button->setFocusPolicy(Qt::NoFocus);  // the point in focus stays in focus
    button->setToolTip(tip);
    return button;
  };
  m_loopStart = selector("Loop start A", "Loop start A", 0);
  m_loopEnd = selector("Loop end B", "Loop end B", 1);
  m_snap =
      command("Snap to zero", "Move the point in focus to the nearest rising zero crossing (Z)");
  connect(m_snap, &QPushButton::clicked, this, [this] { OnSnapToZero(); });
  m_play = command("Play", kPlayTip);
  m_loop = command("Loop A to B", kLoopTip);
  m_stop = command("Stop", kStopTip);
  connect(m_play, &QPushButton::clicked, this, [this] { OnPlay(); });
  connect(m_loop, &QPushButton::clicked, this, [this] { OnLoop(); });
  connect(m_stop, &QPushButton::clicked, this, [this] { m_player.Stop(); });
  m_player.onCursor = [this](std::optional<std::uint64_t> frame) {
    m_waveView->SetPlayCursor(frame);
  };
  m_player.onAvailabilityChanged = [this] { ShowPlayCommands(); };
  m_player.onFailed = [this] { AfxMessageBox(kOutputFailedText); };
  BuildStandardLoopsBox();
  m_seamScore = new QLabel(this);
  m_seamScore->setWordWrap(true);  // a narrow window wraps the verdict rather than cut it
  m_seamView = new SeamView(this);
  m_waveView = new WaveView(this);
  BuildSearch();
  ShowPlayCommands();
  m_waveView->onMarkerMoved = [this](std::size_t i, std::uint64_t frame) {
    m_lastPoint = i;
    SetPointBox(i, frame);
  };
  // Outside the boxes (which take these keys themselves) the keys still reach the commands,
  // so Z snaps the point last worked on while the selectors or buttons have the focus.
  const auto key = [this](Qt::Key k, const std::function<void()>& run) {
    connect(new QShortcut(QKeySequence(k), this), &QShortcut::activated, this, run);
  };
  key(Qt::Key_Z, [this] { OnSnapToZero(); });
  key(Qt::Key_Plus, [this] { m_waveView->ZoomIn(); });
  key(Qt::Key_Minus, [this] { m_waveView->ZoomOut(); });
  m_waveView->onClicked = [this](std::uint64_t frame) {
    if (const auto point = FocusedPoint()) SetPointBox(*point, frame);
  };
  for (std::size_t i = 0; i < kLoopPointCount; ++i) {
    QLineEdit* box = PointBox(i);
    box->installEventFilter(this);
    connect(box, &QLineEdit::textChanged, this, [this] { PointsEdited(); });
  }
  const FontUnits units(fontMetrics());
  const int rows =
      m_templateSize.height() + static_cast<int>((2 * kGapLines + 3 * kRowLines) * units.line);
  setMinimumSize(m_templateSize.width(), rows + kWaveMinLines * units.line);
  setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
  resize(std::max(m_templateSize.width(), kStartChars * units.cx),
         rows + kWaveStartLines * units.line);
}

// Beside Patch, under Help, where the template leaves the column free.
void CLoopDlg::BuildStandardLoopsBox() {
  m_standardLoops = new QCheckBox(kStandardLoopsText, this);
  m_standardLoops->setAccessibleName(kStandardLoopsName);
  m_standardLoops->setToolTip(kStandardLoopsTip);
  const QWidget* help = GetDlgItem(ID_HELP);
  const int gap = help->height() / 3;
  m_standardLoops->setGeometry(help->x(), help->y() + help->height() + gap, help->width() + gap,
                               m_standardLoops->sizeHint().height());
}

void CLoopDlg::resizeEvent(QResizeEvent* event) {
  CMainDialog::resizeEvent(event);
  PlaceViews();
}

// A new desktop font resizes the rows and views as it resizes the dialog's own text.
void CLoopDlg::changeEvent(QEvent* event) {
  CMainDialog::changeEvent(event);
  if (event->type() == QEvent::FontChange) PlaceViews();
}

// The facts line, then the row of selectors and commands at their natural widths, then the
// waveform and, beside it, the seam, both taking whatever room the window has.
void CLoopDlg::PlaceViews() {
  const FontUnits units(fontMetrics());
  const int gap = static_cast<int>(kGapLines * units.line);
  const int row = static_cast<int>(kRowLines * units.line);
  const int w = width() - 2 * gap;
  int y = m_templateSize.height();
  m_factsLine->setGeometry(gap, y, w, row);
  y += row;
  int x = gap;
  const auto place = [&](QWidget* widget, int spaceAfter) {
    widget->setGeometry(x, y, widget->sizeHint().width(), row);
    x += widget->sizeHint().width() + spaceAfter;
  };
  for (QComboBox* selector : {m_loopStart, m_loopEnd}) {
    place(static_cast<QLabel*>(selector->property(kLabelProperty).value<QObject*>()), gap / 2);
    place(selector, 2 * gap);
  }
  for (QWidget* button : std::initializer_list<QWidget*>{m_snap, m_play, m_loop, m_stop}) {
    place(button, gap);
  }
  y += row + gap / 2;
  PlaceSearchRow(y, row, gap);
  y += row + gap;
  const int viewHeight = std::max(0, height() - y - gap);
  const int seamWidth = std::max(kSeamMinChars * units.cx, static_cast<int>(w * kSeamShare));
  const int seamX = width() - gap - seamWidth;
  m_waveView->setGeometry(gap, y, std::max(0, w - seamWidth - gap), viewHeight);
  const int caption = 2 * units.line + gap;  // two lines: a verdict and its level, wrapped
  m_seamScore->setGeometry(seamX, y, seamWidth, caption);
  const int found = PlaceFound(seamX, y + viewHeight, seamWidth, row);
  m_seamView->setGeometry(seamX, y + caption, seamWidth, std::max(0, found - y - caption));
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

// Without an output the play commands are off, and say why.
void CLoopDlg::ShowPlayCommands() {
  const bool available = m_player.Available();
  if (!available) m_player.Stop();
  const std::pair<QPushButton*, const char*> commands[] = {
      {m_play, kPlayTip}, {m_loop, kLoopTip}, {m_stop, kStopTip}};
  for (const auto& [button, tip] : commands) {
    button->setEnabled(available);
    button->setToolTip(available ? tip : kNoOutputText);
  }
}

// Space stops what plays, or else plays from the point in focus.
void CLoopDlg::OnPlayKey() {
  if (m_player.Playing()) {
    m_player.Stop();
  } else if (m_play->isEnabled()) {
    OnPlay();
  }
}

void CLoopDlg::OnPlay() {
  if (!m_samples.IsOpen()) return;
  std::uint64_t from = static_cast<std::uint64_t>(m_waveView->FirstFrame());
  if (const auto point = FocusedPoint()) {
    const int value = PointsInBoxes()[*point];
    if (value < 0) return;
    from = static_cast<std::uint64_t>(value);
  }
  if (from >= m_facts.frames || !StillTheOpenedFile()) return;
  if (!m_player.PlayFrom(m_samples, m_facts, from)) AfxMessageBox(kCannotPlayText);
}

// A to B as the seam shows it: B is the last frame played before the jump back to A.
void CLoopDlg::OnLoop() {
  const auto loop = LoopRange();
  if (loop && StillTheOpenedFile() &&
      !m_player.Loop(m_samples, m_facts, loop->first, loop->second)) {
    AfxMessageBox(kCannotPlayText);
  }
}

// What plays is the file opened; one saved over it since is not heard with the old file's rate
// and channels, but named, as Patch names it.
bool CLoopDlg::StillTheOpenedFile() {
  if (StillAtItsPath(m_waveFile)) return true;
  AfxMessageBox(kReplacedText);
  return false;
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
