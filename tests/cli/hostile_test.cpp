// Hostile conditions: permissions, full disks, odd file types, damaged lists.
#include "cli_helpers.h"
#include "support/cli.h"
#include "support/open_watch.h"
#include "support/target.h"

namespace korvane::testing {
namespace {

using lines = std::vector<std::string>;
using std::filesystem::perms;

class Hostile : public cli_test {
  protected:
    void SetUp() override { dir.write("a", "abc"); }
    void need_unprivileged_user() {
        if (!can_drop_privileges()) {
            GTEST_SKIP() << "needs root and setpriv to run korvane unprivileged";
        }
        as_nobody = true;
    }
    // A list of `count` entries with long names, so that it is large.
    void write_files(int count) {
        for (int i = 0; i < count; ++i) {
            dir.write("many/" + std::string(100, 'f') + std::to_string(i), "abc");
        }
    }
};

TEST_F(Hostile, UnreadableFilesFailTheirEntry) {
    need_unprivileged_user();
    if (IsSkipped()) {
        return;
    }
    auto secret = dir.write("secret", "abc");
    std::filesystem::permissions(secret, perms::owner_read | perms::owner_write);
    dir.write("list.sfv", "a " + crc_abc + "\r\nsecret " + crc_abc + "\r\n");
    std::filesystem::permissions(dir / "list.sfv", perms::all);
    auto r = korvane({"-q", "list.sfv"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "secret: File error: Access denied\n2 files checked\n1 errors detected\n");

    // Creation stops at the file and leaves no list behind.
    auto create = korvane({"-q", "-c", "new.sfv", "a", "secret"});
    EXPECT_EQ(create.status, exit_status(-5));
    EXPECT_EQ(create.out, "secret: File error: Access denied\n");
    EXPECT_FALSE(std::filesystem::exists(dir / "new.sfv"));
}

TEST_F(Hostile, ADirectoryThatCannotBeListedEndsTheWalk) {
    need_unprivileged_user();
    if (IsSkipped()) {
        return;
    }
    dir.write("tree/closed/x", "abc");
    std::filesystem::permissions(dir / "tree" / "closed", perms::owner_all);
    auto r = korvane({"-q", "-r", "-c", "out.sfv", "tree"});
    EXPECT_EQ(r.status, exit_status(-3));
    EXPECT_EQ(r.err, "Error reading directory tree/closed: Access denied");
}

TEST_F(Hostile, ReadOnlyListsAreVerifiedUnchangedAndLockedFoldersRefused) {
    need_unprivileged_user();
    if (IsSkipped()) {
        return;
    }
    const std::string list = "a " + crc_abc + "\r\n";
    dir.write("list.sfv", list);  // owned by root: read-only for the program
    auto verify = korvane({"-q", "list.sfv"});
    EXPECT_EQ(verify.status, 0);
    EXPECT_EQ(verify.out, "1 files checked\nAll files Ok\n");
    EXPECT_EQ(verify.err, "");
    EXPECT_EQ(dir.read("list.sfv"), list);

    std::filesystem::create_directory(dir / "locked");
    auto create = korvane({"-c", "locked/out.sfv", "a"});
    EXPECT_EQ(create.status, exit_status(-5));
    EXPECT_EQ(create.out, "Error creating sfv file: Access denied\n");
}

TEST_F(Hostile, AFullDiskWhileCreatingKeepsTheOldList) {
    KORVANE_SKIP_ON_WINDOWS("Windows has no file-size limit for a process");
    write_files(100);
    const std::string old_list = "a " + crc_abc + "\r\n";
    dir.write("out.sfv", old_list);
    file_size_limit = 4096;
    auto r = korvane({"-q", "-r", "-c", "out.sfv", "many"});
    EXPECT_NE(r.status, 0);
    EXPECT_EQ(r.err, "out.sfv: File too large\n");  // the limit gives EFBIG
    EXPECT_EQ(dir.read("out.sfv"), old_list);
    for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
        EXPECT_EQ(entry.path().filename().string().find("out.sfv."), std::string::npos)
            << "temporary file left behind: " << entry.path();
    }
}

TEST_F(Hostile, AFullDiskWhileSavingTheTagKeepsEveryEntry) {
    KORVANE_SKIP_ON_WINDOWS("Windows has no file-size limit for a process");
    write_files(400);
    ASSERT_EQ(korvane({"-q", "-r", "-c", "list.sfv", "many"}).status, 0);
    const std::string before = dir.read("list.sfv");
    file_size_limit = before.size() + 20;  // room for less than the tag
    auto r = korvane({"-q", "list.sfv"});
    EXPECT_EQ(r.status, 0) << "the verdicts are those of the files";
    EXPECT_EQ(r.out, "400 files checked\nAll files Ok\n");
    EXPECT_EQ(r.err, "list.sfv: File too large\n");
    const std::string after = dir.read("list.sfv");
    EXPECT_EQ(after.substr(0, before.size()), before);
    EXPECT_EQ(entry_lines(after), entry_lines(before));
}

TEST_F(Hostile, LinkLoopsAreWalkedOnce) {
    KORVANE_SKIP_ON_WINDOWS("symbolic links need privileges on Windows (and Wine makes none)");
    dir.write("tree/sub/b", "abc");
    std::filesystem::create_directory_symlink("..", dir / "tree" / "sub" / "up");
    std::filesystem::create_directory_symlink(".", dir / "tree" / "self");
    auto r = korvane({"-q", "-r", "-c", "out.sfv", "tree"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "Skipping directory loop: tree/self\nSkipping directory loop: tree/sub/up\n");
    EXPECT_EQ(entry_lines(dir.read("out.sfv")), (lines{"tree/sub/b " + crc_abc}));
}

TEST_F(Hostile, FifosAndDevicesNeverBlock) {
    KORVANE_SKIP_ON_WINDOWS("no FIFOs on Windows");
    ASSERT_EQ(run({"mkfifo", "pipe", "pipe.sfv"}).status, 0);
    auto create = korvane({"-q", "-c", "out.sfv", "pipe", "/dev/null", "a"});
    EXPECT_EQ(create.status, 0);
    EXPECT_EQ(entry_lines(dir.read("out.sfv")), (lines{"a " + crc_abc}));

    auto verify = korvane({"pipe.sfv"});
    EXPECT_EQ(verify.status, exit_status(-5));

    dir.write("list.sfv", "pipe 00000000\r\n");
    auto entry = korvane({"-q", "list.sfv"});
    EXPECT_EQ(entry.status, 1);
    EXPECT_EQ(entry.out, "pipe: File error: Access denied\n1 files checked\n1 errors detected\n");
}

TEST_F(Hostile, ANamedFifoOrDeviceIsNeverOpenedNorOneALinkNames) {
    KORVANE_SKIP_ON_WINDOWS("no FIFOs on Windows");
    open_watch watch(dir.path().string());
    if (!watch.active()) {
        GTEST_SKIP() << "opens cannot be watched here";
    }
    // Opening a device is an act of its own (a watchdog arms, a serial port
    // toggles its lines), even with O_NONBLOCK; a FIFO shows every open.
    ASSERT_EQ(run({"mkfifo", "pipe"}).status, 0);
    dir.write("a", "abc");
    std::filesystem::create_symlink("pipe", dir / "to_pipe");
    std::filesystem::create_symlink("/dev/null", dir / "to_null");
    std::filesystem::create_directory(dir / "sub");
    std::filesystem::create_directory_symlink("sub", dir / "via");
    std::filesystem::create_symlink("../pipe", dir / "sub" / "up");
    std::filesystem::create_symlink("a", dir / "to_a");
    dir.write("list.sfv",
              "pipe 00000000\r\nto_pipe 00000000\r\nvia/up 00000000\r\n"
              "to_null 00000000\r\n/dev/ptmx 00000000\r\nto_a " +
                  crc_abc + "\r\nvia/../a " + crc_abc + "\r\n");
    (void)watch.opened();

    auto r = korvane({"-q", "-a", "list.sfv"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out,
              "pipe: File error: Access denied\nto_pipe: File error: Access denied\n"
              "via/up: File error: Access denied\nto_null: File error: Access denied\n"
              "/dev/ptmx: File error: Access denied\n7 files checked\n5 errors detected\n");
    auto create = korvane({"-q", "-c", "out.sfv", "pipe", "to_pipe", "to_null", "to_a"});
    EXPECT_EQ(create.status, 0);
    EXPECT_EQ(entry_lines(dir.read("out.sfv")), (lines{"to_a " + crc_abc}));
    for (const std::string& name : watch.opened()) {
        EXPECT_NE(name, "pipe");
    }
}

TEST_F(Hostile, DamagedListsFailWithoutCrashing) {
    dir.write("garbage.sfv", random_bytes(65536, 3));
    dir.write("zeros.sfv",
              std::string("a ") + std::string(1, '\0') + "352441C2\r\n" + std::string(100, '\0'));
    dir.write("long.sfv", std::string(10 * 1024 * 1024, 'x'));
    dir.write("cr.sfv", "a " + crc_abc + "\rb 00000000\r");
    dir.write("garbage.md5", random_bytes(65536, 4));
    for (const char* name : {"garbage.sfv", "zeros.sfv", "long.sfv", "cr.sfv", "garbage.md5"}) {
        auto r = korvane({"-q", name});
        EXPECT_EQ(r.status, 1) << name << "\n" << r.out;
        EXPECT_NE(r.out.find(" detected\n"), std::string::npos) << name;
    }
    auto long_line = korvane({"-q", "long.sfv"});
    EXPECT_EQ(long_line.out, "long.sfv: Invalid line\n0 files checked\n1 errors detected\n");
}

// A name is the list's or the folder's text, not ours: control characters in
// it must not move the cursor, hide lines or fake a summary. Such a line starts
// with a backslash and shows the name escaped; every other name stays as it is.
TEST_F(Hostile, NamesCannotForgeTheScreen) {
    KORVANE_SKIP_ON_WINDOWS("Windows file names cannot hold control characters");
    const std::string hidden = "h\x1b[8m";         // hides what follows on a terminal
    const std::string forged = "f\nAll files Ok";  // a digest list can name it
    const std::string back = "go\rne";             // returns to the start of the line
    const std::string c1 =
        "c\xc2\x9b"
        "2J";                                           // U+009B, the one-unit CSI
    const std::string plain = "caf\xc3\xa9 dir\\name";  // UTF-8 and a backslash
    for (const std::string& name : {hidden, forged, c1, plain}) {
        dir.write(name, "abc");
    }
    dir.write("list.md5", md5_abc + "  " + hidden + "\n\\" + md5_abc + "  f\\nAll files Ok\n" +
                              md5_empty + "  " + c1 + "\n" + md5_abc + "  " + back + "\n" +
                              md5_abc + "  " + plain + "\n");
    auto r = korvane({"list.md5"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out,
              "\\h\\x1b[8m: 100% complete\r\\h\\x1b[8m: Ok                   \n"
              "\\f\\nAll files Ok: 100% complete\r\\f\\nAll files Ok: Ok                   \n"
              "\\c\\xc2\\x9b2J: 100% complete\r\\c\\xc2\\x9b2J: hash mismatch: " +
                  md5_empty + " != " + md5_abc +
                  "\n"
                  "\\go\\rne: 100% complete\r\\go\\rne: File error: File not found\n"
                  "caf\xc3\xa9 dir\\name: 100% complete\rcaf\xc3\xa9 dir\\name: Ok"
                  "                   \n"
                  "5 files checked\n1 errors detected\n1 missing files detected\n");

    // Names found by a walk are shown the same way.
    auto create = korvane({"-c", "out.sfv", hidden});
    EXPECT_EQ(create.status, 0);
    EXPECT_EQ(create.out, "\\h\\x1b[8m: 100% complete\n");
    dir.write("bad.sfv", "t\tab 00000000\r\n");
    dir.write("t\tab", "abc");
    auto tab = korvane({"-q", "bad.sfv"});
    EXPECT_EQ(tab.out,
              "\\t\\tab: hash mismatch: 00000000 != 352441C2\n1 files checked\n"
              "1 errors detected\n");
}

TEST_F(Hostile, LongComponentsRoundTrip) {
    const std::string name(255, 'L');
    dir.write("d/" + name, "abc");
    // Windows file names cannot hold a double quote.
    const std::string odd =
        per_target<std::string>("-leading dash; and \"quotes\"", "-leading dash; and 'quotes'");
    dir.write(odd, "abc");
    ASSERT_EQ(korvane({"-q", "-r", "-c", "out.sfv", "d", "./" + odd}).status, 0);
    auto r = korvane({"-q", "out.sfv"});
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(r.out, "2 files checked\nAll files Ok\n");
}

}  // namespace
}  // namespace korvane::testing
