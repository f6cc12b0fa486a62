// reader: chunking, order, end of file and read errors, driven directly.
#include <korvane/reader.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "platform/file_read.h"
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
namespace platform = korvane::platform;

constexpr std::uint64_t chunk_bytes = reader::chunk_size;
constexpr std::uint64_t mib4 = 4 * 1024 * 1024;

struct delivery {
    std::string bytes;
    std::vector<std::uint32_t> lengths;
    bool ended_cleanly = false;
    int error = 0;
};

class ReaderTest : public ::testing::Test {
  protected:
    ReaderTest() { r.start(); }
    ~ReaderTest() override {
        r.shutdown();
        r.join();
    }

    // Opens `path`, hands `size` bytes of it (its real size by default) to the
    // reader and collects every chunk. `after_chunk` runs after each chunk.
    delivery collect(const std::filesystem::path& path, std::int64_t size = -1,
                     const std::function<void(std::size_t)>& after_chunk = {}) {
        platform::file_handle file = platform::invalid_file;
        std::uint64_t real_size = 0;
        EXPECT_EQ(platform::open_for_hashing(path.wstring().c_str(), file, real_size), 0);
        delivery out =
            collect_handle(file, size < 0 ? real_size : std::uint64_t(size), after_chunk);
        platform::close_file(file);
        return out;
    }

    delivery collect_handle(void* file, std::uint64_t size,
                            const std::function<void(std::size_t)>& after_chunk = {}) {
        delivery out;
        r.processFile(file, size);
        const unsigned char* chunk = nullptr;
        std::uint32_t length = 0;
        while (r.wait(&chunk, &length)) {
            out.bytes.append(reinterpret_cast<const char*>(chunk), length);
            out.lengths.push_back(length);
            if (after_chunk) {
                after_chunk(out.lengths.size());
            }
        }
        r.closeFile();
        out.error = r.error();
        out.ended_cleanly = out.error == 0;
        return out;
    }

    temp_dir dir;
    reader r;
};

TEST_F(ReaderTest, ChunkBoundaries) {
    struct {
        std::uint64_t size;
        std::vector<std::uint32_t> lengths;
    } cases[] = {
        {1, {1}},
        {chunk_bytes - 1, {std::uint32_t(chunk_bytes - 1)}},
        {chunk_bytes, {std::uint32_t(chunk_bytes)}},
        {chunk_bytes + 1, {std::uint32_t(chunk_bytes), 1}},
        {2 * chunk_bytes, {std::uint32_t(chunk_bytes), std::uint32_t(chunk_bytes)}},
    };
    unsigned seed = 1;
    for (const auto& c : cases) {
        std::string content = random_bytes(c.size, seed++);
        auto path = dir.write(numbered("f", c.size), content);
        delivery d = collect(path);
        EXPECT_TRUE(d.ended_cleanly) << c.size;
        EXPECT_EQ(d.lengths, c.lengths) << c.size;
        EXPECT_TRUE(d.bytes == content) << c.size;
    }
}

TEST_F(ReaderTest, MoreThanEightChunksArriveInOrderExactlyOnce) {
    const std::uint64_t size = 8 * chunk_bytes + 2 * chunk_bytes + 12345;
    std::string content = random_bytes(size, 7);
    auto path = dir.write("big", content);
    // A slow consumer makes the reader fill the whole ring and wait.
    delivery d = collect(path, -1, [](std::size_t n) {
        if (n == 1) {
            std::this_thread::sleep_for(std::chrono::milliseconds(30));
        }
    });
    EXPECT_TRUE(d.ended_cleanly);
    ASSERT_EQ(d.lengths.size(), 11u);
    EXPECT_EQ(d.lengths.back(), 12345u);
    EXPECT_TRUE(d.bytes == content);
}

TEST_F(ReaderTest, ManyFilesInARowOnOneReader) {
    const std::uint64_t sizes[] = {0,        1,    chunk_bytes + 3, 0, 17, 3 * chunk_bytes, 4096,
                                   mib4 - 1, mib4, mib4 + 1};
    unsigned seed = 100;
    for (std::uint64_t size : sizes) {
        std::string content = random_bytes(size, seed++);
        auto path = dir.write("f", content);
        delivery d = collect(path);
        EXPECT_TRUE(d.ended_cleanly) << size;
        EXPECT_TRUE(d.bytes == content) << size;
        EXPECT_EQ(d.lengths.size(), (size + chunk_bytes - 1) / chunk_bytes) << size;
    }
}

TEST_F(ReaderTest, ReadsNoMoreThanTheSizeHandedOver) {
    // The file is longer than the size given (it grew after its size was
    // taken): exactly the first `size` bytes arrive.
    std::string content = random_bytes(chunk_bytes + 1000, 3);
    auto path = dir.write("grown", content);
    delivery d = collect(path, chunk_bytes + 10);
    EXPECT_TRUE(d.ended_cleanly);
    EXPECT_TRUE(d.bytes == content.substr(0, chunk_bytes + 10));
}

TEST_F(ReaderTest, FileShorterThanItsSizeIsAReadErrorAndTheNextFileIsClean) {
    std::string content = random_bytes(100, 4);
    auto path = dir.write("short", content);
    delivery d = collect(path, 3 * chunk_bytes);
    EXPECT_FALSE(d.ended_cleanly);
    EXPECT_EQ(d.error, reader::io_error);

    delivery next = collect(path);
    EXPECT_TRUE(next.ended_cleanly);
    EXPECT_TRUE(next.bytes == content);
}

TEST_F(ReaderTest, FileTruncatedWhileReadEndsWithReadError) {
    const std::uint64_t size = 12 * chunk_bytes;
    auto path = dir.write("shrinking", random_bytes(size, 5));
    // The ring holds at most eight chunks, so chunks nine and later are read
    // after the truncation that happens while the first is consumed.
    std::error_code resize_error;
    delivery d = collect(path, -1, [&](std::size_t n) {
        if (n == 1) {
            std::filesystem::resize_file(path, chunk_bytes / 2, resize_error);
        }
    });
    if (korvane::testing::on_windows) {
        // The file is open without write sharing: it cannot shrink while read.
        EXPECT_TRUE(resize_error);
        EXPECT_EQ(d.error, 0);
        EXPECT_EQ(d.bytes.size(), size);
        return;
    }
    ASSERT_FALSE(resize_error) << resize_error.message();
    EXPECT_EQ(d.error, reader::io_error);
    EXPECT_LE(d.lengths.size(), 8u);
    EXPECT_EQ(collect(path).bytes.size(), chunk_bytes / 2);
}

TEST_F(ReaderTest, InvalidHandleIsAReadErrorButAnEmptyHandOverIsNot) {
    delivery d = collect_handle(platform::invalid_file, 100);
    EXPECT_EQ(d.error, reader::io_error);
    EXPECT_TRUE(d.lengths.empty());
    d = collect_handle(platform::invalid_file, 0);
    EXPECT_TRUE(d.ended_cleanly);
    EXPECT_TRUE(d.lengths.empty());
}

TEST(ReaderLifecycle, ShutdownOfIdleReaderEndsItsThread) {
    reader r;
    r.start();
    r.shutdown();
    EXPECT_EQ(r.join(), &r);
    EXPECT_EQ(r.state(), thread::finished);
}

TEST(ReaderLifecycle, NeverStartedOrNeverStoppedReaderIsDestroyed) {
    { reader never_started; }
    {
        reader started;
        started.start();
    }
}

}  // namespace
