// The tree steps the BLAKE3 hasher and a run of chunks hashed apart
// (blake3_range.h) share: parents, and complete subtrees through the wide
// path.
#ifndef KORVANE_LIB_HASH_BLAKE3_TREE_H
#define KORVANE_LIB_HASH_BLAKE3_TREE_H

#include <cstddef>
#include <cstdint>

namespace korvane::blake3 {

// Chunks in the largest subtree compressed together: 64 KiB of input.
inline constexpr std::size_t widest_subtree = 64;

void store_cv(unsigned char* bytes, const std::uint32_t* words);

// The parent of two chaining values (64 bytes, left then right) to `out`,
// which may be either half of `pair`.
void parent_of(const unsigned char* pair, unsigned char* out, std::uint32_t flags);

// The chaining value of the complete subtree of `n` (a power of two up to
// widest_subtree) whole chunks at `data`, the first one numbered `counter`.
void subtree(const unsigned char* data, std::size_t n, std::uint64_t counter, unsigned char* out);

}  // namespace korvane::blake3

#endif
