#include "looppatch/loop_cli_files.h"

#include <sys/stat.h>

#include <cerrno>

#include "cli/exit_status.h"
#include "looppatch/loop_table.h"
#include "looppatch/plain_copy.h"

int Refused(std::ostream& err, const std::string& text) {
  err << text << '\n';
  return kExitFailure;
}

int Refused(std::ostream& err, const std::string& path, const std::string& text) {
  return Refused(err, std::string(kLoopProgram) + ": " + path + ": " + text);
}

std::string OpenFailure(const std::string& path, int osError) {
  std::string reason;
  struct stat info {};
  if (osError == EWOULDBLOCK) {
    reason = "another program holds it";
  } else if (osError == ENODEV && ::stat(path.c_str(), &info) == 0) {
    reason = S_ISFIFO(info.st_mode)   ? "the file is a FIFO"
             : S_ISSOCK(info.st_mode) ? "the file is a socket"
                                      : "the file is a device";
  } else {
    reason = OsErrorText(osError);
  }
  return std::string(kOpenErrorText) + ": " + reason;
}

std::string OpenForTable(CFile& file, const std::string& path, unsigned mode) {
  int osError = 0;
  if (!file.Open(path, mode, &osError)) return OpenFailure(path, osError);
  return TableRefusal(file);
}

void NoteSizeUnset(CFile& file, const std::string& path, std::ostream& err) {
  if (DataSizeUnset(file))
    err << kLoopProgram << ": " << path << ": " << kSizeUnsetReadText << '\n';
}
