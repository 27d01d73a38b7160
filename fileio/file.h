// The file object: a thin owner of a POSIX descriptor whose failures surface as exceptions that
// carry errno, so a caller can show the operating system's own words for what went wrong.
#pragma once

#include <cstddef>
#include <cstdint>
#include <exception>
#include <string>

// The operating system's text for an errno value.
std::string OsErrorText(int osError);

class CFileException : public std::exception {
 public:
  explicit CFileException(int osError);
  const char* what() const noexcept override { return m_text.c_str(); }

  int m_lOsError;  // the errno value of the failed call

 private:
  std::string m_text;
};

class CFile {
 public:
  enum OpenFlags : unsigned {
    modeRead = 0x0000,
    modeReadWrite = 0x0002,
    shareExclusive = 0x0010,  // no other CFile may hold the file open at the same time
    // Takes no lock at all: a reader that neither waits for nor holds up one that patches. It
    // may see a patch half way, so it only suits reading that can be repeated.
    shareDenyNone = 0x0040,
  };
  enum SeekPosition { begin, current, end };

  CFile() = default;
  CFile(CFile&& other) noexcept;
  CFile& operator=(CFile&& other) noexcept;
  CFile(const CFile&) = delete;
  CFile& operator=(const CFile&) = delete;
  ~CFile();  // closes without throwing

  // False when the file cannot be opened; then osError (if given) receives errno. A missing file
  // is never created. Only a regular file (or a link to one) opens: a folder is refused with
  // EISDIR, a FIFO, socket or device with ENODEV, without waiting on it. A read-write open of a
  // file without any write permission bit fails with EACCES, even for root. Any file held so far is
  // closed first, so after a failed open nothing is open. Without shareExclusive the file is
  // held shared: several such opens coexist, but none alongside an exclusive one.
  bool Open(const std::string& path, unsigned flags, int* osError = nullptr);
  bool IsOpen() const { return m_fd >= 0; }
  const std::string& GetFilePath() const { return m_path; }
  // True when path names the very file held open here (same device and inode), whatever
  // spelling or link leads to it.
  bool RefersTo(const std::string& path) const;

  // Every call below throws CFileException on failure.
  std::uint64_t GetLength() const;
  std::uint64_t Seek(std::int64_t offset, SeekPosition from);
  std::size_t Read(void* buffer, std::size_t count);  // fewer bytes only at the end of the file
  void Write(const void* buffer, std::size_t count);  // all bytes or an exception
  // All bytes at offset, without moving the file position: one call of the file system as far
  // as the file allows, so no other reader sees a state between the old bytes and the new.
  void WriteAt(std::uint64_t offset, const void* buffer, std::size_t count);
  void Flush();  // to the disk, not only to the cache
  void Close();  // the file is let go even when closing reports an error
  void Abort();  // closes, ignoring any failure

 private:
  int m_fd = -1;
  std::string m_path;
};
