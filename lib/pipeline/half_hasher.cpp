#include "pipeline/half_hasher.h"

#include <korvane/blake3.h>
#include <korvane/hasher.h>
#include <korvane/reader.h>

#include <algorithm>
#include <cstring>
#include <new>

#include "hash/blake3_paths.h"
#include "hash/blake3_tree.h"
#include "hash/crc32_paths.h"
#include "pipeline/worker.h"
#include "platform/threading.h"

namespace platform = korvane::platform;

namespace korvane::detail {

namespace {

// A CRC or BLAKE3 file at least this large, alone in flight while a core is free, is
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

void half_hasher::start(platform::file_handle file_, std::uint64_t offset_, std::uint64_t length_,
                        bool tree_) {
    file = file_;
    tree = tree_;
    offset = offset_;
    length = length_;
    error = 0;
    cancelled.store(0, std::memory_order_relaxed);
    hashed.store(0, std::memory_order_relaxed);
    phase.store(working);
    platform::wake_word(phase);
}

int half_hasher::finish(bool cancel, unsigned char* cv) {
    if (cancel) {
        cancelled.store(1);
    }
    for (std::uint32_t now = phase.load(); now == working; now = phase.load()) {
        platform::wait_on_word(phase, now);
    }
    std::memcpy(cv, result, sizeof result);
    return error;
}

int half_hasher::finish(bool cancel, std::uint32_t& value) {
    unsigned char bytes[sizeof result];
    const int failed = finish(cancel, bytes);
    std::memcpy(&value, bytes, sizeof value);
    return failed;
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
    if (tree) {
        blake3hasher half;
        korvane::blake3::tree_access::start_at(half, offset / korvane::blake3::chunk_bytes);
        const int failed = read_into(half);
        if (failed == 0) {
            korvane::blake3::tree_access::finish_subtree(half, result);
        }
        return failed;
    }
    crc half;
    half.init();
    const int failed = read_into(half);
    if (failed == 0) {
        half.finalize();
        std::memcpy(result, half.hash(), 4);
    }
    return failed;
}

int half_hasher::read_into(hasher& half) {
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
    return 0;
}

// --- The worker's side of the split ------------------------------------------

bool worker::worth_splitting(const job& work, bool needs_disk) {
    // Only the worker's own CRC or BLAKE3 hasher: the halves are CRC values
    // or subtrees, and a caller's hasher sees every byte in order.
    const bool splits =
        owner.kind == jobs_state::algorithm::crc32 || owner.kind == jobs_state::algorithm::blake3;
    if (!splits || work.with != nullptr || work.size < split_threshold || owner.cpus < 2 ||
        !owner.nothing_waiting()) {
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
    if (owner.kind == jobs_state::algorithm::blake3) {
        hash_split_tree(work, file);
        return;
    }
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

int worker::hash_subtree(job& work, platform::file_handle file, byte_range range, blake3hasher& h,
                         unsigned char* cv) {
    korvane::blake3::tree_access::start_at(h, range.begin / korvane::blake3::chunk_bytes);
    active = &h;
    const int failed = hash_range(work, file, range, other_half.get());
    active = own.get();
    if (failed == 0) {
        korvane::blake3::tree_access::finish_subtree(h, cv);
    }
    return failed;
}

void worker::hash_split_tree(job& work, platform::file_handle file) {
    namespace b3 = korvane::blake3;
    const std::uint64_t size = work.size;
    const b3::split_plan plan = b3::plan_split(size);
    other_half->start(file, plan.middle, plan.back_end - plan.middle, true);
    unsigned char front[b3::cv_bytes], back[b3::cv_bytes], tail[b3::cv_bytes];
    blake3hasher h;
    int failed = hash_subtree(work, file, {0, plan.middle, 0}, h, front);
    const bool has_tail = plan.back_end < size;
    if (failed == 0 && has_tail) {
        failed = hash_subtree(work, file, {plan.back_end, size, plan.middle}, h, tail);
    }
    const int other_failed = other_half->finish(failed != 0, back);
    close(file);
    if (failed != 0 || other_failed != 0) {
        work.status = korvane::from_errno(failed != 0 ? failed : other_failed);
        return;
    }
    b3::join_split(front, back, has_tail ? tail : nullptr, work.digest);
    work.percent.store(100, std::memory_order_relaxed);
}

}  // namespace korvane::detail
