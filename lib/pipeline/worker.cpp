#include "pipeline/worker.h"

#include <korvane/hasher.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <thread>

#include "pipeline/half_hasher.h"
#include "pipeline/lane_feed.h"
#include "platform/cpu.h"
#include "platform/threading.h"

namespace platform = korvane::platform;

namespace korvane::detail {

namespace {

// A file short of descriptors or memory while no other file is open is tried
// this often, after pauses of 1, 2, 4... ms (the owner may hold a descriptor
// for a moment), before the shortage ends the run.
constexpr int attempts_alone = 6;

// What hash_whole() gives for a file it hashed as two halves: the split has
// reported the outcome and closed the file itself.
constexpr int hashed_in_halves = -1;

}  // namespace

worker::worker(jobs_state& jobs, bool own_hasher)
    : owner(jobs),
      wants_hasher(own_hasher),
      own(own_hasher ? make_hasher(jobs.kind) : owned_hasher(nullptr, nullptr)) {}

worker::~worker() {
    join();
}

bool worker::start() {
    handle = platform::thread_create(&entry, this);
    return handle != nullptr;
}

void worker::join() {
    if (handle != nullptr) {
        platform::thread_join(handle);
        handle = nullptr;
    }
}

void worker::run() {
    owner.on_cpu.fetch_add(1);
    auto multi = wants_hasher ? lane_feed::lanes_for(owner.kind) : nullptr;
    if (multi) {
        lane_feed feed(*this, std::move(multi));
        if (!feed.run()) {
            hash_each_alone();  // no room for the pieces: one file at a time still works
        }
    } else {
        hash_each_alone();
    }
    if (file_reader) {
        file_reader->shutdown();
        file_reader->join();
    }
    owner.on_cpu.fetch_sub(1);
}

void worker::hash_each_alone() {
    std::uint64_t sequence = 0;
    while (owner.claim(sequence)) {
        owner.busy_workers.fetch_add(1);
        hash_one(owner.slot(sequence));
        owner.busy_workers.fetch_sub(1);
        owner.finish(sequence);
    }
}

void worker::hash_one(job& work) {
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

int worker::open(job& work, platform::file_handle& file, bool holding) {
    work.percent.store(0, std::memory_order_relaxed);
    work.status = korvane::status::ok;
    if (!holding) {
        owner.reserve();
    } else if (!owner.try_reserve()) {
        return EMFILE;
    }
    std::uint64_t size = 0;
    platform::hashing_checks checks = owner.excluded;
    checks.owner_read = work.unexamined;
    const bool checked = checks.owner_read || checks.exclude;
    if (int failed = platform::open_for_hashing(work.path, file, size, &work.write_time,
                                                checked ? &checks : nullptr);
        failed != 0) {
        owner.released();
        if (is_shortage(failed)) {
            owner.lower_cap();
            return failed;
        }
        leave_out(work, failed);
        return 0;
    }
    work.size = size;
    return 0;
}

void worker::leave_out(job& work, int failed) {
    using reason = file_jobs::left_out;
    if (failed == platform::refused_excluded) {
        work.left_out = reason::excluded;
        failed = EACCES;
    } else if (failed == platform::refused_unreadable) {
        work.left_out = reason::unreadable;
        failed = EACCES;
    } else if (failed == ENOENT && work.unexamined) {
        work.left_out = reason::vanished;  // as if the walk had not found it
    }
    work.status = korvane::from_errno(failed);
}

void worker::close(platform::file_handle file) {
    platform::close_file(file);
    owner.released();
}

bool worker::ride_out(job& work, int shortage, int& alone) {
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

int worker::hash_alone(job& work, platform::file_handle file) {
    if (!buffer) {
        buffer = allocate_aligned(reader::chunk_size);
        if (!buffer) {
            close(file);
            owner.lower_cap();
            return ENOMEM;
        }
    }
    active = work.with != nullptr ? work.with : own.get();
    const int failed = hash_whole(work, file);
    if (failed == hashed_in_halves) {
        return 0;
    }
    active->finalize();
    close(file);
    if (failed != 0) {
        work.status = korvane::from_errno(failed);
        return 0;
    }
    const auto digest_size = static_cast<std::size_t>(active->hash_size());
    std::memcpy(work.digest, active->hash(),
                std::min<std::size_t>(digest_size, jobs_state::digest_room));
    return 0;
}

int worker::hash_whole(job& work, platform::file_handle file) {
    const std::uint64_t size = work.size;
    // Asked once per large file, where the answer matters: the split and the
    // reader obey it, and a file read from the disk leaves its core to a
    // sleeping worker.
    const bool large = size > reader::chunk_size;
    const large_read plan =
        large ? plan_large_read(file, size, owner.may_step_aside()) : large_read{};
    if (large && worth_splitting(work, plan.needs_turn())) {
        hash_split(work, file);
        return hashed_in_halves;
    }
    active->init();
    if (size == 0) {
        work.percent.store(100, std::memory_order_relaxed);
        return 0;
    }
    if (!large || !reader_ready()) {
        return hash_range(work, file, size, nullptr);
    }
    if (plan.from_disk) {
        owner.step_aside();  // the file mostly waits for its reader
    }
    int failed = hash_large(work, file, size, plan.needs_turn());
    if (plan.from_disk) {
        owner.step_back();
    }
    if (failed == reader::out_of_memory) {
        // No room for the reader's ring: the worker's own buffer does.
        active->init();
        failed = hash_range(work, file, size, nullptr);
    }
    return failed;
}

int worker::hash_range(job& work, platform::file_handle file, byte_range range,
                       const half_hasher* back_half) {
    std::uint64_t offset = range.begin;
    while (offset < range.end) {
        auto length = static_cast<std::uint32_t>(
            std::min<std::uint64_t>(range.end - offset, reader::chunk_size));
        if (read_at(file, buffer.get(), length, offset) != 0) {
            // Shrunk, vanished or unreadable: the caller sees a read error.
            return reader::io_error;
        }
        active->update(buffer.get(), length);
        offset += length;
        const std::uint64_t other = back_half != nullptr ? back_half->bytes_hashed() : 0;
        set_progress(work, range.before + offset - range.begin + other, work.size);
        if (owner.stopped()) {
            return reader::io_error;  // nobody will look at this result
        }
    }
    return 0;
}

int worker::read_at(platform::file_handle file, unsigned char* into, std::uint32_t length,
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

bool worker::reader_ready() {
    if (!file_reader) {
        file_reader.reset(new (std::nothrow) reader());
        if (!file_reader) {
            return false;
        }
        file_reader->start();
    }
    return file_reader->state() != thread::finished;
}

int worker::hash_large(job& work, platform::file_handle file, std::uint64_t size, bool exclusive) {
    if (exclusive && !owner.disk.take(owner.stopping)) {
        return reader::io_error;
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
        active->update(chunk, length);
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
        owner.disk.give_back();
    }
    if (abandoned) {
        return reader::io_error;
    }
    return file_reader->error();
}

}  // namespace korvane::detail
