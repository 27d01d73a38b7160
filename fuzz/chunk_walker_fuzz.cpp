// The plain copy's chunk walker on any bytes: it must judge or copy every file without crashing,
// reading out of bounds or looping, and a copy it makes must be a whole canonical file. The
// file's own loops are read through the same walk, and a copy that takes them over must hold
// them in its table.
#include <sys/stat.h>

#include <cstdint>
#include <cstdlib>
#include <optional>

#include "fuzz_input.h"
#include "loop/format/plain_copy.h"
#include "loop/format/wave_loops.h"
#include "wave/wave_header.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const FuzzFolder folder;
  const std::string source = folder.Lay("source.wav", data, size);
  const std::string copy = folder.File("copy.wav");
  ::unlink(copy.c_str());
  if (WritePlainCopy(source, copy).kind == PlainCopyOutcome::Kind::copied) {
    struct stat made {};
    if (::stat(copy.c_str(), &made) != 0 || made.st_size < static_cast<off_t>(kWaveHeaderBytes)) {
      std::abort();  // success reported without a whole header on the disk
    }
  }
  const std::optional<OwnPointsPlan> plan = PlanOwnPoints(source);
  const bool taking = plan && plan->taken.points[0] != 0;
  if (taking && WritePlainCopy(source, copy, nullptr, plan->taken.points).kind ==
                    PlainCopyOutcome::Kind::copied) {
    CFile made;
    if (!made.Open(copy, CFile::modeRead) || ReadLoopTable(made).loopPoints != plan->taken.points) {
      std::abort();  // the copy appeared without the points it was to take over
    }
  }
  return 0;
}
