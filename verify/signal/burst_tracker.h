// Follows one channel of a recording block by block and hands out the DTMF bursts it holds, in
// order: each burst's key, where its energy rises and, for the frame markers once the timecode
// type is known, where it begins to a fraction of a sample. Only a few slots of history are
// kept, so memory stays flat whatever the recording's length.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <new>
#include <optional>
#include <utility>
#include <vector>

#include "verify/signal/burst_locator.h"
#include "verify/signal/dtmf_detector.h"

struct Burst {
  int symbol = 0;
  double centre = 0.0;  // middle of the blocks that heard it, to half a block
  // Frame markers only: where its energy rises, to a few samples, and, once the timecode rate
  // is known, where it begins to a fraction of a sample.
  double onset = 0.0;
  bool hasOnset = false;  // false when no rising edge was seen
  BurstMatch match;
};

// Leaves the floats a vector grows by as they are instead of zeroing them: the history grows by
// samples written at once, and zeroing them first cost as much as writing them.
template <typename T>
struct UnzeroedAllocator : std::allocator<T> {
  template <typename U>
  struct rebind {
    using other = UnzeroedAllocator<U>;
  };
  template <typename U>
  void construct(U* at) noexcept {
    ::new (static_cast<void*>(at)) U;
  }
  template <typename U, typename... Args>
  void construct(U* at, Args&&... args) {
    ::new (static_cast<void*>(at)) U(std::forward<Args>(args)...);
  }
};

class BurstTracker {
 public:
  // A timecodeRate of 0 means the type is not known yet: bursts then carry only their onsets.
  // speed: how much faster than its rate the timecode was played, as far as it is known.
  BurstTracker(int sampleRate, int timecodeRate, double speed = 1.0);

  void Push(const float* samples, std::size_t count);
  // 16-bit samples as stored, scaled to full scale on their way in.
  void Push(const std::int16_t* samples, std::size_t count);
  // The recording has ended: what was held is listened to, the last burst is closed and every
  // pending one completed.
  void Finish();
  // While the frame grid reads every frame where it expects it, listening to the keys is wasted
  // work: held, the tracker keeps what is pushed and tells nothing from it until Listen().
  void Hold() { m_holding = true; }
  bool Holding() const { return m_holding; }
  // While held: the samples before `sample` were explained without the keys. Listening will
  // start at the first block from there, the burst being heard and those waiting forgotten.
  // False where it has listened that far already.
  bool SkipTo(std::int64_t sample);
  // Listens to every sample held from where it skipped to, and to every one pushed from now on.
  void Listen();
  // Bursts completed since the last call, in recording order.
  std::vector<Burst> Take();
  // Samples in each block the keys are told from.
  int BlockSamples() const { return m_window; }
  // Samples pushed so far.
  std::int64_t Length() const { return m_end; }
  // Keeps this many samples from now on (or what the tracker itself needs, if more), fewer
  // than before where it is less.
  void Keep(std::int64_t samples) { m_keep = std::max(m_ownKeep, samples); }
  SampleView View() const;

 private:
  // Listens to the `count` samples just added to the history, if not held, and drops old ones.
  void Heard(std::size_t count);

  struct Pending {
    Burst burst;
    std::int64_t needTo = 0;  // the locator reads up to here
  };

  std::int64_t HistoryEnd() const;
  void ListenToEnd();
  void EndWindow(int symbol);
  void Close();
  void Settle();
  void Trim();
  const BurstLocator* LocatorFor(int symbol) const;

  int m_rate;
  int m_window;
  std::int64_t m_keep;
  std::int64_t m_ownKeep;  // what the tracker itself needs kept
  int m_maxWindows;
  dtmf::KeyDetector m_detector;
  // Frame markers: * (11), # (12) and A (13).
  std::array<std::optional<BurstLocator>, 3> m_locators;
  std::array<double, 3> m_calibration{};  // energy onset minus true start, per marker

  std::vector<float, UnzeroedAllocator<float>> m_history;
  std::int64_t m_historyStart = 0;
  std::int64_t m_end = 0;  // one past the last sample pushed
  std::int64_t m_nextWindow = 0;
  bool m_finished = false;
  bool m_holding = false;

  int m_symbol = 0;  // of the burst being heard, 0 between bursts
  std::int64_t m_burstStart = 0;
  int m_burstWindows = 0;

  std::vector<int> m_symbols;  // of the blocks of one push
  std::deque<Pending> m_pending;
  std::vector<Burst> m_done;
};
