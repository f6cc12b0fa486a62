// The single-stream MD5 block transform, shared by the streaming MD5 functions
// and the multi-lane hasher's fallback and finishing code.
#ifndef KORVANE_LIB_HASH_MD5_TRANSFORM_H
#define KORVANE_LIB_HASH_MD5_TRANSFORM_H

#include <cstddef>
#include <cstdint>

namespace korvane::hash_detail {

// Runs `blocks` 64-byte blocks at `p` through the MD5 compression function,
// updating the four state words in place.
void md5_blocks(std::uint32_t state[4], const unsigned char* p, std::size_t blocks);

}  // namespace korvane::hash_detail

#endif
