#include "fileio/file_faults.h"

#include <cerrno>

namespace {

struct ArmedFault {
  FileFault kind = FileFault::none;
  int osError = 0;
  unsigned skip = 0;
};
ArmedFault g_fault;

}  // namespace

void InjectFileFault(FileFault kind, int osError, unsigned skip) {
  g_fault = {kind, osError, skip};
}

bool FileFaultDue(FileFault kind) {
  if (kind == FileFault::none || g_fault.kind != kind) return false;
  if (g_fault.skip > 0) {
    --g_fault.skip;
    return false;
  }
  errno = g_fault.osError;
  g_fault = {};
  return true;
}
