// BLAKE3 lists against b3sum both ways: ours are byte for byte what b3sum
// writes for the same names, and b3sum -c takes them without a word; theirs
// verify with korvane; the BSD lines of other tools are read and type a list
// by content, while a plain line of 64 digits stays SHA-256's.
#include <korvane/container.h>
#include <korvane/list_types.h>

#include <cwchar>
#include <string>
#include <vector>

#include "cli_helpers.h"
#include "support/cli.h"
#include "support/target.h"

namespace korvane::testing {
namespace {

class Blake3Lists : public cli_test {
  protected:
    void SetUp() override {
        KORVANE_SKIP_ON_WINDOWS("b3sum is driven through a POSIX shell");
        if (run({"sh", "-c", "command -v b3sum >/dev/null"}).status != 0) {
            GTEST_SKIP() << "b3sum is not installed";
        }
        for (std::size_t i = 0; i < names.size(); ++i) {
            dir.write(names[i], random_bytes(i * 1500, static_cast<unsigned>(i)));
        }
    }

    // What b3sum writes for `files`, in that order.
    std::string b3sum_of(const std::vector<std::string>& files) {
        std::vector<std::string> argv{"b3sum", "--"};
        argv.insert(argv.end(), files.begin(), files.end());
        const cli_result made = run(argv);
        EXPECT_EQ(made.status, 0) << made.err;
        return made.out;
    }

    int content_type(const std::string& name) const {
        int format = -2;
        const int result = container::detectFormat((dir / name).wstring().c_str(), &format);
        return result == 0 ? format : -100 + result;
    }

    static int row_of(const wchar_t* word) {
        for (int i = 0; i < list_type::count(); ++i) {
            if (std::wcscmp(list_type::at(i)->word, word) == 0) {
                return i;
            }
        }
        return -1;
    }

    // Names b3sum writes plainly, escaped, or with a byte it leaves alone
    // (the carriage return in the middle).
    const std::vector<std::string> names{
        "a.txt",   "with space.bin", "back\\slash", "*star",
        "(paren",  "x) = y",         "tab\tname",   "na\xC3\xAFve-\xE6\x97\xA5",
        "cr\rmid", "new\nline",      " lead",       "sub/c",
        "big.bin"};
};

TEST_F(Blake3Lists, OursAreWhatB3sumWritesAndItChecksThemSilently) {
    dir.write("big.bin", random_bytes(3 * 1024 * 1024 + 5, 99));
    std::vector<std::string> args{"-q", "-c", "ours.b3"};
    args.insert(args.end(), names.begin(), names.end());
    const cli_result made = korvane(args);
    ASSERT_EQ(made.status, 0) << made.out << made.err;
    EXPECT_EQ(read_file(dir / "ours.b3"), b3sum_of(names));

    const cli_result check = run({"b3sum", "-c", "ours.b3"});
    EXPECT_EQ(check.status, 0) << check.out << check.err;
    EXPECT_EQ(check.err, "");
    EXPECT_EQ(korvane({"-q", "ours.b3"}).out,
              std::to_string(names.size()) + " files checked\nAll files Ok\n");
}

TEST_F(Blake3Lists, NoRecordLineEvenWhenAsked) {
    const cli_result made = korvane({"-q", "-T", "-c", "B3SUMS", "a.txt", "sub/c"});
    ASSERT_EQ(made.status, 0) << made.err;
    EXPECT_EQ(read_file(dir / "B3SUMS"), b3sum_of({"a.txt", "sub/c"}));
    EXPECT_EQ(run({"b3sum", "-c", "B3SUMS"}).err, "");
}

// An update adds its entries in the same lines and line ends.
TEST_F(Blake3Lists, AnUpdatedListStaysWhatB3sumWrites) {
    ASSERT_EQ(korvane({"-q", "-c", "list.b3", "a.txt", "back\\slash"}).status, 0);
    dir.write("late\nname", "n");
    const cli_result updated = korvane({"-q", "-u", "list.b3"});
    ASSERT_EQ(updated.status, 0) << updated.out << updated.err;
    std::vector<std::string> all = names;
    all.push_back("late\nname");
    const std::string theirs = b3sum_of(all);
    const std::string list = read_file(dir / "list.b3");
    std::size_t lines = 0;
    for (std::size_t at = 0, end; (end = list.find('\n', at)) != std::string::npos; at = end + 1) {
        ++lines;
        EXPECT_NE(theirs.find(list.substr(at, end + 1 - at)), std::string::npos)
            << list.substr(at, end - at);
    }
    EXPECT_EQ(lines, all.size());
    const cli_result check = run({"b3sum", "-c", "list.b3"});
    EXPECT_EQ(check.status, 0) << check.out << check.err;
    EXPECT_EQ(check.err, "");
}

TEST_F(Blake3Lists, TheirsVerifyByEveryNameAndByType) {
    const std::string theirs = b3sum_of(names);
    for (const std::string list : {"theirs.b3", "x.blake3", "B3SUMS", "blake3sums"}) {
        dir.write(list, theirs);
        const cli_result check = korvane({"-q", list});
        EXPECT_EQ(check.status, 0) << list << check.out << check.err;
        EXPECT_EQ(check.out, std::to_string(names.size()) + " files checked\nAll files Ok\n");
    }
    // By content, plain lines of 64 digits are SHA-256's; -t says otherwise.
    dir.write("sums.txt", theirs);
    EXPECT_EQ(content_type("sums.txt"), row_of(L"sha256"));
    EXPECT_EQ(korvane({"-q", "sums.txt"}).status, 1);
    EXPECT_EQ(korvane({"-q", "-t", "blake3", "sums.txt"}).status, 0);
}

TEST_F(Blake3Lists, BsdLinesOfBothNamesAreRead) {
    const std::string a = b3sum_of({"a.txt"}).substr(0, 64);
    const std::string odd = b3sum_of({"x) = y"}).substr(0, 64);
    dir.write("bsd.txt", "BLAKE3 (a.txt) = " + a + "\nBLAKE3-256 (x) = y) = " + odd + "\n");
    EXPECT_EQ(content_type("bsd.txt"), row_of(L"blake3"));
    const cli_result check = korvane({"-q", "bsd.txt"});
    EXPECT_EQ(check.status, 0) << check.out << check.err;
    EXPECT_EQ(check.out, "2 files checked\nAll files Ok\n");

    // A digest of 128 digits, or another length in the name, is not BLAKE3.
    dir.write("long.b3", "BLAKE3 (a.txt) = " + a + a + "\n");
    dir.write("long2.b3", a + a + "  a.txt\n");
    dir.write("bits.b3", "BLAKE3-512 (a.txt) = " + a + "\n");
    for (const std::string list : {"long.b3", "long2.b3", "bits.b3"}) {
        const cli_result refused = korvane({"--strict", list});
        EXPECT_NE(refused.status, 0) << list << refused.out;
        EXPECT_EQ(refused.out.find("All files Ok"), std::string::npos) << list;
    }
}

}  // namespace
}  // namespace korvane::testing
