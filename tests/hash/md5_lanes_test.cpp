// Multi-lane MD5: every width against the single-stream MD5, driven like a
// scheduler would drive it (streams starting and ending at different times,
// lanes sitting runs out, streams dropped midway), plus the lane bookkeeping
// and the forcing of a width.

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <memory>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include <korvane/hasher.h>

#include "hash/md5_lanes.h"
#include "support/guarded.h"
#include "support/temp_dir.h"

namespace {

using korvane::md5mb::md5_lanes;
using korvane::md5mb::path;
using digest_t = std::array<unsigned char, 16>;

digest_t reference_md5(const unsigned char* p, std::size_t n) {
    md5_context ctx;
    MD5Init(&ctx);
    MD5Update(&ctx, p, static_cast<std::uint32_t>(n));
    digest_t d;
    MD5Final(d.data(), &ctx);
    return d;
}

struct stream {
    std::vector<unsigned char> storage;
    std::size_t offset = 0;  // misaligns the data
    std::size_t length = 0;
    std::size_t done = 0;

    const unsigned char* data() const { return storage.data() + offset; }
};

stream make_stream(std::mt19937& gen, std::size_t length) {
    stream s;
    s.offset = gen() % 64;
    s.length = length;
    s.storage.resize(s.offset + length);
    for (auto& b : s.storage) {
        b = static_cast<unsigned char>(gen());
    }
    return s;
}

// Lengths weighted towards the cases padding must get right: a block boundary
// and the tails 55 (one padding block), 56 and 63 (two), plus empty and
// one-block streams and longer random ones.
std::size_t random_length(std::mt19937& gen) {
    static const std::size_t tails[] = {0, 1, 55, 56, 57, 63};
    switch (gen() % 5) {
        case 0:
        case 1:
            return 64 * (gen() % 4) + tails[gen() % std::size(tails)];
        case 2:
            return gen() % 1000;
        case 3:
            return gen() % 8000;
        default:
            return gen() % 70000;
    }
}

struct lanes_test : testing::TestWithParam<path> {
    void SetUp() override {
        if (!korvane::md5mb::path_supported(GetParam())) {
            GTEST_SKIP() << korvane::md5mb::path_name(GetParam()) << " not supported here";
        }
    }
    void TearDown() override { korvane::md5mb::reset_path(); }
};

// Feeds `streams` through one object at random: new streams start whenever a
// lane is free and a coin says so, every run gives some lanes data and lets
// others sit out, streams end at any run, and a few are dropped. Every digest
// taken must equal the single-stream one. Returns how many were checked.
int drive(path p, std::vector<stream>& streams, std::mt19937& gen, bool drop_some) {
    md5_lanes h(p);
    EXPECT_EQ(h.used_path(), p);
    const int n = h.lanes();
    EXPECT_EQ(n, korvane::md5mb::lane_count(p));
    std::vector<int> owner(n, -1);  // stream index per lane
    std::vector<bool> finishing(n, false);
    std::size_t next = 0;
    std::size_t gone = 0;
    int checked = 0;
    while (gone < streams.size()) {
        while (next < streams.size() && h.free_lanes() > 0 && gen() % 4 != 0) {
            const int lane = h.attach();
            EXPECT_GE(lane, 0);
            EXPECT_EQ(owner[lane], -1);
            owner[lane] = static_cast<int>(next++);
            finishing[lane] = false;
        }
        if (next < streams.size() && h.free_lanes() == n) {
            continue;  // nothing attached this time round
        }
        const unsigned char* data[korvane::md5mb::max_lanes] = {};
        std::size_t blocks = 1 + gen() % (gen() % 4 == 0 ? 100 : 6);
        for (int l = 0; l < n; ++l) {
            if (owner[l] < 0 || finishing[l]) {
                continue;
            }
            stream& s = streams[owner[l]];
            const std::size_t whole = (s.length - s.done) / 64;
            if (drop_some && gen() % 1000 == 0) {
                h.release(l);
                owner[l] = -1;
                ++gone;
            } else if (whole == 0) {
                h.finish(l, s.data() + s.done, s.length - s.done);
                finishing[l] = true;
            } else if (gen() % 5 != 0) {
                data[l] = s.data() + s.done;
                blocks = std::min(blocks, whole);
            }
        }
        const bool flush = gen() % 8 == 0;  // padding only; the data waits
        const std::uint32_t ready = flush ? h.flush() : h.run(data, blocks);
        for (int l = 0; l < n; ++l) {
            if (data[l] != nullptr && !flush) {
                streams[owner[l]].done += 64 * blocks;
            }
        }
        for (int l = 0; l < n; ++l) {
            const bool is_ready = ((ready >> l) & 1u) != 0;
            EXPECT_EQ(is_ready, finishing[l] && owner[l] >= 0) << "lane " << l;
            if (!is_ready) {
                continue;
            }
            const stream& s = streams[owner[l]];
            digest_t got;
            EXPECT_TRUE(h.take(l, got.data()));
            EXPECT_EQ(got, reference_md5(s.data(), s.length))
                << korvane::md5mb::path_name(p) << " stream " << owner[l] << " length " << s.length;
            owner[l] = -1;
            finishing[l] = false;
            ++gone;
            ++checked;
        }
    }
    EXPECT_EQ(h.free_lanes(), n);
    return checked;
}

TEST_P(lanes_test, EveryLengthUpTo300InEveryLane) {
    std::mt19937 gen(7);
    std::vector<stream> streams;
    for (std::size_t len = 0; len <= 300; ++len) {
        streams.push_back(make_stream(gen, len));
    }
    EXPECT_EQ(drive(GetParam(), streams, gen, false), 301);
}

TEST_P(lanes_test, ThousandsOfRandomStreamsStaggered) {
    for (unsigned seed = 1; seed <= 4; ++seed) {
        std::mt19937 gen(seed);
        std::vector<stream> streams;
        for (int i = 0; i < 1000; ++i) {
            streams.push_back(make_stream(gen, random_length(gen)));
        }
        EXPECT_GT(drive(GetParam(), streams, gen, seed % 2 == 0), 800) << "seed " << seed;
    }
}

TEST_P(lanes_test, AllLanesTogetherThenEndingOneByOne) {
    // Full lanes over long common runs, then lanes ending one per run while
    // the others still take data.
    md5_lanes h(GetParam());
    const int n = h.lanes();
    std::mt19937 gen(11);
    std::vector<stream> streams;
    for (int l = 0; l < n; ++l) {
        streams.push_back(make_stream(gen, 64 * (40 + l) + static_cast<std::size_t>(l) * 5 % 64));
        ASSERT_EQ(h.attach(), l);
    }
    EXPECT_EQ(h.attach(), -1);
    const unsigned char* data[korvane::md5mb::max_lanes] = {};
    for (int l = 0; l < n; ++l) {
        data[l] = streams[l].data();
    }
    ASSERT_EQ(h.run(data, 40), 0u);
    for (int l = 0; l < n; ++l) {
        streams[l].done = 64 * 40;
    }
    for (int step = 0; step < n; ++step) {
        for (int l = 0; l < n; ++l) {
            data[l] = nullptr;
            stream& s = streams[l];
            if (l == step) {
                h.finish(l, s.data() + s.done, s.length - s.done);
            } else if (l > step) {
                data[l] = s.data() + s.done;
                s.done += 64;
            }
        }
        EXPECT_EQ(h.run(data, 1), 1u << step);
        digest_t got;
        ASSERT_TRUE(h.take(step, got.data()));
        EXPECT_EQ(got, reference_md5(streams[step].data(), streams[step].length)) << step;
    }
}

TEST_P(lanes_test, LaneBookkeeping) {
    md5_lanes h(GetParam());
    digest_t got;
    EXPECT_FALSE(h.take(0, got.data()));  // nothing attached
    const int lane = h.attach();
    ASSERT_EQ(lane, 0);
    EXPECT_EQ(h.free_lanes(), h.lanes() - 1);
    EXPECT_FALSE(h.take(lane, got.data()));  // still open
    h.finish(lane, nullptr, 0);
    EXPECT_EQ(h.ready(), 0u);
    EXPECT_FALSE(h.take(lane, got.data()));  // padding not hashed yet
    EXPECT_EQ(h.flush(), 1u);
    EXPECT_EQ(h.attach(), 1);  // a ready lane is not free until taken
    ASSERT_TRUE(h.take(lane, got.data()));
    EXPECT_EQ(got, reference_md5(nullptr, 0));
    EXPECT_FALSE(h.take(lane, got.data()));
    h.release(1);
    EXPECT_EQ(h.free_lanes(), h.lanes());
    // Out-of-range lanes are ignored rather than written.
    h.finish(-1, nullptr, 0);
    h.finish(h.lanes(), nullptr, 0);
    h.release(korvane::md5mb::max_lanes);
    EXPECT_FALSE(h.take(-1, got.data()));
}

TEST_P(lanes_test, LongTailGivenToFinish) {
    // A caller may hand the whole stream to finish(); the digest is the same.
    std::mt19937 gen(3);
    for (std::size_t len : {64u, 119u, 120u, 1000u, 4096u}) {
        const stream s = make_stream(gen, len);
        md5_lanes h(GetParam());
        const int lane = h.attach();
        h.finish(lane, s.data(), s.length);
        EXPECT_EQ(h.flush(), 1u << lane);
        digest_t got;
        ASSERT_TRUE(h.take(lane, got.data()));
        EXPECT_EQ(got, reference_md5(s.data(), s.length)) << len;
    }
}

// Every lane's stream ends at an unreadable page (and, in a second round,
// starts right after one), at every start alignment: a transform that loads
// beyond a lane's last block, or before its first, faults here. Each lane has
// a region of its own, so a lane reading into its neighbour is caught too.
TEST_P(lanes_test, ReadsNothingBeyondEitherEnd) {
    std::vector<std::unique_ptr<korvane::testing::guarded_region>> regions;
    for (int l = 0; l < korvane::md5mb::max_lanes; ++l) {
        regions.push_back(std::make_unique<korvane::testing::guarded_region>(8192));
        KORVANE_REQUIRE_GUARD_PAGES(*regions.back());
    }
    const std::string data = korvane::testing::random_bytes(8192, 23);
    const auto* source = reinterpret_cast<const unsigned char*>(data.data());
    const int n = md5_lanes(GetParam()).lanes();
    for (const bool at_end : {true, false}) {
        // Lengths from 64 consecutive ones around a few block counts: each
        // start alignment once per base, the tail from 0 to 63 bytes.
        for (std::size_t base :
             {std::size_t{0}, std::size_t{64}, std::size_t{1000}, std::size_t{8192 - 64}}) {
            for (std::size_t first = base; first < base + 64; first += n) {
                md5_lanes h(GetParam());
                std::vector<std::size_t> length(n);
                std::vector<const unsigned char*> start(n);
                for (int l = 0; l < n; ++l) {
                    ASSERT_EQ(h.attach(), l);
                    length[l] = first + static_cast<std::size_t>(l);
                    const std::string_view piece(data.data(), length[l]);
                    start[l] = at_end ? regions[l]->at_end(piece) : regions[l]->at_start(piece);
                }
                // One run of every lane's whole blocks that lanes with fewer
                // sit out, then the tails.
                std::size_t done = 0;
                for (;;) {
                    const unsigned char* p[korvane::md5mb::max_lanes] = {};
                    std::size_t step = 0;
                    for (int l = 0; l < n; ++l) {
                        const std::size_t end = length[l] / 64 * 64;
                        if (end > done) {
                            const std::size_t whole = (end - done) / 64;
                            step = step == 0 ? whole : std::min(step, whole);
                        }
                    }
                    if (step == 0) {
                        break;
                    }
                    for (int l = 0; l < n; ++l) {
                        if (length[l] / 64 * 64 > done) {
                            p[l] = start[l] + done;
                        }
                    }
                    h.run(p, step);
                    done += 64 * step;
                }
                for (int l = 0; l < n; ++l) {
                    const std::size_t whole = length[l] / 64 * 64;
                    h.finish(l, start[l] + whole, length[l] - whole);
                }
                ASSERT_EQ(h.flush(), n == 16 ? 0xFFFFu : 0xFFu);
                for (int l = 0; l < n; ++l) {
                    digest_t got;
                    ASSERT_TRUE(h.take(l, got.data()));
                    ASSERT_EQ(got, reference_md5(source, length[l]))
                        << (at_end ? "ending at" : "starting at") << " the guard, lane " << l
                        << " length " << length[l];
                }
            }
        }
    }
}

TEST_P(lanes_test, ForcedPathReachesNewObjects) {
    ASSERT_TRUE(korvane::md5mb::force_path(GetParam()));
    EXPECT_EQ(korvane::md5mb::active_path(), GetParam());
    md5_lanes h;
    EXPECT_EQ(h.used_path(), GetParam());
    korvane::md5mb::reset_path();
    EXPECT_EQ(korvane::md5mb::active_path(), korvane::md5mb::best_path());
}

// Every path in the enum, so that a new width is tested without a new line.
std::vector<path> registered_paths() {
    std::vector<path> out;
    for (int i = 0; i < korvane::md5mb::path_count; ++i) {
        out.push_back(static_cast<path>(i));
    }
    return out;
}

INSTANTIATE_TEST_SUITE_P(Paths, lanes_test, testing::ValuesIn(registered_paths()),
                         [](const testing::TestParamInfo<path>& param) {
                             return std::string(korvane::md5mb::path_name(param.param));
                         });

TEST(Md5Lanes, UnsupportedPathsAreRefused) {
    using namespace korvane::md5mb;
    for (path p : {path::single, path::avx2, path::avx512}) {
        EXPECT_EQ(force_path(p), path_supported(p)) << path_name(p);
        if (!path_supported(p)) {
            EXPECT_EQ(md5_lanes(p).used_path(), path::single);
        }
    }
    reset_path();
    EXPECT_TRUE(path_supported(best_path()));
    EXPECT_TRUE(path_supported(path::single));
}

}  // namespace
