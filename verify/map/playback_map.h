// What the playback system played, as one model: the recording is a row of segments, each a
// stretch during which TC.wav played on without a break, and between them the events that broke
// it (playback skipped forward, went back, or the samples there are not TC.wav's). Every report
// (summary, JSON, CSV, labels, plot) tells the faults from this one map.
#pragma once

#include <vector>

// A stretch of recording during which TC.wav played continuously: recording sample r holds
// TC.wav sample timecodeFirst + (r - recordingFirst) / slope.
struct Segment {
  double recordingFirst = 0.0;  // where its first frame's start marker lies
  double recordingLast = 0.0;   // where its last frame's check symbol ends
  double timecodeFirst = 0.0;   // TC.wav sample at recordingFirst
  double slope = 1.0;           // recording samples per TC.wav sample
  int firstFrame = 0;           // numbers of its first and last frames read
  int lastFrame = 0;
  int framesRead = 0;
  double interceptError = 0.0;  // standard error of its placing, in recording samples
  std::size_t firstIndex = 0;   // its first frame in the report's frames

  double TimecodeAt(double recording) const {
    return timecodeFirst + (recording - recordingFirst) / slope;
  }
};

// What broke the playback, or the recording, between or inside segments.
enum class EventKind {
  cut,        // playback skipped forward in TC.wav
  repeat,     // playback went back: a repeat or a loop
  insertion,  // recording samples that are no part of TC.wav
  damage,     // samples in place but unreadable
  fileChange  // the next segment is another TC.wav
};

struct PlaybackEvent {
  EventKind kind = EventKind::cut;
  // Where it lies in the recording: the first recording sample that is not the old playback lies
  // in [recordingFirst, recordingLast]; the two are equal where the place is exact.
  double recordingFirst = 0.0;
  double recordingLast = 0.0;
  // Where playback left TC.wav and where it resumed, in TC.wav samples, at recordingFirst (the
  // samples between the two places are no part of either segment where they differ).
  double leftAt = 0.0;
  double resumedAt = 0.0;
  double jumpTimecode = 0.0;   // resumedAt - leftAt; 0 for damage
  double jumpRecording = 0.0;  // the same in recording samples
  double jumpError = 0.0;      // standard error of the jump, in TC.wav samples
  int frameAfter = 0;          // the first frame read after it (damage: the first frame it hit)
  double frameSample = 0.0;    // where that frame lies in the recording
  int framesHit = 0;           // how many frames it made unreadable
  // The stretch of recording the change must lie in, from the frames read whole either side.
  double searchFirst = 0.0;
  double searchLast = 0.0;

  bool Exact() const { return recordingFirst == recordingLast; }
};

struct PlaybackMap {
  std::vector<Segment> segments;
  std::vector<PlaybackEvent> events;  // in recording order
};

struct VerifyReport;
// Builds report.map.events from the segments the fit left in report.map.segments, the places of
// every burst of the frames read and the frames that could not be read. `slotSamples` is one
// slot in recording samples.
void BuildEvents(VerifyReport& report);
