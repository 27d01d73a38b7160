// The grid the frames fix: every frame it expects read where it lies, kept, or known lost.
#include "verify/map/frame_reader.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "timecode_format/dtmf_burst.h"
#include "verify/map/reader_tuning.h"
#include "verify/map/timing_fit.h"
#include "verify/signal/lane_sums.h"

void FrameReader::ReadExpected() {
  const double expected = *m_expected;
  m_expected.reset();
  const SampleView view = m_tracker.View();
  const double end = static_cast<double>(m_tracker.Length());
  if (m_reader.NeedFrom(expected) < view.first ||
      expected + (kFrameBurstSlots - 0.1) * m_slot > end) {
    DropPending();
    return;
  }
  std::array<int, kBurstsPerFrame> told{};
  // A marker the keys placed precisely places the frame better than the grid does after a
  // slip of a few samples: read from the grid's place, a burst at a low rate may settle a
  // cycle of its tones away from where it lies.
  double start = expected;
  std::optional<double> heardAt;  // where the keys heard the frame expected, roughly
  if (m_heard && m_heard->number == m_lastNumber + 1) {
    told = m_heard->symbols;
    heardAt = m_heard->start.match.found ? m_heard->start.match.position : m_heard->start.onset;
    const BurstMatch& match = m_heard->start.match;
    if (match.found && std::abs(match.correlation) >= kMinCorrelation &&
        m_reader.NeedFrom(match.position) >= view.first) {
      start = match.position;
    }
  }
  m_heard.reset();
  const std::array<int, kBurstsPerFrame> symbols =
      Expected(m_lastNumber + 1, m_options.method.value_or(kMethod2));
  GridFrame read = ReadSlots(view, start, told, symbols);
  SeekElsewhere(view, expected, heardAt, told, symbols, read);
  const bool markerRead = MarkerRead(read);
  if (!read.unreadable) {
    Straighten(view, read);
    FindLostStretches(view, read);
    if (OnGrid(read, symbols, expected)) {
      KeepOnGrid(read);
    } else {
      Keep(read);
    }
    return;
  }
  read.raw.number = m_lastNumber + 1;
  if (!markerRead && m_pending) {
    DropPending();
    return;
  }
  if (!markerRead) {
    read.raw.marker = kFrameStartSymbol;
    m_pending = Pending{read, m_predicted, m_lastPlace};
    m_expected = expected + m_frame;
    m_predicted = m_expected;
    m_lastNumber = read.raw.number;
    m_lastPlace = expected;
    return;
  }
  Keep(read);
}

void FrameReader::SeekElsewhere(const SampleView& view, double expected,
                                std::optional<double> heardAt,
                                const std::array<int, kBurstsPerFrame>& told,
                                const std::array<int, kBurstsPerFrame>& symbols,
                                GridFrame& read) const {
  // Digits the keys told, read at a place where few of their bursts lie, are no frame placed
  // there: under noise a slip of tens or hundreds of samples leaves the grid's place empty
  // while the keys still hear the frame near it.
  const bool offGrid = !read.unreadable && read.placed < kRefineBursts;
  if ((read.unreadable && !MarkerRead(read)) || offGrid) {
    // Where the grid, young or broken by a small jump, misses the frame by more than a
    // sample, the frame it expects is matched whole around that place.
    const bool young = m_frames.size() < kYoungGrid;
    const int radius = young ? static_cast<int>(std::ceil(kSlotUncertainty * m_frame)) +
                                   static_cast<int>(kCertainJump)
                       : offGrid ? SearchRadius()
                                 : m_tracker.BlockSamples();
    Relocate(view, expected, radius, told, symbols, read, false);
  }
  if (read.unreadable && heardAt && std::abs(*heardAt - expected) > kCertainJump) {
    // The keys heard the frame expected a good way from the grid's place, where nothing could
    // be read: playback jumped there by more than a few slots.
    Relocate(view, *heardAt, SearchRadius(), told, symbols, read, true);
  } else if (!read.unreadable && m_frames.size() >= kYoungGrid &&
             std::abs(read.at[0] - expected) > kCertainJump) {
    // Read from a guess that a slip left this far off, the bursts may have settled a cycle of
    // their tones from where they lie: the whole frame's best match around them tells.
    Relocate(view, read.at[0], m_tracker.BlockSamples(), told, symbols, read, true);
  } else if (!read.unreadable && !m_frames.empty() && m_frames.size() < kYoungGrid &&
             std::abs(read.at[0] - expected) > kCertainJump) {
    // A young grid matched the frame only near where it expected it, within what the first
    // look leaves unsure of the frame's length: a jump further than that leaves it on a side
    // lobe of its tones. The whole search around it tells, by how well the bursts fit.
    Relocate(view, expected, SearchRadius(), told, symbols, read, true);
  }
  if (!read.unreadable && m_frames.size() >= kYoungGrid && MeanFit(read) < kWeakFit * m_fitMean) {
    // Bursts that explain their samples far worse than the frames before did were placed
    // where they no longer lie: under noise, a slip of tens of samples leaves each burst
    // settled on a side lobe near the old grid, and a jump of more than a slot on a side lobe
    // near where the first match put the frame. The whole frame is sought where the keys heard
    // it, or else around that match.
    const bool heardElsewhere = heardAt && std::abs(*heardAt - read.at[0]) > kCertainJump;
    Relocate(view, heardElsewhere ? *heardAt : read.at[0], SearchRadius(), told, symbols, read,
             true);
  }
}

bool FrameReader::OnGrid(const GridFrame& read, const std::array<int, kBurstsPerFrame>& symbols,
                         double expected) const {
  return m_frames.size() >= kYoungGrid && !read.unreadable && read.placed == kBurstsPerFrame &&
         symbols[kBurstsPerFrame - 1] != 0 && read.raw.symbols == symbols &&
         std::abs(read.at[0] - expected) <= kCertainJump;
}

void FrameReader::KeepOnGrid(const GridFrame& read) {
  Keep(read);
  m_tracker.Hold();
  if (m_tracker.SkipTo(static_cast<std::int64_t>(std::floor(read.at[kBurstsPerFrame - 1])))) {
    m_parser.Forget();
  }
}

bool FrameReader::ReadOnGrid() {
  const double expected = *m_expected;
  const SampleView view = m_tracker.View();
  if (m_pending || m_reader.NeedFrom(expected) < view.first) return false;
  const std::array<int, kBurstsPerFrame> symbols =
      Expected(m_lastNumber + 1, m_options.method.value_or(kMethod2));
  const GridFrame read = ConfirmSlots(view, expected, symbols);
  if (!OnGrid(read, symbols, expected)) return false;
  m_expected.reset();
  m_heard.reset();
  KeepOnGrid(read);
  return true;
}

double FrameReader::LevelAt(const SampleView& view, double place) const {
  const auto first = static_cast<std::int64_t>(std::ceil(place));
  const auto count = static_cast<std::int64_t>(kSlotSamples * m_slot / kSlotSamples);
  const double squares =
      lanes::Dot(view.At(first), view.At(first), static_cast<std::size_t>(count));
  const double meanSquare = squares / static_cast<double>(count);
  return meanSquare > 0.0 ? 10.0 * std::log10(meanSquare) : -200.0;
}

bool FrameReader::MarkerRead(const GridFrame& read) {
  return read.raw.marker >= kRunEdgeSymbol && read.raw.marker <= kFirstFrameSymbol;
}

void FrameReader::DropPending() {
  if (!m_pending) return;
  m_lastNumber = m_pending->frame.raw.number - 1;
  m_predicted = m_pending->predicted;
  m_lastPlace = m_pending->lastPlace;
  m_pending.reset();
}

void FrameReader::NumberFromGrid(GridFrame& read) const {
  if (read.unreadable || !m_lastPlace || read.raw.check == kCheckStar) return;
  // Frame 1's own marker starts a file: the next file of a playlist, with its own DTMF ID.
  if (read.raw.marker == kFirstFrameSymbol || read.raw.marker == kRunEdgeSymbol) return;
  // The ID of the frame read last: a playlist's next file has an ID of its own.
  const int id = m_options.dtmfId.value_or(m_lastId != 0 ? m_lastId : LikelyId());
  if (id == 0 || CheckSymbol(read.raw.number, id) == read.raw.check) return;
  const int number =
      m_lastNumber + static_cast<int>(std::lround((read.at[0] - *m_lastPlace) / m_frame));
  if (number == read.raw.number || number < 1) return;
  // Read whole and clear, with a check symbol that gives another DTMF ID, it may be the next
  // file of a playlist begun past its first frame: it stands for now, and Finish numbers it
  // from the grid after all where too few frames of that file follow it.
  const bool clear = read.placed == kBurstsPerFrame && MarkerRead(read) &&
                     (m_fitCount == 0 || MeanFit(read) >= kWeakFit * m_fitMean);
  if (clear && IdFromCheck(read.raw.number, read.raw.check) != 0) {
    read.gridNumber = number;
    return;
  }
  read.raw.number = number;
  read.unreadable = true;
}

void NumberShortFilesFromGrid(std::vector<GridFrame>& frames, bool complete) {
  for (std::size_t i = 0; i < frames.size(); ++i) {
    if (frames[i].gridNumber == 0) continue;
    const GridFrame& first = frames[i];
    const int id = IdFromCheck(first.raw.number, first.raw.check);
    // The run goes on while the numbers do, over frames of that ID and unreadable ones; only the
    // frames read whole count.
    std::size_t end = i + 1, read = 1;
    for (; end < frames.size(); ++end) {
      const GridFrame& next = frames[end];
      if (next.raw.number != first.raw.number + static_cast<int>(end - i)) break;
      if (next.unreadable) continue;
      if (IdFromCheck(next.raw.number, next.raw.check) != id) break;
      ++read;
    }
    if (read >= kFileFrames || (end == frames.size() && !complete)) continue;
    const int number = first.gridNumber;
    for (std::size_t k = i; k < end; ++k) {
      frames[k].raw.number = number + static_cast<int>(k - i);
      frames[k].unreadable = true;
      frames[k].gridNumber = 0;
    }
  }
}

void FrameReader::Keep(GridFrame read) {
  NumberFromGrid(read);
  SettlePending(read);
  if (read.unreadable) {
    MapFault("frame " + std::to_string(read.raw.number) + " unreadable at " + Where(read.at[0]));
  }
  const double place = read.at[0];
  const int number = read.raw.number;
  if (m_lastPlace) {
    TellOrder(number, place);
    FollowSpacing(read);
  }
  // A frame that may be another file's (or a misread) stands for now, but tells nothing of the
  // file playing until more of it follow (see NumberShortFilesFromGrid).
  const bool provisional = read.gridNumber != 0;
  if (!provisional) m_largest = std::max(m_largest, number);
  if (!read.unreadable && m_options.dtmfId && read.raw.check != kCheckStar &&
      CheckSymbol(number, *m_options.dtmfId) != read.raw.check) {
    Fault("frame " + std::to_string(number) + ": wrong check symbol at " + Where(place));
  }
  if (!read.unreadable && read.raw.check != kCheckStar && !provisional) {
    m_lastId = IdFromCheck(number, read.raw.check);
    ++m_idVotes[static_cast<std::size_t>(m_lastId)];
  }
  if (!read.unreadable) {
    m_fitMean += (m_fitCount == 0 ? 1.0 : kSpacingFollow) * (MeanFit(read) - m_fitMean);
    ++m_fitCount;
  }
  m_lastPlace = place;
  m_lastNumber = number;
  // Under method 1, frame 1 carries two more gaps.
  const double length = m_frame + (read.raw.marker == kRunEdgeSymbol ? 2.0 * m_slot : 0.0);
  m_expected = place + length;
  m_predicted = m_expected;
  m_frames.push_back(read);
}

void FrameReader::SettlePending(const GridFrame& read) {
  if (!m_pending) return;
  // The frame whose marker drowned lay in the grid after all: the next one came on time.
  if (read.raw.number == m_pending->frame.raw.number + 1) {
    const GridFrame& drowned = m_pending->frame;
    MapFault("frame " + std::to_string(drowned.raw.number) + " unreadable at " +
             Where(drowned.at[0]));
    m_frames.push_back(drowned);
    m_pending.reset();
  } else {
    DropPending();
  }
}

void FrameReader::TellOrder(int number, double place) const {
  // Only numbers above every one heard can be missing: after a frame heard again, the frames up
  // to the largest were there.
  if (number > m_largest + 2) {
    MapFault("frames " + std::to_string(m_largest + 1) + " to " + std::to_string(number - 1) +
             " missing");
  } else if (number == m_largest + 2) {
    MapFault("frame " + std::to_string(m_largest + 1) + " missing");
  } else if (number <= m_largest) {
    MapFault("frame " + std::to_string(number) +
             (number == m_largest ? " again" : " out of order") + " after frame " +
             std::to_string(m_lastNumber) + " at " + Where(place));
  }
}

void FrameReader::FollowSpacing(const GridFrame& read) {
  const double place = read.at[0];
  const int number = read.raw.number;
  // Against where this number belongs after the last frame, as the fit judges it: a lost frame
  // or one heard again is a jump as well as a frame missing or out of order.
  const double jump = place - (*m_predicted + (number - m_lastNumber - 1) * m_frame);
  const bool next = number == m_lastNumber + 1;
  // Until a few frames are read the frame's length is only roughly known: the spacing of the
  // first frames sets it.
  const double unsure = std::min(kSlotUncertainty * m_frame, kSpeedErrors * m_frameError);
  // Under method 1, frame 1 carries two more gaps.
  const bool longer = !m_frames.empty() && m_frames.back().raw.marker == kRunEdgeSymbol;
  const double spacing = place - *m_lastPlace - (longer ? 2.0 * m_slot : 0.0);
  const bool settling = next && m_frames.size() < kYoungGrid &&
                        std::abs(jump) <= unsure + kCertainJump && !Slipped(read, spacing);
  if (settling) {
    // A frame placed only where the grid guessed tells nothing of the frame's length.
    if (read.placed >= kRefineBursts) {
      m_frame = spacing;
      m_slot = m_frame * kSlotSamples / kFrameSamples;
    }
  } else if (std::abs(jump) > kCertainJump || (next && !read.unreadable && Slip(jump))) {
    char text[48];
    std::snprintf(text, sizeof text, "%+.2f", jump);
    MapFault("discontinuity at frame " + std::to_string(number) + ": jump " + text + " samples, " +
             Where(place));
  } else if (next) {
    m_frame += kSpacingFollow * (spacing - m_frame);
    m_slot = m_frame * kSlotSamples / kFrameSamples;
    if (!read.unreadable) {
      m_jumpScatter += (m_steady == 0 ? 1.0 : kSpacingFollow) * (std::abs(jump) - m_jumpScatter);
      ++m_steady;
    }
  }
}

bool FrameReader::Slip(double jump) const {
  return m_steady >= kSteadyFrames && std::abs(jump) >= kSlipSamples &&
         std::abs(jump) > kSlipStrays * m_jumpScatter;
}

void FrameReader::Relocate(const SampleView& view, double around, int radius,
                           const std::array<int, kBurstsPerFrame>& told,
                           const std::array<int, kBurstsPerFrame>& symbols, GridFrame& read,
                           bool readable) const {
  const auto reach = m_reader.FrameReach(kBurstsPerFrame - 1, m_slot, radius, 0.0);
  if (m_reader.NeedFrom(around - radius) < view.first ||
      around + static_cast<double>(reach) > static_cast<double>(view.first + view.count)) {
    return;
  }
  double slot = m_slot;
  double correlation = 0.0;
  std::array<int, kBurstsPerFrame - 1> whole{};
  std::copy_n(symbols.begin(), whole.size(), whole.begin());
  const double place = m_reader.LocateFrame(view, whole, around, radius, 0.0, slot, correlation);
  if (std::abs(correlation) < kMinFrameCorrelation ||
      correlation * m_polarity.value_or(1.0) <= 0.0) {
    return;
  }
  GridFrame again = ReadSlots(view, place, told, symbols);
  if (!readable || (!again.unreadable && MeanFit(again) > MeanFit(read))) read = again;
}

void FrameReader::Straighten(const SampleView& view, GridFrame& read) const {
  std::vector<double> starts;
  for (std::size_t k = 0; k < kBurstsPerFrame; ++k) {
    if (!std::isnan(read.at[k])) starts.push_back(read.at[k] - 2.0 * k * m_slot);
  }
  if (static_cast<double>(starts.size()) < kRefineBursts) return;
  const double line = Median(starts);
  const double polarity = m_polarity.value_or(1.0);
  for (std::size_t k = 0; k < kBurstsPerFrame; ++k) {
    const double guess = line + 2.0 * k * m_slot;
    const int symbol = read.raw.symbols[k];
    if (std::isnan(read.at[k]) || symbol == 0 || std::abs(read.at[k] - guess) <= kCertainJump) {
      continue;
    }
    const SlotRead slot = m_reader.Place(view, symbol, guess, polarity);
    if (!slot.placed || std::abs(slot.position - guess) > kCertainJump) continue;
    const double fit = m_reader.Fit(view, symbol, slot.position, polarity);
    if (!(fit > read.fit[k])) continue;
    read.at[k] = slot.position;
    read.fit[k] = fit;
  }
  read.raw.start.match.position = read.at[0];
}

void FrameReader::FindLostStretches(const SampleView& view, GridFrame& read) const {
  for (std::size_t k = 0; k < kBurstsPerFrame; ++k) {
    if (std::isnan(read.at[k])) continue;
    read.lost[k] =
        m_reader.LostStretch(view, read.raw.symbols[k], read.at[k], m_polarity.value_or(1.0));
  }
}

double FrameReader::MeanFit(const GridFrame& read) {
  double sum = 0.0;
  int count = 0;
  for (const double fit : read.fit) {
    if (std::isnan(fit)) continue;
    sum += fit;
    ++count;
  }
  return count > 0 ? sum / count : 0.0;
}

bool FrameReader::Slipped(const GridFrame& read, double spacing) const {
  double n = 0.0, mk = 0.0, ma = 0.0;
  for (std::size_t k = 0; k < kBurstsPerFrame; ++k) {
    if (std::isnan(read.at[k])) continue;
    n += 1.0;
    mk += static_cast<double>(k);
    ma += read.at[k];
  }
  if (n < kRefineBursts) return false;
  mk /= n;
  ma /= n;
  double across = 0.0, spread = 0.0;
  for (std::size_t k = 0; k < kBurstsPerFrame; ++k) {
    if (std::isnan(read.at[k])) continue;
    across += (static_cast<double>(k) - mk) * (read.at[k] - ma);
    spread += (static_cast<double>(k) - mk) * (static_cast<double>(k) - mk);
  }
  const double own = 0.5 * across / spread * kFrameSamples / kSlotSamples;
  return std::abs(spacing - own) > kCertainJump;
}
