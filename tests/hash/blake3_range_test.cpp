// Two runs of BLAKE3 chunks hashed apart and joined give the digest of the
// whole input: runs that meet at every height of the tree, subtrees wider and
// narrower than the widest compressed together, a last chunk whole or cut
// short, pieces of any size.
#include <gtest/gtest.h>

#include <korvane/blake3.h>

#include <algorithm>
#include <cstdint>
#include <set>
#include <string>

#include "hash/blake3_range.h"
#include "support/temp_dir.h"

namespace {

using korvane::blake3::range;
using korvane::testing::random_bytes;

constexpr std::size_t chunk = 1024;

std::string whole_digest(const std::string& bytes) {
    blake3hasher h;
    h.init();
    h.update(reinterpret_cast<const unsigned char*>(bytes.data()),
             static_cast<std::uint32_t>(bytes.size()));
    h.finalize();
    return std::string(static_cast<const char*>(h.hash()), 32);
}

// Feeds bytes[from, to) in pieces of `piece` bytes.
void feed(range& r, const std::string& bytes, std::size_t from, std::size_t to, std::size_t piece) {
    for (std::size_t at = from; at < to; at += piece) {
        const std::size_t n = std::min(piece, to - at);
        r.update(reinterpret_cast<const unsigned char*>(bytes.data() + at),
                 static_cast<std::uint32_t>(n));
    }
}

std::string split_digest(const std::string& bytes, std::size_t front_chunks,
                         std::size_t front_piece, std::size_t back_piece) {
    range front;
    range back;
    front.init();
    feed(front, bytes, 0, front_chunks * chunk, front_piece);
    front.finalize();
    back.start(front_chunks);
    feed(back, bytes, front_chunks * chunk, bytes.size(), back_piece);
    back.finalize();
    front.join(back);
    return std::string(static_cast<const char*>(front.hash()), 32);
}

TEST(Blake3Range, TwoRunsJoinToTheDigestOfTheWhole) {
    for (std::size_t chunks : {2, 3, 4, 5, 7, 8, 9, 16, 17, 31, 33, 64, 65, 127, 128, 129, 200}) {
        for (std::size_t tail : {0, 1, 1023}) {
            // Whole chunks, or the last one cut short.
            const std::size_t size = tail == 0 ? chunks * chunk : (chunks - 1) * chunk + tail;
            const std::string bytes = random_bytes(size, static_cast<unsigned>(size));
            const std::string want = whole_digest(bytes);
            std::set<std::size_t> fronts{1, 2, 3, chunks / 2, chunks - 1};
            for (std::size_t power = 1; power < chunks; power *= 2) {
                fronts.insert(power);
                fronts.insert(power + 1);
            }
            for (std::size_t front : fronts) {
                if (front == 0 || front >= chunks) {
                    continue;
                }
                EXPECT_EQ(split_digest(bytes, front, 256 * 1024, 256 * 1024), want)
                    << chunks << " chunks, tail " << tail << ", front " << front;
            }
            EXPECT_EQ(split_digest(bytes, chunks / 2, chunk * 3, 1000), want)
                << chunks << " chunks in pieces";
        }
    }
}

TEST(Blake3Range, TheMiddleOfALargeFileAtEveryHeight) {
    // The split of a file of 8 MiB or more: the front a multiple of 256 KiB,
    // which makes the middle subtree as wide as the front's lowest set bit.
    for (std::size_t size : {std::size_t{8} << 20, (std::size_t{8} << 20) + 1,
                             (std::size_t{12} << 20) + (256 << 10) + 5}) {
        const std::string bytes = random_bytes(size, static_cast<unsigned>(size));
        const std::size_t front = (size / 2) & ~std::size_t{(256 << 10) - 1};
        EXPECT_EQ(split_digest(bytes, front / chunk, 256 * 1024, 256 * 1024), whole_digest(bytes))
            << size;
    }
}

}  // namespace
