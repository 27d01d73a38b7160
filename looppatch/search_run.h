// A loop search on a thread of its own, so the window keeps answering while it runs: the
// search reports how far it got, can be cancelled at any time, and hands its result back on
// the window's thread. Dropping the runner cancels the search and waits for its thread.
#pragma once

#include <QObject>
#include <atomic>
#include <functional>
#include <thread>

#include "looppatch/seam_search.h"

class SearchRun : public QObject {
 public:
  using Job = std::function<LoopSearch(const SearchProgress&)>;
  using Done = std::function<void(const LoopSearch&)>;

  SearchRun() = default;
  ~SearchRun() override;
  SearchRun(const SearchRun&) = delete;
  SearchRun& operator=(const SearchRun&) = delete;

  // Runs job on the worker thread, then done on this object's thread; a search still running
  // is cancelled first, and its result never delivered.
  void Start(Job job, Done done);
  // The search stops at its next progress report and delivers a cancelled result.
  void Cancel() { m_cancel = true; }
  // Cancels the search and waits for it; its result is never delivered.
  void Abandon() {
    ++m_generation;
    Stop();
  }
  bool Running() const { return m_running; }
  double Progress() const { return m_progress; }

 private:
  void Stop();

  std::thread m_thread;
  std::atomic<bool> m_cancel = false;
  std::atomic<double> m_progress = 0;
  bool m_running = false;
  unsigned m_generation = 0;  // which search a delivered result belongs to
};
