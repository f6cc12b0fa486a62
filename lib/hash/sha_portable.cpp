// Portable SHA-1, SHA-256 and SHA-512 block functions.

#include <cstddef>
#include <cstdint>

#include "hash/sha_paths.h"
#include "hash/sha_rounds.h"

namespace korvane::sha {

void sha1_blocks_portable(std::uint32_t* state, const unsigned char* p, std::size_t blocks) {
    rounds::sha1_blocks(state, p, blocks);
}

void sha256_blocks_portable(std::uint32_t* state, const unsigned char* p, std::size_t blocks) {
    rounds::sha2_blocks<rounds::sha256_traits>(state, p, blocks);
}

void sha512_blocks_portable(std::uint64_t* state, const unsigned char* p, std::size_t blocks) {
    rounds::sha2_blocks<rounds::sha512_traits>(state, p, blocks);
}

}  // namespace korvane::sha
