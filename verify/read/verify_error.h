// The one failure every layer of the verifier reports: a file that cannot be read, or holds no
// timecode. It lives with the reading, the lowest layer, so the readers throw it without
// knowing the verifier above them.
#pragma once

#include <stdexcept>

// what() is a one-line reason for the user.
class VerifyError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};
