// The layout of loop's window: the views and commands built around the template's controls,
// and placed again whenever the window or its font changes.
#include <QComboBox>
#include <QLineEdit>
#include <QResizeEvent>
#include <QShortcut>
#include <algorithm>
#include <functional>
#include <initializer_list>

#include "loop/app/loop_dlg.h"
#include "loop/app/view_paint.h"
#include "resources/loop_rc.h"

namespace {

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

constexpr char kStandardLoopsText[] = "smpl loops";
constexpr char kStandardLoopsName[] = "Also write standard loops";
constexpr char kStandardLoopsTip[] =
    "Patch also writes the points as standard loops, a smpl chunk behind the samples that "
    "samplers and editors read: points 1-2, 3-4, ... as loops, an odd last point as a cue point";

}  // namespace

// The template fixes the dialog's size; the window now grows below it, and the template's
// controls keep their places while the views take whatever room there is.
void CLoopDlg::BuildViews() {
  m_templateSize = size();
  m_factsLine = new QLabel(kNoFileFacts, this);
  m_factsLine->setTextInteractionFlags(Qt::TextSelectableByMouse);
  m_loopStart = PointSelector("Loop start A", "Loop start A", 0);
  m_loopEnd = PointSelector("Loop end B", "Loop end B", 1);
  m_snap = CommandButton("Snap to zero",
                         "Move the point in focus to the nearest rising zero crossing (Z)");
  connect(m_snap, &QPushButton::clicked, this, [this] { OnSnapToZero(); });
  BuildPlayCommands();
  BuildStandardLoopsBox();
  m_seamScore = new QLabel(this);
  m_seamScore->setWordWrap(true);  // a narrow window wraps the verdict rather than cut it
  m_seamView = new SeamView(this);
  m_waveView = new WaveView(this);
  BuildSearch();
  ShowPlayCommands();
  ConnectPointEditing();
  SizeForViews();
}

// A choice of one of the points, with its label, that shows the seam when it changes.
QComboBox* CLoopDlg::PointSelector(const char* label, const char* name, int chosen) {
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
}

// A command of the row above the views.
QPushButton* CLoopDlg::CommandButton(const char* text, const char* tip) {
  auto* button = new QPushButton(text, this);
  button->setAutoDefault(false);
  button->setFocusPolicy(Qt::NoFocus);  // the point in focus stays in focus
  button->setToolTip(tip);
  return button;
}

// The points are set by dragging their markers, by clicking the waveform while a box has the
// focus, and by the boxes themselves.
void CLoopDlg::ConnectPointEditing() {
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
}

// The template's height plus the rows, then room for the views: at least a small waveform,
// at first a comfortable one.
void CLoopDlg::SizeForViews() {
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
