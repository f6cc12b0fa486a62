// CRC-32 by carry-less multiplication ("folding"), in 128-, 256- and 512-bit
// widths: one folding routine, instantiated once per vector width.
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

// The published values for this polynomial; a cheap guard against a slip in
// the bit conventions above.
static_assert(fold_512.lo == 0x154442BD4ull && fold_512.hi == 0x1C6E41596ull);
static_assert(fold_128.lo == 0x1751997D0ull && fold_128.hi == 0x0CCAA009Eull);

constexpr std::uint64_t reduce_step1 = k64(95);  // 128 -> 96 bits
constexpr std::uint64_t reduce_step2 = k64(63);  // 96 -> 64 bits
constexpr std::uint64_t barrett_mu = reflect(barrett_quotient(), 33);
constexpr std::uint64_t barrett_p = reflect(generator, 33);
static_assert(barrett_mu == 0x1F7011641ull && barrett_p == 0x1DB710641ull);

// ---- one vector width per type ----
//
// Each width supplies the same few operations, compiled for its own target.
// The folding routine (hash/x86/crc32_fold.h) is written once over them and
// compiled once per width with that width's target, so no width's
// instructions leak into another path.

#define KORVANE_TARGET_CLMUL __attribute__((target("pclmul,sse4.1")))
#define KORVANE_TARGET_VPCLMUL256 __attribute__((target("avx2,vpclmulqdq,pclmul,sse4.1")))
#define KORVANE_TARGET_VPCLMUL512 \
    __attribute__((target("avx512f,avx512vl,avx512bw,avx2,vpclmulqdq,pclmul,sse4.1")))

KORVANE_TARGET_CLMUL inline __m128i pair128(fold_constants k) {
    return _mm_set_epi64x(static_cast<long long>(k.hi), static_cast<long long>(k.lo));
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

struct width128 {
    using vec = __m128i;
    static constexpr std::size_t bytes = 16;

    KORVANE_TARGET_CLMUL static vec load(const unsigned char* p) {
        return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    }
    KORVANE_TARGET_CLMUL static vec constants(fold_constants k) { return pair128(k); }
    // The running register enters as the first 32 bits of the message.
    KORVANE_TARGET_CLMUL static vec with_register(vec x, std::uint32_t reg) {
        return _mm_xor_si128(x, _mm_cvtsi32_si128(static_cast<int>(reg)));
    }
    // fold(x) XOR data.
    KORVANE_TARGET_CLMUL static vec fold_xor(vec x, vec k, vec data) {
        return _mm_xor_si128(fold128(x, k), data);
    }
    KORVANE_TARGET_CLMUL static __m128i narrow(vec x) { return x; }
};

struct width256 {
    using vec = __m256i;
    static constexpr std::size_t bytes = 32;

    KORVANE_TARGET_VPCLMUL256 static vec load(const unsigned char* p) {
        return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
    }
    KORVANE_TARGET_VPCLMUL256 static vec constants(fold_constants k) {
        return _mm256_broadcastsi128_si256(pair128(k));
    }
    KORVANE_TARGET_VPCLMUL256 static vec with_register(vec x, std::uint32_t reg) {
        return _mm256_xor_si256(x,
                                _mm256_zextsi128_si256(_mm_cvtsi32_si128(static_cast<int>(reg))));
    }
    KORVANE_TARGET_VPCLMUL256 static vec fold_xor(vec x, vec k, vec data) {
        return _mm256_xor_si256(_mm256_xor_si256(_mm256_clmulepi64_epi128(x, k, 0x00),
                                                 _mm256_clmulepi64_epi128(x, k, 0x11)),
                                data);
    }
    // The two 128-bit lanes folded into one.
    KORVANE_TARGET_VPCLMUL256 static __m128i narrow(vec x) {
        return _mm_xor_si128(fold128(_mm256_castsi256_si128(x), pair128(fold_128)),
                             _mm256_extracti128_si256(x, 1));
    }
};

struct width512 {
    using vec = __m512i;
    static constexpr std::size_t bytes = 64;

    KORVANE_TARGET_VPCLMUL512 static vec load(const unsigned char* p) {
        return _mm512_loadu_si512(p);
    }
    KORVANE_TARGET_VPCLMUL512 static vec constants(fold_constants k) {
        const auto lo = static_cast<long long>(k.lo);
        const auto hi = static_cast<long long>(k.hi);
        return _mm512_set_epi64(hi, lo, hi, lo, hi, lo, hi, lo);
    }
    KORVANE_TARGET_VPCLMUL512 static vec with_register(vec x, std::uint32_t reg) {
        return _mm512_xor_si512(x,
                                _mm512_zextsi128_si512(_mm_cvtsi32_si128(static_cast<int>(reg))));
    }
    // One three-way XOR for both products and the data.
    KORVANE_TARGET_VPCLMUL512 static vec fold_xor(vec x, vec k, vec data) {
        return _mm512_ternarylogic_epi64(_mm512_clmulepi64_epi128(x, k, 0x00),
                                         _mm512_clmulepi64_epi128(x, k, 0x11), data, 0x96);
    }
    // The four 128-bit lanes, each moved to the end of the vector, folded
    // into one.
    KORVANE_TARGET_VPCLMUL512 static __m128i narrow(vec x) {
        return _mm_xor_si128(_mm_xor_si128(fold128(lane<0>(x), pair128(fold_384)),
                                           fold128(lane<1>(x), pair128(fold_256))),
                             _mm_xor_si128(fold128(lane<2>(x), pair128(fold_128)), lane<3>(x)));
    }

  private:
    // Lane `I` of `z`. The zero-masked form avoids the "undefined" source
    // operand of the plain intrinsic, which some compilers report as
    // uninitialized.
    template <int I>
    KORVANE_TARGET_VPCLMUL512 static __m128i lane(vec z) {
        return _mm512_maskz_extracti32x4_epi32(0xF, z, I);
    }
};

// Multipliers that move a block forward by `blocks` vectors of width W.
template <class W>
constexpr fold_constants fold_vectors(unsigned blocks) {
    return fold_by(static_cast<unsigned>(blocks * W::bytes * 8));
}

// Folds the whole 16-byte blocks that remain into `x`, reduces, and runs the
// table path over the last bytes.
KORVANE_TARGET_CLMUL inline std::uint32_t finish128(__m128i x, const unsigned char* p,
                                                    std::size_t n) {
    const __m128i k = pair128(fold_128);
    while (n >= 16) {
        x = width128::fold_xor(x, k, width128::load(p));
        p += 16;
        n -= 16;
    }
    return update_slicing16(reduce128(x), p, n);
}

// The folding routine, once per width and compiled for that width's target.
#define KORVANE_FOLD_TARGET KORVANE_TARGET_CLMUL
#define KORVANE_FOLD_NAME fold_with_pclmul
#include "hash/x86/crc32_fold.h"
#define KORVANE_FOLD_TARGET KORVANE_TARGET_VPCLMUL256
#define KORVANE_FOLD_NAME fold_with_vpclmul256
#include "hash/x86/crc32_fold.h"
#define KORVANE_FOLD_TARGET KORVANE_TARGET_VPCLMUL512
#define KORVANE_FOLD_NAME fold_with_vpclmul512
#include "hash/x86/crc32_fold.h"

}  // namespace

// Shorter inputs than four vectors take one 128-bit accumulator, or the
// tables when not even one block is there.
KORVANE_TARGET_CLMUL std::uint32_t update_pclmul(std::uint32_t reg, const unsigned char* p,
                                                 std::size_t n) {
    if (n < 16) {
        return update_slicing16(reg, p, n);
    }
    if (n < 4 * width128::bytes) {
        return finish128(width128::with_register(width128::load(p), reg), p + 16, n - 16);
    }
    return fold_with_pclmul<width128>(reg, p, n);
}

KORVANE_TARGET_VPCLMUL256 std::uint32_t update_vpclmul256(std::uint32_t reg, const unsigned char* p,
                                                          std::size_t n) {
    if (n < 4 * width256::bytes) {
        return update_pclmul(reg, p, n);
    }
    return fold_with_vpclmul256<width256>(reg, p, n);
}

KORVANE_TARGET_VPCLMUL512 std::uint32_t update_vpclmul512(std::uint32_t reg, const unsigned char* p,
                                                          std::size_t n) {
    if (n < 4 * width512::bytes) {
        return update_pclmul(reg, p, n);
    }
    return fold_with_vpclmul512<width512>(reg, p, n);
}

}  // namespace korvane::crc32::x86
