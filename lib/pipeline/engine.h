// The hashing engine behind file_jobs and the processor: a window of files
// handed in by one owner, worker threads that take them in order, and the
// bookkeeping they share (how many are awake, how many files are open, whose
// turn it is on a disk that seeks). How a worker hashes one file lives in
// worker.cpp, the MD5 and SHA lanes in lane_feed.cpp, the split of a large CRC file in
// half_hasher.cpp and the disk rule in disk_rule.cpp.
#ifndef KORVANE_PIPELINE_ENGINE_H
#define KORVANE_PIPELINE_ENGINE_H

#include <korvane/jobs.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <memory>
#include <new>
#include <vector>

#include "pipeline/disk_rule.h"
#include "platform/cpu.h"
#include "platform/file_read.h"
#include "status.h"

class hasher;

namespace korvane::detail {

struct aligned_delete {
    void operator()(unsigned char* p) const { ::operator delete(p, std::align_val_t(4096)); }
};
using aligned_buffer = std::unique_ptr<unsigned char, aligned_delete>;

inline aligned_buffer allocate_aligned(std::size_t size) {
    return aligned_buffer(
        static_cast<unsigned char*>(::operator new(size, std::align_val_t(4096), std::nothrow)));
}

// Whether a failure to open or to get memory for a file is the process's
// (descriptors or memory used up) rather than the file's own.
constexpr bool is_shortage(int error) {
    return error == EMFILE || error == ENFILE || error == ENOMEM;
}

class worker;

struct jobs_state {
    using algorithm = file_jobs::algorithm;
    static constexpr int digest_room = file_jobs::digest_room;
    // A woken worker is on the CPU within this time, unless the machine is
    // crowded; a wake-up older than that is taken as arrived.
    static constexpr std::int64_t wake_trust_ns = 1'000'000;

    struct job {
        const wchar_t* path = nullptr;
        // The caller's own hasher (the processor's requests), or null for the
        // worker's hasher of the jobs' kind.
        hasher* with = nullptr;
        std::atomic<std::uint32_t> done{0};
        std::atomic<std::int32_t> percent{0};
        korvane::status status = korvane::status::ok;
        std::uint64_t size = 0;
        std::uint64_t write_time = 0;
        // The error number of the shortage that kept the file from being
        // hashed although no other file was open, or 0.
        int shortage = 0;
        // Found by a listing and not looked at yet: the worker checks it as a
        // walk would (see file_jobs::submit_unexamined).
        bool unexamined = false;
        file_jobs::left_out left_out = file_jobs::left_out::none;
        alignas(8) unsigned char digest[digest_room] = {};
    };

    jobs_state(std::uint32_t slots, algorithm hashed_with);
    // Stops the workers: nothing not yet started is started, and files being
    // hashed are abandoned.
    ~jobs_state();
    jobs_state(const jobs_state&) = delete;
    jobs_state& operator=(const jobs_state&) = delete;

    // The window, the owner's event and `count` workers. With `threads`, each
    // worker has a thread and a hasher of the jobs' kind of its own;
    // otherwise (the processor) the owner runs the one worker's loop on a
    // thread it has (run_worker), and every file brings its caller's hasher.
    // Throws when memory is short; false when the owner's event could not be
    // made. `started_workers` says how many workers came to be.
    bool build(int count, bool threads);
    // The loop of the one worker that has no thread of its own.
    void run_worker();

    // --- The owner's side --------------------------------------------------

    // Fills the slot of `sequence` for a file; workers see it after publish().
    void submit(std::uint64_t sequence, const wchar_t* path, hasher* with, bool unexamined = false);
    // Lets the workers at every file before `tail`.
    void publish(std::uint64_t tail);
    // Waits up to `milliseconds` (negative: no limit) for the file `head`;
    // `tail` is the next file to be handed in. True once it is done.
    bool wait_for(std::uint64_t head, std::uint64_t tail, int milliseconds);
    // Tells every worker to stop and wakes those asleep; the destructor joins.
    void stop();

    // --- The workers' side -------------------------------------------------

    job& slot(std::uint64_t sequence) { return jobs[sequence & (slot_count - 1)]; }

    // Workers: the next published file. Waits while there is none; false once
    // the jobs are stopping.
    bool claim(std::uint64_t& sequence);
    // As claim(), but false at once when nothing is waiting.
    bool try_claim(std::uint64_t& sequence);
    bool nothing_waiting() const { return claimed.load() >= published.load(); }
    void finish(std::uint64_t sequence);
    // A worker takes a slot before it opens a file, and gives it back when
    // it closes the file (or failed to open it). try_reserve() is false when
    // the workers hold as many files as they may; reserve() waits until they
    // hold fewer.
    bool try_reserve() {
        std::uint32_t now = open_files.load(std::memory_order_relaxed);
        do {
            if (now >= open_cap.load(std::memory_order_relaxed)) {
                return false;
            }
        } while (!open_files.compare_exchange_weak(now, now + 1));
        return true;
    }
    void reserve() {
        while (!try_reserve()) {
            if (!wait_for_release()) {
                open_files.fetch_add(1);  // stopping, or nothing open at all
                return;
            }
        }
    }
    void released();
    // The process has just run short: from now on the workers hold fewer
    // files than they did.
    void lower_cap();
    // Short of descriptors or memory: sleeps until a file open elsewhere is
    // closed. False at once when no other file is open, or once stopping.
    bool wait_for_release();
    bool stopped() const { return stopping.load(std::memory_order_relaxed) != 0; }
    // How many sleeping workers `files` now waiting may wake: more workers
    // on the CPU than it has cores only crowd its caches and add wake-ups.
    // Workers woken but not yet running count as on the CPU, or a walk that
    // hands in files faster than they get going would wake one per file. With
    // none on the CPU, one is woken whatever the counts say.
    std::uint32_t wake_room(std::uint64_t files, std::uint32_t sleepers) const {
        const std::uint32_t running = on_cpu.load();
        const std::uint32_t now = running + wakes_on_the_way();
        std::uint32_t room = now < cpu_limit ? cpu_limit - now : 0;
        if (running == 0) {
            room = std::max<std::uint32_t>(room, 1);
        }
        return static_cast<std::uint32_t>(std::min<std::uint64_t>(files, std::min(sleepers, room)));
    }
    void wake_sleepers(std::uint32_t count);
    // A worker back from its sleep: one wake-up fewer on the way.
    void woke();
    // Wake-ups given but not yet taken up. A wake-up meant for a worker that
    // did not sleep after all is never taken up: after a while the count is
    // no longer believed, or the workers on the CPU would stay fewer than
    // the cores.
    std::uint32_t wakes_on_the_way() const {
        const std::uint32_t pending = waking.load();
        return pending != 0 && now_ns() - last_wake_ns.load() < wake_trust_ns ? pending : 0;
    }
    static std::int64_t now_ns() {
        return std::chrono::duration_cast<std::chrono::nanoseconds>(
                   std::chrono::steady_clock::now().time_since_epoch())
            .count();
    }
    // Whether a worker that is about to wait for the disk should say so: only
    // with workers asleep can one of them take a file meanwhile.
    bool may_step_aside() const { return sleeping_workers.load(std::memory_order_relaxed) != 0; }
    // A worker waits for the disk: while it does, a sleeping worker may take
    // its core and a waiting file.
    void step_aside();
    void step_back() { on_cpu.fetch_add(1); }

    const std::uint32_t slot_count;
    const algorithm kind;
    // The file every open leaves out (file_jobs::exclude); set before the
    // first file is published, read only after.
    platform::hashing_checks excluded;
    std::unique_ptr<job[]> jobs;
    std::vector<std::unique_ptr<worker>> workers;
    int started_workers = 0;

    std::atomic<std::uint64_t> published{0};  // files workers may take: [claimed, published)
    std::atomic<std::uint64_t> claimed{0};
    std::atomic<std::uint32_t> stopping{0};
    // Workers sleep on this word when nothing is left to take.
    std::atomic<std::uint32_t> work_generation{0};
    std::atomic<std::uint32_t> sleeping_workers{0};
    // Workers hashing a file one at a time right now.
    std::atomic<std::uint32_t> busy_workers{0};
    // The owner sleeps until the file `owner_target` is done: a file some way
    // past the oldest, so that one wake-up covers several results.
    std::atomic<std::uint64_t> owner_target{0};
    std::atomic<std::uint32_t> owner_sleeping{0};
    void* owner_event = nullptr;
    // The processor's one worker waits for requests on this event rather
    // than on `work_generation`: the event spins a little before it sleeps,
    // so a caller that hands in the next file at once finds the worker awake.
    // Null for file_jobs, whose idle workers must leave the CPU to the others.
    void* request_event = nullptr;
    // On a disk that seeks, only one large file is read at a time.
    disk_turn disk;
    // Files the workers hold open or are opening. Workers that found the process out of
    // descriptors or memory sleep on `release_generation` until one closes:
    // the files in flight shrink to what the process can hold.
    std::atomic<std::uint32_t> open_files{0};
    std::atomic<std::uint32_t> open_cap{0xFFFFFFFFu};
    std::atomic<std::uint32_t> release_generation{0};
    std::atomic<std::uint32_t> release_waiters{0};
    const int cpus = platform::usable_cpu_count();
    // Workers awake and not waiting for the disk, and how many of them are
    // woken at most: the files waiting are taken by these, while the others
    // sleep unless the disk holds these up.
    std::atomic<std::uint32_t> on_cpu{0};
    std::atomic<std::uint32_t> waking{0};
    std::atomic<std::int64_t> last_wake_ns{0};
    const std::uint32_t cpu_limit = static_cast<std::uint32_t>(std::max(cpus, 1));
};

}  // namespace korvane::detail

#endif
