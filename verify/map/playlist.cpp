#include "verify/map/playlist.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "verify/map/playback_map.h"
#include "verify/map/reader_tuning.h"
#include "verify/map/reference_check.h"
#include "verify/map/timing_fit.h"

namespace {

struct Run {
  int id = 0;
  std::size_t from = 0;  // frames [from, to) of the whole report
  std::size_t to = 0;
  std::size_t Size() const { return to - from; }
};

// Runs of frames in recording order by the ID their check symbols give; a frame whose check
// gives none (or the closing '*') goes with the run it is in.
std::vector<Run> RunsOfIds(const std::vector<FoundFrame>& frames) {
  std::vector<Run> runs;
  for (std::size_t i = 0; i < frames.size(); ++i) {
    const int id = frames[i].checkId;
    if (runs.empty() || (id != 0 && runs.back().id != id && runs.back().id != 0)) {
      runs.push_back({id, i, i});
    } else if (runs.back().id == 0) {
      runs.back().id = id;
    }
    runs.back().to = i + 1;
  }
  // Short runs are misreads: they join the run before (or, first of all, the one after).
  std::vector<Run> files;
  for (const Run& run : runs) {
    if (run.Size() < kFileFrames && !files.empty()) {
      files.back().to = run.to;
    } else if (!files.empty() && files.back().id == run.id) {
      files.back().to = run.to;
    } else if (!files.empty() && files.back().Size() < kFileFrames) {
      files.back() = {run.id, files.back().from, run.to};
    } else {
      files.push_back(run);
    }
  }
  return files;
}

const ReferenceFacts* ReferenceOf(const std::vector<ReferenceFacts>& references, int id) {
  for (const ReferenceFacts& facts : references) {
    if (facts.dtmfId == id) return &facts;
  }
  return nullptr;
}

// One file's own report: its frames, those unreadable among them, its check symbols judged by
// its own ID, and its own fit.
VerifyReport FileReport(const VerifyReport& whole, const Run& run, double upTo,
                        const ReferenceFacts* reference, double ratio,
                        std::optional<double> tolerance) {
  VerifyReport file;
  file.file = reference ? reference->path : "";
  file.type = whole.type;
  file.method = whole.method;
  file.methodAssumed = whole.methodAssumed;
  file.dtmfId = run.id;
  file.sampleRate = whole.sampleRate;
  file.channel = whole.channel;
  file.channels = whole.channels;
  file.framesRead = whole.framesRead;
  file.thresholdSamples = whole.thresholdSamples;
  // The first file also owns what lies before its first readable frame.
  const double from =
      run.from == 0 ? -std::numeric_limits<double>::infinity() : whole.frames[run.from].foundSample;
  for (std::size_t i = run.from; i < run.to; ++i) {
    FoundFrame frame = whole.frames[i];
    if (frame.checkId != 0) frame.checkOk = frame.checkId == run.id;
    if (!frame.checkOk) file.checkFailures.push_back(frame.number);
    file.frames.push_back(frame);
  }
  for (const FramePlace& place : whole.unreadable) {
    if (place.sample >= from && place.sample < upTo) file.unreadable.push_back(place);
  }
  for (const FramePlace& place : whole.damaged) {
    if (place.sample >= from && place.sample < upTo) file.damaged.push_back(place);
  }
  if (reference != nullptr) {
    file.rangeStated = true;
    file.judgedFirst = 1;
    file.judgedLast = reference->lastFrame;
  } else if (run.from > 0) {
    // A file after the first began playing where the one before stopped: from its first frame.
    // One that shows only later frames lost its start (or is a block of it spliced in); where
    // its end lies only its --reference tells.
    file.rangeStated = true;
    file.judgedFirst = 1;
    file.judgedLast = 1;
    for (const FoundFrame& frame : file.frames) {
      file.judgedLast = std::max(file.judgedLast, frame.number);
    }
    for (const FramePlace& place : file.unreadable) {
      file.judgedLast = std::max(file.judgedLast, place.frame);
    }
  }
  FitTiming(file, ratio, tolerance);
  BuildEvents(file);
  return file;
}

template <typename T>
void Append(std::vector<T>& to, const std::vector<T>& from) {
  to.insert(to.end(), from.begin(), from.end());
}

// Two comparisons as one: the first difference is the earlier file's, where it has one.
BitExactCheck Combined(const std::optional<BitExactCheck>& before, const BitExactCheck& next) {
  if (!before) return next;
  BitExactCheck both = before->differing > 0 ? *before : next;
  both.compared = before->compared + next.compared;
  both.differing = before->differing + next.differing;
  both.largestDifference = std::max(before->largestDifference, next.largestDifference);
  return both;
}

// The whole report's faults are its files' own, so it is clean when every file is.
void GatherFaults(VerifyReport& report) {
  report.missing.clear();
  report.missingPlaces.clear();
  report.unreadable.clear();
  report.duplicated.clear();
  report.outOfOrder.clear();
  report.checkFailures.clear();
  report.discontinuities.clear();
  report.frames.clear();
  report.loops.clear();
  report.loopsNotTaken.clear();
  report.passStarts.clear();
  report.map = {};
  std::optional<BitExactCheck> exact;
  for (const VerifyReport& file : report.files) {
    // Each file's own map, its segments counting frames in the whole report's list.
    for (Segment segment : file.map.segments) {
      segment.firstIndex += report.frames.size();
      report.map.segments.push_back(segment);
    }
    Append(report.map.events, file.map.events);
    if (!report.frames.empty()) report.passStarts.push_back(file.frames.front().foundSample);
    Append(report.missing, file.missing);
    Append(report.missingPlaces, file.missingPlaces);
    Append(report.unreadable, file.unreadable);
    Append(report.duplicated, file.duplicated);
    Append(report.outOfOrder, file.outOfOrder);
    Append(report.checkFailures, file.checkFailures);
    Append(report.discontinuities, file.discontinuities);
    Append(report.frames, file.frames);
    Append(report.loops, file.loops);
    Append(report.loopsNotTaken, file.loopsNotTaken);
    Append(report.passStarts, file.passStarts);
    if (file.bitExact) exact = Combined(exact, *file.bitExact);
  }
  if (exact) {
    exact->filesNotCompared =
        static_cast<int>(std::count_if(report.files.begin(), report.files.end(),
                                       [](const VerifyReport& file) { return !file.bitExact; }));
  }
  report.bitExact = exact;
  std::sort(report.passStarts.begin(), report.passStarts.end());
}

}  // namespace

void JudgePlayedFiles(VerifyReport& report, const std::string& path,
                      const std::vector<ReferenceFacts>& references, double ratio,
                      std::optional<double> tolerance) {
  const std::vector<Run> runs = RunsOfIds(report.frames);
  if (runs.size() < 2) {
    if (!references.empty()) {
      CheckAgainstReference(report, path, references.front().path, tolerance);
    }
    return;
  }
  for (std::size_t k = 0; k < runs.size(); ++k) {
    const double upTo = k + 1 < runs.size() ? report.frames[runs[k + 1].from].foundSample
                                            : static_cast<double>(report.framesRead);
    const ReferenceFacts* reference = ReferenceOf(references, runs[k].id);
    VerifyReport file = FileReport(report, runs[k], upTo, reference, ratio, tolerance);
    if (reference != nullptr) CheckAgainstReference(file, path, reference->path, tolerance);
    if (k > 0) {
      // Where the file before ended: its first sample's place and its length, at the speed it
      // was played; known only with its --reference.
      const VerifyReport& before = report.files.back();
      const ReferenceFacts* earlier = ReferenceOf(references, before.dtmfId);
      if (earlier != nullptr) {
        const double slope = ratio * (1.0 + before.driftPpm * 1e-6);
        file.gapSamples = file.latencySamples -
                          (before.latencySamples + static_cast<double>(earlier->samples) * slope);
      }
    }
    report.files.push_back(std::move(file));
  }
  report.dtmfId = report.files.front().dtmfId;
  report.latencySamples = report.files.front().latencySamples;
  GatherFaults(report);
}
