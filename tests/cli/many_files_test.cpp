// Creations that find more files than memory keeps: the files found wait in a
// scratch log beside the list, whatever later options on the command line say.
#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "cli_helpers.h"
#include "support/cli.h"
#include "support/target.h"

namespace korvane::testing {
namespace {

using lines = std::vector<std::string>;

class ManyFiles : public cli_test {
  protected:
    // Files with long names, so that the log of found files outgrows its
    // memory several times; contents alternate between two known digests.
    // Returns the entry lines a walk of "tree" gives, in its order.
    lines write_tree(int folders, int per_folder) {
        lines expected;
        for (int d = 0; d < folders; ++d) {
            const std::string folder = "tree/d" + std::to_string(100 + d);
            lines names;
            for (int f = 0; f < per_folder; ++f) {
                names.push_back(std::string(48, 'n') + "_" + std::to_string(f));
            }
            std::sort(names.begin(), names.end());
            std::filesystem::create_directories(dir / folder);
            for (const std::string& name : names) {
                const bool odd = name.back() % 2 == 1;
                dir.write(folder + "/" + name, odd ? "123456789" : "abc");
                expected.push_back(folder + "/" + name + " " + (odd ? crc_123456789 : crc_abc));
            }
        }
        return expected;
    }
};

TEST_F(ManyFiles, ComeBackInOrderHowEverTheCommandLineSettlesTheRun) {
    const lines expected = write_tree(12, 1000);
    // Hashed while the walk goes on.
    auto r = korvane({"-q", "-r", "-c", "out.sfv", "tree"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(entry_lines(dir.read("out.sfv")), expected);
    // The target named after the files: nothing could be hashed early.
    r = korvane({"-q", "-r", "tree", "-c", "late.sfv"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(entry_lines(dir.read("late.sfv")), expected);
    // A type given after the files voids what was hashed for the name's type.
    r = korvane({"-q", "-c", "typed.md5", "-r", "tree", "-t", "sfv"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(entry_lines(dir.read("typed.md5")), expected);
    // Not quiet: every file shows its line, in order.
    r = korvane({"-r", "-c", "out.sfv", "tree"});
    ASSERT_EQ(r.status, 0) << r.err;
    lines shown = lines_of(r.out);
    ASSERT_EQ(shown.size(), expected.size());
    for (std::size_t i = 0; i < shown.size(); i += 997) {
        EXPECT_EQ(shown[i], expected[i].substr(0, expected[i].rfind(' ')) + ": 100% complete");
    }
}

TEST_F(ManyFiles, AnotherTargetLaterTakesTheFirstTargetIn) {
    dir.write("w/a", "abc");
    dir.write("w/one.sfv", "abc");
    dir.write("w/two.sfv", "old\r\n");
    auto r = korvane({"-q", "-c", "w/one.sfv", "-r", "w", "-c", "w/two.sfv"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(entry_lines(dir.read("w/two.sfv")),
              (lines{"w/a " + crc_abc, "w/one.sfv " + crc_abc}));
    EXPECT_EQ(dir.read("w/one.sfv"), "abc");
}

TEST_F(ManyFiles, AFullDiskUnderTheLogEndsTheRunAndKeepsTheOldList) {
    KORVANE_SKIP_ON_WINDOWS("Windows has no file-size limit for a process");
    write_tree(6, 1000);
    const std::string old_list = "a " + crc_abc + "\r\n";
    dir.write("out.sfv", old_list);
    file_size_limit = 64 * 1024;  // less than the log keeps in memory
    auto r = korvane({"-q", "-r", "-c", "out.sfv", "tree"});
    EXPECT_NE(r.status, 0);
    EXPECT_EQ(r.err, "out.sfv: File too large\n");
    EXPECT_EQ(dir.read("out.sfv"), old_list);
    for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
        EXPECT_EQ(entry.path().filename().string().find("out.sfv."), std::string::npos)
            << "temporary file left behind: " << entry.path();
    }
}

}  // namespace
}  // namespace korvane::testing
