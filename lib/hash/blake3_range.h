// A run of BLAKE3 chunks hashed apart from the rest of the input: the
// chaining values of the complete subtrees it covers, numbered from the
// chunk it starts at. Two runs that meet, the first from chunk 0 and the
// second to the end of the input, join into the digest of the whole, so
// that two threads can hash the halves of one large file.
#ifndef KORVANE_LIB_HASH_BLAKE3_RANGE_H
#define KORVANE_LIB_HASH_BLAKE3_RANGE_H

#include <korvane/hasher.h>

#include <cstdint>

namespace korvane::blake3 {

class range final : public hasher {
  public:
    // The run starts at chunk `first`; init() starts it at chunk 0.
    void start(std::uint64_t first);
    void init() override { start(0); }
    // Takes any pieces; a run that ends before the input's end must be whole
    // chunks.
    void update(const unsigned char* data, std::uint32_t length) override;
    // The bytes of a last partial chunk become the run's last chunk; the run
    // is then complete.
    void finalize() override;
    // After join(): the digest of the whole input.
    const void* hash() const override { return digest; }
    int hash_size() const override { return 32; }

    // Makes this run (from chunk 0, finalized) and `back` (starting where
    // this one ends, finalized, ending the input) the whole input, more than
    // one chunk long, and computes its digest.
    void join(const range& back);

    std::uint64_t next_chunk() const { return next; }

  private:
    void push(const unsigned char* cv, std::uint64_t size);
    void fold_whole(const unsigned char*& data, std::uint64_t& length);
    void fold_held();

    struct entry {
        unsigned char cv[32];
        std::uint64_t size;  // chunks
    };
    // Complete subtrees, left to right. A pair merges only when another
    // subtree follows it, so the last node standing is still free to be
    // the root.
    entry stack[65] = {};
    std::uint32_t depth = 0;
    std::uint64_t next = 0;  // the chunk after the last one taken
    std::uint32_t held_bytes = 0;
    unsigned char held[1024] = {};
    unsigned char digest[32] = {};
};

}  // namespace korvane::blake3

#endif
