// BLAKE3 on sixteen inputs at once with AVX-512: every rotation is one
// instruction, and the 32 vector registers hold the state and the message.
// Fewer than sixteen inputs go to the AVX2 path.

// GCC 12's unpack and shuffle intrinsics start from an undefined vector
// that it then reports as maybe used uninitialised; the bits are never read.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

#include <immintrin.h>

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "hash/x86/blake3_x86.h"

namespace korvane::blake3::x86 {
namespace {

#define KORVANE_B3_INLINE \
    inline __attribute__((always_inline, target("avx512f,avx512vl,avx512bw,avx2")))
#define KORVANE_B3_TARGET __attribute__((target("avx512f,avx512vl,avx512bw,avx2")))

struct ops {
    using v = __m512i;
    static constexpr int lanes = 16;
    KORVANE_B3_INLINE static v add(v a, v b) { return _mm512_add_epi32(a, b); }
    KORVANE_B3_INLINE static v xor_(v a, v b) { return _mm512_xor_si512(a, b); }
    KORVANE_B3_INLINE static v rot16(v x) { return _mm512_ror_epi32(x, 16); }
    KORVANE_B3_INLINE static v rot12(v x) { return _mm512_ror_epi32(x, 12); }
    KORVANE_B3_INLINE static v rot8(v x) { return _mm512_ror_epi32(x, 8); }
    KORVANE_B3_INLINE static v rot7(v x) { return _mm512_ror_epi32(x, 7); }
    KORVANE_B3_INLINE static v set1(std::uint32_t x) {
        return _mm512_set1_epi32(static_cast<int>(x));
    }
    KORVANE_B3_INLINE static v load(const std::uint32_t* p) { return _mm512_load_si512(p); }
    KORVANE_B3_INLINE static void store(std::uint32_t* p, v x) { _mm512_store_si512(p, x); }
    // A 16x16 transpose of words: within the 128-bit lanes first, then the
    // 128-bit lanes as a 4x4 transpose of their own.
    KORVANE_B3_INLINE static void load_message(const unsigned char* const* in, std::size_t at,
                                               v* m) {
        v t[16];
        for (int p = 0; p < 8; ++p) {
            const v a = _mm512_loadu_si512(in[2 * p] + at);
            const v b = _mm512_loadu_si512(in[2 * p + 1] + at);
            t[2 * p] = _mm512_unpacklo_epi32(a, b);
            t[2 * p + 1] = _mm512_unpackhi_epi32(a, b);
        }
        v u[4][4];
        for (int g = 0; g < 4; ++g) {
            u[g][0] = _mm512_unpacklo_epi64(t[4 * g], t[4 * g + 2]);
            u[g][1] = _mm512_unpackhi_epi64(t[4 * g], t[4 * g + 2]);
            u[g][2] = _mm512_unpacklo_epi64(t[4 * g + 1], t[4 * g + 3]);
            u[g][3] = _mm512_unpackhi_epi64(t[4 * g + 1], t[4 * g + 3]);
        }
        for (int j = 0; j < 4; ++j) {
            const v v0 = _mm512_shuffle_i32x4(u[0][j], u[1][j], 0x88);
            const v v1 = _mm512_shuffle_i32x4(u[0][j], u[1][j], 0xdd);
            const v v2 = _mm512_shuffle_i32x4(u[2][j], u[3][j], 0x88);
            const v v3 = _mm512_shuffle_i32x4(u[2][j], u[3][j], 0xdd);
            m[j] = _mm512_shuffle_i32x4(v0, v2, 0x88);
            m[8 + j] = _mm512_shuffle_i32x4(v0, v2, 0xdd);
            m[4 + j] = _mm512_shuffle_i32x4(v1, v3, 0x88);
            m[12 + j] = _mm512_shuffle_i32x4(v1, v3, 0xdd);
        }
    }
};

#include "hash/x86/blake3_wide.h"

KORVANE_B3_TARGET std::size_t run(const many_job& job, unsigned char* out) {
    return hash_groups<ops>(job, out);
}

}  // namespace

void hash_many_avx512(const many_job& job, unsigned char* out) {
    const std::size_t done = run(job, out);
    if (done < job.count) {
        hash_many_avx2(rest_of(job, done), out + done * cv_bytes);
    }
}

}  // namespace korvane::blake3::x86
