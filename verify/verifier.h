// Reads a recording of the timecode back: finds the channel, type, method and DTMF ID where the
// caller does not fix them, every frame and the sample where it landed, and the fit of those
// places against TC.wav. The recording is streamed, so memory stays flat whatever its length.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>

#include "verify/verify_report.h"

struct VerifyOptions {
  std::optional<char> type;    // 'F' or 'S'
  std::optional<int> method;   // 1 or 2
  std::optional<int> dtmfId;   // 1 to 10
  std::optional<int> channel;  // counted from 1
  std::string referencePath;   // the TC.wav that was played; empty: none
  std::optional<int> expectedFirst;
  std::optional<int> expectedLast;
  std::optional<double> toleranceSamples;
  std::function<void(const std::string& line)> onFault;
};

// How far the reading has come, for a progress bar.
class VerifyProgress {
 public:
  virtual ~VerifyProgress() = default;
  virtual void Update(std::uint64_t doneFrames, std::uint64_t totalFrames) = 0;
};

// The file cannot be read, or holds no timecode; what() is a one-line reason for the user.
class VerifyError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

VerifyReport VerifyRecording(const std::string& path, const VerifyOptions& options,
                             VerifyProgress* progress = nullptr);
