// A private temporary folder per test, removed with everything in it when the test ends, plus
// whole-file helpers for setting up and checking the bytes a test works on.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <vector>

#include "wave/wave_header.h"

using Bytes = std::vector<std::uint8_t>;

class ScratchDir {
 public:
  ScratchDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "looptest.XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    m_path = pattern;
  }
  ~ScratchDir() {
    std::error_code ignored;
    std::filesystem::remove_all(m_path, ignored);
  }
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;

  const std::filesystem::path& Path() const { return m_path; }
  std::string File(const std::string& name) const { return (m_path / name).string(); }

 private:
  std::filesystem::path m_path;
};

inline void WriteBytes(const std::string& path, const Bytes& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
  ASSERT_TRUE(out.good()) << path;
}

inline Bytes ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// A canonical 16-bit PCM file: the header BuildWaveHeader writes, declaring declaredBytes of
// samples (dataBytes when left out), then dataBytes of fill. A channel count other than one or
// two gives the header of a file loop must refuse.
inline Bytes CanonicalWave(std::uint16_t channels, std::size_t dataBytes, std::uint8_t fill,
                           std::int64_t declaredBytes = -1) {
  const WaveHeader header =
      BuildWaveHeader({channels, 44100, 16},
                      static_cast<std::uint32_t>(declaredBytes < 0 ? dataBytes : declaredBytes));
  Bytes bytes(header.size() + dataBytes, fill);
  std::copy(header.begin(), header.end(), bytes.begin());
  return bytes;
}
