// MD5 over 16 independent streams, one per 32-bit lane of a 512-bit register.
//
// Each block step is the scalar step done on 16 streams at once. The message
// words arrive as 16 rows (one 64-byte block per stream) and are transposed so
// that register w holds word w of every stream. Each round function is one
// ternary-logic instruction and the rotation one instruction, which leaves four
// dependent operations per step. Lanes outside the mask read a zero block and
// keep their state through a masked final addition, so lanes can start and
// stop at any block.

#include <immintrin.h>

#include <cstddef>
#include <cstdint>
#include <utility>

#include "hash/x86/md5_lanes_steps.h"
#include "hash/x86/md5_lanes_x86.h"

#define KORVANE_TARGET_AVX512 __attribute__((target("avx512f,avx512vl,avx512bw,avx2")))
#define KORVANE_INLINE_AVX512 \
    inline __attribute__((always_inline, target("avx512f,avx512vl,avx512bw,avx2")))

namespace korvane::md5mb::x86 {
namespace {

using vec = __m512i;

// The zero-masked forms with every lane selected stand in for the plain
// intrinsics, whose "undefined" source operand some compilers report as
// uninitialized; the instructions are the same.
constexpr __mmask16 all = 0xFFFF;
constexpr __mmask8 all8 = 0xFF;  // the same for 64-bit elements

// Truth tables of the round functions of (b, c, d) for vpternlogd, whose
// operands are the columns 0xF0, 0xCC and 0xAA:
//   F = (b & c) | (~b & d)    G = (b & d) | (c & ~d)
//   H = b ^ c ^ d             I = c ^ (b | ~d)
constexpr int round_table[4] = {0xCA, 0xE4, 0x96, 0x39};

// Compilers like to add the round function to the message word first and `a`
// last, which puts an extra addition on the chain. Hiding the early sum behind
// an empty asm keeps it computed ahead of the round function.
KORVANE_INLINE_AVX512 vec early(vec v) {
    __asm__("" : "+v"(v));
    return v;
}

template <int I>
KORVANE_INLINE_AVX512 void step(vec& a, vec b, vec c, vec d, const vec* x, const std::uint32_t* k) {
    const vec mk = _mm512_add_epi32(x[message_word(I)], _mm512_set1_epi32(static_cast<int>(k[I])));
    vec t = early(_mm512_add_epi32(a, mk));
    t = _mm512_add_epi32(t, _mm512_ternarylogic_epi32(b, c, d, round_table[I / 16]));
    a = _mm512_add_epi32(_mm512_maskz_rol_epi32(all, t, rotation(I)), b);
}

template <std::size_t... R>
KORVANE_INLINE_AVX512 void all_steps(vec& a, vec& b, vec& c, vec& d, const vec* x,
                                     const std::uint32_t* k, std::index_sequence<R...>) {
    ((step<4 * R>(a, b, c, d, x, k), step<4 * R + 1>(d, a, b, c, x, k),
      step<4 * R + 2>(c, d, a, b, x, k), step<4 * R + 3>(b, c, d, a, x, k)),
     ...);
}

// 4x4 transposes of 32-bit words inside each 128-bit quarter, then a 4x4
// transpose of the quarters: x[w] gets word w of the 16 rows.
KORVANE_INLINE_AVX512 void load_transposed(vec x[16], const unsigned char* const p[16]) {
    vec u[16];
    for (int g = 0; g < 4; ++g) {
        const vec r0 = _mm512_loadu_si512(p[4 * g]);
        const vec r1 = _mm512_loadu_si512(p[4 * g + 1]);
        const vec r2 = _mm512_loadu_si512(p[4 * g + 2]);
        const vec r3 = _mm512_loadu_si512(p[4 * g + 3]);
        const vec t0 = _mm512_maskz_unpacklo_epi32(all, r0, r1);
        const vec t1 = _mm512_maskz_unpackhi_epi32(all, r0, r1);
        const vec t2 = _mm512_maskz_unpacklo_epi32(all, r2, r3);
        const vec t3 = _mm512_maskz_unpackhi_epi32(all, r2, r3);
        // Quarter j of u[4g + m] holds word 4j + m of rows 4g to 4g + 3.
        u[4 * g] = _mm512_maskz_unpacklo_epi64(all8, t0, t2);
        u[4 * g + 1] = _mm512_maskz_unpackhi_epi64(all8, t0, t2);
        u[4 * g + 2] = _mm512_maskz_unpacklo_epi64(all8, t1, t3);
        u[4 * g + 3] = _mm512_maskz_unpackhi_epi64(all8, t1, t3);
    }
    for (int m = 0; m < 4; ++m) {
        const vec s0 = _mm512_maskz_shuffle_i32x4(all, u[m], u[4 + m], 0x44);
        const vec s1 = _mm512_maskz_shuffle_i32x4(all, u[m], u[4 + m], 0xEE);
        const vec s2 = _mm512_maskz_shuffle_i32x4(all, u[8 + m], u[12 + m], 0x44);
        const vec s3 = _mm512_maskz_shuffle_i32x4(all, u[8 + m], u[12 + m], 0xEE);
        x[m] = _mm512_maskz_shuffle_i32x4(all, s0, s2, 0x88);
        x[4 + m] = _mm512_maskz_shuffle_i32x4(all, s0, s2, 0xDD);
        x[8 + m] = _mm512_maskz_shuffle_i32x4(all, s1, s3, 0x88);
        x[12 + m] = _mm512_maskz_shuffle_i32x4(all, s1, s3, 0xDD);
    }
}

alignas(64) const unsigned char zero_block[64] = {};

}  // namespace

KORVANE_TARGET_AVX512 void blocks_avx512(std::uint32_t (*state)[max_lanes],
                                         const unsigned char* const* data, std::uint32_t mask,
                                         std::size_t blocks) {
    const unsigned char* p[16];
    std::size_t advance[16];
    for (int l = 0; l < 16; ++l) {
        const bool active = ((mask >> l) & 1u) != 0;
        p[l] = active ? data[l] : zero_block;
        advance[l] = active ? 64 : 0;
    }
    const auto m = static_cast<__mmask16>(mask);
    vec a = _mm512_loadu_si512(state[0]);
    vec b = _mm512_loadu_si512(state[1]);
    vec c = _mm512_loadu_si512(state[2]);
    vec d = _mm512_loadu_si512(state[3]);
    // The step constants through a pointer the compiler cannot see into:
    // otherwise it builds each broadcast from an immediate (three operations)
    // instead of adding it straight from memory.
    const std::uint32_t* k = step_constant;
    __asm__("" : "+r"(k));
    for (; blocks != 0; --blocks) {
        vec x[16];
        load_transposed(x, p);
        for (int l = 0; l < 16; ++l) {
            p[l] += advance[l];
        }
        const vec aa = a, bb = b, cc = c, dd = d;
        all_steps(a, b, c, d, x, k, std::make_index_sequence<16>{});
        a = _mm512_mask_add_epi32(aa, m, a, aa);
        b = _mm512_mask_add_epi32(bb, m, b, bb);
        c = _mm512_mask_add_epi32(cc, m, c, cc);
        d = _mm512_mask_add_epi32(dd, m, d, dd);
    }
    _mm512_storeu_si512(state[0], a);
    _mm512_storeu_si512(state[1], b);
    _mm512_storeu_si512(state[2], c);
    _mm512_storeu_si512(state[3], d);
}

}  // namespace korvane::md5mb::x86
