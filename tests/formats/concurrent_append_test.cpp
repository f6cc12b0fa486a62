// Lines that another process appends to a list while korvane rewrites its
// tag: each must stay in the list exactly once, whenever it comes.
#include <gtest/gtest.h>

#include <korvane/sfv.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <map>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "../cli/cli_helpers.h"
#include "formats_test.h"

namespace korvane::testing {
namespace {

constexpr int appends = 1000;

// One verification run that flips every entry's mark, so that each run
// rewrites the tag.
void verify_flipping(const std::wstring& list_path, bool verified) {
    test_settings settings;
    configured_sfv list(settings);
    if (list.open(list_path.c_str()) != 0) {
        return;
    }
    wchar_t name[1024];
    std::uint64_t size;
    std::uint32_t crc;
    while (list.getNextFile(name, 1024, &size, &crc) > 0) {
        (void)list.setPreviouslyVerified(verified);
    }
    EXPECT_EQ(list.close(), 0);
}

// Appends `line` as a shell's `>>` does, retrying while the list is kept
// from writers (Windows refuses the open instead of making it wait).
void append_line(const std::filesystem::path& list, const std::string& line) {
    for (int attempt = 0; attempt < 100000; ++attempt) {
        std::ofstream out(list, std::ios::binary | std::ios::app);
        if (out) {
            out << line;
            out.close();
            if (!out.fail()) {
                return;
            }
            ADD_FAILURE() << "a write that opened the list failed: " << line;
            return;
        }
        std::this_thread::yield();
    }
    ADD_FAILURE() << "the list never took " << line;
}

TEST(ConcurrentAppends, EveryLineAppendedDuringTagRewritesStaysExactlyOnce) {
    temp_dir dir;
    const auto list = dir / "list.sfv";
    std::string original;
    for (int i = 0; i < 40; ++i) {
        original += "entry" + std::to_string(i) + " 00000000\r\n";
    }
    write_file(list, original);
    const std::wstring list_path = wide(list);

    std::atomic<bool> appending{true};
    std::thread appender([&] {
        std::mt19937 random(20261209);
        std::uniform_int_distribution<int> pause_us(0, 1500);
        for (int i = 0; i < appends; ++i) {
            std::this_thread::sleep_for(std::chrono::microseconds(pause_us(random)));
            append_line(list, "appended" + std::to_string(i) + " 00000000\r\n");
        }
        appending = false;
    });
    bool verified = false;
    int runs = 0;
    while (appending) {
        verify_flipping(list_path, verified);
        verified = !verified;
        ++runs;
    }
    appender.join();

    std::map<std::string, int> seen;
    const std::string text = read_file(list);
    EXPECT_EQ(text.substr(0, original.size()), original);
    for (const std::string& line : entry_lines(text)) {
        ++seen[line];
    }
    int lost = 0;
    for (int i = 0; i < appends; ++i) {
        int count = seen["appended" + std::to_string(i) + " 00000000"];
        lost += count == 0 ? 1 : 0;
        EXPECT_LE(count, 1) << "appended" << i << " doubled";
    }
    EXPECT_EQ(lost, 0) << "of " << appends << " appended lines, over " << runs << " runs";
}

}  // namespace
}  // namespace korvane::testing
