// Little-endian 32-bit loads and stores at unaligned byte pointers. memcpy compiles to
// a single load on every target we build for and keeps the code free of
// aliasing and alignment faults.
#ifndef KORVANE_LIB_HASH_LOAD_H
#define KORVANE_LIB_HASH_LOAD_H

#include <bit>
#include <cstdint>
#include <cstring>

namespace korvane::hash_detail {

inline std::uint32_t load_le32(const unsigned char* p) {
    std::uint32_t v;
    std::memcpy(&v, p, sizeof v);
    if constexpr (std::endian::native == std::endian::big) {
        v = ((v & 0x000000FFu) << 24) | ((v & 0x0000FF00u) << 8) | ((v & 0x00FF0000u) >> 8) |
            (v >> 24);
    }
    return v;
}

inline void store_le32(unsigned char* p, std::uint32_t v) {
    if constexpr (std::endian::native == std::endian::big) {
        v = ((v & 0x000000FFu) << 24) | ((v & 0x0000FF00u) << 8) | ((v & 0x00FF0000u) >> 8) |
            (v >> 24);
    }
    std::memcpy(p, &v, sizeof v);
}

}  // namespace korvane::hash_detail

#endif
