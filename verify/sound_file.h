// A recording opened for reading through libsndfile: any format it knows, read as floats in
// full scale [-1, 1), block by block.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct sf_private_tag;

class SoundFile {
 public:
  // Only a regular file is opened, so a FIFO or device with the expected name never blocks the
  // reader. Throws VerifyError with the reason when the file cannot be read.
  explicit SoundFile(const std::string& path);
  ~SoundFile();
  SoundFile(const SoundFile&) = delete;
  SoundFile& operator=(const SoundFile&) = delete;

  int SampleRate() const { return m_sampleRate; }
  int Channels() const { return m_channels; }
  std::int64_t Frames() const { return m_frames; }

  // Reads up to `frames` sample frames, every channel interleaved; returns the frames read, 0 at
  // the end.
  std::size_t Read(float* interleaved, std::size_t frames);
  // The same for one channel (counted from 0).
  std::size_t ReadChannel(int channel, float* samples, std::size_t frames);
  // Back to the first sample frame.
  void Rewind();

 private:
  std::string m_path;
  sf_private_tag* m_file = nullptr;
  int m_sampleRate = 0;
  int m_channels = 0;
  std::int64_t m_frames = 0;
  std::vector<float> m_interleaved;
};
