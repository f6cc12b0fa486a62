// The BLAKE3 hasher, in its default hash mode with the 32-byte digest. It
// takes its pieces like the other hashers: init, any number of updates of
// any size, finalize, then the digest through hash().
#ifndef KORVANE_BLAKE3_H
#define KORVANE_BLAKE3_H

#include <cstdint>

#include <korvane/export.h>
#include <korvane/hasher.h>

namespace korvane::blake3 {
struct tree_access;
}

class KORVANE_API blake3hasher : public hasher {
  public:
    blake3hasher() = default;
    blake3hasher(const blake3hasher&) = default;
    blake3hasher& operator=(const blake3hasher&) = default;
    virtual ~blake3hasher();

    void init() override;
    void update(const unsigned char* data, std::uint32_t length) override;
    void finalize() override;
    const void* hash() const override;
    int hash_size() const override;

  private:
    friend struct korvane::blake3::tree_access;

    // The last node compressed, then the stack joined onto it; the root
    // flag on the topmost compression only `as_root`.
    void close_tree(bool as_root);
    void push(const unsigned char* cv, std::uint64_t total);
    void settle_pending();
    void add_run(const unsigned char* data, std::uint64_t n);
    void fold_run(const unsigned char*& data, std::uint64_t& length);

    // Whole chunks compressed so far. The input's first chunk waits in
    // `held` as bytes until more input shows it is not the only one (then
    // the root); a partial chunk waits there too. The last run of whole
    // chunks waits as its chaining value in `pending` until more input shows
    // it is not the root's only child.
    std::uint64_t chunks = 0;
    std::uint64_t pending_chunks = 0;  // 0: nothing waits
    std::uint32_t held_bytes = 0;
    std::uint32_t depth = 0;  // entries on the stack
    unsigned char held[1024] = {};
    unsigned char pending[32] = {};
    // The chaining values of the complete subtrees still waiting for their
    // right neighbours, largest first: one per set bit of the chunks before
    // the pending run.
    unsigned char stack[54][32] = {};
    unsigned char digest[32] = {};
};

#endif
