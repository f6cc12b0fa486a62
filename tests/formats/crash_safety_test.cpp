// A tag rewrite stopped at any write: every call that changes the list fails
// from the n-th on, as if the machine had stopped there, for every n up to a
// complete run. The entry lines must survive byte for byte, and the next run
// must trust no entry that this run found bad.
#include <gtest/gtest.h>

#include <korvane/sfv.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "../cli/cli_helpers.h"
#include "formats_test.h"
#include "platform/file.h"

namespace korvane::testing {
namespace {

constexpr int entry_count = 300;

bool is_bad(int i) {
    return i % 3 == 0;
}

struct fixture {
    temp_dir dir;
    std::vector<std::wstring> paths;
    std::string entries;

    fixture() {
        for (int i = 0; i < entry_count; ++i) {
            std::string name = "file" + std::to_string(i);
            paths.push_back(wide(dir.write(name, "x")));
            entries += wide_to_narrow(paths.back()) + " 00000000\r\n";
        }
        // Trusted bits need files older than the tag's time stamp margin.
        std::this_thread::sleep_for(std::chrono::milliseconds(2100));
    }

    static std::string wide_to_narrow(const std::wstring& text) {
        return std::string(text.begin(), text.end());
    }
};

// An old tag that trusts every entry; its time lies far back, so that every
// file counts as changed since.
std::string old_tag() {
    std::string tag = ";K2-4711\r\n;K2-AQAAAAAAAAA=\r\n";
    for (int done = 0; done < entry_count / 8 + 1; done += 48) {
        tag += ";K2-" + std::string(64, '/') + "\r\n";
    }
    return tag;
}

// One verification run: bad entries fail, the others pass.
void verify_once(const std::wstring& list_path) {
    test_settings settings;
    configured_sfv list(settings);
    if (list.open(list_path.c_str()) != 0) {
        return;
    }
    wchar_t name[1024];
    std::uint64_t size;
    std::uint32_t crc;
    for (int i = 0; list.getNextFile(name, 1024, &size, &crc) > 0; ++i) {
        // Asked as a run asks: a changed file loses its mark.
        (void)list.isPreviouslyVerified(name);
        EXPECT_EQ(list.setPreviouslyVerified(!is_bad(i % entry_count)), 0);
    }
    // The rewrite may be cut short by the injected faults: what it leaves is
    // what the test looks at.
    (void)list.close();
}

// The entries a following run trusts without hashing.
std::vector<int> trusted(const std::wstring& list_path) {
    std::vector<int> result;
    test_settings settings;
    configured_sfv list(settings);
    if (list.open(list_path.c_str()) != 0) {
        return result;
    }
    wchar_t name[1024];
    std::uint64_t size;
    std::uint32_t crc;
    for (int i = 0; list.getNextFile(name, 1024, &size, &crc) > 0; ++i) {
        if (list.isPreviouslyVerified(name) != 0) {
            result.push_back(i);
        }
        EXPECT_EQ(list.setPreviouslyVerified(true), 0);
    }
    platform::inject_write_faults(1);  // the check itself writes nothing
    (void)list.close();                // a rewrite it tried would fail, and show in the next check
    platform::inject_write_faults(0);
    return result;
}

void stop_at_every_write(const std::string& before_tag, const std::string& after_tag) {
    fixture files;
    const std::string original = files.entries + before_tag + old_tag() + after_tag;
    const auto list = files.dir / "list.sfv";
    const std::wstring list_path = wide(list);
    bool completed = false;
    for (long stop = 1; stop < 1000 && !completed; ++stop) {
        write_file(list, original);
        platform::inject_write_faults(stop);
        verify_once(list_path);
        completed = platform::write_calls() < stop;
        platform::inject_write_faults(0);

        const std::string after = read_file(list);
        ASSERT_EQ(entry_lines(after), entry_lines(original)) << "stopped at write " << stop;
        for (int i : trusted(list_path)) {
            ASSERT_FALSE(is_bad(i)) << "entry " << i << " trusted after a stop at write " << stop;
        }
        if (completed) {
            // The complete run trusts exactly the good entries.
            std::vector<int> good;
            for (int i = 0; i < entry_count; ++i) {
                if (!is_bad(i)) {
                    good.push_back(i);
                }
            }
            EXPECT_EQ(trusted(list_path), good);
        }
        int leftovers = 0;
        for (const auto& entry : std::filesystem::directory_iterator(files.dir.path())) {
            leftovers += entry.path().extension() == ".tmp" ? 1 : 0;
            if (entry.path().extension() == ".tmp") {
                std::filesystem::remove(entry.path());
            }
        }
        EXPECT_EQ(leftovers, 0) << "stopped at write " << stop;
    }
    EXPECT_TRUE(completed);
}

TEST(CrashSafety, ATagRewrittenInPlaceNeverTrustsStaleBits) {
    stop_at_every_write("", "");
}

TEST(CrashSafety, LinesBehindAnOldTagAreNeverLostOrDoubled) {
    stop_at_every_write("", "; a comment\r\nlate 00000000\r\n\r\nlast 00000000");
}

}  // namespace
}  // namespace korvane::testing
