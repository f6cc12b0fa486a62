// The check flags scripts know from the GNU tools: the same exit status and
// the same files reported as sha256sum -c gives on the same lists, the
// warnings for improperly formatted lines, and NUL-ended records.
#include <algorithm>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "cli_helpers.h"
#include "support/cli.h"
#include "support/target.h"

namespace korvane::testing {
namespace {

const std::string sha_abc = "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad";
const std::string sha_zero(64, '0');

class CheckFlags : public cli_test {
  protected:
    void SetUp() override {
        dir.write("a", "abc");
        dir.write("b", "abc");
        dir.write("good.sha256", sha_abc + "  a\n" + sha_abc + "  b\n");
        dir.write("missing.sha256", sha_abc + "  a\n" + sha_abc + "  gone\n");
        dir.write("all-missing.sha256", sha_abc + "  gone\n" + sha_abc + "  lost\n");
        dir.write("mismatch.sha256", sha_abc + "  a\n" + sha_zero + "  b\n");
        dir.write("invalid.sha256", sha_abc + "  a\nnot a checksum line\n" + sha_abc + "  b\n");
        dir.write("invalid-mismatch.sha256",
                  sha_abc + "  a\nnot a checksum line\n" + sha_zero + "  b\n");
    }
    bool have(const std::string& tool) {
        return run({"sh", "-c", "command -v " + tool + " >/dev/null"}).status == 0;
    }
    // The names a run's results on standard output are about.
    static std::set<std::string> reported(const std::string& out) {
        std::set<std::string> names;
        for (const std::string& line : lines_of(lf_line_ends(out))) {
            // "NAME: OK", "NAME: FAILED ...", "NAME: Ok", "NAME: hash mismatch...", after a
            // progress line's carriage return.
            const std::string shown = line.substr(line.rfind('\r') + 1);
            const std::size_t colon = shown.find(": ");
            const std::string verdict = colon == std::string::npos ? "" : shown.substr(colon + 2);
            if (verdict.rfind("OK", 0) == 0 || verdict.rfind("FAILED", 0) == 0 ||
                verdict.rfind("Ok", 0) == 0 || verdict.rfind("hash mismatch", 0) == 0 ||
                verdict.rfind("File error", 0) == 0) {
                names.insert(shown.substr(0, colon));
            }
        }
        return names;
    }
};

TEST_F(CheckFlags, MeanWhatTheyMeanToSha256sum) {
    KORVANE_SKIP_ON_WINDOWS("runs sha256sum");
    if (!have("sha256sum")) {
        GTEST_SKIP() << "sha256sum is not installed";
    }
    const std::vector<std::vector<std::string>> flag_sets = {{"--ignore-missing"},
                                                             {"--status"},
                                                             {"--strict"},
                                                             {"--warn"},
                                                             {"--ignore-missing", "--strict"}};
    for (const char* list : {"good.sha256", "missing.sha256", "all-missing.sha256",
                             "mismatch.sha256", "invalid.sha256", "invalid-mismatch.sha256"}) {
        for (const auto& flags : flag_sets) {
            std::vector<std::string> gnu = {"sha256sum", "-c"};
            std::vector<std::string> ours = {};
            std::string what = list;
            for (const std::string& flag : flags) {
                gnu.push_back(flag);
                ours.push_back(flag);
                what += " " + flag;
            }
            gnu.push_back(list);
            ours.push_back(list);
            const cli_result theirs = run(gnu);
            const cli_result mine = korvane(ours);
            EXPECT_EQ(mine.status, theirs.status) << what << "\n" << mine.out << mine.err;
            EXPECT_EQ(reported(mine.out), reported(theirs.out)) << what << "\nkorvane:\n"
                                                                << mine.out << "sha256sum:\n"
                                                                << theirs.out;
            if (flags[0] == "--status") {
                EXPECT_EQ(mine.out, "") << what;
            }
        }
    }
    // Without any of the flags an improperly formatted line keeps ending
    // the run and failing it, where sha256sum passes.
    const cli_result plain = korvane({"invalid.sha256"});
    EXPECT_EQ(plain.status, 1);
    EXPECT_EQ(reported(plain.out), (std::set<std::string>{"a"}));
}

TEST_F(CheckFlags, ImproperLinesAreNamedCountedAndFailOnlyWhenStrict) {
    auto r = korvane({"--warn", "invalid.sha256"});
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(r.err,
              "invalid.sha256: 2: improperly formatted SHA256 checksum line\n"
              "invalid.sha256: WARNING: 1 line is improperly formatted\n");
    EXPECT_NE(r.out.find("b: Ok"), std::string::npos) << "the entry after the line is verified";
    EXPECT_NE(r.out.find("All files Ok"), std::string::npos);

    r = korvane({"--strict", "invalid.sha256"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "invalid.sha256: WARNING: 1 line is improperly formatted\n");
    EXPECT_EQ(r.out.find("All files Ok"), std::string::npos) << r.out;

    // --status says nothing of them at the end; the exit status tells.
    r = korvane({"--status", "--strict", "invalid.sha256"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out + r.err, "");
    // A list that cannot be opened is still said.
    r = korvane({"--status", "-t", "sha256", "absent.sha256"});
    EXPECT_NE(r.status, 0);
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find("absent.sha256: File not found"), std::string::npos) << r.err;
}

TEST_F(CheckFlags, IgnoreMissingLeavesMissingFilesOutButNeverPassesAnEmptyCheck) {
    auto r = korvane({"--ignore-missing", "missing.sha256"});
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(r.out.find("gone"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("1 files checked"), std::string::npos) << r.out;

    r = korvane({"--ignore-missing", "all-missing.sha256"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "all-missing.sha256: no file was verified\n");
    EXPECT_EQ(r.out.find("All files Ok"), std::string::npos) << r.out;
}

TEST_F(CheckFlags, ZeroEndsEveryRecordWithNulAndShowsNamesAsTheyAre) {
    KORVANE_SKIP_ON_WINDOWS("a line feed in a file name");
    dir.write("new\nline", "abc");
    dir.write("names.sha256", "\\" + sha_abc + "  new\\nline\n" + sha_abc + "  a\n");
    auto r = korvane({"-z", "names.sha256"});
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(r.out, std::string("new\nline: Ok") + '\0' + "a: Ok" + '\0' + "2 files checked" +
                         '\0' + "All files Ok" + '\0');
    // Without -z the name is escaped on a line of its own.
    r = korvane({"-q", "names.sha256"});
    EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 2) << r.out;
}

// A missing file left unsaid must not shift which remembered verdict the
// entries read after it ask for: the entry that failed last time would be
// passed as verified on its neighbour's mark.
TEST_F(CheckFlags, IgnoredMissingFilesDoNotShiftRememberedVerdicts) {
    KORVANE_SKIP_ON_WINDOWS("change times under Wine");
    std::vector<std::string> names;
    for (int i = 100; i < 400; ++i) {
        names.push_back("f" + std::to_string(i));
        dir.write(names.back(), "file " + std::to_string(i));
    }
    std::vector<std::string> create{"-c", "list.sfv"};
    create.insert(create.end(), names.begin(), names.end());
    ASSERT_EQ(korvane(create).status, 0);
    dir.write("f300", "damaged!");
    let_time_pass();
    ASSERT_EQ(korvane({"-j1", "list.sfv"}).status, 1);  // marks all but f300
    std::filesystem::remove(dir / "f110");
    const cli_result r = korvane({"-j1", "--ignore-missing", "list.sfv"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("f300: hash mismatch"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("f301: Previously verified Ok"), std::string::npos) << r.out;
}

}  // namespace
}  // namespace korvane::testing
