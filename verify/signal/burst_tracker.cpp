#include "verify/signal/burst_tracker.h"

#include <algorithm>
#include <cmath>

#include "timecode_format/dtmf_burst.h"
#include "timecode_format/timecode_layout.h"
#include "verify/read/sample_copy.h"

namespace {

constexpr int kFirstMarker = kRunEdgeSymbol;
constexpr int kLastMarker = kFirstFrameSymbol;
// The slowest timecode sets the longest burst when the type is not known yet.
constexpr int kSlowestTimecodeRate = TimecodeRate(TimecodeType::dtmfS);
// A key held much longer than a burst is something else (a note in music, a dial tone).
constexpr double kLongestBurstSlots = 1.5;
// History is dropped in large steps, so the copy is rare.
constexpr std::int64_t kTrimStep = 1 << 18;

// The two tones of a key beat at their difference; measuring energy over whole beats averages
// the beat away, so the energy of a burst is flat between its fades. At least a few
// milliseconds, so that even the lowest tone goes through a couple of cycles.
constexpr double kShortestEnergySeconds = 0.003;

int EnergySamples(int symbol, int sampleRate) {
  const dtmf_burst::Key key = dtmf_burst::kKeyOfSymbol[static_cast<std::size_t>(symbol - 1)];
  const double beatHz = dtmf_burst::kColumnHz[static_cast<std::size_t>(key.column)] -
                        dtmf_burst::kRowHz[static_cast<std::size_t>(key.row)];
  const double beats = std::ceil(kShortestEnergySeconds * beatHz);
  return std::max(1, static_cast<int>(std::lround(beats * sampleRate / beatHz)));
}

// Where the energy, taken over one beat of the key's two tones, climbs halfway from the
// silence before the burst to the burst's level.
// The burst was first heard in the block from firstWindow on, and last in the block before end.
std::optional<double> EnergyOnset(const SampleView& view, int symbol, int sampleRate, int window,
                                  std::int64_t firstWindow, std::int64_t end) {
  const int m = EnergySamples(symbol, sampleRate);
  const std::int64_t from = firstWindow - window - m;
  const std::int64_t to = std::max(firstWindow + 1, std::min(end, firstWindow + 2 * window) - m);
  const float* x = view.At(from);
  const auto n = static_cast<std::size_t>(to - from + 1);
  // Variance rather than mean square: a DC offset would add a ripple at the tones' own
  // frequencies that no beat-long average removes.
  std::vector<double> energy(n);
  double sum = 0.0;
  double squares = 0.0;
  for (int j = 0; j < m; ++j) {
    sum += x[j];
    squares += static_cast<double>(x[j]) * x[j];
  }
  for (std::size_t i = 0; i < n; ++i) {
    energy[i] = squares - sum * sum / m;
    const double leaving = x[i];
    const double entering = x[i + static_cast<std::size_t>(m)];
    sum += entering - leaving;
    squares += entering * entering - leaving * leaving;
  }
  const auto inside = static_cast<std::size_t>(firstWindow - from);
  const auto peak =
      std::max_element(energy.begin() + static_cast<std::ptrdiff_t>(inside), energy.end());
  const double floor =
      *std::min_element(energy.begin(), energy.begin() + static_cast<std::ptrdiff_t>(inside) + 1);
  if (*peak <= floor) return std::nullopt;
  const double half = floor + 0.5 * (*peak - floor);
  auto k = static_cast<std::ptrdiff_t>(peak - energy.begin());
  while (k >= 0 && energy[static_cast<std::size_t>(k)] >= half) --k;
  if (k < 0) return std::nullopt;
  const double below = energy[static_cast<std::size_t>(k)];
  const double above = energy[static_cast<std::size_t>(k) + 1];
  return static_cast<double>(from + k) + (half - below) / (above - below);
}

}  // namespace

BurstTracker::BurstTracker(int sampleRate, int timecodeRate, double speed)
    : m_rate(sampleRate), m_window(dtmf::BlockSamples(sampleRate)), m_detector(sampleRate) {
  const double slot = dtmf_burst::kBurstSamples * static_cast<double>(sampleRate) /
                      (timecodeRate > 0 ? timecodeRate : kSlowestTimecodeRate);
  m_maxWindows = static_cast<int>(std::ceil(kLongestBurstSlots * slot / m_window)) + 1;
  m_keep = static_cast<std::int64_t>(4 * slot) + 4 * static_cast<std::int64_t>(m_window);
  m_ownKeep = m_keep;
  if (timecodeRate > 0) {
    for (int symbol = kFirstMarker; symbol <= kLastMarker; ++symbol) {
      m_locators[static_cast<std::size_t>(symbol - kFirstMarker)].emplace(symbol, timecodeRate,
                                                                          sampleRate, speed);
    }
  }
  // Silence before the recording: bursts at its very start are measured like any other.
  const std::int64_t lead = m_keep;
  m_history.assign(static_cast<std::size_t>(lead), 0.0f);
  m_historyStart = -lead;

  // Where the energy onset of each marker lies against its true start, measured on the burst
  // itself behind silence.
  for (int symbol = kFirstMarker; symbol <= kLastMarker; ++symbol) {
    const BurstLocator* locator = LocatorFor(symbol);
    if (locator == nullptr) continue;
    std::vector<float> alone(static_cast<std::size_t>(lead), 0.0f);
    alone.insert(alone.end(), locator->Reference().begin(), locator->Reference().end());
    alone.resize(alone.size() + static_cast<std::size_t>(lead), 0.0f);
    const SampleView view{alone.data(), -lead, static_cast<std::int64_t>(alone.size())};
    const auto span = static_cast<std::int64_t>(locator->Reference().size());
    m_calibration[static_cast<std::size_t>(symbol - kFirstMarker)] =
        EnergyOnset(view, symbol, sampleRate, m_window, 0, span).value_or(0.0);
  }
}

const BurstLocator* BurstTracker::LocatorFor(int symbol) const {
  if (symbol < kFirstMarker || symbol > kLastMarker) return nullptr;
  const auto& locator = m_locators[static_cast<std::size_t>(symbol - kFirstMarker)];
  return locator ? &*locator : nullptr;
}

SampleView BurstTracker::View() const {
  return {m_history.data(), m_historyStart, static_cast<std::int64_t>(m_history.size())};
}

std::int64_t BurstTracker::HistoryEnd() const {
  return m_historyStart + static_cast<std::int64_t>(m_history.size());
}

void BurstTracker::Push(const float* samples, std::size_t count) {
  m_history.insert(m_history.end(), samples, samples + count);
  Heard(count);
}

void BurstTracker::Push(const std::int16_t* samples, std::size_t count) {
  const std::size_t at = m_history.size();
  m_history.resize(at + count);
  ScaleShorts(samples, m_history.data() + at, count);
  Heard(count);
}

void BurstTracker::Heard(std::size_t count) {
  m_end += static_cast<std::int64_t>(count);
  if (!m_holding) ListenToEnd();
  Settle();
  Trim();
}

void BurstTracker::ListenToEnd() {
  const std::int64_t windows = (m_end - m_nextWindow) / m_window;
  if (windows <= 0) return;
  m_symbols.resize(static_cast<std::size_t>(windows));
  m_detector.DetectRun(View().At(m_nextWindow), m_symbols.size(),
                       static_cast<std::size_t>(m_window), m_symbols.data());
  for (const int symbol : m_symbols) {
    EndWindow(symbol);
    m_nextWindow += m_window;
  }
}

bool BurstTracker::SkipTo(std::int64_t sample) {
  if (!m_holding || sample <= m_nextWindow) return false;
  // Whole blocks, so the blocks keep the places they would have had.
  m_nextWindow += (sample - m_nextWindow + m_window - 1) / m_window * m_window;
  m_symbol = 0;
  m_burstWindows = 0;
  m_pending.clear();
  return true;
}

void BurstTracker::Listen() {
  m_holding = false;
  ListenToEnd();
  Settle();
}

void BurstTracker::EndWindow(int symbol) {
  if (symbol == m_symbol) {
    if (symbol != 0) ++m_burstWindows;
    return;
  }
  if (m_symbol != 0) Close();
  m_symbol = symbol;
  m_burstStart = m_nextWindow;
  m_burstWindows = 1;
}

void BurstTracker::Finish() {
  if (m_finished) return;
  Listen();
  m_finished = true;
  // Silence after the recording, so the last bursts can be measured like any other.
  m_history.resize(m_history.size() + static_cast<std::size_t>(m_keep), 0.0f);
  if (m_symbol != 0) Close();
  m_symbol = 0;
  Settle();
}

void BurstTracker::Close() {
  const int symbol = m_symbol;
  m_symbol = 0;
  if (m_burstWindows > m_maxWindows) return;
  Pending pending;
  pending.burst.symbol = symbol;
  const std::int64_t end = m_burstStart + static_cast<std::int64_t>(m_burstWindows) * m_window;
  pending.burst.centre = 0.5 * static_cast<double>(m_burstStart + end);
  if (symbol >= kFirstMarker && symbol <= kLastMarker) {
    const std::optional<double> onset =
        EnergyOnset(View(), symbol, m_rate, m_window, m_burstStart, end);
    pending.burst.hasOnset = onset.has_value();
    pending.burst.onset = onset.value_or(0.0);
  }
  const BurstLocator* locator = LocatorFor(symbol);
  if (locator != nullptr && pending.burst.hasOnset) {
    const double guess =
        pending.burst.onset - m_calibration[static_cast<std::size_t>(symbol - kFirstMarker)];
    pending.burst.match.position = guess;
    pending.needTo = locator->NeedTo(guess);
  }
  m_pending.push_back(pending);
}

void BurstTracker::Settle() {
  const std::int64_t available = HistoryEnd();
  while (!m_pending.empty() && m_pending.front().needTo <= available) {
    Burst burst = m_pending.front().burst;
    m_pending.pop_front();
    const BurstLocator* locator = LocatorFor(burst.symbol);
    if (locator != nullptr && burst.hasOnset) {
      burst.match = locator->Locate(View(), burst.match.position);
    }
    m_done.push_back(burst);
  }
}

void BurstTracker::Trim() {
  const std::int64_t keepFrom = m_nextWindow - m_keep;
  const std::int64_t drop = keepFrom - m_historyStart;
  if (drop < kTrimStep) return;
  m_history.erase(m_history.begin(), m_history.begin() + static_cast<std::ptrdiff_t>(drop));
  m_historyStart += drop;
}

std::vector<Burst> BurstTracker::Take() {
  std::vector<Burst> done;
  done.swap(m_done);
  return done;
}
