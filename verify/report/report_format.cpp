#include "verify/report/report_format.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <set>

std::string FormatFixed(double value, int decimals) {
  if (!std::isfinite(value)) return std::isnan(value) ? "nan" : (value > 0 ? "inf" : "-inf");
  char text[64];
  std::snprintf(text, sizeof text, "%.*f", decimals, value);
  std::string out = text;
  if (out.front() == '-' && out.find_first_not_of("-0.") == std::string::npos) out.erase(0, 1);
  return out;
}

std::string FormatSigned(double value, int decimals) {
  std::string out = FormatFixed(value, decimals);
  const bool zero = out.find_first_not_of("0.") == std::string::npos;
  return (out.front() == '-' || zero) ? out : "+" + out;
}

std::string FormatFrameList(const std::vector<int>& numbers) {
  if (numbers.empty()) return "none";
  std::string out;
  for (std::size_t i = 0; i < numbers.size();) {
    std::size_t end = i;
    while (end + 1 < numbers.size() && numbers[end + 1] == numbers[end] + 1) ++end;
    if (!out.empty()) out += ", ";
    out += std::to_string(numbers[i]);
    if (end > i) {
      out += '-';
      out += std::to_string(numbers[end]);
    }
    i = end + 1;
  }
  return out;
}

int TimecodeFrameSpacing(int frame, int method) {
  return static_cast<int>(FrameStartInTimecode(frame + 1, method) -
                          FrameStartInTimecode(frame, method));
}

std::string FormatSeconds(double sample, int rate) {
  constexpr int kDecimals = 3;
  return FormatFixed(rate > 0 ? sample / rate : 0.0, kDecimals);
}

double FrameLengthSamples(const VerifyReport& report) {
  return static_cast<double>(kFrameSamples) * report.sampleRate / TimecodeRate(report.type);
}

std::pair<int, int> JudgedRange(const VerifyReport& report) {
  if (report.rangeStated || report.judgedFirst > 0) return {report.judgedFirst, report.judgedLast};
  return {report.firstFrame, report.lastFrame};
}

namespace {

// Whether a frame opens a new pass through TC.wav (a loop made on its points); moves `pass` on.
bool NewPass(const VerifyReport& report, const FoundFrame& frame, std::size_t& pass) {
  bool opened = false;
  while (pass < report.passStarts.size() && frame.foundSample >= report.passStarts[pass] - 0.5) {
    ++pass;
    opened = true;
  }
  return opened;
}

}  // namespace

std::vector<FramePlace> DuplicatedPlaces(const VerifyReport& report) {
  std::set<int> heard;
  std::vector<FramePlace> places;
  std::size_t pass = 0;
  for (const FoundFrame& frame : report.frames) {
    if (NewPass(report, frame, pass)) heard.clear();
    if (!heard.insert(frame.number).second) places.push_back({frame.number, frame.foundSample});
  }
  return places;
}

std::vector<FramePlace> OutOfOrderPlaces(const VerifyReport& report) {
  int largest = 0;
  std::vector<FramePlace> places;
  std::size_t pass = 0;
  for (const FoundFrame& frame : report.frames) {
    if (NewPass(report, frame, pass)) largest = 0;
    if (frame.number < largest) places.push_back({frame.number, frame.foundSample});
    largest = std::max(largest, frame.number);
  }
  return places;
}

std::vector<PlacedFault> PlacedFaults(const VerifyReport& report) {
  using Kind = PlacedFault::Kind;
  std::vector<PlacedFault> faults;
  for (const FramePlace& place : DuplicatedPlaces(report)) {
    faults.push_back({Kind::duplicated, place.frame, place.sample});
  }
  for (const FramePlace& place : OutOfOrderPlaces(report)) {
    faults.push_back({Kind::outOfOrder, place.frame, place.sample});
  }
  for (const std::int64_t sample : report.nonFiniteSamples) {
    faults.push_back({Kind::nonFinite, 0, static_cast<double>(sample)});
  }
  if (report.Truncated()) {
    faults.push_back({Kind::stopped, 0, static_cast<double>(report.framesRead)});
  }
  for (const FramePlace& place : report.missingPlaces) {
    faults.push_back({Kind::missing, place.frame, place.sample});
  }
  for (const FramePlace& place : report.unreadable) {
    faults.push_back({Kind::unreadable, place.frame, place.sample});
  }
  const auto& events = report.map.events;
  for (std::size_t i = 0; i < events.size(); ++i) {
    faults.push_back(
        {Kind::event, events[i].frameAfter, events[i].recordingFirst, -events[i].jumpRecording, i});
  }
  for (const Discontinuity& jump : report.discontinuities) {
    const bool told = std::any_of(events.begin(), events.end(), [&](const PlaybackEvent& e) {
      return e.kind != EventKind::damage && e.frameAfter == jump.frame;
    });
    if (!told) faults.push_back({Kind::jump, jump.frame, jump.sample, jump.jumpSamples});
  }
  for (const FoundFrame& frame : report.frames) {
    if (!frame.checkOk) faults.push_back({Kind::check, frame.number, frame.foundSample});
  }
  std::stable_sort(faults.begin(), faults.end(),
                   [](const PlacedFault& a, const PlacedFault& b) { return a.sample < b.sample; });
  return faults;
}

const char* EventName(EventKind kind) {
  switch (kind) {
    case EventKind::cut:
      return "cut";
    case EventKind::repeat:
      return "repeat";
    case EventKind::insertion:
      return "insertion";
    case EventKind::damage:
      return "damage";
    case EventKind::fileChange:
      return "file change";
  }
  return "";
}

std::string FormatSampleCount(double sample) {
  constexpr int kDecimals = 2;
  const bool whole = std::abs(sample - std::round(sample)) < 0.005;
  const std::string text = FormatFixed(whole ? std::round(sample) : sample, whole ? 0 : kDecimals);
  const std::size_t point = std::min(text.find('.'), text.size());
  const std::size_t sign = text.front() == '-' ? 1 : 0;
  std::string out = text.substr(0, sign);
  for (std::size_t i = sign; i < point; ++i) {
    if (i > sign && (point - i) % 3 == 0) out += ',';
    out += text[i];
  }
  return out + text.substr(point);
}

std::string EventText(const PlaybackEvent& e) {
  constexpr int kJumpDecimals = 2;
  std::string text =
      std::string(EventName(e.kind)) + " at recording sample " + FormatSampleCount(e.recordingLast);
  if (!e.Exact()) {
    text += " (between " + FormatSampleCount(e.recordingFirst) + " and " +
            FormatSampleCount(e.recordingLast) + ")";
  }
  const std::string hit = std::to_string(e.framesHit) + (e.framesHit == 1 ? " frame" : " frames");
  if (e.kind == EventKind::damage) {
    if (e.framesHit == 0) return text + ": frame " + std::to_string(e.frameAfter) + " damaged";
    return text + ": " + hit + " unreadable from frame " + std::to_string(e.frameAfter);
  }
  text += ": left TC.wav at " + FormatSampleCount(e.leftAt) + ", resumed at " +
          FormatSampleCount(e.resumedAt) + ", jump " + FormatSigned(e.jumpTimecode, kJumpDecimals) +
          " +- " + FormatFixed(e.jumpError, kJumpDecimals) + " samples";
  if (e.framesHit > 0) text += ", " + hit + " unreadable";
  return text;
}

namespace {

// The length of the well-formed UTF-8 sequence at text[at], or 0 where none starts: no
// overlong form, no surrogate, nothing past U+10FFFF (the table of RFC 3629).
std::size_t Utf8Length(const std::string& text, std::size_t at) {
  const auto byte = [&](std::size_t i) {
    return at + i < text.size() ? static_cast<unsigned char>(text[at + i]) : 0u;
  };
  const unsigned lead = byte(0);
  std::size_t length = 0;
  unsigned low = 0x80, high = 0xBF;  // the range of the second byte
  if (lead >= 0xC2 && lead <= 0xDF) length = 2;
  if (lead >= 0xE0 && lead <= 0xEF) length = 3;
  if (lead >= 0xF0 && lead <= 0xF4) length = 4;
  if (lead == 0xE0) low = 0xA0;
  if (lead == 0xED) high = 0x9F;
  if (lead == 0xF0) low = 0x90;
  if (lead == 0xF4) high = 0x8F;
  if (length == 0 || byte(1) < low || byte(1) > high) return 0;
  for (std::size_t i = 2; i < length; ++i) {
    if (byte(i) < 0x80 || byte(i) > 0xBF) return 0;
  }
  return length;
}

}  // namespace

// A JSON string is UTF-8: a file name may hold any bytes, so one that is not UTF-8 is given as
// U+FFFD, and the document stays one a reader takes.
std::string JsonNumber(double value, int decimals) {
  return std::isfinite(value) ? FormatFixed(value, decimals) : "null";
}

std::string JsonString(const std::string& text) {
  std::string out = "\"";
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    const auto byte = static_cast<unsigned char>(c);
    if (byte >= 0x80) {
      const std::size_t length = Utf8Length(text, i);
      out += length ? text.substr(i, length) : "\\ufffd";
      i += length ? length - 1 : 0;
    } else if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (byte < 0x20) {
      constexpr char kHex[] = "0123456789abcdef";
      out += "\\u00";
      out += kHex[byte >> 4];
      out += kHex[byte & 0xF];
    } else {
      out += c;
    }
  }
  return out + "\"";
}
