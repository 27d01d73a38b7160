// Writes the output files (CSV, labels, plot) the safe way: each unseen beside its place and
// flushed, then renamed over it in one step, and the folder flushed. The files of one run are put
// in place together, only after all of them (and the report on stdout) are written, so a failure
// leaves every earlier file as it was and nothing else behind (unless only a folder's flush
// after its rename fails: then the new file is in place, and the failure is still reported).
#pragma once

#include <memory>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

class ReplacementFile;

// What went wrong, as one line for the user: the path and the system's reason.
class ReportFileError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The output files of one run. Whatever has a name (a file, a link) is replaced, never written
// through; a folder, FIFO or device there is refused.
class ReportFiles {
 public:
  ReportFiles();
  ~ReportFiles();  // what was not put in place is thrown away
  ReportFiles(const ReportFiles&) = delete;
  ReportFiles& operator=(const ReportFiles&) = delete;

  // Writes bytes beside path, where no one sees them yet. Throws ReportFileError.
  void Add(const std::string& path, const std::string& bytes);
  // Puts every file in place, in the order added. Throws ReportFileError.
  void CommitAll();

 private:
  std::vector<std::pair<std::string, std::unique_ptr<ReplacementFile>>> m_files;
};

// Whether path can be written, checked before a long reading: its folder takes a new file, and
// no folder has the name. Throws ReportFileError when not.
void CheckReplaceable(const std::string& path);
