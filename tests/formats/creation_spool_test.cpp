// A list being created is written as its entries come, through buffers that
// overflow into scratch files no name refers to. Whatever the overflow, the
// list must come out byte for byte as before, nothing named may appear beside
// the target until close, and a failing write anywhere must leave the old
// list as it was and nothing else behind.
#include <gtest/gtest.h>

#include <korvane/md5.h>
#include <korvane/sfv.h>
#include <korvane/sha.h>
#include <korvane/status.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <string>
#include <tuple>
#include <vector>

#include "formats/spool.h"
#include "formats_test.h"
#include "platform/file.h"
#include "support/target.h"

namespace korvane::testing {
namespace {

namespace fs = std::filesystem;

// Small buffers, so that a few thousand entries overflow them many times.
struct small_buffers {
    explicit small_buffers(std::size_t bytes) { detail::set_spool_capacity(bytes); }
    ~small_buffers() {
        detail::set_spool_capacity(0);
        platform::inject_write_faults(0);
    }
};

constexpr std::int64_t unix_epoch_ticks = 116444736000000000LL;  // 1601 to 1970

struct entry {
    std::wstring name;
    std::string bytes;  // the name as the list holds it
    std::uint64_t size;
    std::uint64_t ticks;
    unsigned char digest[32];
};

// Names of every kind the lines treat differently: plain, quoted in SFV
// (a leading quote, ';' or '#', a trailing blank), units above ASCII, and
// some longer than a small buffer.
std::vector<entry> make_entries(int count) {
    std::vector<entry> entries;
    for (int i = 0; i < count; ++i) {
        entry e;
        std::string text = "photos/IMG_" + std::to_string(i) + ".jpg";
        switch (i % 7) {
            case 1:
                text = ";" + text;
                break;
            case 2:
                text = "\"" + text;
                break;
            case 3:
                text = "#" + text;
                break;
            case 4:
                text += " ";
                break;
            case 5:
                text += "\xE9t\xE9";
                break;
            default:
                break;
        }
        if (i % 997 == 0) {
            text += std::string(3000 + i % 500, 'x');
        }
        e.bytes = text;
        e.name = std::wstring(text.begin(), text.end());
        for (auto& unit : e.name) {
            unit = static_cast<wchar_t>(static_cast<unsigned char>(unit));
        }
        e.size = i % 5 == 0 ? 123456789012345ULL + static_cast<std::uint64_t>(i)
                            : static_cast<std::uint64_t>(i) * 7919;
        const std::int64_t seconds = 1709618828LL + static_cast<std::int64_t>(i) * 3671;
        e.ticks = static_cast<std::uint64_t>(unix_epoch_ticks + seconds * 10000000LL + i % 9999999);
        for (int b = 0; b < 32; ++b) {
            e.digest[b] = static_cast<unsigned char>(i * 31 + b * 7);
        }
        entries.push_back(e);
    }
    return entries;
}

std::string two_digits(int value) {
    char text[16];
    std::snprintf(text, sizeof text, "%02d", value);
    return text;
}

// "; <size in 12 columns>  HH:MM.SS YYYY-MM-DD <name>", from the C runtime's
// calendar rather than the library's.
std::string comment_line(const entry& e) {
    std::string size = std::to_string(e.size);
    if (size.size() < 12) {
        size.insert(0, 12 - size.size(), ' ');
    }
    const auto seconds = static_cast<std::time_t>(
        (static_cast<std::int64_t>(e.ticks) - unix_epoch_ticks) / 10000000LL);
    const std::tm when = *std::gmtime(&seconds);
    return "; " + size + "  " + two_digits(when.tm_hour) + ":" + two_digits(when.tm_min) + "." +
           two_digits(when.tm_sec) + " " + std::to_string(when.tm_year + 1900) + "-" +
           two_digits(when.tm_mon + 1) + "-" + two_digits(when.tm_mday) + " " + e.bytes + "\r\n";
}

std::string sfv_line(const entry& e) {
    char crc[9];
    std::uint32_t value;
    std::memcpy(&value, e.digest, 4);
    std::snprintf(crc, sizeof crc, "%08X", static_cast<unsigned>(value));
    const char first = e.bytes.front();
    const bool quoted = first == '"' || first == ';' || first == '#' || e.bytes.back() == ' ';
    return (quoted ? "\"" + e.bytes + "\" " : e.bytes + " ") + crc + "\r\n";
}

std::string digest_line(const entry& e, int digest_size) {
    std::string hex;
    for (int b = 0; b < digest_size; ++b) {
        char pair[3];
        std::snprintf(pair, sizeof pair, "%02x", e.digest[b]);
        hex += pair;
    }
    return hex + " *" + e.bytes + "\r\n";
}

std::string expected_sfv(const std::vector<entry>& entries) {
    std::string text;
    for (const auto& e : entries) {
        text += comment_line(e);
    }
    for (const auto& e : entries) {
        text += sfv_line(e);
    }
    return text;
}

std::string expected_digests(const std::vector<entry>& entries, int digest_size) {
    std::string text;
    for (const auto& e : entries) {
        text += digest_line(e, digest_size);
    }
    return text;
}

// The list without its first line (which carries the time it was made), after
// checking that line's form.
std::string after_first_line(const std::string& list, char comment = ';') {
    EXPECT_EQ(list.rfind(std::string(1, comment) + " Generated by ", 0), 0u) << list.substr(0, 80);
    const std::size_t end = list.find("\r\n");
    return end == std::string::npos ? std::string() : list.substr(end + 2);
}

const std::string header_rest = "; https://korvane.org/\r\n;\r\n";

int add(sfv& list, const entry& e) {
    return list.addFile(e.name.c_str(), e.digest, e.size, e.ticks);
}
int add(digest_list& list, const entry& e) {
    return list.addFile(e.name.c_str(), e.digest);
}

std::vector<std::string> names_in(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& item : fs::directory_iterator(folder)) {
        names.push_back(item.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

template <typename List>
int create_all(List& list, const std::wstring& target, const std::vector<entry>& entries) {
    int result = list.create(target.c_str());
    for (std::size_t i = 0; i < entries.size() && result == 0; ++i) {
        result = add(list, entries[i]);
    }
    return result;
}

TEST(CreationSpool, ListsOfManyEntriesAreWrittenAsBefore) {
    temp_dir dir;
    const auto entries = make_entries(50000);
    const std::string sfv_body = header_rest + expected_sfv(entries);
    for (std::size_t capacity : {std::size_t{0}, std::size_t{1000}}) {  // default, and tiny
        small_buffers buffers(capacity);
        const std::wstring sfv_target = wide(dir / "list.sfv");
        sfv crcs;
        ASSERT_EQ(create_all(crcs, sfv_target, entries), 0);
        ASSERT_EQ(crcs.close(), 0);
        const std::string list = read_file(dir / "list.sfv");
        EXPECT_TRUE(after_first_line(list) == sfv_body) << capacity;  // no 10 MB diff shown

        md5 sums;
        ASSERT_EQ(create_all(sums, wide(dir / "list.md5"), entries), 0);
        ASSERT_EQ(sums.close(), 0);
        EXPECT_TRUE(after_first_line(read_file(dir / "list.md5")) ==
                    header_rest + expected_digests(entries, 16))
            << capacity;

        sha256 longer;
        ASSERT_EQ(create_all(longer, wide(dir / "list.sha256"), entries), 0);
        ASSERT_EQ(longer.close(), 0);
        EXPECT_TRUE(after_first_line(read_file(dir / "list.sha256"), '#') ==
                    "# https://korvane.org/\r\n#\r\n" + expected_digests(entries, 32))
            << capacity;
        EXPECT_EQ(names_in(dir.path()),
                  (std::vector<std::string>{"list.md5", "list.sfv", "list.sha256"}));
    }
}

TEST(CreationSpool, SmallListsAndTheFirstOverflowKeepTheOrder) {
    temp_dir dir;
    small_buffers buffers(300);
    const std::wstring target = wide(dir / "list.sfv");
    // Every count around the point where the comment lines first overflow,
    // and an entry line longer than the buffer.
    for (int count = 0; count <= 12; ++count) {
        auto entries = make_entries(count);
        if (count == 12) {
            entries[11].bytes += std::string(700, 'y');
            entries[11].name += std::wstring(700, L'y');
        }
        sfv list;
        ASSERT_EQ(create_all(list, target, entries), 0);
        ASSERT_EQ(list.close(), 0);
        EXPECT_EQ(after_first_line(read_file(dir / "list.sfv")),
                  header_rest + expected_sfv(entries))
            << count;
    }
}

TEST(CreationSpool, NothingNamedAppearsBeforeCloseOrRemainsWithoutIt) {
    temp_dir dir;
    small_buffers buffers(4096);
    const auto target = dir.write("list.sfv", "old\r\n");
    const auto entries = make_entries(3000);
    {
        sfv list;
        ASSERT_EQ(create_all(list, wide(target), entries), 0);
        if (!on_windows) {  // Windows names a scratch file until its handle closes
            EXPECT_EQ(names_in(dir.path()), std::vector<std::string>{"list.sfv"});
        }
        EXPECT_EQ(read_file(target), "old\r\n");
        // Destroyed without close, as a run that stops at an unreadable file.
    }
    EXPECT_EQ(names_in(dir.path()), std::vector<std::string>{"list.sfv"});
    EXPECT_EQ(read_file(target), "old\r\n");
}

// Every call that changes a file fails from the n-th on, for every n until
// the run succeeds: the first overflow, each later one, and each write, the
// sync and the rename of the join. The old list stays whole and nothing else
// remains; a failed overflow ends the list at once.
template <typename List>
void fail_at_every_write(const std::string& file_name, const std::string& expected_body) {
    temp_dir dir;
    small_buffers buffers(16 * 1024);
    const auto target = dir.write(file_name, "old\r\n");
    const auto entries = make_entries(6000);
    List list;  // one object throughout: each failure leaves it usable
    bool failed_while_adding = false;
    long n = 1;
    for (;; ++n) {
        ASSERT_LT(n, 1000) << "the run never succeeded";
        ASSERT_EQ(list.create(wide(target).c_str()), 0);
        platform::inject_write_faults(n);
        std::size_t added = 0;
        int result = 0;
        while (added < entries.size() && (result = add(list, entries[added])) == 0) {
            ++added;
        }
        if (result != 0) {
            failed_while_adding = true;
            // Injected faults are EIO, kept as the cause of a write.
            int writing = 0;
            EXPECT_EQ(status_cause(result, &writing), 5) << n;
            EXPECT_EQ(writing, 1) << n;
            EXPECT_EQ(result, korvane_status::file_read_error) << n;
            // The list is lost: later entries and close say so again.
            EXPECT_EQ(add(list, entries[0]), result) << n;
            EXPECT_EQ(list.close(), result) << n;
        } else {
            result = list.close();
        }
        platform::inject_write_faults(0);
        EXPECT_EQ(names_in(dir.path()), std::vector<std::string>{file_name}) << n;
        if (result == 0) {
            break;
        }
        EXPECT_EQ(read_file(target), "old\r\n") << n;
    }
    EXPECT_TRUE(failed_while_adding);
    EXPECT_GT(n, 5);  // overflow writes, several join writes, the sync and the rename
    EXPECT_TRUE(after_first_line(read_file(target)) == header_rest + expected_body);
}

TEST(CreationSpool, AFailingWriteAnywhereKeepsTheOldList) {
    const auto entries = make_entries(6000);
    fail_at_every_write<sfv>("list.sfv", expected_sfv(entries));
    fail_at_every_write<md5>("list.md5", expected_digests(entries, 16));
}

TEST(CreationSpool, UnwritableNamesFailCloseAfterAnOverflow) {
    temp_dir dir;
    small_buffers buffers(2048);
    const auto target = dir.write("list.sfv", "old\r\n");
    const auto entries = make_entries(500);
    sfv list;
    // The first entry that cannot be written decides the status.
    for (const auto& [bad, later, expected] :
         {std::tuple{L"wide\u0101", L"a\nb", korvane_status::unknown_error},
          std::tuple{L"a\nfake.txt 00000000", L"wide\u0101", korvane_status::path_error}}) {
        ASSERT_EQ(create_all(list, wide(target), entries), 0);
        EXPECT_EQ(list.addFile(bad, entries[0].digest, 1, 0), 0);  // refused only when written
        EXPECT_EQ(list.addFile(later, entries[0].digest, 1, 0), 0);
        EXPECT_EQ(add(list, entries[1]), 0);
        EXPECT_EQ(list.close(), expected);
        EXPECT_EQ(read_file(target), "old\r\n");
        EXPECT_EQ(names_in(dir.path()), std::vector<std::string>{"list.sfv"});
    }
    // The same object writes the next list whole.
    ASSERT_EQ(create_all(list, wide(target), entries), 0);
    ASSERT_EQ(list.close(), 0);
    EXPECT_EQ(after_first_line(read_file(target)), header_rest + expected_sfv(entries));
}

}  // namespace
}  // namespace korvane::testing
