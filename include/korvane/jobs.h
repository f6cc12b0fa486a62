// Several files hashed at once. Worker threads take files from a queue in the
// order they were handed in; the owner takes the results back in that same
// order, so that whatever it reports looks as if one file at a time had been
// hashed. The processor hashes one file per request on the same engine.
#ifndef KORVANE_JOBS_H
#define KORVANE_JOBS_H

#include <cstdint>
#include <memory>

#include <korvane/export.h>

namespace korvane::detail {
struct jobs_state;
}

class KORVANE_API file_jobs {
  public:
    enum class algorithm { crc32, md5, sha1, sha256, sha512, blake3, xxh64, xxh3, xxh128 };

    // Why a file was left out rather than hashed: the list being written
    // (status -5), a file its owner may not read (-5), or one gone since its
    // folder was listed (-4).
    enum class left_out { none, excluded, unreadable, vanished };

    // Files in flight at most, whatever the caller asks: the memory of the
    // workers' buffers stays bounded.
    static constexpr int max_jobs = 64;
    // The largest digest a result holds.
    static constexpr int digest_room = 64;

    // `workers` threads (clamped to 1 to max_jobs), each hashing with its own
    // hasher of the given kind. Several small MD5 files in flight go through
    // the lanes of the multi-buffer transform together where the CPU has one.
    file_jobs(int workers, algorithm kind);
    // Stops the workers: files not yet started are dropped, files being hashed
    // are abandoned, and no worker touches a path once this returns.
    ~file_jobs();
    file_jobs(const file_jobs&) = delete;
    file_jobs& operator=(const file_jobs&) = delete;

    // False when no worker thread could be created: nothing handed in will
    // ever be done, so the owner must not wait.
    bool usable() const;

    // How many files may be handed in and not yet taken back.
    std::uint32_t capacity() const { return slot_count; }
    bool has_room() const { return tail - head < slot_count; }
    bool empty() const { return tail == head; }

    // Queues a file (has_room() must hold). The path text stays the caller's
    // and must not change until the result has been taken with pop(). Workers
    // see queued files only after publish().
    void submit(const wchar_t* path);
    // As submit(), for a file a folder's listing named that nobody has looked
    // at yet: the worker makes the checks a walk makes, leaving out a file its
    // owner may not read or that is gone by now, before anything is opened.
    void submit_unexamined(const wchar_t* path);
    // Leaves out, as each file is opened, the file of this identity (device
    // and inode as the OS gives them), however its name reaches it: the list
    // a creation writes. Only before the first file is handed in.
    void exclude(std::uint64_t device, std::uint64_t inode);
    // Lets the workers at everything submitted so far.
    void publish();

    // Waits up to `milliseconds` (negative: no limit) for the oldest file.
    // True once it is done.
    bool wait_oldest(int milliseconds);
    // Whether the oldest file is done, without waiting and without letting
    // the workers at newly submitted files.
    bool oldest_done() const;
    // Progress of the oldest file, 0 to 100; readable at any time.
    int oldest_percent() const;
    // Only once wait_oldest() has returned true: the oldest file's status (0,
    // -3 read error, -4 not found, -5 access denied or not a regular file,
    // -8, or -1), its digest, and its size and last write time (100-ns ticks
    // since 1601-01-01 UTC) as it was hashed.
    [[nodiscard]] int oldest_status() const;
    const unsigned char* oldest_digest() const;
    std::uint64_t oldest_size() const;
    std::uint64_t oldest_write_time() const;
    // Only once wait_oldest() has returned true: 0, or the error number (the C
    // runtime's EMFILE or ENFILE: out of descriptors; ENOMEM: out of memory)
    // of a shortage of the process that kept the oldest file from being
    // hashed. Files wait for each other while the process is short; this is
    // set only when no other file was open, so the run cannot go on, and the
    // file itself may well be fine.
    int oldest_shortage() const;
    // Only once wait_oldest() has returned true: why the oldest file was left
    // out, or none.
    left_out oldest_left_out() const;
    // Takes the oldest result away.
    void pop();
    // Stops the workers as the destructor does, for an owner that ends its run
    // early and is about to free the paths of files still in flight. After
    // this, usable() is false.
    void stop();

  private:
    // Null when even the bookkeeping could not be allocated. Destroyed only in
    // the library, where the state is complete.
    std::unique_ptr<korvane::detail::jobs_state> self;
    std::uint32_t slot_count;
    std::uint64_t head = 0;  // oldest file not yet popped
    std::uint64_t tail = 0;  // next file handed in
};

#endif
