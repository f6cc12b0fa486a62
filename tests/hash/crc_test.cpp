// CRC-32: the hasher's contract, and every computation path against an
// independent bit-at-a-time CRC.

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include <korvane/hasher.h>

#include "hash/crc32_paths.h"
#include "support/temp_dir.h"

namespace {

using korvane::crc32::path;

// Straight from the definition, sharing nothing with the library's tables.
std::uint32_t bitwise_crc(std::uint32_t reg, const unsigned char* p, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) {
        reg ^= p[i];
        for (int bit = 0; bit < 8; ++bit) {
            reg = (reg >> 1) ^ (0xEDB88320u & (0u - (reg & 1u)));
        }
    }
    return reg;
}

const unsigned char* bytes(const std::string& s) {
    return reinterpret_cast<const unsigned char*>(s.data());
}

std::uint32_t value_of(const crc& c) {
    std::uint32_t v;
    std::memcpy(&v, c.hash(), sizeof v);
    return v;
}

std::uint32_t crc_of(const std::string& s) {
    crc c;
    c.init();
    c.update(bytes(s), static_cast<std::uint32_t>(s.size()));
    c.finalize();
    return value_of(c);
}

TEST(Crc, KnownValues) {
    EXPECT_EQ(crc_of("123456789"), 0xCBF43926u);
    EXPECT_EQ(crc_of(""), 0x00000000u);
    EXPECT_EQ(crc_of("a"), 0xE8B7BE43u);
    EXPECT_EQ(crc_of("The quick brown fox jumps over the lazy dog"), 0x414FA339u);

    crc c;
    EXPECT_EQ(c.hash_size(), 4);
    c.init();
    c.update(reinterpret_cast<const unsigned char*>("123456789"), 9);
    c.finalize();
    // The digest is the 32-bit value, least significant byte first.
    const auto* d = static_cast<const unsigned char*>(c.hash());
    EXPECT_EQ(d[0], 0x26);
    EXPECT_EQ(d[3], 0xCB);
    EXPECT_STREQ(c.hash_to_string(), L"2639f4cb");
}

TEST(Crc, EmptyInputRendersAsZeros) {
    crc c;
    c.init();
    c.finalize();
    EXPECT_STREQ(c.hash_to_string(), L"00000000");
}

TEST(Crc, ZeroLengthUpdateChangesNothing) {
    alignas(4) static const unsigned char aligned[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    crc c;
    c.init();
    c.update(aligned, 3);
    const std::uint32_t before = value_of(c);
    c.update(aligned, 0);      // aligned address, length a multiple of 4
    c.update(aligned + 1, 0);  // unaligned
    c.update(nullptr, 0);
    EXPECT_EQ(value_of(c), before);
}

TEST(Crc, SecondFinalizeComplementsAgain) {
    crc c;
    c.init();
    c.update(reinterpret_cast<const unsigned char*>("123456789"), 9);
    c.finalize();
    c.finalize();
    EXPECT_EQ(value_of(c), ~0xCBF43926u);
}

TEST(Crc, InitDiscardsPreviousComputation) {
    crc c;
    c.init();
    c.update(reinterpret_cast<const unsigned char*>("garbage"), 7);
    c.init();
    c.update(reinterpret_cast<const unsigned char*>("123456789"), 9);
    c.finalize();
    EXPECT_EQ(value_of(c), 0xCBF43926u);
}

TEST(Crc, CopyMidStreamContinuesIndependently) {
    const std::string data = korvane::testing::random_bytes(5000, 7);
    crc a;
    a.init();
    a.update(bytes(data), 1234);
    crc b = a;
    a.update(bytes(data) + 1234, 5000 - 1234);
    b.update(bytes(data) + 1234, 5000 - 1234);
    a.finalize();
    b.finalize();
    EXPECT_EQ(value_of(a), value_of(b));
    EXPECT_EQ(value_of(a), ~bitwise_crc(0xFFFFFFFFu, bytes(data), data.size()));
}

TEST(CrcCombine, TwoPiecesGiveTheCrcOfTheWhole) {
    const std::string data = korvane::testing::random_bytes(70000, 19);
    std::mt19937 random(23);
    std::vector<std::size_t> splits = {0, 1, 63, 64, 65, data.size() - 1, data.size()};
    for (int i = 0; i < 200; ++i) {
        splits.push_back(random() % (data.size() + 1));
    }
    for (std::size_t split : splits) {
        const std::string first = data.substr(0, split);
        const std::string second = data.substr(split);
        EXPECT_EQ(korvane::crc32::combine(crc_of(first), crc_of(second), second.size()),
                  crc_of(data))
            << "split at " << split;
    }
}

TEST(CrcCombine, HoldsForPiecesOfManyGigabytes) {
    using korvane::crc32::combine;
    // 2^28 zero bytes hashed directly agree with 2^20 of them doubled eight
    // times by combination.
    const std::string zeros(1u << 20, '\0');
    crc direct;
    direct.init();
    for (int i = 0; i < 256; ++i) {
        direct.update(bytes(zeros), static_cast<std::uint32_t>(zeros.size()));
    }
    direct.finalize();
    std::uint32_t doubled = crc_of(zeros);
    for (std::uint64_t length = zeros.size(); length < (std::uint64_t{1} << 28); length *= 2) {
        doubled = combine(doubled, doubled, length);
    }
    EXPECT_EQ(doubled, value_of(direct));

    // Beyond what a test can hash: three pieces combined either way round
    // agree, whatever their lengths, up to the sum of two of them in a 64-bit count.
    const std::uint64_t lengths[] = {(std::uint64_t{1} << 33) + 7, (std::uint64_t{1} << 40) - 1,
                                     std::uint64_t{1} << 62, 12345};
    for (std::uint64_t b : lengths) {
        for (std::uint64_t c : lengths) {
            const std::uint32_t x = 0x12345678u, y = 0x9ABCDEF0u, z = 0x0F1E2D3Cu;
            EXPECT_EQ(combine(combine(x, y, b), z, c), combine(x, combine(y, z, c), b + c))
                << b << " then " << c;
        }
    }
}

TEST(CrcReference, MatchesBitwiseOnAlignedWordsAndOddBytes) {
    // The reference path has two branches: whole aligned words and bytes.
    alignas(64) unsigned char buf[4096 + 8];
    const std::string data = korvane::testing::random_bytes(sizeof buf, 11);
    std::memcpy(buf, data.data(), sizeof buf);
    for (std::size_t offset : {0u, 1u, 2u, 3u, 4u}) {
        for (std::size_t n : {4u, 8u, 12u, 5u, 4096u, 4095u}) {
            EXPECT_EQ(korvane::crc32::update_reference(0x12345678u, buf + offset, n),
                      bitwise_crc(0x12345678u, buf + offset, n))
                << "offset " << offset << " length " << n;
        }
    }
}

// ---- every path, forced ----

class CrcPath : public ::testing::TestWithParam<path> {
  protected:
    void SetUp() override {
        if (!korvane::crc32::path_supported(GetParam())) {
            GTEST_SKIP() << korvane::crc32::path_name(GetParam()) << " not supported here";
        }
    }
    void TearDown() override { korvane::crc32::reset_path(); }

    std::uint32_t run(std::uint32_t reg, const unsigned char* p, std::size_t n) const {
        return korvane::crc32::update_with(GetParam(), reg, p, n);
    }
};

TEST_P(CrcPath, MatchesBitwiseForManyLengths) {
    const std::string data = korvane::testing::random_bytes(70000, 1);
    std::vector<std::size_t> lengths;
    for (std::size_t n = 0; n <= 1100; ++n) {
        lengths.push_back(n);
    }
    // Around every block size and accumulator span the folding paths use,
    // and a few larger sizes that run the main loops many times.
    for (std::size_t base : {2048u, 4096u, 8192u, 65536u}) {
        for (std::size_t d = 0; d <= 40; ++d) {
            lengths.push_back(base - 20 + d);
        }
    }
    std::mt19937 gen(3);
    for (std::size_t n : lengths) {
        const std::uint32_t start = n % 3 == 0 ? 0xFFFFFFFFu : static_cast<std::uint32_t>(gen());
        ASSERT_EQ(run(start, bytes(data), n), bitwise_crc(start, bytes(data), n)) << "length " << n;
    }
}

TEST_P(CrcPath, MatchesBitwiseAtEveryStartAlignment) {
    const std::string data = korvane::testing::random_bytes(8192 + 128, 2);
    // Copy into a buffer whose start is 64-byte aligned so offsets are exact.
    std::vector<unsigned char> storage(data.size() + 64);
    unsigned char* base = storage.data();
    base += (64 - reinterpret_cast<std::uintptr_t>(base) % 64) % 64;
    std::memcpy(base, data.data(), data.size());
    for (std::size_t align = 0; align < 64; ++align) {
        for (std::size_t n :
             {1u,   3u,   15u,  16u,  17u,  31u,  32u,  33u,  63u,   64u,   65u,  127u,
              128u, 129u, 255u, 256u, 257u, 319u, 511u, 512u, 1000u, 4129u, 8192u}) {
            ASSERT_EQ(run(0xFFFFFFFFu, base + align, n), bitwise_crc(0xFFFFFFFFu, base + align, n))
                << "alignment " << align << " length " << n;
        }
    }
}

TEST_P(CrcPath, DrivesCrcUpdateWhenForcedAndSurvivesRandomSplits) {
    ASSERT_TRUE(korvane::crc32::force_path(GetParam()));
    EXPECT_EQ(korvane::crc32::active_path(), GetParam());
    EXPECT_EQ(crc_of("123456789"), 0xCBF43926u);

    const std::string data = korvane::testing::random_bytes(300000, 4);
    const std::uint32_t expected = ~bitwise_crc(0xFFFFFFFFu, bytes(data), data.size());
    std::mt19937 gen(5);
    for (int round = 0; round < 20; ++round) {
        crc c;
        c.init();
        std::size_t pos = 0;
        while (pos < data.size()) {
            // Mostly small pieces, sometimes large ones, so both the short
            // fallbacks and the wide loops meet arbitrary boundaries.
            const std::size_t limit = (gen() % 4 == 0) ? 70000 : 300;
            const std::size_t piece = std::min<std::size_t>(gen() % (limit + 1), data.size() - pos);
            c.update(bytes(data) + pos, static_cast<std::uint32_t>(piece));
            pos += piece;
        }
        c.finalize();
        ASSERT_EQ(value_of(c), expected) << "round " << round;
    }
}

// Walked by number, so that a path added to the enum is tested without a new
// line here.
std::vector<path> registered_paths() {
    std::vector<path> out;
    for (int i = 0; i < korvane::crc32::path_count; ++i) {
        out.push_back(static_cast<path>(i));
    }
    return out;
}

INSTANTIATE_TEST_SUITE_P(AllPaths, CrcPath, ::testing::ValuesIn(registered_paths()),
                         [](const ::testing::TestParamInfo<path>& param) {
                             return std::string(korvane::crc32::path_name(param.param));
                         });

TEST(CrcDispatch, AutomaticChoiceIsSupportedAndRestorable) {
    using namespace korvane::crc32;
    EXPECT_TRUE(path_supported(path::reference));
    EXPECT_TRUE(path_supported(path::slicing16));
    EXPECT_TRUE(path_supported(best_path()));
    // A wider path implies the narrower ones on the same CPU.
    if (path_supported(path::vpclmul512)) {
        EXPECT_TRUE(path_supported(path::vpclmul256));
    }
    if (path_supported(path::vpclmul256)) {
        EXPECT_TRUE(path_supported(path::pclmul));
    }
    ASSERT_TRUE(force_path(path::reference));
    reset_path();
    EXPECT_EQ(active_path(), best_path());
    EXPECT_FALSE(force_path(static_cast<path>(path_count)));
    EXPECT_EQ(active_path(), best_path());
}

}  // namespace

// ---- inputs that end at, or start right after, an unreadable page ----
//
// A vector load that reaches past the last byte (or before the first) faults
// here, where an ordinary buffer would hand it a neighbour's bytes.

#include "support/guarded.h"

namespace {

TEST_P(CrcPath, ReadsNothingBeyondEitherEnd) {
    korvane::testing::guarded_region region(70000);
    KORVANE_REQUIRE_GUARD_PAGES(region);
    const std::string data = korvane::testing::random_bytes(70000, 21);
    std::vector<std::size_t> lengths;
    for (std::size_t n = 0; n <= 600; ++n) {
        lengths.push_back(n);
    }
    for (std::size_t n : {1023u, 1024u, 1025u, 4095u, 4096u, 4097u, 65535u, 70000u}) {
        lengths.push_back(n);
    }
    for (std::size_t n : lengths) {
        const std::string_view piece(data.data(), n);
        const std::uint32_t expected = bitwise_crc(0xFFFFFFFFu, bytes(data), n);
        ASSERT_EQ(run(0xFFFFFFFFu, region.at_end(piece), n), expected)
            << "ending at the guard, length " << n;
        ASSERT_EQ(run(0xFFFFFFFFu, region.at_start(piece), n), expected)
            << "starting at the guard, length " << n;
    }
}

}  // namespace

// ---- a build of the portable paths alone ----

#include "hash/md5_lanes.h"
#include "hash/sha_lanes.h"
#include "hash/sha_paths.h"

namespace {

TEST(PortableBuild, OffersOnlyThePortablePaths) {
#if !defined(KORVANE_PORTABLE)
    GTEST_SKIP() << "a build with the CPU-specific paths";
#else
    using korvane::crc32::path;
    for (path p : {path::pclmul, path::vpclmul256, path::vpclmul512}) {
        EXPECT_FALSE(korvane::crc32::path_supported(p)) << korvane::crc32::path_name(p);
    }
    EXPECT_EQ(korvane::crc32::best_path(), path::slicing16);
    for (int a = 0; a < korvane::sha::algorithm_count; ++a) {
        const auto algorithm = static_cast<korvane::sha::algorithm>(a);
        EXPECT_EQ(korvane::sha::best_path(algorithm), korvane::sha::path::portable);
        for (int p = 1; p < korvane::sha::path_count; ++p) {
            EXPECT_FALSE(
                korvane::sha::path_supported(algorithm, static_cast<korvane::sha::path>(p)));
        }
    }
    EXPECT_EQ(korvane::md5mb::best_path(), korvane::md5mb::path::single);
    EXPECT_FALSE(korvane::md5mb::path_supported(korvane::md5mb::path::avx2));
    EXPECT_FALSE(korvane::md5mb::path_supported(korvane::md5mb::path::avx512));
    for (auto a : {korvane::sha::algorithm::sha1, korvane::sha::algorithm::sha256}) {
        EXPECT_EQ(korvane::shamb::best_path(a), korvane::shamb::path::single);
        EXPECT_FALSE(korvane::shamb::path_supported(a, korvane::shamb::path::shani));
    }
#endif
}

}  // namespace
