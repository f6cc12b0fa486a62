// What only Windows has: drive letters and backslashes in arguments, UTF-16
// names that checksum files cannot hold, and files that others hold open.
#include <chrono>
#include <fstream>
#include <thread>

#include "cli_helpers.h"
#include "support/cli.h"
#include "support/target.h"

namespace korvane::testing {
namespace {

using lines = std::vector<std::string>;

class WindowsOnly : public cli_test {
  protected:
    void SetUp() override { KORVANE_SKIP_ON_POSIX("Windows paths and share modes"); }
};

TEST_F(WindowsOnly, BackslashesAndDriveLettersInArguments) {
    dir.write("sub/x.txt", "abc");
    dir.write("sub/y.bin", "abc");
    dir.write("sub/deep/z.txt", "abc");
    const std::string absolute = dir.path().string();  // C:\...\korvane-test-...
    ASSERT_EQ(absolute.substr(1, 2), ":\\");

    // The directory part of a pattern is kept as typed, whatever the separator.
    ASSERT_EQ(korvane({"-q", "-c", "rel.sfv", "sub\\*.txt"}).status, 0);
    EXPECT_EQ(entry_lines(dir.read("rel.sfv")), (lines{"sub\\x.txt " + crc_abc}));

    ASSERT_EQ(korvane({"-q", "-c", "abs.sfv", absolute + "\\sub\\*.txt"}).status, 0);
    EXPECT_EQ(entry_lines(dir.read("abs.sfv")), (lines{absolute + "\\sub\\x.txt " + crc_abc}));

    // "C:name" is relative to the drive's current directory, which is ours.
    const std::string drive = absolute.substr(0, 2);
    ASSERT_EQ(korvane({"-q", "-c", "drive.sfv", drive + "sub\\y.*"}).status, 0);
    EXPECT_EQ(entry_lines(dir.read("drive.sfv")), (lines{drive + "sub\\y.bin " + crc_abc}));

    // A trailing backslash names the directory; the walk adds "/" below it.
    ASSERT_EQ(korvane({"-q", "-r", "-c", "walk.sfv", "sub\\"}).status, 0);
    EXPECT_EQ(entry_lines(dir.read("walk.sfv")),
              (lines{"sub/x.txt " + crc_abc, "sub/y.bin " + crc_abc, "sub/deep/z.txt " + crc_abc}));

    // Each list verifies, named with backslashes and a drive letter itself.
    for (const std::string list : {"rel.sfv", "abs.sfv", "drive.sfv", "walk.sfv"}) {
        auto r = korvane({"-q", absolute + "\\" + list});
        EXPECT_EQ(r.status, 0) << list << "\n" << r.out;
    }
    // Backslashes inside a list are separators too.
    dir.write("in.sfv", "sub\\deep\\z.txt " + crc_abc + "\r\n");
    EXPECT_EQ(korvane({"-q", "in.sfv"}).out, "1 files checked\nAll files Ok\n");

    // Windows also matches patterns against short 8.3 names; korvane does not,
    // so "*.txt" never finds "long.txtx" through "LONG~1.TXT".
    dir.write("sub/long.txtx", "abc");
    ASSERT_EQ(korvane({"-q", "-c", "short.sfv", "sub\\*.txt"}).status, 0);
    EXPECT_EQ(entry_lines(dir.read("short.sfv")), (lines{"sub\\x.txt " + crc_abc}));
}

TEST_F(WindowsOnly, ANameBeyondLatin1CannotBeWrittenToAList) {
    dir.write("a", "abc");
    dir.write("\xc4\x80.txt", "abc");  // U+0100: no byte of a checksum file holds it
    dir.write("out.sfv", "old list\r\n");
    auto r = korvane({"-q", "-c", "out.sfv", "*"});
    EXPECT_EQ(r.status, exit_status(-1));
    EXPECT_EQ(r.err, "out.sfv: Unknown error\n");
    EXPECT_EQ(dir.read("out.sfv"), "old list\r\n");  // the previous list survives

    // Latin-1 names are written as single bytes and read back.
    dir.write("caf\xc3\xa9", "abc");
    ASSERT_EQ(korvane({"-q", "-c", "latin.md5", "caf\xc3\xa9"}).status, 0);
    EXPECT_EQ(entry_lines(dir.read("latin.md5")), (lines{md5_abc + " *caf\xe9"}));
    EXPECT_EQ(korvane({"-q", "latin.md5"}).status, 0);
}

TEST_F(WindowsOnly, AFileOpenForWritingElsewhereIsAReadError) {
    dir.write("a", "abc");
    dir.write("busy", "abc");
    dir.write("list.sfv", "a " + crc_abc + "\r\nbusy " + crc_abc + "\r\n");
    {
        // This process writes the file; korvane opens it without sharing write
        // access, so it cannot read a file that may be half written.
        std::ofstream writer(dir / "busy", std::ios::binary | std::ios::app);
        ASSERT_TRUE(writer.is_open());
        auto r = korvane({"-q", "list.sfv"});
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.out, "busy: File error: File read error\n2 files checked\n1 errors detected\n");

        auto create = korvane({"-q", "-c", "new.sfv", "a", "busy"});
        EXPECT_EQ(create.status, exit_status(-3));
        EXPECT_EQ(create.out, "busy: File error: File read error\n");
    }
    // Once the writer is gone the same list verifies. Under Wine the other
    // process may see the writer's handle for a moment after it is closed.
    auto r = korvane({"-q", "-a", "list.sfv"});
    for (int attempt = 0; attempt < 20 && r.status != 0; ++attempt) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        r = korvane({"-q", "-a", "list.sfv"});
    }
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "2 files checked\nAll files Ok\n");
}

}  // namespace
}  // namespace korvane::testing
