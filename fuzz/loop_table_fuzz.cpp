// The loop table reader on any bytes: the format check, then the records, as Open reads them.
#include <cstdint>

#include "fuzz_input.h"
#include "loop/format/loop_table.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const FuzzFolder folder;
  const std::string path = folder.Lay("table.wav", data, size);
  CFile file;
  if (!file.Open(path, CFile::modeRead)) return 0;
  try {
    if (CheckPatchable(file).empty()) (void)ReadLoopTable(file);
  } catch (const CFileException&) {
    // a read error is the reader's answer, not a fault
  }
  return 0;
}
