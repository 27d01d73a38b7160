// Work done in a child process: a test lowers a limit, gives up root, holds a second lock or runs
// one of the programs there without changing the test process. Every child carries a watchdog
// alarm, so a child that hangs (a blocked open, a program waiting for input) is killed and fails
// the test instead of hanging the test run.
#pragma once

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

// Longer than any child of the suites needs, even on a slow, busy machine.
inline constexpr unsigned kChildWatchdogSeconds = 20;

// Status a child ends with when it could not even start what it was asked to run, and when its
// body threw (the exception must not carry on through the rest of the suite in the child).
inline constexpr int kChildCannotStart = 127;
inline constexpr int kChildThrew = 126;

// Forks a child that runs body and exits with what it returns, its watchdog armed. For tests
// that act on the child while it runs; the others use InChild. Returns -1 when fork fails.
inline pid_t StartChild(const std::function<int()>& body) {
  const pid_t child = ::fork();
  if (child != 0) return child;
  ::signal(SIGALRM, SIG_DFL);  // an alarm the test process ignores must still end the child
  ::alarm(kChildWatchdogSeconds);
  try {
    ::_exit(body());
  } catch (...) {
    ::_exit(kChildThrew);
  }
}

// Waits for a child from StartChild and returns its wait status. A child the watchdog ended
// fails the test.
inline int WaitForChild(pid_t child) {
  int status = 0;
  if (child < 0 || ::waitpid(child, &status, 0) != child) {
    ADD_FAILURE() << "no child process: " << std::strerror(errno);
    return W_EXITCODE(kChildCannotStart, 0);
  }
  if (WIFSIGNALED(status) && WTERMSIG(status) == SIGALRM) {
    ADD_FAILURE() << "the child was still running after " << kChildWatchdogSeconds
                  << " s and was killed";
  }
  return status;
}

// Runs body in a child and returns the child's exit code: what body returned. A child killed by
// a signal fails the test and counts as -1.
inline int InChild(const std::function<int()>& body) {
  const int status = WaitForChild(StartChild(body));
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  if (WTERMSIG(status) != SIGALRM) ADD_FAILURE() << "the child died of signal " << WTERMSIG(status);
  return -1;
}

namespace child_process_detail {

// A pipe whose ends are closed on exec: a program started in the child keeps only the end it was
// given as its stdout or stderr. A pipe, not a file, carries what the child says, so that a
// file-size limit set in the child cannot cut it short.
class Pipe {
 public:
  Pipe() {
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) == 0) {
      m_read = ends[0];
      m_write = ends[1];
    }
  }
  ~Pipe() {
    Close(m_read);
    Close(m_write);
  }
  Pipe(const Pipe&) = delete;
  Pipe& operator=(const Pipe&) = delete;

  bool Ok() const { return m_read >= 0; }
  int ReadEnd() const { return m_read; }
  int WriteEnd() const { return m_write; }
  // In the parent once the child holds its copy: the reader sees the end when the child's ends.
  void CloseWriteEnd() { Close(m_write); }

 private:
  static void Close(int& fd) {
    if (fd >= 0) ::close(fd);
    fd = -1;
  }
  int m_read = -1;
  int m_write = -1;
};

// Reads the pipes side by side until the child has closed them all, so a child that fills one
// never waits on a parent busy reading the other.
inline void ReadUntilClosed(const std::vector<std::pair<const Pipe*, std::string*>>& sources) {
  std::vector<pollfd> open;
  std::vector<std::string*> texts;
  for (const auto& [pipe, text] : sources) {
    open.push_back({pipe->ReadEnd(), POLLIN, 0});
    texts.push_back(text);
  }
  while (!open.empty()) {
    if (::poll(open.data(), open.size(), -1) < 0) {
      if (errno == EINTR) continue;
      return;
    }
    for (std::size_t i = open.size(); i-- > 0;) {
      if (open[i].revents == 0) continue;
      char buffer[4096];
      const ssize_t got = ::read(open[i].fd, buffer, sizeof buffer);
      if (got > 0) {
        texts[i]->append(buffer, static_cast<std::size_t>(got));
      } else if (got == 0 || errno != EINTR) {
        open.erase(open.begin() + static_cast<std::ptrdiff_t>(i));
        texts.erase(texts.begin() + static_cast<std::ptrdiff_t>(i));
      }
    }
  }
}

inline bool WriteAll(int fd, const std::string& text) {
  for (std::size_t done = 0; done < text.size();) {
    const ssize_t put = ::write(fd, text.data() + done, text.size() - done);
    if (put <= 0) return false;
    done += static_cast<std::size_t>(put);
  }
  return true;
}

}  // namespace child_process_detail

// Runs run in a child and brings back the text it returns. A child that does not end normally
// fails the test.
inline std::string InChild(const std::function<std::string()>& run) {
  child_process_detail::Pipe channel;
  if (!channel.Ok()) return "no pipe for the child's text";
  const pid_t child =
      StartChild([&] { return child_process_detail::WriteAll(channel.WriteEnd(), run()) ? 0 : 1; });
  channel.CloseWriteEnd();
  std::string text;
  child_process_detail::ReadUntilClosed({{&channel, &text}});
  const int status = WaitForChild(child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
      << (WIFSIGNALED(status) ? "the child died of signal " + std::to_string(WTERMSIG(status))
                              : "the child failed");
  return text;
}

// How a program run ended and what it printed.
struct ProgramRun {
  int status = -1;  // exit status, or 128 + the signal's number, as a shell shows it
  std::string out;
  std::string err;
};

struct RunOptions {
  std::vector<std::string> env{};      // NAME=value entries added to the environment
  std::optional<std::string> input{};  // the program's stdin; without it, an empty one
  std::string folder{};                // where it starts; empty: where the test runs
  std::function<void()> prepare{};     // run in the child just before the program, e.g. a limit
};

// Runs program with args in a child. Its environment is the test's without DISPLAY,
// WAYLAND_DISPLAY and QT_QPA_PLATFORM (unless options.env gives them back), so any start of
// the GUI ends it with Qt's abort instead of opening a window.
inline ProgramRun RunProgram(const std::string& program, const std::vector<std::string>& args,
                             const RunOptions& options = {}) {
  // The input goes through a file the child reads from its start: written in full before the
  // program runs, it never waits for the program to read.
  std::FILE* input = std::tmpfile();
  child_process_detail::Pipe out, err;
  if (input == nullptr || !out.Ok() || !err.Ok()) {
    if (input != nullptr) std::fclose(input);
    return {-1, "", "no pipe or file for the program's streams"};
  }
  const int inputFd = ::fileno(input);
  if (options.input && !child_process_detail::WriteAll(inputFd, *options.input)) {
    std::fclose(input);
    return {-1, "", "cannot write the program's input"};
  }
  const pid_t child = StartChild([&] {
    if (::lseek(inputFd, 0, SEEK_SET) != 0 || ::dup2(inputFd, STDIN_FILENO) < 0 ||
        ::dup2(out.WriteEnd(), STDOUT_FILENO) < 0 || ::dup2(err.WriteEnd(), STDERR_FILENO) < 0) {
      return kChildCannotStart;
    }
    if (!options.folder.empty() && ::chdir(options.folder.c_str()) != 0) return kChildCannotStart;
    ::unsetenv("DISPLAY");
    ::unsetenv("WAYLAND_DISPLAY");
    ::unsetenv("QT_QPA_PLATFORM");
    for (const std::string& entry : options.env) ::putenv(const_cast<char*>(entry.c_str()));
    if (options.prepare) options.prepare();
    std::vector<char*> argv{const_cast<char*>(program.c_str())};
    for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    ::execv(program.c_str(), argv.data());
    return kChildCannotStart;
  });
  out.CloseWriteEnd();
  err.CloseWriteEnd();
  std::fclose(input);
  ProgramRun run;
  child_process_detail::ReadUntilClosed({{&out, &run.out}, {&err, &run.err}});
  const int status = WaitForChild(child);
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return run;
}
