// The file object as a byte source for the walk over a wave file's chunks.
#pragma once

#include "fileio/file.h"
#include "wave/riff_walk.h"

class FileSource : public ByteSource {
 public:
  explicit FileSource(CFile& file) : m_file(file), m_length(file.GetLength()) {}
  // Taken once: the walk judges every chunk against the same end.
  std::uint64_t Length() override { return m_length; }
  std::size_t ReadAt(std::uint64_t offset, void* buffer, std::size_t count) override {
    m_file.Seek(static_cast<std::int64_t>(offset), CFile::begin);
    return m_file.Read(buffer, count);
  }

 private:
  CFile& m_file;
  std::uint64_t m_length;
};
