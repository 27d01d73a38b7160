// Reads a recording of the timecode back: finds the channel, type, method and DTMF ID where the
// caller does not fix them, every frame and the sample where it landed, and the fit of those
// places against TC.wav. The recording is streamed, so memory stays flat whatever its length.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "verify/map/reference_facts.h"
#include "verify/map/verify_report.h"
#include "verify/read/raw_format.h"
#include "verify/read/verify_error.h"

struct VerifyOptions {
  std::optional<TimecodeType> type;
  std::optional<int> method;   // 1 or 2
  std::optional<int> dtmfId;   // 1 to 10
  std::optional<int> channel;  // counted from 1
  // The recording is headerless samples of this format. None: its header tells.
  std::optional<RawFormat> raw;
  // TC.wav as it was played: its type, method, DTMF ID and frame count are then known, and
  // every frame from 1 to its last is expected. Empty: none.
  std::string referencePath;
  // The other files of a playlist, each with its own DTMF ID, in any order.
  std::vector<std::string> laterReferences;
  // The frames expected, where no reference names them.
  std::optional<int> expectedFirst;
  std::optional<int> expectedLast;
  // A jump larger than this many samples is a discontinuity, instead of the threshold the
  // recording's own scatter sets.
  std::optional<double> toleranceSamples;
  // Called with one line for the user the moment a fault is known while the recording is read
  // (a jump, an unreadable frame, a sample that is no number); may be empty.
  std::function<void(const std::string& line)> onFault;
  // Called with each event of the playback map once the frames read after it settle it, while
  // the recording is read; may be empty. Where set, onFault is told only what no event tells
  // (a wrong check symbol, a sample that is no number).
  std::function<void(const PlaybackEvent& event)> onEvent;
  // Reading stops after this many sample frames: what a TC.wav's first frames tell (its type,
  // method and DTMF ID) is all that is needed of it. None: to the end.
  std::optional<std::int64_t> readLimit;
  // Called with a status line every 10 s of audio while the recording is read ("frame 812,
  // 0 events, drift +3.2 ppm", or "no timecode in the last 10 s"); may be empty.
  std::function<void(const std::string& line)> onStatus;
};

// How far the reading has come, for a progress bar.
class VerifyProgress {
 public:
  virtual ~VerifyProgress() = default;
  virtual void Update(std::uint64_t doneFrames, std::uint64_t totalFrames) = 0;
};

VerifyReport VerifyRecording(const std::string& path, const VerifyOptions& options,
                             VerifyProgress* progress = nullptr);

// A TC.wav's facts: type, method and DTMF ID from its first frames, and its last frame from its
// length, since vrellok writes as many whole frames as the length holds (read to the end where
// its header names another rate than its type's). Throws VerifyError as VerifyRecording does.
ReferenceFacts ReadReference(const std::string& path);
