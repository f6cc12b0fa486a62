// SHA-512 for x86-64 CPUs with AVX2 and BMI2.
//
// The scalar rounds are the portable ones compiled for BMI2 (rorx rotates
// without touching the flags or its source, andn forms the choice function).
// The message schedule moves to the vector unit and runs for two blocks at
// once: each 256-bit register holds the same two word positions of both
// blocks, one block per 128-bit lane, which is how the AVX2 byte shifts
// already work. The schedule writes W[t] + K[t] of both blocks into a table,
// interleaved with the first block's rounds one stretch ahead of them, so the
// vector and the scalar units work side by side; the second block's rounds
// then read the table alone. Measured on the development machine, this beats
// both the same rounds with a scalar schedule and a one-block schedule in
// 128-bit registers, where the vector work costs more than it saves.

#include <immintrin.h>

#include <cstddef>
#include <cstdint>
#include <utility>

#include "hash/sha_rounds.h"
#include "hash/x86/sha_x86.h"

#define KORVANE_TARGET_AVX2 __attribute__((target("avx2,bmi2,bmi")))
#define KORVANE_INLINE_AVX2 inline __attribute__((always_inline, target("avx2,bmi2,bmi")))

namespace korvane::sha::x86 {
namespace {

using tr = rounds::sha512_traits;
using std::uint64_t;

template <int N>
KORVANE_INLINE_AVX2 __m256i rotr(__m256i x) {
    return _mm256_or_si256(_mm256_srli_epi64(x, N), _mm256_slli_epi64(x, 64 - N));
}

KORVANE_INLINE_AVX2 __m256i small_sigma0(__m256i x) {
    // A rotation by eight is a byte shuffle; the rotation by one is two shifts
    // whose bits never meet, so XOR joins them as well as OR would.
    const __m256i rotr8 = _mm256_set_epi64x(0x080f0e0d0c0b0a09, 0x0007060504030201,
                                            0x080f0e0d0c0b0a09, 0x0007060504030201);
    return _mm256_xor_si256(
        _mm256_xor_si256(_mm256_srli_epi64(x, 1), _mm256_slli_epi64(x, 63)),
        _mm256_xor_si256(_mm256_shuffle_epi8(x, rotr8), _mm256_srli_epi64(x, 7)));
}

KORVANE_INLINE_AVX2 __m256i small_sigma1(__m256i x) {
    return _mm256_xor_si256(_mm256_xor_si256(rotr<19>(x), rotr<61>(x)), _mm256_srli_epi64(x, 6));
}

// Words 2S and 2S+1 of both blocks into ring[S % 8], and their sums with the
// constants into wk[4S .. 4S+3]: first block's two, then the second block's.
// The ring holds the last sixteen words of each block as eight pairs.
template <int S>
KORVANE_INLINE_AVX2 void schedule_pair(__m256i ring[8], uint64_t* wk) {
    __m256i& x = ring[S % 8];
    if constexpr (S >= 8) {
        // W[t-15], W[t-14] and W[t-7], W[t-6] straddle two pairs.
        const __m256i w15 = _mm256_alignr_epi8(ring[(S + 1) % 8], x, 8);
        const __m256i w7 = _mm256_alignr_epi8(ring[(S + 5) % 8], ring[(S + 4) % 8], 8);
        x = _mm256_add_epi64(_mm256_add_epi64(x, small_sigma0(w15)),
                             _mm256_add_epi64(w7, small_sigma1(ring[(S + 7) % 8])));
    }
    const __m256i k = _mm256_broadcastsi128_si256(
        _mm_load_si128(reinterpret_cast<const __m128i*>(sha512_k + 2 * S)));
    _mm256_store_si256(reinterpret_cast<__m256i*>(wk + 4 * S), _mm256_add_epi64(x, k));
}

// Pairs 8J .. 8J+7: the words of rounds 16J .. 16J+15.
template <int J, int... S>
KORVANE_INLINE_AVX2 void schedule_stretch(__m256i ring[8], uint64_t* wk,
                                          std::integer_sequence<int, S...>) {
    (schedule_pair<8 * J + S>(ring, wk), ...);
    // The rounds must read the table, not have the compiler move each word
    // from a vector register on its own, which costs more than the load.
    __asm__ volatile("" ::: "memory");
}

// Eight rounds from T of block L (0 or 1) of the pair.
template <int T, int L>
KORVANE_INLINE_AVX2 void eight(uint64_t v[8], uint64_t& bc, const uint64_t* wk) {
    rounds::sha2_eight_wk<tr>(
        v, bc, [wk](int i) __attribute__((always_inline)) {
            return wk[((T + i) / 2) * 4 + L * 2 + ((T + i) & 1)];
        });
}

// Rounds 16J .. 16J+15 of the first block, after the schedule of the next
// stretch.
template <int J>
KORVANE_INLINE_AVX2 void first_stretch(uint64_t v[8], uint64_t& bc, __m256i ring[8], uint64_t* wk) {
    if constexpr (J < 4) {
        schedule_stretch<J + 1>(ring, wk, std::make_integer_sequence<int, 8>{});
    }
    eight<16 * J, 0>(v, bc, wk);
    eight<16 * J + 8, 0>(v, bc, wk);
}

template <int... J>
KORVANE_INLINE_AVX2 void first_block(uint64_t v[8], __m256i ring[8], uint64_t* wk,
                                     std::integer_sequence<int, J...>) {
    uint64_t bc = v[1] ^ v[2];
    (first_stretch<J>(v, bc, ring, wk), ...);
}

template <int... G>
KORVANE_INLINE_AVX2 void second_block(uint64_t v[8], const uint64_t* wk,
                                      std::integer_sequence<int, G...>) {
    uint64_t bc = v[1] ^ v[2];
    (eight<8 * G, 1>(v, bc, wk), ...);
}

}  // namespace

KORVANE_TARGET_AVX2 void sha512_blocks_avx2(uint64_t* state, const unsigned char* p,
                                            std::size_t blocks) {
    // Reverses the bytes of each 64-bit lane.
    const __m256i swap = _mm256_set_epi64x(0x08090a0b0c0d0e0f, 0x0001020304050607,
                                           0x08090a0b0c0d0e0f, 0x0001020304050607);
    uint64_t v[8];
    for (int i = 0; i < 8; ++i) {
        v[i] = state[i];
    }
    for (; blocks >= 2; blocks -= 2, p += 256) {
        alignas(32) uint64_t wk[160];
        __m256i ring[8];
        for (int i = 0; i < 8; ++i) {
            const __m128i lo = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * i));
            const __m128i hi = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 128 + 16 * i));
            ring[i] = _mm256_shuffle_epi8(_mm256_set_m128i(hi, lo), swap);
        }
        schedule_stretch<0>(ring, wk, std::make_integer_sequence<int, 8>{});
        uint64_t x[8];
        for (int i = 0; i < 8; ++i) {
            x[i] = v[i];
        }
        first_block(x, ring, wk, std::make_integer_sequence<int, 5>{});
        for (int i = 0; i < 8; ++i) {
            v[i] += x[i];
            x[i] = v[i];
        }
        second_block(x, wk, std::make_integer_sequence<int, 10>{});
        for (int i = 0; i < 8; ++i) {
            v[i] += x[i];
        }
    }
    for (int i = 0; i < 8; ++i) {
        state[i] = v[i];
    }
    if (blocks != 0) {
        // An odd last block: the same rounds with the scalar schedule.
        rounds::sha2_blocks<tr>(state, p, blocks);
    }
}

}  // namespace korvane::sha::x86
