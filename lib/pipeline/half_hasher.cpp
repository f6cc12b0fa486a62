#include "pipeline/half_hasher.h"

#include <korvane/hasher.h>
#include <korvane/reader.h>

#include <algorithm>
#include <cstring>
#include <new>

#include "hash/crc32_paths.h"
#include "pipeline/worker.h"
#include "platform/threading.h"

namespace platform = korvane::platform;

namespace korvane::detail {

namespace {

// A CRC file at least this large, alone in flight while a core is free, is
// hashed as two halves on two threads; below it the hand-over would cost more
// than the second core gains.
constexpr std::uint64_t split_threshold = 8u << 20;

}  // namespace

half_hasher::~half_hasher() {
    if (handle != nullptr) {
        phase.store(quit);
        platform::wake_word(phase);
        platform::thread_join(handle);
    }
}

bool half_hasher::ready() {
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

void half_hasher::start(platform::file_handle file_, std::uint64_t offset_, std::uint64_t length_) {
    file = file_;
    offset = offset_;
    length = length_;
    error = 0;
    cancelled.store(0, std::memory_order_relaxed);
    hashed.store(0, std::memory_order_relaxed);
    phase.store(working);
    platform::wake_word(phase);
}

int half_hasher::finish(bool cancel, std::uint32_t& value) {
    if (cancel) {
        cancelled.store(1);
    }
    for (std::uint32_t now = phase.load(); now == working; now = phase.load()) {
        platform::wait_on_word(phase, now);
    }
    value = result;
    return error;
}

void half_hasher::run() {
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

int half_hasher::hash_half() {
    crc half;
    half.init();
    for (std::uint64_t done_bytes = 0; done_bytes < length;) {
        if (cancelled.load(std::memory_order_relaxed) != 0 ||
            owner_stopping.load(std::memory_order_relaxed) != 0) {
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

// --- The worker's side of the split ------------------------------------------

bool worker::worth_splitting(const job& work, bool needs_disk) {
    // Only the worker's own CRC hasher: the halves are CRC values, and a
    // caller's hasher sees every byte in order.
    if (owner.kind != jobs_state::algorithm::crc32 || work.with != nullptr ||
        work.size < split_threshold || owner.cpus < 2 || !owner.nothing_waiting()) {
        return false;
    }
    if (owner.busy_workers.load() > 1) {
        return false;  // another file keeps the other cores busy already
    }
    if (needs_disk) {
        return false;  // two places read at once would make the heads jump
    }
    if (!other_half) {
        other_half.reset(new (std::nothrow) half_hasher(owner.stopping));
    }
    return other_half && other_half->ready();
}

void worker::hash_split(job& work, platform::file_handle file) {
    const std::uint64_t size = work.size;
    // Halves on chunk boundaries keep every read aligned.
    const std::uint64_t middle = (size / 2) & ~std::uint64_t{reader::chunk_size - 1};
    other_half->start(file, middle, size - middle);
    active->init();
    const int failed = hash_range(work, file, middle, other_half.get());
    std::uint32_t back = 0;
    const int other_failed = other_half->finish(failed != 0, back);
    close(file);
    if (failed != 0 || other_failed != 0) {
        work.status = korvane::from_errno(failed != 0 ? failed : other_failed);
        return;
    }
    active->finalize();
    std::uint32_t front = 0;
    std::memcpy(&front, active->hash(), sizeof front);
    const std::uint32_t whole = korvane::crc32::combine(front, back, size - middle);
    std::memcpy(work.digest, &whole, sizeof whole);
    work.percent.store(100, std::memory_order_relaxed);
}

}  // namespace korvane::detail
