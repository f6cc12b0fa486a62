// BLAKE3 on four inputs at once with SSE4.1: the rotations by 16 and 8 are
// byte shuffles, those by 12 and 7 two shifts.

#include <immintrin.h>

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "hash/x86/blake3_x86.h"

namespace korvane::blake3::x86 {
namespace {

#define KORVANE_B3_INLINE inline __attribute__((always_inline, target("sse4.1,ssse3")))
#define KORVANE_B3_TARGET __attribute__((target("sse4.1,ssse3")))

struct ops {
    using v = __m128i;
    static constexpr int lanes = 4;
    KORVANE_B3_INLINE static v add(v a, v b) { return _mm_add_epi32(a, b); }
    KORVANE_B3_INLINE static v xor_(v a, v b) { return _mm_xor_si128(a, b); }
    KORVANE_B3_INLINE static v rot16(v x) {
        return _mm_shuffle_epi8(
            x, _mm_setr_epi8(2, 3, 0, 1, 6, 7, 4, 5, 10, 11, 8, 9, 14, 15, 12, 13));
    }
    KORVANE_B3_INLINE static v rot12(v x) {
        return _mm_or_si128(_mm_srli_epi32(x, 12), _mm_slli_epi32(x, 20));
    }
    KORVANE_B3_INLINE static v rot8(v x) {
        return _mm_shuffle_epi8(
            x, _mm_setr_epi8(1, 2, 3, 0, 5, 6, 7, 4, 9, 10, 11, 8, 13, 14, 15, 12));
    }
    KORVANE_B3_INLINE static v rot7(v x) {
        return _mm_or_si128(_mm_srli_epi32(x, 7), _mm_slli_epi32(x, 25));
    }
    KORVANE_B3_INLINE static v set1(std::uint32_t x) { return _mm_set1_epi32(static_cast<int>(x)); }
    KORVANE_B3_INLINE static v load(const std::uint32_t* p) {
        return _mm_load_si128(reinterpret_cast<const v*>(p));
    }
    KORVANE_B3_INLINE static void store(std::uint32_t* p, v x) {
        _mm_store_si128(reinterpret_cast<v*>(p), x);
    }
    // Each quarter of the block: a 4x4 transpose of words.
    KORVANE_B3_INLINE static void load_message(const unsigned char* const* in, std::size_t at,
                                               v* m) {
        for (int q = 0; q < 4; ++q) {
            v r[4];
            for (int i = 0; i < 4; ++i) {
                r[i] = _mm_loadu_si128(reinterpret_cast<const v*>(in[i] + at + 16 * q));
            }
            const v t0 = _mm_unpacklo_epi32(r[0], r[1]);
            const v t1 = _mm_unpackhi_epi32(r[0], r[1]);
            const v t2 = _mm_unpacklo_epi32(r[2], r[3]);
            const v t3 = _mm_unpackhi_epi32(r[2], r[3]);
            m[4 * q] = _mm_unpacklo_epi64(t0, t2);
            m[4 * q + 1] = _mm_unpackhi_epi64(t0, t2);
            m[4 * q + 2] = _mm_unpacklo_epi64(t1, t3);
            m[4 * q + 3] = _mm_unpackhi_epi64(t1, t3);
        }
    }
};

#include "hash/x86/blake3_wide.h"

KORVANE_B3_TARGET std::size_t run(const many_job& job, unsigned char* out) {
    return hash_groups<ops>(job, out);
}

}  // namespace

void hash_many_sse41(const many_job& job, unsigned char* out) {
    const std::size_t done = run(job, out);
    if (done < job.count) {
        hash_many_portable(rest_of(job, done), out + done * cv_bytes);
    }
}

}  // namespace korvane::blake3::x86
