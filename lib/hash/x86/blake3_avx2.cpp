// BLAKE3 on eight inputs at once with AVX2: the rotations by 16 and 8 are
// byte shuffles, those by 12 and 7 two shifts. Fewer than eight inputs go
// to the SSE4.1 path, which every AVX2 CPU has.

#include <immintrin.h>

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "hash/x86/blake3_x86.h"

namespace korvane::blake3::x86 {
namespace {

#define KORVANE_B3_INLINE inline __attribute__((always_inline, target("avx2")))
#define KORVANE_B3_TARGET __attribute__((target("avx2")))

struct ops {
    using v = __m256i;
    static constexpr int lanes = 8;
    KORVANE_B3_INLINE static v add(v a, v b) { return _mm256_add_epi32(a, b); }
    KORVANE_B3_INLINE static v xor_(v a, v b) { return _mm256_xor_si256(a, b); }
    KORVANE_B3_INLINE static v rot16(v x) {
        return _mm256_shuffle_epi8(
            x, _mm256_setr_epi8(2, 3, 0, 1, 6, 7, 4, 5, 10, 11, 8, 9, 14, 15, 12, 13, 2, 3, 0, 1, 6,
                                7, 4, 5, 10, 11, 8, 9, 14, 15, 12, 13));
    }
    KORVANE_B3_INLINE static v rot12(v x) {
        return _mm256_or_si256(_mm256_srli_epi32(x, 12), _mm256_slli_epi32(x, 20));
    }
    KORVANE_B3_INLINE static v rot8(v x) {
        return _mm256_shuffle_epi8(
            x, _mm256_setr_epi8(1, 2, 3, 0, 5, 6, 7, 4, 9, 10, 11, 8, 13, 14, 15, 12, 1, 2, 3, 0, 5,
                                6, 7, 4, 9, 10, 11, 8, 13, 14, 15, 12));
    }
    KORVANE_B3_INLINE static v rot7(v x) {
        return _mm256_or_si256(_mm256_srli_epi32(x, 7), _mm256_slli_epi32(x, 25));
    }
    KORVANE_B3_INLINE static v set1(std::uint32_t x) {
        return _mm256_set1_epi32(static_cast<int>(x));
    }
    KORVANE_B3_INLINE static v load(const std::uint32_t* p) {
        return _mm256_load_si256(reinterpret_cast<const v*>(p));
    }
    KORVANE_B3_INLINE static void store(std::uint32_t* p, v x) {
        _mm256_store_si256(reinterpret_cast<v*>(p), x);
    }
    // Each half of the block: an 8x8 transpose of words, within the 128-bit
    // lanes first and across them last.
    KORVANE_B3_INLINE static void load_message(const unsigned char* const* in, std::size_t at,
                                               v* m) {
        for (int half = 0; half < 2; ++half) {
            v t[8];
            for (int p = 0; p < 4; ++p) {
                const v a =
                    _mm256_loadu_si256(reinterpret_cast<const v*>(in[2 * p] + at + 32 * half));
                const v b =
                    _mm256_loadu_si256(reinterpret_cast<const v*>(in[2 * p + 1] + at + 32 * half));
                t[2 * p] = _mm256_unpacklo_epi32(a, b);
                t[2 * p + 1] = _mm256_unpackhi_epi32(a, b);
            }
            v u[2][4];
            for (int g = 0; g < 2; ++g) {
                u[g][0] = _mm256_unpacklo_epi64(t[4 * g], t[4 * g + 2]);
                u[g][1] = _mm256_unpackhi_epi64(t[4 * g], t[4 * g + 2]);
                u[g][2] = _mm256_unpacklo_epi64(t[4 * g + 1], t[4 * g + 3]);
                u[g][3] = _mm256_unpackhi_epi64(t[4 * g + 1], t[4 * g + 3]);
            }
            for (int j = 0; j < 4; ++j) {
                m[8 * half + j] = _mm256_permute2x128_si256(u[0][j], u[1][j], 0x20);
                m[8 * half + 4 + j] = _mm256_permute2x128_si256(u[0][j], u[1][j], 0x31);
            }
        }
    }
};

#include "hash/x86/blake3_wide.h"

KORVANE_B3_TARGET std::size_t run(const many_job& job, unsigned char* out) {
    return hash_groups<ops>(job, out);
}

}  // namespace

void hash_many_avx2(const many_job& job, unsigned char* out) {
    const std::size_t done = run(job, out);
    if (done < job.count) {
        hash_many_sse41(rest_of(job, done), out + done * cv_bytes);
    }
}

}  // namespace korvane::blake3::x86
