// Writes an output file (CSV, labels, plot) the safe way: unseen beside its place, flushed, then
// renamed over it in one step, and the folder flushed. A failure leaves any earlier file as it
// was and nothing else behind (unless only the folder's flush after the rename fails: then the
// new file is in place, and the failure is still reported).
#pragma once

#include <stdexcept>
#include <string>

// What went wrong, as one line for the user: the path and the system's reason.
class ReportFileError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Throws ReportFileError when the file could not be written. Whatever has the name (a file, a
// link, a FIFO) is replaced, never written through; a folder there is refused.
void ReplaceFile(const std::string& path, const std::string& bytes);

// Whether path can be written, checked before a long reading: its folder takes a new file, and
// no folder has the name. Throws ReportFileError when not.
void CheckReplaceable(const std::string& path);
