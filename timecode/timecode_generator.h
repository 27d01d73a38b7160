// The generate operation of vrellok: loads the tone bank of the chosen timecode type, checks the
// settings and puts a new "TC.wav", header and timecode data, in place of any earlier one.
#pragma once

#include <cstdint>
#include <string>

#include "timecode/frame_encoder.h"
#include "timecode/tone_bank.h"
#include "timecode/writev_sink.h"

struct TimecodeSettings {
  TimecodeType type;
  int method;        // framing method, 1 or 2
  int sampleLength;  // samples of timecode data
  int dtmfId;        // 1 to 10, enters every check symbol
};

// How a run ended.
enum class GenerateOutcome {
  created,       // the new file is in place and on the disk
  cancelled,     // the folder is as it was; there is nothing to tell
  bankNotFound,  // of the settings' type
  bankTooShort,
  lengthOutOfRange,  // checked before the DTMF ID
  dtmfIdOutOfRange,
  cannotOpen,  // no new file could be made beside the output
  cannotWrite,
};

// What the user is told of an outcome of a run with settings of the given type: "TC.wav
// Created" or the refusal; empty for a cancelled run.
const char* GenerateText(GenerateOutcome outcome, TimecodeType type);

inline constexpr int kMinSampleLength = 100000;
inline constexpr int kMaxSampleLength = 245735424;  // 9999 full frames

// What a front end learns of a run while it goes on. The calls come from the thread that runs
// Generate, between batches of about half a megabyte.
class GenerateProgress {
 public:
  // Bytes of the file written so far, of total; the last call has done == total.
  virtual void Written(std::uint64_t done, std::uint64_t total) = 0;
  // Every byte is written and is now being flushed to the disk, which may take a while on slow
  // media.
  virtual void Flushing() = 0;
  // Asked between batches and once more before the new file takes TC.wav's place: true ends the
  // run and leaves the folder as it was.
  virtual bool CancelRequested() = 0;

 protected:
  ~GenerateProgress() = default;
};

// Where the installed tone banks are: share/vrellok below the prefix the running program is
// installed in, found from the program's own location (bin/vrellok). Empty when the program's
// location cannot be read.
std::string InstalledBankFolder();

// Holds all working storage of a run, fixed in size, so a dialog can own one and generate again
// and again without allocating.
class TimecodeGenerator {
 public:
  TimecodeGenerator() = default;
  TimecodeGenerator(const TimecodeGenerator&) = delete;
  TimecodeGenerator& operator=(const TimecodeGenerator&) = delete;

  // Writes "TC.wav" in the current folder.
  GenerateOutcome Generate(const TimecodeSettings& settings);

  // The same in folder, reporting to progress. The new file is written unseen beside TC.wav,
  // flushed to the disk and renamed over it in one step, so a failure, a cancel or a kill leaves
  // any earlier TC.wav exactly as it was; a link named TC.wav is replaced, never written through.
  // A bank the folder does not hold is read from the installed copies (InstalledBankFolder).
  // With output, the timecode goes to that path (relative to the current folder) instead of
  // TC.wav in folder, replaced the same safe way; a FIFO or device there is never replaced.
  GenerateOutcome Generate(const TimecodeSettings& settings, GenerateProgress& progress,
                           const char* folder = ".", const char* output = nullptr);

  // Writes through a hidden, uniquely named file even where the file system offers unnamed ones,
  // as on file systems without them; for tests of that path.
  void UseNamedTemporaryFile(bool named) { m_namedTemporaryOnly = named; }

 private:
  GenerateOutcome Replace(int folderFd, const char* output, const TimecodeSettings& settings,
                          int sampleRate, GenerateProgress& progress);
  bool WriteOutput(const TimecodeSettings& settings, int sampleRate, GenerateProgress& progress);

  ToneBank m_toneBank;
  ZeroBlock m_zeroBlock{};
  int m_fd = -1;
  FrameEncoder m_encoder;  // method, frame count and current frame
  WritevSink m_sink;
  bool m_namedTemporaryOnly = false;
  bool m_cancelled = false;
};
