// Collections of real size: hundreds of thousands of entries, files past 4 GiB.
#include <korvane/hasher.h>

#include <fstream>
#include <vector>

#include "support/cli.h"

namespace korvane::testing {
namespace {

class Scale : public cli_test {};

std::size_t count_of(const std::string& text, const std::string& what) {
    std::size_t count = 0;
    for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) {
        ++count;
    }
    return count;
}

// More entries than the tag has bits for: the entries past its capacity are
// hashed on every run, the others are skipped once verified.
TEST_F(Scale, ThreeHundredThousandEntriesWithTheTag) {
    constexpr int folders = 300;
    constexpr int per_folder = 1000;
    constexpr int total = folders * per_folder;
    constexpr int tag_capacity = 262144;
    for (int d = 0; d < folders; ++d) {
        auto folder = dir / ("tree/d" + std::to_string(d));
        std::filesystem::create_directories(folder);
        for (int f = 0; f < per_folder; ++f) {
            std::ofstream(folder / ("f" + std::to_string(f))) << d << ' ' << f;
        }
    }
    let_time_pass();

    auto create = korvane({"-q", "-r", "-c", "all.sfv", "tree"});
    ASSERT_EQ(create.status, 0) << create.err;
    auto first = korvane({"-q", "all.sfv"});
    ASSERT_EQ(first.status, 0) << first.err;
    EXPECT_EQ(first.out, std::to_string(total) + " files checked\nAll files Ok\n");

    auto second = korvane({"all.sfv"});
    ASSERT_EQ(second.status, 0) << second.err;
    EXPECT_EQ(count_of(second.out, ": Previously verified Ok\n"), std::size_t{tag_capacity});
    EXPECT_EQ(count_of(second.out, ": Ok      "), std::size_t{total - tag_capacity});

    // Bounded memory: entries are kept compactly.
    for (const auto* run : {&create, &first, &second}) {
        EXPECT_LT(run->peak_memory_kib, 150u * 1024u);
    }
    std::printf("peak resident memory (KiB): create %llu, verify %llu, verify again %llu\n",
                create.peak_memory_kib, first.peak_memory_kib, second.peak_memory_kib);
}

// A creation holds what is in flight, never what it found: the files wait
// in a scratch log beside the list, the entries in the list's own scratch.
TEST_F(Scale, CreatingTwoHundredThousandFilesStaysInBoundedMemory) {
    constexpr int folders = 200;
    constexpr int per_folder = 1000;
    for (int d = 0; d < folders; ++d) {
        auto folder = dir / ("tree/d" + std::to_string(d));
        std::filesystem::create_directories(folder);
        for (int f = 0; f < per_folder; ++f) {
            std::ofstream(folder / ("file-" + std::to_string(f)));
        }
    }
    for (const char* list : {"all.sfv", "all.md5"}) {
        auto create = korvane({"-q", "-r", "-c", list, "tree"});
        ASSERT_EQ(create.status, 0) << create.err;
        EXPECT_EQ(count_of(dir.read(list), "\r\n"),
                  std::size_t{folders * per_folder} * (list[4] == 's' ? 2 : 1) + 3);
        EXPECT_LT(create.peak_memory_kib, 64u * 1024u) << list;
        std::printf("peak resident memory of %s (KiB): %llu\n", list, create.peak_memory_kib);
    }
    // An audit reports every file it finds unlisted as it goes: a list that
    // names a tenth of them, and a folder of the rest, costs no more.
    std::string tenth;
    for (int d = 0; d < folders; d += 10) {
        for (int f = 0; f < per_folder; ++f) {
            tenth += "d" + std::to_string(d) + "/file-" + std::to_string(f) + " 00000000\r\n";
        }
    }
    dir.write("tenth.sfv", tenth);
    auto audit = korvane({"-q", "--audit", "-p", "tree", "tenth.sfv"});
    EXPECT_EQ(audit.status, 1);
    EXPECT_EQ(count_of(audit.out, ": Not in list"), std::size_t{folders * per_folder * 9 / 10});
    EXPECT_LT(audit.peak_memory_kib, 64u * 1024u);
    std::printf("peak resident memory of the audit (KiB): %llu\n", audit.peak_memory_kib);
}

// A sparse file past 4 GiB: sizes, offsets and progress must not wrap at 32 bits.
TEST_F(Scale, AFileLargerThanFourGiB) {
    constexpr std::uintmax_t size = (std::uintmax_t{1} << 32) + 12345;
    { std::ofstream(dir / "big.bin"); }
    std::filesystem::resize_file(dir / "big.bin", size);
    // The same zeros, hashed here in pieces.
    crc expected;
    expected.init();
    std::vector<unsigned char> zeros(1 << 20);
    for (std::uintmax_t left = size; left > 0;) {
        auto piece = static_cast<std::uint32_t>(std::min<std::uintmax_t>(left, zeros.size()));
        expected.update(zeros.data(), piece);
        left -= piece;
    }
    expected.finalize();
    char text[16];
    std::snprintf(text, sizeof text, "%08X", *static_cast<const std::uint32_t*>(expected.hash()));

    auto create = korvane({"-q", "-c", "big.sfv", "big.bin"});
    ASSERT_EQ(create.status, 0);
    EXPECT_NE(dir.read("big.sfv").find("big.bin " + std::string(text) + "\r\n"), std::string::npos);
    EXPECT_NE(dir.read("big.sfv").find(";   4294979641  "), std::string::npos);
    auto md5 = korvane({"-q", "-c", "big.md5", "big.bin"});
    ASSERT_EQ(md5.status, 0);
    auto check = run({"md5sum", "--quiet", "-c", "big.md5"});
    EXPECT_EQ(check.status, 0) << check.out << check.err;
}

}  // namespace
}  // namespace korvane::testing
