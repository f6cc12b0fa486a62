// Verification runs: verdicts, summaries, exit statuses and remembered results.
#include "cli_helpers.h"
#include "support/cli.h"
#include "support/target.h"

namespace korvane::testing {
namespace {

class Verify : public cli_test {
  protected:
    void SetUp() override {
        dir.write("a", "abc");
        dir.write("b", "123456789");
    }
};

TEST_F(Verify, AllOk) {
    dir.write("list.sfv", "; comment\r\na " + crc_abc + "\r\nb " + crc_123456789 + "\r\n");
    auto r = korvane({"list.sfv"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out,
              "a: 100% complete\ra: Ok                   \n"
              "b: 100% complete\rb: Ok                   \n"
              "2 files checked\nAll files Ok\n");
    EXPECT_EQ(r.err, "");
}

TEST_F(Verify, MismatchShowsTheStoredDigestFirst) {
    dir.write("list.sfv", "a 00000001\nb " + crc_123456789 + "\n");
    auto r = korvane({"-q", "list.sfv"});
    EXPECT_EQ(r.status, 1);
    // SFV checksums as the list writes them, digests in their byte order.
    EXPECT_EQ(r.out,
              "a: hash mismatch: 00000001 != 352441C2\n"
              "2 files checked\n1 errors detected\n");
    dir.write("list.md5", std::string(32, '0') + " *a\n");
    auto md5 = korvane({"-q", "list.md5"});
    EXPECT_EQ(md5.out, "a: hash mismatch: " + std::string(32, '0') + " != " + md5_abc +
                           "\n1 files checked\n1 errors detected\n");
}

TEST_F(Verify, MissingFilesFailTheRun) {
    dir.write("list.sfv", "a " + crc_abc + "\r\nnothere 00000000\r\n");
    auto r = korvane({"-q", "list.sfv"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out,
              "nothere: File error: File not found\n2 files checked\n"
              "1 missing files detected\n");

    dir.write("mixed.sfv", "a 00000000\r\nx1 00000000\r\nx2 00000000\r\n");
    auto mixed = korvane({"-q", "mixed.sfv"});
    EXPECT_EQ(mixed.status, 1);
    EXPECT_EQ(mixed.out.substr(mixed.out.find("3 files")),
              "3 files checked\n1 errors detected\n2 missing files detected\n");
}

TEST_F(Verify, ADamagedListIsNeverReportedAsVerified) {
    dir.write("list.sfv", "a " + crc_abc + "\r\nno-space-here\r\nb " + crc_123456789 + "\r\n");
    auto r = korvane({"-q", "list.sfv"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "list.sfv: Invalid line\n1 files checked\n1 errors detected\n");
    dir.write("list.md5", "this is not an md5 line\n");
    auto md5 = korvane({"-q", "list.md5"});
    EXPECT_EQ(md5.status, 1);
    EXPECT_EQ(md5.out, "list.md5: Invalid line\n0 files checked\n1 errors detected\n");
}

TEST_F(Verify, ListsThatCannotBeOpenedEndSilently) {
    std::filesystem::create_directory(dir / "dir.sfv");
    auto r = korvane({"dir.sfv"});
    EXPECT_EQ(r.status, exit_status(-5));
    EXPECT_EQ(r.out, "");
    dir.write("empty.sfv", "");
    auto empty = korvane({"empty.sfv"});
    EXPECT_EQ(empty.status, 0);
    EXPECT_EQ(empty.out, "0 files checked\nAll files Ok\n");
}

TEST_F(Verify, ParentPrefixesEveryPath) {
    dir.write("data/x.bin", "abc");
    dir.write("list.sfv", "x.bin " + crc_abc + "\r\n");
    for (const char* parent : {"data", "data/"}) {
        auto r = korvane({"-p", parent, "list.sfv"});
        EXPECT_EQ(r.status, 0) << parent;
        EXPECT_NE(r.out.find("data/x.bin: Ok"), std::string::npos) << r.out;
    }
    auto own_value = korvane({"--parent=data", "-q", "list.sfv"});
    EXPECT_EQ(own_value.status, 0);
    auto too_long = korvane({"-p", std::string(262, 'p'), "list.sfv"});
    EXPECT_EQ(too_long.status, exit_status(-9));
    EXPECT_EQ(too_long.err, "Path is too long\n");
}

TEST_F(Verify, VerifiedEntriesAreSkippedUntilTheirFileChanges) {
    ASSERT_EQ(korvane({"-q", "-c", "list.sfv", "a", "b"}).status, 0);
    let_time_pass();
    ASSERT_EQ(korvane({"-q", "list.sfv"}).status, 0);
    auto skipped = korvane({"list.sfv"});
    EXPECT_EQ(skipped.status, 0);
    EXPECT_EQ(skipped.out,
              "a: Previously verified Ok\nb: Previously verified Ok\n"
              "2 files checked\nAll files Ok\n");
    // A changed file is hashed again, and a bad one loses its mark.
    dir.write("b", "changed");
    auto changed = korvane({"-q", "list.sfv"});
    EXPECT_EQ(changed.status, 1);
    EXPECT_NE(changed.out.find("b: hash mismatch"), std::string::npos);
    dir.write("b", "123456789");
    EXPECT_EQ(korvane({"-q", "list.sfv"}).status, 0);
}

TEST_F(Verify, TheMarkerFileFollowsAnErrorFreeRunWhenConfigured) {
    dir.write("list.sfv", "a " + crc_abc + "\r\n");
    dir.write("_Verified_", "old content");
    ASSERT_EQ(korvane({"-q", "list.sfv"}).status, 0);
    EXPECT_EQ(dir.read("_Verified_"), "old content");  // addtag not set

    write_config("addtag = true ; leave a marker\n");
    ASSERT_EQ(korvane({"-q", "list.sfv"}).status, 0);
    EXPECT_EQ(dir.read("_Verified_"), "");

    dir.write("_Verified_", "kept");
    dir.write("bad.sfv", "a 00000000\r\n");
    EXPECT_EQ(korvane({"-q", "bad.sfv"}).status, 1);
    EXPECT_EQ(dir.read("_Verified_"), "kept");

    // Never through a symbolic link (none can be made on Windows without privileges).
    if (on_windows) {
        return;
    }
    std::filesystem::remove(dir / "_Verified_");
    dir.write("precious", "data");
    std::filesystem::create_symlink("precious", dir / "_Verified_");
    ASSERT_EQ(korvane({"-q", "list.sfv"}).status, 0);
    EXPECT_EQ(dir.read("precious"), "data");
}

}  // namespace
}  // namespace korvane::testing
