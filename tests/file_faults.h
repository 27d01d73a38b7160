// Faults injected into the file object: the guard disarms whatever a test armed, when the test
// ends however it ends, so a fault the test left unused cannot fail a call of the next test.
#pragma once

#include "platform/file.h"

class FaultGuard {
 public:
  FaultGuard() = default;
  ~FaultGuard() { CFile::InjectFault(CFile::Fault::none, 0); }
  FaultGuard(const FaultGuard&) = delete;
  FaultGuard& operator=(const FaultGuard&) = delete;
};
