// MD5 (RFC 1321) with the reference code's interface and structure.
//
// The block transform is written for the length of its dependency chain: each
// of the 64 steps must wait for the previous step's result `b`, so everything
// that does not depend on `b` (the message word plus the constant added to `a`,
// and the parts of the round function built from `c` and `d` alone) is computed
// first, leaving as few operations as possible between one `b` and the next:
//   F: d ^ (b & (c ^ d))          c ^ d ready early
//   G: (c & ~d) + (b & d)         the two terms never share a bit, so + is |,
//                                 and c & ~d is ready early
//   H: b ^ (c ^ d)                c ^ d ready early
//   I: c ^ (b | ~d)               ~d ready early
// The message words of a block are loaded once, and the state stays in
// registers across consecutive blocks.

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include <korvane/hasher.h>

#include "hash/load.h"
#include "hash/md5_transform.h"

namespace {

using korvane::hash_detail::load_le32;
using std::uint32_t;

// Compilers like to reassociate a + mk + f into (f + a) + mk, which puts an
// extra addition on the chain. Hiding the early sum behind an empty asm keeps
// it computed ahead of the round function.
inline uint32_t early(uint32_t v) {
#if defined(__GNUC__)
    __asm__("" : "+r"(v));
#endif
    return v;
}

template <int S>
inline uint32_t step_f(uint32_t a, uint32_t b, uint32_t c, uint32_t d, uint32_t mk) {
    a = early(a + mk);
    a += d ^ (b & (c ^ d));
    return std::rotl(a, S) + b;
}

template <int S>
inline uint32_t step_g(uint32_t a, uint32_t b, uint32_t c, uint32_t d, uint32_t mk) {
    a = early(a + mk + (c & ~d));
    a += b & d;
    return std::rotl(a, S) + b;
}

template <int S>
inline uint32_t step_h(uint32_t a, uint32_t b, uint32_t c, uint32_t d, uint32_t mk) {
    a = early(a + mk);
    a += b ^ (c ^ d);
    return std::rotl(a, S) + b;
}

template <int S>
inline uint32_t step_i(uint32_t a, uint32_t b, uint32_t c, uint32_t d, uint32_t mk) {
    a = early(a + mk);
    a += c ^ (b | ~d);
    return std::rotl(a, S) + b;
}

}  // namespace

namespace korvane::hash_detail {

void md5_blocks(uint32_t state[4], const unsigned char* p, std::size_t blocks) {
    uint32_t a = state[0];
    uint32_t b = state[1];
    uint32_t c = state[2];
    uint32_t d = state[3];
    for (; blocks != 0; --blocks, p += 64) {
        uint32_t x[16];
        for (int i = 0; i < 16; ++i) {
            x[i] = load_le32(p + 4 * i);
        }
        const uint32_t aa = a, bb = b, cc = c, dd = d;

        // Round 1
        a = step_f<7>(a, b, c, d, x[0] + 0xd76aa478);
        d = step_f<12>(d, a, b, c, x[1] + 0xe8c7b756);
        c = step_f<17>(c, d, a, b, x[2] + 0x242070db);
        b = step_f<22>(b, c, d, a, x[3] + 0xc1bdceee);
        a = step_f<7>(a, b, c, d, x[4] + 0xf57c0faf);
        d = step_f<12>(d, a, b, c, x[5] + 0x4787c62a);
        c = step_f<17>(c, d, a, b, x[6] + 0xa8304613);
        b = step_f<22>(b, c, d, a, x[7] + 0xfd469501);
        a = step_f<7>(a, b, c, d, x[8] + 0x698098d8);
        d = step_f<12>(d, a, b, c, x[9] + 0x8b44f7af);
        c = step_f<17>(c, d, a, b, x[10] + 0xffff5bb1);
        b = step_f<22>(b, c, d, a, x[11] + 0x895cd7be);
        a = step_f<7>(a, b, c, d, x[12] + 0x6b901122);
        d = step_f<12>(d, a, b, c, x[13] + 0xfd987193);
        c = step_f<17>(c, d, a, b, x[14] + 0xa679438e);
        b = step_f<22>(b, c, d, a, x[15] + 0x49b40821);

        // Round 2
        a = step_g<5>(a, b, c, d, x[1] + 0xf61e2562);
        d = step_g<9>(d, a, b, c, x[6] + 0xc040b340);
        c = step_g<14>(c, d, a, b, x[11] + 0x265e5a51);
        b = step_g<20>(b, c, d, a, x[0] + 0xe9b6c7aa);
        a = step_g<5>(a, b, c, d, x[5] + 0xd62f105d);
        d = step_g<9>(d, a, b, c, x[10] + 0x02441453);
        c = step_g<14>(c, d, a, b, x[15] + 0xd8a1e681);
        b = step_g<20>(b, c, d, a, x[4] + 0xe7d3fbc8);
        a = step_g<5>(a, b, c, d, x[9] + 0x21e1cde6);
        d = step_g<9>(d, a, b, c, x[14] + 0xc33707d6);
        c = step_g<14>(c, d, a, b, x[3] + 0xf4d50d87);
        b = step_g<20>(b, c, d, a, x[8] + 0x455a14ed);
        a = step_g<5>(a, b, c, d, x[13] + 0xa9e3e905);
        d = step_g<9>(d, a, b, c, x[2] + 0xfcefa3f8);
        c = step_g<14>(c, d, a, b, x[7] + 0x676f02d9);
        b = step_g<20>(b, c, d, a, x[12] + 0x8d2a4c8a);

        // Round 3
        a = step_h<4>(a, b, c, d, x[5] + 0xfffa3942);
        d = step_h<11>(d, a, b, c, x[8] + 0x8771f681);
        c = step_h<16>(c, d, a, b, x[11] + 0x6d9d6122);
        b = step_h<23>(b, c, d, a, x[14] + 0xfde5380c);
        a = step_h<4>(a, b, c, d, x[1] + 0xa4beea44);
        d = step_h<11>(d, a, b, c, x[4] + 0x4bdecfa9);
        c = step_h<16>(c, d, a, b, x[7] + 0xf6bb4b60);
        b = step_h<23>(b, c, d, a, x[10] + 0xbebfbc70);
        a = step_h<4>(a, b, c, d, x[13] + 0x289b7ec6);
        d = step_h<11>(d, a, b, c, x[0] + 0xeaa127fa);
        c = step_h<16>(c, d, a, b, x[3] + 0xd4ef3085);
        b = step_h<23>(b, c, d, a, x[6] + 0x04881d05);
        a = step_h<4>(a, b, c, d, x[9] + 0xd9d4d039);
        d = step_h<11>(d, a, b, c, x[12] + 0xe6db99e5);
        c = step_h<16>(c, d, a, b, x[15] + 0x1fa27cf8);
        b = step_h<23>(b, c, d, a, x[2] + 0xc4ac5665);

        // Round 4
        a = step_i<6>(a, b, c, d, x[0] + 0xf4292244);
        d = step_i<10>(d, a, b, c, x[7] + 0x432aff97);
        c = step_i<15>(c, d, a, b, x[14] + 0xab9423a7);
        b = step_i<21>(b, c, d, a, x[5] + 0xfc93a039);
        a = step_i<6>(a, b, c, d, x[12] + 0x655b59c3);
        d = step_i<10>(d, a, b, c, x[3] + 0x8f0ccc92);
        c = step_i<15>(c, d, a, b, x[10] + 0xffeff47d);
        b = step_i<21>(b, c, d, a, x[1] + 0x85845dd1);
        a = step_i<6>(a, b, c, d, x[8] + 0x6fa87e4f);
        d = step_i<10>(d, a, b, c, x[15] + 0xfe2ce6e0);
        c = step_i<15>(c, d, a, b, x[6] + 0xa3014314);
        b = step_i<21>(b, c, d, a, x[13] + 0x4e0811a1);
        a = step_i<6>(a, b, c, d, x[4] + 0xf7537e82);
        d = step_i<10>(d, a, b, c, x[11] + 0xbd3af235);
        c = step_i<15>(c, d, a, b, x[2] + 0x2ad7d2bb);
        b = step_i<21>(b, c, d, a, x[9] + 0xeb86d391);

        a += aa;
        b += bb;
        c += cc;
        d += dd;
    }
    state[0] = a;
    state[1] = b;
    state[2] = c;
    state[3] = d;
}

}  // namespace korvane::hash_detail

namespace {

using korvane::hash_detail::md5_blocks;

void encode_le32(unsigned char* out, const uint32_t* in, int words) {
    for (int i = 0; i < words; ++i) {
        out[4 * i] = static_cast<unsigned char>(in[i]);
        out[4 * i + 1] = static_cast<unsigned char>(in[i] >> 8);
        out[4 * i + 2] = static_cast<unsigned char>(in[i] >> 16);
        out[4 * i + 3] = static_cast<unsigned char>(in[i] >> 24);
    }
}

const unsigned char padding[64] = {0x80};

}  // namespace

extern "C" {

void MD5Init(md5_context* context) {
    context->state[0] = 0x67452301u;
    context->state[1] = 0xefcdab89u;
    context->state[2] = 0x98badcfeu;
    context->state[3] = 0x10325476u;
    context->count[0] = 0;
    context->count[1] = 0;
}

void MD5Update(md5_context* context, const unsigned char* input, std::uint32_t length) {
    if (length == 0) {
        return;  // `input` may be anything, even null
    }
    std::uint32_t index = (context->count[0] >> 3) & 0x3F;
    const std::uint32_t bits = length << 3;
    context->count[0] += bits;
    if (context->count[0] < bits) {
        ++context->count[1];
    }
    context->count[1] += length >> 29;

    const std::uint32_t part = 64 - index;
    std::uint32_t i = 0;
    if (length >= part) {
        std::memcpy(&context->buffer[index], input, part);
        md5_blocks(context->state, context->buffer, 1);
        const std::uint32_t blocks = (length - part) / 64;
        md5_blocks(context->state, input + part, blocks);
        i = part + blocks * 64;
        index = 0;
    }
    if (length > i) {
        std::memcpy(&context->buffer[index], input + i, length - i);
    }
}

void MD5Final(unsigned char digest[16], md5_context* context) {
    unsigned char bits[8];
    encode_le32(bits, context->count, 2);
    const std::uint32_t index = (context->count[0] >> 3) & 0x3F;
    const std::uint32_t pad = index < 56 ? 56 - index : 120 - index;
    MD5Update(context, padding, pad);
    MD5Update(context, bits, 8);
    encode_le32(digest, context->state, 4);
    std::memset(context, 0, sizeof *context);
}

}  // extern "C"
