// Long work on a second thread while the window that started it keeps painting, with a progress
// window and its Cancel button once the work has gone on long enough to be worth one.
//
//   RunWithProgress(this, "Writing TC.wav...", [&](ProgressState& state) {
//     ... state.SetCounts(done, total); if (state.CancelRequested()) stop ...
//   });
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>

class QWidget;

// A run shorter than this looks as it always did: a busy cursor and no extra window.
inline constexpr int kShowProgressAfterMs = 500;

// What the work and the window share. The work stores how far it is and reads whether the user
// asked it to stop; the window does the opposite. Either side may call from its own thread.
class ProgressState {
 public:
  void SetCounts(std::uint64_t done, std::uint64_t total);
  // Shown in place of the label, e.g. while written data is flushed to the disk.
  void SetNote(std::string text);
  bool CancelRequested() const { return m_cancel.load(); }

  void RequestCancel() { m_cancel.store(true); }
  int Percent() const;
  std::string Note() const;

 private:
  std::atomic<std::uint64_t> m_done{0};
  std::atomic<std::uint64_t> m_total{0};
  std::atomic<bool> m_cancel{false};
  mutable std::mutex m_noteGuard;
  std::string m_note;
};

// Runs work on a second thread and returns once it has finished (an exception it throws is
// thrown again here). Meanwhile the program's windows keep painting; user input waits, under a
// busy cursor, until after kShowProgressAfterMs a modal progress window appears with the parent's
// caption, label, the percentage (or the note) and a Cancel button. Cancel, Esc or closing that
// window only asks the work to stop: the work decides when, and this returns when it has. So
// does the application quitting meanwhile (QCoreApplication::exit), without the window.
void RunWithProgress(QWidget* parent, const std::string& label,
                     const std::function<void(ProgressState&)>& work);
