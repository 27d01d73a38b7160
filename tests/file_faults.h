// Faults injected into the file library: the guard disarms whatever a test armed, when the test
// ends however it ends, so a fault the test left unused cannot fail a call of the next test.
#pragma once

#include "fileio/file.h"
#include "fileio/file_faults.h"

class FaultGuard {
 public:
  FaultGuard() = default;
  ~FaultGuard() { InjectFileFault(FileFault::none, 0); }
  FaultGuard(const FaultGuard&) = delete;
  FaultGuard& operator=(const FaultGuard&) = delete;
};
