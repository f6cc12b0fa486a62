// An entry that cannot be allocated must fail addFile with the out-of-memory
// status, never drop the entry silently, and leave the list usable once memory
// is back.
#include <gtest/gtest.h>

#include <korvane/md5.h>
#include <korvane/sfv.h>
#include <korvane/status.h>

#include <filesystem>
#include <string>

#include "formats_test.h"
#include "platform/fault.h"

namespace korvane::testing {
namespace {

struct fault_off {
    ~fault_off() { platform::inject_allocation_faults(0); }
};

template <typename List>
void fails_only_the_faulted_entry(const std::wstring& path) {
    fault_off guard;
    List list;
    ASSERT_EQ(list.create(path.c_str()), 0);
    const unsigned char hash[64] = {};
    EXPECT_EQ(list.addFile(L"first", hash), 0);
    platform::inject_allocation_faults(1);
    EXPECT_EQ(list.addFile(L"second", hash), korvane_status::unknown_error);
    EXPECT_EQ(list.addFile(L"third", hash), korvane_status::unknown_error);
    platform::inject_allocation_faults(0);
    EXPECT_EQ(list.addFile(L"fourth", hash), 0);
    ASSERT_EQ(list.close(), 0);
    const std::string text = read_file(std::filesystem::path(path));
    EXPECT_NE(text.find("first"), std::string::npos);
    EXPECT_EQ(text.find("second"), std::string::npos);
    EXPECT_EQ(text.find("third"), std::string::npos);
    EXPECT_NE(text.find("fourth"), std::string::npos);
}

TEST(EntryAllocation, FailureIsReportedAndTheListStaysUsable) {
    temp_dir dir;
    fails_only_the_faulted_entry<sfv>(wide(dir.path() / "list.sfv"));
    fails_only_the_faulted_entry<md5>(wide(dir.path() / "list.md5"));
}

TEST(EntryAllocation, TheSwitchCountsFromTheChosenAllocation) {
    fault_off guard;
    temp_dir dir;
    const std::wstring path = wide(dir.path() / "list.sfv");
    sfv list;
    ASSERT_EQ(list.create(path.c_str()), 0);
    const std::uint32_t crc = 0;
    platform::inject_allocation_faults(3);
    EXPECT_EQ(list.addFile(L"a", &crc), 0);
    EXPECT_EQ(list.addFile(L"b", &crc), 0);
    EXPECT_EQ(list.addFile(L"c", &crc), korvane_status::unknown_error);
}

}  // namespace
}  // namespace korvane::testing
