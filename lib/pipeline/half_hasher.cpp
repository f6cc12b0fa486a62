#include "pipeline/half_hasher.h"

#include <korvane/hasher.h>
#include <korvane/reader.h>

#include <algorithm>
#include <cstring>
#include <new>

#include "hash/blake3_paths.h"
#include "hash/crc32_paths.h"
#include "pipeline/worker.h"
#include "platform/threading.h"

namespace platform = korvane::platform;

namespace korvane::detail {

namespace {

// A CRC or BLAKE3 file at least this large, alone in flight while a core is
// free, is hashed as two halves on two threads; below it the hand-over would
// cost more than the second core gains.
constexpr std::uint64_t split_threshold = 8u << 20;

}  // namespace

half_hasher::~half_hasher() {
    if (handle != nullptr) {
        phase.store(quit);
        platform::wake_word(phase);
        platform::thread_join(handle);
    }
}

bool half_hasher::splits(file_jobs::algorithm kind) {
    return kind == file_jobs::algorithm::crc32 || kind == file_jobs::algorithm::blake3;
}

bool half_hasher::ready() {
    if (handle != nullptr) {
        return true;
    }
    if (!back) {
        back = kind == file_jobs::algorithm::blake3
                   ? owned_hasher(new (std::nothrow) blake3::range,
                                  [](hasher* made) { delete static_cast<blake3::range*>(made); })
                   : make_hasher(kind);
    }
    if (kind == file_jobs::algorithm::blake3 && !front_run) {
        front_run.reset(new (std::nothrow) blake3::range);
    }
    if (!back || (kind == file_jobs::algorithm::blake3 && !front_run)) {
        return false;
    }
    buffer = allocate_aligned(reader::chunk_size);
    if (!buffer) {
        return false;
    }
    handle = platform::thread_create(&entry, this);
    return handle != nullptr;
}

std::uint64_t half_hasher::middle_of(std::uint64_t size) {
    return (size / 2) & ~std::uint64_t{reader::chunk_size - 1};
}

hasher& half_hasher::front(hasher& own) {
    if (front_run) {
        return *front_run;
    }
    return own;
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

int half_hasher::finish(bool cancel) {
    if (cancel) {
        cancelled.store(1);
    }
    for (std::uint32_t now = phase.load(); now == working; now = phase.load()) {
        platform::wait_on_word(phase, now);
    }
    return error;
}

void half_hasher::join(hasher& front_half, std::uint64_t size, unsigned char* digest) {
    if (front_run) {
        front_run->join(*static_cast<blake3::range*>(back.get()));
        std::memcpy(digest, front_run->hash(), blake3::cv_bytes);
        return;
    }
    std::uint32_t first = 0;
    std::uint32_t second = 0;
    std::memcpy(&first, front_half.hash(), sizeof first);
    std::memcpy(&second, back->hash(), sizeof second);
    const std::uint32_t whole = korvane::crc32::combine(first, second, size - middle_of(size));
    std::memcpy(digest, &whole, sizeof whole);
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
    hasher& half = *back;
    if (front_run) {
        // The back half's chunks are numbered on from the front half's.
        static_cast<blake3::range&>(half).start(offset / blake3::chunk_bytes);
    } else {
        half.init();
    }
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
    return 0;
}

// --- The worker's side of the split ------------------------------------------

bool worker::worth_splitting(const job& work, bool needs_disk) {
    // Only the worker's own hasher: a caller's sees every byte in order.
    if (!half_hasher::splits(owner.kind) || work.with != nullptr || work.size < split_threshold ||
        owner.cpus < 2 || !owner.nothing_waiting()) {
        return false;
    }
    if (owner.busy_workers.load() > 1) {
        return false;  // another file keeps the other cores busy already
    }
    if (needs_disk) {
        return false;  // two places read at once would make the heads jump
    }
    if (!other_half) {
        other_half.reset(new (std::nothrow) half_hasher(owner.stopping, owner.kind));
    }
    return other_half && other_half->ready();
}

void worker::hash_split(job& work, platform::file_handle file) {
    const std::uint64_t size = work.size;
    const std::uint64_t middle = half_hasher::middle_of(size);
    other_half->start(file, middle, size - middle);
    hasher& front = other_half->front(*active);
    active = &front;
    front.init();
    const int failed = hash_range(work, file, middle, other_half.get());
    const int other_failed = other_half->finish(failed != 0);
    close(file);
    if (failed != 0 || other_failed != 0) {
        work.status = korvane::from_errno(failed != 0 ? failed : other_failed);
        return;
    }
    front.finalize();
    other_half->join(front, size, work.digest);
    work.percent.store(100, std::memory_order_relaxed);
}

}  // namespace korvane::detail
