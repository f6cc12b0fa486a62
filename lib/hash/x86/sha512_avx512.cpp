// SHA-512 for x86-64 CPUs with AVX-512VL: the vector message schedule of
// hash/x86/sha512_vector.h on 256-bit registers, with the AVX-512 rotate and
// three-way XOR, which take the small sigmas from nine operations to four.

#include <immintrin.h>

#include <cstddef>
#include <cstdint>
#include <utility>

#include "hash/sha_rounds.h"
#include "hash/x86/sha_x86.h"

namespace korvane::sha::x86 {

#define KORVANE_SHA512_TARGET "avx512f,avx512vl,avx2,bmi2,bmi"
#define KORVANE_SHA512_AVX512 1
#define KORVANE_SHA512_FUNCTION sha512_blocks_avx512
#include "hash/x86/sha512_vector.h"

}  // namespace korvane::sha::x86
