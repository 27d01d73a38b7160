// The plain copy's chunk walker on any bytes: it must judge or copy every file without crashing,
// reading out of bounds or looping, and a copy it makes must be a whole canonical file.
#include <sys/stat.h>

#include <cstdint>
#include <cstdlib>

#include "fuzz_input.h"
#include "looppatch/plain_copy.h"
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
  return 0;
}
