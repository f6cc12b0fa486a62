// x86-64 multi-lane MD5 transforms. Only compiled on x86-64;
// hash/x86/cpu_features.h says which of them may run.
#ifndef KORVANE_LIB_HASH_X86_MD5_LANES_X86_H
#define KORVANE_LIB_HASH_X86_MD5_LANES_X86_H

#include <cstddef>
#include <cstdint>

#include "hash/md5_lanes.h"

namespace korvane::md5mb::x86 {

// Both run `blocks` 64-byte blocks on every lane whose bit is set in `mask`,
// reading data[lane] onwards; the other lanes' state stays as it is and their
// pointers are not read. state[w][lane] is word w of the lane's state.
void blocks_avx2(std::uint32_t (*state)[max_lanes], const unsigned char* const* data,
                 std::uint32_t mask, std::size_t blocks);
void blocks_avx512(std::uint32_t (*state)[max_lanes], const unsigned char* const* data,
                   std::uint32_t mask, std::size_t blocks);

}  // namespace korvane::md5mb::x86

#endif
