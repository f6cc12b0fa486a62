// The ways korvane can compute CRC-32, and the choice among them.
//
// Every path continues a running register (the value `crc::crc_register` holds
// between init and finalize: pre-inverted, not yet complemented) over `length`
// bytes and returns the new register. All paths give bit-identical results; the
// byte/word reference path is the one the others are tested against.
//
// `crc::update` uses the fastest path this CPU and OS support, chosen once on
// first use. Tests and benchmarks may force a path; forcing is process-wide and
// meant for single-threaded harnesses.
#ifndef KORVANE_LIB_HASH_CRC32_PATHS_H
#define KORVANE_LIB_HASH_CRC32_PATHS_H

#include <cstddef>
#include <cstdint>

namespace korvane::crc32 {

enum class path : int {
    reference,   // one table, byte at a time, four-byte word steps when aligned
    slicing16,   // sixteen tables, sixteen bytes per step; any CPU
    pclmul,      // x86-64 carry-less multiply, 128-bit folding
    vpclmul256,  // x86-64 VPCLMULQDQ on 256-bit registers (AVX2)
    vpclmul512,  // x86-64 VPCLMULQDQ on 512-bit registers (AVX-512)
};

inline constexpr int path_count = 5;

using update_fn = std::uint32_t (*)(std::uint32_t reg, const unsigned char* data,
                                    std::size_t length);

// Short lower-case name of a path, for test and benchmark labels.
const char* path_name(path p);

// Whether this build, this CPU and the OS's saved register state allow `p`.
bool path_supported(path p);

// The path chosen automatically for this machine.
path best_path();

// The path `crc::update` currently uses.
path active_path();

// Makes `crc::update` use `p`. Returns false (and changes nothing) when `p` is
// not supported here.
bool force_path(path p);

// Returns `crc::update` to the automatic choice.
void reset_path();

// Runs `p` directly. `p` must be supported.
std::uint32_t update_with(path p, std::uint32_t reg, const unsigned char* data, std::size_t length);

// The function behind `crc::update`: the active path.
std::uint32_t update(std::uint32_t reg, const unsigned char* data, std::size_t length);

// Portable paths, always available.
std::uint32_t update_reference(std::uint32_t reg, const unsigned char* data, std::size_t length);
std::uint32_t update_slicing16(std::uint32_t reg, const unsigned char* data, std::size_t length);

// The CRC-32 of two pieces one after the other, from the CRC-32 of each
// (finished values, as crc::hash gives them) and the length of the second:
// lets two threads hash the two halves of one file.
std::uint32_t combine(std::uint32_t first, std::uint32_t second, std::uint64_t second_length);

}  // namespace korvane::crc32

#endif
