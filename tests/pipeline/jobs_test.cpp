// Several files in flight: results in the order handed in, whatever finishes
// first, and a clean stop with files still queued or being read.
#include <gtest/gtest.h>

#include <korvane/blake3.h>
#include <korvane/hasher.h>
#include <korvane/jobs.h>
#include <korvane/reader.h>
#include <korvane/sha.h>
#include <korvane/status.h>

#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "hash/hashers.h"
#include "hash/md5_lanes.h"
#include "hash/sha_lanes.h"
#include "platform/fs.h"
#include "support/temp_dir.h"

namespace {

using korvane::testing::random_bytes;
using korvane::testing::temp_dir;

std::string crc_of(const std::string& bytes) {
    crc reference;
    reference.init();
    reference.update(reinterpret_cast<const unsigned char*>(bytes.data()),
                     static_cast<std::uint32_t>(bytes.size()));
    reference.finalize();
    return std::string(static_cast<const char*>(reference.hash()), 4);
}

std::string md5_of(const std::string& bytes) {
    md5hasher reference;
    reference.init();
    reference.update(reinterpret_cast<const unsigned char*>(bytes.data()),
                     static_cast<std::uint32_t>(bytes.size()));
    reference.finalize();
    return std::string(static_cast<const char*>(reference.hash()), 16);
}

// The digest of `bytes` by `h`, fed whole.
std::string digest_with(hasher& h, const std::string& bytes) {
    h.init();
    h.update(reinterpret_cast<const unsigned char*>(bytes.data()),
             static_cast<std::uint32_t>(bytes.size()));
    h.finalize();
    return std::string(static_cast<const char*>(h.hash()), static_cast<std::size_t>(h.hash_size()));
}

// The digest of `bytes` by the library's one hasher of `kind`.
std::string digest_by(file_jobs::algorithm kind, const std::string& bytes) {
    const korvane::owned_hasher h = korvane::detail::make_hasher(kind);
    return digest_with(*h, bytes);
}

template <typename H>
std::string digest_of(const std::string& bytes) {
    H reference;
    return digest_with(reference, bytes);
}

struct expected_result {
    std::wstring path;
    int status;
    std::string digest;
};

// Hands every file in, in as many rounds as the queue needs, and checks each
// result at its place.
void run_in_order(file_jobs& jobs, const std::vector<expected_result>& files) {
    std::size_t queued = 0;
    for (std::size_t oldest = 0; oldest < files.size(); ++oldest) {
        while (queued < files.size() && jobs.has_room()) {
            jobs.submit(files[queued++].path.c_str());
        }
        jobs.publish();
        ASSERT_TRUE(jobs.wait_oldest(-1));
        const expected_result& want = files[oldest];
        EXPECT_EQ(jobs.oldest_status(), want.status) << "file " << oldest;
        if (want.status == 0) {
            const std::size_t size = want.digest.size();
            EXPECT_EQ(std::string(reinterpret_cast<const char*>(jobs.oldest_digest()), size),
                      want.digest)
                << "file " << oldest;
            EXPECT_EQ(jobs.oldest_percent(), 100);
        }
        jobs.pop();
    }
    EXPECT_TRUE(jobs.empty());
}

class FileJobs : public ::testing::TestWithParam<int> {
  protected:
    temp_dir dir;
};

TEST_P(FileJobs, ResultsComeInTheOrderHandedInWithTheirOwnDigests) {
    // Sizes around every boundary of the read paths: empty, one chunk read
    // directly, one byte more through the reader, and several chunks; large
    // and small mixed, so that later small files finish before earlier large
    // ones.
    const std::uint32_t chunk = reader::chunk_size;
    const std::vector<std::size_t> sizes = {0,         1,         4096, chunk - 1, chunk,
                                            chunk + 1, 3 * chunk, 7,    0,         5 * chunk + 3};
    std::vector<expected_result> crc_files;
    std::vector<expected_result> md5_files;
    std::vector<expected_result> sha1_files;
    std::vector<expected_result> sha256_files;
    for (int round = 0; round < 30; ++round) {
        for (std::size_t i = 0; i < sizes.size(); ++i) {
            const std::size_t size = round % 3 == 0 ? sizes[i] : sizes[i] % 5000;
            const std::string name = "f" + std::to_string(round) + "_" + std::to_string(i);
            const std::string bytes =
                random_bytes(size, static_cast<unsigned>(round * 100 + static_cast<int>(i)));
            const std::wstring path = (dir / name).wstring();
            dir.write(name, bytes);
            crc_files.push_back({path, 0, crc_of(bytes)});
            md5_files.push_back({path, 0, md5_of(bytes)});
            sha1_files.push_back({path, 0, digest_of<sha1hasher>(bytes)});
            sha256_files.push_back({path, 0, digest_of<sha256hasher>(bytes)});
        }
    }
    file_jobs crc_jobs(GetParam(), file_jobs::algorithm::crc32);
    ASSERT_TRUE(crc_jobs.usable());
    run_in_order(crc_jobs, crc_files);
    // MD5 files go through the lanes of every width this CPU has, and the
    // single-stream way.
    namespace md5mb = korvane::md5mb;
    for (md5mb::path p : {md5mb::path::single, md5mb::path::avx2, md5mb::path::avx512}) {
        if (!md5mb::force_path(p)) {
            continue;
        }
        file_jobs md5_jobs(GetParam(), file_jobs::algorithm::md5);
        run_in_order(md5_jobs, md5_files);
        md5mb::reset_path();
    }
    // SHA-1 and SHA-256 files in pairs through the interleaved lanes, and
    // one at a time.
    namespace sha = korvane::sha;
    const std::pair<file_jobs::algorithm, sha::algorithm> kinds[] = {
        {file_jobs::algorithm::sha1, sha::algorithm::sha1},
        {file_jobs::algorithm::sha256, sha::algorithm::sha256}};
    for (const auto& [kind, a] : kinds) {
        for (korvane::shamb::path p : {korvane::shamb::path::single, korvane::shamb::path::shani}) {
            if (!korvane::shamb::force_path(a, p)) {
                continue;
            }
            file_jobs jobs(GetParam(), kind);
            run_in_order(jobs, kind == file_jobs::algorithm::sha1 ? sha1_files : sha256_files);
            korvane::shamb::reset_path(a);
        }
    }
}

TEST_P(FileJobs, AFailureStaysAtItsPlaceAndTheFilesAroundItAreHashed) {
    std::vector<expected_result> files;
    for (int i = 0; i < 200; ++i) {
        const std::string name = "g" + std::to_string(i);
        const std::wstring path = (dir / name).wstring();
        if (i % 17 == 5) {
            files.push_back({path, korvane_status::file_not_found, {}});
        } else if (i % 23 == 7) {
            std::filesystem::create_directory(dir / name);
            files.push_back({path, korvane_status::access_denied, {}});
        } else {
            const std::string bytes = random_bytes(static_cast<std::size_t>(i) * 37, i);
            dir.write(name, bytes);
            files.push_back({path, 0, crc_of(bytes)});
        }
    }
    file_jobs jobs(GetParam(), file_jobs::algorithm::crc32);
    run_in_order(jobs, files);
}

// What a creation's workers leave out, and why, each at its place among
// files hashed as usual.
TEST_P(FileJobs, FilesLeftOutSayWhyAndOnlyAFileNobodyLookedAtVanishes) {
    using why = file_jobs::left_out;
    struct expected {
        std::wstring path;
        bool unexamined;
        int status;
        why reason;
    };
    const std::wstring list = (dir / "list.sfv").wstring();
    dir.write("list.sfv", "old");
    dir.write("plain", "abc");
    std::filesystem::create_hard_link(dir / "list.sfv", dir / "alias");
    const std::wstring gone = (dir / "gone").wstring();
    std::vector<expected> files{
        {(dir / "plain").wstring(), true, 0, why::none},
        {list, false, korvane_status::access_denied, why::excluded},
        {(dir / "alias").wstring(), true, korvane_status::access_denied, why::excluded},
        {gone, true, korvane_status::file_not_found, why::vanished},
        // Looked at by the walk, then gone: a failure like any other.
        {gone, false, korvane_status::file_not_found, why::none},
        {(dir / "plain").wstring(), false, 0, why::none},
    };
#if !defined(_WIN32)
    std::filesystem::permissions(dir.write("locked", "abc"), std::filesystem::perms::owner_write);
    files.push_back(
        {(dir / "locked").wstring(), true, korvane_status::access_denied, why::unreadable});
#endif
    korvane::platform::file_info identity;
    ASSERT_EQ(korvane::platform::get_file_info(list.c_str(), identity), 0);
    file_jobs jobs(GetParam(), file_jobs::algorithm::crc32);
    jobs.exclude(identity.device, identity.inode);
    for (const expected& file : files) {
        if (file.unexamined) {
            jobs.submit_unexamined(file.path.c_str());
        } else {
            jobs.submit(file.path.c_str());
        }
    }
    jobs.publish();
    for (std::size_t i = 0; i < files.size(); ++i) {
        ASSERT_TRUE(jobs.wait_oldest(-1));
        EXPECT_EQ(jobs.oldest_status(), files[i].status) << "file " << i;
        EXPECT_EQ(jobs.oldest_left_out(), files[i].reason) << "file " << i;
        if (files[i].status == 0) {
            EXPECT_EQ(std::string(reinterpret_cast<const char*>(jobs.oldest_digest()), 4),
                      crc_of("abc"));
        }
        jobs.pop();
    }
}

TEST_P(FileJobs, GoingAwayWithFilesQueuedAndLargeFilesBeingReadEndsEveryWorker) {
    // A run that stops at a failing file leaves the rest unseen: the workers
    // must let go of every path before the lists holding them are freed.
    const std::string large = random_bytes(3 * reader::chunk_size + 11, 9);
    std::vector<std::wstring> paths;
    for (int i = 0; i < 40; ++i) {
        const std::string name = "h" + std::to_string(i);
        dir.write(name, i % 4 == 0 ? large : std::string(100, 'x'));
        paths.push_back((dir / name).wstring());
    }
    for (int stop_after = 0; stop_after < 4; ++stop_after) {
        auto jobs = std::make_unique<file_jobs>(GetParam(), file_jobs::algorithm::md5);
        for (std::size_t i = 0; i < paths.size() && jobs->has_room(); ++i) {
            jobs->submit(paths[i].c_str());
        }
        jobs->publish();
        for (int taken = 0; taken < stop_after; ++taken) {
            ASSERT_TRUE(jobs->wait_oldest(-1));
            jobs->pop();
        }
        jobs.reset();
    }
}

TEST_P(FileJobs, AWaitWithATimeLimitReturnsOnlyOnceTheOldestIsDone) {
    const std::string bytes = random_bytes(2 * reader::chunk_size, 3);
    dir.write("big", bytes);
    file_jobs jobs(GetParam(), file_jobs::algorithm::crc32);
    const std::wstring path = (dir / "big").wstring();
    jobs.submit(path.c_str());
    jobs.publish();
    while (!jobs.wait_oldest(1)) {
        const int percent = jobs.oldest_percent();
        EXPECT_GE(percent, 0);
        EXPECT_LE(percent, 100);
    }
    EXPECT_EQ(jobs.oldest_status(), 0);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(jobs.oldest_digest()), 4), crc_of(bytes));
}

TEST_P(FileJobs, ALargeFileAloneGivesTheSameDigestHoweverItIsShared) {
    // Alone in flight with a core to spare, a large CRC or BLAKE3 file is
    // hashed in two parts at once: sizes at and around that threshold, parts
    // that end inside a chunk, and progress that only ever rises to 100.
    const std::uint32_t chunk = reader::chunk_size;
    const std::size_t threshold = 8u << 20;
    for (const auto kind : {file_jobs::algorithm::crc32, file_jobs::algorithm::blake3}) {
        for (std::size_t size :
             {threshold - 1, threshold, threshold + 1, threshold + 1024, threshold + 3 * chunk + 7,
              3 * threshold + chunk / 2, 5 * threshold - 1}) {
            const std::string bytes = random_bytes(size, static_cast<unsigned>(size));
            dir.write("large", bytes);
            const std::wstring path = (dir / "large").wstring();
            file_jobs jobs(GetParam(), kind);
            jobs.submit(path.c_str());
            jobs.publish();
            int shown = 0;
            while (!jobs.wait_oldest(1)) {
                const int percent = jobs.oldest_percent();
                EXPECT_GE(percent, shown);
                EXPECT_LE(percent, 100);
                shown = percent;
            }
            EXPECT_EQ(jobs.oldest_status(), 0) << size;
            EXPECT_EQ(jobs.oldest_percent(), 100);
            const std::string want = digest_by(kind, bytes);
            EXPECT_EQ(std::string(reinterpret_cast<const char*>(jobs.oldest_digest()), want.size()),
                      want)
                << size;
        }
    }

    // Going away while both halves are being read ends both threads.
    dir.write("larger", random_bytes(64u << 20, 4));
    const std::wstring larger = (dir / "larger").wstring();
    for (const auto kind : {file_jobs::algorithm::crc32, file_jobs::algorithm::blake3}) {
        for (int waits = 0; waits < 3; ++waits) {
            file_jobs jobs(GetParam(), kind);
            jobs.submit(larger.c_str());
            jobs.publish();
            for (int i = 0; i < waits; ++i) {
                (void)jobs.wait_oldest(1);
            }
        }
    }
}

TEST_P(FileJobs, ALargeBlake3FileAloneGivesTheOneThreadDigest) {
    // Split over two threads along BLAKE3's tree: sizes where the root's
    // children are the two parts (8 MiB, 12 MiB and a byte, 16 MiB less a
    // chunk and a byte), where the left child's halves are and the right
    // child follows in the worker (8 MiB and a byte: a one-byte tail; 12 MiB:
    // a tail as large as either half), and one just below the threshold.
    const std::size_t mib = 1u << 20;
    for (std::size_t size :
         {8 * mib - 1, 8 * mib, 8 * mib + 1, 12 * mib, 12 * mib + 1, 16 * mib - 1023}) {
        const std::string bytes = random_bytes(size, static_cast<unsigned>(size));
        dir.write("large", bytes);
        const std::wstring path = (dir / "large").wstring();
        file_jobs jobs(GetParam(), file_jobs::algorithm::blake3);
        jobs.submit(path.c_str());
        jobs.publish();
        while (!jobs.wait_oldest(1)) {
            EXPECT_LE(jobs.oldest_percent(), 100);
        }
        blake3hasher reference;
        reference.init();
        reference.update(reinterpret_cast<const unsigned char*>(bytes.data()),
                         static_cast<std::uint32_t>(bytes.size()));
        reference.finalize();
        EXPECT_EQ(jobs.oldest_status(), 0) << size;
        EXPECT_EQ(jobs.oldest_percent(), 100);
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(jobs.oldest_digest()), 32),
                  std::string(static_cast<const char*>(reference.hash()), 32))
            << size;
    }
}

INSTANTIATE_TEST_SUITE_P(Workers, FileJobs, ::testing::Values(1, 3));

}  // namespace
