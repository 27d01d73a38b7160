// Reads every frame of one channel as the samples arrive: the frames the keys tell, read slot by
// slot where they were found (frame_reader.cpp), and the grid they fix, along which every frame
// expected is read or known to be there (frame_grid.cpp).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <vector>

#include "timecode_format/timecode_layout.h"
#include "verify/map/channel_choice.h"
#include "verify/map/verifier.h"
#include "verify/signal/burst_tracker.h"
#include "verify/signal/frame_parser.h"
#include "verify/signal/slot_reader.h"

// A frame as read: its symbols, where each of its bursts begins, or only its place in the grid
// when its digits or check symbol could not be read.
struct GridFrame {
  RawFrame raw;
  std::array<double, kBurstsPerFrame> at{};  // NaN where a burst could not be placed
  // How well each burst explains its samples, where it was placed or else should lie; NaN where
  // its symbol is not known.
  std::array<double, kBurstsPerFrame> fit{};
  int placed = 0;  // how many bursts were placed
  bool unreadable = false;
  std::array<bool, kBurstsPerFrame> lost{};  // a stretch of the burst lost, for all the noise
  // Where the frame was read whole as another file's (its check symbol gives another DTMF ID)
  // against the grid's number for it: that number, in case too few frames of that file follow.
  int gridNumber = 0;
};

// Frames read as another file's (see GridFrame::gridNumber), fewer in a row than a file shows
// by, were misread: they take the grid's numbers and are unreadable. Until the recording is read
// `complete`, a run at the end of the frames may yet grow, and stands.
void NumberShortFilesFromGrid(std::vector<GridFrame>& frames, bool complete);

// Reads every frame of one channel as the samples arrive. Frames the tracker finds from the keys
// it hears fix a grid; where the grid expects a frame the tracker did not find, the slot is read
// against all sixteen bursts at the predicted place, so a frame whose keys drown is still read
// or, failing that, known to be there. While every frame lies where the grid expects it, the
// tracker is held and each slot only confirmed; whatever else turns up, the tracker hears the
// samples from the last confirmed frame's check symbol on, and the frames are read as before.
class FrameReader {
 public:
  FrameReader(int rate, const Choice& choice, const VerifyOptions& options);

  // Samples as floats in full scale, or 16-bit samples as stored.
  void Push(const float* samples, std::size_t count);
  void Push(const std::int16_t* samples, std::size_t count);

  void Finish();

  std::int64_t Length() const { return m_tracker.Length(); }
  std::vector<GridFrame>& Frames() { return m_frames; }
  double Stretch() const { return m_stretch; }

 private:
  template <typename Sample>
  void PushSamples(const Sample* samples, std::size_t count);
  void Fault(const std::string& line) const;
  // A fault the playback map tells as an event (a jump, a frame missing, out of order or
  // unreadable): told here only where the map's events are not.
  void MapFault(const std::string& line) const;
  std::string Where(double sample) const;

  void Collect();

  void Told(const RawFrame& frame, bool precise, double rough, int radius, const SampleView& view);

  // The first frame matched whole is placed to the nearest sample at best, its slot only to a
  // step of the search: where the bursts read there lie on a line, the line's start and slope
  // place the frame and measure the slot to a fraction of a sample. Returns the place.
  double Refine(const SampleView& view, double place, const std::array<int, kBurstsPerFrame>& told);

  // How far the slot the first look measured may be off, as a share of it: under noise the keys
  // place each frame to a few hundred samples, and a few frames tell the speed to about a
  // percent; the fit's own error, where it says more, or the most a recording is played off.
  double FirstSlotError() const;

  int SearchRadius() const;

  // Before any frame is read: the bursts are matched at the slot length the first frame showed.
  void Restretch(double slot);

  // A frame the keys told, at a place away from the grid: first every frame the grid expected
  // before it is read, then this one, slot by slot where it was found.
  void Found(const RawFrame& frame, double place, double polarity);

  // The frames before `first`, each read where a frame's length before the next puts it and
  // known by the number it must have, back to frame 1 or to the first that cannot be read.
  std::vector<GridFrame> ReadBefore(const SampleView& view, const GridFrame& first);

  // The frame `number`, whose symbols are `expected`, read at `place`, or matched whole within a
  // few samples of it first where it cannot be read there; none where it is not there.
  std::optional<GridFrame> ReadFrameAt(const SampleView& view, double place,
                                       const std::array<int, kBurstsPerFrame>& expected,
                                       int number);

  // A frame whose start marker began before the recording did. A clean marker is placed to a
  // fraction of a sample; one matched under noise only to a few.
  static bool CutByTheStart(const GridFrame& read, bool clean);

  // The six symbols frame `number` carries under `method`; its check symbol where the DTMF ID
  // is given or the frames read so far agree on one, else 0.
  std::array<int, kBurstsPerFrame> Expected(int number, int method) const;

  // The DTMF ID the check symbols read so far agree on, or 0 before any was read.
  int LikelyId() const;

  // The six slots of a frame from `place` on, each read against all sixteen bursts, the symbols
  // of `expected` (0: none) taken on less evidence; where a slot reads as nothing clear, the
  // symbol the keys told (if any) is placed there instead.
  GridFrame ReadSlots(const SampleView& view, double place,
                      const std::array<int, kBurstsPerFrame>& told,
                      const std::array<int, kBurstsPerFrame>& expected = {}) const;

  // The six slots of a frame from `place` on, each holding the burst of `expected` clearly or
  // read as nothing; much quicker where the frame is there, as it mostly is.
  GridFrame ConfirmSlots(const SampleView& view, double place,
                         const std::array<int, kBurstsPerFrame>& expected) const;

  // The six slots from `place` on, each read by read(k, guess, polarity) and the next guessed
  // from where it was placed.
  template <typename ReadSlot>
  GridFrame ReadSlotsWith(const SampleView& view, double place, ReadSlot&& readSlot) const;

  // The slot where the grid expects a frame, read against every burst. A frame there whose
  // marker can be read but not its digits or check is unreadable; one whose marker cannot be
  // read either is unreadable only when the grid finds the next frame where it expects it, and
  // otherwise the grid ends there (the timecode ended, or jumped where the keys will tell).
  void ReadExpected();
  // Where the frame read at the grid's place is unreadable, few of its bursts were placed, or
  // they lie off the grid or explain their samples poorly, the frame is sought around the place
  // the grid, the keys or the bursts give, and `read` becomes what is found there.
  void SeekElsewhere(const SampleView& view, double expected, std::optional<double> heardAt,
                     const std::array<int, kBurstsPerFrame>& told,
                     const std::array<int, kBurstsPerFrame>& symbols, GridFrame& read) const;

  // The frame of `symbols` matched whole within `radius` of `around` and read there, in place of
  // `read` where the match is good (and, where `readable`, where the digits read there).
  void Relocate(const SampleView& view, double around, int radius,
                const std::array<int, kBurstsPerFrame>& told,
                const std::array<int, kBurstsPerFrame>& symbols, GridFrame& read,
                bool readable) const;

  // Under noise a burst read from a guess that a slip left a few samples off may settle on a
  // side lobe of its tones, off the line its frame's other bursts lie on: placed again from that
  // line, it is kept there where it explains its samples better.
  void Straighten(const SampleView& view, GridFrame& read) const;

  // Under noise a few dozen samples zeroed change a burst's fit less than the noise does; its
  // samples show them.
  void FindLostStretches(const SampleView& view, GridFrame& read) const;

  // How well the frame's bursts explain their samples, on average; 0 where none is known.
  static double MeanFit(const GridFrame& read);

  // A spacing the young grid would take for the frame's length, that the frame's own bursts
  // (two slots apart) say is not its length: a slip among the first frames, not a speed.
  bool Slipped(const GridFrame& read, double spacing) const;

  // A frame read where the grid expects it, every burst the one expected there: the frame the
  // keys would tell, had they been listened to.
  bool OnGrid(const GridFrame& read, const std::array<int, kBurstsPerFrame>& symbols,
              double expected) const;

  // Until the grid meets something else, the keys need not be listened to: a frame read on the
  // grid explains the samples up to its check symbol. The gap behind it is left to the keys, for
  // the next frame's marker may begin anywhere in it where samples were lost.
  void KeepOnGrid(const GridFrame& read);

  // The frame the grid expects, read while the keys are held: kept where it lies on the grid;
  // false, and nothing changed, where it does not.
  bool ReadOnGrid();

  double LevelAt(const SampleView& view, double place) const;

  static bool MarkerRead(const GridFrame& read);

  // The grid ended after a frame it only supposed: that frame was never there.
  void DropPending();

  // Digits that spell another number than the grid puts at this place, with a check symbol that
  // fails for them, are no frame of that number: they are the damaged frame the grid expects.
  // Only frames whose check symbols pass may show the timecode elsewhere than the grid says.
  void NumberFromGrid(GridFrame& read) const;

  // The frame read, kept: its number checked against the grid, the faults it shows told, and
  // the grid moved on to the next frame.
  void Keep(GridFrame read);
  // A frame the grid only supposed is kept, unreadable, where `read` came on time after it, and
  // dropped otherwise.
  void SettlePending(const GridFrame& read);
  // The lines for a frame missing, heard again or out of order, where the map does not tell.
  void TellOrder(int number, double place) const;
  // The frame's place against the grid's: a jump, or the frame's length followed.
  void FollowSpacing(const GridFrame& read);

  // A jump below kCertainJump between neighbouring frames is a slip where the frames have stood
  // still so far: after a few steady frames, a jump of half a sample or more that stands far
  // out of how much the steady ones strayed. Under noise they stray too far for that, and only
  // the fit at the end can tell a slip.
  bool Slip(double jump) const;

  int m_rate;
  int m_timecodeRate;
  double m_slot;        // one slot in recording samples, at the speed played
  double m_frame;       // one frame, followed as the frames come
  double m_frameError;  // how far m_frame may be off before the first frames settle it
  BurstTracker m_tracker;
  FrameParser m_parser;
  double m_stretch;  // recording samples per timecode sample the bursts are matched at
  SlotReader m_reader;
  const VerifyOptions& m_options;
  std::int64_t m_lag = 0;
  std::int64_t m_keep = 0;  // samples the grid reads back from the newest
  std::optional<double> m_polarity;
  std::optional<double> m_expected;   // where the grid expects the next frame, until it is read
  std::optional<double> m_predicted;  // the same, kept to measure the jump of what came
  std::optional<double> m_lastPlace;
  int m_lastNumber = 0;
  int m_largest = 0;           // the largest frame number heard
  double m_jumpScatter = 0.0;  // how far steady frames stray from where they were expected
  int m_steady = 0;            // how many frames that measure holds
  double m_fitMean = 0.0;      // how well the bursts of the frames read lately fit, on average
  int m_fitCount = 0;
  // A frame unreadable marker and all, until the next one is read, and what the grid knew before.
  struct Pending {
    GridFrame frame;
    std::optional<double> predicted, lastPlace;
  };
  std::optional<Pending> m_pending;
  std::array<int, kMaxDtmfId + 1> m_idVotes{};  // frames read whose check each ID gives
  int m_lastId = 0;                             // the ID the last frame read gives
  std::optional<RawFrame> m_heard;  // the keys of the frame the grid expects next, if heard
  std::deque<RawFrame> m_told;      // frames the keys told, waiting for all of their samples
  std::vector<GridFrame> m_frames;
};
