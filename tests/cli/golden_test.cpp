// What the program shows, byte for byte: one run of each kind on a tree built
// so that every line is known in advance, standard output and standard error
// apart, with the exit status. Whoever changes how results reach the console
// sees here at once whether a single byte moved. Progress percentages are left
// out: they appear only for a file that takes seconds, at moments no test can
// fix; the final "100% complete" lines are in.
#include <filesystem>

#include "cli_helpers.h"
#include "support/cli.h"
#include "support/target.h"

namespace korvane::testing {
namespace {

using lines = std::vector<std::string>;
using std::filesystem::perms;

// A run as the user sees it.
struct shown {
    int status;
    std::string out;
    std::string err;
};

const std::string sha256_abc = "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad";
const std::string sha256_123456789 =
    "15e2b0d3c33891ebb0f1ef609ec419420c20e320ce94c65fbc8c3312448eb225";
const std::string md5_123456789 = "25f9e794323b453885f5181f1b624d0b";

// The line that ends the progress of a file a verification hashed.
std::string done(const std::string& name) {
    return name + ": 100% complete\r";
}
std::string ok(const std::string& name) {
    return done(name) + name + ": Ok                   \n";
}

const std::string usage_text =
    "korvane  version 3.00\n"
    "Copyright (C) 2026 The Korvane Developers.\n"
    "This is free software; it comes with ABSOLUTELY NO WARRANTY.\n"
    "korvane home page: https://korvane.org/\n"
    "\n"
    "korvane is a fast file checksum creation and validation tool.\n"
    "\n"
    "Usage: korvane [OPTIONS] checksum_file\n"
    "  or   korvane [OPTIONS] -c checksum_file file1 file2 ...\n"
    "  or   korvane [OPTIONS] -u checksum_file [file1 file2 ...]\n"
    "\n"
    "Options\n"
    "-a, --all              always verify all files\n"
    "    --audit            also report the files below the list's folder that it does not name\n"
    "-c, --create=FILE      create the checksum file and write to FILE\n"
    "    --exclude=PATTERN  leave out names matching PATTERN (*, ?, **; ending in /: folders)\n"
    "    --files-from=FILE  also the files FILE names, one a line (- for standard input)\n"
    "    --ignore-missing   verification: leave out files that are missing\n"
    "-j, --jobs=N           hash up to N files at once (default: one per CPU)\n"
    "    --json             print the results as JSON Lines, one object per line\n"
    "    --merge            one run's output, list and exit status from its shards'\n"
    "                       files: LIST RESULTS... or -c LIST PARTS...\n"
    "    --null             --files-from names end with a zero byte (find -print0)\n"
    "-p, --parent=DIR       assume DIR is the root directory for all files in the database\n"
    "    --prune            an update drops the entries of files that are gone\n"
    "-q, --quiet            suppress non-error messages\n"
    "-r, --recursive        recursively add sub-directories\n"
    "    --results=FILE     a verification or update shard's results, for --merge\n"
    "    --shard=K/N        check or hash only shard K of N (or auto: the scheduler's)\n"
    "    --status           verification: print nothing, the exit status tells\n"
    "    --strict           verification: improperly formatted lines fail the run\n"
    "-t, --type=TYPE        force checksum file of type TYPE (default based on file extension)\n"
    "                       TYPE is sfv, md5, sha1, sha256, sha512, blake3, xxh64, xxh3 or xxh128\n"
    "-T, --record-times     record each file's size and modification time in MD5 and\n"
    "                       SHA lists too (SFV lists always do)\n"
    "-u, --update[=FILE]    update the checksum file: add new files, hash changed\n"
    "                       ones again, keep the entries of files gone\n"
    "-V, --version          show version\n"
    "-w, --warn             verification: name each improperly formatted line\n"
    "-x, --one-file-system  don't cross filesystem boundaries\n"
    "-z, --zero             end each result with NUL, names unescaped\n"
    "\n"
    "Examples\n"
    "  korvane --audit photos.sfv       verify, and name the files the list lacks\n"
    "  korvane -u photos.sfv            add new files, hash changed ones again\n"
    "  korvane -u --prune backup.sha256 the same, and drop the entries of files gone\n"
    "  korvane --status --ignore-missing SHA256SUMS  check what is here, say nothing\n";

class Golden : public cli_test {
  protected:
    void SetUp() override {
        dir.write("a", "abc");
        dir.write("b", "123456789");
    }

    // Runs `argv` (the program or a driver first) and compares everything it showed.
    void expect_shown(const std::vector<std::string>& argv, const shown& expected) {
        const cli_result r = run(argv);
        std::string what;
        for (const std::string& arg : argv) {
            what += arg + " ";
        }
        EXPECT_EQ(r.status, expected.status) << what;
        EXPECT_EQ(r.out, expected.out) << what;
        EXPECT_EQ(r.err, expected.err) << what;
    }
    void expect_korvane(std::vector<std::string> args, const shown& expected) {
        args.insert(args.begin(), KORVANE_BINARY);
        expect_shown(args, expected);
    }
    void need_unprivileged_user() {
        if (!can_drop_privileges()) {
            GTEST_SKIP() << "needs root and setpriv to run korvane unprivileged";
        }
        as_nobody = true;
    }
};

// A walk meets an unreadable file, a dangling link, a link back up the tree
// and a FIFO; the arguments a dangling link and a plain file.
TEST_F(Golden, CreationWithWalkProblems) {
    KORVANE_SKIP_ON_WINDOWS("FIFOs, symbolic links and permission bits");
    dir.write("tree/a", "abc");
    dir.write("tree/sub/b", "123456789");
    std::filesystem::permissions(dir.write("tree/locked", "abc"), perms::owner_write);
    std::filesystem::create_symlink("nowhere", dir / "tree" / "dangling");
    std::filesystem::create_directory_symlink("..", dir / "tree" / "sub" / "up");
    ASSERT_EQ(run({"mkfifo", "tree/pipe"}).status, 0);
    std::filesystem::create_symlink("nowhere", dir / "gone");
    const std::string walk_errors =
        "Could not stat file tree/dangling: File not found\n"
        "Access denied to tree/locked\n"
        "Skipping directory loop: tree/sub/up\n"
        "Could not stat file: gone\n";

    expect_korvane(
        {"-r", "-c", "out.sfv", "tree", "gone", "a"},
        {0, "tree/a: 100% complete\ntree/sub/b: 100% complete\na: 100% complete\n", walk_errors});
    EXPECT_EQ(entry_lines(dir.read("out.sfv")),
              (lines{"tree/a " + crc_abc, "tree/sub/b " + crc_123456789, "a " + crc_abc}));

    expect_korvane({"-q", "-r", "-c", "out.sha256", "tree", "gone", "a"}, {0, "", walk_errors});
    // The whole list but the time in its first line.
    const std::string list = dir.read("out.sha256");
    const std::string first = "# Generated by Korvane 3.00 on ";
    ASSERT_EQ(list.substr(0, first.size()), first);
    EXPECT_EQ(list.substr(list.find('\r')), "\r\n# https://korvane.org/\r\n#\r\n" + sha256_abc +
                                                " *tree/a\r\n" + sha256_123456789 +
                                                " *tree/sub/b\r\n" + sha256_abc + " *a\r\n");
    EXPECT_EQ(list.find('\r'), first.size() + std::string("2026-12-09 at 22:02:20").size());
}

TEST_F(Golden, CreationErrors) {
    expect_korvane({"-c", "missing-dir/out.sfv", "a"},
                   {exit_status(-4), "Error creating sfv file: File not found\n", ""});
    expect_korvane({"-q", "-t", "md5", "-c", "missing-dir/out.sfv", "a"},
                   {exit_status(-4), "Error creating sfv file: File not found\n", ""});
    dir.write("d/" + std::string(255, 'm') + "/" + std::string(6, 'y'), "abc");
    expect_korvane({"-q", "-r", "-c", "no.sfv", "d"}, {exit_status(-9), "", "Path is too long\n"});
}

// The first file that cannot be read ends a creation run; a folder that
// cannot be listed ends the walk.
TEST_F(Golden, CreationStopsAtAnUnreadableFile) {
    need_unprivileged_user();
    if (IsSkipped()) {
        return;
    }
    std::filesystem::permissions(dir.write("secret", "abc"),
                                 perms::owner_read | perms::owner_write);
    expect_korvane(
        {"-c", "new.sfv", "a", "secret", "b"},
        {exit_status(-5),
         "a: 100% complete\nsecret: 100% complete\nsecret: File error: Access denied\n", ""});
    expect_korvane({"-q", "-c", "new.md5", "a", "secret", "b"},
                   {exit_status(-5), "secret: File error: Access denied\n", ""});
    dir.write("tree/closed/x", "abc");
    std::filesystem::permissions(dir / "tree" / "closed", perms::owner_all);
    expect_korvane({"-r", "-c", "out.sfv", "tree"},
                   {exit_status(-3), "", "Error reading directory tree/closed: Access denied"});
    // Readable for its owner only, and then not even for that: the second is
    // also refused as a file argument.
    dir.write("closed.sfv", "a " + crc_abc + "\r\n");
    std::filesystem::permissions(dir / "closed.sfv", perms::owner_read | perms::owner_write);
    expect_korvane({"closed.sfv"}, {exit_status(-5), "", "closed.sfv: Access denied\n"});
    std::filesystem::permissions(dir / "closed.sfv", perms::owner_write);
    expect_korvane({"closed.sfv"}, {exit_status(-5), "",
                                    "Access denied to closed.sfv\nclosed.sfv: Access denied\n"});
}

// Every verdict an SFV list can give, with the tag remembering the files that
// verified: the first run (quiet), the next (non-quiet, skipping those), and
// one with -a that checks them again.
TEST_F(Golden, VerificationOfAnSfvList) {
    KORVANE_SKIP_ON_WINDOWS("FIFOs and control characters in file names");
    ASSERT_EQ(run({"mkfifo", "pipe"}).status, 0);
    dir.write("t\tab", "abc");
    dir.write("list.sfv", "; made by hand\r\na " + crc_abc +
                              "\r\nb 00000001\r\nnothere 00000000\r\n"
                              "pipe 00000000\r\nt\tab " +
                              crc_abc + "\r\n");
    let_time_pass();
    const std::string problems =
        "b: hash mismatch: 00000001 != CBF43926\n"
        "nothere: File error: File not found\n"
        "pipe: File error: Access denied\n";
    const std::string summary = "5 files checked\n2 errors detected\n1 missing files detected\n";
    expect_korvane({"-q", "list.sfv"}, {1, problems + summary, ""});
    const std::string hashed_problems = done("b") + "b: hash mismatch: 00000001 != CBF43926\n" +
                                        done("nothere") + "nothere: File error: File not found\n" +
                                        done("pipe") + "pipe: File error: Access denied\n";
    expect_korvane({"list.sfv"}, {1,
                                  "a: Previously verified Ok\n" + hashed_problems +
                                      "\\t\\tab: Previously verified Ok\n" + summary,
                                  ""});
    expect_korvane({"-a", "list.sfv"},
                   {1, ok("a") + hashed_problems + ok("\\t\\tab") + summary, ""});

    dir.write("damaged.sfv", "a " + crc_abc + "\r\nno-space-here\r\nb " + crc_123456789 + "\r\n");
    expect_korvane(
        {"damaged.sfv"},
        {1, ok("a") + "damaged.sfv: Invalid line\n1 files checked\n1 errors detected\n", ""});
    dir.write("good.sfv", "a " + crc_abc + "\r\nb " + crc_123456789 + "\r\n");
    expect_korvane({"good.sfv"}, {0, ok("a") + ok("b") + "2 files checked\nAll files Ok\n", ""});
    expect_korvane({"-q", "good.sfv"}, {0, "2 files checked\nAll files Ok\n", ""});
}

// Digest lists: a mismatch shown in the list's own digits, a missing file,
// a damaged list, and a signed list with lines outside its signed text.
TEST_F(Golden, VerificationOfDigestLists) {
    dir.write("list.md5", md5_abc + " *a\n" + std::string(32, '0') + " *b\n" + md5_empty +
                              "  nothere\n" + md5_123456789 + "  b\n");
    const std::string mismatch =
        "b: hash mismatch: " + std::string(32, '0') + " != " + md5_123456789 + "\n";
    const std::string summary = "4 files checked\n1 errors detected\n1 missing files detected\n";
    expect_korvane({"list.md5"}, {1,
                                  ok("a") + done("b") + mismatch + done("nothere") +
                                      "nothere: File error: File not found\n" + ok("b") + summary,
                                  ""});
    expect_korvane({"-q", "list.md5"},
                   {1, mismatch + "nothere: File error: File not found\n" + summary, ""});

    dir.write("damaged.md5", md5_abc + " *a\nthis is not an md5 line\n");
    expect_korvane({"-q", "damaged.md5"},
                   {1, "damaged.md5: Invalid line\n1 files checked\n1 errors detected\n", ""});

    const std::string outside =
        "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"
        "  evil\n";
    dir.write("signed.asc", outside + "-----BEGIN PGP SIGNED MESSAGE-----\nHash: SHA256\n\n" +
                                sha256_abc + "  a\n" + std::string(64, 'f') +
                                "  b\n-----BEGIN PGP SIGNATURE-----\n\nwsBzBAEBCAAnBQJ\n=AbCd\n"
                                "-----END PGP SIGNATURE-----\n" +
                                outside);
    const std::string sha_mismatch =
        "b: hash mismatch: " + std::string(64, 'f') + " != " + sha256_123456789 + "\n";
    const std::string signed_summary =
        "2 files checked\n1 errors detected\n2 lines outside the signed text\n";
    expect_korvane({"signed.asc"},
                   {1,
                    "evil: Outside the signed text\n" + ok("a") + done("b") + sha_mismatch +
                        "evil: Outside the signed text\n" + signed_summary,
                    ""});
    expect_korvane({"-q", "signed.asc"}, {1,
                                          "evil: Outside the signed text\n" + sha_mismatch +
                                              "evil: Outside the signed text\n" + signed_summary,
                                          ""});
}

// Lists that cannot be read at all, or not as any type, and a parent that
// leaves no room for the names.
TEST_F(Golden, ListsThatCannotBeRead) {
    std::filesystem::create_directory(dir / "folder.sfv");
    expect_korvane({"folder.sfv"}, {exit_status(-5), "", "folder.sfv: Access denied\n"});
    dir.write("notes.txt", "hello\n");
    expect_korvane({"notes.txt"},
                   {exit_status(-6), "", "notes.txt: unknown checksum list format\n"});
    dir.write("empty.sfv", "");
    expect_korvane({"empty.sfv"}, {0, "0 files checked\nAll files Ok\n", ""});
    dir.write("list.sfv", "a " + crc_abc + "\r\n");
    expect_korvane({"-p", std::string(262, 'p'), "list.sfv"},
                   {exit_status(-9), "", "Path is too long\n"});
    // A list that is not there matches nothing: the usage.
    expect_korvane({"nothere.sfv"}, {0, usage_text, ""});
}

TEST_F(Golden, UsageAndVersion) {
    expect_korvane({}, {0, usage_text, ""});
    expect_korvane({"-h"}, {0, usage_text, ""});
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {"-t", "bad", "a"}, {"-c"}, {"-j", "0", "a"}, {"-p", "", "a"}, {"--type"}}) {
        expect_korvane(args, {exit_status(-8), usage_text, ""});
    }
    const std::string banner = std::string(KORVANE_BINARY) +
                               "  version 3.00\n"
                               "Copyright (C) 2026 The Korvane Developers.\n"
                               "This is free software; it comes with ABSOLUTELY NO WARRANTY.\n" +
                               KORVANE_BINARY + " home page: https://korvane.org/\n";
    expect_korvane({"-V"}, {0, banner, ""});
}

// A run with no descriptor to spare for a single file.
TEST_F(Golden, NoDescriptorForAFile) {
#if defined(_WIN32)
    GTEST_SKIP() << "no per-process descriptor limit";
#elif defined(KORVANE_TESTS_UBSAN)
    GTEST_SKIP() << "UBSan's type check needs descriptors of its own";
#else
    dir.write("list.sfv", "a " + crc_abc + "\r\n");
    descriptor_limit = 4;
    expect_korvane(
        {"-j", "1", "-a", "list.sfv"},
        {exit_status(-1), done("a") + "Error processing file a: Too many open files\n", ""});
#endif
}

TEST_F(Golden, FaultsThatOnlyTheDriversReach) {
#if !defined(KORVANE_FAULT_DRIVER) || !defined(KORVANE_UNTRUSTED_FS_DRIVER)
    GTEST_SKIP() << "the drivers are built for POSIX only";
#else
    expect_shown({KORVANE_FAULT_DRIVER, "2", "-c", "out.sfv", "a", "b"},
                 {exit_status(-1),
                  "a: 100% complete\nb: 100% complete\nError adding file b: Unknown error\n", ""});
    expect_shown({KORVANE_FAULT_DRIVER, "w1", "-q", "-c", "out.sfv", "a"},
                 {exit_status(-3), "", "out.sfv: File write error\n"});
    // A list whose tag cannot be saved, once the configuration holds a
    // signature (its own first write would take the fault otherwise).
    dir.write("list.sfv", "a " + crc_abc + "\r\n");
    ASSERT_EQ(korvane({"-q", "list.sfv"}).status, 0);
    expect_shown({KORVANE_FAULT_DRIVER, "w1", "list.sfv"},
                 {0, ok("a") + "1 files checked\nAll files Ok\n", "list.sfv: File write error\n"});

    // Where a change time may be set back, remembered verdicts are not trusted.
    let_time_pass();
    ASSERT_EQ(korvane({"-q", "list.sfv"}).status, 0);
    expect_shown({KORVANE_UNTRUSTED_FS_DRIVER, "list.sfv"},
                 {0,
                  ok("a") + "Previously verified entries are not trusted on this file system "
                            "(untrusted-for-test): it may not keep a change time\n"
                            "1 files checked\nAll files Ok\n",
                  ""});
#endif
}

}  // namespace
}  // namespace korvane::testing
