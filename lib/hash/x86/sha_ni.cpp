// SHA-1 and SHA-256 on the x86 SHA extensions.
//
// The instructions keep the working variables packed in XMM registers, most
// significant lane first: SHA-1 as ABCD plus E in the top lane of a second
// register, SHA-256 as ABEF and CDGH. Message words likewise sit four to a
// register (SHA-1 with the earliest word in the top lane, SHA-256 in the
// bottom lane), so each 16-byte piece of the block is byte-swapped on load.
//
// The message schedule runs four words ahead of the rounds in a ring of four
// registers. It does not depend on the rounds at all, so the processor works
// it off in the shadow of the round instructions, whose latency is the
// critical path.

#include <immintrin.h>

#include <cstddef>
#include <cstdint>
#include <utility>

#include "hash/sha_constants.h"
#include "hash/x86/sha_x86.h"

#define KORVANE_TARGET_SHANI __attribute__((target("sha,ssse3,sse4.1")))
// The round helpers must be inlined into their block function, or the state
// registers would travel through memory on every group.
#define KORVANE_INLINE_SHANI inline __attribute__((always_inline, target("sha,ssse3,sse4.1")))

namespace korvane::sha::x86 {
namespace {

// ---- SHA-1 ----

// Rounds 4G to 4G+3. `w` holds words 4G-16 .. 4G-1 in w[G % 4] .. w[(G+3) % 4]
// on entry and the words of this group in w[G % 4] after the schedule step.
// `e` carries E for group 0; for later groups it carries the ABCD of four
// rounds ago, whose rotated A is this group's E.
template <int G>
KORVANE_INLINE_SHANI void sha1_group(__m128i& abcd, __m128i& e, __m128i w[4]) {
    __m128i& cur = w[G % 4];
    if constexpr (G >= 4) {
        // W[t] = rotl1(W[t-3] ^ W[t-8] ^ W[t-14] ^ W[t-16])
        cur = _mm_sha1msg1_epu32(cur, w[(G + 1) % 4]);
        cur = _mm_xor_si128(cur, w[(G + 2) % 4]);
        cur = _mm_sha1msg2_epu32(cur, w[(G + 3) % 4]);
    }
    const __m128i ew = G == 0 ? _mm_add_epi32(e, cur) : _mm_sha1nexte_epu32(e, cur);
    e = abcd;
    abcd = _mm_sha1rnds4_epu32(abcd, ew, G / 5);
}

// ---- SHA-256 ----

// Rounds 4G to 4G+3; `w` as for SHA-1. Each rnds2 does two rounds and hands
// back the new ABEF, while the previous ABEF becomes CDGH.
template <int G>
KORVANE_INLINE_SHANI void sha256_group(__m128i& abef, __m128i& cdgh, __m128i w[4]) {
    __m128i& cur = w[G % 4];
    if constexpr (G >= 4) {
        // W[t] = s1(W[t-2]) + W[t-7] + s0(W[t-15]) + W[t-16]
        const __m128i t7 = _mm_alignr_epi8(w[(G + 3) % 4], w[(G + 2) % 4], 4);
        cur = _mm_add_epi32(_mm_sha256msg1_epu32(cur, w[(G + 1) % 4]), t7);
        cur = _mm_sha256msg2_epu32(cur, w[(G + 3) % 4]);
    }
    __m128i wk =
        _mm_add_epi32(cur, _mm_load_si128(reinterpret_cast<const __m128i*>(sha256_k + 4 * G)));
    cdgh = _mm_sha256rnds2_epu32(cdgh, abef, wk);
    wk = _mm_shuffle_epi32(wk, 0x0E);
    abef = _mm_sha256rnds2_epu32(abef, cdgh, wk);
}

// All the groups of one block, in order.
template <int... G>
KORVANE_INLINE_SHANI void sha1_groups(__m128i& abcd, __m128i& e, __m128i w[4],
                                      std::integer_sequence<int, G...>) {
    (sha1_group<G>(abcd, e, w), ...);
}

template <int... G>
KORVANE_INLINE_SHANI void sha256_groups(__m128i& abef, __m128i& cdgh, __m128i w[4],
                                        std::integer_sequence<int, G...>) {
    (sha256_group<G>(abef, cdgh, w), ...);
}

// ---- Whole blocks ----

// Reverses all sixteen bytes: big-endian words, earliest in the top lane.
KORVANE_INLINE_SHANI __m128i sha1_swap() {
    return _mm_set_epi64x(0x0001020304050607, 0x08090a0b0c0d0e0f);
}

// Reverses the bytes of each 32-bit lane.
KORVANE_INLINE_SHANI __m128i sha256_swap() {
    return _mm_set_epi64x(0x0c0d0e0f08090a0b, 0x0405060700010203);
}

KORVANE_INLINE_SHANI void load_words(__m128i w[4], const unsigned char* p, __m128i swap) {
    for (int i = 0; i < 4; ++i) {
        w[i] =
            _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * i)), swap);
    }
}

// One SHA-1 stream in registers: ABCD and E in the top lane of `e`.
struct sha1_lane {
    __m128i abcd;
    __m128i e;
};

KORVANE_INLINE_SHANI sha1_lane sha1_load(const std::uint32_t* state) {
    return {_mm_shuffle_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(state)), 0x1B),
            _mm_set_epi32(static_cast<int>(state[4]), 0, 0, 0)};
}

KORVANE_INLINE_SHANI void sha1_store(std::uint32_t* state, const sha1_lane& s) {
    _mm_storeu_si128(reinterpret_cast<__m128i*>(state), _mm_shuffle_epi32(s.abcd, 0x1B));
    state[4] = static_cast<std::uint32_t>(_mm_extract_epi32(s.e, 3));
}

// The end of a block: E after the last group is the rotated A of four rounds
// before it; nexte adds the starting E to it in the same step.
KORVANE_INLINE_SHANI void sha1_add(sha1_lane& s, const sha1_lane& start, __m128i e) {
    s.e = _mm_sha1nexte_epu32(e, start.e);
    s.abcd = _mm_add_epi32(s.abcd, start.abcd);
}

// One SHA-256 stream in registers: ABEF and CDGH.
struct sha256_lane {
    __m128i abef;
    __m128i cdgh;
};

// a b c d / e f g h in memory order -> ABEF and CDGH, top lane first.
KORVANE_INLINE_SHANI sha256_lane sha256_load(const std::uint32_t* state) {
    const __m128i badc =
        _mm_shuffle_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(state)), 0xB1);
    const __m128i hgfe =
        _mm_shuffle_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(state + 4)), 0x1B);
    return {_mm_alignr_epi8(badc, hgfe, 8), _mm_blend_epi16(hgfe, badc, 0xF0)};
}

// Back to memory order.
KORVANE_INLINE_SHANI void sha256_store(std::uint32_t* state, const sha256_lane& s) {
    const __m128i feba = _mm_shuffle_epi32(s.abef, 0x1B);
    const __m128i dchg = _mm_shuffle_epi32(s.cdgh, 0xB1);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(state), _mm_blend_epi16(feba, dchg, 0xF0));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(state + 4), _mm_alignr_epi8(dchg, feba, 8));
}

KORVANE_INLINE_SHANI void sha256_add(sha256_lane& s, const sha256_lane& start) {
    s.abef = _mm_add_epi32(s.abef, start.abef);
    s.cdgh = _mm_add_epi32(s.cdgh, start.cdgh);
}

// Two streams' groups alternate, so that each round instruction of one
// stream issues while the other's is still in flight: the two chains share
// the unit that a single chain leaves idle for most of its latency.
template <int... G>
KORVANE_INLINE_SHANI void sha1_groups2(sha1_lane& a, __m128i& ea, __m128i wa[4], sha1_lane& b,
                                       __m128i& eb, __m128i wb[4],
                                       std::integer_sequence<int, G...>) {
    ((sha1_group<G>(a.abcd, ea, wa), sha1_group<G>(b.abcd, eb, wb)), ...);
}

template <int... G>
KORVANE_INLINE_SHANI void sha256_groups2(sha256_lane& a, __m128i wa[4], sha256_lane& b,
                                         __m128i wb[4], std::integer_sequence<int, G...>) {
    ((sha256_group<G>(a.abef, a.cdgh, wa), sha256_group<G>(b.abef, b.cdgh, wb)), ...);
}

}  // namespace

KORVANE_TARGET_SHANI void sha1_blocks_shani(std::uint32_t* state, const unsigned char* p,
                                            std::size_t blocks) {
    const __m128i swap = sha1_swap();
    sha1_lane s = sha1_load(state);
    for (; blocks != 0; --blocks, p += 64) {
        const sha1_lane start = s;
        __m128i w[4];
        load_words(w, p, swap);
        __m128i e = s.e;
        sha1_groups(s.abcd, e, w, std::make_integer_sequence<int, 20>{});
        sha1_add(s, start, e);
    }
    sha1_store(state, s);
}

KORVANE_TARGET_SHANI void sha256_blocks_shani(std::uint32_t* state, const unsigned char* p,
                                              std::size_t blocks) {
    const __m128i swap = sha256_swap();
    sha256_lane s = sha256_load(state);
    for (; blocks != 0; --blocks, p += 64) {
        const sha256_lane start = s;
        __m128i w[4];
        load_words(w, p, swap);
        sha256_groups(s.abef, s.cdgh, w, std::make_integer_sequence<int, 16>{});
        sha256_add(s, start);
    }
    sha256_store(state, s);
}

KORVANE_TARGET_SHANI void sha1_blocks_shani_x2(std::uint32_t* state_a, const unsigned char* a,
                                               std::uint32_t* state_b, const unsigned char* b,
                                               std::size_t blocks) {
    const __m128i swap = sha1_swap();
    sha1_lane sa = sha1_load(state_a);
    sha1_lane sb = sha1_load(state_b);
    for (; blocks != 0; --blocks, a += 64, b += 64) {
        const sha1_lane start_a = sa;
        const sha1_lane start_b = sb;
        __m128i wa[4];
        __m128i wb[4];
        load_words(wa, a, swap);
        load_words(wb, b, swap);
        __m128i ea = sa.e;
        __m128i eb = sb.e;
        sha1_groups2(sa, ea, wa, sb, eb, wb, std::make_integer_sequence<int, 20>{});
        sha1_add(sa, start_a, ea);
        sha1_add(sb, start_b, eb);
    }
    sha1_store(state_a, sa);
    sha1_store(state_b, sb);
}

KORVANE_TARGET_SHANI void sha256_blocks_shani_x2(std::uint32_t* state_a, const unsigned char* a,
                                                 std::uint32_t* state_b, const unsigned char* b,
                                                 std::size_t blocks) {
    const __m128i swap = sha256_swap();
    sha256_lane sa = sha256_load(state_a);
    sha256_lane sb = sha256_load(state_b);
    for (; blocks != 0; --blocks, a += 64, b += 64) {
        const sha256_lane start_a = sa;
        const sha256_lane start_b = sb;
        __m128i wa[4];
        __m128i wb[4];
        load_words(wa, a, swap);
        load_words(wb, b, swap);
        sha256_groups2(sa, wa, sb, wb, std::make_integer_sequence<int, 16>{});
        sha256_add(sa, start_a);
        sha256_add(sb, start_b);
    }
    sha256_store(state_a, sa);
    sha256_store(state_b, sb);
}

}  // namespace korvane::sha::x86
