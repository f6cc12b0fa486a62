// SHA-1, SHA-256 and SHA-512: the published example vectors on every path,
// every path's block function against the portable one at every length near
// the block and padding boundaries and every start alignment, pieces of any
// size, and the hasher interface.

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include <korvane/sha.h>

#include "hash/sha_paths.h"
#include "support/temp_dir.h"

namespace {

using korvane::sha::algorithm;
using korvane::sha::path;
namespace sha = korvane::sha;

const unsigned char* bytes(const std::string& s) {
    return reinterpret_cast<const unsigned char*>(s.data());
}

std::string hex(const void* digest, int n) {
    return korvane::testing::hex_text(digest, static_cast<std::size_t>(n));
}

template <typename H>
std::string digest_of(const std::string& s) {
    H h;
    h.init();
    h.update(bytes(s), static_cast<std::uint32_t>(s.size()));
    h.finalize();
    return hex(h.hash(), h.hash_size());
}

std::string counting_bytes(std::size_t n) {
    std::string s(n, '\0');
    for (std::size_t i = 0; i < n; ++i) {
        s[i] = static_cast<char>(i & 0xFF);
    }
    return s;
}

std::vector<path> supported_paths(algorithm a) {
    std::vector<path> out;
    for (int i = 0; i < sha::path_count; ++i) {
        if (sha::path_supported(a, static_cast<path>(i))) {
            out.push_back(static_cast<path>(i));
        }
    }
    return out;
}

// Forces a path for the lifetime of a scope.
class forced {
  public:
    forced(algorithm a, path p) : a_(a) { EXPECT_TRUE(sha::force_path(a, p)); }
    ~forced() { sha::reset_path(a_); }
    forced(const forced&) = delete;
    forced& operator=(const forced&) = delete;

  private:
    algorithm a_;
};

const std::string msg448 = "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq";
const std::string msg896 =
    "abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopqklmnopqr"
    "lmnopqrsmnopqrstnopqrstu";

struct vectors {
    const char* empty;
    const char* abc;
    const char* m448;
    const char* m896;
    const char* million_a;
    const char* lengths;  // digest of the digests of counting_bytes(0..300)
};

template <typename H>
void check_vectors(algorithm a, const vectors& v) {
    for (path p : supported_paths(a)) {
        forced f(a, p);
        SCOPED_TRACE(sha::path_name(p));
        EXPECT_EQ(digest_of<H>(""), v.empty);
        EXPECT_EQ(digest_of<H>("abc"), v.abc);
        EXPECT_EQ(digest_of<H>(msg448), v.m448);
        EXPECT_EQ(digest_of<H>(msg896), v.m896);
        EXPECT_EQ(digest_of<H>(std::string(1000000, 'a')), v.million_a);

        // Every length up to a few blocks: the 0x80 byte and the bit count
        // land at every place in the last one or two blocks.
        std::string all;
        for (std::size_t n = 0; n <= 300; ++n) {
            H h;
            h.init();
            const std::string m = counting_bytes(n);
            h.update(bytes(m), static_cast<std::uint32_t>(n));
            h.finalize();
            all.append(static_cast<const char*>(h.hash()), h.hash_size());
        }
        EXPECT_EQ(digest_of<H>(all), v.lengths);
    }
}

TEST(Sha, Sha1Vectors) {
    check_vectors<sha1hasher>(
        algorithm::sha1,
        {"da39a3ee5e6b4b0d3255bfef95601890afd80709", "a9993e364706816aba3e25717850c26c9cd0d89d",
         "84983e441c3bd26ebaae4aa1f95129e5e54670f1", "a49b2446a02c645bf419f995b67091253a04a259",
         "34aa973cd4c4daa4f61eeb2bdbad27316534016f", "d72ddaff10d3a5eed5157a8c23af4f64540384c4"});
}

TEST(Sha, Sha256Vectors) {
    check_vectors<sha256hasher>(
        algorithm::sha256, {"e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855",
                            "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad",
                            "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1",
                            "cf5b16a778af8380036ce59e7b0492370b249b11e8f07a51afac45037afee9d1",
                            "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0",
                            "ddbdb189f5834c274dbe603d6d2874adf7234fd8a075c3d1bfbadc2107a75676"});
}

TEST(Sha, Sha512Vectors) {
    check_vectors<sha512hasher>(
        algorithm::sha512,
        {"cf83e1357eefb8bdf1542850d66d8007d620e4050b5715dc83f4a921d36ce9ce47d0d13c5d85f2b0ff8318d2"
         "877eec2f63b931bd47417a81a538327af927da3e",
         "ddaf35a193617abacc417349ae20413112e6fa4e89a97ea20a9eeee64b55d39a2192992a274fc1a836ba3c23"
         "a3feebbd454d4423643ce80e2a9ac94fa54ca49f",
         "204a8fc6dda82f0a0ced7beb8e08a41657c16ef468b228a8279be331a703c33596fd15c13b1b07f9aa1d3bea"
         "57789ca031ad85c7a71dd70354ec631238ca3445",
         "8e959b75dae313da8cf4f72814fc143f8f7779c6eb9f7fa17299aeadb6889018501d289e4900f7e4331b99de"
         "c4b5433ac7d329eeb6dd26545e96e55b874be909",
         "e718483d0ce769644e2e42c7bc15b4638e1f98b13b2044285632a803afa973ebde0ff244877ea60a4cb0432c"
         "e577c31beb009c5c2c49aa2e4eadb217ad8cc09b",
         "d7ff5323ebbef9438546b104939504d6846f067dc41a135152e616e5fb701a72458ac9ce86a32dbf342659ca"
         "cb0a9237c21653d6bd379bd1f10a5a92f5c3f5d2"});
}

// Every path's block function gives the portable state for every block count
// up to a few dozen, from every start alignment, starting from a random state.
template <typename Word, typename Fn>
void compare_blocks(algorithm a, std::size_t block, int words, Fn (*function_of)(path)) {
    std::mt19937_64 rng(static_cast<unsigned>(a) * 7919u + 1);
    std::vector<unsigned char> data(block * 40 + 64);
    for (auto& b : data) {
        b = static_cast<unsigned char>(rng());
    }
    const Fn reference = function_of(path::portable);
    for (path p : supported_paths(a)) {
        if (p == path::portable) {
            continue;
        }
        SCOPED_TRACE(sha::path_name(p));
        const Fn candidate = function_of(p);
        for (std::size_t offset = 0; offset < 64; ++offset) {
            for (std::size_t blocks = 0; blocks <= 33; blocks += (offset % 8 == 0 ? 1 : 11)) {
                Word start[8];
                for (auto& w : start) {
                    w = static_cast<Word>(rng());
                }
                Word want[8], got[8];
                std::memcpy(want, start, sizeof start);
                std::memcpy(got, start, sizeof start);
                reference(want, data.data() + offset, blocks);
                candidate(got, data.data() + offset, blocks);
                ASSERT_EQ(0, std::memcmp(want, got, words * sizeof(Word)))
                    << "offset " << offset << " blocks " << blocks;
            }
        }
    }
}

TEST(Sha, PathsMatchPortableBlocks) {
    compare_blocks<std::uint32_t>(algorithm::sha1, 64, 5, sha::sha1_function);
    compare_blocks<std::uint32_t>(algorithm::sha256, 64, 8, sha::sha256_function);
    compare_blocks<std::uint64_t>(algorithm::sha512, 128, 8, sha::sha512_function);
}

// Whole messages of lengths around the block and padding boundaries, at every
// start alignment, fed whole and in random pieces, on every path, against the
// portable path fed whole.
template <typename H>
void compare_messages(algorithm a, std::size_t block) {
    std::mt19937_64 rng(static_cast<unsigned>(a) + 17);
    std::vector<std::size_t> lengths;
    for (std::size_t k = 0; k <= 4; ++k) {
        for (std::size_t d = 0; d <= 20; ++d) {
            const std::size_t centre = k * block;
            if (centre + d >= 10) {
                lengths.push_back(centre + d - 10);
            }
        }
        // Where the bit count no longer fits behind the 0x80 byte.
        const std::size_t tail = k * block + block - (block == 128 ? 16 : 8);
        for (std::size_t d = 0; d <= 4; ++d) {
            lengths.push_back(tail + d - 2);
        }
    }
    lengths.push_back(4096 + 7);
    lengths.push_back(65536 + 1);

    std::vector<unsigned char> data(70000 + 64);
    for (auto& b : data) {
        b = static_cast<unsigned char>(rng());
    }
    auto run = [&](const unsigned char* p, std::size_t n, bool pieces) {
        H h;
        h.init();
        std::size_t done = 0;
        while (done < n) {
            std::size_t piece = n - done;
            if (pieces) {
                const std::size_t limit = rng() % 3 == 0 ? 3 * block : block + 1;
                piece = std::min<std::size_t>(piece, rng() % (limit + 1));
            }
            h.update(p + done, static_cast<std::uint32_t>(piece));
            done += piece;
        }
        h.finalize();
        return hex(h.hash(), h.hash_size());
    };
    for (std::size_t n : lengths) {
        std::vector<std::string> want(64);
        {
            forced f(a, path::portable);
            for (std::size_t offset = 0; offset < 64; ++offset) {
                want[offset] = run(data.data() + offset, n, false);
            }
        }
        for (path p : supported_paths(a)) {
            forced f(a, p);
            for (std::size_t offset = 0; offset < 64; ++offset) {
                ASSERT_EQ(run(data.data() + offset, n, false), want[offset])
                    << sha::path_name(p) << " length " << n << " offset " << offset;
                ASSERT_EQ(run(data.data() + offset, n, true), want[offset])
                    << sha::path_name(p) << " in pieces, length " << n << " offset " << offset;
            }
        }
    }
}

TEST(Sha, PathsMatchPortableMessages) {
    compare_messages<sha1hasher>(algorithm::sha1, 64);
    compare_messages<sha256hasher>(algorithm::sha256, 64);
    compare_messages<sha512hasher>(algorithm::sha512, 128);
}

TEST(Sha, HasherInterface) {
    sha1hasher h1;
    sha256hasher h256;
    sha512hasher h512;
    EXPECT_EQ(h1.hash_size(), 20);
    EXPECT_EQ(h256.hash_size(), 32);
    EXPECT_EQ(h512.hash_size(), 64);

    // Reuse: a second computation starts afresh; empty updates (even from a
    // null pointer) change nothing.
    h256.init();
    h256.update(bytes("garbage"), 7);
    h256.finalize();
    h256.init();
    h256.update(nullptr, 0);
    h256.update(bytes("abc"), 3);
    h256.update(nullptr, 0);
    h256.finalize();
    EXPECT_EQ(std::wstring(h256.hash_to_string()),
              L"ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");

    // A copy taken mid-stream continues independently.
    h512.init();
    h512.update(bytes("ab"), 2);
    sha512hasher copy = h512;
    h512.update(bytes("c"), 1);
    h512.finalize();
    copy.update(bytes("x"), 1);
    copy.finalize();
    EXPECT_EQ(hex(h512.hash(), 64), digest_of<sha512hasher>("abc"));
    EXPECT_EQ(hex(copy.hash(), 64), digest_of<sha512hasher>("abx"));
    // The longest digest fits the text buffers, in lower case.
    EXPECT_EQ(std::wstring(h512.hash_to_string()).size(), 128u);
    EXPECT_EQ(std::wstring(h512.hash_to_string()),
              std::wstring(L"ddaf35a193617abacc417349ae20413112e6fa4e89a97ea20a9eeee64b55d39a"
                           L"2192992a274fc1a836ba3c23a3feebbd454d4423643ce80e2a9ac94fa54ca49f"));

    h1.init();
    h1.update(bytes("abc"), 3);
    h1.finalize();
    EXPECT_EQ(std::wstring(h1.hash_to_string()), L"a9993e364706816aba3e25717850c26c9cd0d89d");
}

TEST(Sha, ForcingPaths) {
    for (int i = 0; i < sha::algorithm_count; ++i) {
        const auto a = static_cast<algorithm>(i);
        EXPECT_TRUE(sha::path_supported(a, path::portable));
        EXPECT_TRUE(sha::path_supported(a, sha::best_path(a)));
        EXPECT_FALSE(sha::path_supported(a, static_cast<path>(sha::path_count)));
        EXPECT_FALSE(sha::force_path(a, static_cast<path>(-1)));
        EXPECT_TRUE(sha::force_path(a, path::portable));
        EXPECT_EQ(sha::active_path(a), path::portable);
        sha::reset_path(a);
        EXPECT_EQ(sha::active_path(a), sha::best_path(a));
    }
    // The SHA extensions have no SHA-512 instructions; the vector schedules
    // are SHA-512's only.
    EXPECT_FALSE(sha::path_supported(algorithm::sha512, path::shani));
    for (path p : {path::avx2, path::avx512}) {
        EXPECT_FALSE(sha::path_supported(algorithm::sha1, p));
        EXPECT_FALSE(sha::path_supported(algorithm::sha256, p));
    }
}

}  // namespace

// ---- every path, at an unreadable page on either side ----
//
// A vector load that reaches past the last block (or before the first) faults
// here, where an ordinary buffer would hand it a neighbour's bytes. The paths
// are walked by number, so a path added to the enum is tested here too.

#include "support/guarded.h"

namespace {

std::vector<path> registered_paths() {
    std::vector<path> out;
    for (int i = 0; i < sha::path_count; ++i) {
        out.push_back(static_cast<path>(i));
    }
    return out;
}

class ShaPath : public ::testing::TestWithParam<path> {
  protected:
    void SetUp() override {
        for (int i = 0; i < sha::algorithm_count; ++i) {
            if (sha::path_supported(static_cast<algorithm>(i), GetParam())) {
                return;
            }
        }
        GTEST_SKIP() << sha::path_name(GetParam()) << " not supported here for any algorithm";
    }
};

// The block function of `p` straight on the guarded bytes: whole blocks that
// end at the guard (they then start 64-byte aligned) or start right after it,
// and blocks at every other start alignment that end the rest of a block
// before the guard.
template <typename Word, typename Fn>
void blocks_at_guards(algorithm a, path p, std::size_t block, Fn (*function_of)(path)) {
    if (!sha::path_supported(a, p)) {
        return;
    }
    SCOPED_TRACE(sha::algorithm_name(a));
    korvane::testing::guarded_region region(block * 40 + 64);
    KORVANE_REQUIRE_GUARD_PAGES(region);
    const std::string data = korvane::testing::random_bytes(block * 40 + 64, 31);
    const Fn reference = function_of(path::portable);
    const Fn candidate = function_of(p);
    for (std::size_t blocks = 1; blocks <= 33; ++blocks) {
        for (std::size_t short_by = 0; short_by < 64; ++short_by) {
            const std::string_view piece(data.data(), blocks * block + short_by);
            Word want[8] = {}, got[8] = {};
            reference(want, bytes(data), blocks);
            candidate(got, region.at_end(piece), blocks);
            ASSERT_EQ(0, std::memcmp(want, got, sizeof want))
                << "ending " << short_by << " bytes before the guard, blocks " << blocks;
            if (short_by == 0) {
                std::memset(got, 0, sizeof got);
                candidate(got, region.at_start(piece), blocks);
                ASSERT_EQ(0, std::memcmp(want, got, sizeof want))
                    << "starting at the guard, blocks " << blocks;
            }
        }
    }
}

// The hasher with `p` forced, over messages that end at the guard from every
// start alignment and that start right after it, against the portable path.
template <typename H>
void messages_at_guards(algorithm a, path p, std::size_t block) {
    if (!sha::path_supported(a, p)) {
        return;
    }
    SCOPED_TRACE(sha::algorithm_name(a));
    korvane::testing::guarded_region region(4 * block + 4096 + 64);
    KORVANE_REQUIRE_GUARD_PAGES(region);
    const std::string data = korvane::testing::random_bytes(4 * block + 4096 + 64, 32);
    for (std::size_t base : {std::size_t{0}, block, 3 * block, std::size_t{4096}}) {
        for (std::size_t n = base; n < base + 64; ++n) {
            const std::string piece = data.substr(0, n);
            std::string want;
            {
                forced f(a, path::portable);
                want = digest_of<H>(piece);
            }
            forced f(a, p);
            for (const bool at_end : {true, false}) {
                H h;
                h.init();
                h.update(at_end ? region.at_end(piece) : region.at_start(piece),
                         static_cast<std::uint32_t>(n));
                h.finalize();
                ASSERT_EQ(hex(h.hash(), h.hash_size()), want)
                    << (at_end ? "ending at" : "starting at") << " the guard, length " << n;
            }
        }
    }
}

TEST_P(ShaPath, BlocksReadNothingBeyondEitherEnd) {
    blocks_at_guards<std::uint32_t>(algorithm::sha1, GetParam(), 64, sha::sha1_function);
    blocks_at_guards<std::uint32_t>(algorithm::sha256, GetParam(), 64, sha::sha256_function);
    blocks_at_guards<std::uint64_t>(algorithm::sha512, GetParam(), 128, sha::sha512_function);
}

TEST_P(ShaPath, MessagesReadNothingBeyondEitherEnd) {
    messages_at_guards<sha1hasher>(algorithm::sha1, GetParam(), 64);
    messages_at_guards<sha256hasher>(algorithm::sha256, GetParam(), 64);
    messages_at_guards<sha512hasher>(algorithm::sha512, GetParam(), 128);
}

INSTANTIATE_TEST_SUITE_P(AllPaths, ShaPath, ::testing::ValuesIn(registered_paths()),
                         [](const ::testing::TestParamInfo<path>& param) {
                             return std::string(sha::path_name(param.param));
                         });

}  // namespace
