#include "cli/terminal_progress.h"

#include "progress/percent.h"

#include <unistd.h>

#include <cstdio>
#include <utility>

namespace {

constexpr auto kQuietTime = std::chrono::seconds(1);
constexpr int kBarCells = 40;

}  // namespace

TerminalProgress::TerminalProgress(std::string label)
    : m_label(std::move(label)), m_terminal(::isatty(STDERR_FILENO) == 1) {}

TerminalProgress::~TerminalProgress() {
  // "\r" and erase-to-end-of-line leave the cursor where the bar began.
  if (m_drawn) std::fputs("\r\033[K", stderr);
}

bool TerminalProgress::Due() {
  return m_terminal && Clock::now() - m_start >= kQuietTime;
}

void TerminalProgress::Update(std::uint64_t done, std::uint64_t total) {
  if (total == 0 || !Due()) return;
  const int percent = PercentDone(done, total);
  if (percent == m_lastPercent) return;
  m_lastPercent = percent;
  const int filled = percent * kBarCells / kPercent;
  std::string bar(kBarCells, ' ');
  bar.replace(0, static_cast<std::size_t>(filled), static_cast<std::size_t>(filled), '#');
  Draw("[" + bar + "] " + std::to_string(percent) + "%");
}

void TerminalProgress::Note(const std::string& text) {
  if (!Due()) return;
  m_lastPercent = -1;
  Draw(text);
}

void TerminalProgress::Draw(const std::string& line) {
  std::fprintf(stderr, "\r\033[K%s %s", m_label.c_str(), line.c_str());
  std::fflush(stderr);
  m_drawn = true;
}
