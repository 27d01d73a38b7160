// Replacing a file safely: the new file is written in the destination's folder where no one sees
// it, flushed to the disk, put in place of whatever has the name with one rename, and the folder
// flushed. A failure, a cancel or a kill before the rename leaves the earlier file as it was and
// nothing else behind. POSIX only, no Qt.
#pragma once

#include <cstddef>
#include <string>

// The new file while it is written. Unnamed (O_TMPFILE) where the file system allows, so that
// even a killed program leaves nothing behind; elsewhere a hidden, uniquely named file
// ".NAME.PID.xxxxxxxx" created with O_EXCL. Either is created with mode 0666, so the kernel
// applies the user's umask as to any new file. Unless Commit succeeds, the destructor removes
// it. While the file has a hidden name, HUP, INT, QUIT, PIPE and TERM (where the program has not
// taken them over) remove it before they end the program; the writer holds a flock on it, so
// that a later run can remove one left by a run killed outright.
//
// Every call returns 0 or the errno of the step that failed. In the library's test build, faults
// armed with InjectFileFault (file_faults.h) hit the unnamed file, the writes, the flush and the
// close here too.
class ReplacementFile {
 public:
  ReplacementFile() = default;
  ~ReplacementFile() { Discard(); }
  ReplacementFile(const ReplacementFile&) = delete;
  ReplacementFile& operator=(const ReplacementFile&) = delete;

  // Starts the file that is to take path's place. EISDIR when a folder has that name: a folder
  // is never replaced. Anything else at the name (a file, a link, a FIFO, a device) is left
  // alone until Commit renames over it; nothing is ever opened or written through it. A regular
  // file there without any write permission bit is refused (EACCES, WriteProtected), even for
  // root; an immutable or append-only file or folder too (EPERM), before anything is written.
  // The new file takes the old one's permission bits, and its owner where the process may set
  // it. Hidden files that killed runs left on their way to the same name are removed here,
  // never those of a run still writing.
  int Create(const std::string& path);
  // The same for name inside a folder the caller holds open (the descriptor is duplicated).
  int Create(int folderFd, const std::string& name);
  // For names the user typed: Create refuses (ENODEV) when the name, followed through links,
  // is anything but a regular file, so that a FIFO or a device (/dev/null, /dev/stdout) is
  // never replaced by a file. A link to a regular file is still replaced, never written through.
  void OnlyReplaceRegularFiles() { m_regularOnly = true; }

  // True when the last Create was refused because the file at the name is write-protected.
  bool WriteProtected() const { return m_writeProtected; }

  // The open file, for writers of their own (writev batches); -1 before Create and after
  // Commit.
  int Fd() const { return m_fd; }
  // All count bytes at the file position, going on after interrupted and partial writes; a write
  // that moves nothing means the device is full (ENOSPC).
  int Write(const void* bytes, std::size_t count);

  // fsync now, for a writer that decides only after the data is on the disk whether the new
  // file is to take the name (a cancel heard during a long flush). Commit then does not flush
  // again, unless Write has written since; what a writer writes through Fd() after Flush is its
  // own to flush.
  int Flush();

  // fsync (unless Flush has done it), then the rename over the name, then the folder's fsync.
  // When only the last step fails, the new file already has the name, but the rename may not
  // survive a power loss.
  int Commit();

  // Removes the new file, unless it has replaced the old one.
  void Discard();

 private:
  int GiveName();

  int m_folderFd = -1;
  int m_fd = -1;
  std::string m_finalName;
  std::string m_hiddenName;  // empty while the file is unnamed
  int m_registered = -1;     // the hidden name's slot for the signal handlers, or -1
  bool m_regularOnly = false;
  bool m_writeProtected = false;
  bool m_flushed = false;  // by Flush, with nothing written through Write since
};
