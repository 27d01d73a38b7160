#include "verify/report/report_file.h"

#include <cerrno>
#include <cstring>

#include "fileio/replace_file.h"

namespace {

[[noreturn]] void Fail(const std::string& path, int error) {
  throw ReportFileError("cannot write " + path + ": " +
                        (error == ENODEV ? "not a regular file" : std::strerror(error)));
}

}  // namespace

ReportFiles::ReportFiles() = default;
ReportFiles::~ReportFiles() = default;

void ReportFiles::Add(const std::string& path, const std::string& bytes) {
  auto file = std::make_unique<ReplacementFile>();
  file->OnlyReplaceRegularFiles();
  int error = file->Create(path);
  if (error == 0) error = file->Write(bytes.data(), bytes.size());
  if (error != 0) Fail(path, error);
  m_files.emplace_back(path, std::move(file));
}

void ReportFiles::CommitAll() {
  for (auto& [path, file] : m_files) {
    if (const int error = file->Commit()) Fail(path, error);
  }
}

void CheckReplaceable(const std::string& path) {
  // The new file is made and thrown away again: an unnamed one is never seen at all.
  ReplacementFile file;
  file.OnlyReplaceRegularFiles();
  if (const int error = file.Create(path)) Fail(path, error);
}
