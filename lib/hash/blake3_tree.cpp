#include "hash/blake3_tree.h"

#include <cstring>

#include "hash/blake3_paths.h"
#include "hash/load.h"

namespace korvane::blake3 {

using korvane::hash_detail::store_le32;

void store_cv(unsigned char* bytes, const std::uint32_t* words) {
    for (int i = 0; i < 8; ++i) {
        store_le32(bytes + 4 * i, words[i]);
    }
}

void parent_of(const unsigned char* pair, unsigned char* out, std::uint32_t flags) {
    std::uint32_t cv[8];
    std::memcpy(cv, iv, sizeof cv);
    compress(cv, pair, block_bytes, 0, parent | flags);
    store_cv(out, cv);
}

void subtree(const unsigned char* data, std::size_t n, std::uint64_t counter, unsigned char* out) {
    unsigned char a[widest_subtree * cv_bytes];
    unsigned char b[widest_subtree * cv_bytes / 2];
    hash_many({data, n, chunk_bytes, chunk_blocks, counter, true, 0, chunk_start, chunk_end},
              n == 1 ? out : a);
    unsigned char* from = a;
    unsigned char* to = b;
    for (; n > 1; n /= 2) {
        unsigned char* dest = n == 2 ? out : to;
        hash_many({from, n / 2, block_bytes, 1, 0, false, parent, 0, 0}, dest);
        unsigned char* swap = from;
        from = to;
        to = swap;
    }
}

}  // namespace korvane::blake3
