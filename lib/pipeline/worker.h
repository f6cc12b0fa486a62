// One worker of the engine: its own hasher, its own buffer for files of one
// chunk or less, and (once a larger file comes) its own reader thread, so that
// reading and hashing of a large file overlap as with one file in flight. MD5
// workers on a CPU with wide lanes, and SHA-1/SHA-256 workers on one with the
// SHA extensions, hash several files at once instead (lane_feed). Everything
// a worker needs is made once, never per file.
#ifndef KORVANE_PIPELINE_WORKER_H
#define KORVANE_PIPELINE_WORKER_H

#include <korvane/reader.h>

#include <cstdint>
#include <memory>

#include "hash/hashers.h"
#include "pipeline/engine.h"
#include "platform/file_read.h"

class blake3hasher;

namespace korvane::detail {

class half_hasher;

class worker {
  public:
    using job = jobs_state::job;

    // `own_hasher`: makes a hasher of the jobs' kind; without it, every file
    // brings its caller's (job::with).
    worker(jobs_state& jobs, bool own_hasher);
    ~worker();
    worker(const worker&) = delete;
    worker& operator=(const worker&) = delete;

    // False when the hasher asked for could not be made.
    bool usable() const { return !wants_hasher || own != nullptr; }
    // A thread of its own for run().
    bool start();
    void join();
    // Takes files until the jobs stop.
    void run();

    // --- For the lanes: one file at a time, opening and reading -------------

    // Takes files one after the other until the jobs stop.
    void hash_each_alone();
    // Opens the file of `work`. Returns the error number when the process is
    // out of descriptors or memory (the file is then tried again later);
    // otherwise 0, with `file` open or the file's own failure in its status.
    // `holding`: the worker has files of its own open, so it must not wait
    // for a file to close; at the cap it gets EMFILE at once.
    [[nodiscard]] int open(job& work, platform::file_handle& file, bool holding = false);
    // Sets the status of a file that could not be opened, and why it was left
    // out when the checks refused it.
    void leave_out(job& work, int failed);
    void close(platform::file_handle file);
    // The process had no descriptor or memory for the file. While files are
    // open elsewhere, waits for one of them to close and says to try again:
    // the files in flight shrink to what the process can hold. With none open
    // it tries a few more times, then gives the file the shortage, which ends
    // the run: the file itself may well be fine.
    [[nodiscard]] bool ride_out(job& work, int shortage, int& alone);
    // Hashes an open file on its own and closes it. Returns ENOMEM, with
    // nothing reported, when the worker's buffer cannot be had.
    [[nodiscard]] int hash_alone(job& work, platform::file_handle file);
    // Reads `length` bytes at `offset`. While workers sleep, a read that
    // needs the disk steps aside first, so that slow storage still gets many
    // reads in flight; from memory it is read at once.
    [[nodiscard]] int read_at(platform::file_handle file, unsigned char* into, std::uint32_t length,
                              std::uint64_t offset);

    static void set_progress(job& work, std::uint64_t done, std::uint64_t size) {
        work.percent.store(static_cast<std::int32_t>(done * 100 / size), std::memory_order_relaxed);
    }

    jobs_state& owner;

  private:
    static void entry(void* self) { static_cast<worker*>(self)->run(); }

    void hash_one(job& work);
    // Hashes an open file with `active`: 0, the error number of its failure,
    // or (for a large CRC or BLAKE3 file split in two) a mark that the split has
    // reported the outcome and closed the file.
    [[nodiscard]] int hash_whole(job& work, platform::file_handle file);
    // Hashes the first `end` bytes of the file; the progress shown also counts
    // what `back_half` has hashed of the rest.
    [[nodiscard]] int hash_range(job& work, platform::file_handle file, std::uint64_t end,
                                 const half_hasher* back_half) {
        return hash_range(work, file, {0, end, 0}, back_half);
    }
    // Bytes [begin, end) of a file, `before` bytes of it hashed here already.
    struct byte_range {
        std::uint64_t begin;
        std::uint64_t end;
        std::uint64_t before;
    };
    [[nodiscard]] int hash_range(job& work, platform::file_handle file, byte_range range,
                                 const half_hasher* back_half);
    bool reader_ready();
    // `exclusive`: the file needs the disk's turn (disk_rule.h).
    [[nodiscard]] int hash_large(job& work, platform::file_handle file, std::uint64_t size,
                                 bool exclusive);

    // The split of a large CRC or BLAKE3 file (half_hasher.cpp). Such a file
    // is split when nothing else waits for the cores; never on a disk that
    // seeks.
    bool worth_splitting(const job& work, bool needs_disk);
    // Hashes the front half here and the back half on the other thread, then
    // puts the two CRC values together; closes the file.
    void hash_split(job& work, platform::file_handle file);
    // BLAKE3's split (blake3_tree.h): the front and the tail here, the back
    // on the other thread, then the chaining values joined; closes the file.
    void hash_split_tree(job& work, platform::file_handle file);
    // The subtree of bytes `range` into `cv`, with `h`: 0 or an error number.
    [[nodiscard]] int hash_subtree(job& work, platform::file_handle file, byte_range range,
                                   blake3hasher& h, unsigned char* cv);

    const bool wants_hasher;
    owned_hasher own;
    // The hasher of the file being hashed: the worker's, or the caller's.
    hasher* active = nullptr;
    aligned_buffer buffer;
    std::unique_ptr<reader> file_reader;
    std::unique_ptr<half_hasher> other_half;
    void* handle = nullptr;
};

}  // namespace korvane::detail

#endif
