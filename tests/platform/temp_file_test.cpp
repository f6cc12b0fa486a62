// New lists are written under names nobody can predict or plant in advance,
// readable by their owner only until they are renamed into place.
#include "platform/file.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <string>

#include "platform/fileops.h"
#include "platform/fs.h"
#include "platform/random.h"
#include "platform/text.h"
#include "support/target.h"
#include "support/temp_dir.h"

namespace korvane::testing {
namespace {

TEST(TemporaryFiles, NamesAreRandomExclusiveAndPrivate) {
    temp_dir dir;
    const std::wstring target = platform::widen((dir.path() / "out.sfv").string());
    std::set<std::wstring> names;
    for (int i = 0; i < 50; ++i) {
        platform::native_file file;
        std::wstring temp;
        ASSERT_EQ(file.create_beside(target.c_str(), temp), 0);
        ASSERT_EQ(temp.size(), target.size() + 21) << "16 hex digits between . and .tmp";
        EXPECT_EQ(temp.substr(temp.size() - 4), L".tmp");
        EXPECT_TRUE(names.insert(temp).second);
        auto path = std::filesystem::path(std::string(temp.begin(), temp.end()));
        auto status = std::filesystem::symlink_status(path);
        EXPECT_TRUE(std::filesystem::is_regular_file(status));
        if (!on_windows) {
            EXPECT_EQ(status.permissions() & std::filesystem::perms::all,
                      std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
        }
        EXPECT_EQ(file.close(), 0);
        EXPECT_EQ(platform::remove_file(temp.c_str()), 0);
    }
    unsigned char a[16] = {};
    unsigned char b[16] = {};
    ASSERT_TRUE(platform::random_bytes(a, sizeof a));
    ASSERT_TRUE(platform::random_bytes(b, sizeof b));
    EXPECT_NE(std::string(a, a + 16), std::string(b, b + 16));
}

// Scratch files hold a creation's overflow: whatever ends the process, no
// name of theirs is left in the folder.
TEST(TemporaryFiles, ScratchFilesHaveNoNameAndReadBackWhatWasWritten) {
    temp_dir dir;
    const std::wstring target = platform::widen((dir.path() / "out.sfv").string());
    platform::native_file file;
    ASSERT_EQ(file.create_scratch_beside(target.c_str()), 0);
    if (!on_windows) {  // Windows keeps the name until the handle closes
        EXPECT_TRUE(std::filesystem::is_empty(dir.path()));
    }
    const std::string text(100000, 'x');
    ASSERT_EQ(file.write_all(text.data(), text.size()), 0);
    ASSERT_EQ(file.seek(0), 0);
    std::string back(text.size() + 10, '\0');
    std::int64_t got = 0;
    for (std::int64_t n; (n = file.read(back.data() + got, back.size() - got)) > 0;) {
        got += n;
    }
    EXPECT_EQ(back.substr(0, static_cast<std::size_t>(got)), text);
    EXPECT_EQ(file.close(), 0);
    EXPECT_TRUE(std::filesystem::is_empty(dir.path()));

    platform::native_file nowhere;
    const std::wstring missing = platform::widen((dir.path() / "no/out.sfv").string());
    EXPECT_NE(nowhere.create_scratch_beside(missing.c_str()), 0);
}

TEST(TemporaryFiles, ARewriteNeverOpensALink) {
    KORVANE_SKIP_ON_WINDOWS("symbolic links need privileges on Windows");
    temp_dir dir;
    auto victim = dir.write("victim", "keep");
    const std::wstring target = platform::widen((dir.path() / "out.sfv").string());
    platform::native_file file;
    std::wstring temp;
    ASSERT_EQ(file.create_beside(target.c_str(), temp), 0);
    ASSERT_EQ(file.close(), 0);
    auto path = std::filesystem::path(std::string(temp.begin(), temp.end()));
    std::filesystem::remove(path);
    std::filesystem::create_symlink(victim, path);
    // A list replaced by a link between two runs takes no rewrite through it.
    EXPECT_EQ(file.open_for_rewrite(temp.c_str()), platform::error_access);
    EXPECT_EQ(read_file(victim), "keep");
}

}  // namespace
}  // namespace korvane::testing
