// Writing every byte. write(2) and its kin may take fewer bytes than asked (a signal arriving
// while a pipe is full, a file-size limit met on the way) and must then be called again for the
// rest; this is the one loop every writer of the project goes through. POSIX only, no Qt.
#pragma once

#include <sys/uio.h>

#include <cstddef>
#include <cstdint>

// Writes the pieces in order at the file position, going on after interrupted and partial
// writes, also those that stop inside a piece; the pieces are used up on the way. written (when
// given) grows by what each write took. Returns 0, or the errno of the write that failed; a
// write that takes nothing would take nothing on a retry either: the device is full (ENOSPC).
int WriteAll(int fd, iovec* pieces, int count, std::uint64_t* written = nullptr);

// One buffer at the file position, the same way.
int WriteAll(int fd, const void* bytes, std::size_t count);

// One buffer at offset, leaving the file position alone: one call of the file system as far as
// the file allows, so no other reader sees a state between the old bytes and the new.
int WriteAllAt(int fd, std::uint64_t offset, const void* bytes, std::size_t count);
