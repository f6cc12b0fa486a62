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

    ASSERT_EQ(run({"rhash", "--sfv", "-o", "theirs.sfv", "a.txt", "with space.bin", "sub/c"}).status,
              0);
    auto ours_sfv = korvane({"-q", "theirs.sfv"});
    EXPECT_EQ(ours_sfv.status, 0) << ours_sfv.out;
    ASSERT_EQ(run({"rhash", "--md5", "-o", "theirs.md5", "a.txt", "with space.bin", "sub/c"}).status,
              0);
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
        auto made = run({"sh", "-c",
                         std::string("md5sum ") + mode + " a.txt 'with space.bin' sub/c > theirs.md5"});
        ASSERT_EQ(made.status, 0);
        auto ours_check = korvane({"-q", "theirs.md5"});
        EXPECT_EQ(ours_check.status, 0) << mode << ours_check.out;
        EXPECT_EQ(ours_check.out, "3 files checked\nAll files Ok\n");
    }
}

}  // namespace
}  // namespace korvane::testing
