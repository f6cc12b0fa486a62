// SHA-512 for x86-64 CPUs with AVX2 and BMI2: the vector message schedule of
// hash/x86/sha512_vector.h, rotations built from shifts.

#include <immintrin.h>

#include <cstddef>
#include <cstdint>
#include <utility>

#include "hash/sha_rounds.h"
#include "hash/x86/sha_x86.h"

namespace korvane::sha::x86 {

#define KORVANE_SHA512_TARGET "avx2,bmi2,bmi"
#define KORVANE_SHA512_AVX512 0
#define KORVANE_SHA512_FUNCTION sha512_blocks_avx2
#include "hash/x86/sha512_vector.h"

}  // namespace korvane::sha::x86
