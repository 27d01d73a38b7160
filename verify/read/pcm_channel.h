// One channel of a sound file read at any place, as values in steps of a 16-bit sample (LSB):
// what comparing a recording with the TC.wav it was made from needs. Files only, never a
// stream, since the comparison goes back and forth.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct sf_private_tag;

class PcmChannel {
 public:
  // channel counted from 0. Throws VerifyError when the file cannot be opened or lacks it.
  PcmChannel(const std::string& path, int channel);
  ~PcmChannel();
  PcmChannel(const PcmChannel&) = delete;
  PcmChannel& operator=(const PcmChannel&) = delete;

  std::int64_t Frames() const { return m_frames; }
  int SampleRate() const { return m_rate; }
  // Its samples are 16-bit (or fewer) integers, so ReadShorts gives them exactly as stored.
  bool HoldsShorts() const { return m_shorts; }

  // Up to n samples from sample frame `at` on; fewer at the end of the file (0 past it).
  std::size_t ReadShorts(std::int64_t at, std::int16_t* out, std::size_t n);
  // The same in LSB of a 16-bit sample as floats: 24-bit or float samples keep their fraction.
  std::size_t ReadLsb(std::int64_t at, float* out, std::size_t n);

 private:
  template <typename T, typename ReadFn>
  std::size_t ReadAny(std::int64_t at, T* out, std::size_t n, ReadFn read);

  sf_private_tag* m_file = nullptr;
  int m_channel = 0;
  int m_channels = 1;
  int m_rate = 0;
  std::int64_t m_frames = 0;
  std::int64_t m_position = -1;  // where the file's read position stands; -1: unknown
  bool m_shorts = false;
  std::vector<std::int16_t> m_interleavedShorts;
  std::vector<float> m_interleavedFloats;
};
