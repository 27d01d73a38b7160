// The verifier on any bytes, through libsndfile: it must answer with a report or a one-line
// refusal, never crash or run away with memory.
#include <cstdint>

#include "fuzz_input.h"
#include "verify/map/verifier.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const FuzzFolder folder;
  const std::string path = folder.Lay("recording", data, size);
  try {
    (void)VerifyRecording(path, {});
  } catch (const VerifyError&) {
    // refused with a reason: the expected answer to most inputs
  }
  return 0;
}
