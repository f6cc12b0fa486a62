// Every BLAKE3 path against the portable one. Property: the digest of the
// message is the same on every path this CPU offers, fed whole or in
// pieces, from any start alignment; and each path's many-input function
// gives the portable one's chaining values for the message's whole chunks
// and for its 64-byte blocks taken as parent nodes.
//
// Input: 3 control bytes, then the message. Byte 0 seeds the piece sizes;
// byte 1 gives the start offset (0-63) and, in bit 7, whether pieces are
// small (up to a chunk) or large; byte 2 how many times the message is laid
// end to end (1-64, each copy changed by its number), so that short inputs
// still reach the sixteen-chunk groups and the tree's upper levels.
#include <korvane/blake3.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "hash/blake3_paths.h"
#include "support.h"

namespace b3 = korvane::blake3;

namespace {

std::vector<unsigned char> digest(const unsigned char* data, std::size_t size, std::uint32_t seed,
                                  std::size_t max_piece) {
    blake3hasher h;
    h.init();
    std::size_t done = 0;
    while (done < size) {
        std::size_t piece = size - done;
        if (max_piece != 0) {
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

std::vector<unsigned char> many(b3::many_fn fn, const b3::many_job& job) {
    std::vector<unsigned char> out(job.count * b3::cv_bytes);
    fn(job, out.data());
    return out;
}

void check_many(const unsigned char* data, std::size_t size) {
    const b3::many_job jobs[] = {
        {data, size / b3::chunk_bytes, b3::chunk_bytes, b3::chunk_blocks, 3, true, 0,
         b3::chunk_start, b3::chunk_end},
        {data, size / b3::block_bytes, b3::block_bytes, 1, 0, false, b3::parent, 0, 0},
    };
    for (const auto& job : jobs) {
        const auto want = many(b3::hash_many_portable, job);
        for (int i = 1; i < b3::path_count; ++i) {
            const auto p = static_cast<b3::path>(i);
            if (b3::path_supported(p)) {
                FUZZ_CHECK(many(b3::function(p), job) == want);
            }
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* input, std::size_t size) {
    if (size < 3) {
        return 0;
    }
    const std::uint32_t seed = input[0];
    const std::size_t offset = input[1] & 63;
    const std::size_t max_piece = (input[1] & 0x80) != 0 ? 70000 : b3::chunk_bytes;
    const std::size_t copies = 1 + (input[2] & 63);
    const std::size_t part = size - 3;
    const std::size_t length = std::min<std::size_t>(part * copies, 128 * b3::chunk_bytes);
    std::vector<unsigned char> buffer(offset + length + 1);
    unsigned char* data = buffer.data() + offset;
    for (std::size_t i = 0; i < length; ++i) {
        data[i] = static_cast<unsigned char>(input[3 + i % part] ^ (i / part));
    }
    FUZZ_CHECK(b3::force_path(b3::path::portable));
    const auto want = digest(data, length, 0, 0);
    for (int i = 1; i < b3::path_count; ++i) {
        if (!b3::force_path(static_cast<b3::path>(i))) {
            continue;
        }
        FUZZ_CHECK(digest(data, length, 0, 0) == want);
        FUZZ_CHECK(digest(data, length, seed, max_piece) == want);
    }
    b3::reset_path();
    check_many(data, length);
    return 0;
}
