#include "hash/blake3_range.h"

#include <bit>
#include <cstring>

#include "hash/blake3_paths.h"
#include "hash/blake3_tree.h"

namespace korvane::blake3 {

void range::start(std::uint64_t first) {
    depth = 0;
    next = first;
    held_bytes = 0;
}

// A subtree joins on the right. Complete pairs below it merge first: more
// input has now shown that neither of them is the root.
void range::push(const unsigned char* cv, std::uint64_t size) {
    while (depth >= 2 && stack[depth - 1].size == stack[depth - 2].size) {
        const std::uint64_t pair = 2 * stack[depth - 1].size;
        if ((next - pair) % pair != 0) {
            break;  // the left one's sibling lies before this run
        }
        unsigned char both[2 * cv_bytes];
        std::memcpy(both, stack[depth - 2].cv, cv_bytes);
        std::memcpy(both + cv_bytes, stack[depth - 1].cv, cv_bytes);
        parent_of(both, stack[depth - 2].cv, 0);
        stack[depth - 2].size = pair;
        --depth;
    }
    std::memcpy(stack[depth].cv, cv, cv_bytes);
    stack[depth].size = size;
    ++depth;
    next += size;
}

// Whole chunks, a complete subtree at a time: the largest power of two up to
// the widest run whose first chunk number it divides.
void range::fold_whole(const unsigned char*& data, std::uint64_t& length) {
    while (length >= chunk_bytes) {
        std::uint64_t n = std::bit_floor(length / chunk_bytes);
        n = n < widest_subtree ? n : widest_subtree;
        while (next % n != 0) {
            n /= 2;
        }
        unsigned char cv[cv_bytes];
        subtree(data, static_cast<std::size_t>(n), next, cv);
        push(cv, n);
        data += n * chunk_bytes;
        length -= n * chunk_bytes;
    }
}

void range::fold_held() {
    const unsigned char* from = held;
    std::uint64_t length = chunk_bytes;
    fold_whole(from, length);
    held_bytes = 0;
}

void range::update(const unsigned char* data, std::uint32_t length) {
    if (length == 0) {
        return;  // data may be null
    }
    std::uint64_t left = length;
    if (held_bytes != 0) {
        const std::uint64_t room = chunk_bytes - held_bytes;
        const auto take = static_cast<std::size_t>(left < room ? left : room);
        std::memcpy(held + held_bytes, data, take);
        held_bytes += static_cast<std::uint32_t>(take);
        data += take;
        left -= take;
        if (held_bytes < chunk_bytes) {
            return;
        }
        fold_held();
    }
    fold_whole(data, left);
    std::memcpy(held, data, static_cast<std::size_t>(left));
    held_bytes = static_cast<std::uint32_t>(left);
}

void range::finalize() {
    if (held_bytes == 0) {
        return;
    }
    // The input's last chunk, cut short; never the root, as the input is
    // longer than one chunk.
    std::uint32_t cv[8];
    std::memcpy(cv, iv, sizeof cv);
    std::uint32_t flags = chunk_start;
    const unsigned char* from = held;
    std::uint32_t left = held_bytes;
    while (left > block_bytes) {
        compress(cv, from, block_bytes, next, flags);
        flags = 0;
        from += block_bytes;
        left -= block_bytes;
    }
    unsigned char block[block_bytes] = {};
    std::memcpy(block, from, left);
    compress(cv, block, left, next, flags | chunk_end);
    unsigned char bytes[cv_bytes];
    store_cv(bytes, cv);
    push(bytes, 1);
    held_bytes = 0;
    std::memset(held, 0, sizeof held);
}

void range::join(const range& back) {
    for (std::uint32_t i = 0; i < back.depth; ++i) {
        push(back.stack[i].cv, back.stack[i].size);
    }
    // Every subtree but the last is complete and its left neighbour larger:
    // folding from the right builds the tree, the last fold its root.
    unsigned char cv[cv_bytes];
    std::memcpy(cv, stack[depth - 1].cv, cv_bytes);
    for (std::uint32_t i = depth - 1; i-- > 0;) {
        unsigned char both[2 * cv_bytes];
        std::memcpy(both, stack[i].cv, cv_bytes);
        std::memcpy(both + cv_bytes, cv, cv_bytes);
        parent_of(both, i == 0 ? digest : cv, i == 0 ? root : 0);
    }
    std::memset(stack, 0, sizeof stack);
    depth = 0;
}

}  // namespace korvane::blake3
