// One BLAKE3 input hashed by two threads at once. The tree lets any
// subtree be hashed apart from the rest and joined by a parent node: a
// hasher started at the subtree's first chunk and closed without the root
// flag gives the subtree's chaining value.
//
// The plan puts the work of one input in three ranges, one after the other:
// the front and the tail for one thread (each a subtree of its own), the
// back for the other. The root's left child holds the largest power of two
// of chunks that leaves at least one byte for its right child. When the
// right child holds more than a third of the chunks, the left child is the
// front and the right child the back, and there is no tail; otherwise the
// left child's halves are front and back and the right child is the tail.
// Either way neither thread has more than two thirds of the work.
#ifndef KORVANE_LIB_HASH_BLAKE3_TREE_H
#define KORVANE_LIB_HASH_BLAKE3_TREE_H

#include <cstdint>

#include <korvane/blake3.h>

namespace korvane::blake3 {

struct tree_access {
    // Readies `h` for the subtree that starts at chunk `first_chunk`.
    static void start_at(blake3hasher& h, std::uint64_t first_chunk);
    // The chaining value (32 bytes) of what `h` was fed, as a child node.
    static void finish_subtree(blake3hasher& h, unsigned char* cv);
};

// Byte offsets: the front is [0, middle), the back [middle, back_end), the
// tail [back_end, size), empty when back_end is the size.
struct split_plan {
    std::uint64_t middle;
    std::uint64_t back_end;
};

// The plan for `size` bytes, more than one chunk.
split_plan plan_split(std::uint64_t size);

// The parent of two chaining values (32 bytes each), the root or a child.
void join(const unsigned char* left, const unsigned char* right, bool as_root, unsigned char* out);

// The digest from the ranges' chaining values; `tail` null when the plan
// has none.
void join_split(const unsigned char* front, const unsigned char* back, const unsigned char* tail,
                unsigned char* digest);

}  // namespace korvane::blake3

#endif
