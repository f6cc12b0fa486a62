// The ways korvane can run the SHA-1, SHA-256 and SHA-512 block functions, and
// the choice among them.
//
// A path only compresses whole blocks (64 bytes for SHA-1 and SHA-256, 128 for
// SHA-512) into the running state words; buffering, padding and the digest are
// shared by all paths in the hashers. Every path gives bit-identical states;
// the portable one is the reference the others are tested against.
//
// The hashers use the fastest path this CPU and OS support, chosen once on
// first use. Tests and benchmarks may force a path per algorithm; forcing is
// process-wide and meant for single-threaded harnesses.
#ifndef KORVANE_LIB_HASH_SHA_PATHS_H
#define KORVANE_LIB_HASH_SHA_PATHS_H

#include <cstddef>
#include <cstdint>

namespace korvane::sha {

enum class algorithm : int { sha1, sha256, sha512 };
inline constexpr int algorithm_count = 3;

enum class path : int {
    portable,  // plain C++, any CPU
    shani,     // x86-64 SHA extensions: SHA-1 and SHA-256
    avx2,      // x86-64 AVX2 message schedule with BMI2 rounds: SHA-512
    avx512,    // the same schedule with AVX-512VL rotates: SHA-512
};
inline constexpr int path_count = 4;

// Compresses `blocks` whole blocks at `data` into `state` (5, 8 or 8 words).
using blocks32_fn = void (*)(std::uint32_t* state, const unsigned char* data, std::size_t blocks);
using blocks64_fn = void (*)(std::uint64_t* state, const unsigned char* data, std::size_t blocks);

// Short lower-case names, for test and benchmark labels.
const char* path_name(path p);
const char* algorithm_name(algorithm a);

// Whether this build, this CPU and the OS allow `p` for `a`.
bool path_supported(algorithm a, path p);

// The path chosen automatically for `a` on this machine.
path best_path(algorithm a);

// The path the hashers of `a` currently use.
path active_path(algorithm a);

// Makes the hashers of `a` use `p`. Returns false (and changes nothing) when
// `p` is not supported for `a` here.
bool force_path(algorithm a, path p);

// Returns the hashers of `a` to the automatic choice.
void reset_path(algorithm a);

// The active path of each algorithm: what the hashers call.
void sha1_blocks(std::uint32_t* state, const unsigned char* data, std::size_t blocks);
void sha256_blocks(std::uint32_t* state, const unsigned char* data, std::size_t blocks);
void sha512_blocks(std::uint64_t* state, const unsigned char* data, std::size_t blocks);

// The block function of path `p`, or the portable one when `p` is not
// supported for that algorithm here (never one that would fault).
blocks32_fn sha1_function(path p);
blocks32_fn sha256_function(path p);
blocks64_fn sha512_function(path p);

// Portable paths, always available.
void sha1_blocks_portable(std::uint32_t* state, const unsigned char* data, std::size_t blocks);
void sha256_blocks_portable(std::uint32_t* state, const unsigned char* data, std::size_t blocks);
void sha512_blocks_portable(std::uint64_t* state, const unsigned char* data, std::size_t blocks);

}  // namespace korvane::sha

#endif
