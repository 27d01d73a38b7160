#include "platform/progress.h"

#include <QApplication>
#include <QDialog>
#include <QEventLoop>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>
#include <exception>
#include <thread>
#include <utility>

#include "progress/percent.h"

namespace {

// Often enough that the bar moves smoothly and a press of Cancel shows at once.
constexpr int kRefreshMs = 50;
constexpr int kMinimumWidth = 320;
// What QEventLoop::exec returns once QCoreApplication::exit has been called.
constexpr int kQuitting = -1;

class ProgressWindow : public QDialog {
 public:
  ProgressWindow(QWidget* parent, const std::string& label, ProgressState& state)
      : QDialog(parent), m_labelText(QString::fromStdString(label)), m_state(state) {
    setWindowTitle(parent != nullptr ? parent->windowTitle() : QString());
    setWindowModality(Qt::ApplicationModal);
    setMinimumWidth(kMinimumWidth);
    m_bar.setRange(0, kPercent);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(&m_label);
    layout->addWidget(&m_bar);
    layout->addWidget(&m_cancel, 0, Qt::AlignRight);
    QObject::connect(&m_cancel, &QPushButton::clicked, this, [this] { reject(); });
    Refresh();
  }

  void Refresh() {
    const std::string note = m_state.Note();
    m_label.setText(m_state.CancelRequested() ? QString("Cancelling...")
                    : note.empty()            ? m_labelText
                                              : QString::fromStdString(note));
    m_bar.setValue(m_state.Percent());
  }

  // Esc, the close button and Cancel all ask the work to stop; the window stays until it has.
  void reject() override {
    m_state.RequestCancel();
    m_cancel.setEnabled(false);
    Refresh();
  }

 private:
  QString m_labelText;
  ProgressState& m_state;
  QLabel m_label;
  QProgressBar m_bar;
  QPushButton m_cancel{"Cancel"};
};

}  // namespace

void ProgressState::SetCounts(std::uint64_t done, std::uint64_t total) {
  m_total.store(total);
  m_done.store(done);
}

void ProgressState::SetNote(std::string text) {
  const std::lock_guard lock(m_noteGuard);
  m_note = std::move(text);
}

int ProgressState::Percent() const {
  return PercentDone(m_done.load(), m_total.load());
}

std::string ProgressState::Note() const {
  const std::lock_guard lock(m_noteGuard);
  return m_note;
}

namespace {

// The first short wait: the windows paint but take no input, as a busy window always has.
// True when the application began to quit meanwhile (exec returns -1 then, and every event loop
// returns at once, so waiting in one would only spin).
bool WaitPatiently(QEventLoop& loop, const std::atomic<bool>& finished) {
  QTimer patience;
  patience.setSingleShot(true);
  QObject::connect(&patience, &QTimer::timeout, &loop, &QEventLoop::quit);
  patience.start(kShowProgressAfterMs);
  QApplication::setOverrideCursor(Qt::WaitCursor);
  bool quitting = false;
  if (!finished.load()) {
    quitting = loop.exec(QEventLoop::ExcludeUserInputEvents) == kQuitting;
  }
  QApplication::restoreOverrideCursor();
  return quitting;
}

// The progress window with its Cancel button, until the work has finished or the application
// quits (which asks the work to stop, as Cancel does).
void ShowProgressUntilFinished(QWidget* parent, const std::string& label, ProgressState& state,
                               QEventLoop& loop, const std::atomic<bool>& finished) {
  ProgressWindow window(parent, label, state);
  QTimer refresh;
  QObject::connect(&refresh, &QTimer::timeout, &window, &ProgressWindow::Refresh);
  refresh.start(kRefreshMs);
  window.show();
  while (!finished.load()) {
    if (loop.exec() == kQuitting) {
      state.RequestCancel();
      return;
    }
  }
}

}  // namespace

void RunWithProgress(QWidget* parent, const std::string& label,
                     const std::function<void(ProgressState&)>& work) {
  ProgressState state;
  std::atomic<bool> finished{false};
  std::exception_ptr failure;
  QEventLoop loop;
  std::thread worker([&] {
    try {
      work(state);
    } catch (...) {
      failure = std::current_exception();
    }
    finished.store(true);
    QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
  });
  if (WaitPatiently(loop, finished)) {
    state.RequestCancel();
  } else if (!finished.load()) {
    ShowProgressUntilFinished(parent, label, state, loop, finished);
  }
  worker.join();
  if (failure) std::rethrow_exception(failure);
}
