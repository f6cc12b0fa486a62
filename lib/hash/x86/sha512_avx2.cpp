// SHA-512 for x86-64 CPUs with AVX2 and BMI2.

#include <cstddef>
#include <cstdint>

#include "hash/sha_rounds.h"
#include "hash/x86/sha_x86.h"

namespace korvane::sha::x86 {

// The portable rounds compiled for BMI2: rorx rotates without touching the
// flags or its source, andn forms the choice function in one step.
__attribute__((target("avx2,bmi2,bmi"))) void sha512_blocks_avx2(std::uint64_t* state,
                                                                 const unsigned char* p,
                                                                 std::size_t blocks) {
    rounds::sha2_blocks<rounds::sha512_traits>(state, p, blocks);
}

}  // namespace korvane::sha::x86
