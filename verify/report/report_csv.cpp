#include "verify/report/report_csv.h"

#include <algorithm>
#include <string>
#include <vector>

#include "verify/report/report_format.h"

namespace {

constexpr int kSampleDecimals = 4;
constexpr int kLevelDecimals = 2;
// Seconds to a tenth of a microsecond: a fraction of a sample at any rate this reads.
constexpr int kSecondsDecimals = 7;

struct Row {
  double sample;
  std::string text;
};

}  // namespace

void WriteCsv(std::ostream& out, const VerifyReport& report) {
  // The columns of earlier versions come first, in their order, so scripts that read them by
  // position keep working; a frame that is not there leaves its measurements empty.
  out << "frame,found_sample,offset_samples,check_ok,level_dbfs,time_s,status\n";
  const auto time = [&report](double sample) {
    return report.sampleRate > 0 ? FormatFixed(sample / report.sampleRate, kSecondsDecimals)
                                 : std::string();
  };
  std::vector<Row> rows;
  for (const FoundFrame& frame : report.frames) {
    rows.push_back({frame.foundSample, std::to_string(frame.number) + ',' +
                                           FormatFixed(frame.foundSample, kSampleDecimals) + ',' +
                                           FormatFixed(frame.offsetSamples, kSampleDecimals) + ',' +
                                           (frame.checkOk ? "1," : "0,") +
                                           FormatFixed(frame.levelDbfs, kLevelDecimals) + ',' +
                                           time(frame.foundSample) + ",found"});
  }
  const auto absent = [&](const FramePlace& place, const char* status) {
    rows.push_back({place.sample, std::to_string(place.frame) + ',' +
                                      FormatFixed(place.sample, kSampleDecimals) + ",,,," +
                                      time(place.sample) + ',' + status});
  };
  for (const FramePlace& place : report.missingPlaces) absent(place, "missing");
  for (const FramePlace& place : report.unreadable) absent(place, "unreadable");
  // Each event where it begins: the frame read after it, and the change of offset it made there
  // (recording samples; 0 for damage).
  for (const PlaybackEvent& event : report.map.events) {
    rows.push_back(
        {event.recordingFirst, std::to_string(event.frameAfter) + ',' +
                                   FormatFixed(event.recordingFirst, kSampleDecimals) + ',' +
                                   FormatFixed(-event.jumpRecording, kSampleDecimals) + ",,," +
                                   time(event.recordingFirst) + ',' + EventName(event.kind)});
  }
  // In recording order; frames found keep their order among themselves (a frame out of order
  // stays where it was heard).
  std::stable_sort(rows.begin(), rows.end(),
                   [](const Row& a, const Row& b) { return a.sample < b.sample; });
  for (const Row& row : rows) out << row.text << '\n';
}
