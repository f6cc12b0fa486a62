// What the platform layer can tell of a file's bytes being in memory: the
// rule that keeps large files on a seeking disk one at a time relies on it
// to let files the OS already holds go side by side.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "platform/cpu.h"
#include "platform/file_read.h"
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

}  // namespace
}  // namespace korvane::testing
