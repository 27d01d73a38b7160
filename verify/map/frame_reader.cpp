#include "verify/map/frame_reader.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "timecode_format/dtmf_burst.h"
#include "verify/map/reader_tuning.h"
#include "verify/map/timing_fit.h"
#include "verify/signal/lane_sums.h"

FrameReader::FrameReader(int rate, const Choice& choice, const VerifyOptions& options)
    : m_rate(rate),
      m_timecodeRate(TimecodeRate(choice.type)),
      m_slot(SlotSamples(rate, choice.type) / choice.speed),
      m_frame(kFrameSamples * static_cast<double>(rate) / m_timecodeRate / choice.speed),
      m_frameError(choice.frameError),
      m_tracker(rate, m_timecodeRate, choice.speed),
      m_parser(m_slot, m_tracker.BlockSamples()),
      m_stretch(m_slot / kSlotSamples),
      m_reader(m_timecodeRate, m_stretch),
      m_options(options) {
  // Half a frame of grace for a frame found late, the frame itself and the tracker's lag.
  m_lag = static_cast<std::int64_t>((kFrameBurstSlots + 1) * m_slot) +
          4 * static_cast<std::int64_t>(m_tracker.BlockSamples());
  m_keep = static_cast<std::int64_t>(m_frame) + m_lag + static_cast<std::int64_t>(kPieceFrames);
  // Until the first frame is read, enough for the frames before it whose keys drowned.
  m_tracker.Keep(m_keep + static_cast<std::int64_t>(kLookBackFrames * m_frame));
}

template <typename Sample>
void FrameReader::PushSamples(const Sample* samples, std::size_t count) {
  for (std::size_t done = 0; done < count; done += kPieceFrames) {
    m_tracker.Push(samples + done, std::min(kPieceFrames, count - done));
    Collect();
    while (m_expected &&
           static_cast<double>(m_tracker.Length()) >= *m_expected + 0.5 * m_frame + m_lag) {
      if (!m_tracker.Holding()) {
        ReadExpected();
      } else if (!ReadOnGrid()) {
        // Something else lies where the grid expects a frame: the keys held back are heard
        // after all, and the frame is read with what they tell.
        m_tracker.Listen();
        Collect();
      }
    }
    // A grid that ended while held (a frame the keys told elsewhere, read past) has nothing to
    // confirm: the keys must find what comes next.
    if (!m_expected && m_tracker.Holding()) {
      m_tracker.Listen();
      Collect();
    }
  }
}

void FrameReader::Push(const float* samples, std::size_t count) {
  PushSamples(samples, count);
}

void FrameReader::Push(const std::int16_t* samples, std::size_t count) {
  PushSamples(samples, count);
}

void FrameReader::Finish() {
  m_tracker.Finish();
  Collect();
  while (m_expected) ReadExpected();
  // A frame whose check symbol runs past the end of the recording is cut by its end.
  const auto length = static_cast<double>(m_tracker.Length());
  std::erase_if(m_frames, [&](const GridFrame& frame) {
    return frame.at[0] + (kFrameBurstSlots - 0.1) * m_slot > length;
  });
  NumberShortFilesFromGrid(m_frames, true);
}

void FrameReader::Fault(const std::string& line) const {
  if (m_options.onFault) m_options.onFault(line);
}

void FrameReader::MapFault(const std::string& line) const {
  if (!m_options.onEvent) Fault(line);
}

std::string FrameReader::Where(double sample) const {
  return Seconds(sample, m_rate) + ", " + SampleText(sample);
}

void FrameReader::Collect() {
  RawFrame frame;
  for (const Burst& burst : m_tracker.Take()) {
    if (m_parser.Add(burst, frame)) m_told.push_back(frame);
  }
  const SampleView view = m_tracker.View();
  const auto radius = m_tracker.BlockSamples();
  // Noise can hide the rise of a marker and the keys of half a slot; the whole frame is then
  // sought that far around where they were heard.
  const int search = SearchRadius();
  while (!m_told.empty()) {
    const RawFrame& told = m_told.front();
    const BurstMatch& match = told.start.match;
    const bool precise = match.found && std::abs(match.correlation) >= kMinCorrelation;
    const double rough = precise ? match.position : told.start.onset;
    // A frame whose bursts have not all arrived waits for them.
    if (!precise && static_cast<double>(view.first + view.count) <
                        rough + static_cast<double>(m_reader.FrameReach(
                                    kBurstsPerFrame, m_slot, search, FirstSlotError()))) {
      break;
    }
    Told(told, precise, rough, radius, view);
    m_told.pop_front();
  }
}

void FrameReader::Told(const RawFrame& frame, bool precise, double rough, int radius,
                       const SampleView& view) {
  // Where the grid already expects this frame, its slots are read there; only a frame found
  // elsewhere (after a jump, or the first ones) is placed from what the keys told.
  const double near = precise ? kCertainJump : radius;
  // Under noise the keys place a frame only roughly; the next frame near the place the grid
  // expects it is that frame. What the keys told is kept for the slots the grid cannot read.
  if (m_expected && (std::abs(rough - *m_expected) <= near ||
                     (!precise && frame.number == m_lastNumber + 1 &&
                      std::abs(rough - *m_expected) <= kNearGrid * m_frame))) {
    if (frame.number == m_lastNumber + 1) m_heard = frame;
    return;
  }
  // The frame the grid read last, told again by the keys.
  if (m_lastPlace && std::abs(rough - *m_lastPlace) <= near) return;
  double place = rough;
  double polarity = precise ? frame.start.match.correlation : 0.0;
  if (!precise) {
    // Noise hid where the marker begins: the whole frame is matched around the guess, which
    // also tells the slot's length better than the first look could.
    const int search = SearchRadius();
    if (m_reader.NeedFrom(rough - search) < view.first) return;
    double slot = m_slot;
    place = m_reader.LocateFrame(view, frame.symbols, rough, search,
                                 m_frames.empty() ? FirstSlotError() : 0.0, slot, polarity);
    if (std::abs(polarity) < kMinFrameCorrelation) return;
    if (m_polarity && polarity * *m_polarity < 0.0) return;
    if (m_expected && std::abs(place - *m_expected) <= kCertainJump) return;
    if (m_frames.empty() && !m_expected) {
      if (slot != m_slot) Restretch(slot);
      if (!m_polarity) m_polarity = polarity < 0.0 ? -1.0 : 1.0;
      place = Refine(view, place, frame.symbols);
    }
  }
  // A marker that began before the recording did is a frame cut by its start; one placed to
  // the nearest sample only is placed to a fraction of one before it is judged.
  if (place < (precise ? -0.5 : -kCertainJump)) return;
  Found(frame, place, polarity);
}

double FrameReader::Refine(const SampleView& view, double place,
                           const std::array<int, kBurstsPerFrame>& told) {
  for (int pass = 0; pass < kRefinePasses; ++pass) {
    const GridFrame read = ReadSlots(view, place, told, told);
    double n = 0.0, mk = 0.0, ma = 0.0;
    for (std::size_t k = 0; k < kBurstsPerFrame; ++k) {
      if (std::isnan(read.at[k]) || (k == 0 && read.at[0] == place)) continue;
      n += 1.0;
      mk += static_cast<double>(k);
      ma += read.at[k];
    }
    if (n < kRefineBursts) break;
    mk /= n;
    ma /= n;
    double across = 0.0, spread = 0.0;
    for (std::size_t k = 0; k < kBurstsPerFrame; ++k) {
      if (std::isnan(read.at[k]) || (k == 0 && read.at[0] == place)) continue;
      across += (static_cast<double>(k) - mk) * (read.at[k] - ma);
      spread += (static_cast<double>(k) - mk) * (static_cast<double>(k) - mk);
    }
    const double pair = across / spread;
    bool straight = true;
    for (std::size_t k = 0; k < kBurstsPerFrame; ++k) {
      if (std::isnan(read.at[k]) || (k == 0 && read.at[0] == place)) continue;
      const double off = read.at[k] - (ma + pair * (static_cast<double>(k) - mk));
      straight = straight && std::abs(off) <= kRefineScatter;
    }
    const double slot = 0.5 * pair;
    if (!straight || std::abs(slot / m_slot - 1.0) > FirstSlotError()) break;
    const double start = ma - pair * mk;
    const bool settled = std::abs(start - place) < kRefineScatter;
    Restretch(slot);
    place = start;
    if (settled) break;
  }
  return place;
}

double FrameReader::FirstSlotError() const {
  if (!std::isfinite(m_frameError)) return kMostSlotError;
  return std::clamp(kFirstLookErrors * m_frameError / m_frame, kFirstSlotError, kMostSlotError);
}

int FrameReader::SearchRadius() const {
  return static_cast<int>(std::ceil(m_slot)) + m_tracker.BlockSamples();
}

void FrameReader::Restretch(double slot) {
  m_frame *= slot / m_slot;
  m_frameError = std::numeric_limits<double>::infinity();
  m_slot = slot;
  m_stretch = m_slot / kSlotSamples;
  m_reader = SlotReader(m_timecodeRate, m_stretch);
}

void FrameReader::Found(const RawFrame& frame, double place, double polarity) {
  while (m_expected && place > *m_expected + 0.5 * m_frame) ReadExpected();
  if (!m_polarity) m_polarity = polarity < 0.0 ? -1.0 : 1.0;
  const SampleView view = m_tracker.View();
  if (m_reader.NeedFrom(place) < view.first) return;
  GridFrame read = ReadSlots(view, place, frame.symbols);
  const bool clean = std::abs(polarity) >= kMinCorrelation;
  // A frame matched under noise whose bursts could not be placed there lies off its place: the
  // grid starts from a frame that holds it.
  if (read.unreadable || CutByTheStart(read, clean) || (!clean && read.placed < kRefineBursts)) {
    return;
  }
  if (m_frames.empty() && !m_pending) {
    // The keys of the first frames may drown where those of later ones are heard: the frames
    // before the first one told are sought where the grid puts them.
    std::vector<GridFrame> before = ReadBefore(view, read);
    for (auto frame = before.rbegin(); frame != before.rend(); ++frame) Keep(*frame);
    m_tracker.Keep(m_keep);
  }
  Keep(read);
}

std::vector<GridFrame> FrameReader::ReadBefore(const SampleView& view, const GridFrame& first) {
  std::vector<GridFrame> before;
  const GridFrame* next = &first;
  while (next->raw.number > 1) {
    const int number = next->raw.number - 1;
    std::optional<GridFrame> found;
    // Under method 1, frame 1 carries two more gaps.
    for (const int method : {kMethod2, kMethod1}) {
      if (m_options.method && *m_options.method != method) continue;
      if (number != 1 && method == kMethod1) break;
      const double extra = number == 1 && method == kMethod1 ? 2.0 * m_slot : 0.0;
      found = ReadFrameAt(view, next->at[0] - m_frame - extra, Expected(number, method), number);
      if (found) break;
    }
    if (!found) break;
    before.push_back(*found);
    next = &before.back();
  }
  return before;
}

std::optional<GridFrame> FrameReader::ReadFrameAt(const SampleView& view, double place,
                                                  const std::array<int, kBurstsPerFrame>& expected,
                                                  int number) {
  // As far as the frame's length may be off.
  const double unsure = std::min(kSlotUncertainty * m_frame, kSpeedErrors * m_frameError);
  const int radius = static_cast<int>(std::ceil(unsure + kCertainJump));
  if (place < -radius || m_reader.NeedFrom(place - radius) < view.first) return {};
  std::array<int, kBurstsPerFrame - 1> symbols{};
  std::copy_n(expected.begin(), symbols.size(), symbols.begin());
  double slot = m_slot;
  double correlation = 0.0;
  const double matched = m_reader.LocateFrame(view, symbols, place, radius, 0.0, slot, correlation);
  if (std::abs(correlation) < kMinFrameCorrelation ||
      correlation * m_polarity.value_or(1.0) <= 0.0) {
    return {};
  }
  const GridFrame read = ReadSlots(view, matched, {}, expected);
  if (read.unreadable || read.raw.number != number || read.placed < kRefineBursts ||
      CutByTheStart(read, std::abs(correlation) >= kMinCorrelation)) {
    return {};
  }
  return read;
}

bool FrameReader::CutByTheStart(const GridFrame& read, bool clean) {
  return read.at[0] < (clean ? -0.5 : -kCertainJump);
}

std::array<int, kBurstsPerFrame> FrameReader::Expected(int number, int method) const {
  auto digit = [](int d) { return d == 0 ? kZeroDigitSymbol : d; };
  std::array<int, kBurstsPerFrame> symbols = {kFrameStartSymbol,        digit(number / 1000 % 10),
                                              digit(number / 100 % 10), digit(number / 10 % 10),
                                              digit(number % 10),       0};
  if (number == 1) {
    symbols[0] = method == kMethod1 ? kRunEdgeSymbol : kFirstFrameSymbol;
    if (method == kMethod1) symbols[1] = kFirstFrameSymbol;
  }
  const int id = m_options.dtmfId.value_or(LikelyId());
  if (id != 0) symbols[5] = CheckSymbol(number, id);
  return symbols;
}

int FrameReader::LikelyId() const {
  const auto best = std::max_element(m_idVotes.begin() + 1, m_idVotes.end());
  return *best > 0 ? static_cast<int>(best - m_idVotes.begin()) : 0;
}

GridFrame FrameReader::ReadSlots(const SampleView& view, double place,
                                 const std::array<int, kBurstsPerFrame>& told,
                                 const std::array<int, kBurstsPerFrame>& expected) const {
  return ReadSlotsWith(view, place, [&](std::size_t k, double guess, double polarity) {
    SlotRead slot = m_reader.Read(view, guess, polarity, expected[k]);
    if (slot.symbol == 0 && told[k] != 0) slot = m_reader.Place(view, told[k], guess, polarity);
    if (slot.symbol == 0) slot.symbol = told[k];
    return slot;
  });
}

GridFrame FrameReader::ConfirmSlots(const SampleView& view, double place,
                                    const std::array<int, kBurstsPerFrame>& expected) const {
  return ReadSlotsWith(view, place, [&](std::size_t k, double guess, double polarity) {
    return m_reader.Confirm(view, expected[k], guess, polarity);
  });
}

template <typename ReadSlot>
GridFrame FrameReader::ReadSlotsWith(const SampleView& view, double place,
                                     ReadSlot&& readSlot) const {
  const double polarity = m_polarity.value_or(1.0);
  GridFrame read;
  read.at.fill(std::nan(""));
  read.fit.fill(std::nan(""));
  std::array<int, kBurstsPerFrame> symbols{};
  std::array<double, kBurstsPerFrame> guesses{};
  double guess = place;
  for (std::size_t k = 0; k < kBurstsPerFrame; ++k) {
    if (k > 0) guess += 2.0 * m_slot;
    const SlotRead slot = readSlot(k, guess, polarity);
    symbols[k] = slot.symbol;
    guesses[k] = guess;
    if (!slot.placed) continue;
    ++read.placed;
    read.at[k] = slot.position;
    read.fit[k] =
        std::isnan(slot.fit) ? m_reader.Fit(view, slot.symbol, slot.position, polarity) : slot.fit;
    guess = slot.position;
  }
  // A burst that could not be placed is judged where it should lie: a part of it lost (its
  // start zeroed, say) can keep it from being placed at all.
  for (std::size_t k = 0; k < kBurstsPerFrame; ++k) {
    if (std::isnan(read.fit[k]) && symbols[k] != 0) {
      read.fit[k] = m_reader.Fit(view, symbols[k], guesses[k], polarity);
    }
  }
  if (std::isnan(read.at[0])) read.at[0] = place;
  read.raw.start.match.found = true;
  read.raw.start.match.position = read.at[0];
  read.raw.start.match.correlation = polarity;
  read.raw.start.match.levelDbfs = LevelAt(view, read.at[0]);
  if (!ComposeFrame(symbols, read.raw)) {
    read.unreadable = true;
    read.raw.marker = symbols[0];
  }
  return read;
}
