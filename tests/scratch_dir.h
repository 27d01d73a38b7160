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

// Where a test whose child gives up root (for user 65534) puts its program and files: below /tmp
// whatever TMPDIR says, since a private home or TMPDIR (mode 0700) hides everything beneath it
// from that user, wherever the project lies.
inline const std::filesystem::path kReachableTemp = "/tmp";

class ScratchDir {
 public:
  // Private to the user in TMPDIR; with Reach::everyone, readable and searchable by every user
  // below kReachableTemp.
  enum class Reach { owner, everyone };
  explicit ScratchDir(Reach reach = Reach::owner) {
    const auto base =
        reach == Reach::owner ? std::filesystem::temp_directory_path() : kReachableTemp;
    std::string pattern = (base / "looptest.XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    m_path = pattern;
    if (reach == Reach::everyone) {
      std::filesystem::permissions(
          m_path, std::filesystem::perms::owner_all | std::filesystem::perms::group_read |
                      std::filesystem::perms::group_exec | std::filesystem::perms::others_read |
                      std::filesystem::perms::others_exec);
    }
  }
  ~ScratchDir() {
    std::error_code ignored;
    std::filesystem::remove_all(m_path, ignored);
  }
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;

  const std::filesystem::path& Path() const { return m_path; }
  std::string File(const std::string& name) const { return (m_path / name).string(); }
  // A copy of file (a program, say) in this folder, with its permissions; its path.
  std::string CopyOf(const std::filesystem::path& file) const {
    const std::filesystem::path copy = m_path / file.filename();
    std::filesystem::copy_file(file, copy);
    return copy.string();
  }

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
