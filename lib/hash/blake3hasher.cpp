// The BLAKE3 hasher: the tree over the chunks, built from whole subtrees.
//
// Input arrives in pieces of any size. Whole chunks are compressed straight
// from the caller's memory, a power-of-two run at a time whose first chunk
// number is a multiple of its length: such a run is a complete subtree, so
// its chunks and then its parent levels go through the wide path together
// and only the subtree's one chaining value joins the stack. Only the end
// of the input shows which node is the root, whose compression takes its
// own flag: so the last run's chaining value waits in `pending` before it
// joins the stack, and the input's first chunk (the root when it is the
// only one) waits as bytes in `held`, as does a partial chunk.

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include <korvane/blake3.h>

#include "hash/blake3_paths.h"
#include "hash/blake3_tree.h"
#include "hash/load.h"

namespace {

namespace b3 = korvane::blake3;
using korvane::hash_detail::store_le32;

// Chunks in the largest run compressed together: 256 KiB of input, the
// pieces the reader hands on.
constexpr std::size_t max_run = 256;

void store_cv(unsigned char* bytes, const std::uint32_t* words) {
    for (int i = 0; i < 8; ++i) {
        store_le32(bytes + 4 * i, words[i]);
    }
}

// The parent of two chaining values (64 bytes, left then right).
void parent_of(const unsigned char* pair, unsigned char* out, std::uint32_t flags) {
    std::uint32_t cv[8];
    std::memcpy(cv, b3::iv, sizeof cv);
    b3::compress(cv, pair, b3::block_bytes, 0, b3::parent | flags);
    store_cv(out, cv);
}

// The chaining value of the complete subtree of `n` (a power of two up to
// max_run) whole chunks at `data`, the first one numbered `counter`.
void subtree(const unsigned char* data, std::size_t n, std::uint64_t counter, unsigned char* out) {
    unsigned char a[max_run * b3::cv_bytes];
    unsigned char b[max_run * b3::cv_bytes / 2];
    b3::hash_many({data, n, b3::chunk_bytes, b3::chunk_blocks, counter, true, 0, b3::chunk_start,
                   b3::chunk_end},
                  n == 1 ? out : a);
    unsigned char* from = a;
    unsigned char* to = b;
    for (; n > 1; n /= 2) {
        unsigned char* dest = n == 2 ? out : to;
        b3::hash_many({from, n / 2, b3::block_bytes, 1, 0, false, b3::parent, 0, 0}, dest);
        unsigned char* swap = from;
        from = to;
        to = swap;
    }
}

// The last node's input: the chaining value it starts from and its last
// block, compressed with the root flag or, below a parent, without it.
struct node {
    std::uint32_t cv[8];
    unsigned char block[b3::block_bytes];
    std::uint32_t length;
    std::uint64_t counter;
    std::uint32_t flags;
};

// The last chunk (`length` bytes, at most one chunk, perhaps none): all its
// blocks but the last compressed, the last one left to the caller.
node last_chunk(const unsigned char* data, std::size_t length, std::uint64_t counter) {
    node n{};
    std::memcpy(n.cv, b3::iv, sizeof n.cv);
    n.counter = counter;
    n.flags = b3::chunk_start;
    while (length > b3::block_bytes) {
        b3::compress(n.cv, data, b3::block_bytes, counter, n.flags);
        n.flags = 0;
        data += b3::block_bytes;
        length -= b3::block_bytes;
    }
    std::memcpy(n.block, data, length);
    n.length = static_cast<std::uint32_t>(length);
    n.flags |= b3::chunk_end;
    return n;
}

void finish(node& n, std::uint32_t extra) {
    b3::compress(n.cv, n.block, n.length, n.counter, n.flags | extra);
}

}  // namespace

blake3hasher::~blake3hasher() = default;

void blake3hasher::init() {
    chunks = 0;
    held_bytes = 0;
    depth = 0;
    pending_chunks = 0;
}

// Adds the chaining value of a subtree that brings the chunk count to
// `total` (shifted right by the subtree's height): every complete pair on
// the stack merges at once, which is safe because more input follows.
void blake3hasher::push(const unsigned char* cv, std::uint64_t total) {
    unsigned char pair[b3::block_bytes];
    std::memcpy(pair + b3::cv_bytes, cv, b3::cv_bytes);
    while ((total & 1) == 0 && depth > 0) {
        std::memcpy(pair, stack[--depth], b3::cv_bytes);
        parent_of(pair, pair + b3::cv_bytes, 0);
        total >>= 1;
    }
    std::memcpy(stack[depth++], pair + b3::cv_bytes, b3::cv_bytes);
}

// Pushes the run that waits: more input has come after it.
void blake3hasher::settle_pending() {
    if (pending_chunks != 0) {
        push(pending, chunks >> std::countr_zero(pending_chunks));
        pending_chunks = 0;
    }
}

// Compresses a run of `n` whole chunks, a complete subtree; its chaining
// value waits until more input shows which node is the root.
void blake3hasher::add_run(const unsigned char* data, std::uint64_t n) {
    settle_pending();
    subtree(data, static_cast<std::size_t>(n), chunks, pending);
    chunks += n;
    pending_chunks = n;
}

// Compresses the whole chunks of `data`. The input's first chunk alone
// waits as bytes: a lone chunk is the root and compressed as such.
void blake3hasher::fold_run(const unsigned char*& data, std::uint64_t& length) {
    for (;;) {
        const std::uint64_t whole = (chunks == 0 ? length - 1 : length) / b3::chunk_bytes;
        if (length == 0 || whole == 0) {
            return;
        }
        std::uint64_t n = std::min<std::uint64_t>(std::bit_floor(whole), max_run);
        while (chunks % n != 0) {
            n /= 2;
        }
        add_run(data, n);
        data += n * b3::chunk_bytes;
        length -= n * b3::chunk_bytes;
    }
}

void blake3hasher::update(const unsigned char* data, std::uint32_t length) {
    if (length == 0) {
        return;  // data may be null
    }
    settle_pending();
    std::uint64_t left = length;
    if (held_bytes != 0) {
        const std::uint64_t room = b3::chunk_bytes - held_bytes;
        const std::size_t take = static_cast<std::size_t>(left < room ? left : room);
        std::memcpy(held + held_bytes, data, take);
        held_bytes += static_cast<std::uint32_t>(take);
        data += take;
        left -= take;
        if (held_bytes < b3::chunk_bytes || (left == 0 && chunks == 0)) {
            return;
        }
        add_run(held, 1);
        held_bytes = 0;
    }
    fold_run(data, left);
    std::memcpy(held, data, static_cast<std::size_t>(left));
    held_bytes = static_cast<std::uint32_t>(left);
}

// The rightmost node: the chunk held (the root itself when it is the only
// one), or the run that waits, which is never the whole input of a root.
void blake3hasher::close_tree(bool as_root) {
    unsigned char pair[b3::block_bytes];
    if (held_bytes != 0 || pending_chunks == 0) {
        settle_pending();
        node last = last_chunk(held, held_bytes, chunks);
        finish(last, depth == 0 && as_root ? b3::root : 0);
        store_cv(pair + b3::cv_bytes, last.cv);
    } else {
        std::memcpy(pair + b3::cv_bytes, pending, b3::cv_bytes);
    }
    while (depth > 0) {
        --depth;
        std::memcpy(pair, stack[depth], b3::cv_bytes);
        parent_of(pair, pair + b3::cv_bytes, depth == 0 && as_root ? b3::root : 0);
    }
    std::memcpy(digest, pair + b3::cv_bytes, sizeof digest);
    // Nothing of the message stays behind in the object.
    std::memset(held, 0, sizeof held);
    std::memset(stack, 0, sizeof stack);
    std::memset(pending, 0, sizeof pending);
    init();
}

void blake3hasher::finalize() {
    close_tree(true);
}

const void* blake3hasher::hash() const {
    return digest;
}

int blake3hasher::hash_size() const {
    return 32;
}

// ---- The split of one input over two threads ----

namespace korvane::blake3 {

void tree_access::start_at(blake3hasher& h, std::uint64_t first_chunk) {
    h.init();
    h.chunks = first_chunk;
}

void tree_access::finish_subtree(blake3hasher& h, unsigned char* cv) {
    h.close_tree(false);
    std::memcpy(cv, h.digest, cv_bytes);
}

void join(const unsigned char* left, const unsigned char* right, bool as_root, unsigned char* out) {
    unsigned char pair[block_bytes];
    std::memcpy(pair, left, cv_bytes);
    std::memcpy(pair + cv_bytes, right, cv_bytes);
    parent_of(pair, out, as_root ? root : 0);
}

split_plan plan_split(std::uint64_t size) {
    const std::uint64_t total = (size + chunk_bytes - 1) / chunk_bytes;
    const std::uint64_t left = std::bit_floor(total - 1);  // the root's left child
    const std::uint64_t right = total - left;
    if (right > left / 2) {
        return {left * chunk_bytes, size};  // the children
    }
    return {left / 2 * chunk_bytes, left * chunk_bytes};  // the left child's halves
}

void join_split(const unsigned char* front, const unsigned char* back, const unsigned char* tail,
                unsigned char* digest) {
    if (tail == nullptr) {
        join(front, back, true, digest);
        return;
    }
    unsigned char left[cv_bytes];
    join(front, back, false, left);
    join(left, tail, true, digest);
}

}  // namespace korvane::blake3
