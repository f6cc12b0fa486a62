// What the platform layer can tell of a file's bytes being in memory: the
// rule that keeps large files on a seeking disk one at a time relies on it
// to let files the OS already holds go side by side.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "platform/cpu.h"
#include "platform/file_read.h"
#include "platform/fs.h"
#include "platform/text.h"
#include "support/target.h"
#include "support/temp_dir.h"

namespace korvane::testing {
namespace {

namespace fs = std::filesystem;
namespace platform = korvane::platform;

class Residency : public ::testing::Test {
  protected:
    platform::file_handle open(const fs::path& path, std::uint64_t& size) {
        const std::wstring name = on_windows ? path.wstring() : platform::widen(path.string());
        platform::file_handle file = platform::invalid_file;
        EXPECT_EQ(platform::open_for_hashing(name.c_str(), file, size), 0);
        return file;
    }
    temp_dir dir;
};

TEST_F(Residency, JustWrittenBytesAreInMemoryAndReadWithoutTheDisk) {
    const std::string bytes = random_bytes(3 * 1024 * 1024 + 17, 5);
    std::uint64_t size = 0;
    platform::file_handle file = open(dir.write("written", bytes), size);
    ASSERT_EQ(size, bytes.size());

    EXPECT_EQ(platform::all_in_memory(file, size), !on_windows);
    std::string read(bytes.size(), '\0');
    const int status = platform::read_if_cached(file, read.data(), read.size(), 0);
    if (on_windows) {
        EXPECT_EQ(status, platform::would_need_disk);  // the OS cannot be asked
    } else {
        ASSERT_EQ(status, 0);
        EXPECT_EQ(read, bytes);
    }
    // Past the end the file has no bytes to give, cached or not.
    EXPECT_NE(platform::read_if_cached(file, read.data(), 16, size - 8), 0);
    platform::close_file(file);

    platform::file_handle empty = open(dir.write("empty", ""), size);
    EXPECT_EQ(platform::all_in_memory(empty, 0), !on_windows);
    platform::close_file(empty);
}

TEST_F(Residency, AHoleNeverReadIsNotInMemoryWhereverItLies) {
    // A hole at the start, and one behind a first stretch of written bytes
    // large enough that the look goes on past its first window.
    const fs::path front = dir / "hole-first";
    write_file(front, "");
    fs::resize_file(front, 1024 * 1024);

    const fs::path back = dir.write("hole-last", std::string(65u << 20, 'x'));
    fs::resize_file(back, (65u << 20) + 4096 * 4);

    for (const fs::path& path : {front, back}) {
        std::uint64_t size = 0;
        platform::file_handle file = open(path, size);
        EXPECT_FALSE(platform::all_in_memory(file, size)) << path;
        platform::close_file(file);
    }
}

// A creation's checks refuse a file before it is opened, whichever name
// reaches it, and let every other file through.
TEST(HashingChecks, TheListBeingWrittenAndFilesTheirOwnerMayNotReadAreRefused) {
    temp_dir dir;
    const std::wstring list = wide_path(dir.write("list.sfv", "old"));
    const std::wstring other = wide_path(dir.write("other", "abc"));
    platform::file_info identity;
    ASSERT_EQ(platform::get_file_info(list.c_str(), identity), 0);
    platform::hashing_checks checks;
    checks.exclude = true;
    checks.device = identity.device;
    checks.inode = identity.inode;
    checks.owner_read = true;

    std::vector<std::wstring> names{list};
    fs::create_hard_link(dir / "list.sfv", dir / "hard");
    names.push_back(wide_path(dir / "hard"));
    if (!on_windows) {
        fs::create_symlink("list.sfv", dir / "soft");
        names.push_back(wide_path(dir / "soft"));
    }
    for (const std::wstring& name : names) {
        platform::file_handle file = platform::invalid_file;
        std::uint64_t size = 0;
        EXPECT_EQ(platform::open_for_hashing(name.c_str(), file, size, nullptr, &checks),
                  platform::refused_excluded);
        EXPECT_EQ(file, platform::invalid_file);
    }
    platform::file_handle file = platform::invalid_file;
    std::uint64_t size = 0;
    ASSERT_EQ(platform::open_for_hashing(other.c_str(), file, size, nullptr, &checks), 0);
    EXPECT_EQ(size, 3u);
    platform::close_file(file);
    ASSERT_EQ(platform::open_for_hashing(list.c_str(), file, size), 0);  // no checks asked
    platform::close_file(file);

    if (on_windows) {
        return;  // no owner-read bit there
    }
    const fs::path locked = dir.write("locked", "abc");
    fs::permissions(locked, fs::perms::owner_write);
    fs::create_symlink("locked", dir / "to-locked");
    for (const fs::path& path : {locked, dir / "to-locked"}) {
        EXPECT_EQ(platform::open_for_hashing(wide_path(path).c_str(), file, size, nullptr, &checks),
                  platform::refused_unreadable)
            << path;
    }
}

}  // namespace
}  // namespace korvane::testing
