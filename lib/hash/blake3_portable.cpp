// BLAKE3's compression in plain C++, and the portable path: one input at a
// time, one block at a time.

#include <bit>
#include <cstddef>
#include <cstdint>

#include "hash/blake3_paths.h"
#include "hash/load.h"

namespace korvane::blake3 {
namespace {

using hash_detail::load_le32;
using hash_detail::store_le32;

inline void g(std::uint32_t* v, int a, int b, int c, int d, std::uint32_t x, std::uint32_t y) {
    v[a] = v[a] + v[b] + x;
    v[d] = std::rotr(v[d] ^ v[a], 16);
    v[c] = v[c] + v[d];
    v[b] = std::rotr(v[b] ^ v[c], 12);
    v[a] = v[a] + v[b] + y;
    v[d] = std::rotr(v[d] ^ v[a], 8);
    v[c] = v[c] + v[d];
    v[b] = std::rotr(v[b] ^ v[c], 7);
}

inline void round(std::uint32_t* v, const std::uint32_t* m, const std::uint8_t* s) {
    g(v, 0, 4, 8, 12, m[s[0]], m[s[1]]);
    g(v, 1, 5, 9, 13, m[s[2]], m[s[3]]);
    g(v, 2, 6, 10, 14, m[s[4]], m[s[5]]);
    g(v, 3, 7, 11, 15, m[s[6]], m[s[7]]);
    g(v, 0, 5, 10, 15, m[s[8]], m[s[9]]);
    g(v, 1, 6, 11, 12, m[s[10]], m[s[11]]);
    g(v, 2, 7, 8, 13, m[s[12]], m[s[13]]);
    g(v, 3, 4, 9, 14, m[s[14]], m[s[15]]);
}

}  // namespace

void compress(std::uint32_t cv[8], const unsigned char* block, std::uint32_t length,
              std::uint64_t counter, std::uint32_t flags) {
    std::uint32_t m[16];
    for (int i = 0; i < 16; ++i) {
        m[i] = load_le32(block + 4 * i);
    }
    std::uint32_t v[16] = {cv[0],
                           cv[1],
                           cv[2],
                           cv[3],
                           cv[4],
                           cv[5],
                           cv[6],
                           cv[7],
                           iv[0],
                           iv[1],
                           iv[2],
                           iv[3],
                           static_cast<std::uint32_t>(counter),
                           static_cast<std::uint32_t>(counter >> 32),
                           length,
                           flags};
    for (const auto& s : schedule) {
        round(v, m, s.data());
    }
    for (int i = 0; i < 8; ++i) {
        cv[i] = v[i] ^ v[i + 8];
    }
}

void hash_many_portable(const many_job& job, unsigned char* out) {
    for (std::size_t i = 0; i < job.count; ++i) {
        const unsigned char* input = job.data + i * job.stride;
        const std::uint64_t counter = job.counter + (job.increment ? i : 0);
        std::uint32_t cv[8];
        for (int k = 0; k < 8; ++k) {
            cv[k] = iv[k];
        }
        for (std::size_t b = 0; b < job.blocks; ++b) {
            std::uint32_t flags = job.flags;
            flags |= b == 0 ? job.first : 0;
            flags |= b + 1 == job.blocks ? job.last : 0;
            compress(cv, input + b * block_bytes, block_bytes, counter, flags);
        }
        for (int k = 0; k < 8; ++k) {
            store_le32(out + i * cv_bytes + 4 * k, cv[k]);
        }
    }
}

}  // namespace korvane::blake3
