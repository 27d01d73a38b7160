// A recording opened for reading through libsndfile: any format it knows, read as floats in
// full scale [-1, 1), block by block, from a regular file or from standard input.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "verify/read/raw_format.h"

struct sf_private_tag;

// The name that stands for standard input.
inline constexpr char kStandardInput[] = "-";
// Rates above this are refused: no recorder makes them, and a header that names one is damaged.
inline constexpr int kMaxSampleRate = 1000000;

class SoundFile {
 public:
  // path "-" reads standard input as a stream (a pipe, a live capture); any other path must name
  // a regular file, so a FIFO or device with the expected name never blocks the reader. Throws
  // VerifyError with the reason when the recording cannot be read. With `raw`, the bytes are
  // headerless samples of that format from the first byte on.
  explicit SoundFile(const std::string& path, const std::optional<RawFormat>& raw = std::nullopt);
  ~SoundFile();
  SoundFile(const SoundFile&) = delete;
  SoundFile& operator=(const SoundFile&) = delete;

  int SampleRate() const { return m_sampleRate; }
  int Channels() const { return m_channels; }
  // Sample frames the header declares (a WAV, AIFF or W64 file by its own data size, even where
  // the file holds fewer); -1 for a stream, whose length is known only at its end, and for a
  // file whose header declares no length.
  std::int64_t Frames() const { return m_frames; }
  // The header declares no length (a WAV whose data size is 0 or 0xFFFFFFFF): the samples are
  // read to the end of the file.
  bool LengthUndeclared() const { return m_lengthUndeclared; }
  // The most sample frames any reading got to: fewer than Frames() when the file is cut short or
  // damaged.
  std::int64_t FramesRead() const { return m_framesRead; }
  // Why reading stopped before the declared end (libsndfile's reason), or empty.
  const std::string& StopReason() const { return m_stopReason; }
  // The file holds integer samples, so every sample read is a number (never NaN or infinite).
  bool OnlyNumbers() const { return m_onlyNumbers; }

  // At most wanted, and few enough that one block of every channel stays within a bounded size,
  // so memory does not grow with the number of channels.
  std::size_t BlockFrames(std::size_t wanted) const;
  // The most sample frames one Read gives: unbounded for a file, one piece for a stream.
  std::size_t MostPerRead() const;

  // Reads up to `frames` sample frames, every channel interleaved; returns the frames read, 0 at
  // the end. A file that cannot be read further ends there (see StopReason); a stream also ends
  // at Ctrl+C.
  std::size_t Read(float* interleaved, std::size_t frames);
  // A file of samples of 16 bits or fewer (never a stream) also gives them as they are stored,
  // interleaved: half the bytes of floats, for a reader that scales them a piece at a time.
  bool ReadsShorts() const { return m_readsShorts && m_stream == nullptr; }
  std::size_t ReadShorts(std::int16_t* interleaved, std::size_t frames);
  // The same for one channel (counted from 0), in blocks of bounded size whatever frames is. A
  // stream gives what one piece of it holds, so that a caller hears of it without delay.
  std::size_t ReadChannel(int channel, float* samples, std::size_t frames);
  // Back to the first sample frame. A stream replays what has been read so far, as long as that
  // stayed within a bounded size; kKeep goes on keeping what it reads for another Rewind, kDrop
  // (for the reading that goes to the end) keeps nothing more.
  enum class Replay { kKeep, kDrop };
  void Rewind(Replay replay = Replay::kKeep);
  // Whether Rewind can go back: always for a file, for a stream while all it gave was kept.
  bool CanRewind() const { return m_stream == nullptr || m_replayComplete; }

  struct Stream;

 private:
  std::size_t ReadFromFile(float* interleaved, std::size_t frames);
  std::size_t ReadShortsFromFile(std::int16_t* interleaved, std::size_t frames);
  // What libsndfile gave, or 0 where it failed (then StopReason tells why).
  std::int64_t Checked(std::int64_t got);
  sf_private_tag* OpenFd(int fd);
  void TakeDeclaredLength(int format);
  void CloseReopen();

  std::string m_path;
  sf_private_tag* m_file = nullptr;
  int m_reopen = -1;  // the file's descriptor, kept to open it again
  std::unique_ptr<Stream> m_stream;
  // Headerless samples: libsndfile's raw format (with byte order), 0 where a header tells, and
  // the byte their first sample starts at.
  int m_rawFormat = 0;
  std::int64_t m_rawOffset = 0;
  bool m_lengthUndeclared = false;
  int m_sampleRate = 0;
  int m_channels = 0;
  bool m_quietDecoder = false;  // the MP3 decoder prints its own complaints on stderr
  bool m_onlyNumbers = false;
  // Samples of 16 bits or fewer are read as they are stored and scaled here: libsndfile then
  // hands them over in one piece instead of converting them a small buffer at a time.
  bool m_readsShorts = false;
  std::vector<std::int16_t> m_shorts;
  std::int64_t m_frames = -1;
  std::int64_t m_position = 0;  // the next sample frame Read gives
  std::int64_t m_framesRead = 0;
  std::string m_stopReason;
  std::vector<float> m_interleaved;
  // A stream's first samples, kept for Rewind until they outgrow their bound.
  std::vector<float> m_replay;
  bool m_replayComplete = true;
};
