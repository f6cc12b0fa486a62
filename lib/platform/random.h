// Bytes from the operating system's random source, for file names that
// nobody can guess or plant in advance.
#ifndef KORVANE_PLATFORM_RANDOM_H
#define KORVANE_PLATFORM_RANDOM_H

#include <cstddef>

namespace korvane::platform {

// Fills `out` with `size` random bytes. False when the OS gave none.
[[nodiscard]] bool random_bytes(void* out, std::size_t size);

}  // namespace korvane::platform

#endif
