// The directory walk of a creation run: breadth first and sorted whatever the
// listing's budget, loops recognised although walked directories are given
// back, and the records it holds bounded by the directories waiting.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "expand.h"
#include "platform/text.h"
#include "report.h"
#include "support/target.h"
#include "support/temp_dir.h"

namespace korvane::app {
namespace {

namespace fs = std::filesystem;
using korvane::testing::temp_dir;
using korvane::testing::wide_path;

// Keeps what the walk reports; everything else is no concern of a walk.
class walk_reporter : public reporter {
  public:
    std::vector<std::pair<walk_issue, std::wstring>> problems;
    int out_of_memory_count = 0;

    void run_started(const run_facts&) override {}
    bool wants_progress() const override { return false; }
    void file_started(const wchar_t*) override {}
    void file_progress(const wchar_t*, int) override {}
    void file_hashed(const wchar_t*) override {}
    void file_done(const file_outcome&) override {}
    void irregular_checksum(std::uint64_t) override {}
    void run_halted(const wchar_t*, halt_reason) override {}
    void walk_problem_met(const walk_problem& problem) override {
        problems.emplace_back(problem.what, problem.path);
    }
    void list_failed(list_step, const wchar_t*, status) override {}
    void scratch_failed(const wchar_t*, status, int) override {}
    void unknown_list_format(const wchar_t*) override {}
    void path_too_long() override {}
    void file_not_listed(const wchar_t*) override {}
    void audit_refused(const wchar_t*) override {}
    void entry_updated(const wchar_t*, update_verdict) override {}
    void update_refused(const wchar_t*, status) override {}
    void out_of_memory() override { ++out_of_memory_count; }
    void summary(const verification_tally&, const wchar_t*) override {}
};

// One walk of `root` with recursion on; the files in the order found, and the
// largest number of directory records held at any file found.
struct walk_result {
    status result = status::ok;
    std::vector<std::wstring> files;
    std::size_t most_directories_held = 0;
    std::size_t records_left = 0;  // after the walk
    walk_reporter report;
};

walk_result walk_tree(const fs::path& root, std::size_t budget, const fs::path& target = {}) {
    walk_result out;
    run_settings settings;
    settings.recursive = true;
    settings.has_target = !target.empty();
    settings.creation_target = wide_path(target);
    expansion_state state;
    state.listing_budget = budget;
    state.file_added = [&](path_record* record) {
        out.files.emplace_back(record->text);
        const std::size_t held = state.pool.live() - 1;  // beyond the file handed over
        out.most_directories_held = std::max(out.most_directories_held, held);
        state.pool.release(record);
        return status::ok;
    };
    out.result = expand_argument(wide_path(root).c_str(), settings, state, out.report);
    out.records_left = state.pool.live();
    return out;
}

// The walk's promise built independently: breadth first, each directory's
// names in sorted order, files as they come.
std::vector<std::wstring> breadth_first(const fs::path& root) {
    std::vector<std::wstring> files;
    std::deque<std::wstring> waiting{wide_path(root)};
    while (!waiting.empty()) {
        const std::wstring directory = waiting.front();
        waiting.pop_front();
        std::vector<std::wstring> names;
        for (const auto& entry : fs::directory_iterator(fs::path(directory))) {
            names.push_back(wide_path(entry.path().filename()));
        }
        std::sort(names.begin(), names.end());
        for (const std::wstring& name : names) {
            const std::wstring path = directory + L"/" + name;
            if (fs::is_directory(fs::path(path))) {
                waiting.push_back(path);
            } else {
                files.push_back(path);
            }
        }
    }
    return files;
}

TEST(Walk, BreadthFirstAndSortedWhateverTheBudget) {
    temp_dir dir;
    // Four levels, names long enough that each folder spills at the smallest
    // budget, directories and files interleaved in the order.
    const std::string long_part(80, 'n');
    for (int a = 0; a < 3; ++a) {
        for (int b = 0; b < 3; ++b) {
            for (int c = 0; c < 3; ++c) {
                const std::string leaf = "tree/d" + std::to_string(a) + "/" + long_part +
                                         std::to_string(b) + "/e" + std::to_string(c) + "/";
                for (int f = 0; f < 60; ++f) {
                    dir.write(leaf + long_part + std::to_string(f * 37 % 60), "");
                }
                dir.write(leaf + "deep/last", "");
            }
            dir.write("tree/d" + std::to_string(a) + "/" + long_part + "f" + std::to_string(b), "");
        }
        dir.write("tree/" + std::to_string(a) + "top", "");
    }
    const std::vector<std::wstring> expected = breadth_first(dir / "tree");
    ASSERT_EQ(expected.size(), 3u * (3 * 3 * 61 + 3 + 1));
    for (std::size_t budget : {std::size_t{4096}, std::size_t{0}}) {
        walk_result walked = walk_tree(dir / "tree", budget);
        EXPECT_EQ(walked.result, status::ok);
        EXPECT_EQ(walked.files, expected) << budget;
        EXPECT_TRUE(walked.report.problems.empty());
        EXPECT_EQ(walked.records_left, 0u);
    }
}

// A wildcard's matches come one at a time in byte order, also from a folder
// whose names do not fit the listing's budget; a matching folder is walked
// in its place.
TEST(Walk, WildcardMatchesInOrderWhateverTheBudget) {
    temp_dir dir;
    const std::string long_part(80, 'w');
    std::vector<std::wstring> expected;
    for (int f = 0; f < 200; ++f) {
        const std::string name = long_part + std::to_string(f * 7919 % 1000);
        dir.write("flat/" + name, "");
        if (name.find('7') != std::string::npos) {
            expected.push_back(wide_path(dir / "flat" / name));
        }
    }
    dir.write("flat/sub7/inside", "");
    expected.push_back(wide_path(dir / "flat" / "sub7"));  // stands for what it holds
    std::sort(expected.begin(), expected.end());
    *std::find(expected.begin(), expected.end(), wide_path(dir / "flat" / "sub7")) =
        wide_path(dir / "flat" / "sub7") + L"/inside";
    for (std::size_t budget : {std::size_t{4096}, std::size_t{0}}) {
        walk_result walked = walk_tree(dir / "flat" / "*7*", budget);
        EXPECT_EQ(walked.result, status::ok);
        EXPECT_EQ(walked.files, expected) << budget;
        EXPECT_EQ(walked.records_left, 0u);
    }
    // A folder that is not there matches nothing.
    EXPECT_TRUE(walk_tree(dir / "none" / "*", 0).files.empty());
}

// A chain of directories `depth` deep, each with `width` side directories
// that hold one file and nothing below.
void make_comb(const temp_dir& dir, int depth, int width) {
    std::string level = "comb";
    for (int d = 0; d < depth; ++d) {
        for (int w = 0; w < width; ++w) {
            dir.write(level + "/side" + std::to_string(w) + "/f", "");
        }
        dir.write(level + "/f", "");
        level += "/z";
    }
}

TEST(Walk, HoldsTheWaitingDirectoriesAndTheirAncestorsOnly) {
    temp_dir dir;
    const int depth = 30;
    const int width = 10;
    make_comb(dir, depth, width);
    walk_result walked = walk_tree(dir / "comb", 0);
    EXPECT_EQ(walked.result, status::ok);
    EXPECT_EQ(walked.files.size(), static_cast<std::size_t>(depth * (width + 1)));
    // Every directory kept to the end would be depth * (width + 1) records; the
    // waiting ones are at most two levels' sides, plus the chain above them.
    EXPECT_LE(walked.most_directories_held, static_cast<std::size_t>(2 * (width + 1) + depth));
    EXPECT_EQ(walked.records_left, 0u);
}

TEST(Walk, AWalkThatEndsEarlyGivesEveryDirectoryBack) {
    temp_dir dir;
    make_comb(dir, 6, 4);
    // A path beyond the room for paths ends the walk with directories waiting.
    dir.write("comb/z/side1/" + std::string(150, 'l') + "/" + std::string(150, 'm'), "");
    walk_result walked = walk_tree(dir / "comb", 0);
    EXPECT_EQ(walked.result, status::path_error);
    EXPECT_EQ(walked.records_left, 0u);

    KORVANE_SKIP_ON_WINDOWS("permission bits are POSIX");
    fs::remove_all(dir / "comb/z/side1");
    const fs::path closed = dir / "comb/z/z/side2";
    fs::permissions(closed, fs::perms::none);
    walk_result unlistable = walk_tree(dir / "comb", 0);
    fs::permissions(closed, fs::perms::owner_all);
    if (unlistable.report.problems.empty()) {
        GTEST_SKIP() << "running with the right to read any folder";
    }
    EXPECT_EQ(unlistable.result, status::file_read_error);
    ASSERT_EQ(unlistable.report.problems.size(), 1u);
    EXPECT_EQ(unlistable.report.problems[0].first, walk_issue::unlistable_directory);
    EXPECT_EQ(unlistable.report.problems[0].second, wide_path(closed));
    EXPECT_EQ(unlistable.records_left, 0u);
}

TEST(Walk, LoopsAreFoundAfterWalkedDirectoriesWereGivenBack) {
    KORVANE_SKIP_ON_WINDOWS("symbolic links need a privilege there");
    temp_dir dir;
    // Siblings on every level, walked and given back before the loop at the
    // bottom is met; a link across to a sibling is no loop and is walked.
    make_comb(dir, 5, 3);
    const fs::path bottom = dir / "comb/z/z/z/z";
    fs::create_directory_symlink("../../..", bottom / "up");
    fs::create_directory_symlink("../../side1", bottom / "across");
    walk_result walked = walk_tree(dir / "comb", 4096);
    EXPECT_EQ(walked.result, status::ok);
    ASSERT_EQ(walked.report.problems.size(), 1u);
    EXPECT_EQ(walked.report.problems[0].first, walk_issue::directory_loop);
    EXPECT_EQ(walked.report.problems[0].second, wide_path(bottom / "up"));
    // The tree's files once each, and the sibling's once more through the link.
    EXPECT_EQ(walked.files.size(), 5u * 4 + 1);
    EXPECT_EQ(
        std::count(walked.files.begin(), walked.files.end(), wide_path(bottom / "across" / "f")),
        1);
    EXPECT_EQ(walked.records_left, 0u);
}

TEST(Walk, ScratchFilesGoBesideTheTargetOrToTheTemporaryFolderNeverIntoTheListedOne) {
    KORVANE_SKIP_ON_WINDOWS("the temporary folder comes from GetTempPathW there");
    temp_dir dir;
    temp_dir elsewhere;
    for (int f = 0; f < 100; ++f) {
        dir.write("big/" + std::string(100, 'n') + std::to_string(f), "");
    }
    const char* saved = std::getenv("TMPDIR");
    const std::optional<std::string> before =
        saved != nullptr ? std::optional<std::string>(saved) : std::nullopt;
    korvane::testing::set_environment("TMPDIR", (dir / "no such folder").string());
    // Beside a target elsewhere: no temporary folder needed, nothing left there.
    walk_result beside = walk_tree(dir / "big", 4096, elsewhere / "list.sfv");
    EXPECT_EQ(beside.result, status::ok);
    EXPECT_EQ(beside.files.size(), 100u);
    EXPECT_TRUE(fs::is_empty(elsewhere.path()));
    // A target in the folder being listed sends the scratch file to the
    // temporary folder, here missing: the folder cannot be listed.
    walk_result inside = walk_tree(dir / "big", 4096, dir / "big" / "list.sfv");
    EXPECT_EQ(inside.result, status::file_read_error);
    ASSERT_EQ(inside.report.problems.size(), 1u);
    EXPECT_EQ(inside.report.problems[0].first, walk_issue::unlistable_directory);
    korvane::testing::set_environment("TMPDIR", (elsewhere / "").string());
    walk_result temporary = walk_tree(dir / "big", 4096, dir / "big" / "list.sfv");
    EXPECT_EQ(temporary.result, status::ok);
    EXPECT_EQ(temporary.files.size(), 100u);
    korvane::testing::set_environment("TMPDIR", before);
    EXPECT_TRUE(fs::is_empty(elsewhere.path()));
}

}  // namespace
}  // namespace korvane::app
