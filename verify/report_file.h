// Writes an output file (CSV, labels, plot) the safe way: beside its place under a hidden name,
// flushed, then renamed over it in one step. A failure leaves any earlier file as it was and
// nothing else behind.
#pragma once

#include <stdexcept>
#include <string>

// What went wrong, as one line for the user: the path and the system's reason.
class ReportFileError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Throws ReportFileError when the file could not be written; only a regular file is replaced.
void ReplaceFile(const std::string& path, const std::string& bytes);

// Whether path can be written, checked before a long reading: its folder takes a new file, and
// nothing but a regular file is in the way. Throws ReportFileError when not.
void CheckReplaceable(const std::string& path);
