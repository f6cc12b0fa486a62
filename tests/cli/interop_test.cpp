// Lists made by korvane verify with the other common tools, and theirs with korvane.
#include "cli_helpers.h"
#include "support/cli.h"
#include "support/target.h"

namespace korvane::testing {
namespace {

class Interop : public cli_test {
  protected:
    void SetUp() override {
        KORVANE_SKIP_ON_WINDOWS("the other tools are driven through a POSIX shell");
        dir.write("a.txt", "abc");
        dir.write("with space.bin", random_bytes(100000, 7));
        dir.write("sub/c", "123456789");
    }
    bool have(const std::string& tool) {
        return run({"sh", "-c", "command -v " + tool + " >/dev/null"}).status == 0;
    }
    const std::vector<std::string> files{"a.txt", "with space.bin", "sub/c"};
};

TEST_F(Interop, Cksfv) {
    if (!have("cksfv")) {
        GTEST_SKIP() << "cksfv is not installed";
    }
    ASSERT_EQ(korvane({"-q", "-c", "ours.sfv", "a.txt", "with space.bin", "sub/c"}).status, 0);
    auto theirs_check = run({"cksfv", "-q", "-f", "ours.sfv"});
    EXPECT_EQ(theirs_check.status, 0) << theirs_check.out << theirs_check.err;

    auto made = run({"sh", "-c", "cksfv a.txt 'with space.bin' sub/c > theirs.sfv"});
    ASSERT_EQ(made.status, 0);
    auto ours_check = korvane({"-q", "theirs.sfv"});
    EXPECT_EQ(ours_check.status, 0) << ours_check.out;
    EXPECT_EQ(ours_check.out, "3 files checked\nAll files Ok\n");
}

TEST_F(Interop, Rhash) {
    if (!have("rhash")) {
        GTEST_SKIP() << "rhash is not installed";
    }
    ASSERT_EQ(korvane({"-q", "-c", "ours.sfv", "a.txt", "with space.bin", "sub/c"}).status, 0);
    auto sfv_check = run({"rhash", "--skip-ok", "-c", "ours.sfv"});
    EXPECT_EQ(sfv_check.status, 0) << sfv_check.out << sfv_check.err;
    ASSERT_EQ(korvane({"-q", "-c", "ours.md5", "a.txt", "with space.bin", "sub/c"}).status, 0);
    auto md5_check = run({"rhash", "--skip-ok", "-c", "ours.md5"});
    EXPECT_EQ(md5_check.status, 0) << md5_check.out << md5_check.err;

    ASSERT_EQ(
        run({"rhash", "--sfv", "-o", "theirs.sfv", "a.txt", "with space.bin", "sub/c"}).status, 0);
    auto ours_sfv = korvane({"-q", "theirs.sfv"});
    EXPECT_EQ(ours_sfv.status, 0) << ours_sfv.out;
    ASSERT_EQ(
        run({"rhash", "--md5", "-o", "theirs.md5", "a.txt", "with space.bin", "sub/c"}).status, 0);
    auto ours_md5 = korvane({"-q", "theirs.md5"});
    EXPECT_EQ(ours_md5.status, 0) << ours_md5.out;
}

TEST_F(Interop, Md5sum) {
    if (!have("md5sum")) {
        GTEST_SKIP() << "md5sum is not installed";
    }
    ASSERT_EQ(korvane({"-q", "-c", "ours.md5", "a.txt", "with space.bin", "sub/c"}).status, 0);
    auto theirs_check = run({"md5sum", "--quiet", "-c", "ours.md5"});
    EXPECT_EQ(theirs_check.status, 0) << theirs_check.out << theirs_check.err;

    for (const char* mode : {"", "-b"}) {
        auto made =
            run({"sh", "-c",
                 std::string("md5sum ") + mode + " a.txt 'with space.bin' sub/c > theirs.md5"});
        ASSERT_EQ(made.status, 0);
        auto ours_check = korvane({"-q", "theirs.md5"});
        EXPECT_EQ(ours_check.status, 0) << mode << ours_check.out;
        EXPECT_EQ(ours_check.out, "3 files checked\nAll files Ok\n");
    }
}

// Names that md5sum and the sha*sum tools write escaped: a backslash and a line
// feed. korvane writes the backslash as it is, which they read back literally.
TEST_F(Interop, EscapedNamesBothWays) {
    if (!have("md5sum") || !have("sha256sum")) {
        GTEST_SKIP() << "md5sum or sha256sum is not installed";
    }
    dir.write("back\\slash", "x");
    dir.write("new\nline", "y");
    for (const std::string tool : {"md5sum", "sha256sum"}) {
        auto made = run({"sh", "-c", tool + " a.txt 'back\\slash' 'new\nline' > THEIRS"});
        ASSERT_EQ(made.status, 0);
        ASSERT_NE(read_file(dir / "THEIRS").find(" back\\\\slash"), std::string::npos);
        auto ours_check = korvane({"-q", "THEIRS"});
        EXPECT_EQ(ours_check.status, 0) << tool << ours_check.out << ours_check.err;
        EXPECT_EQ(ours_check.out, "3 files checked\nAll files Ok\n") << tool;

        const std::string ours = tool == "md5sum" ? "ours.md5" : "ours.sha256";
        ASSERT_EQ(korvane({"-q", "-c", ours, "a.txt", "back\\slash"}).status, 0);
        auto theirs_check = run({tool, "--quiet", "-c", ours});
        EXPECT_EQ(theirs_check.status, 0) << tool << theirs_check.out << theirs_check.err;

        // A name with a line break goes in their escaped form (no record line
        // for it with -T), which they and korvane read back.
        dir.write("both\\and\r\nbreaks", "z");
        const std::string escaped = tool == "md5sum" ? "escaped.md5" : "escaped.sha256";
        auto made_ours = korvane({"-q", "-T", "-c", escaped, "a.txt", "new\nline", "back\\slash",
                                  "both\\and\r\nbreaks"});
        ASSERT_EQ(made_ours.status, 0) << made_ours.out << made_ours.err;
        const std::string list = read_file(dir / escaped);
        EXPECT_NE(list.find(" *new\\nline\r\n"), std::string::npos) << list;
        EXPECT_NE(list.find(" *both\\\\and\\r\\nbreaks\r\n"), std::string::npos) << list;
        EXPECT_EQ(list.find("#= new"), std::string::npos) << list;
        theirs_check = run({tool, "--quiet", "-c", escaped});
        EXPECT_EQ(theirs_check.status, 0) << tool << theirs_check.out << theirs_check.err;
        auto ours_again = korvane({"-q", escaped});
        EXPECT_EQ(ours_again.out, "4 files checked\nAll files Ok\n") << tool << ours_again.err;
    }
}

TEST_F(Interop, RhashBsdAndContentTypedLists) {
    if (!have("rhash")) {
        GTEST_SKIP() << "rhash is not installed";
    }
    const std::vector<std::vector<std::string>> makers = {
        {"--md5", "--bsd"},    {"--md5"},   {"--sfv"}, {"--sha1"}, {"--sha256", "--bsd"},
        {"--sha512", "--bsd"}, {"--sha512"}};
    for (const auto& options : makers) {
        std::vector<std::string> argv{"rhash"};
        argv.insert(argv.end(), options.begin(), options.end());
        argv.insert(argv.end(), {"-o", "hashes.txt", "a.txt", "with space.bin", "sub/c"});
        ASSERT_EQ(run(argv).status, 0);
        auto check = korvane({"-q", "hashes.txt"});
        EXPECT_EQ(check.status, 0) << options[0] << check.out << check.err;
        EXPECT_EQ(check.out, "3 files checked\nAll files Ok\n") << options[0];
    }
}

// A list whose first line has one blank between digest and name (BSD md5 -r)
// keeps a leading blank or '*' in every later name, as md5sum reads it.
TEST_F(Interop, OneBlankListsReadAsMd5sumReadsThem) {
    if (!have("md5sum")) {
        GTEST_SKIP() << "md5sum is not installed";
    }
    dir.write(" lead", "abc");
    dir.write("*star", "abc");
    dir.write("bsd.md5", md5_abc + " a.txt\n" + md5_abc + "  lead\n" + md5_abc + " *star\n");
    auto theirs = run({"md5sum", "--quiet", "--strict", "-c", "bsd.md5"});
    EXPECT_EQ(theirs.status, 0) << theirs.out << theirs.err;
    auto ours = korvane({"-q", "bsd.md5"});
    EXPECT_EQ(ours.status, 0) << ours.out;
    EXPECT_EQ(ours.out, "3 files checked\nAll files Ok\n");
}

TEST_F(Interop, ShaListsBothWays) {
    for (const std::string bits : {"1", "256", "512"}) {
        const std::string tool = "sha" + bits + "sum";
        if (!have(tool) || !have("rhash")) {
            GTEST_SKIP() << tool << " or rhash is not installed";
        }
        const std::string ours = "ours.sha" + bits;
        ASSERT_EQ(korvane({"-q", "-c", ours, "a.txt", "with space.bin", "sub/c"}).status, 0);
        // Strict: the header lines must be comments these tools know ('#').
        auto tool_check = run({tool, "--quiet", "--strict", "-c", ours});
        EXPECT_EQ(tool_check.status, 0) << tool << tool_check.out << tool_check.err;
        EXPECT_EQ(tool_check.err, "") << tool;
        auto rhash_check = run({"rhash", "--skip-ok", "-c", ours});
        EXPECT_EQ(rhash_check.status, 0) << tool << rhash_check.out << rhash_check.err;

        const std::string theirs = "SHA" + bits + "SUMS";
        ASSERT_EQ(run({"sh", "-c", tool + " a.txt 'with space.bin' sub/c > " + theirs}).status, 0);
        auto ours_check = korvane({"-q", theirs});
        EXPECT_EQ(ours_check.status, 0) << tool << ours_check.out;
        EXPECT_EQ(ours_check.out, "3 files checked\nAll files Ok\n");
        // A damaged file is caught under every type.
        dir.write("sub/c", "12345678X");
        auto damaged = korvane({"-q", theirs});
        EXPECT_EQ(damaged.status, 1) << tool;
        dir.write("sub/c", "123456789");
    }
}

}  // namespace
}  // namespace korvane::testing
