// Lists of names (--files-from, --null) and excludes in creations, updates and
// audits, and names an SFV list cannot hold.
#include <filesystem>
#include <string>
#include <vector>

#include "cli_helpers.h"
#include "support/cli.h"
#include "support/target.h"

namespace korvane::testing {
namespace {

using lines = std::vector<std::string>;

class FileLists : public cli_test {};

TEST_F(FileLists, NamesFromAFileAreNamesNotWildcards) {
    KORVANE_SKIP_ON_WINDOWS("a file named with a '*'");
    dir.write("a b.txt", "abc");
    dir.write("x*", "abc");
    dir.write("xy", "123456789");
    dir.write("sub/c", "abc");
    // A carriage return before the line feed is part of the name: "sub/c\r"
    // does not exist and is passed over as a missing file argument is.
    dir.write("names", "a b.txt\n\nx*\nsub/c\r\nsub\n");
    auto r = korvane({"-q", "--files-from=names", "-c", "l.md5"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(entry_lines(dir.read("l.md5")), (lines{md5_abc + " *a b.txt", md5_abc + " *x*"}));
    // Folders are walked only with -r, as for a file argument.
    r = korvane({"-q", "-r", "--files-from=names", "-c", "l2.md5"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(entry_lines(dir.read("l2.md5")),
              (lines{md5_abc + " *a b.txt", md5_abc + " *x*", md5_abc + " *sub/c"}));
}

TEST_F(FileLists, StandardInputAndZeroSeparatedNames) {
    KORVANE_SKIP_ON_WINDOWS("feeds standard input through sh");
    dir.write("a b", "abc");
    dir.write("d/e.flac", "abc");
    dir.write("d/f.txt", "abc");
    auto r = run({"sh", "-c",
                  "find . -name '*.flac' -print0 | \"$0\" -q --files-from=- --null -c music.sha1",
                  KORVANE_BINARY});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(entry_lines(dir.read("music.sha1")),
              (lines{"a9993e364706816aba3e25717850c26c9cd0d89d *./d/e.flac"}));
    r = run({"sh", "-c", "printf 'a b\\n' | \"$0\" -q -c l.md5 --files-from=-", KORVANE_BINARY});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(entry_lines(dir.read("l.md5")), (lines{md5_abc + " *a b"}));
}

TEST_F(FileLists, ALineLongerThanAnyPathIsReportedAndPassedOver) {
    dir.write("a", "abc");
    dir.write("names", std::string(100000, 'n') + "\na\n");
    auto r = korvane({"-q", "--files-from=names", "-c", "l.md5"});
    EXPECT_NE(r.err.find("Name too long, skipped: nnnn"), std::string::npos) << r.err;
    EXPECT_EQ(entry_lines(dir.read("l.md5")), (lines{md5_abc + " *a"}));
}

TEST_F(FileLists, ALineBreakInANameFailsAnSfvCreationBeforeHashing) {
    KORVANE_SKIP_ON_WINDOWS("names with a line feed");
    dir.write("ok", "abc");
    dir.write("a\nb", "abc");
    dir.write("names", std::string("ok\0a\nb\0", 8));
    auto r = korvane({"--files-from=names", "--null", "-c", "l.sfv"});
    EXPECT_EQ(r.status, exit_status(-9));
    EXPECT_NE(r.err.find("\\a\\nb: cannot be stored in an SFV list (line break in the name)"),
              std::string::npos)
        << r.err;
    EXPECT_EQ(r.out.find("a\\nb: 100%"), std::string::npos) << r.out;  // never hashed
    EXPECT_FALSE(std::filesystem::exists(dir / "l.sfv"));
    dir.write("c\rd", "abc");
    r = korvane({"-r", "-c", "l.sfv", "."});
    EXPECT_EQ(r.status, exit_status(-9));
    EXPECT_FALSE(std::filesystem::exists(dir / "l.sfv"));
}

TEST_F(FileLists, ExcludesInARecursiveCreation) {
    dir.write("p/a.tmp", "abc");
    dir.write("p/keep", "abc");
    dir.write("p/s/b.tmp", "abc");
    dir.write("p/s/cache/c", "abc");
    dir.write("p/cache", "abc");  // a file: "cache/" takes folders only
    dir.write("p/t/u/v.o", "abc");
    dir.write("p/t/w.o", "abc");
    auto r = korvane({"-q", "--exclude=**/*.tmp", "-r", "-c", "l.md5", "p", "--exclude=cache/",
                      "--exclude=t/**/*.o"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(entry_lines(dir.read("l.md5")), (lines{md5_abc + " *p/cache", md5_abc + " *p/keep"}));
    // Named files, and names from a list, are excluded alike.
    dir.write("names", "p/s/cache/c\np/a.tmp\n");
    r = korvane({"-q", "-c", "l2.md5", "p/a.tmp", "p/keep", "--exclude=*.tmp", "--files-from=names",
                 "--exclude=cache/"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(entry_lines(dir.read("l2.md5")), (lines{md5_abc + " *p/keep"}));
}

TEST_F(FileLists, AnUpdateNeverAddsAnExcludedFileAndKeepsItsEntry) {
    dir.write("a.tmp", "abc");
    dir.write("b", "abc");
    ASSERT_EQ(korvane({"-q", "-c", "l.md5", "a.tmp", "b"}).status, 0);
    std::filesystem::remove(dir / "a.tmp");
    dir.write("c.tmp", "abc");
    dir.write("d", "abc");
    auto r = korvane({"-u", "--prune", "l.md5", "--exclude=*.tmp"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out.find("c.tmp"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("a.tmp"), std::string::npos) << r.out;
    EXPECT_EQ(entry_lines(dir.read("l.md5")),
              (lines{md5_abc + " *a.tmp", md5_abc + " *b", md5_abc + " *d"}));
    // Names from a list narrow an update as file arguments do.
    dir.write("e", "abc");
    dir.write("f", "abc");
    dir.write("names", "e\n");
    r = korvane({"-q", "-u", "l.md5", "--files-from=names"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(entry_lines(dir.read("l.md5")),
              (lines{md5_abc + " *a.tmp", md5_abc + " *b", md5_abc + " *d", md5_abc + " *e"}));
}

TEST_F(FileLists, AnAuditDoesNotReportExcludedFiles) {
    dir.write("b", "abc");
    ASSERT_EQ(korvane({"-q", "-c", "l.md5", "b"}).status, 0);
    dir.write("x.tmp", "abc");
    dir.write("cache/y", "abc");
    auto r = korvane({"--audit", "l.md5", "--exclude=*.tmp", "--exclude=cache"});
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(r.out.find("Not in list"), std::string::npos) << r.out;
    r = korvane({"--audit", "l.md5", "--exclude=*.tmp"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("cache/y: Not in list"), std::string::npos) << r.out;
}

TEST_F(FileLists, ListsOfNamesOnlyForCreationAndUpdate) {
    dir.write("names", "a\n");
    EXPECT_EQ(korvane({"--files-from=names", "l.md5"}).status, exit_status(-8));
    EXPECT_EQ(korvane({"--files-from=", "-c", "l.md5"}).status, exit_status(-8));
    EXPECT_EQ(korvane({"--exclude=", "-c", "l.md5"}).status, exit_status(-8));
    auto r = korvane({"--files-from=missing", "-c", "l.md5"});
    EXPECT_NE(r.status, 0);
    EXPECT_NE(r.err.find("Error reading list of names missing"), std::string::npos) << r.err;
}

}  // namespace
}  // namespace korvane::testing
