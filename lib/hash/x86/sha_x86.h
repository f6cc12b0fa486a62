// x86-64 SHA block functions. Only compiled on x86-64; hash/x86/cpu_features.h
// says which of them may run.
#ifndef KORVANE_LIB_HASH_X86_SHA_X86_H
#define KORVANE_LIB_HASH_X86_SHA_X86_H

#include <cstddef>
#include <cstdint>

namespace korvane::sha::x86 {

void sha1_blocks_shani(std::uint32_t* state, const unsigned char* data, std::size_t blocks);
void sha256_blocks_shani(std::uint32_t* state, const unsigned char* data, std::size_t blocks);
// Two streams of `blocks` blocks each, their rounds interleaved.
void sha1_blocks_shani_x2(std::uint32_t* state_a, const unsigned char* a, std::uint32_t* state_b,
                          const unsigned char* b, std::size_t blocks);
void sha256_blocks_shani_x2(std::uint32_t* state_a, const unsigned char* a, std::uint32_t* state_b,
                            const unsigned char* b, std::size_t blocks);
void sha512_blocks_avx2(std::uint64_t* state, const unsigned char* data, std::size_t blocks);
void sha512_blocks_avx512(std::uint64_t* state, const unsigned char* data, std::size_t blocks);

}  // namespace korvane::sha::x86

#endif
