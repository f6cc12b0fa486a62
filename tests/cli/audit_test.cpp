// Audits: after the entries, the files below the list's folder that the list
// does not name, as a creation there would find them.
#include "cli_helpers.h"
#include "support/cli.h"
#include "support/target.h"

namespace korvane::testing {
namespace {

using lines = std::vector<std::string>;

class Audit : public cli_test {
  protected:
    // photos/a, photos/sub/b and their list, made by a creation in photos.
    void SetUp() override {
        dir.write("photos/a", "abc");
        dir.write("photos/sub/b", "123456789");
        dir.write("photos.sfv", "a " + crc_abc + "\r\nsub/b " + crc_123456789 + "\r\n");
    }
    // The lines after the entries' verdicts: what the audit added.
    static lines audit_lines(const std::string& out) {
        lines found;
        for (const std::string& line : lines_of(lf_line_ends(out))) {
            if (line.find(": Not in list") != std::string::npos) {
                found.push_back(line);
            }
        }
        return found;
    }
};

TEST_F(Audit, NewFilesAreReportedInWalkOrderAndFailTheRun) {
    auto clean = korvane({"-q", "--audit", "-p", "photos", "photos.sfv"});
    EXPECT_EQ(clean.status, 0) << clean.out;
    EXPECT_EQ(lf_line_ends(clean.out), "2 files checked\nAll files Ok\n");

    dir.write("photos/sub/new", "x");
    dir.write("photos/zz/deeper/new2", "y");
    dir.write("photos/c", "z");
    auto r = korvane({"--audit", "-p", "photos", "photos.sfv"});
    EXPECT_EQ(r.status, 1);
    // Breadth first, as a creation walks: the folder's own files, then below.
    EXPECT_EQ(audit_lines(r.out),
              (lines{"c: Not in list", "sub/new: Not in list", "zz/deeper/new2: Not in list"}));
    const std::string out = lf_line_ends(r.out);
    EXPECT_LT(out.find("sub/b: Ok"), out.find("c: Not in list"));  // after every entry
    EXPECT_NE(out.find("2 files checked\n3 files not in list\n"), std::string::npos) << out;
    EXPECT_EQ(out.find("All files Ok"), std::string::npos);
    // Quiet runs still say what fails them.
    auto quiet = korvane({"-q", "--audit", "-p", "photos", "photos.sfv"});
    EXPECT_EQ(audit_lines(quiet.out).size(), 3u);
    // Without --audit nothing changes.
    EXPECT_EQ(korvane({"-q", "-p", "photos", "photos.sfv"}).status, 0);
}

TEST_F(Audit, NamesCountAsTheyResolveAndKorvanesOwnFilesAreLeftOut) {
    KORVANE_SKIP_ON_WINDOWS("runs the program from a folder through sh");
    const std::string absolute = (dir / "photos" / "d").string();
    dir.write("photos/d", "abc");
    dir.write("photos/e", "abc");
    dir.write("photos/f", "abc");
    // Other spellings of listed files, a name listed twice, one outside the
    // folder, and the list and its leftovers inside it.
    dir.write("photos/in.sfv", "./a " + crc_abc + "\r\nsub//b " + crc_123456789 + "\r\nsub/../e " +
                                   crc_abc + "\r\n" + absolute + " " + crc_abc +
                                   "\r\n./sub/./../f " + crc_abc + "\r\na " + crc_abc +
                                   "\r\n../photos.sfv 00000000\r\n");
    dir.write("photos/in.sfv.0123456789abcdef.tmp", "left by a kill");
    dir.write("photos/_Verified_", "");
    dir.write("photos/in.sfv.tmp", "not ours");
    dir.write("photos/sub/in.sfv.0123456789abcdef.tmp", "another folder");
    cli_result r = run({"sh", "-c", "cd photos && \"$0\" --audit in.sfv", KORVANE_BINARY});
    EXPECT_EQ(audit_lines(r.out),
              (lines{"in.sfv.tmp: Not in list", "sub/in.sfv.0123456789abcdef.tmp: Not in list"}))
        << r.out;
    EXPECT_EQ(r.status, 1);  // the line naming photos.sfv mismatches, and two unlisted
}

TEST_F(Audit, ANameWithBackslashesCountsAsTheFileItResolvesTo) {
    KORVANE_SKIP_ON_WINDOWS("a backslash separates there anyway");
    dir.write("photos.sfv", "a " + crc_abc + "\r\nsub\\b " + crc_123456789 + "\r\n");
    auto r = korvane({"-q", "--audit", "-p", "photos", "photos.sfv"});
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_TRUE(audit_lines(r.out).empty());
}

TEST_F(Audit, ListNamesResolveAgainstTheCurrentFolderWithoutAParent) {
    KORVANE_SKIP_ON_WINDOWS("runs the program from a folder through sh");
    // The list inside the folder it lists, run from there: the folder is ".".
    dir.write("photos/photos.sfv", "a " + crc_abc + "\r\nsub/b " + crc_123456789 + "\r\n");
    dir.write("photos/new", "x");
    cli_result r = run({"sh", "-c", "cd photos && \"$0\" -q --audit photos.sfv", KORVANE_BINARY});
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_EQ(audit_lines(r.out), (lines{"new: Not in list"}));
}

// A list whose names find not one file (the wrong folder, a volume not
// mounted) would call every file there unlisted: the audit says so instead.
TEST_F(Audit, NotOneListedFileFoundStopsTheAudit) {
    dir.write("elsewhere/x", "abc");
    auto r = korvane({"--audit", "-p", "elsewhere", "photos.sfv"});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(audit_lines(r.out).empty()) << r.out;
    EXPECT_NE(r.out.find("photos.sfv: not one listed file is where its names resolve"),
              std::string::npos)
        << r.out;
    // An empty list has nothing to find: every file is new.
    dir.write("empty.sfv", "");
    auto empty = korvane({"-q", "--audit", "-p", "elsewhere", "empty.sfv"});
    EXPECT_EQ(audit_lines(empty.out), (lines{"x: Not in list"}));
}

TEST_F(Audit, TheWalkFollowsTheRulesOfACreationWalk) {
    KORVANE_SKIP_ON_WINDOWS("symbolic links");
    std::filesystem::create_symlink("nowhere", dir / "photos" / "dangling");
    std::filesystem::create_directory_symlink("..", dir / "photos" / "sub" / "up");
    std::filesystem::create_symlink("a", dir / "photos" / "link-to-a");
    auto r = korvane({"-q", "--audit", "-p", "photos", "photos.sfv"});
    EXPECT_EQ(r.err,
              "Could not stat file photos/dangling: File not found\n"
              "Skipping directory loop: photos/sub/up\n");
    // A link to a file is a file a creation would list.
    EXPECT_EQ(audit_lines(r.out), (lines{"link-to-a: Not in list"}));
}

}  // namespace
}  // namespace korvane::testing
