// Holds every read of one file until the test's callback has run, so a test can change the file
// at an exact point of the code that reads it (another program cutting it short between two
// reads, say) instead of hoping a race lands there. Built on fanotify permission events, which
// need CAP_SYS_ADMIN: without it Armed() is false and the test should skip.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/fanotify.h>
#include <unistd.h>

#include <atomic>
#include <functional>
#include <string>
#include <thread>

class ReadGate {
 public:
  // onRead(n) runs before the n-th read (from 0) of path by this process or any other is let
  // through. It must not read the file itself, or it would wait for itself. Only opens made
  // after this are held: the kernel decides at open time whether a file is watched.
  ReadGate(const std::string& path, std::function<void(int)> onRead) : m_onRead(std::move(onRead)) {
    m_group = ::fanotify_init(FAN_CLASS_CONTENT | FAN_CLOEXEC | FAN_NONBLOCK, O_RDONLY);
    if (m_group < 0) return;
    if (::fanotify_mark(m_group, FAN_MARK_ADD, FAN_ACCESS_PERM, AT_FDCWD, path.c_str()) != 0) {
      ::close(std::exchange(m_group, -1));
      return;
    }
    m_stop = ::eventfd(0, EFD_CLOEXEC);
    m_thread = std::thread([this] { Serve(); });
  }
  ~ReadGate() {
    if (m_group < 0) return;
    const std::uint64_t one = 1;
    if (::write(m_stop, &one, sizeof one) == sizeof one) m_thread.join();
    ::close(m_stop);
    ::close(m_group);  // any read still held is let through
  }
  ReadGate(const ReadGate&) = delete;
  ReadGate& operator=(const ReadGate&) = delete;

  bool Armed() const { return m_group >= 0; }
  int Reads() const { return m_reads; }

 private:
  void Serve() {
    alignas(fanotify_event_metadata) char buffer[4096];
    while (true) {
      pollfd waits[] = {{m_group, POLLIN, 0}, {m_stop, POLLIN, 0}};
      if (::poll(waits, 2, -1) < 0) continue;
      if (waits[1].revents != 0) return;
      const ssize_t got = ::read(m_group, buffer, sizeof buffer);
      auto* event = reinterpret_cast<fanotify_event_metadata*>(buffer);
      for (ssize_t left = got; FAN_EVENT_OK(event, left); event = FAN_EVENT_NEXT(event, left)) {
        if (event->mask & FAN_ACCESS_PERM) {
          m_onRead(m_reads++);
          const fanotify_response allow{event->fd, FAN_ALLOW};
          if (::write(m_group, &allow, sizeof allow) != sizeof allow) return;
        }
        if (event->fd >= 0) ::close(event->fd);
      }
    }
  }

  std::function<void(int)> m_onRead;
  int m_group = -1;
  int m_stop = -1;
  std::atomic<int> m_reads{0};
  std::thread m_thread;
};
