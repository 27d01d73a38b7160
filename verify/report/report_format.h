// Number formatting shared by the report writers, so the summary, the JSON and the CSV print the
// same value the same way, and the facts about TC.wav's layout the writers need to turn frame
// numbers into times.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "timecode_format/timecode_layout.h"
#include "verify/map/verify_report.h"

// value with a fixed number of decimals, in the "C" locale (a decimal point, never a comma, so
// the CSV and the JSON stay machine-readable). A value that rounds to zero prints without a
// minus sign: an offset of -0.00 would look like a fault that is not there.
std::string FormatFixed(double value, int decimals);
// The same with a leading '+' for positive values (drift, jumps).
std::string FormatSigned(double value, int decimals);

// text as a JSON string, quoted, with quotes, backslashes and control characters escaped, and
// bytes that are not UTF-8 given as U+FFFD.
std::string JsonString(const std::string& text);
// A number in JSON, which has no NaN or infinity: a value the fit could not give is null.
std::string JsonNumber(double value, int decimals);

// A JSON array of `items`, each as item(x) writes it: on one line, or one a line where
// `indented` (the report's long lists, inside its top-level object).
template <typename Items, typename Item>
std::string JsonArray(const Items& items, Item&& item, bool indented = false) {
  std::string out = "[";
  bool first = true;
  for (const auto& x : items) {
    out += first ? (indented ? "\n    " : "") : (indented ? ",\n    " : ", ");
    out += item(x);
    first = false;
  }
  return out + (indented && !first ? "\n  ]" : "]");
}

// Whole numbers as a JSON array.
template <typename Number>
std::string JsonInts(const std::vector<Number>& numbers) {
  return JsonArray(numbers, [](Number n) { return std::to_string(n); });
}

// Frame numbers as short runs, "12-15, 20", or "none".
std::string FormatFrameList(const std::vector<int>& numbers);

// Samples of TC.wav from the start of frame n to the start of frame n + 1: 24576, and 3600 more
// for frame 1 under method 1, which carries two extra gaps.
int TimecodeFrameSpacing(int frame, int method);

// Where a sample of the recording lies in time: seconds with three decimals, "12.345".
std::string FormatSeconds(double sample, int rate);

// A frame's length in the recording at its own rate, in samples (24576 of TC.wav's, scaled).
double FrameLengthSamples(const VerifyReport& report);

// The frames the verdict covers: the range the reader states, or else the first to the last
// frame found.
std::pair<int, int> JudgedRange(const VerifyReport& report);

// Where a frame was heard again after its first time (duplicated), and where a frame was heard
// after a larger number (out of order), in recording order.
std::vector<FramePlace> DuplicatedPlaces(const VerifyReport& report);
std::vector<FramePlace> OutOfOrderPlaces(const VerifyReport& report);

// Every fault with a place in the recording, in recording order, for the outputs that list
// them: a frame missing, unreadable, heard again or out of order, a discontinuity, a wrong check
// symbol, a sample that is no number (frame 0), and where reading stopped short of the header's
// length (frame 0).
// A jump the playback map holds is listed as its event (`event` its index in report.map.events),
// never again as a jump.
struct PlacedFault {
  enum class Kind {
    missing,
    unreadable,
    duplicated,
    outOfOrder,
    jump,
    check,
    nonFinite,
    stopped,
    event
  };
  Kind kind;
  int frame;
  double sample;
  double jumpSamples = 0.0;
  std::size_t event = 0;
};
std::vector<PlacedFault> PlacedFaults(const VerifyReport& report);

// The name every report gives an event's kind: "cut", "repeat", "insertion", "damage",
// "file change".
const char* EventName(EventKind kind);

// A sample count as people read long ones: "441,800", or "57,887.25" where it is not whole.
std::string FormatSampleCount(double sample);

// One event in a line, as the summary gives it: "cut at recording sample 443,600 (between
// 441,800 and 443,600): left TC.wav at 441,800, resumed at 442,800, jump +1000.00 +- 0.02
// samples".
std::string EventText(const PlaybackEvent& event);
