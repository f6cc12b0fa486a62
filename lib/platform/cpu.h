// What the machine offers for running several files at once: the processors
// this process may use, and whether a file lies on a disk that has to seek.
#ifndef KORVANE_PLATFORM_CPU_H
#define KORVANE_PLATFORM_CPU_H

#include <cstddef>
#include <cstdint>

#include "platform/file_read.h"

namespace korvane::platform {

// The number of processors the process may run on (its affinity mask, not the
// machine's total); at least 1.
int usable_cpu_count();

// True when the open file lies on a rotational disk, where two files read at
// once make the heads seek back and forth. False when unknown (network and
// memory file systems, virtual disks without the information).
bool on_rotational_disk(file_handle file);

// Reads exactly `length` bytes at `offset` only if the OS has them in memory
// already, so that the read cannot make a disk seek. Returns 0 when all were
// read, `would_need_disk` when the disk would have to be read (the bytes in
// `buffer` are then meaningless; nothing else changed), or an error number.
constexpr int would_need_disk = -1;
[[nodiscard]] int read_if_cached(file_handle file, void* buffer, std::size_t length,
                                 std::uint64_t offset);

// True when every byte of the first `size` bytes of the file is in memory
// already, so that reading it all makes no disk seek. False when some part is
// not, or when the OS cannot tell.
bool all_in_memory(file_handle file, std::uint64_t size);

}  // namespace korvane::platform

#endif
