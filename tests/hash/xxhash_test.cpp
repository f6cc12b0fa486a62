// XXH64, XXH3 and XXH128: digests that Debian's xxhsum 0.8.1 printed for the
// same bytes (-H1, -H3, -H2), at the lengths where the algorithms change
// their course (short inputs, 16, 128 and 240 bytes, stripes, blocks); the
// same digests from pieces of any size at any start alignment; a copy made
// mid-stream; a second use after init.

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include <korvane/xxhash_family.h>

#include "support/temp_dir.h"

namespace {

struct known {
    std::size_t length;
    const char* xxh64;
    const char* xxh3;
    const char* xxh128;
};

// The input of `length` is byte i = (7 i + 3) mod 256.
const known digests[] = {
    {0, "ef46db3751d8e999", "2d06800538d394c2", "99aa06d3014798d86001c324468d497f"},
    {1, "1f25c8d0bc1f4bb6", "13e608bc156defed", "22bbb76b211a39ba13e608bc156defed"},
    {3, "31d2363f52e564c9", "a9088dda485b481c", "ce31763cbf8245a5a9088dda485b481c"},
    {4, "9bb64b7d66ee9fda", "6d9253b16c8b1ed3", "47197970590746b1788a609154b0fe20"},
    {8, "dab99d95c6f90092", "60539db630471163", "e3bc8a5f461715553cd024e3d63a1588"},
    {9, "170bb6bf975b4c02", "feff668361d723a8", "c72c88247a9a56d7eafab1c7f123109f"},
    {16, "434850232b787be2", "b8c859b0f030b585", "ce0b9647ab24f88460d75c5e47d40a24"},
    {17, "1efa7025f1b97a7a", "714a04408e79b80f", "bfd327edcc2fbd12eeed7654312a26d7"},
    {32, "23c3c17ef790fd97", "19ff4ee1d6ba1a55", "4f130f27ab6baf45d761fd22e8ad5262"},
    {33, "50a7cfc7ba588784", "3e44983ad21679c8", "d15b272993d9830f4193c535612ac940"},
    {64, "0eb64b3ef6eeb01f", "287eb1fa9e4be2c1", "fed953fe6a8b2b63aa549d72c69cd267"},
    {65, "a383b724b2bd12f1", "829218de4d798646", "9f5580903f79bec343622ea01271a860"},
    {128, "46fbcfbf0150793f", "67425a03650261bf", "1b1962a096bac78bc580008b6c92ac53"},
    {129, "3eb5d118151c8303", "c664bf3311c6abc4", "293e4968c4619023bd91ce7ace4d385b"},
    {240, "42562f61ef11b5ae", "64556dc6b462a6cf", "ad46c1021b076bc704e0b5f034bee80b"},
    {241, "07cf94f8eba111b5", "8beadd3a8874fe17", "ac6c3492c3d6b45d8beadd3a8874fe17"},
    {255, "39ae55a29989206f", "b67b6637a76e6c39", "d054b43eb9c37cd3b67b6637a76e6c39"},
    {256, "00cfc5207dd8e201", "3c38817f6d79c0da", "77f21db933350c7e3c38817f6d79c0da"},
    {1024, "e6816a6e134b7a33", "9b81661c641c72b1", "18bc0eaca9a336369b81661c641c72b1"},
    {1025, "6385e21250a735ca", "806c2072ed713576", "bf447251cfa98d7c806c2072ed713576"},
    {4096, "796398cd432797cc", "d7428746842be37e", "1546867423105cd5d7428746842be37e"},
    {70000, "69298595064042f2", "1d77e8fd7db4e024", "753cfb056fbc84021d77e8fd7db4e024"},
    {1048577, "1a6c95bba854aa22", "c2b5ee5eaed7f47e", "d3745b4f82b965ddc2b5ee5eaed7f47e"},
};

std::vector<unsigned char> input(std::size_t length, std::size_t offset = 0) {
    std::vector<unsigned char> bytes(offset + length);
    for (std::size_t i = 0; i < length; ++i) {
        bytes[offset + i] = static_cast<unsigned char>((7 * i + 3) & 0xFF);
    }
    return bytes;
}

std::string hex(const hasher& h) {
    return korvane::testing::hex_text(h.hash(), static_cast<std::size_t>(h.hash_size()));
}

// Feeds `length` bytes from `offset` into the buffer in random pieces.
template <class kind>
std::string pieces_digest(std::size_t length, std::size_t offset, std::mt19937& random) {
    const std::vector<unsigned char> bytes = input(length, offset);
    kind h;
    h.init();
    std::size_t at = 0;
    while (at < length) {
        std::size_t piece = std::uniform_int_distribution<std::size_t>(0, 300)(random);
        piece = piece < length - at ? piece : length - at;
        h.update(bytes.data() + offset + at, static_cast<std::uint32_t>(piece));
        at += piece;
    }
    h.finalize();
    return hex(h);
}

template <class kind>
std::string whole_digest(std::size_t length) {
    const std::vector<unsigned char> bytes = input(length);
    kind h;
    h.init();
    h.update(bytes.data(), static_cast<std::uint32_t>(length));
    h.finalize();
    return hex(h);
}

TEST(XxHash, DigestsAsXxhsumPrintsThem) {
    for (const known& k : digests) {
        SCOPED_TRACE(k.length);
        EXPECT_EQ(whole_digest<xxh64hasher>(k.length), k.xxh64);
        EXPECT_EQ(whole_digest<xxh3hasher>(k.length), k.xxh3);
        EXPECT_EQ(whole_digest<xxh128hasher>(k.length), k.xxh128);
    }
    EXPECT_EQ(xxh64hasher().hash_size(), 8);
    EXPECT_EQ(xxh3hasher().hash_size(), 8);
    EXPECT_EQ(xxh128hasher().hash_size(), 16);
}

TEST(XxHash, PiecesOfAnySizeAtAnyAlignment) {
    std::mt19937 random(28);
    for (const known& k : digests) {
        if (k.length > 70000) {
            continue;
        }
        for (std::size_t offset = 0; offset < 16; offset += 5) {
            SCOPED_TRACE(testing::Message() << k.length << " bytes at " << offset);
            EXPECT_EQ(pieces_digest<xxh64hasher>(k.length, offset, random), k.xxh64);
            EXPECT_EQ(pieces_digest<xxh3hasher>(k.length, offset, random), k.xxh3);
            EXPECT_EQ(pieces_digest<xxh128hasher>(k.length, offset, random), k.xxh128);
        }
    }
}

// A copy taken mid-stream carries on alone; init starts the same object over.
template <class kind>
void copy_and_reuse(std::size_t length, const char* expected) {
    const std::vector<unsigned char> bytes = input(length);
    const auto half = static_cast<std::uint32_t>(length / 2);
    kind first;
    first.init();
    first.update(bytes.data(), 17);
    first.init();
    first.update(bytes.data(), half);
    kind second(first);
    second.update(bytes.data() + half, static_cast<std::uint32_t>(length - half));
    second.finalize();
    first.update(bytes.data() + half, static_cast<std::uint32_t>(length - half));
    first.finalize();
    EXPECT_EQ(hex(second), expected);
    EXPECT_EQ(hex(first), expected);
}

TEST(XxHash, CopiesAndReuse) {
    const known& k = digests[sizeof digests / sizeof digests[0] - 2];  // 70,000 bytes
    copy_and_reuse<xxh64hasher>(k.length, k.xxh64);
    copy_and_reuse<xxh3hasher>(k.length, k.xxh3);
    copy_and_reuse<xxh128hasher>(k.length, k.xxh128);
}

}  // namespace
