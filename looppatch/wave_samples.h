// The samples of the file loop holds, for showing and hearing them: its facts (rate, channels,
// length), frames read from it by number, and the frames a player plays. No windows here.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "fileio/file.h"

// What the window tells about the open file. Frames are counted over the sample data that is
// really there, not over what the header claims.
struct WaveFacts {
  std::string name;  // the file's name, without its folder
  std::uint32_t sampleRate = 0;
  int channels = 0;
  std::uint64_t frames = 0;
};

// The facts of a canonical 16-bit file held open (CheckPatchable has let it through).
WaveFacts ReadWaveFacts(CFile& file);

// "h:mm:ss.mmm" for a frame at this rate; "0:00:00.000" for a rate of 0.
std::string FrameTime(std::uint64_t frame, std::uint32_t sampleRate);

// "NAME: 44100 Hz, 2 channels, 441000 frames (0:00:10.000), points up to 441000", the last
// frame a loop point may name being the end of the samples.
std::string FactsLine(const WaveFacts& facts);
inline constexpr char kNoFileFacts[] = "No file open";

// Interleaved 16-bit frames of a canonical file, read by frame number through a descriptor of
// its own: the window may read while the dialog holds the file under its lock.
class SampleReader {
 public:
  SampleReader() = default;
  // False when the file cannot be opened for reading.
  bool Open(const std::string& path, int channels, std::uint64_t frames);
  SampleReader(SampleReader&& other) noexcept;
  SampleReader& operator=(SampleReader&& other) noexcept;
  SampleReader(const SampleReader&) = delete;
  SampleReader& operator=(const SampleReader&) = delete;
  ~SampleReader();

  bool IsOpen() const { return m_fd >= 0; }
  // A reader of its own on the same open file (a duplicated descriptor): it reads the file that
  // was opened, whatever has since been saved at its path. Not open when this one is not.
  SampleReader Duplicate() const;
  int Channels() const { return m_channels; }
  std::uint64_t Frames() const { return m_frames; }
  // Frames [first, first + count) clipped to the samples there are, interleaved; a read that
  // fails ends the block early.
  std::vector<std::int16_t> Read(std::uint64_t first, std::uint64_t count) const;
  // Raw bytes of the sample data from byteOffset (counted from the first sample); fewer at the
  // end of the file or on a failed read.
  std::size_t ReadBytes(std::uint64_t byteOffset, void* buffer, std::size_t count) const;
  // True when these bytes of the sample data lie wholly in a hole of a sparse file: they read
  // as zeros without the file system storing them.
  bool IsHole(std::uint64_t byteOffset, std::size_t count) const;

 private:
  int m_fd = -1;
  int m_channels = 0;
  std::uint64_t m_frames = 0;
};

// What "Play" and "Loop" send to the output, interleaved as stored: the frames from `from` to
// the end of the file; or the frames [start, end] (end being the last frame played), `rounds`
// times over. Empty when the range holds no frame.
std::vector<std::int16_t> PlayFromFrames(const SampleReader& reader, std::uint64_t from,
                                         std::uint64_t maxFrames);
std::vector<std::int16_t> LoopFrames(const SampleReader& reader, std::uint64_t start,
                                     std::uint64_t end, unsigned rounds);
