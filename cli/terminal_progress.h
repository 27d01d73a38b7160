// A one-line progress bar on stderr for the command-line programs. It shows only when stderr is
// a terminal and the work has already taken longer than a second, so scripts and short runs see
// nothing of it.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

class TerminalProgress {
 public:
  explicit TerminalProgress(std::string label);
  ~TerminalProgress();  // clears the bar, if one was drawn
  TerminalProgress(const TerminalProgress&) = delete;
  TerminalProgress& operator=(const TerminalProgress&) = delete;

  // done of total units; cheap enough to call for every batch of work.
  void Update(std::uint64_t done, std::uint64_t total);
  // A note in place of the percentage, e.g. while data is flushed to the disk.
  void Note(const std::string& text);

 private:
  using Clock = std::chrono::steady_clock;
  bool Due();
  void Draw(const std::string& line);

  std::string m_label;
  bool m_terminal;
  bool m_drawn = false;
  int m_lastPercent = -1;
  Clock::time_point m_start = Clock::now();
};
