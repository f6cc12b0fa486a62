// The xxHash lists against Debian's xxhsum 0.8.1 both ways, with names that
// tempt a parser (blanks, a backslash, a leading '*', parentheses, ") = ",
// a tab, UTF-8, a CR inside), the forms of newer xxhsum releases written here
// from the library's digests, and a name no xxhsum line can carry.
#include <korvane/xxhash_family.h>

#include <filesystem>
#include <string>
#include <vector>

#include "cli_helpers.h"
#include "support/cli.h"
#include "support/target.h"
#include "support/temp_dir.h"

namespace korvane::testing {
namespace {

struct kind {
    std::string word;  // korvane's -t word and extension
    std::string bsd;   // the name its BSD lines give
    std::string bits;  // xxhsum's -H value
};

const std::vector<kind> kinds = {
    {"xxh64", "XXH64", "1"}, {"xxh3", "XXH3", "3"}, {"xxh128", "XXH128", "2"}};

template <class hasher_kind>
std::string digest_of(const std::string& bytes) {
    hasher_kind h;
    h.init();
    h.update(reinterpret_cast<const unsigned char*>(bytes.data()),
             static_cast<std::uint32_t>(bytes.size()));
    h.finalize();
    return hex_text(h.hash(), static_cast<std::size_t>(h.hash_size()));
}

class Xxhsum : public cli_test {
  protected:
    void SetUp() override {
        KORVANE_SKIP_ON_WINDOWS("xxhsum is driven through a POSIX shell");
        if (run({"sh", "-c", "command -v xxhsum >/dev/null"}).status != 0) {
            GTEST_SKIP() << "xxhsum is not installed";
        }
        for (std::size_t i = 0; i < names.size(); ++i) {
            dir.write("n/" + names[i], "content " + std::to_string(i));
        }
    }

    // A korvane run whose output is the verification of every name.
    void expect_all_ok(const std::vector<std::string>& args, const std::string& what) {
        const cli_result check = korvane(args);
        EXPECT_EQ(check.status, 0) << what << check.out << check.err;
        EXPECT_EQ(check.out, all_ok) << what << check.err;
    }

    const std::vector<std::string> names = {
        "a b",       "back\\slash",          "*star",   "(paren", "x) = y",
        "tab\there", "\xC3\xBC\xE6\x97\xA5", "cr\rmid", " lead",  "trail "};
    const std::string all_ok = std::to_string(names.size()) + " files checked\nAll files Ok\n";
};

// Every list korvane writes of these types, made (records asked for, and
// left out) or updated: BSD lines alone, ended by a line feed, which xxhsum
// checks strictly without a word; korvane reads it back by its name and by
// its content.
TEST_F(Xxhsum, OurListsPassTheStrictCheckWithoutAWord) {
    for (const kind& k : kinds) {
        const std::string ours = "ours." + k.word;
        const cli_result made = korvane({"-q", "-T", "-r", "-c", ours, "n"});
        ASSERT_EQ(made.status, 0) << made.out << made.err;
        const std::string list = read_file(dir / ours);
        EXPECT_EQ(list.find("\r\n"), std::string::npos) << list;
        for (const std::string& line : lines_of(list)) {
            EXPECT_EQ(line.rfind(k.bsd + " (n/", 0), 0u) << line;
        }
        const cli_result theirs = run({"xxhsum", "--strict", "--quiet", "-c", ours});
        EXPECT_EQ(theirs.status, 0) << k.word << theirs.out << theirs.err;
        EXPECT_EQ(theirs.out + theirs.err, "") << k.word;
        expect_all_ok({"-q", ours}, ours);
        std::filesystem::copy_file(dir / ours, dir / "ours.xxhsum",
                                   std::filesystem::copy_options::overwrite_existing);
        expect_all_ok({"-q", "ours.xxhsum"}, k.word + " as .xxhsum");

        dir.write("late/" + k.word, "late");
        const cli_result updated = korvane({"-q", "-u", ours, "late/" + k.word});
        ASSERT_EQ(updated.status, 0) << updated.out << updated.err;
        const cli_result again = run({"xxhsum", "--strict", "--quiet", "-c", ours});
        EXPECT_EQ(again.status, 0) << k.word << again.out << again.err;
        EXPECT_EQ(again.out + again.err, "") << k.word;
        EXPECT_EQ(lines_of(read_file(dir / ours)).size(), names.size() + 1) << k.word;
    }
}

// xxhsum's own lists, plain and BSD, under the type's extension; as .xxhsum
// where the content tells the type (a plain 32-digit line is MD5's).
TEST_F(Xxhsum, TheirListsVerify) {
    for (const kind& k : kinds) {
        for (const std::string tag : {"", "--tag "}) {
            const std::string made = "xxhsum " + tag + "-H" + k.bits + " n/* > theirs.txt";
            ASSERT_EQ(run({"sh", "-c", made}).status, 0) << made;
            std::filesystem::copy_file(dir / "theirs.txt", dir / ("theirs." + k.word),
                                       std::filesystem::copy_options::overwrite_existing);
            expect_all_ok({"-q", "theirs." + k.word}, made);
            std::filesystem::copy_file(dir / "theirs.txt", dir / "theirs.xxhsum",
                                       std::filesystem::copy_options::overwrite_existing);
            if (k.word != "xxh128" || !tag.empty()) {
                expect_all_ok({"-q", "theirs.xxhsum"}, made + " as .xxhsum");
            }
            expect_all_ok({"-q", "-t", k.word, "theirs.xxhsum"}, made + " with -t");
        }
    }
}

// Newer xxhsum: XXH3 as "XXH3_DIGEST  NAME", names with a line break or a
// backslash escaped the way md5sum does, '#' comments.
TEST_F(Xxhsum, TheFormsOfNewerReleases) {
    dir.write("e/new\nline", "one");
    dir.write("e/back\\slash", "two");
    dir.write("e/plain", "three");
    const std::string xxh3_list = "# xxhsum 0.8.2\n\\XXH3_" + digest_of<xxh3hasher>("one") +
                                  "  e/new\\nline\n\\XXH3_" + digest_of<xxh3hasher>("two") +
                                  "  e/back\\\\slash\nXXH3_" + digest_of<xxh3hasher>("three") +
                                  "  e/plain\n";
    dir.write("newer.xxhsum", xxh3_list);
    const std::string three_ok = "3 files checked\nAll files Ok\n";
    cli_result check = korvane({"-q", "newer.xxhsum"});
    EXPECT_EQ(check.out, three_ok) << check.err;
    dir.write("newer.xxh3", xxh3_list);
    check = korvane({"-q", "newer.xxh3"});
    EXPECT_EQ(check.out, three_ok) << check.err;

    dir.write("newer.xxh64", "#c\n\\" + digest_of<xxh64hasher>("one") + "  e/new\\nline\n" +
                                 digest_of<xxh64hasher>("three") + "  e/plain\n");
    check = korvane({"-q", "newer.xxh64"});
    EXPECT_EQ(check.out, "2 files checked\nAll files Ok\n") << check.err;
    dir.write("newer.xxh128", "\\" + digest_of<xxh128hasher>("two") + "  e/back\\\\slash\n# c\n" +
                                  digest_of<xxh128hasher>("three") + "  e/plain\n");
    check = korvane({"-q", "newer.xxh128"});
    EXPECT_EQ(check.out, "2 files checked\nAll files Ok\n") << check.err;
}

// No xxhsum line holds a line feed: the creation stops at the file, names
// it, and leaves no list behind.
TEST_F(Xxhsum, ALineFeedInANameLeavesNoList) {
    dir.write("lf/new\nline", "x");
    dir.write("lf/fine", "y");
    for (const kind& k : kinds) {
        const std::string list = "bad." + k.word;
        const cli_result made = korvane({"-q", "-r", "-c", list, "lf"});
        EXPECT_NE(made.status, 0) << k.word;
        EXPECT_NE(made.err.find("lf/new\\nline: cannot be stored in an " + k.bsd +
                                " list (line break in the name)"),
                  std::string::npos)
            << made.err;
        EXPECT_FALSE(std::filesystem::exists(dir / list)) << list;
    }
}

// A type guessed from plain lines whose digests another type shares: when
// not one compared file matches, the summary says which -t to try; not when
// the name or -t gave the type, when something matched, or when nothing was
// compared.
class GuessedType : public cli_test {
  protected:
    void SetUp() override {
        dir.write("a", "one");
        dir.write("b", "abc");
    }
    const std::string md5_hint =
        "No file matched as MD5, the type guessed from the list's lines: try -t xxh128\n";
};

TEST_F(GuessedType, EveryMismatchSuggestsTheOtherTypes) {
    dir.write("sums.txt",
              digest_of<xxh128hasher>("one") + "  a\n" + digest_of<xxh128hasher>("abc") + "  b\n");
    cli_result check = korvane({"-q", "sums.txt"});
    EXPECT_EQ(check.status, 1);
    EXPECT_EQ(check.out.substr(check.out.find("2 files checked")),
              "2 files checked\n2 errors detected\n" + md5_hint)
        << check.out;
    check = korvane({"-q", "-t", "xxh128", "sums.txt"});
    EXPECT_EQ(check.out, "2 files checked\nAll files Ok\n") << check.err;

    const cli_result json = korvane({"--json", "sums.txt"});
    EXPECT_NE(json.out.find("\"try_types\":\"xxh128\""), std::string::npos) << json.out;

    dir.write("xxh3.txt", digest_of<xxh3hasher>("one") + "  a\n");
    check = korvane({"-q", "xxh3.txt"});
    EXPECT_NE(check.out.find("No file matched as XXH64, the type guessed from the list's "
                             "lines: try -t xxh3\n"),
              std::string::npos)
        << check.out;
}

TEST_F(GuessedType, NoHintWhereTheTypeWasGivenOrSomethingMatched) {
    const std::string wrong = digest_of<xxh128hasher>("one") + "  a\n";
    dir.write("sums.md5", wrong);
    dir.write("forced.txt", wrong);
    dir.write("one_ok.txt", wrong + md5_abc + "  b\n");
    dir.write("missing.txt", wrong.substr(0, 32) + "  gone\n");
    for (const std::vector<std::string>& args : {std::vector<std::string>{"sums.md5"},
                                                 {"-t", "md5", "forced.txt"},
                                                 {"one_ok.txt"},
                                                 {"missing.txt"}}) {
        const cli_result check = korvane(args);
        EXPECT_EQ(check.status, 1) << args.back();
        EXPECT_EQ(check.out.find("No file matched"), std::string::npos) << check.out;
        std::vector<std::string> json_args{"--json"};
        json_args.insert(json_args.end(), args.begin(), args.end());
        const cli_result json = korvane(json_args);
        EXPECT_EQ(json.out.find("try_types"), std::string::npos) << json.out;
    }
    // SHA-512's length no other type shares.
    dir.write("long.txt", std::string(128, 'a') + "  a\n");
    const cli_result check = korvane({"long.txt"});
    EXPECT_EQ(check.out.find("No file matched"), std::string::npos) << check.out;
}

}  // namespace
}  // namespace korvane::testing
