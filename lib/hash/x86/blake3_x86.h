// BLAKE3's x86-64 many-input paths. Each takes any count: it runs its own
// width while enough inputs remain and hands the rest to the narrower paths,
// which the CPU of a wider one always has.
#ifndef KORVANE_LIB_HASH_X86_BLAKE3_X86_H
#define KORVANE_LIB_HASH_X86_BLAKE3_X86_H

#include "hash/blake3_paths.h"

namespace korvane::blake3::x86 {

void hash_many_sse41(const many_job& job, unsigned char* out);
void hash_many_avx2(const many_job& job, unsigned char* out);
void hash_many_avx512(const many_job& job, unsigned char* out);

}  // namespace korvane::blake3::x86

#endif
