// PacedProgress, for tests: passes a run's progress on to another GenerateProgress and, at every
// point where the run may be cancelled (after each batch written and each step flushed), first
// calls a pace function of its own. It runs on the run's thread and touches no window, so a run can
// be made as slow as one on a slow disk without writing anything big.
#pragma once

#include <cstdint>
#include <functional>
#include <utility>

#include "timecode/timecode_generator.h"

class PacedProgress final : public GenerateProgress {
 public:
  // An empty pace passes everything on unchanged.
  PacedProgress(GenerateProgress& inner, std::function<void()> pace)
      : m_inner(inner), m_pace(std::move(pace)) {}

  void Written(std::uint64_t done, std::uint64_t total) override { m_inner.Written(done, total); }
  void Flushing() override { m_inner.Flushing(); }
  bool CancelRequested() override {
    if (m_pace) m_pace();
    return m_inner.CancelRequested();
  }

 private:
  GenerateProgress& m_inner;
  std::function<void()> m_pace;
};
