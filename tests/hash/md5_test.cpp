// MD5: RFC 1321 vectors, padding boundaries, streaming in pieces, the C
// interface's context handling, and the hasher wrapper.

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <string>

#include <korvane/hasher.h>

#include "support/temp_dir.h"

namespace {

const unsigned char* bytes(const std::string& s) {
    return reinterpret_cast<const unsigned char*>(s.data());
}

std::string hex(const unsigned char* d, int n) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (int i = 0; i < n; ++i) {
        out += digits[d[i] >> 4];
        out += digits[d[i] & 15];
    }
    return out;
}

std::string md5_hex(const std::string& s) {
    md5hasher h;
    h.init();
    h.update(bytes(s), static_cast<std::uint32_t>(s.size()));
    h.finalize();
    return hex(static_cast<const unsigned char*>(h.hash()), h.hash_size());
}

std::string counting_bytes(std::size_t n) {
    std::string s(n, '\0');
    for (std::size_t i = 0; i < n; ++i) {
        s[i] = static_cast<char>(i & 0xFF);
    }
    return s;
}

TEST(Md5, Rfc1321TestSuite) {
    EXPECT_EQ(md5_hex(""), "d41d8cd98f00b204e9800998ecf8427e");
    EXPECT_EQ(md5_hex("a"), "0cc175b9c0f1b6a831c399e269772661");
    EXPECT_EQ(md5_hex("abc"), "900150983cd24fb0d6963f7d28e17f72");
    EXPECT_EQ(md5_hex("message digest"), "f96b697d7cb7938d525a2f31aaf161d0");
    EXPECT_EQ(md5_hex("abcdefghijklmnopqrstuvwxyz"), "c3fcd3d76192e4007dfb496cca67e13b");
    EXPECT_EQ(md5_hex("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789"),
              "d174ab98d277d9f5a5611c2c9f419d9f");
    EXPECT_EQ(md5_hex("1234567890123456789012345678901234567890"
                      "1234567890123456789012345678901234567890"),
              "57edf4a22be3c955ac49da2e2107b67a");
}

TEST(Md5, PaddingBoundaries) {
    // Lengths where the 0x80 byte and the bit count just fit, just spill into
    // a second block, or start a block of their own.
    const struct {
        std::size_t length;
        const char* digest;
    } cases[] = {
        {55, "6912ee65fff2d9f9ce2508cddf8bcda0"},  {56, "51fdd1acda72405dfdfa03fcb85896d7"},
        {57, "5320ef4c17ef34a0cf2db763338d25eb"},  {63, "48a6295221902e8e0938f773a7185e72"},
        {64, "b2d3f56bc197fd985d5965079b5e7148"},  {65, "8bd7053801c768420faf816fadba971c"},
        {119, "1c772251899a7ff007400b888d6b2042"}, {120, "b7ba1efc6022e9ed272f00b8831e26e6"},
        {128, "37eff01866ba3f538421b30b7cbefcac"}, {1000, "cbecbdb0fdd5cec1e242493b6008cc79"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(md5_hex(counting_bytes(c.length)), c.digest) << "length " << c.length;
    }
}

TEST(Md5, LongInputs) {
    EXPECT_EQ(md5_hex(std::string(1000000, 'a')), "7707d6ae4e027c70eea2a935c2296f21");
    std::string pattern(1u << 20, '\0');
    for (std::size_t i = 0; i < pattern.size(); ++i) {
        pattern[i] = static_cast<char>((i * 7 + (i >> 8)) & 0xFF);
    }
    EXPECT_EQ(md5_hex(pattern), "85bfb9943e6f0cb09f0f52679e9eac2b");
}

TEST(Md5, PiecesOfAnySizeAndAlignmentGiveTheSameDigest) {
    const std::string data = korvane::testing::random_bytes(200000, 9);
    const std::string whole = md5_hex(data);
    std::mt19937 gen(10);
    for (int round = 0; round < 20; ++round) {
        md5hasher h;
        h.init();
        std::size_t pos = 0;
        while (pos < data.size()) {
            const std::size_t limit = (gen() % 4 == 0) ? 20000 : 130;
            const std::size_t piece = std::min<std::size_t>(gen() % (limit + 1), data.size() - pos);
            h.update(bytes(data) + pos, static_cast<std::uint32_t>(piece));
            pos += piece;
        }
        h.finalize();
        ASSERT_EQ(hex(static_cast<const unsigned char*>(h.hash()), 16), whole) << "round " << round;
    }
}

TEST(Md5, ZeroLengthUpdateChangesNothing) {
    md5_context a;
    MD5Init(&a);
    MD5Update(&a, reinterpret_cast<const unsigned char*>("abc"), 3);
    md5_context b = a;
    alignas(4) static const unsigned char aligned[4] = {};
    MD5Update(&b, aligned, 0);
    MD5Update(&b, nullptr, 0);
    EXPECT_EQ(std::memcmp(&a, &b, sizeof a), 0);
}

TEST(Md5, BitCountCarriesIntoHighWord) {
    md5_context c;
    MD5Init(&c);
    // 2^32 bits would take 512 MiB of input; start just below the carry.
    c.count[0] = 0xFFFFFFF8u;
    MD5Update(&c, reinterpret_cast<const unsigned char*>("x"), 1);
    EXPECT_EQ(c.count[0], 0u);
    EXPECT_EQ(c.count[1], 1u);
}

TEST(Md5, FinalZeroesContextAndDigestSurvives) {
    md5hasher h;
    h.init();
    h.update(reinterpret_cast<const unsigned char*>("abc"), 3);
    h.finalize();
    EXPECT_STREQ(h.hash_to_string(), L"900150983cd24fb0d6963f7d28e17f72");

    md5_context c;
    MD5Init(&c);
    MD5Update(&c, reinterpret_cast<const unsigned char*>("abc"), 3);
    unsigned char digest[16];
    MD5Final(digest, &c);
    EXPECT_EQ(hex(digest, 16), "900150983cd24fb0d6963f7d28e17f72");
    const md5_context zero{};
    EXPECT_EQ(std::memcmp(&c, &zero, sizeof c), 0);
}

TEST(Md5, CopyMidStreamContinuesIndependently) {
    const std::string data = korvane::testing::random_bytes(1000, 12);
    md5hasher a;
    a.init();
    a.update(bytes(data), 100);  // leaves bytes in the block buffer
    md5hasher b = a;
    a.update(bytes(data) + 100, 900);
    a.finalize();
    md5hasher c;
    c = b;
    b.update(bytes(data) + 100, 900);
    b.finalize();
    EXPECT_EQ(hex(static_cast<const unsigned char*>(a.hash()), 16), md5_hex(data));
    EXPECT_EQ(hex(static_cast<const unsigned char*>(b.hash()), 16), md5_hex(data));
    c.update(bytes(data) + 100, 900);
    c.finalize();
    EXPECT_EQ(hex(static_cast<const unsigned char*>(c.hash()), 16), md5_hex(data));
}

TEST(Md5, HasherIsReusableAfterFinalize) {
    md5hasher h;
    EXPECT_EQ(h.hash_size(), 16);
    for (int i = 0; i < 2; ++i) {
        h.init();
        h.update(reinterpret_cast<const unsigned char*>("abc"), 3);
        h.finalize();
        EXPECT_STREQ(h.hash_to_string(), L"900150983cd24fb0d6963f7d28e17f72");
    }
}

}  // namespace

// ---- inputs that end at, or start right after, an unreadable page ----

#include "support/guarded.h"

namespace {

TEST(Md5, ReadsNothingBeyondEitherEnd) {
    korvane::testing::guarded_region region(20000);
    KORVANE_REQUIRE_GUARD_PAGES(region);
    const std::string data = korvane::testing::random_bytes(20000, 22);
    for (std::size_t n : {0u, 1u, 55u, 56u, 63u, 64u, 65u, 119u, 120u, 127u, 128u, 129u, 1000u,
                          4095u, 4096u, 4097u, 20000u}) {
        const std::string piece = data.substr(0, n);
        const std::string expected = md5_hex(piece);
        for (const bool at_end : {true, false}) {
            const unsigned char* p = at_end ? region.at_end(piece) : region.at_start(piece);
            md5hasher h;
            h.init();
            h.update(p, static_cast<std::uint32_t>(n));
            h.finalize();
            EXPECT_EQ(hex(static_cast<const unsigned char*>(h.hash()), h.hash_size()), expected)
                << (at_end ? "ending at" : "starting at") << " the guard, length " << n;
        }
    }
}

}  // namespace
