// BLAKE3: the published lengths on every path, every path's many-input
// function against the portable one for chunks and parents at every count a
// width splits differently and at guard pages, the hasher on every length up
// to four chunks at every start alignment, runs of chunks that cross the
// hasher's subtree sizes, pieces of any size, and the split of one input
// over two threads.

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include <korvane/blake3.h>

#include "hash/blake3_paths.h"
#include "hash/blake3_tree.h"
#include "support/guarded.h"
#include "support/temp_dir.h"

namespace {

namespace b3 = korvane::blake3;
using b3::path;

std::string hex(const void* digest, int n) {
    return korvane::testing::hex_text(digest, static_cast<std::size_t>(n));
}

std::string digest_of(const unsigned char* data, std::size_t n) {
    blake3hasher h;
    h.init();
    h.update(data, static_cast<std::uint32_t>(n));
    h.finalize();
    return hex(h.hash(), h.hash_size());
}

std::string digest_of(const std::string& s) {
    return digest_of(reinterpret_cast<const unsigned char*>(s.data()), s.size());
}

std::vector<path> supported_paths() {
    std::vector<path> out;
    for (int i = 0; i < b3::path_count; ++i) {
        if (b3::path_supported(static_cast<path>(i))) {
            out.push_back(static_cast<path>(i));
        }
    }
    return out;
}

class forced {
  public:
    explicit forced(path p) { EXPECT_TRUE(b3::force_path(p)); }
    ~forced() { b3::reset_path(); }
    forced(const forced&) = delete;
    forced& operator=(const forced&) = delete;
};

// The lengths of the published vectors, their input bytes i % 251.
struct vector_case {
    std::size_t length;
    const char* digest;
};
const vector_case published[] = {
    {0, "af1349b9f5f9a1a6a0404dea36dcc9499bcb25c9adc112b7cc9a93cae41f3262"},
    {1, "2d3adedff11b61f14c886e35afa036736dcd87a74d27b5c1510225d0f592e213"},
    {1023, "10108970eeda3eb932baac1428c7a2163b0e924c9a9e25b35bba72b28f70bd11"},
    {1024, "42214739f095a406f3fc83deb889744ac00df831c10daa55189b5d121c855af7"},
    {1025, "d00278ae47eb27b34faecf67b4fe263f82d5412916c1ffd97c8cb7fb814b8444"},
    {2048, "e776b6028c7cd22a4d0ba182a8bf62205d2ef576467e838ed6f2529b85fba24a"},
    {2049, "5f4d72f40d7a5f82b15ca2b2e44b1de3c2ef86c426c95c1af0b6879522563030"},
    {3072, "b98cb0ff3623be03326b373de6b9095218513e64f1ee2edd2525c7ad1e5cffd2"},
    {3073, "7124b49501012f81cc7f11ca069ec9226cecb8a2c850cfe644e327d22d3e1cd3"},
    {4096, "015094013f57a5277b59d8475c0501042c0b642e531b0a1c8f58d2163229e969"},
    {4097, "9b4052b38f1c5fc8b1f9ff7ac7b27cd242487b3d890d15c96a1c25b8aa0fb995"},
    {5120, "9cadc15fed8b5d854562b26a9536d9707cadeda9b143978f319ab34230535833"},
    {5121, "628bd2cb2004694adaab7bbd778a25df25c47b9d4155a55f8fbd79f2fe154cff"},
    {6144, "3e2e5b74e048f3add6d21faab3f83aa44d3b2278afb83b80b3c35164ebeca205"},
    {6145, "f1323a8631446cc50536a9f705ee5cb619424d46887f3c376c695b70e0f0507f"},
    {7168, "61da957ec2499a95d6b8023e2b0e604ec7f6b50e80a9678b89d2628e99ada77a"},
    {7169, "a003fc7a51754a9b3c7fae0367ab3d782dccf28855a03d435f8cfe74605e7817"},
    {8192, "aae792484c8efe4f19e2ca7d371d8c467ffb10748d8a5a1ae579948f718a2a63"},
    {8193, "bab6c09cb8ce8cf459261398d2e7aef35700bf488116ceb94a36d0f5f1b7bc3b"},
    {16384, "f875d6646de28985646f34ee13be9a576fd515f76b5b0a26bb324735041ddde4"},
    {31744, "62b6960e1a44bcc1eb1a611a8d6235b6b4b78f32e7abc4fb4c6cdcce94895c47"},
    {102400, "bc3e3d41a1146b069abffad3c0d44860cf664390afce4d9661f7902e7943e085"},
};

std::string vector_input(std::size_t n) {
    std::string s(n, '\0');
    for (std::size_t i = 0; i < n; ++i) {
        s[i] = static_cast<char>(i % 251);
    }
    return s;
}

TEST(Blake3, PublishedLengthsOnEveryPath) {
    for (path p : supported_paths()) {
        forced f(p);
        SCOPED_TRACE(b3::path_name(p));
        for (const auto& c : published) {
            EXPECT_EQ(digest_of(vector_input(c.length)), c.digest) << "length " << c.length;
        }
    }
}

TEST(Blake3, HasherInterface) {
    blake3hasher h;
    EXPECT_EQ(h.hash_size(), 32);
    h.init();
    h.update(nullptr, 0);
    h.finalize();
    EXPECT_EQ(hex(h.hash(), 32), published[0].digest);
    // Reused after finalize, and a copy goes on on its own.
    const std::string in = vector_input(5121);
    const auto* bytes = reinterpret_cast<const unsigned char*>(in.data());
    h.init();
    h.update(bytes, 3000);
    blake3hasher copy = h;
    h.update(bytes + 3000, 5121 - 3000);
    h.finalize();
    copy.update(bytes + 3000, 5121 - 3000);
    copy.finalize();
    EXPECT_EQ(hex(h.hash(), 32), published[12].digest);
    EXPECT_EQ(hex(copy.hash(), 32), published[12].digest);
}

// Pieces of any size, so that the held chunk fills, waits full, and is
// folded at every place, and runs start at every chunk number.
TEST(Blake3, PiecesOfAnySize) {
    std::mt19937 gen(7);
    for (const auto& c : published) {
        const std::string in = vector_input(c.length);
        for (int round = 0; round < 8; ++round) {
            blake3hasher h;
            h.init();
            std::size_t at = 0;
            while (at < in.size()) {
                const std::size_t cap = round % 2 == 0 ? 70 : 9000;
                std::size_t n = gen() % cap;
                n = n < in.size() - at ? n : in.size() - at;
                h.update(reinterpret_cast<const unsigned char*>(in.data()) + at,
                         static_cast<std::uint32_t>(n));
                at += n;
            }
            h.finalize();
            ASSERT_EQ(hex(h.hash(), 32), c.digest) << "length " << c.length;
        }
    }
}

// Every path's many-input function against the portable one: chunk runs
// and parent runs of every count up to past two of the widest groups, at
// every start alignment, with counters that cross 2^32.
TEST(Blake3, ManyInputsAgainstPortable) {
    const std::string data = korvane::testing::random_bytes(40 * 1024 + 64, 11);
    for (path p : supported_paths()) {
        SCOPED_TRACE(b3::path_name(p));
        const b3::many_fn fn = b3::function(p);
        for (std::size_t count = 0; count <= 40; ++count) {
            for (std::size_t align : {0, 1, 3, 17, 63}) {
                const auto* in = reinterpret_cast<const unsigned char*>(data.data()) + align;
                const b3::many_job jobs[] = {
                    {in, count, 1024, 16, 0xFFFFFFF8u, true, 0, b3::chunk_start, b3::chunk_end},
                    {in, count, 64, 1, 0, false, b3::parent, 0, 0},
                    {in, count, 200, 3, 5, true, b3::parent, b3::chunk_start, b3::root},
                };
                for (const auto& job : jobs) {
                    std::vector<unsigned char> want(count * 32 + 1, 0xAA);
                    std::vector<unsigned char> got(count * 32 + 1, 0xAA);
                    b3::hash_many_portable(job, want.data());
                    fn(job, got.data());
                    ASSERT_EQ(want, got) << "count " << count << " align " << align;
                }
            }
        }
    }
}

// Chunk runs that end at the guard page or start right after it.
TEST(Blake3, ManyInputsAtGuardPages) {
    korvane::testing::guarded_region region(33 * 1024);
    KORVANE_REQUIRE_GUARD_PAGES(region);
    const std::string data = korvane::testing::random_bytes(33 * 1024, 12);
    for (path p : supported_paths()) {
        SCOPED_TRACE(b3::path_name(p));
        for (std::size_t count : {1, 4, 8, 16, 17, 31, 33}) {
            const std::string piece = data.substr(0, count * 1024);
            const auto* plain = reinterpret_cast<const unsigned char*>(piece.data());
            std::vector<unsigned char> want(count * 32);
            b3::hash_many_portable({plain, count, 1024, 16, 0, true, 0, 1, 2}, want.data());
            for (const bool at_end : {true, false}) {
                const unsigned char* in = at_end ? region.at_end(piece) : region.at_start(piece);
                std::vector<unsigned char> got(count * 32);
                b3::function(p)({in, count, 1024, 16, 0, true, 0, 1, 2}, got.data());
                ASSERT_EQ(want, got) << "count " << count << (at_end ? " at end" : " at start");
            }
        }
    }
}

// The hasher on every length up to four chunks, each at a start alignment
// of its own (all 64 of them many times over), and on lengths just around
// whole runs up to past the largest subtree it compresses at once; every
// path against the portable one.
TEST(Blake3, EveryLengthAndAlignmentAgainstPortable) {
    const std::string data = korvane::testing::random_bytes(300 * 1024 + 64, 13);
    const auto* base = reinterpret_cast<const unsigned char*>(data.data());
    std::vector<std::size_t> lengths;
    for (std::size_t n = 0; n <= 4096; ++n) {
        lengths.push_back(n);
    }
    for (std::size_t chunks = 5; chunks <= 300; ++chunks) {
        lengths.push_back(chunks * 1024 - 1);
        lengths.push_back(chunks * 1024);
        lengths.push_back(chunks * 1024 + 1);
    }
    std::vector<std::string> want;
    {
        forced f(path::portable);
        for (std::size_t i = 0; i < lengths.size(); ++i) {
            want.push_back(digest_of(base + i % 64, std::min(lengths[i], data.size() - 64)));
        }
    }
    for (path p : supported_paths()) {
        forced f(p);
        for (std::size_t i = 0; i < lengths.size(); ++i) {
            const std::size_t n = std::min(lengths[i], data.size() - 64);
            ASSERT_EQ(digest_of(base + i % 64, n), want[i])
                << b3::path_name(p) << " length " << n << " align " << i % 64;
        }
    }
}

// Whole inputs that end at the guard page or start right after it.
TEST(Blake3, HasherAtGuardPages) {
    korvane::testing::guarded_region region(70 * 1024);
    KORVANE_REQUIRE_GUARD_PAGES(region);
    const std::string data = korvane::testing::random_bytes(70 * 1024, 14);
    for (std::size_t n : {0, 1, 63, 64, 1023, 1024, 1025, 4097, 17 * 1024 + 5, 70 * 1024}) {
        const std::string piece = data.substr(0, n);
        const std::string want = digest_of(piece);
        for (path p : supported_paths()) {
            forced f(p);
            EXPECT_EQ(digest_of(region.at_end(piece), n), want) << b3::path_name(p) << " " << n;
            EXPECT_EQ(digest_of(region.at_start(piece), n), want) << b3::path_name(p) << " " << n;
        }
    }
}

TEST(Blake3, ForcingAndNames) {
    EXPECT_TRUE(b3::path_supported(path::portable));
    EXPECT_STREQ(b3::path_name(path::avx512), "avx512");
    EXPECT_STREQ(b3::path_name(static_cast<path>(9)), "unknown");
    EXPECT_FALSE(b3::force_path(static_cast<path>(9)));
    for (path p : supported_paths()) {
        forced f(p);
        EXPECT_EQ(b3::active_path(), p);
    }
    EXPECT_EQ(b3::active_path(), b3::best_path());
#if defined(KORVANE_PORTABLE)
    EXPECT_EQ(supported_paths(), std::vector<path>{path::portable});
#endif
}

}  // namespace

namespace {

// The split over two threads, done here in one: every plan joins to the
// one-thread digest, at and around every chunk count where the root's
// children change and the plan's choice flips.
TEST(Blake3Split, EveryPlanJoinsToTheWholeDigest) {
    namespace b3 = korvane::blake3;
    const std::string data = korvane::testing::random_bytes(70 * 1024 + 1, 15);
    const auto* base = reinterpret_cast<const unsigned char*>(data.data());
    const auto cv_of = [&](std::uint64_t begin, std::uint64_t end, unsigned char* cv) {
        blake3hasher h;
        b3::tree_access::start_at(h, begin / 1024);
        h.update(base + begin, static_cast<std::uint32_t>(end - begin));
        b3::tree_access::finish_subtree(h, cv);
    };
    for (std::uint64_t chunks = 2; chunks <= 70; ++chunks) {
        for (std::uint64_t size : {chunks * 1024 - 1023, chunks * 1024 - 1, chunks * 1024}) {
            const b3::split_plan plan = b3::plan_split(size);
            ASSERT_GT(plan.middle, 0u);
            ASSERT_LT(plan.middle, plan.back_end);
            ASSERT_LE(plan.back_end, size);
            ASSERT_EQ(plan.middle % 1024, 0u);
            ASSERT_EQ(plan.back_end % 1024 == 0 || plan.back_end == size, true);
            // Neither part more than two thirds of the work, give or take a chunk.
            const std::uint64_t here = plan.middle + (size - plan.back_end);
            EXPECT_LE(3 * here, 2 * size + 3 * 1024) << size;
            EXPECT_LE(3 * (plan.back_end - plan.middle), 2 * size + 3 * 1024) << size;

            unsigned char front[32], back[32], tail[32], digest[32];
            cv_of(0, plan.middle, front);
            cv_of(plan.middle, plan.back_end, back);
            const bool has_tail = plan.back_end < size;
            if (has_tail) {
                cv_of(plan.back_end, size, tail);
            }
            b3::join_split(front, back, has_tail ? tail : nullptr, digest);
            ASSERT_EQ(hex(digest, 32), digest_of(base, size)) << "size " << size;
        }
    }
}

}  // namespace
