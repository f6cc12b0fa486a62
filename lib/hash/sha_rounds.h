// The SHA-1, SHA-256 and SHA-512 rounds in plain C++, as templates that the
// portable block functions and the x86 variants compiled for newer
// instruction sets share.
//
// The state stays in local variables across consecutive blocks. The message
// schedule lives in a ring of sixteen words that is expanded in place just
// before each word is needed, so only sixteen words are live at a time. The
// eight (five) working variables are never shuffled: each round is called
// with its arguments rotated instead, so that a round writes just two of them
// and the compiler keeps all of them in registers. Everything is forced
// inline: a round left out of line would pass the state through memory.
#ifndef KORVANE_LIB_HASH_SHA_ROUNDS_H
#define KORVANE_LIB_HASH_SHA_ROUNDS_H

#include <bit>
#include <cstddef>
#include <cstdint>
#include <utility>

#include "hash/sha_bytes.h"
#include "hash/sha_constants.h"

#if defined(__GNUC__)
#define KORVANE_SHA_INLINE inline __attribute__((always_inline))
#else
#define KORVANE_SHA_INLINE inline
#endif

namespace korvane::sha::rounds {

using hash_detail::load_be32;
using hash_detail::load_be64;
using std::uint32_t;
using std::uint64_t;

// ---- SHA-1 ----

KORVANE_SHA_INLINE uint32_t sha1_f(int group, uint32_t b, uint32_t c, uint32_t d) {
    switch (group) {
        case 0:
            return d ^ (b & (c ^ d));  // choose
        case 2:
            return (b & c) | (d & (b | c));  // majority
        default:
            return b ^ c ^ d;  // parity
    }
}

// Round T: e and b are the two variables it changes.
template <int T>
KORVANE_SHA_INLINE void sha1_round(uint32_t a, uint32_t& b, uint32_t c, uint32_t d, uint32_t& e,
                                   uint32_t w[16]) {
    if constexpr (T >= 16) {
        w[T & 15] = std::rotl(w[(T - 3) & 15] ^ w[(T - 8) & 15] ^ w[(T - 14) & 15] ^ w[T & 15], 1);
    }
    e += std::rotl(a, 5) + sha1_f(T / 20, b, c, d) + sha1_k[T / 20] + w[T & 15];
    b = std::rotl(b, 30);
}

// Five rounds starting at T return the variables to their places.
template <int T>
KORVANE_SHA_INLINE void sha1_five(uint32_t& a, uint32_t& b, uint32_t& c, uint32_t& d, uint32_t& e,
                                  uint32_t w[16]) {
    sha1_round<T>(a, b, c, d, e, w);
    sha1_round<T + 1>(e, a, b, c, d, w);
    sha1_round<T + 2>(d, e, a, b, c, w);
    sha1_round<T + 3>(c, d, e, a, b, w);
    sha1_round<T + 4>(b, c, d, e, a, w);
}

template <int... G>
KORVANE_SHA_INLINE void sha1_all(uint32_t x[5], uint32_t w[16], std::integer_sequence<int, G...>) {
    (sha1_five<G * 5>(x[0], x[1], x[2], x[3], x[4], w), ...);
}

// ---- SHA-256 and SHA-512 share their round structure ----

struct sha256_traits {
    using word = uint32_t;
    static constexpr int rounds = 64;
    static constexpr int block = 64;
    KORVANE_SHA_INLINE static word load(const unsigned char* p) { return load_be32(p); }
    KORVANE_SHA_INLINE static word big_sigma0(word x) {
        return std::rotr(x, 2) ^ std::rotr(x, 13) ^ std::rotr(x, 22);
    }
    KORVANE_SHA_INLINE static word big_sigma1(word x) {
        return std::rotr(x, 6) ^ std::rotr(x, 11) ^ std::rotr(x, 25);
    }
    KORVANE_SHA_INLINE static word small_sigma0(word x) {
        return std::rotr(x, 7) ^ std::rotr(x, 18) ^ (x >> 3);
    }
    KORVANE_SHA_INLINE static word small_sigma1(word x) {
        return std::rotr(x, 17) ^ std::rotr(x, 19) ^ (x >> 10);
    }
    KORVANE_SHA_INLINE static word k(int t) { return sha256_k[t]; }
};

struct sha512_traits {
    using word = uint64_t;
    static constexpr int rounds = 80;
    static constexpr int block = 128;
    KORVANE_SHA_INLINE static word load(const unsigned char* p) { return load_be64(p); }
    KORVANE_SHA_INLINE static word big_sigma0(word x) {
        return std::rotr(x, 28) ^ std::rotr(x, 34) ^ std::rotr(x, 39);
    }
    KORVANE_SHA_INLINE static word big_sigma1(word x) {
        return std::rotr(x, 14) ^ std::rotr(x, 18) ^ std::rotr(x, 41);
    }
    KORVANE_SHA_INLINE static word small_sigma0(word x) {
        return std::rotr(x, 1) ^ std::rotr(x, 8) ^ (x >> 7);
    }
    KORVANE_SHA_INLINE static word small_sigma1(word x) {
        return std::rotr(x, 19) ^ std::rotr(x, 61) ^ (x >> 6);
    }
    KORVANE_SHA_INLINE static word k(int t) { return sha512_k[t]; }
};

// Hides a value from the optimiser's reassociation, so that a sum is formed in
// the order written: the terms that are ready early first, the ones on the
// critical path last.
template <typename W>
KORVANE_SHA_INLINE W early(W v) {
#if defined(__GNUC__)
    __asm__("" : "+r"(v));
#endif
    return v;
}

// One round given its message word plus round constant: d and h are the two
// variables it changes (h becomes the new a, d the new e).
//
// The rounds are bound by two chains: the new e needs the choice function and
// the big sigma of e, the new a the majority and the big sigma of a. Each big
// sigma takes three steps (rotations, then two XORs), so a chain can be no
// shorter than four steps per round, and the sums are ordered for that: the
// terms ready early are added first and the big sigma last, even though that
// costs the new e an addition of its own rather than sharing T1's. The
// majority is (a & (b ^ c)) ^ (b & c), two steps from a: b ^ c is the
// previous round's a ^ b, carried in `bc`.
template <typename Tr, typename W = typename Tr::word>
KORVANE_SHA_INLINE void sha2_round_wk(W a, W b, W c, W& d, W e, W f, W g, W& h, W wk, W& bc) {
    const W hw = early(h + wk);
    const W ch = (e & f) ^ (~e & g);
    const W s1 = Tr::big_sigma1(e);
    const W t1 = early(hw + ch) + s1;
    d = early(early(d + hw) + ch) + s1;
    const W maj = (a & bc) ^ (b & c);
    bc = a ^ b;
    h = early(t1 + maj) + Tr::big_sigma0(a);
}

// Round T, expanding the message ring first; the portable path's round.
template <typename Tr, int T, typename W = typename Tr::word>
KORVANE_SHA_INLINE void sha2_round(W a, W b, W c, W& d, W e, W f, W g, W& h, W w[16], W& bc) {
    (void)c;  // the majority takes b ^ c from bc
    if constexpr (T >= 16) {
        w[T & 15] += Tr::small_sigma1(w[(T - 2) & 15]) + w[(T - 7) & 15] +
                     Tr::small_sigma0(w[(T - 15) & 15]);
    }
    // Here the sixteen message words compete with the state for registers, and
    // the shorter chains of sha2_round_wk cost more in spills than they save:
    // the sums share T1, and the majority is b ^ ((a ^ b) & (b ^ c)), one
    // operation fewer.
    h += Tr::k(T) + w[T & 15];
    h = early(h + (g ^ (e & (f ^ g))));
    h += Tr::big_sigma1(e);
    d += h;
    const W ab = a ^ b;
    h += early(Tr::big_sigma0(a) + (b ^ (ab & bc)));
    bc = ab;
}

// Eight rounds return the variables to their places. `Wk` gives the message
// word plus constant of each round: wk(i) for round i of the eight.
template <typename Tr, typename Wk, typename W = typename Tr::word>
KORVANE_SHA_INLINE void sha2_eight_wk(W v[8], W& bc, Wk wk) {
    W& a = v[0];
    W& b = v[1];
    W& c = v[2];
    W& d = v[3];
    W& e = v[4];
    W& f = v[5];
    W& g = v[6];
    W& h = v[7];
    sha2_round_wk<Tr>(a, b, c, d, e, f, g, h, wk(0), bc);
    sha2_round_wk<Tr>(h, a, b, c, d, e, f, g, wk(1), bc);
    sha2_round_wk<Tr>(g, h, a, b, c, d, e, f, wk(2), bc);
    sha2_round_wk<Tr>(f, g, h, a, b, c, d, e, wk(3), bc);
    sha2_round_wk<Tr>(e, f, g, h, a, b, c, d, wk(4), bc);
    sha2_round_wk<Tr>(d, e, f, g, h, a, b, c, wk(5), bc);
    sha2_round_wk<Tr>(c, d, e, f, g, h, a, b, wk(6), bc);
    sha2_round_wk<Tr>(b, c, d, e, f, g, h, a, wk(7), bc);
}

template <typename Tr, int T, typename W = typename Tr::word>
KORVANE_SHA_INLINE void sha2_eight(W v[8], W w[16], W& bc) {
    W& a = v[0];
    W& b = v[1];
    W& c = v[2];
    W& d = v[3];
    W& e = v[4];
    W& f = v[5];
    W& g = v[6];
    W& h = v[7];
    sha2_round<Tr, T>(a, b, c, d, e, f, g, h, w, bc);
    sha2_round<Tr, T + 1>(h, a, b, c, d, e, f, g, w, bc);
    sha2_round<Tr, T + 2>(g, h, a, b, c, d, e, f, w, bc);
    sha2_round<Tr, T + 3>(f, g, h, a, b, c, d, e, w, bc);
    sha2_round<Tr, T + 4>(e, f, g, h, a, b, c, d, w, bc);
    sha2_round<Tr, T + 5>(d, e, f, g, h, a, b, c, w, bc);
    sha2_round<Tr, T + 6>(c, d, e, f, g, h, a, b, w, bc);
    sha2_round<Tr, T + 7>(b, c, d, e, f, g, h, a, w, bc);
}

template <typename Tr, int... G, typename W = typename Tr::word>
KORVANE_SHA_INLINE void sha2_all(W x[8], W w[16], std::integer_sequence<int, G...>) {
    W bc = x[1] ^ x[2];
    (sha2_eight<Tr, G * 8>(x, w, bc), ...);
}

template <typename Tr>
KORVANE_SHA_INLINE void sha2_blocks(typename Tr::word* state, const unsigned char* p,
                                    std::size_t blocks) {
    using W = typename Tr::word;
    W v[8];
    for (int i = 0; i < 8; ++i) {
        v[i] = state[i];
    }
    for (; blocks != 0; --blocks, p += Tr::block) {
        W w[16];
        for (int i = 0; i < 16; ++i) {
            w[i] = Tr::load(p + i * sizeof(W));
        }
        W x[8];
        for (int i = 0; i < 8; ++i) {
            x[i] = v[i];
        }
        sha2_all<Tr>(x, w, std::make_integer_sequence<int, Tr::rounds / 8>{});
        for (int i = 0; i < 8; ++i) {
            v[i] += x[i];
        }
    }
    for (int i = 0; i < 8; ++i) {
        state[i] = v[i];
    }
}

KORVANE_SHA_INLINE void sha1_blocks(uint32_t* state, const unsigned char* p, std::size_t blocks) {
    uint32_t a = state[0];
    uint32_t b = state[1];
    uint32_t c = state[2];
    uint32_t d = state[3];
    uint32_t e = state[4];
    for (; blocks != 0; --blocks, p += 64) {
        uint32_t w[16];
        for (int i = 0; i < 16; ++i) {
            w[i] = load_be32(p + 4 * i);
        }
        uint32_t x[5] = {a, b, c, d, e};
        sha1_all(x, w, std::make_integer_sequence<int, 16>{});
        a += x[0];
        b += x[1];
        c += x[2];
        d += x[3];
        e += x[4];
    }
    state[0] = a;
    state[1] = b;
    state[2] = c;
    state[3] = d;
    state[4] = e;
}

}  // namespace korvane::sha::rounds

#endif
