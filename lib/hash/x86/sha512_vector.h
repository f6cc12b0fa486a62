// The SHA-512 block function with the message schedule in 256-bit vector
// registers, written once for two instruction sets. The including file
// defines
//   KORVANE_SHA512_TARGET    the target attribute text of every function
//   KORVANE_SHA512_AVX512    1 to use the AVX-512VL rotate and three-way XOR
//   KORVANE_SHA512_FUNCTION  the name of the block function to define
// and includes this header once, inside namespace korvane::sha::x86. (Target
// attributes must match along every forced inlining, so the helpers cannot be
// shared templates.)
//
// The scalar rounds use BMI2 (rorx rotates without touching the flags or its
// source, andn forms the choice function). The schedule runs for two blocks at
// once: each vector register holds the same two word positions of both blocks,
// one block per 128-bit lane, which is how the vector byte shifts already
// work. It writes W[t] + K[t] of both blocks into a table, one pair of words
// after every two rounds of the first block, a stretch of sixteen words ahead
// of the rounds that read them, so that the vector and the scalar units work
// side by side; the second block's rounds then read the table alone.

namespace {

#define KORVANE_SHA512_INLINE inline __attribute__((always_inline, target(KORVANE_SHA512_TARGET)))

using tr = rounds::sha512_traits;
using std::uint64_t;

template <int N>
KORVANE_SHA512_INLINE __m256i rotr(__m256i x) {
#if KORVANE_SHA512_AVX512
    return _mm256_ror_epi64(x, N);
#else
    return _mm256_or_si256(_mm256_srli_epi64(x, N), _mm256_slli_epi64(x, 64 - N));
#endif
}

KORVANE_SHA512_INLINE __m256i small_sigma0(__m256i x) {
#if KORVANE_SHA512_AVX512
    return _mm256_ternarylogic_epi64(rotr<1>(x), rotr<8>(x), _mm256_srli_epi64(x, 7), 0x96);
#else
    // A rotation by eight is a byte shuffle; the rotation by one is two shifts
    // whose bits never meet, so XOR joins them as well as OR would.
    const __m256i rotr8 = _mm256_set_epi64x(0x080f0e0d0c0b0a09, 0x0007060504030201,
                                            0x080f0e0d0c0b0a09, 0x0007060504030201);
    return _mm256_xor_si256(
        _mm256_xor_si256(_mm256_srli_epi64(x, 1), _mm256_slli_epi64(x, 63)),
        _mm256_xor_si256(_mm256_shuffle_epi8(x, rotr8), _mm256_srli_epi64(x, 7)));
#endif
}

KORVANE_SHA512_INLINE __m256i small_sigma1(__m256i x) {
#if KORVANE_SHA512_AVX512
    return _mm256_ternarylogic_epi64(rotr<19>(x), rotr<61>(x), _mm256_srli_epi64(x, 6), 0x96);
#else
    return _mm256_xor_si256(_mm256_xor_si256(rotr<19>(x), rotr<61>(x)), _mm256_srli_epi64(x, 6));
#endif
}

// Words 2S and 2S+1 of both blocks into ring[S % 8], and their sums with the
// constants into wk[4S .. 4S+3]: the first block's two, then the second's.
// The ring holds the last sixteen words of each block as eight pairs.
template <int S>
KORVANE_SHA512_INLINE void schedule_pair(__m256i ring[8], uint64_t* wk) {
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
    // The rounds must read the table: left alone, the compiler moves each word
    // out of its vector register by itself, which costs more than the load.
    __asm__ volatile("" ::: "memory");
}

template <int... S>
KORVANE_SHA512_INLINE void schedule_first(__m256i ring[8], uint64_t* wk,
                                          std::integer_sequence<int, S...>) {
    (schedule_pair<S>(ring, wk), ...);
}

// Round T of block L (0 or 1) of the pair. The eight variables are not moved
// between rounds; their roles rotate with T.
template <int T, int L>
KORVANE_SHA512_INLINE void one_round(uint64_t v[8], uint64_t& bc, const uint64_t* wk) {
    constexpr int r = T % 8;
    rounds::sha2_round_wk<tr>(v[(8 - r) % 8], v[(9 - r) % 8], v[(10 - r) % 8], v[(11 - r) % 8],
                              v[(12 - r) % 8], v[(13 - r) % 8], v[(14 - r) % 8], v[(15 - r) % 8],
                              wk[(T / 2) * 4 + L * 2 + (T & 1)], bc);
}

// Rounds 2P-16 and 2P-15 of the first block, after scheduling pair P (the
// schedule of the first sixteen words is done before the first round).
template <int P>
KORVANE_SHA512_INLINE void first_two(uint64_t v[8], uint64_t& bc, __m256i ring[8], uint64_t* wk) {
    if constexpr (P < 40) {
        schedule_pair<P>(ring, wk);
    }
    one_round<2 * P - 16, 0>(v, bc, wk);
    one_round<2 * P - 15, 0>(v, bc, wk);
}

template <int... P>
KORVANE_SHA512_INLINE void first_block(uint64_t v[8], __m256i ring[8], uint64_t* wk,
                                       std::integer_sequence<int, P...>) {
    uint64_t bc = v[1] ^ v[2];
    (first_two<P + 8>(v, bc, ring, wk), ...);
}

template <int... T>
KORVANE_SHA512_INLINE void second_block(uint64_t v[8], const uint64_t* wk,
                                        std::integer_sequence<int, T...>) {
    uint64_t bc = v[1] ^ v[2];
    (one_round<T, 1>(v, bc, wk), ...);
}

#undef KORVANE_SHA512_INLINE

}  // namespace

__attribute__((target(KORVANE_SHA512_TARGET))) void KORVANE_SHA512_FUNCTION(uint64_t* state,
                                                                            const unsigned char* p,
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
        schedule_first(ring, wk, std::make_integer_sequence<int, 8>{});
        uint64_t x[8];
        for (int i = 0; i < 8; ++i) {
            x[i] = v[i];
        }
        first_block(x, ring, wk, std::make_integer_sequence<int, 40>{});
        for (int i = 0; i < 8; ++i) {
            v[i] += x[i];
            x[i] = v[i];
        }
        second_block(x, wk, std::make_integer_sequence<int, 80>{});
        for (int i = 0; i < 8; ++i) {
            v[i] += x[i];
        }
    }
    for (int i = 0; i < 8; ++i) {
        state[i] = v[i];
    }
    if (blocks != 0) {
        // An odd last block: the portable rounds, compiled for this target.
        rounds::sha2_blocks<tr>(state, p, blocks);
    }
}
