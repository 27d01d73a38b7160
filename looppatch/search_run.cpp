#include "looppatch/search_run.h"

#include <utility>

SearchRun::~SearchRun() {
  Stop();
}

void SearchRun::Stop() {
  m_cancel = true;
  if (m_thread.joinable()) m_thread.join();
  m_running = false;
}

void SearchRun::Start(Job job, Done done) {
  Stop();
  m_cancel = false;
  m_progress = 0;
  m_running = true;
  const unsigned generation = ++m_generation;
  m_thread = std::thread([this, job = std::move(job), done = std::move(done), generation] {
    LoopSearch result = job([this](double share) {
      m_progress = share;
      return !m_cancel;
    });
    // Delivered on the window's thread, and dropped with this object should it go first.
    QMetaObject::invokeMethod(
        this,
        [this, result = std::move(result), done, generation] {
          if (generation != m_generation) return;  // a newer search replaced this one
          if (m_thread.joinable()) m_thread.join();
          m_running = false;
          done(result);
        },
        Qt::QueuedConnection);
  });
}
