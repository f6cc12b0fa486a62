// MD5 over 8 independent streams, one per 32-bit lane of a 256-bit register.
//
// The same scheme as the 16-lane transform, with the round functions and the
// rotation built from plain logic and shifts. As in the single-stream code,
// the parts of each round function that do not depend on the newest state
// word are formed off the dependency chain. A block arrives as two 32-byte
// halves per stream; each half goes through an 8x8 transpose.

#include <immintrin.h>

#include <cstddef>
#include <cstdint>
#include <utility>

#include "hash/x86/md5_lanes_steps.h"
#include "hash/x86/md5_lanes_x86.h"

#define KORVANE_TARGET_AVX2 __attribute__((target("avx2")))
#define KORVANE_INLINE_AVX2 inline __attribute__((always_inline, target("avx2")))

namespace korvane::md5mb::x86 {
namespace {

using vec = __m256i;

template <int S>
KORVANE_INLINE_AVX2 vec rotl(vec v) {
    return _mm256_or_si256(_mm256_slli_epi32(v, S), _mm256_srli_epi32(v, 32 - S));
}

// Keeps the early sum computed ahead of the round function (see the
// single-stream code): without it compilers add `a` last, on the chain.
KORVANE_INLINE_AVX2 vec early(vec v) {
    __asm__("" : "+x"(v));
    return v;
}

template <int I>
KORVANE_INLINE_AVX2 void step(vec& a, vec b, vec c, vec d, const vec* x, const std::uint32_t* k) {
    const vec mk = _mm256_add_epi32(x[message_word(I)], _mm256_set1_epi32(static_cast<int>(k[I])));
    vec t = _mm256_add_epi32(a, mk);
    if constexpr (I < 16) {
        t = early(t);
        t = _mm256_add_epi32(t, _mm256_xor_si256(d, _mm256_and_si256(b, _mm256_xor_si256(c, d))));
    } else if constexpr (I < 32) {
        // (c & ~d) and (b & d) never share a bit, so they may be added apart.
        t = early(_mm256_add_epi32(t, _mm256_andnot_si256(d, c)));
        t = _mm256_add_epi32(t, _mm256_and_si256(b, d));
    } else if constexpr (I < 48) {
        t = early(t);
        t = _mm256_add_epi32(t, _mm256_xor_si256(b, _mm256_xor_si256(c, d)));
    } else {
        const vec not_d = _mm256_xor_si256(d, _mm256_set1_epi32(-1));
        t = early(t);
        t = _mm256_add_epi32(t, _mm256_xor_si256(c, _mm256_or_si256(b, not_d)));
    }
    a = _mm256_add_epi32(rotl<rotation(I)>(t), b);
}

template <std::size_t... R>
KORVANE_INLINE_AVX2 void all_steps(vec& a, vec& b, vec& c, vec& d, const vec* x,
                                   const std::uint32_t* k, std::index_sequence<R...>) {
    ((step<4 * R>(a, b, c, d, x, k), step<4 * R + 1>(d, a, b, c, x, k),
      step<4 * R + 2>(c, d, a, b, x, k), step<4 * R + 3>(b, c, d, a, x, k)),
     ...);
}

KORVANE_INLINE_AVX2 vec load(const void* p) {
    return _mm256_loadu_si256(static_cast<const vec*>(p));
}

// x[w] gets word `w` of the eight rows' 32 bytes at offset `half`.
KORVANE_INLINE_AVX2 void load_transposed_half(vec x[8], const unsigned char* const p[8], int half) {
    vec u[8];
    for (int g = 0; g < 2; ++g) {
        const vec r0 = load(p[4 * g] + 32 * half);
        const vec r1 = load(p[4 * g + 1] + 32 * half);
        const vec r2 = load(p[4 * g + 2] + 32 * half);
        const vec r3 = load(p[4 * g + 3] + 32 * half);
        const vec t0 = _mm256_unpacklo_epi32(r0, r1);
        const vec t1 = _mm256_unpackhi_epi32(r0, r1);
        const vec t2 = _mm256_unpacklo_epi32(r2, r3);
        const vec t3 = _mm256_unpackhi_epi32(r2, r3);
        // Half j of u[4g + m] holds word 4j + m of rows 4g to 4g + 3.
        u[4 * g] = _mm256_unpacklo_epi64(t0, t2);
        u[4 * g + 1] = _mm256_unpackhi_epi64(t0, t2);
        u[4 * g + 2] = _mm256_unpacklo_epi64(t1, t3);
        u[4 * g + 3] = _mm256_unpackhi_epi64(t1, t3);
    }
    for (int m = 0; m < 4; ++m) {
        x[m] = _mm256_permute2x128_si256(u[m], u[4 + m], 0x20);
        x[4 + m] = _mm256_permute2x128_si256(u[m], u[4 + m], 0x31);
    }
}

alignas(64) const unsigned char zero_block[64] = {};

}  // namespace

KORVANE_TARGET_AVX2 void blocks_avx2(std::uint32_t (*state)[max_lanes],
                                     const unsigned char* const* data, std::uint32_t mask,
                                     std::size_t blocks) {
    const unsigned char* p[8];
    std::size_t advance[8];
    alignas(32) std::int32_t keep[8];
    for (int l = 0; l < 8; ++l) {
        const bool active = ((mask >> l) & 1u) != 0;
        p[l] = active ? data[l] : zero_block;
        advance[l] = active ? 64 : 0;
        keep[l] = active ? -1 : 0;
    }
    const vec m = load(keep);
    vec a = load(state[0]);
    vec b = load(state[1]);
    vec c = load(state[2]);
    vec d = load(state[3]);
    // The step constants through a pointer the compiler cannot see into:
    // otherwise it builds each broadcast from an immediate (three operations)
    // instead of adding it straight from memory.
    const std::uint32_t* k = step_constant;
    __asm__("" : "+r"(k));
    for (; blocks != 0; --blocks) {
        vec x[16];
        load_transposed_half(x, p, 0);
        load_transposed_half(x + 8, p, 1);
        for (int l = 0; l < 8; ++l) {
            p[l] += advance[l];
        }
        const vec aa = a, bb = b, cc = c, dd = d;
        all_steps(a, b, c, d, x, k, std::make_index_sequence<16>{});
        a = _mm256_add_epi32(aa, _mm256_and_si256(a, m));
        b = _mm256_add_epi32(bb, _mm256_and_si256(b, m));
        c = _mm256_add_epi32(cc, _mm256_and_si256(c, m));
        d = _mm256_add_epi32(dd, _mm256_and_si256(d, m));
    }
    _mm256_storeu_si256(reinterpret_cast<vec*>(state[0]), a);
    _mm256_storeu_si256(reinterpret_cast<vec*>(state[1]), b);
    _mm256_storeu_si256(reinterpret_cast<vec*>(state[2]), c);
    _mm256_storeu_si256(reinterpret_cast<vec*>(state[3]), d);
}

}  // namespace korvane::md5mb::x86
