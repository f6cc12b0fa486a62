// The file-system services behind pattern expansion and the walk, on each
// target: matching, path splitting, listings and file identity.
#include "platform/fs.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "platform/fault.h"
#include "platform/file.h"
#include "platform/file_read.h"
#include "platform/text.h"
#include "support/target.h"
#include "support/temp_dir.h"

namespace korvane::testing {
namespace {

namespace fs = std::filesystem;
namespace platform = korvane::platform;
using names = std::vector<std::wstring>;

TEST(Wildcards, StarAndQuestionMarkOnlyEverythingElseLiteral) {
    EXPECT_TRUE(platform::wildcard_match(L"*", L""));
    EXPECT_TRUE(platform::wildcard_match(L"*.sfv", L"list.sfv"));
    EXPECT_TRUE(platform::wildcard_match(L"*.sfv", L".sfv"));
    EXPECT_FALSE(platform::wildcard_match(L"*.sfv", L"d.sfvx"));
    EXPECT_TRUE(platform::wildcard_match(L"a?c", L"abc"));
    EXPECT_FALSE(platform::wildcard_match(L"a?c", L"ac"));
    EXPECT_TRUE(platform::wildcard_match(L"*a*b*", L"xxaxxbxx"));
    EXPECT_FALSE(platform::wildcard_match(L"*a*b", L"xxbxxa"));
    EXPECT_TRUE(platform::wildcard_match(L"[ab]\\x", L"[ab]\\x"));
    EXPECT_FALSE(platform::wildcard_match(L"[ab]", L"a"));
    // Many stars against a long near-miss stay fast (no exponential backtracking).
    EXPECT_FALSE(platform::wildcard_match(L"*a*a*a*a*a*a*a*a*b", std::wstring(5000, L'a').c_str()));
}

TEST(PathParts, DirectoryPartAndTrailingSeparators) {
    EXPECT_EQ(platform::directory_part_length(L"name"), 0u);
    EXPECT_EQ(platform::directory_part_length(L"sub/name"), 4u);
    EXPECT_EQ(platform::directory_part_length(L"/name"), 1u);
    EXPECT_EQ(platform::directory_part_length(L"sub\\name"), per_target(0u, 4u));
    EXPECT_EQ(platform::directory_part_length(L"C:name"), per_target(0u, 2u));
    EXPECT_EQ(platform::directory_part_length(L"C:\\a/b\\name"), per_target(5u, 7u));

    auto stripped = [](std::wstring path) {
        platform::strip_trailing_separators(path);
        return path;
    };
    EXPECT_EQ(stripped(L"sub//"), L"sub");
    EXPECT_EQ(stripped(L"/"), L"/");
    EXPECT_EQ(stripped(L"sub\\"), per_target<std::wstring>(L"sub\\", L"sub"));
    EXPECT_EQ(stripped(L"C:\\"), L"C:\\");
}

class Listing : public ::testing::Test {
  protected:
    temp_dir dir;
    void SetUp() override {
        for (const char* name : {"b.sfv", "a.sfv", ".hidden.sfv", "d.sfvx", "c.md5"}) {
            dir.write(name, "x");
        }
        fs::create_directory(dir / "sub");
    }
    names find(const std::wstring& pattern_in_dir) {
        names found;
        EXPECT_EQ(
            platform::find_matches((wide_path(dir.path()) + L"/" + pattern_in_dir).c_str(), found),
            0);
        return found;
    }
};

TEST_F(Listing, PatternsMatchLongNamesOnlyAndComeBackSorted) {
    EXPECT_EQ(find(L"*.sfv"), (names{L".hidden.sfv", L"a.sfv", L"b.sfv"}));
    EXPECT_EQ(find(L"?.md5"), (names{L"c.md5"}));
    EXPECT_EQ(find(L"*.none"), names{});
    EXPECT_EQ(find(L"*"), (names{L".", L"..", L".hidden.sfv", L"a.sfv", L"b.sfv", L"c.md5",
                                 L"d.sfvx", L"sub"}));
    // A name without wildcards is looked up as typed; a missing one is no error.
    EXPECT_EQ(find(L"a.sfv"), (names{L"a.sfv"}));
    EXPECT_EQ(find(L"missing"), names{});
    EXPECT_EQ(find(L"nowhere/*.sfv"), names{});
}

TEST_F(Listing, DirectoriesListEveryEntrySorted) {
    names listed;
    ASSERT_EQ(platform::list_directory(wide_path(dir.path()).c_str(), listed), 0);
    EXPECT_EQ(listed, (names{L".", L"..", L".hidden.sfv", L"a.sfv", L"b.sfv", L"c.md5", L"d.sfvx",
                             L"sub"}));
    names missing;
    EXPECT_EQ(platform::list_directory(wide_path(dir / "nowhere").c_str(), missing),
              platform::error_not_found);
}

TEST_F(Listing, FileInfoGivesTypeSizeTimesAndIdentity) {
    dir.write("sub/f", "12345");
    platform::file_info file;
    ASSERT_EQ(platform::get_file_info(wide_path(dir / "sub" / "f").c_str(), file), 0);
    EXPECT_TRUE(file.is_regular);
    EXPECT_FALSE(file.is_directory);
    EXPECT_TRUE(file.owner_read);
    EXPECT_EQ(file.size, 5u);
    EXPECT_GT(file.write_time, 116444736000000000ULL);  // after 1970
    EXPECT_GE(file.change_time, file.write_time);

    // Another spelling of the same file has the same identity; another file not.
    platform::file_info same;
    ASSERT_EQ(platform::get_file_info((wide_path(dir.path()) + L"/sub/../sub/f").c_str(), same), 0);
    EXPECT_EQ(same.device, file.device);
    EXPECT_EQ(same.inode, file.inode);
    platform::file_info other;
    ASSERT_EQ(platform::get_file_info(wide_path(dir / "a.sfv").c_str(), other), 0);
    EXPECT_FALSE(other.device == file.device && other.inode == file.inode);

    platform::file_info folder;
    ASSERT_EQ(platform::get_file_info(wide_path(dir / "sub").c_str(), folder), 0);
    EXPECT_TRUE(folder.is_directory);
    EXPECT_FALSE(folder.is_regular);

    platform::file_info none;
    EXPECT_EQ(platform::get_file_info(wide_path(dir / "missing").c_str(), none),
              platform::error_not_found);
}

// Remembered verifications rest on change times that no user can set back.
TEST(FileSystems, OnlyThoseKnownToKeepAChangeTimeAreTrusted) {
    for (std::uint64_t type :
         {0xEF53ULL, 0x58465342ULL, 0x9123683EULL, 0x01021994ULL, 0x2FC12FC1ULL, 0x794C7630ULL}) {
        EXPECT_TRUE(platform::linux_file_system(type).keeps_change_time) << std::hex << type;
    }
    EXPECT_EQ(platform::linux_file_system(0xEF53).name, L"ext4");
    // FUSE (sshfs reports the modification time as change time), FAT and
    // exFAT (none kept), network file systems, NTFS (settable from Windows).
    for (std::uint64_t type : {0x65735546ULL, 0x4D44ULL, 0x2011BAB0ULL, 0x6969ULL, 0xFF534D42ULL,
                               0xFE534D42ULL, 0x7366746EULL}) {
        EXPECT_FALSE(platform::linux_file_system(type).keeps_change_time) << std::hex << type;
    }
    EXPECT_EQ(platform::linux_file_system(0x65735546).name, L"fuse");
    // Anything unknown is not trusted, and is named by its number.
    platform::file_system_info unknown = platform::linux_file_system(0x12AB);
    EXPECT_FALSE(unknown.keeps_change_time);
    EXPECT_EQ(unknown.name, L"0x12ab");
    EXPECT_EQ(platform::linux_file_system(0).name, L"0x0");

    EXPECT_TRUE(platform::windows_file_system(L"NTFS", false).keeps_change_time);
    EXPECT_TRUE(platform::windows_file_system(L"refs", false).keeps_change_time);
    EXPECT_FALSE(platform::windows_file_system(L"NTFS", true).keeps_change_time);  // a share
    EXPECT_EQ(platform::windows_file_system(L"NTFS", true).name, L"NTFS, network share");
    for (const wchar_t* name : {L"FAT", L"FAT32", L"exFAT", L"UDF", L"NTFSX", L""}) {
        EXPECT_FALSE(platform::windows_file_system(name, false).keeps_change_time) << name;
    }
    EXPECT_EQ(platform::windows_file_system(L"", false).name, L"unknown");
}

TEST_F(Listing, FileSystemsAreToldAndTestsCanMakeThemUntrusted) {
    platform::file_system_info system;
    ASSERT_EQ(platform::get_file_system(wide_path(dir / "sub").c_str(), system), 0);
    EXPECT_FALSE(system.name.empty());
    platform::file_system_info none;
    EXPECT_EQ(platform::get_file_system(wide_path(dir / "missing").c_str(), none),
              platform::error_not_found);
    EXPECT_FALSE(none.keeps_change_time);

    platform::inject_untrusted_file_systems(true);
    platform::file_system_info faked;
    EXPECT_EQ(platform::get_file_system(wide_path(dir / "sub").c_str(), faked), 0);
    platform::inject_untrusted_file_systems(false);
    EXPECT_FALSE(faked.keeps_change_time);
    EXPECT_EQ(faked.name, L"untrusted-for-test");
}

TEST_F(Listing, OnlyRegularFilesOpenForHashing) {
    platform::file_handle file = platform::invalid_file;
    std::uint64_t size = 0;
    ASSERT_EQ(platform::open_for_hashing(wide_path(dir / "a.sfv").c_str(), file, size), 0);
    EXPECT_EQ(size, 1u);
    char bytes[2] = {};
    EXPECT_EQ(platform::read_exact(file, bytes, 1, 0), 0);
    EXPECT_EQ(bytes[0], 'x');
    EXPECT_EQ(platform::read_exact(file, bytes, 2, 0), platform::error_io);  // ends early
    platform::close_file(file);

    EXPECT_EQ(platform::open_for_hashing(wide_path(dir / "sub").c_str(), file, size),
              platform::error_access);
    const wchar_t* device = per_target(L"/dev/null", L"NUL");
    EXPECT_EQ(platform::open_for_hashing(device, file, size), platform::error_access);
    EXPECT_EQ(platform::open_for_hashing(wide_path(dir / "missing").c_str(), file, size),
              platform::error_not_found);
    EXPECT_EQ(file, platform::invalid_file);
}

#if defined(_WIN32)
TEST_F(Listing, DeviceNamesAreRefusedAndNamesLikeThemAreFiles) {
    platform::file_handle file = platform::invalid_file;
    std::uint64_t size = 0;
    for (const wchar_t* name :
         {L"CON", L"con.txt", L"sub\\Nul", L"sub/aux .log", L"COM1", L"lpt9", L"CONIN$",
          L"\\\\.\\COM1", L"\\\\.\\C:", L"//./pipe/x", L"\\\\?\\GLOBALROOT\\Device\\Null"}) {
        EXPECT_EQ(platform::open_for_hashing(name, file, size), platform::error_access) << name;
        platform::native_file list;
        EXPECT_EQ(list.open_existing(name, false), platform::error_access) << name;
    }
    for (const char* name : {"com10", "console", "nul_x", "lpt0.txt"}) {
        dir.write(name, "x");
        ASSERT_EQ(platform::open_for_hashing(wide_path(dir / name).c_str(), file, size), 0) << name;
        platform::close_file(file);
    }
}
#endif

}  // namespace
}  // namespace korvane::testing
