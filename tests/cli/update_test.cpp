// Updates: a list rewritten to match its folder, its own lines kept, unchanged
// files never hashed, and nothing written where the update cannot be trusted.
#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "cli_helpers.h"
#include "support/cli.h"
#include "support/target.h"

namespace korvane::testing {
namespace {

using lines = std::vector<std::string>;

class Update : public cli_test {
  protected:
    // Sets a file's modification time to `other`'s: an edit that keeps its
    // size and time looks unchanged.
    void same_time(const std::string& name, const std::string& other) {
        std::filesystem::last_write_time(dir / name, std::filesystem::last_write_time(dir / other));
    }
    void later(const std::string& name) {
        std::filesystem::last_write_time(
            dir / name, std::filesystem::last_write_time(dir / name) + std::chrono::hours(1));
    }
};

TEST_F(Update, AddsUpdatesKeepsWhatIsGoneAndPrunesOnlyWhenAsked) {
    KORVANE_SKIP_ON_WINDOWS("makes the list in its folder through sh");
    dir.write("photos/a", "abc");
    dir.write("photos/b", "123456789");
    dir.write("photos/c", "gone soon");
    ASSERT_EQ(
        run({"sh", "-c", "cd photos && \"$0\" -q -c ../list.sfv a b c", KORVANE_BINARY}).status, 0);
    dir.write("photos/b", "1234567890");
    later("photos/b");
    std::filesystem::remove(dir / "photos/c");
    dir.write("photos/sub/new", "abc");

    auto r = korvane({"-u", "-p", "photos", "list.sfv"});
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(lines_of(lf_line_ends(r.out)),
              (lines{"b: updated", "c: missing, kept", "sub/new: added"}));
    std::string list = dir.read("list.sfv");
    EXPECT_EQ(entry_lines(list),
              (lines{"a " + crc_abc, "b 261DAEE5", "c E7DF74D9", "sub/new " + crc_abc}))
        << list;
    // Records all before the entries, as a creation writes them; b's once.
    EXPECT_LT(list.find(" sub/new\r\n"), list.find("a " + crc_abc));
    EXPECT_EQ(list.find(" b\r\n"), list.rfind(" b\r\n"));

    // Nothing changed: nothing said, nothing hashed, the list as it was.
    r = korvane({"-u", "-p", "photos", "list.sfv"});
    EXPECT_EQ(lines_of(lf_line_ends(r.out)), (lines{"c: missing, kept"}));
    EXPECT_EQ(dir.read("list.sfv"), list);

    r = korvane({"-u", "--prune", "-p", "photos", "list.sfv"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(lines_of(lf_line_ends(r.out)), (lines{"c: removed"}));
    list = dir.read("list.sfv");
    EXPECT_EQ(entry_lines(list), (lines{"a " + crc_abc, "b 261DAEE5", "sub/new " + crc_abc}));
    EXPECT_EQ(list.find(" c\r\n"), std::string::npos) << "its record goes too";
    EXPECT_EQ(korvane({"-q", "-p", "photos", "list.sfv"}).status, 0);
}

// The marks of earlier verifications survive an update, each on its own file:
// kept files stay spared, an updated or added one is hashed, and a pruned
// entry's mark leaves with it instead of covering the damaged file after it.
TEST_F(Update, VerifiedMarksStayWithTheirOwnFiles) {
    KORVANE_SKIP_ON_WINDOWS("runs in the list's folder through sh");
    // In the list's own folder, which holds nothing else.
    const auto in_photos = [this](std::vector<std::string> args) {
        args.insert(args.begin(), {"sh", "-c", "cd photos && \"$0\" \"$@\"", KORVANE_BINARY});
        return run(args);
    };
    dir.write("photos/a", "abc");
    dir.write("photos/b", "123456789");
    dir.write("photos/c", "gone soon");
    dir.write("photos/d", "ddd");
    dir.write("ref", "x");
    ASSERT_EQ(in_photos({"-q", "-c", "list.sfv", "a", "b", "c", "d"}).status, 0);
    // d damaged where nobody saved it: same size, same time.
    same_time("ref", "photos/d");
    dir.write("photos/d", "ddD");
    same_time("photos/d", "ref");
    let_time_pass();
    ASSERT_EQ(in_photos({"-q", "list.sfv"}).status, 1) << "marks a, b and c, not d";

    dir.write("photos/b", "1234567890");
    later("photos/b");
    std::filesystem::remove(dir / "photos/c");
    dir.write("photos/e", "abc");
    auto r = in_photos({"-u", "--prune", "list.sfv"});
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(lines_of(lf_line_ends(r.out)), (lines{"b: updated", "c: removed", "e: added"}));

    r = in_photos({"list.sfv"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("a: Previously verified Ok"), std::string::npos) << r.out;
    // Hashed: updated, added, and the damaged file that c's mark must not cover.
    EXPECT_NE(r.out.find("b: Ok"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("d: hash mismatch"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("e: Ok"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find(": Previously verified Ok"), r.out.rfind(": Previously verified Ok"))
        << r.out;
}

// The marks stay also for a list kept outside the folder its names resolve
// against; an update that changes nothing leaves the list as it was.
TEST_F(Update, MarksStayForAListBesideTheFolderAndNothingChangedWritesNothing) {
    KORVANE_SKIP_ON_WINDOWS("makes the list in its folder through sh");
    dir.write("photos/a", "abc");
    dir.write("photos/b", "123456789");
    ASSERT_EQ(run({"sh", "-c", "cd photos && \"$0\" -q -c ../list.sfv a b", KORVANE_BINARY}).status,
              0);
    let_time_pass();
    ASSERT_EQ(korvane({"-q", "-p", "photos", "list.sfv"}).status, 0);
    const std::string marked = dir.read("list.sfv");
    const auto stamp = std::filesystem::last_write_time(dir / "list.sfv");
    auto r = korvane({"-u", "-p", "photos", "list.sfv"});
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(dir.read("list.sfv"), marked);
    EXPECT_EQ(std::filesystem::last_write_time(dir / "list.sfv"), stamp);

    dir.write("photos/c", "abc");
    r = korvane({"-u", "-p", "photos", "list.sfv"});
    EXPECT_EQ(lf_line_ends(r.out), "c: added\n");
    r = korvane({"-p", "photos", "list.sfv"});
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find("a: Previously verified Ok"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("b: Previously verified Ok"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("c: Ok"), std::string::npos) << r.out;
}

// A file that cannot be looked at is not gone: --prune never drops it.
TEST_F(Update, AnEntryThatCannotBeLookedAtIsKeptEvenWithPrune) {
    KORVANE_SKIP_ON_WINDOWS("a symbolic link that names itself");
    dir.write("photos/a", "abc");
    // Outside the folder, which a walk would stop at.
    std::filesystem::create_directory(dir / "elsewhere");
    std::filesystem::create_symlink("loop", dir / "elsewhere" / "loop");
    const std::string list = "a " + crc_abc + "\r\n../elsewhere/loop " + crc_abc + "\r\n";
    dir.write("list.sfv", list);
    auto r = korvane({"-u", "--prune", "-p", "photos", "list.sfv"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("elsewhere/loop: File error"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("removed"), std::string::npos) << r.out;
    EXPECT_EQ(entry_lines(dir.read("list.sfv")), entry_lines(list));
}

TEST_F(Update, UnchangedFilesAreKeptUnhashedEvenWhenTheirContentDiffers) {
    dir.write("a", "abc");
    dir.write("ref", "x");
    ASSERT_EQ(korvane({"-q", "-c", "list.sha256", "-T", "a"}).status, 0);
    // Same size, same time: an update trusts the record and never opens it,
    // so damage stays for a verification to find.
    same_time("ref", "a");
    dir.write("a", "abd");
    same_time("a", "ref");
    std::filesystem::remove(dir / "ref");
    auto r = korvane({"-u", "list.sha256"});
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(r.out, "");
    EXPECT_NE(dir.read("list.sha256")
                  .find("ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad *a"),
              std::string::npos);
    EXPECT_EQ(korvane({"-q", "list.sha256"}).status, 1);
}

TEST_F(Update, ForeignLinesLineEndsAndOtherFormsStayAsTheyStand) {
    dir.write("a", "abc");
    dir.write("b", "abcd");
    // LF line ends, a comment, a BSD line and an unrecorded entry.
    const std::string old =
        "# made by sha256sum\nba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad  "
        "a\nSHA256 (b) = 88d4266fd4e6338d13b845fcf289579d209c897823b9217da3e161936f031589\n";
    dir.write("SHA256SUMS", old);
    dir.write("c", "abc");
    auto r = korvane({"--update=SHA256SUMS"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(lf_line_ends(r.out), "c: added\n");
    EXPECT_EQ(dir.read("SHA256SUMS"),
              old + "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad *c\n");
    // Without records, present files are kept as listed.
    dir.write("a", "changed");
    later("a");
    r = korvane({"-u", "SHA256SUMS"});
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(dir.read("SHA256SUMS"),
              old + "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad *c\n");
}

TEST_F(Update, RefusesSignedListsAndListsWhoseFilesAreNotThere) {
    dir.write("a", "abc");
    const std::string signed_list =
        "-----BEGIN PGP SIGNED MESSAGE-----\nHash: "
        "SHA256\n\nba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad  a\n"
        "-----BEGIN PGP SIGNATURE-----\nxx\n-----END PGP SIGNATURE-----\n";
    dir.write("signed.sha256", signed_list);
    dir.write("new", "x");
    auto r = korvane({"-u", "signed.sha256"});
    EXPECT_NE(r.status, 0);
    EXPECT_EQ(r.err, "signed.sha256: signed list, not updated\n");
    EXPECT_EQ(dir.read("signed.sha256"), signed_list);

    // Run from the wrong folder (or a volume not mounted): not one file
    // found, so nothing is added, and nothing pruned.
    const std::string elsewhere = "x/1 " + crc_abc + "\r\nx/2 " + crc_abc + "\r\n";
    dir.write("photos.sfv", elsewhere);
    r = korvane({"-u", "--prune", "photos.sfv"});
    EXPECT_NE(r.status, 0);
    EXPECT_NE(r.err.find("photos.sfv: not one listed file is where its names resolve"),
              std::string::npos)
        << r.err;
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(dir.read("photos.sfv"), elsewhere);

    // Files named besides the list change nothing about that.
    EXPECT_NE(korvane({"-u", "signed.sha256", "a"}).status, 0);
    EXPECT_EQ(dir.read("signed.sha256"), signed_list);
}

TEST_F(Update, NamedFilesAloneAreAddedOrRefreshed) {
    dir.write("a", "abc");
    dir.write("b", "123456789");
    dir.write("c", "gone soon");
    ASSERT_EQ(korvane({"-q", "-c", "list.sfv", "a", "b", "c"}).status, 0);
    dir.write("b", "1234567890");
    later("b");
    dir.write("c", "changed too");
    later("c");
    dir.write("new/1", "abc");
    dir.write("new/2", "abc");
    dir.write("unnamed", "abc");
    const std::string before = dir.read("list.sfv");

    // Files named to add or refresh resolve against the current folder, so
    // not together with -p.
    EXPECT_NE(korvane({"-u", "-p", ".", "list.sfv", "b"}).status, 0);
    EXPECT_EQ(dir.read("list.sfv"), before);

    // The list itself, named again, and a file named twice are taken once;
    // c is left as it stands, though changed; -r counts from where it stands.
    auto r = korvane({"-u", "list.sfv", "b", "list.sfv", "new", "un*", "b", "-r", "new"});
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(lines_of(lf_line_ends(r.out)),
              (lines{"b: updated", "unnamed: added", "new/1: added", "new/2: added"}));
    EXPECT_EQ(entry_lines(dir.read("list.sfv")),
              (lines{"a " + crc_abc, "b 261DAEE5", "c E7DF74D9", "unnamed " + crc_abc,
                     "new/1 " + crc_abc, "new/2 " + crc_abc}));
    // --update=LIST takes every file argument as one to add.
    dir.write("more", "abc");
    r = korvane({"--update=list.sfv", "more"});
    EXPECT_EQ(lf_line_ends(r.out), "more: added\n");

    // A named file that is gone, and the files gone below a folder named
    // with -r, are judged too: --prune drops exactly those.
    std::filesystem::remove(dir / "a");
    std::filesystem::remove(dir / "new/1");
    std::filesystem::remove(dir / "more");
    r = korvane({"-u", "--prune", "list.sfv", "a", "-r", "new"});
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(lines_of(lf_line_ends(r.out)), (lines{"a: removed", "new/1: removed"}));
    EXPECT_EQ(entry_lines(dir.read("list.sfv")),
              (lines{"b 261DAEE5", "c E7DF74D9", "unnamed " + crc_abc, "new/2 " + crc_abc,
                     "more " + crc_abc}));
}

// A list naming a file twice keeps both entries; names that leave the folder
// are looked at where they resolve, and never count as new there.
TEST_F(Update, DuplicateAndEscapingNamesAreJudgedWhereTheyResolve) {
    KORVANE_SKIP_ON_WINDOWS("makes the list in its folder through sh");
    dir.write("photos/a", "abc");
    dir.write("outside/x", "abc");
    const std::string outside = (dir / "outside/x").string();
    auto in_photos = [&](const std::string& command) {
        return run({"sh", "-c", "cd photos && " + command, KORVANE_BINARY, outside});
    };
    ASSERT_EQ(in_photos("\"$0\" -q -c ../list.sfv a ./a ../outside/x \"$1\"").status, 0);
    const std::string recorded = dir.read("list.sfv");
    dir.write("photos/a", "abd");
    later("photos/a");
    dir.write("outside/x", "abd");
    later("outside/x");
    auto r = in_photos("\"$0\" -u ../list.sfv");
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    // Each entry is hashed again and replaced, both of a's and both
    // spellings of x; the walk of photos meets nothing new.
    EXPECT_EQ(
        lines_of(lf_line_ends(r.out)),
        (lines{"a: updated", "./a: updated", "../outside/x: updated", outside + ": updated"}));
    EXPECT_EQ(
        entry_lines(dir.read("list.sfv")),
        (lines{"a AB40D461", "./a AB40D461", "../outside/x AB40D461", outside + " AB40D461"}));
    EXPECT_EQ(in_photos("\"$0\" -q ../list.sfv").status, 0);
}

// A file found by the walk that its owner may not read is passed over as a
// creation passes it over: said, and not added.
TEST_F(Update, NewFilesTheWalkCannotTakeAreSaidAndLeftOut) {
    KORVANE_SKIP_ON_WINDOWS("permission bits");
    dir.write("photos/a", "abc");
    dir.write("list.sfv", "a " + crc_abc + "\r\n");
    dir.write("photos/secret", "abc");
    std::filesystem::permissions(dir / "photos/secret", std::filesystem::perms::none);
    dir.write("photos/z", "abc");
    auto r = korvane({"-u", "-p", "photos", "list.sfv"});
    std::filesystem::permissions(dir / "photos/secret", std::filesystem::perms::owner_all);
    EXPECT_NE(r.err.find("secret"), std::string::npos) << r.out << r.err;
    EXPECT_EQ(lf_line_ends(r.out), "z: added\n");
    EXPECT_EQ(entry_lines(dir.read("list.sfv")), (lines{"a " + crc_abc, "z " + crc_abc}));
}

}  // namespace
}  // namespace korvane::testing
