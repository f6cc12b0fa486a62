// CRC-32 by carry-less multiplication ("folding"), in 128-, 256- and 512-bit
// widths.
//
// The data is viewed as one long polynomial over GF(2). A 128-bit block A that
// is followed by D more bits of message contributes A * x^D; since only the
// value modulo P matters, A can be replaced by two 64x33-bit carry-less
// products with x^(D+32) mod P and x^(D-32) mod P and XORed into the block D
// bits later. Several independent accumulators hide the multiplier latency;
// at the end the accumulators are folded into one 128-bit value, which a
// Barrett reduction turns into the 32-bit register. Bytes that do not fill a
// 16-byte block go through the table path, so every path returns exactly what
// the reference returns.
//
// Register bit conventions (all "reflected", as the CRC itself): in a 128-bit
// block loaded little-endian, bit i holds the coefficient of x^(127-i); a
// 33-bit constant holds x^m at bit 32-m. A carry-less product of a 64-bit half
// and such a constant then lands already aligned for the next block, carrying
// an extra factor x^32 that the constants absorb.

#include <immintrin.h>

#include <cstdint>

#include "hash/crc32_paths.h"
#include "hash/x86/crc32_x86.h"

namespace korvane::crc32::x86 {
namespace {

// ---- constants, all computed by the compiler from the polynomial ----

// Full generator polynomial in normal bit order, x^32 term included.
constexpr std::uint64_t generator = 0x104C11DB7ull;

// x^n mod P, normal bit order (bit k = coefficient of x^k).
constexpr std::uint32_t xpow_mod(unsigned n) {
    std::uint32_t r = 1;
    for (unsigned i = 0; i < n; ++i) {
        const bool carry = (r & 0x80000000u) != 0;
        r <<= 1;
        if (carry) {
            r ^= static_cast<std::uint32_t>(generator);
        }
    }
    return r;
}

// Reverses the lowest `bits` bits of v.
constexpr std::uint64_t reflect(std::uint64_t v, int bits) {
    std::uint64_t r = 0;
    for (int i = 0; i < bits; ++i) {
        r |= ((v >> i) & 1u) << (bits - 1 - i);
    }
    return r;
}

// floor(x^64 / P), normal bit order, degree 32.
constexpr std::uint64_t barrett_quotient() {
    std::uint64_t rem = 0;
    std::uint64_t q = 0;
    for (int deg = 64; deg >= 0; --deg) {
        rem = (rem << 1) | (deg == 64 ? 1u : 0u);
        if ((rem >> 32) & 1u) {
            rem ^= generator;
            q |= 1ull << deg;
        }
    }
    return q;
}

// x^n mod P as a 33-bit reflected multiplier (x^m at bit 32-m).
constexpr std::uint64_t k33(unsigned n) {
    return reflect(xpow_mod(n), 32) << 1;
}

// x^n mod P as a 64-bit reflected multiplier (x^m at bit 63-m).
constexpr std::uint64_t k64(unsigned n) {
    return reflect(xpow_mod(n), 32) << 32;
}

struct fold_constants {
    std::uint64_t lo;  // multiplies the earlier (low) half of a block
    std::uint64_t hi;  // multiplies the later (high) half
};

// Multipliers that move a 128-bit block forward by `bits` bits of message.
constexpr fold_constants fold_by(unsigned bits) {
    return {k33(bits + 32), k33(bits - 32)};
}

constexpr fold_constants fold_128 = fold_by(128);
constexpr fold_constants fold_256 = fold_by(256);
constexpr fold_constants fold_384 = fold_by(384);
constexpr fold_constants fold_512 = fold_by(512);
constexpr fold_constants fold_768 = fold_by(768);
constexpr fold_constants fold_1024 = fold_by(1024);
constexpr fold_constants fold_1536 = fold_by(1536);
constexpr fold_constants fold_2048 = fold_by(2048);

// The published values for this polynomial; a cheap guard against a slip in
// the bit conventions above.
static_assert(fold_512.lo == 0x154442BD4ull && fold_512.hi == 0x1C6E41596ull);
static_assert(fold_128.lo == 0x1751997D0ull && fold_128.hi == 0x0CCAA009Eull);

constexpr std::uint64_t reduce_step1 = k64(95);  // 128 -> 96 bits
constexpr std::uint64_t reduce_step2 = k64(63);  // 96 -> 64 bits
constexpr std::uint64_t barrett_mu = reflect(barrett_quotient(), 33);
constexpr std::uint64_t barrett_p = reflect(generator, 33);
static_assert(barrett_mu == 0x1F7011641ull && barrett_p == 0x1DB710641ull);

// ---- 128-bit helpers ----

#define KORVANE_TARGET_CLMUL __attribute__((target("pclmul,sse4.1")))

KORVANE_TARGET_CLMUL inline __m128i pair128(fold_constants k) {
    return _mm_set_epi64x(static_cast<long long>(k.hi), static_cast<long long>(k.lo));
}

KORVANE_TARGET_CLMUL inline __m128i load128(const unsigned char* p) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}

KORVANE_TARGET_CLMUL inline __m128i fold128(__m128i x, __m128i k) {
    return _mm_xor_si128(_mm_clmulepi64_si128(x, k, 0x00), _mm_clmulepi64_si128(x, k, 0x11));
}

// The CRC register of a 128-bit block that ends the message so far:
// block * x^32 mod P, reflected.
KORVANE_TARGET_CLMUL inline std::uint32_t reduce128(__m128i x) {
    const __m128i k1 = _mm_set_epi64x(0, static_cast<long long>(reduce_step1));
    const __m128i k2 = _mm_set_epi64x(0, static_cast<long long>(reduce_step2));
    const __m128i mu = _mm_set_epi64x(0, static_cast<long long>(barrett_mu));
    const __m128i poly = _mm_set_epi64x(0, static_cast<long long>(barrett_p));
    const __m128i low32 = _mm_set_epi32(0, 0, 0, -1);

    // Earlier half times x^95 mod P (the product carries one more factor x),
    // plus the later half moved up by x^32: at most 96 significant bits.
    __m128i t = _mm_clmulepi64_si128(x, k1, 0x00);
    t = _mm_xor_si128(t, _mm_srli_si128(_mm_unpackhi_epi64(_mm_setzero_si128(), x), 4));
    // Top 32 of those times x^63 mod P: at most 64 bits, in the high half.
    const __m128i u = _mm_xor_si128(_mm_clmulepi64_si128(t, k2, 0x00), t);
    const __m128i w = _mm_srli_si128(u, 8);
    // Barrett: quotient from the top 32 bits, remainder in bits 32..63.
    const __m128i q = _mm_clmulepi64_si128(_mm_and_si128(w, low32), mu, 0x00);
    const __m128i qp = _mm_clmulepi64_si128(_mm_and_si128(q, low32), poly, 0x00);
    return static_cast<std::uint32_t>(_mm_extract_epi32(_mm_xor_si128(w, qp), 1));
}

// Folds the remaining whole 16-byte blocks into `x`, reduces, and runs the
// table path over the last bytes.
KORVANE_TARGET_CLMUL inline std::uint32_t finish128(__m128i x, const unsigned char* p,
                                                    std::size_t n) {
    const __m128i k128 = pair128(fold_128);
    while (n >= 16) {
        x = _mm_xor_si128(fold128(x, k128), load128(p));
        p += 16;
        n -= 16;
    }
    return update_slicing16(reduce128(x), p, n);
}

}  // namespace

KORVANE_TARGET_CLMUL
std::uint32_t update_pclmul(std::uint32_t reg, const unsigned char* p, std::size_t n) {
    if (n < 16) {
        return update_slicing16(reg, p, n);
    }
    __m128i x0 = _mm_xor_si128(load128(p), _mm_cvtsi32_si128(static_cast<int>(reg)));
    p += 16;
    n -= 16;
    if (n >= 48) {
        __m128i x1 = load128(p);
        __m128i x2 = load128(p + 16);
        __m128i x3 = load128(p + 32);
        p += 48;
        n -= 48;
        const __m128i k512 = pair128(fold_512);
        while (n >= 64) {
            x0 = _mm_xor_si128(fold128(x0, k512), load128(p));
            x1 = _mm_xor_si128(fold128(x1, k512), load128(p + 16));
            x2 = _mm_xor_si128(fold128(x2, k512), load128(p + 32));
            x3 = _mm_xor_si128(fold128(x3, k512), load128(p + 48));
            p += 64;
            n -= 64;
        }
        x0 = _mm_xor_si128(
            _mm_xor_si128(fold128(x0, pair128(fold_384)), fold128(x1, pair128(fold_256))),
            _mm_xor_si128(fold128(x2, pair128(fold_128)), x3));
    }
    return finish128(x0, p, n);
}

// ---- 256-bit VPCLMULQDQ (AVX2) ----

#define KORVANE_TARGET_VPCLMUL256 __attribute__((target("avx2,vpclmulqdq,pclmul,sse4.1")))

namespace {

KORVANE_TARGET_VPCLMUL256 inline __m256i pair256(fold_constants k) {
    return _mm256_broadcastsi128_si256(pair128(k));
}

KORVANE_TARGET_VPCLMUL256 inline __m256i load256(const unsigned char* p) {
    return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
}

KORVANE_TARGET_VPCLMUL256 inline __m256i fold256(__m256i x, __m256i k) {
    return _mm256_xor_si256(_mm256_clmulepi64_epi128(x, k, 0x00),
                            _mm256_clmulepi64_epi128(x, k, 0x11));
}

}  // namespace

KORVANE_TARGET_VPCLMUL256
std::uint32_t update_vpclmul256(std::uint32_t reg, const unsigned char* p, std::size_t n) {
    if (n < 128) {
        return update_pclmul(reg, p, n);
    }
    __m256i y0 = _mm256_xor_si256(load256(p),
                                  _mm256_zextsi128_si256(_mm_cvtsi32_si128(static_cast<int>(reg))));
    __m256i y1 = load256(p + 32);
    __m256i y2 = load256(p + 64);
    __m256i y3 = load256(p + 96);
    p += 128;
    n -= 128;
    const __m256i k1024 = pair256(fold_1024);
    while (n >= 128) {
        y0 = _mm256_xor_si256(fold256(y0, k1024), load256(p));
        y1 = _mm256_xor_si256(fold256(y1, k1024), load256(p + 32));
        y2 = _mm256_xor_si256(fold256(y2, k1024), load256(p + 64));
        y3 = _mm256_xor_si256(fold256(y3, k1024), load256(p + 96));
        p += 128;
        n -= 128;
    }
    const __m256i k256 = pair256(fold_256);
    y0 = _mm256_xor_si256(
        _mm256_xor_si256(fold256(y0, pair256(fold_768)), fold256(y1, pair256(fold_512))),
        _mm256_xor_si256(fold256(y2, k256), y3));
    while (n >= 32) {
        y0 = _mm256_xor_si256(fold256(y0, k256), load256(p));
        p += 32;
        n -= 32;
    }
    const __m128i x = _mm_xor_si128(fold128(_mm256_castsi256_si128(y0), pair128(fold_128)),
                                    _mm256_extracti128_si256(y0, 1));
    return finish128(x, p, n);
}

// ---- 512-bit VPCLMULQDQ (AVX-512) ----

#define KORVANE_TARGET_VPCLMUL512 \
    __attribute__((target("avx512f,avx512vl,avx512bw,avx2,vpclmulqdq,pclmul,sse4.1")))

namespace {

KORVANE_TARGET_VPCLMUL512 inline __m512i pair512(fold_constants k) {
    const auto lo = static_cast<long long>(k.lo);
    const auto hi = static_cast<long long>(k.hi);
    return _mm512_set_epi64(hi, lo, hi, lo, hi, lo, hi, lo);
}

// Lane `i` of `z`. The zero-masked form avoids the "undefined" source operand
// of the plain intrinsic, which some compilers report as uninitialized.
template <int I>
KORVANE_TARGET_VPCLMUL512 inline __m128i lane(__m512i z) {
    return _mm512_maskz_extracti32x4_epi32(0xF, z, I);
}

KORVANE_TARGET_VPCLMUL512 inline __m512i load512(const unsigned char* p) {
    return _mm512_loadu_si512(p);
}

// fold(x) XOR data in one three-way XOR.
KORVANE_TARGET_VPCLMUL512 inline __m512i fold512_xor(__m512i x, __m512i k, __m512i data) {
    return _mm512_ternarylogic_epi64(_mm512_clmulepi64_epi128(x, k, 0x00),
                                     _mm512_clmulepi64_epi128(x, k, 0x11), data, 0x96);
}

}  // namespace

KORVANE_TARGET_VPCLMUL512
std::uint32_t update_vpclmul512(std::uint32_t reg, const unsigned char* p, std::size_t n) {
    if (n < 256) {
        return update_pclmul(reg, p, n);
    }
    __m512i z0 = _mm512_xor_si512(load512(p),
                                  _mm512_zextsi128_si512(_mm_cvtsi32_si128(static_cast<int>(reg))));
    __m512i z1 = load512(p + 64);
    __m512i z2 = load512(p + 128);
    __m512i z3 = load512(p + 192);
    p += 256;
    n -= 256;
    const __m512i k2048 = pair512(fold_2048);
    while (n >= 256) {
        z0 = fold512_xor(z0, k2048, load512(p));
        z1 = fold512_xor(z1, k2048, load512(p + 64));
        z2 = fold512_xor(z2, k2048, load512(p + 128));
        z3 = fold512_xor(z3, k2048, load512(p + 192));
        p += 256;
        n -= 256;
    }
    const __m512i k512 = pair512(fold_512);
    z2 = fold512_xor(z2, k512, z3);
    z0 = fold512_xor(z0, pair512(fold_1536), fold512_xor(z1, pair512(fold_1024), z2));
    while (n >= 64) {
        z0 = fold512_xor(z0, k512, load512(p));
        p += 64;
        n -= 64;
    }
    const __m128i x =
        _mm_xor_si128(_mm_xor_si128(fold128(lane<0>(z0), pair128(fold_384)),
                                    fold128(lane<1>(z0), pair128(fold_256))),
                      _mm_xor_si128(fold128(lane<2>(z0), pair128(fold_128)), lane<3>(z0)));
    return finish128(x, p, n);
}

}  // namespace korvane::crc32::x86
