// BLAKE3's compression and the ways korvane can run it over many inputs at
// once, and the choice among them.
//
// The hasher (blake3hasher.cpp) builds the tree; a path only compresses
// whole inputs: `count` inputs of `blocks` 64-byte blocks each, `stride`
// bytes apart, each to one 32-byte chaining value. Whole chunks (16 blocks,
// the counter rising by one per input) and parent nodes (one block of two
// chaining values, counter zero) are both such runs, so the wide paths serve
// both. Every path gives bit-identical values; the portable one is the
// reference the others are tested against.
//
// The hasher uses the widest path this CPU and OS support, chosen once on
// first use. Tests and benchmarks may force a path; forcing is process-wide
// and meant for single-threaded harnesses.
#ifndef KORVANE_LIB_HASH_BLAKE3_PATHS_H
#define KORVANE_LIB_HASH_BLAKE3_PATHS_H

#include <array>
#include <cstddef>
#include <cstdint>

namespace korvane::blake3 {

inline constexpr std::size_t block_bytes = 64;
inline constexpr std::size_t chunk_blocks = 16;
inline constexpr std::size_t chunk_bytes = block_bytes * chunk_blocks;
inline constexpr std::size_t cv_bytes = 32;

// Domain flags of a compression.
inline constexpr std::uint32_t chunk_start = 1;
inline constexpr std::uint32_t chunk_end = 2;
inline constexpr std::uint32_t parent = 4;
inline constexpr std::uint32_t root = 8;

inline constexpr std::uint32_t iv[8] = {0x6A09E667, 0xBB67AE85, 0x3C6EF372, 0xA54FF53A,
                                        0x510E527F, 0x9B05688C, 0x1F83D9AB, 0x5BE0CD19};

// The message words each of the 7 rounds takes, in order: the first round
// takes them as they come, every later one permutes the previous order.
inline constexpr auto schedule = [] {
    constexpr int permutation[16] = {2, 6, 3, 10, 7, 0, 4, 13, 1, 11, 12, 5, 9, 14, 15, 8};
    std::array<std::array<std::uint8_t, 16>, 7> s{};
    for (int i = 0; i < 16; ++i) {
        s[0][i] = static_cast<std::uint8_t>(i);
    }
    for (int r = 1; r < 7; ++r) {
        for (int i = 0; i < 16; ++i) {
            s[r][i] = s[r - 1][permutation[i]];
        }
    }
    return s;
}();

// A run of inputs for a path.
struct many_job {
    const unsigned char* data;  // the first input
    std::size_t count;          // inputs
    std::size_t stride;         // bytes from one input to the next
    std::size_t blocks;         // 64-byte blocks per input, at least one
    std::uint64_t counter;      // the first input's counter
    bool increment;             // input i takes counter + i, else all take counter
    std::uint32_t flags;        // on every block
    std::uint32_t first;        // added on each input's first block
    std::uint32_t last;         // added on each input's last block
};

// Writes the chaining value of each input, 32 little-endian bytes apiece,
// to `out` (count * 32 bytes, not overlapping the inputs).
using many_fn = void (*)(const many_job& job, unsigned char* out);

enum class path : int {
    portable,  // plain C++, one input at a time
    sse41,     // x86-64 SSE4.1: 4 inputs at once
    avx2,      // x86-64 AVX2: 8 inputs at once
    avx512,    // x86-64 AVX-512: 16 inputs at once
};
inline constexpr int path_count = 4;

const char* path_name(path p);
bool path_supported(path p);
path best_path();
path active_path();
// Returns false (and changes nothing) when `p` is not supported here.
bool force_path(path p);
void reset_path();
// The function of `p`, or the portable one when `p` is not supported here.
many_fn function(path p);

// The active path.
void hash_many(const many_job& job, unsigned char* out);
void hash_many_portable(const many_job& job, unsigned char* out);

// One compression, keeping the first half of the output: `cv` in, the new
// chaining value (or the first 32 bytes of a root's output) out. `block`
// holds 64 bytes; `length` says how many of them are message.
void compress(std::uint32_t cv[8], const unsigned char* block, std::uint32_t length,
              std::uint64_t counter, std::uint32_t flags);

}  // namespace korvane::blake3

#endif
