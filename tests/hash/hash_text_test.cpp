// The text form of digests: rotation of the four buffers, caller-supplied
// digests, and concurrent callers.

#include <gtest/gtest.h>

#include <cstdint>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <korvane/hasher.h>

#include "hash/hashers.h"

namespace {

crc finished_crc(const char* text, std::uint32_t length) {
    crc c;
    c.init();
    c.update(reinterpret_cast<const unsigned char*>(text), length);
    c.finalize();
    return c;
}

TEST(HashText, FifthCallReusesFirstBufferAndKeepsTheOthers) {
    crc c = finished_crc("123456789", 9);
    const std::uint32_t values[5] = {0x00000001u, 0xA1B2C3D4u, 0xFFFFFFFFu, 0x0F0F0F0Fu,
                                     0x12345678u};
    const wchar_t* texts[5];
    for (int i = 0; i < 5; ++i) {
        texts[i] = c.hash_to_string(&values[i]);
    }
    EXPECT_EQ(texts[4], texts[0]);
    EXPECT_STREQ(texts[1], L"d4c3b2a1");
    EXPECT_STREQ(texts[2], L"ffffffff");
    EXPECT_STREQ(texts[3], L"0f0f0f0f");
    EXPECT_STREQ(texts[4], L"78563412");
    std::set<const wchar_t*> distinct(texts, texts + 4);
    EXPECT_EQ(distinct.size(), 4u);
}

TEST(HashText, NullRendersOwnDigestAndCopiesKeepTheirBuffers) {
    crc c = finished_crc("123456789", 9);
    const wchar_t* own = c.hash_to_string(nullptr);
    EXPECT_STREQ(own, L"2639f4cb");

    // A copy carries the text buffers with it but writes only its own.
    crc copy = c;
    const std::uint32_t other = 0;
    EXPECT_STREQ(copy.hash_to_string(&other), L"00000000");
    EXPECT_STREQ(own, L"2639f4cb");

    md5hasher m;
    m.init();
    m.finalize();
    EXPECT_STREQ(m.hash_to_string(), L"d41d8cd98f00b204e9800998ecf8427e");
}

TEST(HashText, FourConcurrentCallersGetFourBuffers) {
    md5hasher m;
    m.init();
    m.update(reinterpret_cast<const unsigned char*>("abc"), 3);
    m.finalize();
    std::vector<const wchar_t*> results(4);
    std::vector<std::thread> threads;
    for (int i = 0; i < 4; ++i) {
        threads.emplace_back([&m, &results, i] { results[i] = m.hash_to_string(); });
    }
    for (auto& t : threads) {
        t.join();
    }
    std::set<const wchar_t*> distinct(results.begin(), results.end());
    EXPECT_EQ(distinct.size(), 4u);
    for (const wchar_t* r : results) {
        EXPECT_STREQ(r, L"900150983cd24fb0d6963f7d28e17f72");
    }
}

}  // namespace

// Every algorithm the workers can be asked for makes a hasher whose digest has
// the size the rest of the library assumes for it, and the same "abc" digest
// as a hasher made directly.
TEST(MadeHashers, EveryAlgorithmMakesItsOwnKind) {
    using algorithm = file_jobs::algorithm;
    const algorithm kinds[] = {algorithm::crc32,  algorithm::md5,    algorithm::sha1,
                               algorithm::sha256, algorithm::sha512, algorithm::blake3,
                               algorithm::xxh64,  algorithm::xxh3,   algorithm::xxh128};
    const char* abc_prefixes[] = {"c2412435",         "900150983cd24fb0", "a9993e364706816a",
                                  "ba7816bf8f01cfea", "ddaf35a193617aba", "6437b3ac38465133",
                                  "44bc2cf5ad770999", "78af5f94892f3950", "06b05ab6733a6185"};
    for (int i = 0; i < 9; ++i) {
        auto made = korvane::detail::make_hasher(kinds[i]);
        ASSERT_TRUE(made);
        EXPECT_EQ(made->hash_size(), korvane::detail::digest_size_of(kinds[i]));
        made->init();
        made->update(reinterpret_cast<const unsigned char*>("abc"), 3);
        made->finalize();
        const std::wstring text = made->hash_to_string();
        const std::string prefix = abc_prefixes[i];
        EXPECT_EQ(text.substr(0, prefix.size()), std::wstring(prefix.begin(), prefix.end())) << i;
    }
}
