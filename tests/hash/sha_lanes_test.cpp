// The paired SHA-1/SHA-256 lanes: every path against the portable block
// function at every length up to 4096 and every start alignment, streams
// ending at a guard page, streams of different lengths that start, end and
// drop out at different runs (one lane then running alone beside the other's
// padding), the published vectors through both lanes, and the choice of path.

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include <korvane/sha.h>

#include "hash/sha_lanes.h"
#include "support/guarded.h"
#include "support/temp_dir.h"

namespace {

namespace sha = korvane::sha;
namespace shamb = korvane::shamb;
using shamb::sha_lanes;
using digest_t = std::string;

template <typename H>
digest_t digest_with(const unsigned char* p, std::size_t n) {
    H h;
    h.init();
    h.update(p, static_cast<std::uint32_t>(n));
    h.finalize();
    return {static_cast<const char*>(h.hash()), static_cast<std::size_t>(h.hash_size())};
}

// The digest of the portable block function, through the ordinary hasher.
digest_t reference(sha::algorithm a, const unsigned char* p, std::size_t n) {
    EXPECT_TRUE(sha::force_path(a, sha::path::portable));
    const digest_t d =
        a == sha::algorithm::sha1 ? digest_with<sha1hasher>(p, n) : digest_with<sha256hasher>(p, n);
    sha::reset_path(a);
    return d;
}

digest_t take(sha_lanes& h, int lane) {
    std::string d(static_cast<std::size_t>(h.digest_size()), '\0');
    EXPECT_TRUE(h.take(lane, reinterpret_cast<unsigned char*>(d.data()))) << "lane " << lane;
    return d;
}

struct case_t {
    sha::algorithm algorithm;
    shamb::path path;
};

struct sha_lanes_test : testing::TestWithParam<case_t> {
    void SetUp() override {
        if (!shamb::path_supported(GetParam().algorithm, GetParam().path)) {
            GTEST_SKIP() << shamb::path_name(GetParam().path) << " not supported here";
        }
    }
    void TearDown() override { shamb::reset_path(GetParam().algorithm); }

    sha_lanes make() const { return sha_lanes(GetParam().algorithm, GetParam().path); }
    digest_t expected(const unsigned char* p, std::size_t n) const {
        return reference(GetParam().algorithm, p, n);
    }
};

struct stream {
    const unsigned char* data;
    std::size_t length;
    std::size_t done = 0;
};

// Drives both lanes to the end of their streams: each run gives every open
// lane up to `piece` blocks (the fewer of the two lanes' remainders, so the
// longer stream runs on alone, beside the other's padding, once the shorter
// ends), and a stream goes to finish() as soon as it has less than a block.
std::vector<digest_t> drive(sha_lanes& h, stream s[2], std::size_t piece) {
    std::vector<digest_t> out(2);
    bool finishing[2] = {false, false};
    for (int l = 0; l < 2; ++l) {
        EXPECT_EQ(h.attach(), l);
    }
    while (out[0].empty() || out[1].empty()) {
        const unsigned char* data[2] = {};
        std::size_t blocks = piece;
        for (int l = 0; l < 2; ++l) {
            const std::size_t whole = (s[l].length - s[l].done) / 64;
            if (out[l].empty() && !finishing[l] && whole == 0) {
                h.finish(l, s[l].data + s[l].done, s[l].length - s[l].done);
                finishing[l] = true;
            } else if (!finishing[l] && whole != 0) {
                data[l] = s[l].data + s[l].done;
                blocks = std::min(blocks, whole);
            }
        }
        const std::uint32_t ready = h.run(data, blocks);
        for (int l = 0; l < 2; ++l) {
            if (data[l] != nullptr) {
                s[l].done += 64 * blocks;
            }
            if (((ready >> l) & 1u) != 0) {
                EXPECT_TRUE(finishing[l]);
                out[l] = take(h, l);
                finishing[l] = false;
            }
        }
    }
    return out;
}

// Every length from 0 to 4096 in lane 0, each at its own start alignment,
// beside a stream of 4096 minus that length in lane 1 at another: the two
// end at every pair of offsets, and in pieces of one block as well as whole.
TEST_P(sha_lanes_test, EveryLengthUpTo4096AtEveryAlignment) {
    const std::string bytes = korvane::testing::random_bytes(4096 + 128, 5);
    const auto* base = reinterpret_cast<const unsigned char*>(bytes.data());
    sha_lanes h = make();
    for (std::size_t n = 0; n <= 4096; ++n) {
        stream s[2] = {{base + n % 64, n}, {base + 64 + (n * 7) % 64, 4096 - n}};
        const std::size_t piece = n % 3 == 0 ? 1 : 4096;
        const std::vector<digest_t> got = drive(h, s, piece);
        ASSERT_EQ(got[0], expected(s[0].data, s[0].length)) << "length " << n;
        ASSERT_EQ(got[1], expected(s[1].data, s[1].length)) << "length " << 4096 - n;
    }
    EXPECT_EQ(h.free_lanes(), 2);
}

// Both streams end at an unreadable page (and, in a second round, start right
// after one), each lane in a region of its own, at every tail length: a path
// that loads beyond a lane's last block, or before its first, faults here.
TEST_P(sha_lanes_test, ReadsNothingBeyondEitherEnd) {
    // The second lane's stream is up to 70 bytes longer than the first's.
    constexpr std::size_t room = 8192 + 128;
    korvane::testing::guarded_region regions[2] = {korvane::testing::guarded_region(room),
                                                   korvane::testing::guarded_region(room)};
    KORVANE_REQUIRE_GUARD_PAGES(regions[0]);
    KORVANE_REQUIRE_GUARD_PAGES(regions[1]);
    const std::string data = korvane::testing::random_bytes(room, 23);
    for (const bool at_end : {true, false}) {
        for (std::size_t base : {std::size_t{0}, std::size_t{64}, std::size_t{8192 - 128}}) {
            for (std::size_t first = base; first < base + 64; ++first) {
                const std::size_t length[2] = {first, first + 64 + first % 7};
                stream s[2];
                for (int l = 0; l < 2; ++l) {
                    const std::string_view piece(data.data(), length[l]);
                    const unsigned char* at =
                        at_end ? regions[l].at_end(piece) : regions[l].at_start(piece);
                    s[l] = {at, length[l]};
                }
                sha_lanes h = make();
                const std::vector<digest_t> got = drive(h, s, 1000);
                for (int l = 0; l < 2; ++l) {
                    ASSERT_EQ(got[l], expected(s[l].data, length[l]))
                        << (at_end ? "ending at" : "starting at") << " the guard, lane " << l
                        << " length " << length[l];
                }
            }
        }
    }
}

// Streams of random lengths, started whenever a lane is free, given data or
// not at each run, flushed between runs, some dropped midway: a lane freed
// and attached again starts from the initial state and length.
TEST_P(sha_lanes_test, StaggeredStreamsStartAndEndAtAnyRun) {
    std::mt19937 gen(GetParam().path == shamb::path::single ? 1 : 2);
    const std::string bytes = korvane::testing::random_bytes(20000, 9);
    const auto* base = reinterpret_cast<const unsigned char*>(bytes.data());
    sha_lanes h = make();
    stream s[2];
    int owner[2] = {-1, -1};
    bool finishing[2] = {false, false};
    int checked = 0;
    for (int next = 0; next < 600 || owner[0] >= 0 || owner[1] >= 0;) {
        while (next < 600 && h.free_lanes() > 0 && gen() % 3 != 0) {
            const int lane = h.attach();
            ASSERT_GE(lane, 0);
            const std::size_t length = gen() % (gen() % 4 == 0 ? 12000 : 300);
            s[lane] = {base + gen() % 64, length};
            owner[lane] = next++;
            finishing[lane] = false;
        }
        const unsigned char* data[2] = {};
        std::size_t blocks = 1 + gen() % 8;
        for (int l = 0; l < 2; ++l) {
            if (owner[l] < 0 || finishing[l]) {
                continue;
            }
            const std::size_t whole = (s[l].length - s[l].done) / 64;
            if (gen() % 200 == 0) {
                h.release(l);
                owner[l] = -1;
            } else if (whole == 0) {
                h.finish(l, s[l].data + s[l].done, s[l].length - s[l].done);
                finishing[l] = true;
            } else if (gen() % 4 != 0) {
                data[l] = s[l].data + s[l].done;
                blocks = std::min(blocks, whole);
            }
        }
        const bool flush = gen() % 8 == 0;
        const std::uint32_t ready = flush ? h.flush() : h.run(data, blocks);
        for (int l = 0; l < 2; ++l) {
            if (data[l] != nullptr && !flush) {
                s[l].done += 64 * blocks;
            }
            ASSERT_EQ(((ready >> l) & 1u) != 0, finishing[l] && owner[l] >= 0) << "lane " << l;
            if (((ready >> l) & 1u) != 0) {
                ASSERT_EQ(take(h, l), expected(s[l].data, s[l].length))
                    << "stream " << owner[l] << " length " << s[l].length;
                owner[l] = -1;
                finishing[l] = false;
                ++checked;
            }
        }
    }
    EXPECT_GT(checked, 500);
    EXPECT_EQ(h.free_lanes(), 2);
}

TEST_P(sha_lanes_test, PublishedVectorsInBothLanes) {
    const bool sha1 = GetParam().algorithm == sha::algorithm::sha1;
    const std::string abc = "abc";
    const std::string m448 = "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq";
    const char* want_abc = sha1
                               ? "a9993e364706816aba3e25717850c26c9cd0d89d"
                               : "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad";
    const char* want_448 = sha1
                               ? "84983e441c3bd26ebaae4aa1f95129e5e54670f1"
                               : "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1";
    sha_lanes h = make();
    stream s[2] = {{reinterpret_cast<const unsigned char*>(abc.data()), abc.size()},
                   {reinterpret_cast<const unsigned char*>(m448.data()), m448.size()}};
    const std::vector<digest_t> got = drive(h, s, 1);
    const auto hex = [](const digest_t& d) {
        return korvane::testing::hex_text(d.data(), d.size());
    };
    EXPECT_EQ(hex(got[0]), want_abc);
    EXPECT_EQ(hex(got[1]), want_448);
}

TEST_P(sha_lanes_test, ForcedPathReachesNewObjects) {
    const sha::algorithm a = GetParam().algorithm;
    ASSERT_TRUE(shamb::force_path(a, GetParam().path));
    EXPECT_EQ(shamb::active_path(a), GetParam().path);
    EXPECT_EQ(sha_lanes(a).used_path(), GetParam().path);
    EXPECT_EQ(sha_lanes(a).digest_size(), a == sha::algorithm::sha1 ? 20 : 32);
    shamb::reset_path(a);
    EXPECT_EQ(shamb::active_path(a), shamb::best_path(a));
}

std::vector<case_t> registered_cases() {
    std::vector<case_t> out;
    for (sha::algorithm a : {sha::algorithm::sha1, sha::algorithm::sha256}) {
        for (int i = 0; i < shamb::path_count; ++i) {
            out.push_back({a, static_cast<shamb::path>(i)});
        }
    }
    return out;
}

INSTANTIATE_TEST_SUITE_P(Paths, sha_lanes_test, testing::ValuesIn(registered_cases()),
                         [](const testing::TestParamInfo<case_t>& param) {
                             return std::string(sha::algorithm_name(param.param.algorithm)) + "_" +
                                    shamb::path_name(param.param.path);
                         });

TEST(ShaLanes, BookkeepingAndRefusedPaths) {
    sha_lanes h(sha::algorithm::sha256, shamb::path::single);
    unsigned char d[32];
    EXPECT_FALSE(h.take(0, d));  // nothing attached
    ASSERT_EQ(h.attach(), 0);
    ASSERT_EQ(h.attach(), 1);
    EXPECT_EQ(h.attach(), -1);
    h.finish(0, nullptr, 0);
    EXPECT_FALSE(h.take(0, d));  // padding not hashed yet
    EXPECT_EQ(h.flush(), 1u);
    h.release(1);
    EXPECT_EQ(h.attach(), 1);  // lane 0 holds its digest until taken
    EXPECT_TRUE(h.take(0, d));
    // Out-of-range lanes are ignored rather than written.
    h.finish(-1, nullptr, 0);
    h.finish(2, nullptr, 0);
    h.release(2);
    EXPECT_FALSE(h.take(-1, d));
    // SHA-512 has no paired path; forcing it is refused.
    EXPECT_FALSE(shamb::force_path(sha::algorithm::sha512, shamb::path::shani));
    EXPECT_EQ(shamb::best_path(sha::algorithm::sha512), shamb::path::single);
    for (sha::algorithm a : {sha::algorithm::sha1, sha::algorithm::sha256}) {
        const bool has = shamb::path_supported(a, shamb::path::shani);
        EXPECT_EQ(shamb::force_path(a, shamb::path::shani), has);
        if (!has) {
            EXPECT_EQ(sha_lanes(a, shamb::path::shani).used_path(), shamb::path::single);
        }
        shamb::reset_path(a);
    }
}

}  // namespace
