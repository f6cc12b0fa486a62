// Every SHA path against the portable one. Property: for each algorithm, the
// digest of the input is the same on every path this CPU offers, whether the
// input is fed whole or in pieces, and from any start alignment.
//
// Input: 2 control bytes, then the message. Control byte 0 seeds the piece
// sizes; byte 1 gives the start offset of the message in its buffer (0-63)
// and, in bit 7, whether the pieces are small (up to 3 blocks) or large.
#include <korvane/sha.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "hash/sha_paths.h"
#include "support.h"

namespace sha = korvane::sha;

namespace {

template <typename H>
std::vector<unsigned char> digest(const unsigned char* data, std::size_t size, std::uint32_t seed,
                                  std::size_t max_piece) {
    H h;
    h.init();
    std::size_t done = 0;
    while (done < size) {
        std::size_t piece = size - done;
        if (max_piece != 0) {
            // A small linear congruential sequence: deterministic per input.
            seed = seed * 1103515245u + 12345u;
            piece = std::min<std::size_t>(piece, (seed >> 8) % (max_piece + 1));
        }
        h.update(data + done, static_cast<std::uint32_t>(piece));
        done += piece;
    }
    h.finalize();
    const auto* d = static_cast<const unsigned char*>(h.hash());
    return std::vector<unsigned char>(d, d + h.hash_size());
}

template <typename H>
void check(sha::algorithm a, const unsigned char* data, std::size_t size, std::uint32_t seed,
           std::size_t max_piece) {
    FUZZ_CHECK(sha::force_path(a, sha::path::portable));
    const auto want = digest<H>(data, size, 0, 0);
    for (int i = 0; i < sha::path_count; ++i) {
        const auto p = static_cast<sha::path>(i);
        if (!sha::force_path(a, p)) {
            continue;
        }
        FUZZ_CHECK(digest<H>(data, size, 0, 0) == want);
        FUZZ_CHECK(digest<H>(data, size, seed, max_piece) == want);
    }
    sha::reset_path(a);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* input, std::size_t size) {
    if (size < 2) {
        return 0;
    }
    const std::uint32_t seed = input[0];
    const std::size_t offset = input[1] & 63;
    const std::size_t max_piece = (input[1] & 0x80) != 0 ? 4096 : 3 * 128;
    const std::size_t length = size - 2;
    // A fresh buffer so that the offset, not the fuzzer's allocation, sets
    // the alignment.
    std::vector<unsigned char> buffer(offset + length + 1);
    if (length != 0) {
        std::memcpy(buffer.data() + offset, input + 2, length);
    }
    const unsigned char* data = buffer.data() + offset;
    check<sha1hasher>(sha::algorithm::sha1, data, length, seed, max_piece);
    check<sha256hasher>(sha::algorithm::sha256, data, length, seed, max_piece);
    check<sha512hasher>(sha::algorithm::sha512, data, length, seed, max_piece);
    return 0;
}
