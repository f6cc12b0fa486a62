// The SHA hashers: buffering, padding and the digest, shared by every path;
// whole blocks go to the block function chosen for this CPU.
//
// Bytes that do not fill a block wait in the hasher's buffer; whole blocks are
// compressed straight from the caller's memory, so a large update copies
// nothing. The running total counts bytes; the bit count that ends the
// padding is derived from it.

#include <cstddef>
#include <cstdint>
#include <cstring>

#include <korvane/sha.h>

#include "hash/sha_bytes.h"
#include "hash/sha_constants.h"
#include "hash/sha_paths.h"

namespace {

using korvane::hash_detail::store_be32;
using korvane::hash_detail::store_be64;

template <std::size_t Block, typename Word, typename Blocks>
void feed(Word* state, std::uint64_t& total, unsigned char* buffer, const unsigned char* data,
          std::size_t length, Blocks blocks) {
    if (length == 0) {
        return;  // data may be null
    }
    const std::size_t held = static_cast<std::size_t>(total % Block);
    total += length;
    if (held != 0) {
        const std::size_t take = Block - held < length ? Block - held : length;
        std::memcpy(buffer + held, data, take);
        data += take;
        length -= take;
        if (held + take < Block) {
            return;
        }
        blocks(state, buffer, 1);
    }
    if (length >= Block) {
        blocks(state, data, length / Block);
        data += length - length % Block;
        length %= Block;
    }
    if (length != 0) {
        std::memcpy(buffer, data, length);
    }
}

// Appends the 0x80 byte, zeros and the big-endian bit count (`LengthBytes`
// wide), and compresses the last one or two blocks.
template <std::size_t Block, std::size_t LengthBytes, typename Word, typename Blocks>
void pad(Word* state, std::uint64_t total, unsigned char* buffer, Blocks blocks) {
    std::size_t held = static_cast<std::size_t>(total % Block);
    buffer[held++] = 0x80;
    if (held > Block - LengthBytes) {
        std::memset(buffer + held, 0, Block - held);
        blocks(state, buffer, 1);
        held = 0;
    }
    std::memset(buffer + held, 0, Block - 8 - held);
    // The bit count is total * 8; a 128-bit count takes the bits shifted out
    // of the low word into its upper half.
    if constexpr (LengthBytes == 16) {
        store_be64(buffer + Block - 16, total >> 61);
    }
    store_be64(buffer + Block - 8, total << 3);
    blocks(state, buffer, 1);
}

}  // namespace

// ---- SHA-1 ----

sha1hasher::~sha1hasher() = default;

void sha1hasher::init() {
    std::memcpy(state, korvane::sha::sha1_initial, sizeof state);
    total = 0;
}

void sha1hasher::update(const unsigned char* data, std::uint32_t length) {
    feed<64>(state, total, buffer, data, length, korvane::sha::sha1_blocks);
}

void sha1hasher::finalize() {
    pad<64, 8>(state, total, buffer, korvane::sha::sha1_blocks);
    for (int i = 0; i < 5; ++i) {
        store_be32(digest + 4 * i, state[i]);
    }
    // Nothing of the message stays behind in the object.
    std::memset(state, 0, sizeof state);
    std::memset(buffer, 0, sizeof buffer);
    total = 0;
}

const void* sha1hasher::hash() const {
    return digest;
}

int sha1hasher::hash_size() const {
    return 20;
}

// ---- SHA-256 ----

sha256hasher::~sha256hasher() = default;

void sha256hasher::init() {
    std::memcpy(state, korvane::sha::sha256_initial, sizeof state);
    total = 0;
}

void sha256hasher::update(const unsigned char* data, std::uint32_t length) {
    feed<64>(state, total, buffer, data, length, korvane::sha::sha256_blocks);
}

void sha256hasher::finalize() {
    pad<64, 8>(state, total, buffer, korvane::sha::sha256_blocks);
    for (int i = 0; i < 8; ++i) {
        store_be32(digest + 4 * i, state[i]);
    }
    std::memset(state, 0, sizeof state);
    std::memset(buffer, 0, sizeof buffer);
    total = 0;
}

const void* sha256hasher::hash() const {
    return digest;
}

int sha256hasher::hash_size() const {
    return 32;
}

// ---- SHA-512 ----

sha512hasher::~sha512hasher() = default;

void sha512hasher::init() {
    std::memcpy(state, korvane::sha::sha512_initial, sizeof state);
    total = 0;
}

void sha512hasher::update(const unsigned char* data, std::uint32_t length) {
    feed<128>(state, total, buffer, data, length, korvane::sha::sha512_blocks);
}

void sha512hasher::finalize() {
    pad<128, 16>(state, total, buffer, korvane::sha::sha512_blocks);
    for (int i = 0; i < 8; ++i) {
        store_be64(digest + 8 * i, state[i]);
    }
    std::memset(state, 0, sizeof state);
    std::memset(buffer, 0, sizeof buffer);
    total = 0;
}

const void* sha512hasher::hash() const {
    return digest;
}

int sha512hasher::hash_size() const {
    return 64;
}
