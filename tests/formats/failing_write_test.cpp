// Writes that fail for real: a child process with a file-size limit writes a
// list or rewrites a tag, and whatever the user had before must survive.
#include <gtest/gtest.h>

#include <korvane/md5.h>
#include <korvane/sfv.h>
#include <korvane/status.h>

#include <filesystem>
#include <string>

#include "formats_test.h"
#include "support/process.h"
#include "support/target.h"

namespace korvane::testing {
namespace {

struct job {
    std::wstring path;
    int entries = 0;
};

// Exit codes carry the status negated.
int create_list(void* context) {
    auto& work = *static_cast<job*>(context);
    sfv list;
    int status = list.create(work.path.c_str());
    if (status != 0) {
        return 100 - status;
    }
    std::uint32_t crc = 0;
    for (int i = 0; i < work.entries; ++i) {
        status = list.addFile((L"file number " + std::to_wstring(i)).c_str(), &crc);
        if (status != 0) {
            return 100 - status;
        }
    }
    return -list.close();
}

int verify_all(void* context) {
    auto& work = *static_cast<job*>(context);
    test_settings settings;
    configured_sfv list(settings);
    int status = list.open(work.path.c_str());
    if (status != 0) {
        return 100 - status;
    }
    wchar_t name[264];
    std::uint64_t size;
    std::uint32_t crc;
    while (list.getNextFile(name, 264, &size, &crc) > 0) {
        status = list.setPreviouslyVerified(true);
        if (status != 0) {
            return 100 - status;
        }
    }
    return -list.close();
}

TEST(FailingWrites, CreationOverLimitLeavesOldListUntouched) {
    KORVANE_SKIP_ON_WINDOWS("Windows has no file-size limit for a process");
    temp_dir dir;
    auto target = dir.write("list.sfv", "a.txt 00000000\r\n");
    job work{wide(target), 2000};
    int exit_code = run_with_file_size_limit(4096, create_list, &work);
    EXPECT_EQ(-exit_code, korvane_status::unknown_error);  // EFBIG
    EXPECT_EQ(read_file(target), "a.txt 00000000\r\n");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()),
                            std::filesystem::directory_iterator()),
              1);
}

TEST(FailingWrites, TagRewriteOverLimitKeepsEveryEntry) {
    KORVANE_SKIP_ON_WINDOWS("Windows has no file-size limit for a process");
    temp_dir dir;
    std::string text;
    for (int i = 0; i < 500; ++i) {
        text.append("entry").append(std::to_string(i)).append(" 00000000\r\n");
    }
    // Lines behind an old tag are moved in front of the new one through a new
    // file: when that cannot be written whole, the list stays as it was.
    std::string old_tag = ";K2-9999\r\n";
    std::string late = "late 00000000\r\n";
    auto target = dir.write("list.sfv", text + old_tag + late);
    job work{wide(target), 0};
    std::uint64_t limit = text.size() + late.size() + 40;
    int exit_code = run_with_file_size_limit(limit, verify_all, &work);
    EXPECT_EQ(-exit_code, korvane_status::unknown_error);
    EXPECT_EQ(read_file(target), text + old_tag + late);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()),
                            std::filesystem::directory_iterator()),
              1);

    // Without lines to move, the entries end the file exactly as before.
    target = dir.write("list.sfv", text);
    exit_code = run_with_file_size_limit(text.size() + 20, verify_all, &work);
    EXPECT_EQ(-exit_code, korvane_status::unknown_error);
    EXPECT_EQ(read_file(target), text);

    // With room enough the same run succeeds.
    exit_code = run_with_file_size_limit(text.size() + 4096, verify_all, &work);
    EXPECT_EQ(exit_code, 0);
    EXPECT_NE(read_file(target).find(";K2-4711/"), std::string::npos);
}

}  // namespace
}  // namespace korvane::testing
