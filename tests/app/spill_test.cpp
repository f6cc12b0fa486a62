// The log of found files: whatever was appended comes back once, in order,
// from memory or from the scratch file behind it.
#include "spill.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "platform/text.h"
#include "support/target.h"
#include "support/temp_dir.h"

namespace korvane::app {
namespace {

using korvane::testing::temp_dir;

// Records of varying length, each its own length first.
std::string record(int i) {
    return std::string(static_cast<std::size_t>(i % 97), static_cast<char>('a' + i % 26));
}

void write_records(spill_buffer& log, int count) {
    for (int i = 0; i < count; ++i) {
        const std::string text = record(i);
        const std::uint32_t size = static_cast<std::uint32_t>(text.size());
        ASSERT_EQ(log.append(&size, sizeof size), status::ok);
        ASSERT_EQ(log.append(text.data(), text.size()), status::ok);
    }
}

void read_records(spill_buffer& log, int count) {
    ASSERT_EQ(log.rewind(), status::ok);
    for (int i = 0; i < count; ++i) {
        std::uint32_t size = 0;
        bool got = false;
        ASSERT_EQ(log.read(&size, sizeof size, got), status::ok);
        ASSERT_TRUE(got) << "record " << i;
        std::string text(size, '\0');
        ASSERT_EQ(log.read(text.data(), size, got), status::ok);
        ASSERT_TRUE(got) << "record " << i;
        ASSERT_EQ(text, record(i)) << "record " << i;
    }
    char more = 0;
    bool got = true;
    ASSERT_EQ(log.read(&more, 1, got), status::ok);
    EXPECT_FALSE(got) << "nothing after the last record";
}

TEST(SpillBuffer, RecordsComeBackInOrderFromMemoryAndFromTheScratchFile) {
    temp_dir dir;
    const std::wstring beside = platform::widen((dir.path() / "out.sfv").string());
    for (int count : {0, 1, 30, 5000}) {
        // A bound smaller than some records and far smaller than the whole.
        spill_buffer log(64);
        log.place_beside(beside);
        write_records(log, count);
        EXPECT_EQ(log.spilled(), count > 1) << count;
        read_records(log, count);
        if (!korvane::testing::on_windows) {
            EXPECT_TRUE(std::filesystem::is_empty(dir.path())) << "the scratch file has no name";
        }
        log.clear();
        EXPECT_TRUE(log.empty());
    }
    spill_buffer roomy;  // the default bound keeps this in memory
    write_records(roomy, 500);
    EXPECT_FALSE(roomy.spilled());
    read_records(roomy, 500);
}

TEST(SpillBuffer, AScratchFileThatCannotBeMadeIsAFailureWithItsCause) {
    temp_dir dir;
    spill_buffer log(16);
    log.place_beside(platform::widen((dir.path() / "missing" / "out.sfv").string()));
    const std::string text(40, 'x');
    ASSERT_EQ(log.append(text.data(), 10), status::ok);
    EXPECT_NE(log.append(text.data(), text.size()), status::ok);
    EXPECT_NE(log.error_number(), 0);
}

}  // namespace
}  // namespace korvane::app
