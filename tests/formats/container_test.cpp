// What every checksum file shares: line reading, opening only regular files,
// and creating a new list beside its target.
#include <gtest/gtest.h>

#include <korvane/md5.h>
#include <korvane/sfv.h>
#include <korvane/status.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "formats/base64.h"
#include "formats/lines.h"
#include "formats_test.h"
#include "support/target.h"

namespace korvane::testing {
namespace {

namespace fs = std::filesystem;

// Reaches the shared line reader through a concrete format.
class line_reader : public md5 {
  public:
    using md5::readFileString;
};

std::vector<std::wstring> lines_of(const temp_dir& dir, const std::string& bytes, int count) {
    auto path = dir.write("lines.txt", bytes);
    line_reader reader;
    EXPECT_EQ(reader.open(wide(path).c_str()), 0);
    std::vector<std::wstring> lines;
    std::vector<wchar_t> buffer(static_cast<std::size_t>(count));
    int result;
    while ((result = reader.readFileString(buffer.data(), count)) > 0) {
        EXPECT_EQ(static_cast<std::size_t>(result), std::wcslen(buffer.data()));
        lines.emplace_back(buffer.data());
    }
    EXPECT_EQ(result, 0);
    return lines;
}

TEST(ContainerLines, LineEndsAndEmptyLines) {
    temp_dir dir;
    using v = std::vector<std::wstring>;
    EXPECT_EQ(lines_of(dir, "abc\r\n", 64), v{L"abc"});
    EXPECT_EQ(lines_of(dir, "abc\r\r\n", 64), v{L"abc\r"});
    EXPECT_EQ(lines_of(dir, "a\rb\nc", 64), (v{L"a\rb", L"c"}));
    EXPECT_EQ(lines_of(dir, "\n\r\n\n\r\n", 64), v{});
    EXPECT_EQ(lines_of(dir, "", 64), v{});
    EXPECT_EQ(lines_of(dir, "one\n\n\ntwo\r\n\r\nthree", 64), (v{L"one", L"two", L"three"}));
    // Bytes 128..255 become the units of the same value.
    EXPECT_EQ(lines_of(dir, "\xe4\xff\x80\n", 64), v{L"\u00e4\u00ff\u0080"});
}

TEST(ContainerLines, LongLinesComeInPieces) {
    temp_dir dir;
    using v = std::vector<std::wstring>;
    std::string twenty = "abcdefghijklmnopqrst";
    EXPECT_EQ(lines_of(dir, twenty + "\n", 10), (v{L"abcdefghi", L"jklmnopqr", L"st"}));
    // A line that exactly fills the room leaves only its line end, which reads
    // as an empty line and is skipped, also when the line end is CR LF.
    EXPECT_EQ(lines_of(dir, "abcdefghi\r\nx\n", 10), (v{L"abcdefghi", L"x"}));
    // CR LF split across the pieces still ends the line.
    EXPECT_EQ(lines_of(dir, "abcdefgh\r\nx\n", 10), (v{L"abcdefgh", L"x"}));
    // Across the internal buffer boundary.
    std::string big(70000, 'z');
    auto lines = lines_of(dir, big + "\r\n" + "tail", 100000);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].size(), big.size());
    EXPECT_EQ(lines[1], L"tail");
}

TEST(ContainerLines, NoOpenFileGivesFileNotFound) {
    line_reader reader;
    wchar_t buffer[16];
    EXPECT_EQ(reader.readFileString(buffer, 16), korvane_status::file_not_found);
    sfv list;
    EXPECT_EQ(list.close(), 0);
}

TEST(ContainerOpen, OnlyRegularFilesAndRepresentablePaths) {
    temp_dir dir;
    sfv list;
    md5 sums;
    EXPECT_EQ(list.open(wide(dir / "missing.sfv").c_str()), korvane_status::file_not_found);
    EXPECT_EQ(sums.open(wide(dir / "missing.md5").c_str()), korvane_status::file_not_found);
    // A directory and a FIFO are refused at once; the FIFO open never blocks.
    EXPECT_EQ(list.open(wide(dir.path()).c_str()), korvane_status::access_denied);
    EXPECT_EQ(sums.open(wide(dir.path()).c_str()), korvane_status::access_denied);
    EXPECT_EQ(list.create(wide(dir.path()).c_str()), korvane_status::access_denied);
    // A unit above 255 has no byte form on POSIX: nothing is opened or
    // created. Windows names files in UTF-16, where it is an ordinary name.
    std::wstring odd = wide(dir / "x") + L"\u0100.sfv";
    EXPECT_EQ(list.create(odd.c_str()), per_target(korvane_status::path_error, 0));
    const int odd_open = per_target(korvane_status::path_error, korvane_status::file_not_found);
    EXPECT_EQ(list.open(odd.c_str()), odd_open);
    EXPECT_EQ(sums.open(odd.c_str()), odd_open);
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 0);
}

TEST(ContainerOpen, FifoIsRefusedWithoutBlocking) {
    temp_dir dir;
    auto fifo = dir / "pipe.sfv";
    if (std::system(("mkfifo '" + fifo.string() + "'").c_str()) != 0) {
        GTEST_SKIP() << "mkfifo not available";
    }
    sfv list;
    md5 sums;
    EXPECT_EQ(list.open(wide(fifo).c_str()), korvane_status::access_denied);
    EXPECT_EQ(sums.open(wide(fifo).c_str()), korvane_status::access_denied);
    EXPECT_EQ(sums.create(wide(fifo).c_str()), korvane_status::access_denied);
    EXPECT_TRUE(fs::is_fifo(fifo));
}

TEST(ContainerCreate, FailedRunLeavesOldListUntouched) {
    temp_dir dir;
    auto target = dir.write("list.md5", "old list\r\n");
    {
        md5 sums;
        ASSERT_EQ(sums.create(wide(target).c_str()), 0);
        unsigned char digest[16] = {1};
        EXPECT_EQ(sums.addFile(L"a.txt", digest), 0);
        // Destroyed without close, as a run that stops at an unreadable file.
    }
    EXPECT_EQ(read_file(target), "old list\r\n");
    // Nothing is left beside it.
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 1);
}

TEST(ContainerCreate, CloseReplacesTargetAndKeepsItsPermissions) {
    temp_dir dir;
    auto target = dir.write("list.sfv", "old\r\n");
    fs::permissions(target, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    sfv list;
    ASSERT_EQ(list.create(wide(target).c_str()), 0);
    EXPECT_EQ(read_file(target), "old\r\n");  // nothing reaches the target before close
    std::uint32_t crc = 0;
    EXPECT_EQ(list.addFile(L"a.txt", &crc), 0);
    EXPECT_EQ(list.close(), 0);
    EXPECT_EQ(list.close(), 0);  // a second close does nothing
    EXPECT_NE(read_file(target).find("a.txt 00000000\r\n"), std::string::npos);
    if (!on_windows) {  // Windows keeps no permission bits beyond read-only
        EXPECT_EQ(fs::status(target).permissions() & fs::perms::all,
                  fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    }
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 1);
}

TEST(ContainerCreate, ReadOnlyTargetOrMissingFolderIsRefused) {
    temp_dir dir;
    auto target = dir.write("list.sfv", "old\r\n");
    sfv list;
    EXPECT_EQ(list.create(wide(dir / "no" / "list.sfv").c_str()), korvane_status::file_not_found);
    fs::permissions(target, fs::perms::owner_read);
    if (std::ofstream(target, std::ios::app)) {
        GTEST_SKIP() << "this user may write read-only files";
    }
    EXPECT_EQ(list.create(wide(target).c_str()), korvane_status::access_denied);
    EXPECT_EQ(list.open(wide(target).c_str()), korvane_status::access_denied);
    EXPECT_EQ(read_file(target), "old\r\n");
}

TEST(ContainerCreate, UnwritableNamesFailTheListWithoutTouchingIt) {
    temp_dir dir;
    auto target = dir.write("list.md5", "old\r\n");
    unsigned char digest[16] = {};
    {
        md5 sums;
        ASSERT_EQ(sums.create(wide(target).c_str()), 0);
        EXPECT_EQ(sums.addFile(L"ok.txt", digest), 0);
        EXPECT_EQ(sums.addFile(L"wide\u0101.txt", digest), 0);  // refused only when written
        EXPECT_EQ(sums.close(), korvane_status::unknown_error);
    }
    {
        // A line feed would split the entry line and could forge another entry.
        sfv list;
        ASSERT_EQ(list.create(wide(target).c_str()), 0);
        EXPECT_EQ(list.addFile(L"a\nfake.txt 00000000", digest), 0);
        EXPECT_EQ(list.close(), korvane_status::path_error);
    }
    EXPECT_EQ(read_file(target), "old\r\n");
}

TEST(ContainerEntries, LongListsAreKeptWholeAndFreed) {
    temp_dir dir;
    auto target = dir / "many.md5";
    md5 sums;
    ASSERT_EQ(sums.create(wide(target).c_str()), 0);
    unsigned char digest[16] = {};
    const int count = 300000;
    for (int i = 0; i < count; ++i) {
        std::wstring name = L"dir/file" + std::to_wstring(i);
        ASSERT_EQ(sums.addFile(name.c_str(), digest), 0);
    }
    ASSERT_EQ(sums.close(), 0);
    md5 reader;
    ASSERT_EQ(reader.open(wide(target).c_str()), 0);
    int end = 1;
    auto entries = read_all(reader, 16, end);
    EXPECT_EQ(end, 0);
    ASSERT_EQ(entries.size(), static_cast<std::size_t>(count));
    EXPECT_EQ(entries.back().name, L"dir/file299999");
}

TEST(Base64, EncodesAndDecodesLikeTheStandard) {
    using detail::base64_decode;
    using detail::base64_encode;
    const unsigned char bytes[] = {'f', 'o', 'o', 'b', 'a', 'r'};
    const char* expected[] = {"", "Zg==", "Zm8=", "Zm9v", "Zm9vYg==", "Zm9vYmE=", "Zm9vYmFy"};
    for (std::size_t n = 0; n <= 6; ++n) {
        std::string text;
        EXPECT_EQ(base64_encode(bytes, text, n), std::strlen(expected[n]));
        EXPECT_EQ(text, expected[n]);
        unsigned char back[8] = {};
        EXPECT_EQ(base64_decode(text, back, sizeof back), n);
        EXPECT_EQ(std::memcmp(back, bytes, n), 0);
    }
    unsigned char out[8] = {};
    EXPECT_EQ(base64_decode(" \tZm9v", out, 8), 3u);    // leading blanks skipped
    EXPECT_EQ(base64_decode("Zm9v!Zm9v", out, 8), 3u);  // stops outside the alphabet
    EXPECT_EQ(base64_decode("Zm9vY", out, 8), 3u);      // a lone last character: nothing
    EXPECT_EQ(base64_decode("Zm9vYmFy", out, 4), 4u);   // never more than asked
}

TEST(Calendar, UtcDatesFromTicks) {
    auto at = [](std::uint64_t unix_seconds) {
        return platform::utc_time_of((unix_seconds + 11644473600ULL) * 10000000ULL);
    };
    auto t = at(0);
    EXPECT_EQ((std::vector<int>{t.year, t.month, t.day, t.hour, t.minute, t.second}),
              (std::vector<int>{1970, 1, 1, 0, 0, 0}));
    t = at(951825599);  // 2000-02-29 11:59:59
    EXPECT_EQ((std::vector<int>{t.year, t.month, t.day, t.hour, t.minute, t.second}),
              (std::vector<int>{2000, 2, 29, 11, 59, 59}));
    t = platform::utc_time_of(0);
    EXPECT_EQ((std::vector<int>{t.year, t.month, t.day, t.hour}),
              (std::vector<int>{1601, 1, 1, 0}));
}

}  // namespace
}  // namespace korvane::testing

namespace korvane::testing {
namespace {

// Found by fuzzing. A zero byte cannot be part of a file name: delivered, the
// name would end at it and verification would check another file.
TEST(ContainerLines, ANameWithAZeroByteIsAnInvalidLine) {
    temp_dir dir;
    write_file(dir / "list.sfv", std::string("a.txt\0x 12345678\r\n", 19));
    write_file(dir / "list.md5", std::string(32, '0') + std::string(" *a.txt\0x\n", 11));
    sfv sfv_list;
    md5 md5_list;
    for (container* list :
         {static_cast<container*>(&sfv_list), static_cast<container*>(&md5_list)}) {
        const char* file = list == &sfv_list ? "list.sfv" : "list.md5";
        ASSERT_EQ(list->open(wide(dir / file).c_str()), 0);
        wchar_t name[264];
        std::uint64_t size = 0;
        unsigned char digest[16];
        EXPECT_EQ(list->getNextFile(name, 264, &size, digest), -6) << file;
        EXPECT_EQ(list->close(), 0) << file;
    }
}

}  // namespace
}  // namespace korvane::testing
