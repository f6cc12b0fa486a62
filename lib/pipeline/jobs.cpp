#include <korvane/jobs.h>

#include <korvane/hasher.h>
#include <korvane/reader.h>
#include <korvane/sha.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <memory>
#include <new>
#include <thread>
#include <vector>

#include "hash/crc32_paths.h"
#include "hash/md5_lanes.h"
#include "platform/cpu.h"
#include "platform/file_read.h"
#include "platform/threading.h"
#include "status.h"

namespace platform = korvane::platform;

namespace {

std::uint32_t window_for(int workers) {
    // Enough files queued that no worker runs dry while the owner reports,
    // few enough that the queue's memory stays small.
    std::uint32_t size = 64;
    while (size < 1024 && size < 32u * static_cast<std::uint32_t>(workers)) {
        size *= 2;
    }
    return size;
}

struct aligned_delete {
    void operator()(unsigned char* p) const { ::operator delete(p, std::align_val_t(4096)); }
};
using aligned_buffer = std::unique_ptr<unsigned char, aligned_delete>;

aligned_buffer allocate_aligned(std::size_t size) {
    return aligned_buffer(
        static_cast<unsigned char*>(::operator new(size, std::align_val_t(4096), std::nothrow)));
}

// Bytes of each file read per turn when files go through the MD5 lanes: the
// pieces of all lanes stay in the CPU caches together.
constexpr std::uint32_t lane_piece = 64 * 1024;

// A CRC file at least this large, alone in flight while a core is free, is
// hashed as two halves on two threads; below it the hand-over would cost more
// than the second core gains.
constexpr std::uint64_t split_threshold = 8u << 20;

// Whether a failure to open or to get memory for a file is the process's
// (descriptors or memory used up) rather than the file's own.
constexpr bool is_shortage(int error) {
    return error == EMFILE || error == ENFILE || error == ENOMEM;
}

// A file short of descriptors or memory while no other file is open is tried
// this often, after pauses of 1, 2, 4... ms (the owner may hold a descriptor
// for a moment), before the shortage ends the run.
constexpr int attempts_alone = 6;

// Once the process has run short, the workers hold this many files fewer than
// they could, so that the owner can still open its own (the list it writes).
constexpr std::uint32_t owner_reserve = 4;

// A woken worker is on the CPU within this time, unless the machine is
// crowded; a wake-up older than that is taken as arrived.
constexpr std::int64_t wake_trust_ns = 1'000'000;

}  // namespace

namespace korvane::detail {

struct jobs_state {
    using algorithm = file_jobs::algorithm;
    static constexpr int digest_room = file_jobs::digest_room;

    struct job {
        const wchar_t* path = nullptr;
        std::atomic<std::uint32_t> done{0};
        std::atomic<std::int32_t> percent{0};
        korvane::status status = korvane::status::ok;
        std::uint64_t size = 0;
        std::uint64_t write_time = 0;
        // The error number of the shortage that kept the file from being
        // hashed although no other file was open, or 0.
        int shortage = 0;
        alignas(8) unsigned char digest[digest_room] = {};
    };
    class worker;

    jobs_state(std::uint32_t slots, algorithm hashed_with) : slot_count(slots), kind(hashed_with) {}
    // Stops the workers: nothing not yet started is started, and files being
    // hashed are abandoned.
    ~jobs_state();
    jobs_state(const jobs_state&) = delete;
    jobs_state& operator=(const jobs_state&) = delete;

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
    // On a disk that seeks, only one large file is read at a time.
    std::atomic<std::uint32_t> large_read_busy{0};
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

// The back half of one large CRC file, read and hashed on a thread of its own
// while the worker does the front half: CRC-32 values of two pieces combine,
// so a large file alone keeps two cores busy.
class half_hasher {
  public:
    explicit half_hasher(const jobs_state& jobs) : owner(jobs) {}
    ~half_hasher() {
        if (handle != nullptr) {
            phase.store(quit);
            platform::wake_word(phase);
            platform::thread_join(handle);
        }
    }
    half_hasher(const half_hasher&) = delete;
    half_hasher& operator=(const half_hasher&) = delete;

    // Makes the thread and its buffer on first use; false when either cannot
    // be had (the file is then hashed in one piece).
    [[nodiscard]] bool ready() {
        if (handle != nullptr) {
            return true;
        }
        buffer = allocate_aligned(reader::chunk_size);
        if (!buffer) {
            return false;
        }
        handle = platform::thread_create(&entry, this);
        return handle != nullptr;
    }

    // Hashes `length` bytes of `file` from `offset` on.
    void start(platform::file_handle file_, std::uint64_t offset_, std::uint64_t length_) {
        file = file_;
        offset = offset_;
        length = length_;
        error = 0;
        cancelled.store(0, std::memory_order_relaxed);
        hashed.store(0, std::memory_order_relaxed);
        phase.store(working);
        platform::wake_word(phase);
    }

    // Bytes hashed so far, for the progress of the file.
    std::uint64_t bytes_hashed() const { return hashed.load(std::memory_order_relaxed); }

    // Waits until the half is done and gives its error number (0 when the
    // CRC-32 in `value` is that of the half). With `cancel`, the thread stops
    // at its next chunk. After this the file is the caller's again.
    [[nodiscard]] int finish(bool cancel, std::uint32_t& value) {
        if (cancel) {
            cancelled.store(1);
        }
        for (std::uint32_t now = phase.load(); now == working; now = phase.load()) {
            platform::wait_on_word(phase, now);
        }
        value = result;
        return error;
    }

  private:
    static constexpr std::uint32_t idle = 0, working = 1, done = 2, quit = 3;

    static void entry(void* self) { static_cast<half_hasher*>(self)->run(); }

    void run() {
        for (;;) {
            std::uint32_t now = phase.load();
            if (now == quit) {
                return;
            }
            if (now != working) {
                platform::wait_on_word(phase, now);
                continue;
            }
            error = hash_half();
            phase.store(done);
            platform::wake_word(phase);
        }
    }

    [[nodiscard]] int hash_half() {
        crc half;
        half.init();
        for (std::uint64_t done_bytes = 0; done_bytes < length;) {
            if (cancelled.load(std::memory_order_relaxed) != 0 || owner.stopped()) {
                return reader::io_error;
            }
            const auto piece = static_cast<std::uint32_t>(
                std::min<std::uint64_t>(length - done_bytes, reader::chunk_size));
            if (platform::read_exact(file, buffer.get(), piece, offset + done_bytes) != 0) {
                return reader::io_error;
            }
            half.update(buffer.get(), piece);
            done_bytes += piece;
            hashed.store(done_bytes, std::memory_order_relaxed);
        }
        half.finalize();
        std::memcpy(&result, half.hash(), sizeof result);
        return 0;
    }

    const jobs_state& owner;
    aligned_buffer buffer;
    void* handle = nullptr;
    std::atomic<std::uint32_t> phase{idle};
    std::atomic<std::uint32_t> cancelled{0};
    std::atomic<std::uint64_t> hashed{0};
    // Written by the thread while working, read by the worker once done.
    platform::file_handle file = platform::invalid_file;
    std::uint64_t offset = 0;
    std::uint64_t length = 0;
    int error = 0;
    std::uint32_t result = 0;
};

// One worker thread with its own hasher, its own buffer for files of one chunk
// or less, and (once a larger file comes) its own reader thread, so that
// reading and hashing of a large file overlap as with one file in flight.
// MD5 workers on a CPU with wide lanes hash several files at once instead.
class jobs_state::worker {
  public:
    explicit worker(jobs_state& jobs) : owner(jobs) {
        algorithm_in_use = choose_hasher(owner.kind);
    }
    ~worker() { join(); }
    worker(const worker&) = delete;
    worker& operator=(const worker&) = delete;

    bool start() {
        handle = platform::thread_create(&entry, this);
        return handle != nullptr;
    }
    void join() {
        if (handle != nullptr) {
            platform::thread_join(handle);
            handle = nullptr;
        }
    }

  private:
    struct stream {
        std::uint64_t sequence;
        platform::file_handle file;
        std::uint64_t size;
        std::uint64_t read;    // bytes read from the file so far
        std::uint64_t hashed;  // bytes through the lanes so far
        unsigned char* buffer;
        std::uint32_t filled;  // whole blocks of the current piece, in bytes
        std::uint32_t used;    // of those, bytes hashed
        std::uint32_t tail;    // bytes after the last whole block of the file's last piece
        int lane;
        bool finishing;        // handed to the lanes with its tail; the digest comes with a run
        bool on_seeking_disk;  // a large file on a rotational disk
        bool holds_disk;       // ... and the one large file being read from it
    };

    static void entry(void* self) { static_cast<worker*>(self)->run(); }

    void run() {
        owner.on_cpu.fetch_add(1);
        if (owner.kind == algorithm::md5 &&
            korvane::md5mb::active_path() != korvane::md5mb::path::single) {
            run_lanes();
        } else {
            hash_each_alone();
        }
        if (file_reader) {
            file_reader->shutdown();
            file_reader->join();
        }
        owner.on_cpu.fetch_sub(1);
    }

    // --- One file at a time ------------------------------------------------

    void hash_one(job& work) {
        for (int alone = 0;;) {
            platform::file_handle file = platform::invalid_file;
            int shortage = open(work, file);
            if (shortage == 0 && file != platform::invalid_file) {
                shortage = hash_alone(work, file);
            }
            if (shortage == 0 || !ride_out(work, shortage, alone)) {
                return;
            }
        }
    }

    // Opens the file of `work`. Returns the error number when the process is
    // out of descriptors or memory (the file is then tried again later);
    // otherwise 0, with `file` open or the file's own failure in its status.
    // `holding`: the worker has files of its own open, so it must not wait
    // for a file to close; at the cap it gets EMFILE at once.
    [[nodiscard]] int open(job& work, platform::file_handle& file, bool holding = false) {
        work.percent.store(0, std::memory_order_relaxed);
        work.status = korvane::status::ok;
        if (!holding) {
            owner.reserve();
        } else if (!owner.try_reserve()) {
            return EMFILE;
        }
        std::uint64_t size = 0;
        if (int failed = platform::open_for_hashing(work.path, file, size, &work.write_time);
            failed != 0) {
            owner.released();
            if (is_shortage(failed)) {
                owner.lower_cap();
                return failed;
            }
            work.status = korvane::from_errno(failed);
            return 0;
        }
        work.size = size;
        return 0;
    }

    void close(platform::file_handle file) {
        platform::close_file(file);
        owner.released();
    }

    // The process had no descriptor or memory for the file. While files are
    // open elsewhere, waits for one of them to close and says to try again:
    // the files in flight shrink to what the process can hold. With none open
    // it tries a few more times, then gives the file the shortage, which ends
    // the run: the file itself may well be fine.
    [[nodiscard]] bool ride_out(job& work, int shortage, int& alone) {
        if (owner.wait_for_release()) {
            alone = 0;
            return true;
        }
        if (!owner.stopped() && ++alone < attempts_alone) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1 << (alone - 1)));
            return true;
        }
        work.status = korvane::status::unknown_error;
        work.shortage = shortage;
        return false;
    }

    // Hashes an open file with the worker's own hasher and closes it. Returns
    // ENOMEM, with nothing reported, when the worker's buffer cannot be had.
    [[nodiscard]] int hash_alone(job& work, platform::file_handle file) {
        if (!buffer) {
            buffer = allocate_aligned(reader::chunk_size);
            if (!buffer) {
                close(file);
                owner.lower_cap();
                return ENOMEM;
            }
        }
        const std::uint64_t size = work.size;
        // Asked once per large file, where the answer matters: the split and
        // the reader obey it, and a file read from the disk leaves its core
        // to a sleeping worker.
        const bool large = size > reader::chunk_size;
        const bool seeks = large && platform::on_rotational_disk(file);
        const bool from_disk =
            large && (seeks || owner.may_step_aside()) && !platform::all_in_memory(file, size);
        const bool needs_disk = seeks && from_disk;
        if (worth_splitting(size, needs_disk)) {
            hash_split(work, file);
            return 0;
        }
        algorithm_in_use->init();
        int failed = 0;
        if (size == 0) {
            work.percent.store(100, std::memory_order_relaxed);
        } else if (size <= reader::chunk_size || !reader_ready()) {
            failed = hash_range(work, file, size, nullptr);
        } else {
            if (from_disk) {
                owner.step_aside();  // the file mostly waits for its reader
            }
            failed = hash_large(work, file, size, needs_disk);
            if (from_disk) {
                owner.step_back();
            }
            if (failed == reader::out_of_memory) {
                // No room for the reader's ring: the worker's own buffer does.
                algorithm_in_use->init();
                failed = hash_range(work, file, size, nullptr);
            }
        }
        algorithm_in_use->finalize();
        close(file);
        if (failed != 0) {
            work.status = korvane::from_errno(failed);
            return 0;
        }
        const auto digest_size = static_cast<std::size_t>(algorithm_in_use->hash_size());
        std::memcpy(work.digest, algorithm_in_use->hash(),
                    std::min<std::size_t>(digest_size, digest_room));
        return 0;
    }

    static void set_progress(job& work, std::uint64_t done, std::uint64_t size) {
        work.percent.store(static_cast<std::int32_t>(done * 100 / size), std::memory_order_relaxed);
    }

    // Hashes the first `end` bytes of the file; the progress shown also counts
    // what `back_half` has hashed of the rest.
    [[nodiscard]] int hash_range(job& work, platform::file_handle file, std::uint64_t end,
                                 const half_hasher* back_half) {
        std::uint64_t offset = 0;
        while (offset < end) {
            auto length = static_cast<std::uint32_t>(
                std::min<std::uint64_t>(end - offset, reader::chunk_size));
            if (read_at(file, buffer.get(), length, offset) != 0) {
                // Shrunk, vanished or unreadable: the caller sees a read error.
                return reader::io_error;
            }
            algorithm_in_use->update(buffer.get(), length);
            offset += length;
            const std::uint64_t other = back_half != nullptr ? back_half->bytes_hashed() : 0;
            set_progress(work, offset + other, work.size);
            if (owner.stopped()) {
                return reader::io_error;  // nobody will look at this result
            }
        }
        return 0;
    }

    // A large CRC file is split when nothing else waits for the cores: no file
    // is left to take and no other worker hashes one. Never on a disk that
    // seeks, where two places read at once would make the heads jump.
    bool worth_splitting(std::uint64_t size, bool needs_disk) {
        if (owner.kind != algorithm::crc32 || size < split_threshold || owner.cpus < 2 ||
            !owner.nothing_waiting()) {
            return false;
        }
        if (owner.busy_workers.load() > 1) {
            return false;  // another file keeps the other cores busy already
        }
        if (needs_disk) {
            return false;
        }
        if (!other_half) {
            other_half.reset(new (std::nothrow) half_hasher(owner));
        }
        return other_half && other_half->ready();
    }

    // Hashes the front half here and the back half on the other thread, then
    // puts the two CRC values together; closes the file.
    void hash_split(job& work, platform::file_handle file) {
        const std::uint64_t size = work.size;
        // Halves on chunk boundaries keep every read aligned.
        const std::uint64_t middle = (size / 2) & ~std::uint64_t{reader::chunk_size - 1};
        other_half->start(file, middle, size - middle);
        algorithm_in_use->init();
        const int failed = hash_range(work, file, middle, other_half.get());
        std::uint32_t back = 0;
        const int other_failed = other_half->finish(failed != 0, back);
        close(file);
        if (failed != 0 || other_failed != 0) {
            work.status = korvane::from_errno(failed != 0 ? failed : other_failed);
            return;
        }
        algorithm_in_use->finalize();
        std::uint32_t front = 0;
        std::memcpy(&front, algorithm_in_use->hash(), sizeof front);
        const std::uint32_t whole = korvane::crc32::combine(front, back, size - middle);
        std::memcpy(work.digest, &whole, sizeof whole);
        work.percent.store(100, std::memory_order_relaxed);
    }

    bool reader_ready() {
        if (!file_reader) {
            file_reader.reset(new (std::nothrow) reader());
            if (!file_reader) {
                return false;
            }
            file_reader->start();
        }
        return file_reader->state() != thread::finished;
    }

    // `exclusive`: the file lies on a disk that seeks and is not all in
    // memory. Two such files read at once would cost far more than they
    // overlap, so it waits for the disk; small files still go alongside.
    [[nodiscard]] int hash_large(job& work, platform::file_handle file, std::uint64_t size,
                                 bool exclusive) {
        if (exclusive) {
            while (owner.large_read_busy.exchange(1) != 0) {
                if (owner.stopped()) {
                    return reader::io_error;
                }
                platform::wait_on_word(owner.large_read_busy, 1);
            }
        }
        platform::advise_sequential(file);
        file_reader->processFile(file, size);
        const unsigned char* chunk = nullptr;
        std::uint32_t length = 0;
        std::uint64_t total = 0;
        bool abandoned = false;
        while (file_reader->wait(&chunk, &length)) {
            if (owner.stopped()) {
                abandoned = true;
                break;
            }
            algorithm_in_use->update(chunk, length);
            total += length;
            set_progress(work, total, size);
        }
        if (abandoned) {
            // The reader may still be reading from the descriptor, which the
            // caller closes next: end the reader thread first.
            file_reader->shutdown();
            file_reader->join();
        } else {
            file_reader->closeFile();
        }
        if (exclusive) {
            owner.large_read_busy.store(0);
            platform::wake_word(owner.large_read_busy);
        }
        if (abandoned) {
            return reader::io_error;
        }
        return file_reader->error();
    }

    // --- Several MD5 files at once, one per lane ----------------------------

    void run_lanes() {
        korvane::md5mb::md5_lanes lanes;
        const int lane_count = lanes.lanes();
        aligned_buffer pieces = allocate_aligned(std::size_t{lane_piece} * lane_count);
        if (!pieces) {
            // No room for the pieces: one file at a time still works.
            hash_each_alone();
            return;
        }
        stream streams[korvane::md5mb::max_lanes];
        int active = 0;
        for (;;) {
            fill_lanes(lanes, lane_count, pieces.get(), streams, active);
            if (active == 0) {
                return;  // claim() said stop
            }
            if (owner.stopped()) {
                drop_streams(lanes, streams, active);
                return;
            }
            step(lanes, streams, active);
        }
    }

    void hash_each_alone() {
        std::uint64_t sequence = 0;
        while (owner.claim(sequence)) {
            owner.busy_workers.fetch_add(1);
            hash_one(owner.slot(sequence));
            owner.busy_workers.fetch_sub(1);
            owner.finish(sequence);
        }
    }

    // Takes files while lanes are free; waits for one only when no file is
    // left in the lanes.
    void fill_lanes(korvane::md5mb::md5_lanes& lanes, int lane_count, unsigned char* pieces,
                    stream* streams, int& active) {
        while (active < lane_count) {
            std::uint64_t sequence = 0;
            if (deferred) {
                sequence = deferred_sequence;
                deferred = false;
            } else if (!(active == 0 ? owner.claim(sequence) : owner.try_claim(sequence))) {
                return;
            }
            if (!admit(lanes, pieces, streams, active, sequence)) {
                deferred = true;
                deferred_sequence = sequence;
                return;
            }
        }
    }

    // Opens a claimed file and gives it a lane, or hashes it on its own, or
    // finishes it when it cannot be opened. False when the process is out of
    // descriptors or memory while files of this worker's are in the lanes:
    // the file waits until one of them is done.
    [[nodiscard]] bool admit(korvane::md5mb::md5_lanes& lanes, unsigned char* pieces,
                             stream* streams, int& active, std::uint64_t sequence) {
        for (int alone = 0;;) {
            const int shortage = try_admit(lanes, pieces, streams, active, sequence);
            if (shortage == 0) {
                return true;
            }
            if (active > 0) {
                return false;
            }
            if (!ride_out(owner.slot(sequence), shortage, alone)) {
                owner.finish(sequence);
                return true;
            }
        }
    }

    // admit() once: 0, or the error number of a shortage of the process.
    [[nodiscard]] int try_admit(korvane::md5mb::md5_lanes& lanes, unsigned char* pieces,
                                stream* streams, int& active, std::uint64_t sequence) {
        job& work = owner.slot(sequence);
        platform::file_handle file = platform::invalid_file;
        if (int shortage = open(work, file, active > 0); shortage != 0) {
            return shortage;
        }
        if (file == platform::invalid_file) {
            owner.finish(sequence);
            return 0;
        }
        // A large file alone, or one on a disk that seeks, goes the
        // single-stream way with the reader beside it: one lane of
        // many would be slower than the single-stream transform.
        const bool large_alone =
            work.size > reader::chunk_size && active == 0 && owner.nothing_waiting();
        const int lane = large_alone ? -1 : lanes.attach();
        if (lane < 0) {
            const int shortage = hash_alone(work, file);
            if (shortage == 0) {
                owner.finish(sequence);
            }
            return shortage;
        }
        stream& s = streams[active++];
        s = stream{
            sequence, file,  work.size,
            0,        0,     pieces + static_cast<std::size_t>(lane) * lane_piece,
            0,        0,     0,
            lane,     false, work.size > reader::chunk_size && platform::on_rotational_disk(file),
            false};
        return 0;
    }

    // The run stops: every stream in the lanes lets go of its lane, its file
    // and the disk.
    void drop_streams(korvane::md5mb::md5_lanes& lanes, stream* streams, int active) {
        for (int i = 0; i < active; ++i) {
            lanes.release(streams[i].lane);
            close(streams[i].file);
            release_disk(streams[i]);
        }
    }

    // Reads the next piece of every stream that has used up its last one, runs
    // the lanes over as many blocks as every stream with data has, and hands
    // out the digests that are ready.
    void step(korvane::md5mb::md5_lanes& lanes, stream* streams, int& active) {
        refill(lanes, streams, active);

        const unsigned char* data[korvane::md5mb::max_lanes] = {};
        const std::size_t blocks = gather(streams, active, data);
        if (blocks == 0 && !any_finishing(streams, active)) {
            // Every file here waits for the disk that another large file has.
            owner.step_aside();
            platform::wait_on_word(owner.large_read_busy, 1);
            owner.step_back();
            return;
        }
        std::uint32_t ready = blocks != 0 ? lanes.run(data, blocks) : lanes.flush();

        advance(lanes, streams, active, data, blocks);
        if (ready == 0) {
            return;
        }
        hand_out(lanes, streams, active, ready);
    }

    // Reads the next piece of every stream that has used up its last one; a
    // stream whose read fails ends with an error.
    void refill(korvane::md5mb::md5_lanes& lanes, stream* streams, int& active) {
        for (int i = 0; i < active;) {
            stream& s = streams[i];
            if (s.finishing || s.used < s.filled) {
                ++i;
                continue;
            }
            const auto length =
                static_cast<std::uint32_t>(std::min<std::uint64_t>(s.size - s.read, lane_piece));
            int failed = 0;
            if (length != 0) {
                failed = read_piece(s, length);
                if (failed == platform::would_need_disk) {
                    ++i;  // another large file has the disk: this one waits its turn
                    continue;
                }
            }
            if (failed != 0) {
                job& work = owner.slot(s.sequence);
                work.status = korvane::from_errno(reader::io_error);
                lanes.release(s.lane);
                end_stream(streams, active, i);
                continue;
            }
            take_piece(lanes, s, length);
            ++i;
        }
    }

    // A stream has read a piece of `length` bytes into its buffer.
    static void take_piece(korvane::md5mb::md5_lanes& lanes, stream& s, std::uint32_t length) {
        s.read += length;
        s.used = 0;
        s.filled = length & ~63u;
        if (s.read == s.size) {
            s.tail = length - s.filled;
            if (s.filled == 0) {
                lanes.finish(s.lane, s.buffer, s.tail);
                s.finishing = true;
            }
        }
    }

    // Points every lane with data at its next block and returns how many
    // blocks every one of them has (0 when none has data).
    static std::size_t gather(const stream* streams, int active, const unsigned char** data) {
        std::size_t blocks = 0;
        for (int i = 0; i < active; ++i) {
            const stream& s = streams[i];
            if (!s.finishing && s.used < s.filled) {
                const std::size_t available = (s.filled - s.used) / 64;
                blocks = blocks == 0 ? available : std::min(blocks, available);
            }
        }
        for (int i = 0; i < active; ++i) {
            const stream& s = streams[i];
            if (!s.finishing && s.used < s.filled) {
                data[s.lane] = s.buffer + s.used;
            }
        }
        return blocks;
    }

    static bool any_finishing(const stream* streams, int active) {
        bool finishing = false;
        for (int i = 0; i < active; ++i) {
            finishing = finishing || streams[i].finishing;
        }
        return finishing;
    }

    // Counts the blocks the lanes have just hashed; a stream whose file is
    // all hashed but its tail goes on to finishing.
    void advance(korvane::md5mb::md5_lanes& lanes, stream* streams, int active,
                 const unsigned char* const* data, std::size_t blocks) {
        for (int i = 0; i < active; ++i) {
            stream& s = streams[i];
            if (s.finishing || data[s.lane] == nullptr) {
                continue;
            }
            s.used += static_cast<std::uint32_t>(blocks * 64);
            s.hashed += blocks * 64;
            set_progress(owner.slot(s.sequence), s.hashed, s.size);
            if (s.used == s.filled && s.read == s.size) {
                lanes.finish(s.lane, s.buffer + s.filled, s.tail);
                s.finishing = true;
            }
        }
    }

    // Hands out the digests of the lanes in `ready` and ends their streams.
    void hand_out(korvane::md5mb::md5_lanes& lanes, stream* streams, int& active,
                  std::uint32_t ready) {
        for (int i = 0; i < active;) {
            stream& s = streams[i];
            if (!s.finishing || (ready & (1u << s.lane)) == 0) {
                ++i;
                continue;
            }
            job& work = owner.slot(s.sequence);
            lanes.take(s.lane, work.digest);
            work.percent.store(100, std::memory_order_relaxed);
            end_stream(streams, active, i);
        }
    }

    // Reads the next piece of a stream. Of the large files on a disk that
    // seeks, only one at a time reads from the disk itself; the others go on
    // while their pieces are in memory already. Returns would_need_disk when
    // the stream has to wait for the disk.
    [[nodiscard]] int read_piece(stream& s, std::uint32_t length) {
        if (!s.on_seeking_disk || s.holds_disk) {
            return read_at(s.file, s.buffer, length, s.read);
        }
        int failed = platform::read_if_cached(s.file, s.buffer, length, s.read);
        if (failed != platform::would_need_disk) {
            return failed;
        }
        if (owner.large_read_busy.exchange(1) != 0) {
            return platform::would_need_disk;
        }
        s.holds_disk = true;
        platform::advise_sequential(s.file);
        return read_at(s.file, s.buffer, length, s.read);
    }

    // Reads `length` bytes at `offset`. While workers sleep, a read that
    // needs the disk steps aside first, so that slow storage still gets many
    // reads in flight; from memory it is read at once.
    [[nodiscard]] int read_at(platform::file_handle file, unsigned char* into, std::uint32_t length,
                              std::uint64_t offset) {
        if (!owner.may_step_aside()) {
            return platform::read_exact(file, into, length, offset);
        }
        const int failed = platform::read_if_cached(file, into, length, offset);
        if (failed != platform::would_need_disk) {
            return failed;
        }
        owner.step_aside();
        const int read = platform::read_exact(file, into, length, offset);
        owner.step_back();
        return read;
    }

    void release_disk(stream& s) {
        if (s.holds_disk) {
            s.holds_disk = false;
            owner.large_read_busy.store(0);
            platform::wake_word(owner.large_read_busy);
        }
    }

    void end_stream(stream* streams, int& active, int index) {
        const std::uint64_t sequence = streams[index].sequence;
        release_disk(streams[index]);
        close(streams[index].file);
        streams[index] = streams[--active];
        owner.finish(sequence);
    }

    hasher* choose_hasher(algorithm wanted) {
        switch (wanted) {
            case algorithm::md5:
                return &hashers.md5_hasher;
            case algorithm::sha1:
                return &hashers.sha1_hasher;
            case algorithm::sha256:
                return &hashers.sha256_hasher;
            case algorithm::sha512:
                return &hashers.sha512_hasher;
            case algorithm::crc32:
                break;
        }
        return &hashers.crc_hasher;
    }

    jobs_state& owner;
    struct {
        crc crc_hasher;
        md5hasher md5_hasher;
        sha1hasher sha1_hasher;
        sha256hasher sha256_hasher;
        sha512hasher sha512_hasher;
    } hashers;
    hasher* algorithm_in_use = nullptr;
    aligned_buffer buffer;
    std::unique_ptr<reader> file_reader;
    std::unique_ptr<half_hasher> other_half;
    void* handle = nullptr;
    // A file claimed for the lanes that waits for descriptors or memory.
    bool deferred = false;
    std::uint64_t deferred_sequence = 0;
};

bool jobs_state::claim(std::uint64_t& sequence) {
    for (;;) {
        if (stopping.load() != 0) {
            return false;
        }
        // With more workers on the CPU than it has cores (workers just
        // started, or back from the disk), this one sleeps although files
        // wait: the others take them.
        if (on_cpu.load() <= cpu_limit && try_claim(sequence)) {
            return true;
        }
        // Announce the sleep before the last look: publish() stores first and
        // looks for sleepers second, so one of the two sees the other. Of
        // workers that leave together, the one that would leave fewer than
        // cores on the CPU stays while files wait.
        const std::uint32_t generation = work_generation.load();
        sleeping_workers.fetch_add(1);
        const std::uint32_t left = on_cpu.fetch_sub(1) - 1;
        if ((claimed.load() >= published.load() || left >= cpu_limit) && stopping.load() == 0) {
            platform::wait_on_word(work_generation, generation);
        }
        on_cpu.fetch_add(1);
        woke();
        sleeping_workers.fetch_sub(1);
    }
}

bool jobs_state::try_claim(std::uint64_t& sequence) {
    std::uint64_t next = claimed.load();
    while (next < published.load() && stopping.load(std::memory_order_relaxed) == 0) {
        if (claimed.compare_exchange_weak(next, next + 1)) {
            sequence = next;
            return true;
        }
    }
    return false;
}

void jobs_state::wake_sleepers(std::uint32_t count) {
    const std::int64_t now = now_ns();
    if (now - last_wake_ns.exchange(now) >= wake_trust_ns) {
        waking.store(0);  // what was on the way has arrived or never will
    }
    waking.fetch_add(count);
    work_generation.fetch_add(1);
    platform::wake_word_some(work_generation, count);
}

void jobs_state::woke() {
    // Never below zero: a worker back without a wake-up of its own (the
    // generation moved on before it slept) takes one that is on the way, and
    // the worker that wake-up reaches finds none left.
    std::uint32_t now = waking.load();
    while (now != 0 && !waking.compare_exchange_weak(now, now - 1)) {
    }
}

void jobs_state::step_aside() {
    // Counted down first, the sleepers looked at second, as in claim().
    on_cpu.fetch_sub(1);
    if (const std::uint32_t sleepers = sleeping_workers.load();
        sleepers != 0 && !nothing_waiting()) {
        if (const std::uint32_t wake = wake_room(1, sleepers); wake != 0) {
            wake_sleepers(wake);
        }
    }
}

void jobs_state::released() {
    open_files.fetch_sub(1);
    if (release_waiters.load() != 0) {
        // One descriptor came free: one waiter may have it.
        release_generation.fetch_add(1);
        platform::wake_word_some(release_generation, 1);
    }
}

void jobs_state::lower_cap() {
    const std::uint32_t held = open_files.load();
    const std::uint32_t cap = held > owner_reserve ? held - owner_reserve : 1;
    std::uint32_t now = open_cap.load();
    while (cap < now && !open_cap.compare_exchange_weak(now, cap)) {
    }
}

bool jobs_state::wait_for_release() {
    // Announce the sleep before the last look: released() counts down first
    // and looks for waiters second, so one of the two sees the other.
    const std::uint32_t generation = release_generation.load();
    release_waiters.fetch_add(1);
    const bool others_open = open_files.load() != 0 && stopping.load() == 0;
    if (others_open) {
        platform::wait_on_word(release_generation, generation);
    }
    release_waiters.fetch_sub(1);
    return others_open && stopping.load() == 0;
}

void jobs_state::finish(std::uint64_t sequence) {
    slot(sequence).done.store(1);
    if (owner_sleeping.load() != 0 && owner_target.load() == sequence) {
        platform::event_signal(owner_event);
    }
}

}  // namespace korvane::detail

using korvane::detail::jobs_state;

file_jobs::file_jobs(int workers, algorithm kind) : self(nullptr), slot_count(0) {
    workers = std::clamp(workers, 1, max_jobs);
    slot_count = window_for(workers);
    try {
        auto made = std::make_unique<jobs_state>(slot_count, kind);
        made->jobs = std::make_unique<jobs_state::job[]>(slot_count);
        made->owner_event = platform::event_create();
        if (made->owner_event == nullptr) {
            return;  // nothing could wait for results: usable() stays false
        }
        made->workers.reserve(static_cast<std::size_t>(workers));
        for (int i = 0; i < workers; ++i) {
            made->workers.push_back(std::make_unique<jobs_state::worker>(*made));
            if (!made->workers.back()->start()) {
                made->workers.pop_back();
                break;
            }
            ++made->started_workers;
        }
        self = std::move(made);
    } catch (...) {
        // Out of memory: the workers already started were stopped as `made`
        // went; usable() stays false.
        self = nullptr;
    }
}

jobs_state::~jobs_state() {
    stopping.store(1);
    work_generation.fetch_add(1);
    platform::wake_word(work_generation);
    platform::wake_word(large_read_busy);
    release_generation.fetch_add(1);
    platform::wake_word(release_generation);
    for (auto& w : workers) {
        w->join();
    }
    workers.clear();
    platform::event_destroy(owner_event);
}

file_jobs::~file_jobs() = default;

bool file_jobs::usable() const {
    return self != nullptr && self->started_workers > 0;
}

void file_jobs::submit(const wchar_t* path) {
    if (self != nullptr) {
        jobs_state::job& work = self->slot(tail);
        work.path = path;
        work.status = korvane::status::ok;
        work.shortage = 0;
        work.percent.store(0, std::memory_order_relaxed);
        work.done.store(0, std::memory_order_relaxed);
    }
    ++tail;
}

void file_jobs::publish() {
    if (self == nullptr || self->published.load(std::memory_order_relaxed) == tail) {
        return;
    }
    const std::uint64_t added = tail - self->published.load(std::memory_order_relaxed);
    self->published.store(tail);
    if (const std::uint32_t sleepers = self->sleeping_workers.load(); sleepers != 0) {
        // As many workers as there are new files, and no more than leave one
        // worker on the CPU per core: a walk hands in one file at a time, and
        // waking a sleeper for each of them had dozens of threads fight over
        // one file on two cores. A worker that is awake takes files until
        // none is left, so nothing waits unseen; one that waits for the disk
        // wakes another.
        if (const std::uint32_t wake = self->wake_room(added, sleepers); wake != 0) {
            self->wake_sleepers(wake);
        }
    }
}

bool file_jobs::wait_oldest(int milliseconds) {
    if (!usable()) {
        return false;
    }
    jobs_state& s = *self;
    if (s.slot(head).done.load() != 0) {
        return true;
    }
    publish();
    using steady = std::chrono::steady_clock;
    const auto deadline = steady::now() + std::chrono::milliseconds(std::max(milliseconds, 0));
    for (;;) {
        // Sleep until a file some way along is done rather than the oldest
        // alone: one wake-up then serves several results.
        const std::uint64_t in_flight = tail - head;
        std::uint64_t target = head + std::max<std::uint64_t>(in_flight / 2, 1) - 1;
        if (s.slot(target).done.load() != 0) {
            target = head;
        }
        s.owner_target.store(target);
        s.owner_sleeping.store(1);
        if (s.slot(target).done.load() == 0) {
            std::uint32_t timeout = platform::wait_forever;
            if (milliseconds >= 0) {
                const auto left =
                    std::chrono::duration_cast<std::chrono::milliseconds>(deadline - steady::now())
                        .count();
                timeout = left > 0 ? static_cast<std::uint32_t>(left) : 0;
            }
            platform::event_wait(s.owner_event, timeout);
        }
        s.owner_sleeping.store(0);
        if (s.slot(head).done.load() != 0) {
            return true;
        }
        if (milliseconds >= 0 && steady::now() >= deadline) {
            return false;
        }
    }
}

bool file_jobs::oldest_done() const {
    return self != nullptr && tail != head && self->slot(head).done.load() != 0;
}

int file_jobs::oldest_percent() const {
    return self != nullptr ? self->slot(head).percent.load(std::memory_order_relaxed) : 0;
}

int file_jobs::oldest_status() const {
    return korvane::to_int(self != nullptr ? self->slot(head).status
                                           : korvane::status::unknown_error);
}

const unsigned char* file_jobs::oldest_digest() const {
    static const unsigned char none[digest_room] = {};
    return self != nullptr ? self->slot(head).digest : none;
}

std::uint64_t file_jobs::oldest_size() const {
    return self != nullptr ? self->slot(head).size : 0;
}

int file_jobs::oldest_shortage() const {
    return self != nullptr ? self->slot(head).shortage : 0;
}

std::uint64_t file_jobs::oldest_write_time() const {
    return self != nullptr ? self->slot(head).write_time : 0;
}

void file_jobs::pop() {
    ++head;
}

void file_jobs::stop() {
    self.reset();
}
