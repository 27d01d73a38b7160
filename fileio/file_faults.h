// The fault seam of the file library, in its test build only (the fileio_faults target, which
// defines FILEIO_FAULTS): a test arms a fault, and the next call of that kind on any CFile or
// ReplacementFile fails with the armed errno as if the system had refused it, without touching
// the file. In the programs every check below is a constant false and compiles away.
#pragma once

enum class FileFault {
  none,
  read,
  write,
  flush,
  close,  // a failed close still lets go of the descriptor
  // Making an unnamed new file (O_TMPFILE), as on file systems without them: the replacement
  // then takes its hidden named way.
  unnamedFile,
};

#ifdef FILEIO_FAULTS
// The next call of kind (after skip more successful ones of that kind) fails with osError. One
// fault is armed at a time; FileFault::none disarms.
void InjectFileFault(FileFault kind, int osError, unsigned skip = 0);
// True when the armed fault is due for this call; it then disarms and leaves its code in errno.
bool FileFaultDue(FileFault kind);
#else
constexpr bool FileFaultDue(FileFault) {
  return false;
}
#endif
