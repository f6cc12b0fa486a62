// processor: requests end to end, progress, completion and error statuses.
#include <korvane/processor.h>

#include <korvane/hasher.h>
#include <korvane/status.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "recording_hasher.h"
#include "support/target.h"
#include "support/temp_dir.h"

namespace {

std::string numbered(const char* prefix, std::uint64_t n) {
    std::string name(prefix);
    name += std::to_string(n);
    return name;
}

using korvane::testing::random_bytes;
using korvane::testing::temp_dir;

constexpr std::uint64_t chunk_bytes = reader::chunk_size;
constexpr std::uint64_t mib4 = 4 * 1024 * 1024;

class ProcessorTest : public ::testing::Test {
  protected:
    ProcessorTest() { p.start(); }

    // Runs one request to completion and returns error().
    int hash(const std::filesystem::path& path, hasher& h) {
        std::wstring wide = path.wstring();
        EXPECT_EQ(p.processFile(wide.c_str(), &h), 0);
        EXPECT_TRUE(p.complete());
        return p.error();
    }

    temp_dir dir;
    processor p;
};

template <typename H>
std::string digest_of(const std::string& content) {
    H h;
    h.init();
    h.update(reinterpret_cast<const unsigned char*>(content.data()),
             static_cast<std::uint32_t>(content.size()));
    h.finalize();
    return std::string(static_cast<const char*>(h.hash()), std::size_t(h.hash_size()));
}

template <typename H>
std::string digest(const H& h) {
    return std::string(static_cast<const char*>(h.hash()), std::size_t(h.hash_size()));
}

TEST_F(ProcessorTest, EveryByteReachesTheHasherAroundChunkBoundaries) {
    const std::uint64_t sizes[] = {
        1,    8191,     8192, 8193, chunk_bytes - 1, chunk_bytes,  chunk_bytes + 1,    mib4 - 1,
        mib4, mib4 + 1, 4096, 0,    2 * mib4,        9 * mib4 + 7, 3 * chunk_bytes - 1};
    unsigned seed = 10;
    recording_hasher h;
    for (std::uint64_t size : sizes) {
        std::string content = random_bytes(size, seed++);
        auto path = dir.write("f", content);
        EXPECT_EQ(hash(path, h), 0) << size;
        EXPECT_TRUE(h.bytes == content) << size;
        EXPECT_EQ(p.percent_complete(), 100) << size;
    }
    EXPECT_EQ(h.inits, int(std::size(sizes)));
    EXPECT_EQ(h.finalizes, int(std::size(sizes)));
}

TEST_F(ProcessorTest, PercentFollowsTheChunks) {
    recording_hasher h;
    std::vector<int> seen;
    h.on_update = [&](std::size_t) { seen.push_back(p.percent_complete()); };
    ASSERT_EQ(hash(dir.write("f", random_bytes(chunk_bytes + 1, 2)), h), 0);
    EXPECT_EQ(seen, (std::vector<int>{0, 99}));
    EXPECT_EQ(p.percent_complete(), 100);

    // Rounded down: 4 MiB of 4 MiB + 1 byte is 99, not 100, until the end.
    seen.clear();
    ASSERT_EQ(hash(dir.write("g", random_bytes(mib4 + 1, 3)), h), 0);
    ASSERT_EQ(seen.size(), mib4 / chunk_bytes + 1);
    EXPECT_EQ(seen.front(), 0);
    EXPECT_EQ(seen.back(), 99);
    EXPECT_TRUE(std::is_sorted(seen.begin(), seen.end()));
    EXPECT_EQ(p.percent_complete(), 100);
}

TEST_F(ProcessorTest, EmptyFileGivesTheDigestOfNoInput) {
    auto path = dir.write("empty", "");
    crc c;
    ASSERT_EQ(hash(path, c), 0);
    EXPECT_EQ(p.percent_complete(), 100);
    EXPECT_EQ(digest(c), std::string(4, '\0'));
    md5hasher m;
    ASSERT_EQ(hash(path, m), 0);
    EXPECT_STREQ(m.hash_to_string(), L"d41d8cd98f00b204e9800998ecf8427e");
}

TEST_F(ProcessorTest, MissingFileLeavesTheHasherUntouched) {
    auto path = dir.write("present", "some bytes");
    crc c;
    ASSERT_EQ(hash(path, c), 0);
    const std::string before = digest(c);
    EXPECT_EQ(hash(dir / "absent", c), korvane_status::file_not_found);
    EXPECT_EQ(digest(c), before);

    recording_hasher h;
    EXPECT_EQ(hash(dir / "absent", h), korvane_status::file_not_found);
    EXPECT_EQ(h.inits, 0);
    EXPECT_EQ(h.finalizes, 0);
    // An error of one request never carries over to the next.
    EXPECT_EQ(hash(path, h), 0);
    EXPECT_EQ(h.bytes, "some bytes");
}

TEST_F(ProcessorTest, AnythingButARegularFileIsRefusedWithoutBlocking) {
    recording_hasher h;
    std::filesystem::create_directory(dir / "sub");
    EXPECT_EQ(hash(dir / "sub", h), korvane_status::access_denied);
    EXPECT_EQ(hash(korvane::testing::per_target("/dev/null", "NUL"), h),
              korvane_status::access_denied);
    KORVANE_SKIP_ON_WINDOWS("no FIFOs on Windows");
    // A FIFO without a writer: a blocking open or read would hang here.
    const std::string fifo = (dir / "fifo").string();
    ASSERT_EQ(std::system(("mkfifo '" + fifo + "'").c_str()), 0);
    EXPECT_EQ(hash(fifo, h), korvane_status::access_denied);
    EXPECT_EQ(h.inits, 0);
}

TEST_F(ProcessorTest, CompleteZeroReportsBusyAndConsumesTheCompletionOnce) {
    auto path = dir.write("f", random_bytes(3 * chunk_bytes, 9));
    recording_hasher h;
    event in_update, release;
    h.on_update = [&](std::size_t n) {
        if (n == 0) {
            in_update.signal();
            release.wait();
        }
    };
    EXPECT_FALSE(p.complete(0));
    std::wstring wide = path.wstring();
    ASSERT_EQ(p.processFile(wide.c_str(), &h), 0);
    in_update.wait();
    EXPECT_FALSE(p.complete(0));
    EXPECT_FALSE(p.complete(10));
    release.signal();
    EXPECT_TRUE(p.complete(-1));
    EXPECT_FALSE(p.complete(0));
    EXPECT_EQ(p.error(), 0);
    EXPECT_EQ(h.bytes.size(), 3 * chunk_bytes);
}

TEST_F(ProcessorTest, AlternatingHashersMatchHashingEachFileAlone) {
    crc c;
    md5hasher m;
    unsigned seed = 50;
    const std::uint64_t sizes[] = {0, 3, 4096, mib4 + 5, 100000, 2 * chunk_bytes + 1, 64};
    for (std::uint64_t size : sizes) {
        std::string content = random_bytes(size, seed++);
        auto path = dir.write(numbered("f", size), content);
        ASSERT_EQ(hash(path, c), 0);
        ASSERT_EQ(hash(path, m), 0);
        EXPECT_EQ(digest(c), digest_of<crc>(content)) << size;
        EXPECT_EQ(digest(m), digest_of<md5hasher>(content)) << size;
    }
}

TEST_F(ProcessorTest, FileTruncatedWhileHashedIsAReadError) {
    auto path = dir.write("shrinking", random_bytes(12 * chunk_bytes, 11));
    recording_hasher h;
    std::error_code resize_error;
    h.on_update = [&](std::size_t n) {
        if (n == 0) {
            std::filesystem::resize_file(path, 1000, resize_error);
        }
    };
    if (korvane::testing::on_windows) {
        // The file is open without write sharing: it cannot shrink while hashed.
        EXPECT_EQ(hash(path, h), 0);
        EXPECT_TRUE(resize_error);
        EXPECT_EQ(h.bytes.size(), 12 * chunk_bytes);
        return;
    }
    EXPECT_EQ(hash(path, h), korvane_status::file_read_error);
    ASSERT_FALSE(resize_error) << resize_error.message();
    EXPECT_LT(p.percent_complete(), 100);

    h.on_update = nullptr;
    EXPECT_EQ(hash(path, h), 0);
    EXPECT_EQ(h.bytes.size(), 1000u);
}

TEST_F(ProcessorTest, ThousandsOfSmallFilesInARow) {
    constexpr int count = 3000;
    std::vector<std::string> contents;
    for (int i = 0; i < count; ++i) {
        contents.push_back(random_bytes(std::size_t(i * 37 % 9000), unsigned(i)));
        dir.write(numbered("s", i), contents.back());
    }
    crc c;
    for (int i = 0; i < count; ++i) {
        ASSERT_EQ(hash(dir / (numbered("s", i)), c), 0) << i;
        ASSERT_EQ(digest(c), digest_of<crc>(contents[std::size_t(i)])) << i;
    }
}

// A caller's own class derived from one of the library's hashers: the
// processor must feed this very object every byte, in order, whatever the
// engine does for file_jobs with a hasher of its own (a large CRC file there
// is hashed as two halves and the two values combined).
class counting_crc final : public crc {
  public:
    void update(const unsigned char* data, std::uint32_t length) override {
        if (on_update) {
            on_update(updates);
        }
        ++updates;
        bytes += length;
        crc::update(data, length);
    }

    std::size_t updates = 0;
    std::uint64_t bytes = 0;
    std::function<void(std::size_t)> on_update;
};

TEST_F(ProcessorTest, ACallersOwnHasherGetsTheWholeFileWhereTheJobsWouldSplitIt) {
    // Large enough that file_jobs would split it with a core to spare.
    const std::string content = random_bytes(5 * mib4 + 3, 70);
    auto path = dir.write("large", content);
    counting_crc mine;
    ASSERT_EQ(hash(path, mine), 0);
    EXPECT_EQ(mine.bytes, content.size());
    EXPECT_EQ(digest(mine), digest_of<crc>(content));
    EXPECT_EQ(p.percent_complete(), 100);

    recording_hasher h;
    ASSERT_EQ(hash(path, h), 0);
    EXPECT_TRUE(h.bytes == content);
    EXPECT_EQ(h.inits, 1);
    EXPECT_EQ(h.finalizes, 1);
}

TEST(ProcessorLifecycle, DestroyedMidFileStopsReadingAndLetsTheCallerGo) {
    temp_dir dir;
    const std::uint64_t size = 128 * chunk_bytes;
    auto path = dir.write("large", random_bytes(size, 71));
    const std::wstring wide = path.wstring();
    counting_crc h;
    event in_file, go_on;
    std::atomic<bool> destroying{false};
    h.on_update = [&](std::size_t n) {
        if (n == 1) {
            in_file.signal();
            go_on.wait();
        }
        if (destroying.load()) {
            // Slow from now on: a processor that went on to the end of the
            // file would take the whole of it through here.
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    };
    auto p = std::make_unique<processor>();
    p->start();
    ASSERT_EQ(p->processFile(wide.c_str(), &h), 0);
    in_file.wait();
    destroying.store(true);
    go_on.signal();
    p.reset();
    EXPECT_GE(h.bytes, 2 * chunk_bytes);
    EXPECT_LT(h.bytes, size);
}

TEST(ProcessorLifecycle, DestroyedIdleOrNeverStarted) {
    for (int i = 0; i < 10; ++i) {
        processor never_started;
    }
    for (int i = 0; i < 10; ++i) {
        processor idle;
        idle.start();
    }
    processor used;
    used.start();
    recording_hasher h;
    EXPECT_EQ(used.processFile(L"/nonexistent/korvane", &h), 0);
    EXPECT_TRUE(used.complete());
    EXPECT_EQ(used.error(), korvane_status::file_not_found);
}

}  // namespace
