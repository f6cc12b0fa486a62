// Big-endian loads and stores on unaligned byte pointers, as the SHA family
// reads its message words and writes its digests.
#ifndef KORVANE_LIB_HASH_SHA_BYTES_H
#define KORVANE_LIB_HASH_SHA_BYTES_H

#include <bit>
#include <cstdint>
#include <cstring>

namespace korvane::hash_detail {

template <typename T>
inline T to_big(T v) {
    if constexpr (std::endian::native == std::endian::little) {
        if constexpr (sizeof(T) == 4) {
            return static_cast<T>(__builtin_bswap32(v));
        } else {
            return static_cast<T>(__builtin_bswap64(v));
        }
    }
    return v;
}

inline std::uint32_t load_be32(const unsigned char* p) {
    std::uint32_t v;
    std::memcpy(&v, p, sizeof v);
    return to_big(v);
}

inline std::uint64_t load_be64(const unsigned char* p) {
    std::uint64_t v;
    std::memcpy(&v, p, sizeof v);
    return to_big(v);
}

inline void store_be32(unsigned char* p, std::uint32_t v) {
    v = to_big(v);
    std::memcpy(p, &v, sizeof v);
}

inline void store_be64(unsigned char* p, std::uint64_t v) {
    v = to_big(v);
    std::memcpy(p, &v, sizeof v);
}

}  // namespace korvane::hash_detail

#endif
